// SPDX-License-Identifier: GPL-3.0-or-later
// What a sound buffer's format record means for the mixer: the sample encoding, the channel
// layout and how it folds to stereo. Buffers are decoded once, when their data is unlocked, so
// that the mixer only ever sees 16-bit samples at the output rate.
#pragma once

#include "audio/sound_output.h"

#include <cstddef>
#include <cstdint>
#include <vector>

enum class SampleKind { U8, S16, S24, S32, F32 };

struct SampleFormat {
    SampleKind kind = SampleKind::S16;
    std::uint16_t nChannels = 1;
    std::uint32_t nSamplesPerSec = 22050;
    std::uint16_t nBlockAlign = 2;
    // Speaker positions of the channels in order (WAVE_FORMAT_EXTENSIBLE's mask, or the usual
    // layout for the channel count when the record carries none).
    std::uint32_t dwChannelMask = 0;
};

// Smallest and largest rates a buffer may have.
constexpr std::uint32_t kMinBufferRate = 1000;
constexpr std::uint32_t kMaxBufferRate = 384000;
constexpr std::uint16_t kMaxBufferChannels = 8;

// Reads a secondary buffer's format record. DSERR_BADFORMAT for anything the mixer cannot play.
HRESULT ParseSampleFormat(const WAVEFORMATEX* format, SampleFormat* out);

// How many bytes of the record the buffer keeps as its own copy: 18 for plain PCM and float
// (cbSize is then stored as 0), 18 + 22 for WAVE_FORMAT_EXTENSIBLE. Bytes beyond what we
// understand are never read, whatever cbSize claims.
std::size_t KeptFormatBytes(const WAVEFORMATEX* format);

// One sample as a float, full scale 1.0 (8-bit: (b-128)/128, 16-bit: v/32768, ...).
float DecodeSample(const std::uint8_t* p, SampleKind kind);

// Stereo weights of each channel for the fold-down of more than two channels. Every channel goes
// to its side (front and back/side pairs 1, the other side 0), centre channels to both at 0.7071,
// the low-frequency channel to both at 0.5, unknown positions to both at 0.5; then every weight
// is divided by the larger of the two column sums, so that no input can clip the output.
struct FoldWeights {
    float left[kMaxBufferChannels];
    float right[kMaxBufferChannels];
};
FoldWeights MakeFoldWeights(std::uint16_t channels, std::uint32_t channelMask);

// Planes a sound decodes to: one for mono, two for everything else (more than two channels are
// folded down).
int PlaneCount(const SampleFormat& format);

// Decodes frames first, first + step, ... (`count` of them) to float planes, the k-th one into
// left[k * outStep] (and right[k * outStep] when there are two planes). Planes side by side
// take outStep 1, interleaved ones right = left + 1 and outStep 2. The bytes must hold every
// frame named.
void DecodeStrided(const std::uint8_t* bytes, std::size_t first, std::size_t count,
                   std::size_t step, const SampleFormat& format, float* left, float* right,
                   std::size_t outStep = 1);

// Decodes `frames` frames to float planes (PlaneCount of them).
void DecodeToPlanes(const std::uint8_t* bytes, std::size_t frames, const SampleFormat& format,
                    std::vector<float>& left, std::vector<float>& right, int* planes);

// Float to a 16-bit sample: rounded, clipped to the 16-bit range.
std::int16_t FloatToS16(float v);
// The same for `n` floats, and not-a-number to 0.
void FloatsToS16(const float* in, std::size_t n, std::int16_t* out);
