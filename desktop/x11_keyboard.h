// SPDX-License-Identifier: GPL-3.0-or-later
// What the X server knows about the keyboard and Qt's key events do not tell: which keys are
// physically down right now. Empty answers off X11 (Wayland, the offscreen platform of tests).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

// One bit per X11 keycode (keycode / 8, bit keycode % 8), as XQueryKeymap gives it.
using HostKeymap = std::array<std::uint8_t, 32>;

std::optional<HostKeymap> QueryHostKeymap();
// Asks the X server to send no release for an auto-repeat on the application's connection, so
// that every release is a real one (`on` false asks for the releases again). Returns whether the
// server sends none now: false where it cannot (or there is no X server).
bool UseDetectableAutoRepeat(bool on = true);

inline bool IsKeycodeDown(const HostKeymap& keymap, std::uint32_t keycode) {
    return keycode < 256 && (keymap[keycode / 8] >> (keycode % 8)) & 1;
}

#include <string>
#include <utility>
#include <vector>

// The keyboard layout active on the X server: its XKB name ("Japanese", "German", "English
// (US)") and, for every character key (by PC scan code), the character it types unshifted,
// upper-cased as key caps show it (UTF-8). Characters a set file's text cannot hold are named
// by their XKB keysym name instead.
struct HostKeyLayout {
    std::string strName;
    std::vector<std::pair<std::uint32_t, std::string>> characterNames;
};
std::optional<HostKeyLayout> QueryHostKeyLayout();
// The same, read from an XKB keymap's layout (group) `layout`.
struct xkb_keymap;
HostKeyLayout HostKeyLayoutOf(xkb_keymap* keymap, std::uint32_t layout);
