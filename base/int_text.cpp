// SPDX-License-Identifier: GPL-3.0-or-later
// The number fields' text rule, shared by every dialog that edits a number.
#include "base/int_text.h"

#include "base/text.h"

std::string IntText(std::int32_t value) {
    return std::to_string(value);
}

bool ParseIntText(std::string_view text, std::int32_t& value) {
    constexpr std::size_t kReadLimit = 31;
    text = text.substr(0, kReadLimit);
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };

    std::size_t pos = 0;
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    const std::size_t start = pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        ++pos;
    }
    const std::size_t firstDigit = pos;
    while (pos < text.size() && isDigit(text[pos])) {
        ++pos;
    }
    const bool hasDigits = pos > firstDigit;
    const std::int32_t number = hasDigits ? AtoI(text.substr(start, pos - start)) : 0;
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    if (pos != text.size()) {
        return false;
    }
    if (number == 0 && (start == text.size() || text[start] != '0')) {
        return false;
    }
    value = number;
    return true;
}
