// SPDX-License-Identifier: GPL-3.0-or-later
// Effects in FLAC, Ogg Vorbis, Ogg Opus and MP3: decoded whole at load time with libsndfile into
// 16-bit samples that a sound buffer takes as it takes WAVE data, so the mixer never knows the
// difference. WAVE files keep our own reader (audio/wave_file.*) and all its rules.
//
// Threads: called on whichever thread loads sounds; no state is shared between calls.
#pragma once

#include "audio/sound_output.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// True when the path names a file this decoder reads: it ends in ".flac", ".ogg", ".opus" or
// ".mp3", ASCII case ignored. Every other path goes to the WAVE reader.
bool IsDecodedSoundPath(std::string_view path);

struct DecodedSound {
    // 16-bit PCM with the file's channels (WAVE speaker order) and rate.
    WAVEFORMATEX format{};
    std::vector<std::int16_t> samples; // interleaved
    std::size_t Bytes() const { return samples.size() * sizeof(std::int16_t); }
};

// The most sample bytes a decode keeps: what one sound buffer can hold and one frame more, so a
// longer sound is refused where the buffer is made rather than silently cut.
constexpr std::size_t kMaxDecodedBytes = std::size_t{DSBSIZE_MAX} + 16;

// One compressed sound, decoded a piece at a time: a loader that believes the header's length can
// decode straight into the buffer the sound will play from, and check the belief as it goes.
class SoundDecoder {
public:
    SoundDecoder();
    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    // S_OK when the input is FLAC, Ogg Vorbis, Ogg Opus or MP3 with a usable header; the path as
    // for DecodeSoundFile, the bytes as for DecodeSoundBytes (they must outlive the decoder).
    HRESULT OpenFile(const std::string& path);
    HRESULT OpenBytes(const std::uint8_t* data, std::size_t size);
    // 16-bit PCM with the file's channels and rate, once open.
    const WAVEFORMATEX& Format() const;
    // The header's frame count, or 0 when it gives none or more than the input's size makes
    // believable. Only a hint: the stream may hold fewer frames or more.
    std::size_t FrameHint() const;
    // Decodes up to `frames` frames into `to` (interleaved, WAVE speaker order): fewer only at
    // the end of the stream or where it breaks off.
    std::size_t Read(std::int16_t* to, std::size_t frames);
    // Appends every frame left to out->samples while they stay within maxBytes; E_FAIL when
    // out->samples is empty at the end.
    HRESULT ReadRest(DecodedSound* out, std::size_t maxBytes = kMaxDecodedBytes);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// path: CP932, as stored. S_OK with at least one frame, or E_FAIL when the file is not a regular
// file or is not FLAC, Ogg Vorbis, Ogg Opus or MP3 that libsndfile can read a frame of. A stream
// that breaks off part way keeps the frames decoded before the break.
HRESULT DecodeSoundFile(const std::string& path, DecodedSound* out,
                        std::size_t maxBytes = kMaxDecodedBytes);
// The same over bytes in memory (libsndfile's virtual I/O, as for a file).
HRESULT DecodeSoundBytes(const std::uint8_t* data, std::size_t size, DecodedSound* out,
                         std::size_t maxBytes = kMaxDecodedBytes);
