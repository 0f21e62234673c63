// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/hotkey_way.h"

#include "base/text.h"
#include "input/hotkey.h"

#include <QStringList>

#include <algorithm>

std::vector<WayHotkey> WayHotkeysOf(const EffectTable& table, HKL layout) {
    std::vector<WayHotkey> hotkeys;
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntry& entry = table.GetAt(i);
        const GlobalHotkey hotkey{
            entry.nKey.load(), entry.nModifiers & (MOD_CODE_ALT | MOD_CODE_CTRL | MOD_CODE_SHIFT)};
        if (hotkey.nKey <= 0 || hotkey.nKey > 255 ||
            std::any_of(hotkeys.begin(), hotkeys.end(),
                        [&](const WayHotkey& seen) { return seen.key == hotkey; }))
            continue;
        hotkeys.push_back({hotkey,
                           Utf8FromCp932(HotkeyText(hotkey.nModifiers, hotkey.nKey, layout)),
                           Utf8FromCp932(entry.strName)});
    }
    return hotkeys;
}

QString ShortcutId(const GlobalHotkey& hotkey) {
    return QStringLiteral("hotkey-%1-%2").arg(hotkey.nModifiers).arg(hotkey.nKey);
}

bool HotkeyOfShortcutId(const QString& id, GlobalHotkey& hotkey) {
    const QStringList parts = id.split(QLatin1Char('-'));
    if (parts.size() != 3 || parts[0] != QLatin1String("hotkey"))
        return false;
    bool okMods = false, okKey = false;
    const int mods = parts[1].toInt(&okMods);
    const int key = parts[2].toInt(&okKey);
    if (!okMods || !okKey || mods < 0 || mods > 7 || key <= 0 || key > 255)
        return false;
    hotkey = {key, mods};
    return true;
}

std::uint32_t ShortcutKeyCode(const GlobalHotkey& hotkey) {
    return 0x80000000u | static_cast<std::uint32_t>(hotkey.nModifiers << 8 | hotkey.nKey);
}
