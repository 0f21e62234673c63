// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr double kPeakCeilingDb = -1.0;
// BS.1770's gating block and absolute gate.
constexpr unsigned long kBlockMs = 400;
constexpr double kAbsoluteGateLufs = -70.0;

struct StateDeleter {
    void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
};

} // namespace

std::optional<Loudness> MeasureLoudness(const std::int16_t* samples, std::size_t frames,
                                        unsigned channels, std::uint32_t rate) {
    if (samples == nullptr || frames == 0 || channels < 1 || channels > 2 || rate == 0)
        return std::nullopt;
    std::unique_ptr<ebur128_state, StateDeleter> st(
        ebur128_init(channels, rate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
    if (!st)
        return std::nullopt;
    if (channels == 1 && ebur128_set_channel(st.get(), 0, EBUR128_DUAL_MONO) != EBUR128_SUCCESS)
        return std::nullopt;
    if (ebur128_add_frames_short(st.get(), samples, frames) != EBUR128_SUCCESS)
        return std::nullopt;
    Loudness result{};
    // libebur128's first gating block is four of its 100 ms steps, each whole frames; its 400 ms
    // window is 0.4 * rate frames, up to two fewer at a rate that is no multiple of ten.
    const std::size_t firstBlock = 4 * ((std::size_t{rate} + 5) / 10);
    const std::size_t window = std::size_t{rate} * kBlockMs / 1000;
    if (frames >= firstBlock) {
        if (ebur128_loudness_global(st.get(), &result.dIntegratedLufs) != EBUR128_SUCCESS)
            return std::nullopt;
    } else {
        // Shorter than one gating block, a sound has no gated loudness: it is measured over its
        // whole length, K-weighted but ungated. Padded with silence to the window, the window
        // holds all of its energy, spread over more frames than the sound has.
        const std::size_t padding = frames < window ? window - frames : 0;
        const std::vector<std::int16_t> silence(padding * channels, 0);
        double windowLufs = 0.0;
        if ((padding > 0 &&
             ebur128_add_frames_short(st.get(), silence.data(), padding) != EBUR128_SUCCESS) ||
            ebur128_loudness_window(st.get(), kBlockMs, &windowLufs) != EBUR128_SUCCESS)
            return std::nullopt;
        const double lufs = windowLufs + 10.0 * std::log10(static_cast<double>(window) /
                                                           static_cast<double>(window - padding));
        // Below the absolute gate it is silence, as a longer sound's blocks would be.
        result.dIntegratedLufs = lufs >= kAbsoluteGateLufs ? lufs : -HUGE_VAL;
    }
    double peak = 0.0;
    for (unsigned c = 0; c < channels; ++c) {
        double channelPeak = 0.0;
        if (ebur128_true_peak(st.get(), c, &channelPeak) != EBUR128_SUCCESS)
            return std::nullopt;
        peak = std::max(peak, channelPeak);
    }
    result.dTruePeakDb = peak > 0.0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
    return result;
}

float LoudnessGain(const Loudness& loudness, double targetLufs) {
    if (!std::isfinite(loudness.dIntegratedLufs) || !std::isfinite(loudness.dTruePeakDb))
        return 1.0f;
    const double db =
        std::min(targetLufs - loudness.dIntegratedLufs, kPeakCeilingDb - loudness.dTruePeakDb);
    return static_cast<float>(std::pow(10.0, db / 20.0));
}
