// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/global_hotkey.h"

#include "input/hotkey.h"
#include "input/virtual_keys.h"

#include <algorithm>

std::vector<GlobalHotkey> GlobalHotkeysOf(const EffectTable& table) {
    std::vector<GlobalHotkey> hotkeys;
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntry& entry = table.GetAt(i);
        const GlobalHotkey hotkey{
            entry.nKey.load(), entry.nModifiers & (MOD_CODE_ALT | MOD_CODE_CTRL | MOD_CODE_SHIFT)};
        if (hotkey.nKey <= 0 || hotkey.nKey > 255)
            continue;
        if (std::find(hotkeys.begin(), hotkeys.end(), hotkey) == hotkeys.end())
            hotkeys.push_back(hotkey);
    }
    return hotkeys;
}

bool IsReservedHotkey(const GlobalHotkey& hotkey) {
    constexpr int kCtrlAlt = MOD_CODE_CTRL | MOD_CODE_ALT;
    if ((hotkey.nModifiers & kCtrlAlt) != kCtrlAlt)
        return false;
    return hotkey.nKey == VK_BACK || (hotkey.nKey >= VK_F1 && hotkey.nKey <= VK_F12);
}
