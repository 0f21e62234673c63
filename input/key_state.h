// SPDX-License-Identifier: GPL-3.0-or-later
// The 256-byte key-state table the window keeps from the key events it sees, laid out as the
// trigger matching reads it: bit 7 = down, bit 0 = toggled on (Caps, Num and Scroll Lock).
// Also the X11 auto-repeat rule, which decides which key events are real presses and releases.
#pragma once

#include "input/virtual_keys.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class CKeyState {
public:
    static constexpr std::uint8_t kDown = 0x80;
    static constexpr std::uint8_t kToggled = 0x01;

    // The snapshot the trigger matching reads.
    const std::uint8_t* Data() const { return m_state.data(); }
    std::uint8_t At(int key) const;

    // A key went down. The left/right modifier codes set their generic code too; a generic
    // modifier code whose side is unknown counts as the left key. A lock key's toggle bit flips
    // at the press, not at its repeats. Codes outside 1..255 are ignored. Returns whether the
    // key was up before (false for a repeat).
    bool KeyDown(int key);
    // A key found down on the host (not a press we saw): down without flipping its toggle.
    void MarkDown(int key);
    // A key went up. A generic modifier stays down while its other side is.
    void KeyUp(int key);

    // Releases missed while the window had no focus: make the modifier bits follow the live
    // modifier state.
    void SyncModifiers(bool shiftDown, bool ctrlDown, bool altDown);
    // Every key up (the window lost the focus and sees no releases); toggles are kept.
    void ReleaseAll();

private:
    bool Press(int key, bool toggle);
    void SetDown(int key, bool down);
    void UpdateGeneric(int generic, int left, int right);

    std::array<std::uint8_t, 256> m_state{};
};

// X11 reports an auto-repeat as a release and a press. Qt marks both as auto-repeat, but now and
// then misses the mark; a release followed at once by a press of the same key with the same
// timestamp is a repeat too. The filter holds back an unmarked release until the next event
// shows what it was (or the window's event queue runs dry: Flush).
class CKeyRepeatFilter {
public:
    struct Event {
        bool bPress = false;
        int nKey = 0;                // virtual-key code
        std::uint64_t nTime = 0;     // the event's timestamp
        bool bAutoRepeat = false;    // marked by the platform; on output: a repeated press
        std::uint32_t nPhysical = 0; // the physical key (X11 keycode), 0 = unknown
        bool operator==(const Event&) const = default;
    };

    // Feeds one event; returns the events to act on now, in order (a held-back release first).
    std::vector<Event> Feed(const Event& event);
    // The held-back release, if any, now that nothing followed it.
    std::optional<Event> Flush();
    bool HasPending() const { return m_pending.has_value(); }

private:
    std::optional<Event> m_pending;
};
