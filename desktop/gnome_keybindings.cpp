// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/gnome_keybindings.h"

#include "desktop/play_key_command.h"
#include "desktop/texts.h"

// GIO names a struct member `signals`, which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#pragma pop_macro("signals")

#include <algorithm>
#include <cstring>
#include <set>

namespace {

constexpr const char* kSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kEntrySchema =
    "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr const char* kList = "custom-keybindings";
constexpr std::string_view kFolder =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
constexpr std::string_view kOurs = "otomaru-";
constexpr const char* kKeys[] = {"name", "binding", "command"};

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
    void operator()(GSettingsSchemaSource* source) const { g_settings_schema_source_unref(source); }
    void operator()(gchar** strv) const { g_strfreev(strv); }
};
template <class T> using GPtr = std::unique_ptr<T, Unref>;

// A binding as GNOME understands it: modifiers in any order and spelling, the key in any case.
std::string Normalized(std::string_view binding) {
    std::set<std::string> modifiers;
    while (binding.starts_with('<') && binding.find('>') != std::string_view::npos) {
        std::string name(binding.substr(1, binding.find('>') - 1));
        std::transform(name.begin(), name.end(), name.begin(), g_ascii_tolower);
        if (name == "primary" || name == "ctrl" || name == "control")
            name = "control";
        else if (name == "mod1")
            name = "alt";
        modifiers.insert(name);
        binding.remove_prefix(binding.find('>') + 1);
    }
    std::string normal;
    for (const std::string& m : modifiers)
        normal += "<" + m + ">";
    for (char c : binding)
        normal += g_ascii_tolower(c);
    return normal;
}

std::string PathOf(std::size_t i) {
    return std::string(kFolder) + std::string(kOurs) + std::to_string(i) + "/";
}

} // namespace

struct GnomeSettings {
    GPtr<GSettingsBackend> backend;
    GPtr<GSettingsSchema> entrySchema;
    GPtr<GSettings> list;
    bool bDesktops = false; // the desktop's own store, not a test's file

    // Null when the schema is not installed (reading it would abort the process) or when
    // the store is GIO's memory: writes there reach no desktop and would look like success.
    static std::unique_ptr<GnomeSettings> Open(const CGnomeKeybindings::Store& store) {
        auto settings = std::make_unique<GnomeSettings>();
        GPtr<GSettingsSchemaSource> source;
        if (store.schemaDir.empty()) {
            if (GSettingsSchemaSource* installed = g_settings_schema_source_get_default())
                source.reset(g_settings_schema_source_ref(installed));
            settings->backend.reset(g_settings_backend_get_default());
            settings->bDesktops = true;
        } else {
            source.reset(g_settings_schema_source_new_from_directory(store.schemaDir.c_str(),
                                                                     nullptr, TRUE, nullptr));
            settings->backend.reset(
                g_keyfile_settings_backend_new(store.keyFile.c_str(), "/", nullptr));
        }
        if (!source || !settings->backend ||
            std::strcmp(G_OBJECT_TYPE_NAME(settings->backend.get()), "GMemorySettingsBackend") == 0)
            return nullptr;
        const GPtr<GSettingsSchema> schema(
            g_settings_schema_source_lookup(source.get(), kSchema, TRUE));
        settings->entrySchema.reset(
            g_settings_schema_source_lookup(source.get(), kEntrySchema, TRUE));
        if (!schema || !settings->entrySchema || !g_settings_schema_has_key(schema.get(), kList))
            return nullptr;
        settings->list.reset(g_settings_new_full(schema.get(), settings->backend.get(), nullptr));
        return settings;
    }

    GPtr<GSettings> Entry(const std::string& path) const {
        return GPtr<GSettings>(g_settings_new_full(entrySchema.get(), backend.get(), path.c_str()));
    }

    std::string Read(const std::string& path, const char* key) const {
        const GPtr<GSettings> entry = Entry(path);
        gchar* value = g_settings_get_string(entry.get(), key);
        std::string text = value;
        g_free(value);
        return text;
    }

    std::vector<std::string> Paths() const {
        const GPtr<gchar*> paths(g_settings_get_strv(list.get(), kList));
        std::vector<std::string> out;
        for (gchar** p = paths.get(); *p; ++p)
            out.emplace_back(*p);
        return out;
    }
};

CGnomeKeybindings::CGnomeKeybindings(std::string executable, std::function<HKL()> layout, AskFn ask,
                                     QObject* parent, const Store& store)
    : CHotkeyWay(parent), m_strExecutable(std::move(executable)), m_layout(std::move(layout)),
      m_ask(std::move(ask)), m_pSettings(GnomeSettings::Open(store)) {}

CGnomeKeybindings::~CGnomeKeybindings() {
    if (!m_pSettings || !m_bWritten)
        return;
    Write({});
    // dconf sends writes from a thread of its own: at program end they must be out first.
    if (m_pSettings->bDesktops)
        g_settings_sync();
}

bool CGnomeKeybindings::IsOurPath(const std::string& path) {
    return path.size() > kFolder.size() + kOurs.size() && path.starts_with(kFolder) &&
           std::string_view(path).substr(kFolder.size()).starts_with(kOurs);
}

std::string CGnomeKeybindings::Accelerator(const GlobalHotkey& hotkey, HKL layout) {
    const std::string name = KeysymName(hotkey, layout);
    if (name.empty())
        return {};
    std::string accelerator;
    if (hotkey.nModifiers & MOD_CODE_CTRL)
        accelerator += "<Control>";
    if (hotkey.nModifiers & MOD_CODE_ALT)
        accelerator += "<Alt>";
    if (hotkey.nModifiers & MOD_CODE_SHIFT)
        accelerator += "<Shift>";
    return accelerator + name;
}

void CGnomeKeybindings::Probe(std::function<void(bool)> done) {
    if (!m_pSettings) {
        done(false);
        return;
    }
    m_bAgreed = !m_ask || m_ask(std::string(texts::kGnomeAsk));
    done(m_bAgreed);
}

std::string CGnomeKeybindings::Description() const {
    return std::string(texts::kGnomeWay);
}

void CGnomeKeybindings::SetHotkeys(const std::vector<WayHotkey>& hotkeys) {
    if (!m_pSettings || !m_bAgreed || (m_bWritten && hotkeys == m_hotkeys))
        return;
    m_hotkeys = hotkeys;
    const HKL layout = m_layout ? m_layout() : nullptr;
    // A key the user's own shortcuts already have stays theirs.
    std::set<std::string> used;
    for (const std::string& path : m_pSettings->Paths())
        if (!IsOurPath(path))
            used.insert(Normalized(m_pSettings->Read(path, "binding")));
    std::vector<std::string> ours;
    std::vector<GlobalHotkey> taken;
    for (const WayHotkey& hotkey : hotkeys) {
        const std::string binding = Accelerator(hotkey.key, layout);
        if (binding.empty() || used.contains(Normalized(binding))) {
            taken.push_back(hotkey.key);
            continue;
        }
        ours.push_back(PathOf(ours.size()));
        const GPtr<GSettings> entry = m_pSettings->Entry(ours.back());
        // One change for GNOME to pick up, not three.
        g_settings_delay(entry.get());
        g_settings_set_string(entry.get(), "name", ("Otomaru: " + hotkey.strName).c_str());
        g_settings_set_string(entry.get(), "binding", binding.c_str());
        g_settings_set_string(entry.get(), "command",
                              PlayKeyCommand(m_strExecutable, hotkey.strText).c_str());
        g_settings_apply(entry.get());
    }
    Write(ours);
    m_bWritten = true;
    if (!taken.empty())
        emit Taken(taken);
}

// The list keeps everyone else's entries in their order, ours after them; ours no longer
// listed are cleared.
void CGnomeKeybindings::Write(const std::vector<std::string>& ours) {
    std::vector<std::string> paths = m_pSettings->Paths();
    std::vector<std::string> gone;
    std::erase_if(paths, [&](const std::string& path) {
        if (!IsOurPath(path))
            return false;
        if (std::find(ours.begin(), ours.end(), path) == ours.end())
            gone.push_back(path);
        return true;
    });
    paths.insert(paths.end(), ours.begin(), ours.end());
    std::vector<const char*> list;
    for (const std::string& path : paths)
        list.push_back(path.c_str());
    list.push_back(nullptr);
    g_settings_set_strv(m_pSettings->list.get(), kList, list.data());
    for (const std::string& path : gone) {
        const GPtr<GSettings> entry = m_pSettings->Entry(path);
        for (const char* key : kKeys)
            g_settings_reset(entry.get(), key);
    }
}
