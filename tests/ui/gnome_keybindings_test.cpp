// SPDX-License-Identifier: GPL-3.0-or-later
// GNOME's custom shortcuts in GIO's key-file store with the real schemas: the user's own
// entries, any name, path and key text, the table's changes, and the refusals.
#include "desktop/gnome_keybindings.h"
#include "tests/support/test_support.h"

#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <QFile>

#include <gtest/gtest.h>

namespace {

const std::string kSchemas = "/usr/share/glib-2.0/schemas";
const std::string kGroup = "org/gnome/settings-daemon/plugins/media-keys";
const std::string kFolder = "/" + kGroup + "/custom-keybindings/";

// A value of the entry at `path` (empty: the list) as GNOME reads it from the key file; a
// list's items are joined by spaces, a command's words by newlines.
std::string Stored(const std::string& file, const std::string& path, const char* key) {
    g_autoptr(GKeyFile) keys = g_key_file_new();
    const std::string group = path.empty() ? kGroup : path.substr(1, path.size() - 2);
    g_autofree gchar* text = g_key_file_load_from_file(keys, file.c_str(), G_KEY_FILE_NONE, nullptr)
                                 ? g_key_file_get_value(keys, group.c_str(), key, nullptr)
                                 : nullptr;
    g_autoptr(GVariant) value =
        text ? g_variant_parse(nullptr, text, nullptr, nullptr, nullptr) : nullptr;
    g_auto(GStrv) words = nullptr;
    if (value && std::string_view(key) == "command")
        g_shell_parse_argv(g_variant_get_string(value, nullptr), nullptr, &words, nullptr);
    else if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        return g_variant_get_string(value, nullptr);
    else if (value)
        words = g_variant_dup_strv(value, nullptr);
    g_autofree gchar* joined = words ? g_strjoinv(path.empty() ? " " : "\n", words) : nullptr;
    return joined ? joined : "";
}

TEST(GnomeKeybindings, OursFollowTheTableAndTheUsersStayInOrder) {
    TempDir dir;
    const std::string file = dir.Path() + "keyfile";
    const std::string mine = kFolder + "custom0/", theirs = kFolder + "custom1/";
    const std::string o0 = kFolder + "otomaru-0/", o1 = kFolder + "otomaru-1/";
    // A user's entry before and after one left from a crash; the first has Ctrl+Shift+F2.
    WriteText(file, "[" + kGroup + "]\ncustom-keybindings=['" + mine + "', '" + kFolder +
                        "otomaru-5/', '" + theirs + "']\n[" + mine.substr(1, mine.size() - 2) +
                        "]\nname='mine'\nbinding='<Shift><Primary>f2'\n");
    const std::string exe = "/tmp/a b/it's $HOME;\"音\"\\/otomaru";
    std::string question;
    std::vector<GlobalHotkey> taken;
    {
        CGnomeKeybindings way(
            exe, [] { return UsKeyLayout(); },
            [&](const std::string& q) {
                question = q;
                return true;
            },
            nullptr, {kSchemas, file});
        QObject::connect(&way, &CHotkeyWay::Taken, [&](const auto& keys) { taken = keys; });
        bool available = false;
        way.Probe([&](bool ok) { available = ok; });
        ASSERT_TRUE(available);
        EXPECT_NE(question.find("Otomaru: "), std::string::npos);
        const WayHotkey f1{{0x70, MOD_CODE_CTRL}, "Ctrl + F1", "it's \"$HOME\" 音 ;"};
        const WayHotkey a{{'A', MOD_CODE_ALT | MOD_CODE_SHIFT}, "Alt + Shift + A", "b"};
        const WayHotkey f2{{0x71, MOD_CODE_CTRL | MOD_CODE_SHIFT}, "Ctrl + Shift + F2", "c"};
        const WayHotkey none{{0xFF, 0}, "?", "d"};
        way.SetHotkeys({f1, a, f2, none});
        EXPECT_EQ(taken, (std::vector<GlobalHotkey>{f2.key, none.key}));
        EXPECT_EQ(Stored(file, {}, "custom-keybindings"),
                  mine + " " + theirs + " " + o0 + " " + o1);
        EXPECT_EQ(Stored(file, o0, "name"), "Otomaru: " + f1.strName);
        EXPECT_EQ(Stored(file, o0, "binding"), "<Control>F1");
        EXPECT_EQ(Stored(file, o0, "command"), exe + "\n--play-key\n" + f1.strText);
        EXPECT_EQ(Stored(file, o1, "binding"), "<Alt><Shift>a");
        EXPECT_EQ(Stored(file, kFolder + "otomaru-5/", "name"), "");

        way.SetHotkeys({a});
        EXPECT_EQ(Stored(file, {}, "custom-keybindings"), mine + " " + theirs + " " + o0);
        EXPECT_EQ(Stored(file, o0, "binding"), "<Alt><Shift>a");
        EXPECT_EQ(Stored(file, o1, "name"), "");
    }
    // Switched off: only the user's remain, untouched.
    EXPECT_EQ(Stored(file, {}, "custom-keybindings"), mine + " " + theirs);
    EXPECT_EQ(Stored(file, o0, "name"), "");
    EXPECT_EQ(Stored(file, mine, "name"), "mine");
}

TEST(GnomeKeybindings, NothingWrittenWithoutTheSchemaOrTheUsersYes) {
    TempDir dir;
    const std::string file = dir.Path() + "keyfile";
    for (const bool schema : {false, true}) {
        CGnomeKeybindings way("/x", nullptr, [](const std::string&) { return false; }, nullptr,
                              {schema ? kSchemas : dir.Path(), file});
        bool available = true;
        way.Probe([&](bool ok) { available = ok; });
        EXPECT_FALSE(available) << schema;
        // Only the user's No spares them the box that explains a missing way.
        EXPECT_EQ(way.Declined(), schema);
        way.SetHotkeys({{{0x70, 0}, "F1", "a"}});
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
}

} // namespace
