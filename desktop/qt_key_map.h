// SPDX-License-Identifier: GPL-3.0-or-later
// Qt key events -> the Windows virtual-key codes that hotkeys and the key-state table are kept in.
#pragma once

#include "input/hotkey.h"

#include <cstdint>

class QKeyEvent;

struct VirtualKey {
    int nKey = 0;           // virtual-key code 1..255; 0 = a key we have no code for
    bool bExtended = false; // the key sits in the navigation block / right-hand group (E0 keys)
    bool operator==(const VirtualKey&) const = default;
};

// The one mapping. `qtKey` is QKeyEvent::key(), `keypad` its Qt::KeypadModifier, `keysym` the
// X11 keysym (nativeVirtualKey() on xcb, 0 when unknown) and `scanCode` the X11/evdev keycode
// (nativeScanCode(), evdev code + 8, 0 when unknown). Punctuation follows the keyboard `layout`
// (null = US), as the codes do on Windows.
VirtualKey QtKeyToVirtualKey(int qtKey, bool keypad, std::uint32_t keysym, std::uint32_t scanCode,
                             HKL layout);
VirtualKey QtKeyToVirtualKey(const QKeyEvent& event, HKL layout);
// The Qt key the X11 platform plugin gives a keysym (0 for none), and the code a key typing that
// keysym gets, as a focused press of it would.
int QtKeyOfKeysym(std::uint32_t keysym);
VirtualKey KeysymToVirtualKey(std::uint32_t keysym, std::uint32_t scanCode, HKL layout);
// Back: the keysym a key of that code types without Shift on the `layout`'s keyboard (a lower-case
// letter, the unshifted character, the named key), as desktops bind keys by; 0 for none.
std::uint32_t KeysymOfVirtualKey(int vk, HKL layout);
