// Arbitrary settings files: the reader returns at most 1023 bytes, and a write keeps a readable
// file whose value reads back as written.
#include "core/app_settings.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string dir = [] {
        char pattern[] = "/tmp/otomaru-fuzz-ini-XXXXXX";
        return std::string(mkdtemp(pattern)) + "/";
    }();
    AppSettings settings;
    settings.LocateFilesFrom(dir + "otomaru");
    std::FILE* f = std::fopen((dir + "Otomaru.ini").c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    settings.LoadSettings();
    if (settings.m_strSoundsFile.size() > 1023)
        __builtin_trap();
    settings.m_strSoundsFile = "fuzz.txt";
    settings.SaveSettings();
    settings.m_strSoundsFile.clear();
    settings.LoadSettings();
    if (settings.m_strSoundsFile != "fuzz.txt")
        __builtin_trap();
    return 0;
}
