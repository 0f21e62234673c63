// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a WAVE file: Open must refuse or accept without reading outside the file;
// an accepted file has a whole format record, and Read hands out exactly the sample bytes the
// file really holds, never more than its data chunk declares, and never more than asked.
#include "audio/wave_file.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = FuzzScratchDir() + "input.wav";
    if (!FuzzWriteFile(path, data, size))
        return 0;

    CWaveFile wave;
    if (wave.Open(path) != S_OK)
        return 0;
    const WAVEFORMATEX* format = wave.Format();
    if (!format || wave.m_pwfx.size() != 18u + (format->wFormatTag == 1 ? 0u : format->cbSize) ||
        (format->wFormatTag == 1 && format->cbSize != 0))
        __builtin_trap();
    const std::uint32_t declared = wave.DataSize();
    const std::uint32_t available = wave.AvailableDataSize();
    if (available > declared || available > size)
        __builtin_trap();

    // Read the bytes that are there in pieces of varying size, as a buffer with two regions
    // would; then one more byte: past a data chunk that claims more than the file holds that is
    // a failure, after a whole one it is nothing.
    std::vector<std::uint8_t> piece(4099);
    std::uint32_t total = 0;
    for (std::uint32_t ask = 1; total < available; ask = ask * 3 + 1) {
        ask = std::min({ask, static_cast<std::uint32_t>(piece.size()), available - total});
        std::uint32_t got = 0;
        if (wave.Read(ask, piece.data(), &got) != S_OK || got != ask)
            __builtin_trap(); // bytes the reader said were there could not be read
        total += got;
    }
    std::uint32_t got = 0;
    const HRESULT past = wave.Read(1, piece.data(), &got);
    if (declared > available ? past == S_OK : (past != S_OK || got != 0))
        __builtin_trap();
    return 0;
}
