// SPDX-License-Identifier: GPL-3.0-or-later
// SplitFields and TrimLineEnd over arbitrary lines, against a plain model: every comma delimits
// (a comma is never a trail byte), a delimiter that ends the line gives no further field, the
// eighth field ends at the eighth delimiter, and nothing is read or written outside the line.
// Also: the strict UTF-8 -> CP932 conversion is stable over a round trip.
#include "base/text.h"
#include "core/set_file.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The fields as the model sees them: the line up to its first NUL, cut at every comma.
std::vector<std::string> ModelFields(std::string_view line, std::size_t slots) {
    line = line.substr(0, line.find('\0'));
    std::vector<std::string> fields;
    std::size_t pos = 0;
    while (pos < line.size() && fields.size() < slots) {
        std::size_t comma = line.find(',', pos);
        if (comma == std::string_view::npos) {
            fields.emplace_back(line.substr(pos));
            break;
        }
        fields.emplace_back(line.substr(pos, comma - pos));
        pos = comma + 1;
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string line = input;
    TrimLineEnd(line);
    // Only spaces, CRs and LFs were cut, and only at the end.
    if (input.compare(0, line.size(), line) != 0 ||
        input.find_first_not_of(" \r\n", line.size()) != std::string::npos)
        __builtin_trap();
    if (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n'))
        __builtin_trap();

    // Exactly-sized buffer with its terminator, so that ASan sees any overrun.
    std::vector<char> buffer(line.c_str(), line.c_str() + line.size() + 1);
    char* slots[8] = {};
    const int n = SplitFields(buffer.data(), ',', slots, 8);
    const std::vector<std::string> expected = ModelFields(line, 8);
    if (n != static_cast<int>(expected.size()))
        __builtin_trap();
    for (int i = 0; i < 8; ++i) {
        if (i >= n) {
            if (slots[i] != nullptr)
                __builtin_trap();
            continue;
        }
        if (slots[i] < buffer.data() || slots[i] > buffer.data() + line.size() ||
            expected[static_cast<std::size_t>(i)] != slots[i])
            __builtin_trap();
    }

    // A text taken as CP932 reads back as a text that is taken again as the same bytes.
    std::string stored;
    if (TryCp932FromUtf8(input, stored)) {
        std::string again;
        if (!TryCp932FromUtf8(Utf8FromCp932(stored), again) || again != stored)
            __builtin_trap();
    }
    return 0;
}
