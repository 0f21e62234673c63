// SPDX-License-Identifier: GPL-3.0-or-later
// Small builders the sound output tests share: format records (plain and extensible) and
// buffers filled through Lock/Unlock, as the device layer fills them.
#pragma once

#include "audio/sound_output.h"

#include <cstdint>
#include <cstring>
#include <vector>

#pragma pack(push, 1)
struct FormatRecord {
    WAVEFORMATEX head{};
    std::uint16_t wValidBitsPerSample = 0;
    std::uint32_t dwChannelMask = 0;
    std::uint8_t subFormat[16] = {};
};
#pragma pack(pop)
static_assert(sizeof(FormatRecord) == 40);

inline FormatRecord PlainFormat(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                std::uint16_t bits) {
    FormatRecord r;
    r.head.wFormatTag = tag;
    r.head.nChannels = channels;
    r.head.nSamplesPerSec = rate;
    r.head.wBitsPerSample = bits;
    r.head.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    r.head.nAvgBytesPerSec = r.head.nBlockAlign * rate;
    r.head.cbSize = 0;
    return r;
}

// WAVE_FORMAT_EXTENSIBLE with the PCM (1) or IEEE float (3) sub-format.
inline FormatRecord ExtensibleFormat(std::uint8_t subTag, std::uint16_t channels,
                                     std::uint32_t rate, std::uint16_t bits,
                                     std::uint16_t validBits, std::uint32_t mask = 0) {
    FormatRecord r = PlainFormat(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits);
    r.head.cbSize = 22;
    r.wValidBitsPerSample = validBits;
    r.dwChannelMask = mask;
    const std::uint8_t guid[16] = {subTag, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                   0x80,   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    std::memcpy(r.subFormat, guid, sizeof guid);
    return r;
}

inline DSBUFFERDESC EffectDesc(const FormatRecord& format, std::uint32_t bytes) {
    DSBUFFERDESC d;
    d.dwFlags = 360672; // the flags effect buffers are made with
    d.dwBufferBytes = bytes;
    d.lpwfxFormat = &format.head;
    return d;
}

// Creates a buffer of the format and fills it with `bytes` through Lock/Unlock.
inline SoundBufferPtr MakeBuffer(const SoundDevicePtr& device, const FormatRecord& format,
                                 const std::vector<std::uint8_t>& bytes) {
    DSBUFFERDESC desc = EffectDesc(format, static_cast<std::uint32_t>(bytes.size()));
    SoundBufferPtr buffer;
    if (device->CreateSoundBuffer(&desc, &buffer, nullptr) != DS_OK) {
        return nullptr;
    }
    void* p1 = nullptr;
    void* p2 = nullptr;
    std::uint32_t n1 = 0;
    std::uint32_t n2 = 0;
    if (buffer->Lock(0, desc.dwBufferBytes, &p1, &n1, &p2, &n2, 0) != DS_OK || n1 != bytes.size()) {
        return nullptr;
    }
    std::memcpy(p1, bytes.data(), n1);
    if (buffer->Unlock(p1, n1, p2, n2) != DS_OK) {
        return nullptr;
    }
    return buffer;
}

inline std::vector<std::uint8_t> S16Bytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> b(samples.size() * 2);
    std::memcpy(b.data(), samples.data(), b.size());
    return b;
}

// A mono 16-bit buffer at `rate` holding `samples`.
inline SoundBufferPtr MakeMono16(const SoundDevicePtr& device, std::uint32_t rate,
                                 const std::vector<std::int16_t>& samples) {
    return MakeBuffer(device, PlainFormat(WAVE_FORMAT_PCM, 1, rate, 16), S16Bytes(samples));
}

// Left and right channels of interleaved stereo frames.
inline std::vector<std::int16_t> Channel(const std::vector<std::int16_t>& frames, int c) {
    std::vector<std::int16_t> out;
    for (std::size_t i = static_cast<std::size_t>(c); i < frames.size(); i += 2) {
        out.push_back(frames[i]);
    }
    return out;
}
