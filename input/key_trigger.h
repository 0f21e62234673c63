// SPDX-License-Identifier: GPL-3.0-or-later
// Turns key presses and modified clicks into triggers. Platform-free: the window feeds it the
// message code and a 256-byte key-state snapshot (bit 7 = down), and it acts through the target.
#pragma once

#include "input/virtual_keys.h"
#include "model/effect_table.h"

#include <cstdint>

constexpr unsigned WM_KEYDOWN = 0x0100;
constexpr unsigned WM_KEYUP = 0x0101;
constexpr unsigned WM_SYSKEYDOWN = 0x0104;
constexpr unsigned WM_SYSKEYUP = 0x0105;

// What a trigger does; the set controller implements it.
class IKeyTriggerTarget {
public:
    virtual ~IKeyTriggerTarget() = default;
    virtual void PlaySelected() = 0;
    virtual void StartPlayback(const EffectEntryPtr& entry) = 0;
    // The key that started a hold effect went up.
    virtual void ReleasePlayback(const EffectEntryPtr& entry) = 0;
    virtual void EditEffect() = 0;
};

// A key counts as held when any of its byte's four high bits is set. Code 0 (no hotkey) and codes
// outside 1..255 are never held, and never read.
bool IsKeyHeld(const std::uint8_t keyState[256], int key);

// Key-down and key-up matching. Returns true when the key-down fired something and is consumed;
// a key-up and every other message are never consumed.
bool TranslateKeyMessage(unsigned message, const std::uint8_t keyState[256],
                         const EffectTable& table, IKeyTriggerTarget& target);

// Effect list mouse triggers, given the live modifier state.
void OnClickEffectList(bool ctrlDown, IKeyTriggerTarget& target);
void OnDblclkEffectList(bool shiftDown, IKeyTriggerTarget& target);
