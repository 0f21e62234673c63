// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/global_hotkey.h"

#include "input/hotkey.h"
#include "input/virtual_keys.h"

bool IsReservedHotkey(const GlobalHotkey& hotkey) {
    constexpr int kCtrlAlt = MOD_CODE_CTRL | MOD_CODE_ALT;
    if ((hotkey.nModifiers & kCtrlAlt) != kCtrlAlt)
        return false;
    return hotkey.nKey == VK_BACK || (hotkey.nKey >= VK_F1 && hotkey.nKey <= VK_F12);
}
