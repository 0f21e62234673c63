#include "audio/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr double kPeakCeilingDb = -1.0;

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
    if (ebur128_loudness_global(st.get(), &result.dIntegratedLufs) != EBUR128_SUCCESS)
        return std::nullopt;
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
