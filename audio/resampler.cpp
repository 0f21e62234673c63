// The filter: a sinc with 32 zero crossings on each side, Kaiser window beta 9 (stopband about
// 90 dB down), sampled 512 times per zero crossing and linearly interpolated between table
// entries. Its -6 dB point sits at 0.455 of the lower rate, so the transition band ends at that
// rate's Nyquist frequency.
#include "audio/resampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

constexpr int kZeroCrossings = 32;
constexpr int kSteps = 512;
constexpr double kBeta = 9.0;
constexpr double kCutoff = 0.91; // of the lower Nyquist frequency
constexpr std::size_t kTableSize = kZeroCrossings * kSteps + 2;

double BesselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 64; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) {
            break;
        }
    }
    return sum;
}

// h(t) for t = i / kSteps zero crossings, t in [0, kZeroCrossings]; zero beyond.
const std::array<float, kTableSize>& KernelTable() {
    static const std::array<float, kTableSize> table = [] {
        std::array<float, kTableSize> t{};
        const double denom = BesselI0(kBeta);
        for (std::size_t i = 0; i < kTableSize; ++i) {
            double x = static_cast<double>(i) / kSteps;
            if (x >= kZeroCrossings) {
                t[i] = 0.0f;
                continue;
            }
            double sinc = x == 0.0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
            double r = x / kZeroCrossings;
            double window = BesselI0(kBeta * std::sqrt(1.0 - r * r)) / denom;
            t[i] = static_cast<float>(sinc * window);
        }
        return t;
    }();
    return table;
}

} // namespace

std::size_t ResampledLength(std::size_t frames, std::uint32_t inRate, std::uint32_t outRate) {
    if (inRate == 0 || outRate == 0) {
        return 0;
    }
    // Buffers hold at most 2^28 bytes and rates stay below 2^19: no overflow in 64 bits.
    std::uint64_t n = static_cast<std::uint64_t>(frames) * outRate + inRate - 1;
    return static_cast<std::size_t>(n / inRate);
}

namespace {

double Kernel(const std::array<float, kTableSize>& table, double zeroCrossings) {
    double x = std::fabs(zeroCrossings) * kSteps;
    std::size_t i = static_cast<std::size_t>(x);
    if (i + 1 >= kTableSize) {
        return 0.0;
    }
    double frac = x - static_cast<double>(i);
    return table[i] + (table[i + 1] - table[i]) * frac;
}

// Any pair of rates: the kernel is looked up for every tap.
void ResampleDirect(const float* in, std::size_t frames, std::uint64_t step, std::uint64_t den,
                    double scale, double halfWidth, std::vector<float>& out) {
    const auto& table = KernelTable();
    const long long last = static_cast<long long>(frames) - 1;
    for (std::size_t n = 0; n < out.size(); ++n) {
        // Input time of output sample n: n * inRate / outRate, kept exact as whole + frac/den.
        const std::uint64_t num = static_cast<std::uint64_t>(n) * step;
        const long long whole = static_cast<long long>(num / den);
        const double t = static_cast<double>(whole) + static_cast<double>(num % den) / den;
        long long first = std::max(static_cast<long long>(std::ceil(t - halfWidth)), 0LL);
        long long end = std::min(static_cast<long long>(std::floor(t + halfWidth)), last);
        double acc = 0.0;
        for (long long k = first; k <= end; ++k) {
            acc += Kernel(table, (t - static_cast<double>(k)) * scale) * in[k];
        }
        out[n] = static_cast<float>(acc * scale);
    }
}

// Rates with a small common period (44100/22050, 8000/22050, 48000/22050, ...): one set of tap
// weights per output phase, so each output sample is a plain dot product.
void ResamplePolyphase(const float* in, std::size_t frames, std::uint64_t step, std::uint64_t den,
                       double scale, int taps, std::vector<float>& out) {
    const auto& table = KernelTable();
    const int before = taps / 2 - 1; // taps run from whole - before to whole + taps/2
    std::vector<float> weights(static_cast<std::size_t>(den) * static_cast<std::size_t>(taps));
    for (std::uint64_t phase = 0; phase < den; ++phase) {
        const double f = static_cast<double>(phase) / static_cast<double>(den);
        for (int j = 0; j < taps; ++j) {
            double h = Kernel(table, (f - (j - before)) * scale) * scale;
            weights[phase * static_cast<std::uint64_t>(taps) + static_cast<std::uint64_t>(j)] =
                static_cast<float>(h);
        }
    }
    const long long count = static_cast<long long>(frames);
    for (std::size_t n = 0; n < out.size(); ++n) {
        const std::uint64_t num = static_cast<std::uint64_t>(n) * step;
        const long long first = static_cast<long long>(num / den) - before;
        const float* w = weights.data() + (num % den) * static_cast<std::uint64_t>(taps);
        float acc = 0.0f;
        if (first >= 0 && first + taps <= count) {
            const float* x = in + first;
            for (int j = 0; j < taps; ++j) {
                acc += w[j] * x[j];
            }
        } else {
            for (int j = 0; j < taps; ++j) {
                long long k = first + j;
                if (k >= 0 && k < count) {
                    acc += w[j] * in[k];
                }
            }
        }
        out[n] = acc;
    }
}

} // namespace

void ResampleChannel(const float* in, std::size_t frames, std::uint32_t inRate,
                     std::uint32_t outRate, std::vector<float>& out) {
    const std::size_t outFrames = ResampledLength(frames, inRate, outRate);
    out.assign(outFrames, 0.0f);
    if (inRate == outRate) {
        std::copy(in, in + frames, out.begin());
        return;
    }
    // Kernel units per input sample: 0.91 when upsampling, less when downsampling (the kernel
    // is stretched so its cutoff follows the output's Nyquist frequency).
    const double scale = kCutoff * std::min(1.0, static_cast<double>(outRate) / inRate);
    const double halfWidth = kZeroCrossings / scale; // in input samples
    const std::uint32_t g = std::gcd(inRate, outRate);
    const std::uint64_t step = inRate / g; // input advance per output sample, in 1/den
    const std::uint64_t den = outRate / g;
    const int taps = 2 * (static_cast<int>(std::ceil(halfWidth)) + 1);
    if (den * static_cast<std::uint64_t>(taps) <= (1u << 20)) {
        ResamplePolyphase(in, frames, step, den, scale, taps, out);
    } else {
        ResampleDirect(in, frames, step, den, scale, halfWidth, out);
    }
}
