// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/remote_command.h"

#include "base/text.h"
#include "core/row_text.h"
#include "core/set_controller.h"
#include "core/texts.h"
#include "core/web_request.h"

#include <charconv>
#include <vector>

namespace {

std::string HotkeyKey(std::string_view text) {
    std::string key;
    for (char c : text) {
        if (c == ' ' || c == '\t')
            continue;
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    return key;
}

RemoteReply Failed(std::string text) {
    return {1, std::move(text)};
}

// Starts every listed effect; fails when none of them can sound.
RemoteReply PlayAll(const std::vector<EffectEntryPtr>& entries, CSetController& controller,
                    const std::string& what) {
    bool any = false;
    for (const EffectEntryPtr& entry : entries) {
        if (!entry->IsAvailable())
            continue;
        controller.StartPlayback(entry);
        any = true;
    }
    if (!any)
        return Failed(what + std::string(texts::kNotLoaded));
    return {};
}

// A decimal number, nothing around it.
template <typename Number> bool ParseWhole(const std::string& text, Number& value) {
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && p == text.data() + text.size();
}

// What the web remote's page shows: the open set, the sets it may switch to, every effect and
// the running playbacks.
std::string EffectsJson(const CSetController& controller) {
    const EffectTable& table = controller.Effects();
    std::string json =
        "{\"set\":" + JsonQuote(Utf8FromCp932(controller.Settings().m_strSoundsFile)) +
        ",\"sets\":[";
    const std::vector<std::string>& sets = controller.SetNames();
    for (std::size_t i = 0; i < sets.size(); ++i)
        json += (i ? "," : "") + JsonQuote(Utf8FromCp932(sets[i]));
    json += "],\"effects\":[";
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntry& entry = table.GetAt(i);
        const RowTexts row = EffectRowTexts(entry, controller.KeyLayout());
        json += (i ? ",{\"index\":" : "{\"index\":") + std::to_string(i) +
                ",\"name\":" + JsonQuote(Utf8FromCp932(row[0])) +
                ",\"key\":" + JsonQuote(entry.nKey != 0 ? Utf8FromCp932(row[1]) : "") +
                ",\"ready\":" + (entry.IsAvailable() ? "true}" : "false}");
    }
    json += "],\"playing\":[";
    const ActivePlayList& playing = controller.Playbacks();
    for (int i = 0; i < playing.GetSize(); ++i) {
        const PlayJob& job = *playing.GetAt(i);
        json += (i ? ",{\"id\":" : "{\"id\":") + std::to_string(job.nId) +
                ",\"name\":" + JsonQuote(Utf8FromCp932(job.pEntry->strName)) + "}";
    }
    json += "]}";
    return json;
}

} // namespace

RemoteReply RunRemoteRequest(const RemoteRequest& request, CSetController& controller) {
    // While a set is being read the table is empty: "no such effect" or an empty list would be
    // wrong answers.
    if (!controller.IsSetOpen() && request.verb != RemoteVerb::StopAll)
        return Failed(std::string(texts::kSetLoading));
    const EffectTable& table = controller.Effects();
    switch (request.verb) {
    case RemoteVerb::Play: {
        // The first effect of that name, as a double-click on its row would play it.
        for (int i = 0; i < table.GetSize(); ++i) {
            const EffectEntryPtr& entry = table.GetPtrAt(i);
            if (Utf8FromCp932(entry->strName) == request.strArgument)
                return PlayAll({entry}, controller, "「" + request.strArgument + "」");
        }
        return Failed("「" + request.strArgument + "」" + std::string(texts::kNoSuchName));
    }
    case RemoteVerb::PlayKey: {
        // Every effect on that hotkey, as a press of it would play them.
        std::vector<EffectEntryPtr> matches;
        const std::string wanted = HotkeyKey(request.strArgument);
        for (int i = 0; i < table.GetSize() && !wanted.empty(); ++i) {
            const EffectEntryPtr& entry = table.GetPtrAt(i);
            if (entry->nKey != 0 &&
                HotkeyKey(Utf8FromCp932(EffectRowTexts(*entry, controller.KeyLayout())[1])) ==
                    wanted)
                matches.push_back(entry);
        }
        if (matches.empty())
            return Failed(std::string(texts::kHotkeyPrefix) + "「" + request.strArgument + "」" +
                          std::string(texts::kNoSuchHotkey));
        return PlayAll(matches, controller,
                       std::string(texts::kHotkeyPrefix) + "「" + request.strArgument + "」");
    }
    case RemoteVerb::Stop: {
        // Every effect of that name: news of the play list names playbacks only by it.
        bool found = false;
        for (int i = 0; i < table.GetSize(); ++i) {
            const EffectEntryPtr& entry = table.GetPtrAt(i);
            if (Utf8FromCp932(entry->strName) == request.strArgument) {
                controller.StopEffect(*entry);
                found = true;
            }
        }
        if (!found)
            return Failed("「" + request.strArgument + "」" + std::string(texts::kNoSuchName));
        return {};
    }
    case RemoteVerb::StopAll:
        controller.StopAll();
        return {};
    case RemoteVerb::List: {
        RemoteReply reply;
        for (int i = 0; i < table.GetSize(); ++i) {
            const RowTexts row = EffectRowTexts(table.GetAt(i), controller.KeyLayout());
            reply.strText += Utf8FromCp932(row[0]) + "\t" +
                             (table.GetAt(i).nKey != 0 ? Utf8FromCp932(row[1]) : "") + "\n";
        }
        return reply;
    }
    case RemoteVerb::PlayIndex: {
        int index = -1;
        if (!ParseWhole(request.strArgument, index) || index < 0 || index >= table.GetSize())
            return Failed(request.strArgument + std::string(texts::kNoSuchRow));
        const EffectEntryPtr& entry = table.GetPtrAt(index);
        return PlayAll({entry}, controller, "「" + Utf8FromCp932(entry->strName) + "」");
    }
    case RemoteVerb::ChooseSet: {
        std::string name;
        if (!TryCp932FromUtf8(request.strArgument, name) || !controller.SwitchSetTo(name))
            return Failed("「" + request.strArgument + "」" + std::string(texts::kNoSuchSet));
        return {};
    }
    case RemoteVerb::Effects:
        return {0, EffectsJson(controller)};
    case RemoteVerb::StopPlayback: {
        std::uint64_t id = 0;
        if (!ParseWhole(request.strArgument, id) || !controller.StopPlayback(id))
            return Failed(std::string(texts::kNoSuchPlayback));
        return {};
    }
    case RemoteVerb::Activate:
    case RemoteVerb::WebUrl:
        break;
    }
    return Failed(std::string(texts::kUnknownCommand));
}
