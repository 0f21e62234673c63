// SPDX-License-Identifier: GPL-3.0-or-later
// Modifier codes, the hotkey field's flags, and the hotkey texts of the effect list.
#include "input/hotkey.h"

#include "input/key_layout.h"

namespace {

// The navigation block and the two keys that share their scan codes with keypad keys; only
// these are named as extended keys.
bool IsExtendedKey(int key) {
    switch (key) {
    case 0x21: // Page Up
    case 0x22: // Page Down
    case 0x23: // End
    case 0x24: // Home
    case 0x25: // Left
    case 0x26: // Up
    case 0x27: // Right
    case 0x28: // Down
    case 0x2D: // Insert
    case 0x2E: // Delete
    case 0x5D: // Application
    case 0x90: // Num Lock
        return true;
    default:
        return false;
    }
}

constexpr std::size_t kMaxNameBytes = 255;

} // namespace

std::uint16_t ModifiersToHotkeyFlags(std::uint16_t modifiers) {
    std::uint16_t flags = 0;
    if (modifiers & MOD_CODE_ALT) {
        flags |= HOTKEYF_ALT;
    }
    if (modifiers & MOD_CODE_CTRL) {
        flags |= HOTKEYF_CONTROL;
    }
    if (modifiers & MOD_CODE_SHIFT) {
        flags |= HOTKEYF_SHIFT;
    }
    return flags;
}

int HotkeyFlagsToModifiers(std::uint16_t flags) {
    int modifiers = 0;
    if (flags & HOTKEYF_SHIFT) {
        modifiers |= MOD_CODE_SHIFT;
    }
    if (flags & HOTKEYF_CONTROL) {
        modifiers |= MOD_CODE_CTRL;
    }
    if (flags & HOTKEYF_ALT) {
        modifiers |= MOD_CODE_ALT;
    }
    return modifiers;
}

std::string KeyName(int key, HKL layout) {
    // Without a layout the keys are named as on a US keyboard, which every PC keyboard shares
    // for letters, digits and the function and navigation keys.
    const KeyLayout& table = layout ? *layout : *UsKeyLayout();
    if (key > 0 && key < 256 && !table.nameOfKey[static_cast<std::size_t>(key)].empty()) {
        return table.nameOfKey[static_cast<std::size_t>(key)];
    }
    const std::uint32_t scan = table.ScanCode(key);
    if ((scan & 0xFFFF) == 0) {
        return {};
    }
    std::string name = table.ScanName(scan, IsExtendedKey(key));
    if (name.size() > kMaxNameBytes) {
        name.resize(kMaxNameBytes);
    }
    return name;
}

std::string HotkeyText(int modifiers, int key, HKL layout) {
    std::string text;
    if (modifiers & MOD_CODE_ALT) {
        text += "Alt + ";
    }
    if (modifiers & MOD_CODE_CTRL) {
        text += "Ctrl + ";
    }
    if (modifiers & MOD_CODE_SHIFT) {
        text += "Shift + ";
    }
    text += KeyName(key, layout);
    return text;
}
