// SPDX-License-Identifier: GPL-3.0-or-later
// Loudness after EBU R128 (ITU-R BS.1770): integrated loudness and true peak, measured with
// libebur128 so that the figures are the ones other tools give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

struct Loudness {
    double dIntegratedLufs; // -HUGE_VAL for a sound below the absolute gate (silence)
    double dTruePeakDb;     // dBTP; -HUGE_VAL for silence
};

// Interleaved 16-bit samples, one or two channels. One channel is taken as played here, on both
// sides at full level (dual mono). A sound shorter than one 400 ms gating block gets its
// loudness over its whole length, without the gate. Nothing for no frames, a bad layout or a
// failed measurement.
std::optional<Loudness> MeasureLoudness(const std::int16_t* samples, std::size_t frames,
                                        unsigned channels, std::uint32_t rate);

// The gain that brings a sound of this loudness to `targetLufs`, limited so that its true peak
// stays at or below -1 dBTP. 1 for a silent sound.
float LoudnessGain(const Loudness& loudness, double targetLufs);
