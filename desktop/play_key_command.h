// SPDX-License-Identifier: GPL-3.0-or-later
// Desktops that bind a key to a command rather than tell us of the press (GNOME, sway, Hyprland)
// run this executable with --play-key and the hotkey's text: the command and the key's name.
#pragma once

#include "desktop/global_hotkey.h"
#include "input/hotkey.h"

#include <string>
#include <string_view>

// One word for a POSIX shell and for g_shell_parse_argv: single quotes, ' as '\''.
std::string ShellQuote(std::string_view word);
// `executable` --play-key `text`, each quoted (UTF-8).
std::string PlayKeyCommand(std::string_view executable, std::string_view text);
// XKB's name of the keysym the hotkey's key types unshifted ("a", "F1", "semicolon", "yen");
// empty for a key no keysym stands for.
std::string KeysymName(const GlobalHotkey& hotkey, HKL layout);
// The running executable's absolute path (UTF-8).
std::string RunningExecutable();
