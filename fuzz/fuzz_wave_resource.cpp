// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary images for the resource walk: no read may leave the image, whatever its sizes claim.
#include "audio/sound_device.h"

#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that ASan sees any read past the end.
    auto image = std::make_unique<std::uint8_t[]>(size);
    if (size)
        std::memcpy(image.get(), data, size);
    const WAVEFORMATEX* format = nullptr;
    const std::uint8_t* samples = nullptr;
    std::uint32_t length = 0;
    if (CSoundDevice::FindWaveInImage(image.get(), size, &format, &samples, &length)) {
        const std::uint8_t* end = image.get() + size;
        auto fmt = reinterpret_cast<const std::uint8_t*>(format);
        if (fmt < image.get() || fmt + 14 > end || samples < image.get() || samples + length > end)
            __builtin_trap();
    }
    return 0;
}
