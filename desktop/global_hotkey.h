// SPDX-License-Identifier: GPL-3.0-or-later
// A hotkey as the global grabbers see it: the effect's key code and its exact Alt/Ctrl/Shift.
#pragma once

#include "model/effect_table.h"

#include <compare>
#include <vector>

struct GlobalHotkey {
    int nKey = 0;       // virtual-key code 1..255
    int nModifiers = 0; // MOD_CODE_ALT | MOD_CODE_CTRL | MOD_CODE_SHIFT
    auto operator<=>(const GlobalHotkey&) const = default;
};

// Ctrl+Alt+F1..F12 and Ctrl+Alt+Backspace switch consoles or end the X server: never taken.
bool IsReservedHotkey(const GlobalHotkey& hotkey);
