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

void ResampleChannel(const float* in, std::size_t frames, std::uint32_t inRate,
                     std::uint32_t outRate, std::vector<float>& out) {
    const std::size_t outFrames = ResampledLength(frames, inRate, outRate);
    out.assign(outFrames, 0.0f);
    if (inRate == outRate) {
        std::copy(in, in + frames, out.begin());
        return;
    }
    const auto& table = KernelTable();
    // Kernel units per input sample: 1 when upsampling, outRate/inRate when downsampling (the
    // kernel is stretched so its cutoff follows the output's Nyquist frequency).
    const double scale = kCutoff * std::min(1.0, static_cast<double>(outRate) / inRate);
    const double halfWidth = kZeroCrossings / scale; // in input samples
    const std::uint32_t g = std::gcd(inRate, outRate);
    const std::uint64_t step = inRate / g; // input advance per output sample, in 1/den
    const std::uint64_t den = outRate / g;
    const long long last = static_cast<long long>(frames) - 1;
    for (std::size_t n = 0; n < outFrames; ++n) {
        // Input time of output sample n: n * inRate / outRate, kept exact as whole + frac/den.
        const std::uint64_t num = static_cast<std::uint64_t>(n) * step;
        const long long whole = static_cast<long long>(num / den);
        const double t = static_cast<double>(whole) + static_cast<double>(num % den) / den;
        long long first = static_cast<long long>(std::ceil(t - halfWidth));
        long long end = static_cast<long long>(std::floor(t + halfWidth));
        first = std::max(first, 0LL);
        end = std::min(end, last);
        double acc = 0.0;
        for (long long k = first; k <= end; ++k) {
            double x = std::fabs(t - static_cast<double>(k)) * scale * kSteps;
            std::size_t i = static_cast<std::size_t>(x);
            if (i + 1 >= kTableSize) {
                continue;
            }
            double frac = x - static_cast<double>(i);
            double h = table[i] + (table[i + 1] - table[i]) * frac;
            acc += h * in[k];
        }
        out[n] = static_cast<float>(acc * scale);
    }
}
