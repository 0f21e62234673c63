// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes through the compressed-sound path: libsndfile over our virtual I/O, then into a
// sound buffer as a load would. A decode must refuse or succeed without reading outside the
// input; an accepted sound has a 16-bit PCM format record whose numbers agree, whole frames, and
// no more samples than the limit; a refused one keeps nothing. Decoding the loader's way (as many
// frames as the header says, straight into place, then one more) gives the same samples.
#include "audio/offline_output.h"
#include "audio/sound_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// libsndfile 1.2.0 itself leaks the Vorbis header record of an Ogg stream whose headers are
// malformed (its own sf_open on such a file does the same); not ours to report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:vorbis_info_init\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kLimit = std::size_t{1} << 20;
    static OfflineSoundOutput output(22050);
    DecodedSound sound;
    if (DecodeSoundBytes(data, size, &sound, kLimit) != S_OK) {
        if (!sound.samples.empty())
            __builtin_trap();
        return 0;
    }
    const WAVEFORMATEX& f = sound.format;
    if (f.wFormatTag != WAVE_FORMAT_PCM || f.wBitsPerSample != 16 || f.nChannels == 0 ||
        f.nBlockAlign != 2 * f.nChannels || f.nAvgBytesPerSec != f.nSamplesPerSec * f.nBlockAlign ||
        f.cbSize != 0 || sound.Bytes() % f.nBlockAlign != 0 || sound.Bytes() > kLimit)
        __builtin_trap();

    SoundDecoder decoder;
    if (decoder.OpenBytes(data, size) != S_OK)
        __builtin_trap();
    const std::size_t channels = f.nChannels;
    const std::size_t hint = std::min(decoder.FrameHint(), kLimit / f.nBlockAlign);
    std::vector<std::int16_t> straight((hint + 1) * channels);
    std::size_t frames = decoder.Read(straight.data(), hint);
    if (frames > hint)
        __builtin_trap();
    frames += decoder.Read(straight.data() + frames * channels, 1);
    const std::size_t same = std::min(frames * channels, sound.samples.size());
    if (!std::equal(straight.begin(), straight.begin() + static_cast<std::ptrdiff_t>(same),
                    sound.samples.begin()))
        __builtin_trap();

    // The buffer may refuse the format (too many channels, an odd rate); what it takes it must
    // prepare without fault.
    DSBUFFERDESC desc;
    desc.dwBufferBytes = static_cast<std::uint32_t>(sound.Bytes());
    desc.lpwfxFormat = &f;
    SoundBufferPtr buffer;
    if (output.Device()->CreateSoundBuffer(&desc, &buffer, nullptr) != DS_OK || !buffer)
        return 0;
    void* region = nullptr;
    std::uint32_t bytes = 0;
    if (buffer->Lock(0, desc.dwBufferBytes, &region, &bytes, nullptr, nullptr, 0) != DS_OK)
        __builtin_trap();
    std::memcpy(region, sound.samples.data(), bytes);
    buffer->Unlock(region, bytes, nullptr, 0);
    return 0;
}
