// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/play_key_command.h"

#include "desktop/qt_key_map.h"

#include <QCoreApplication>

#include <xkbcommon/xkbcommon.h>

#include <array>

std::string ShellQuote(std::string_view word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string PlayKeyCommand(std::string_view executable, std::string_view text) {
    return ShellQuote(executable) + " --play-key " + ShellQuote(text);
}

std::string KeysymName(const GlobalHotkey& hotkey, HKL layout) {
    const std::uint32_t keysym = KeysymOfVirtualKey(hotkey.nKey, layout);
    std::array<char, 64> name{};
    if (keysym == 0 || xkb_keysym_get_name(keysym, name.data(), name.size()) <= 0)
        return {};
    return name.data();
}

std::string RunningExecutable() {
    // Qt reads /proc/self/exe: the file that runs, whatever the command line called it.
    return QCoreApplication::applicationFilePath().toStdString();
}
