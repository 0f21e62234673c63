// SPDX-License-Identifier: GPL-3.0-or-later
// Key presses and modified clicks become triggers here, before any control sees the key.
#include "input/key_trigger.h"

#include "input/hotkey.h"

#include <utility>

namespace {

// The modifier keys tested for each bit of the modifier code.
constexpr struct {
    int bit;
    int key;
} kModifierKeys[] = {
    {MOD_CODE_ALT, VK_MENU},
    {MOD_CODE_CTRL, VK_CONTROL},
    {MOD_CODE_SHIFT, VK_SHIFT},
};

// Every modifier of the code held, and no other.
bool ModifiersMatch(const std::uint8_t keyState[256], int modifiers) {
    for (const auto& m : kModifierKeys) {
        if (((modifiers & m.bit) != 0) != IsKeyHeld(keyState, m.key)) {
            return false;
        }
    }
    return true;
}

bool OnKeyDown(const std::uint8_t keyState[256], const EffectTable& table,
               IKeyTriggerTarget& target) {
    bool fired = false;
    // Enter has no latch: it plays the selection at every key-down while it is held.
    if (IsKeyHeld(keyState, VK_RETURN)) {
        target.PlaySelected();
        fired = true;
    }
    const int count = table.GetSize();
    // The count is taken once; the second bound only guards against a target that broke its
    // promise not to remove entries.
    for (int i = 0; i < count && i < table.GetSize(); ++i) {
        // A copy: the entry stays valid through StartPlayback whatever the target does.
        const EffectEntryPtr entry = table.GetPtrAt(i);
        if (!IsKeyHeld(keyState, entry->nKey) || !ModifiersMatch(keyState, entry->nModifiers)) {
            continue;
        }
        if (entry->bKeyHeld == 0) {
            target.StartPlayback(entry);
        }
        entry->bKeyHeld = 1;
        fired = true;
    }
    return fired;
}

void OnKeyUp(const std::uint8_t keyState[256], const EffectTable& table,
             IKeyTriggerTarget& target) {
    const int count = table.GetSize();
    for (int i = 0; i < count && i < table.GetSize(); ++i) {
        const EffectEntryPtr entry = table.GetPtrAt(i);
        if (IsKeyHeld(keyState, entry->nKey)) {
            continue;
        }
        if (std::exchange(entry->bKeyHeld, 0) != 0 &&
            entry->options.retrigger == EffectOptions::Retrigger::Hold) {
            target.ReleasePlayback(entry);
        }
    }
}

} // namespace

bool IsKeyHeld(const std::uint8_t keyState[256], int key) {
    // Code 0 is "no hotkey" and codes beyond the byte name no key: none of them is ever held.
    if (key <= 0 || key > 255) {
        return false;
    }
    return (keyState[key] & 0xF0) != 0;
}

bool TranslateKeyMessage(unsigned message, const std::uint8_t keyState[256],
                         const EffectTable& table, IKeyTriggerTarget& target) {
    switch (message) {
    case WM_KEYDOWN:
        return OnKeyDown(keyState, table, target);
    case WM_KEYUP:
        OnKeyUp(keyState, table, target);
        return false;
    default:
        return false;
    }
}

void OnClickEffectList(bool ctrlDown, IKeyTriggerTarget& target) {
    if (ctrlDown) {
        target.PlaySelected();
    }
}

void OnDblclkEffectList(bool shiftDown, IKeyTriggerTarget& target) {
    if (shiftDown) {
        target.EditEffect();
    } else {
        target.PlaySelected();
    }
}
