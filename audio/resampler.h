// SPDX-License-Identifier: GPL-3.0-or-later
// Sample-rate conversion of whole sounds, done once when a buffer is unlocked. A Kaiser-windowed
// sinc whose cutoff sits below the lower of the two Nyquist frequencies, so that nothing above the
// output's Nyquist folds back as an audible alias (a linear interpolator lets it through).
#pragma once

#include "audio/sample_format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Frames a sound of `frames` frames has at the new rate: ceil(frames * outRate / inRate).
std::size_t ResampledLength(std::size_t frames, std::uint32_t inRate, std::uint32_t outRate);

// Converts one channel. The signal is taken as silent before its first and after its last
// sample. `out` receives ResampledLength(...) samples. Equal rates copy.
void ResampleChannel(const float* in, std::size_t frames, std::uint32_t inRate,
                     std::uint32_t outRate, std::vector<float>& out);

// The exact 2:1 case (44100 -> 22050, 48000 -> 24000, ...), straight from a buffer's bytes in any
// sample encoding to interleaved 16-bit frames at half the rate, one plane for mono and two for
// everything else. A fixed symmetric FIR of 111 taps: flat within 0.01 dB up to 0.204 of the
// input rate, at least 85 dB down from a quarter of it (the output's Nyquist frequency) upwards.
// `out` receives ResampledLength(frames, 2, 1) * PlaneCount(format) samples.
void HalveRate(const std::uint8_t* bytes, std::size_t frames, const SampleFormat& format,
               std::int16_t* out);
// Whether HalveRate may use 512-bit vectors where the processor has them (it may, unless a test
// wants the 256-bit loop on such a processor). Returns the previous setting.
bool AllowWideHalving(bool allow);

// Interleaves float planes (full scale 1.0) into 16-bit frames, rounded and clipped as
// FloatToS16 does.
void InterleaveToS16(const float* const* planes, int count, std::size_t frames, std::int16_t* out);
