// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/limiter.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numbers>

namespace {

constexpr int kOversample = 4;
constexpr int kHalfTaps = 8; // taps on each side of the point interpolated
constexpr double kAttackS = 0.0025;
constexpr double kHoldS = 0.05; // a period of 20 Hz
constexpr double kReleaseS = 0.1;

// Windowed-sinc taps for the points between two frames, phase by phase.
struct Taps {
    float h[kOversample - 1][2 * kHalfTaps];
    Taps() {
        for (int p = 1; p < kOversample; ++p) {
            const double f = static_cast<double>(p) / kOversample;
            double sum = 0.0;
            for (int k = 0; k < 2 * kHalfTaps; ++k) {
                const double x = (k - kHalfTaps + 1) - f; // frame offset from the point
                const double pix = std::numbers::pi * x;
                const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(pix) / pix;
                const double w = 0.5 + 0.5 * std::cos(std::numbers::pi * x / kHalfTaps);
                h[p - 1][k] = static_cast<float>(sinc * w);
                sum += sinc * w;
            }
            for (float& v : h[p - 1])
                v = static_cast<float>(v / sum);
        }
    }
};

// The true peak (full scale 1.0) of each frame and the points after it, over the channels.
std::vector<float> TruePeaks(const std::int16_t* samples, std::size_t frames, unsigned channels) {
    static const Taps taps;
    std::vector<float> peaks(frames, 0.0f);
    std::vector<float> x(frames + 2 * kHalfTaps, 0.0f);
    for (unsigned c = 0; c < channels; ++c) {
        for (std::size_t n = 0; n < frames; ++n)
            x[kHalfTaps + n] = samples[n * channels + c] * (1.0f / 32768.0f);
        for (std::size_t n = 0; n < frames; ++n) {
            // The window of taps for the points between frame n and n + 1.
            const float* in = x.data() + n + 1;
            float peak = std::abs(in[kHalfTaps - 1]);
            for (const auto& h : taps.h) {
                float y = 0.0f;
                for (int k = 0; k < 2 * kHalfTaps; ++k)
                    y += in[k] * h[k];
                peak = std::max(peak, std::abs(y));
            }
            peaks[n] = std::max(peaks[n], peak);
        }
    }
    return peaks;
}

// The largest of in[n - back .. n + ahead] for each n.
std::vector<float> SlidingMax(const std::vector<float>& in, std::size_t back, std::size_t ahead) {
    std::vector<float> out(in.size());
    std::deque<std::size_t> window; // indices of falling values
    std::size_t next = 0;
    for (std::size_t n = 0; n < in.size(); ++n) {
        for (; next < in.size() && next <= n + ahead; ++next) {
            while (!window.empty() && in[window.back()] <= in[next])
                window.pop_back();
            window.push_back(next);
        }
        while (window.front() + back < n)
            window.pop_front();
        out[n] = in[window.front()];
    }
    return out;
}

} // namespace

LimitCurve::LimitCurve(const std::int16_t* samples, std::size_t frames, unsigned channels,
                       std::uint32_t rate) {
    std::vector<float> env;
    if (samples != nullptr && frames != 0 && channels != 0 && rate != 0) {
        const auto attack = static_cast<std::size_t>(kAttackS * rate) + 1;
        // Each frame's peak reaches every frame within the attack; the mean over the attack
        // around a frame is then at least its own peak, and it rises in a straight line.
        const std::vector<float> reach =
            SlidingMax(TruePeaks(samples, frames, channels), attack, attack);
        // Before the first frame and after the last, the nearest frame's reach stands in.
        const auto at = [&](std::ptrdiff_t j) {
            return reach[static_cast<std::size_t>(
                std::clamp<std::ptrdiff_t>(j, 0, static_cast<std::ptrdiff_t>(frames) - 1))];
        };
        const auto a = static_cast<std::ptrdiff_t>(attack);
        double sum = 0.0;
        for (std::ptrdiff_t j = -a; j <= a; ++j)
            sum += at(j);
        env.resize(frames);
        for (std::size_t n = 0; n < frames; ++n) {
            env[n] = static_cast<float>(sum / static_cast<double>(2 * attack + 1));
            const auto i = static_cast<std::ptrdiff_t>(n);
            sum += at(i + a + 1) - at(i - a);
        }
        env = SlidingMax(env, static_cast<std::size_t>(kHoldS * rate), 0);
        const auto release = static_cast<float>(std::exp(-1.0 / (kReleaseS * rate)));
        for (std::size_t n = 1; n < frames; ++n)
            env[n] = std::max(env[n], env[n - 1] * release);
    }
    // A node bounds the stretches on both sides of it, so the straight line between two nodes
    // stays under the gain each frame allows.
    const float ceiling = std::pow(10.0f, kCeilingDb / 20.0f);
    const std::size_t chunks = (env.size() + kStep - 1) / kStep;
    std::vector<float> loudest(chunks, 0.0f);
    for (std::size_t n = 0; n < env.size(); ++n)
        loudest[n / kStep] = std::max(loudest[n / kStep], env[n]);
    m_nodes.resize(chunks + 1);
    for (std::size_t k = 0; k <= chunks; ++k) {
        float peak = 0.0f;
        if (k < chunks)
            peak = loudest[k];
        if (k > 0)
            peak = std::max(peak, loudest[k - 1]);
        m_nodes[k] = ceiling / std::max(peak, 1e-6f);
    }
}

void LimitCurve::Cap(std::uint32_t from, std::size_t frames, float scale, float* gains) const {
    // Node by node, so that the inner loop is a straight line the compiler vectorises.
    for (std::size_t j = 0; j < frames;) {
        const std::uint32_t frame = from + static_cast<std::uint32_t>(j);
        const std::size_t k = frame / kStep;
        const std::uint32_t into = frame % kStep;
        const std::size_t run = std::min<std::size_t>(frames - j, kStep - into);
        float start = m_nodes.back() * scale;
        float step = 0.0f;
        if (k + 1 < m_nodes.size()) {
            step = (m_nodes[k + 1] - m_nodes[k]) * (scale / kStep);
            start = m_nodes[k] * scale + step * static_cast<float>(into);
        }
        float* g = gains + j;
        for (std::size_t i = 0; i < run; ++i)
            g[i] = std::min(g[i], start + step * static_cast<float>(i));
        j += run;
    }
}

float LimitCurve::Least(std::uint32_t from, std::size_t frames) const {
    const std::size_t first = std::min<std::size_t>(from / kStep, m_nodes.size() - 1);
    const std::size_t last = std::min<std::size_t>(
        (from + std::max<std::size_t>(frames, 1) - 1) / kStep + 1, m_nodes.size() - 1);
    return *std::min_element(m_nodes.begin() + static_cast<std::ptrdiff_t>(first),
                             m_nodes.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}
