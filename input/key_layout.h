// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboards we can name keys for. This host has no virtual-key -> scan-code mapping and no
// key-name service, so we carry the tables of a US 101/104-key and a Japanese 106/109-key PC
// keyboard ourselves, with the names their keys carry in the Windows convention.
#pragma once

#include "input/hotkey.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct KeyLayout {
    static constexpr std::uint32_t kExtended = 0x100; // added to a scan code for the E0 keys

    std::string strName; // "00000409", "00000411"
    bool bJapanese = false;
    std::array<std::uint8_t, 256> scanOfKey{}; // virtual-key code -> scan code, 0 = no such key
    std::array<std::string, 512> nameOfScan;   // scan code (+ kExtended) -> name, CP932
    // Keys named by their code: the browser, volume, media and launch keys, which have no
    // scan code of their own without the extended prefix.
    std::array<std::string, 256> nameOfKey;

    // Scan code of a virtual-key code, 0 for codes no key produces (any int accepted).
    std::uint32_t ScanCode(int key) const;
    // The name of a scan code, with or without the extended flag; empty when unknown.
    const std::string& ScanName(std::uint32_t scan, bool extended) const;
};

// Which table fits the desktop, from what it tells us: an XKB layout list ("jp", "us,jp") from
// XKB_DEFAULT_LAYOUT, the XKBLAYOUT line of /etc/default/keyboard (its whole text), then the
// locale (LC_ALL before LANG). The first that says anything decides; "jp"/"ja" mean Japanese.
HKL ChooseKeyLayout(std::string_view xkbDefaultLayout, std::string_view keyboardFileText,
                    std::string_view lcAll, std::string_view lang);

// What a hint names: Japanese, US, or nothing recognisable (null).
HKL KeyLayoutFromHint(std::string_view hint);

// A layout read from the desktop: `base`'s keys and names, with its character keys named after
// the characters the desktop's layout puts on them (scan code -> UTF-8; names CP932 cannot hold
// keep the base name). Registered once under `name`, which LoadKeyLayout then takes as a hint;
// kept for the life of the process, like every loaded layout.
HKL RegisterKeyLayout(const std::string& name, HKL base,
                      const std::vector<std::pair<std::uint32_t, std::string>>& characterNames);
// Whether a scan code is one of a character key, named by the character it types.
bool IsCharacterScan(std::uint32_t scan);
