// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary sound-source files, read with a loader that loads nothing; then written back and read
// again: the second read must give the same WAVE directory and the same effects, field by field,
// options included.
#include "base/message.h"
#include "core/set_file.h"
#include "fuzz/fuzz_support.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Rows(const EffectTable& table) {
    std::vector<std::string> rows;
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntry& e = table.GetAt(i);
        rows.push_back(e.strWavePath + '\0' + e.strName + '\0' + std::to_string(e.nModifiers) +
                       ',' + std::to_string(e.nKey) + ',' + std::to_string(e.nPan) + ',' +
                       std::to_string(e.nVolume) + ',' + std::to_string(e.nRepeat) + ',' +
                       std::to_string(e.nInterval));
        for (const std::string& field : FormatEffectOptions(e.options))
            rows.back() += '\0' + field;
    }
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScopedMessageFunction silence(
        [](const std::string&, const std::string&, unsigned) { return IDOK; });
    const std::string path = FuzzScratchDir() + "set.txt";
    if (!FuzzWriteFile(path, data, size))
        return 0;

    EffectTable table;
    std::string waveDir;
    if (!ReadSetFile(path, table, waveDir, nullptr)) {
        if (table.GetSize() != 0) // a failed read leaves the table empty
            __builtin_trap();
        return 0;
    }
    if (!WriteSetFile(path, waveDir, table))
        return 0;
    EffectTable again;
    std::string waveDirAgain;
    if (!ReadSetFile(path, again, waveDirAgain, nullptr))
        __builtin_trap();
    // Every line read ends at its first NUL, the WAVE directory's too.
    if (waveDir.find('\0') != std::string::npos)
        __builtin_trap();
    // A line that grows past one 4095-byte piece when its numbers are written out cannot come
    // back whole. Entries can hold neither a comma nor a leading '/': reading splits and skips
    // those.
    bool plain = waveDir.size() <= 4095;
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntry& e = table.GetAt(i);
        std::size_t options = 0;
        for (const std::string& field : e.options.extra)
            options += field.size() + 1;
        if (e.strName.size() + e.strWavePath.size() + 8 * 12 + options + 6 * 18 > 4000)
            plain = false;
    }
    if (plain && (waveDirAgain != waveDir || Rows(again) != Rows(table)))
        __builtin_trap();
    return 0;
}
