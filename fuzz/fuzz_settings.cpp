// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary settings files: the reader returns at most 1023 bytes, a write of the value reads
// back as written, and saving the value the file already holds changes no byte of it.
#include "core/app_settings.h"
#include "fuzz/fuzz_support.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string dir = FuzzScratchDir();
    const std::string ini = dir + "Otomaru.ini";
    if (!FuzzWriteFile(ini, data, size))
        return 0;
    AppSettings settings;
    settings.LocateFilesFrom(dir + "otomaru");

    settings.LoadSettings();
    if (settings.m_strSoundsFile.empty() || settings.m_strSoundsFile.size() > 1023)
        __builtin_trap();

    settings.m_strSoundsFile = "fuzz.txt";
    settings.SaveSettings();
    settings.m_strSoundsFile.clear();
    settings.LoadSettings();
    if (settings.m_strSoundsFile != "fuzz.txt")
        __builtin_trap();
    // Saving the value it already holds changes no byte of the file.
    const std::string saved = ReadAll(ini);
    settings.SaveSettings();
    if (ReadAll(ini) != saved)
        __builtin_trap();
    return 0;
}
