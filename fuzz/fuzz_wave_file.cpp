// Arbitrary bytes as a WAVE file: Open must refuse or accept without reading outside the file,
// and Read must deliver at most what the data chunk holds.
#include "audio/wave_file.h"
#include "fuzz/fuzz_support.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = FuzzScratchDir() + "input.wav";
    if (!FuzzWriteFile(path, data, size))
        return 0;

    CWaveFile wave;
    if (wave.Open(path) == S_OK) {
        // Read in small pieces, as a buffer with two regions would.
        std::vector<std::uint8_t> chunk(4096);
        std::uint32_t total = 0;
        for (int i = 0; i < 64; ++i) {
            std::uint32_t got = 0;
            if (wave.Read(static_cast<std::uint32_t>(chunk.size()), chunk.data(), &got) != S_OK ||
                got == 0)
                break;
            total += got;
        }
        if (total > size)
            __builtin_trap();
    }
    return 0;
}
