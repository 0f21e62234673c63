// SplitFields and TrimLineEnd over arbitrary lines: fields stay inside the line, and the count
// never exceeds the slots.
#include "core/set_file.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    TrimLineEnd(line);
    if (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n'))
        __builtin_trap();
    // Exactly-sized buffer with its terminator, so that ASan sees any overrun.
    std::vector<char> buffer(line.c_str(), line.c_str() + line.size() + 1);
    char* slots[8] = {};
    int n = SplitFields(buffer.data(), ',', slots, 8);
    if (n < 0 || n > 8)
        __builtin_trap();
    for (int i = 0; i < n; ++i)
        if (slots[i] < buffer.data() || slots[i] > buffer.data() + line.size())
            __builtin_trap();
    return 0;
}
