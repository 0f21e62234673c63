// SPDX-License-Identifier: GPL-3.0-or-later
// The integer text of the number fields in the program's dialogs: how a number is written into a
// field and the rule by which a field's text is read back or refused. Kept free of any widget so
// the rule is tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Decimal, with a leading minus sign when negative.
std::string IntText(std::int32_t value);

// Reads a field's text: only its first 31 bytes count; blanks and tabs may surround one decimal
// number with an optional sign; a number beyond the 32-bit range is held at the nearest limit.
// False when anything else is there, or when the number is 0 without being written as a plain
// run of zeros (empty, "+0", "-0", a sign alone). `value` is set only on success.
bool ParseIntText(std::string_view text, std::int32_t& value);
