// What the X server knows about the keyboard and Qt's key events do not tell: which keys are
// physically down right now. Empty answers off X11 (Wayland, the offscreen platform of tests).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

// One bit per X11 keycode (keycode / 8, bit keycode % 8), as XQueryKeymap gives it.
using HostKeymap = std::array<std::uint8_t, 32>;

std::optional<HostKeymap> QueryHostKeymap();

inline bool IsKeycodeDown(const HostKeymap& keymap, std::uint32_t keycode) {
    return keycode < 256 && (keymap[keycode / 8] >> (keycode % 8)) & 1;
}
