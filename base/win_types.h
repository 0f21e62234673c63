// SPDX-License-Identifier: GPL-3.0-or-later
// Result codes, dialog results and message-box flags keep the values the program was designed
// around, so that stored files, tests and the code read the same on every host.
#pragma once

#include <cstdint>

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

// Dialog and message-box results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Message-box buttons and icons.
constexpr unsigned MB_OK = 0x00000000u;
constexpr unsigned MB_YESNO = 0x00000004u;
constexpr unsigned MB_ICONEXCLAMATION = 0x00000030u;
constexpr unsigned MB_BUTTONMASK = 0x0000000Fu;
constexpr unsigned MB_ICONMASK = 0x000000F0u;
