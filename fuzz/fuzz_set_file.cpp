// Arbitrary sound-source files, read with a loader that loads nothing; then written back and read
// again: the second read must give the same table.
#include "core/message.h"
#include "core/set_file.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string dir = [] {
        char pattern[] = "/tmp/otomaru-fuzz-set-XXXXXX";
        return std::string(mkdtemp(pattern)) + "/";
    }();
    static ScopedMessageFunction silence([](const std::string&, const std::string&, unsigned) {
        return IDOK;
    });
    const std::string path = dir + "set.txt";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    auto loader = [](const std::string&, SoundBufferSlot&) -> std::uint32_t { return 0; };
    EffectTable table;
    std::string waveDir;
    if (!ReadSetFile(path, table, waveDir, loader))
        return 0;
    if (!WriteSetFile(path, waveDir, table))
        return 0;
    EffectTable again;
    std::string waveDirAgain;
    if (!ReadSetFile(path, again, waveDirAgain, loader))
        __builtin_trap();
    // Names or paths holding a comma, paths starting with '/', and lines that grow past one
    // 4095-byte piece when their numbers are written out cannot round-trip; the rest must.
    bool plain = true;
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntry& e = table.GetAt(i);
        if (e.strName.find(',') != std::string::npos || e.strWavePath.find(',') != std::string::npos ||
            (!e.strWavePath.empty() && e.strWavePath[0] == '/') ||
            e.strName.size() + e.strWavePath.size() + 8 * 12 > 4000)
            plain = false;
    }
    if (plain && again.GetSize() != table.GetSize())
        __builtin_trap();
    return 0;
}
