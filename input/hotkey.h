// SPDX-License-Identifier: GPL-3.0-or-later
// Hotkeys: a Windows virtual-key code (the set files hold them) plus the program's modifier code
// (bit 0 Alt, bit 1 Ctrl, bit 2 Shift). Conversions to the hotkey field's flags, and key names
// from our own table of the keys a PC keyboard carries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr std::uint16_t HOTKEYF_SHIFT = 0x01;
constexpr std::uint16_t HOTKEYF_CONTROL = 0x02;
constexpr std::uint16_t HOTKEYF_ALT = 0x04;
constexpr std::uint16_t HOTKEYF_EXT = 0x08;

constexpr int MOD_CODE_ALT = 1;
constexpr int MOD_CODE_CTRL = 2;
constexpr int MOD_CODE_SHIFT = 4;

std::uint16_t ModifiersToHotkeyFlags(std::uint16_t modifiers);
int HotkeyFlagsToModifiers(std::uint16_t flags);

// A keyboard layout: virtual-key code -> scan code -> the name the key carries.
struct KeyLayout;
using HKL = const KeyLayout*;

// The layout of the desktop at start-up. `hint` is what the desktop reports when known (an XKB
// layout name such as "jp" or "us", or a locale such as "ja_JP"); empty = look it up ourselves.
HKL LoadKeyLayout(std::string_view hint = {});
// The two tables we carry.
HKL JapaneseKeyLayout(); // 106/109 keys
HKL UsKeyLayout();       // 101/104 keys
// The layout's name, for the README and tests ("00000411", "00000409").
std::string KeyLayoutName(HKL layout);

// The key's name (CP932), or the empty text for a code that no key produces. A null layout
// names keys as the US keyboard does.
std::string KeyName(int key, HKL layout);
// "Alt + ", "Ctrl + ", "Shift + " as the modifier bits say, then the key's name (CP932).
std::string HotkeyText(int modifiers, int key, HKL layout);
