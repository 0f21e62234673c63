// SPDX-License-Identifier: GPL-3.0-or-later
// The general filter: a sinc with 32 zero crossings on each side, Kaiser window beta 9 (stopband
// about 90 dB down), sampled 512 times per zero crossing and linearly interpolated between table
// entries. Its -6 dB point sits at 0.455 of the lower rate, so the transition band ends at that
// rate's Nyquist frequency.
#include "audio/resampler.h"

#include "audio/cpu_dispatch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>
#include <utility>

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

using V8 = float __attribute__((vector_size(32)));
// The same, for loads and stores at any float address. A typedef: clang keeps the full 32-byte
// alignment on a `using` alias and then faults on unaligned addresses.
typedef float V8u __attribute__((vector_size(32), aligned(4), may_alias));
static_assert(alignof(V8u) == 4);
#define LOAD8(p) (*reinterpret_cast<const V8u*>(p))

// Sum of w[j] * x[j] for j < n, n a multiple of 8.
OTOMARU_SIMD_CLONES
float Dot(const float* w, const float* x, int n) {
    V8 acc{};
    for (int j = 0; j < n; j += 8) {
        acc += LOAD8(w + j) * LOAD8(x + j);
    }
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
}

// Tap weights for `rows` phases f = r / phases (r < rows), `taps` of them per phase, running
// from whole - before to whole + taps - 1 - before around input time whole + f.
std::vector<float> PhaseWeights(std::uint64_t phases, std::uint64_t rows, double scale, int taps,
                                int before) {
    const auto& table = KernelTable();
    std::vector<float> weights(static_cast<std::size_t>(rows) * static_cast<std::size_t>(taps));
    for (std::uint64_t r = 0; r < rows; ++r) {
        const double f = static_cast<double>(r) / static_cast<double>(phases);
        for (int j = 0; j < taps; ++j) {
            double h = Kernel(table, (f - (j - before)) * scale) * scale;
            weights[r * static_cast<std::uint64_t>(taps) + static_cast<std::uint64_t>(j)] =
                static_cast<float>(h);
        }
    }
    return weights;
}

// Sum of w[j] * in[first + j] for j < taps, the signal silent outside [0, count).
float Convolve(const float* w, const float* in, long long first, long long count, int taps) {
    if (first >= 0 && first + taps <= count) {
        return Dot(w, in + first, taps);
    }
    float acc = 0.0f;
    for (int j = 0; j < taps; ++j) {
        long long k = first + j;
        if (k >= 0 && k < count) {
            acc += w[j] * in[k];
        }
    }
    return acc;
}

// Rates with a small common period (8000/22050, 48000/22050, ...): one set of tap weights per
// output phase, so each output sample is a plain dot product.
void ResamplePolyphase(const float* in, std::size_t frames, std::uint64_t step, std::uint64_t den,
                       double scale, int taps, std::vector<float>& out) {
    const int before = taps / 2 - 1;
    const std::vector<float> weights = PhaseWeights(den, den, scale, taps, before);
    const long long count = static_cast<long long>(frames);
    for (std::size_t n = 0; n < out.size(); ++n) {
        const std::uint64_t num = static_cast<std::uint64_t>(n) * step;
        const long long first = static_cast<long long>(num / den) - before;
        const float* w = weights.data() + (num % den) * static_cast<std::uint64_t>(taps);
        out[n] = Convolve(w, in, first, count, taps);
    }
}

// Any other pair of rates: weights for kBankPhases phases per input sample, and for each output
// sample the two rows around its phase blended into one set (the whole row at once, not tap by
// tap), then one dot product.
constexpr std::uint64_t kBankPhases = 256;

OTOMARU_SIMD_CLONES
void Blend(const float* a, const float* b, float t, int n, float* w) {
    for (int j = 0; j < n; j += 8) {
        const V8 x = LOAD8(a + j);
        *reinterpret_cast<V8u*>(w + j) = x + t * (LOAD8(b + j) - x);
    }
}

void ResampleInterpolated(const float* in, std::size_t frames, std::uint64_t step,
                          std::uint64_t den, double scale, int taps, std::vector<float>& out) {
    const int before = taps / 2 - 1;
    const std::vector<float> bank = PhaseWeights(kBankPhases, kBankPhases + 1, scale, taps, before);
    std::vector<float> w(static_cast<std::size_t>(taps));
    const long long count = static_cast<long long>(frames);
    for (std::size_t n = 0; n < out.size(); ++n) {
        // Input time of output sample n: n * inRate / outRate, kept exact as whole + frac/den.
        const std::uint64_t num = static_cast<std::uint64_t>(n) * step;
        const long long first = static_cast<long long>(num / den) - before;
        const double position =
            static_cast<double>(num % den) * kBankPhases / static_cast<double>(den);
        const auto row = static_cast<std::size_t>(position);
        const float t = static_cast<float>(position - static_cast<double>(row));
        const float* a = bank.data() + row * static_cast<std::size_t>(taps);
        Blend(a, a + taps, t, taps, w.data());
        out[n] = Convolve(w.data(), in, first, count, taps);
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
    // A multiple of 8 for the vector loop; the extra weights are zero.
    const int taps = (2 * (static_cast<int>(std::ceil(halfWidth)) + 1) + 7) / 8 * 8;
    if (den * static_cast<std::uint64_t>(taps) <= (1u << 20)) {
        ResamplePolyphase(in, frames, step, den, scale, taps, out);
    } else {
        ResampleInterpolated(in, frames, step, den, scale, taps, out);
    }
}

namespace {

// The 2:1 filter, split into its even taps (k = -54, -52, ..., 54, led by a zero) and its odd
// taps (k = -55, -53, ..., 55) so that each half runs over contiguous input: the even and the
// odd frames of a block, kept apart, with their channels interleaved.
constexpr int kHalfReach = 55;
constexpr int kPhaseTaps = kHalfReach + 1; // taps per half
constexpr int kLead = kPhaseTaps / 2;      // 28: tap i of either half is 2 (i - kLead) + phase
constexpr double kHalfCutoff = 0.226;      // -6 dB point, of the input rate
constexpr double kHalfBeta = 8.3;
constexpr int kTapRoom = 64;         // taps per half as stored: the last eight are zero
constexpr std::size_t kGroup = 256;  // floats of output per step, a multiple of every kernel's
constexpr std::size_t kBlock = 1024; // frames per block: the inputs stay in the first-level cache
constexpr std::size_t kSpan = kBlock + kTapRoom - 1;

struct HalfTaps {
    float even[kTapRoom];
    float odd[kTapRoom];
};

const HalfTaps& HalfRateTaps() {
    static const HalfTaps taps = [] {
        double h[2 * kHalfReach + 1];
        double sum = 0.0;
        const double denom = BesselI0(kHalfBeta);
        for (int k = -kHalfReach; k <= kHalfReach; ++k) {
            const double x = 2.0 * kHalfCutoff * k;
            const double sinc = k == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
            const double r = static_cast<double>(k) / (kHalfReach + 1);
            const double window = BesselI0(kHalfBeta * std::sqrt(1.0 - r * r)) / denom;
            h[k + kHalfReach] = 2.0 * kHalfCutoff * sinc * window;
            sum += h[k + kHalfReach];
        }
        HalfTaps t{};
        // Unity gain at DC, so that levels come through unchanged.
        for (int i = 0; i < kPhaseTaps; ++i) {
            const int even = 2 * (i - kLead);
            const int odd = even + 1;
            t.even[i] = even < -kHalfReach ? 0.0f : static_cast<float>(h[even + kHalfReach] / sum);
            t.odd[i] = static_cast<float>(h[odd + kHalfReach] / sum);
        }
        return t;
    }();
    return taps;
}

// y[n] = sum of even[i] * e[n + kPlanes i] and odd[i] * o[n + kPlanes i] for the first
// groups * kGroup floats of y (frames of kPlanes interleaved channels), in vectors of type V.
//
// Blocked so that loads stop being the limit: taps i and i + width / kPlanes of neighbouring
// output vectors read the same input vector, so kHeld taps held in registers against kOut output
// vectors need kOut + kHeld - 1 loads for kOut * kHeld multiply-adds, where one tap at a time
// needed a load for each. kOut independent sums also keep the multiply-add units busy.
template <class V, int kOut, int kHeld> struct HalfRateKernel {
    static constexpr int kWidth = sizeof(V) / sizeof(float);

    // One input vector's part in the kOut sums: tap kM - j of output vector j, where it is held.
    template <int kM, int... kJ>
    [[gnu::always_inline]] static void Feed(const float* x, const V* c, V* a,
                                            std::integer_sequence<int, kJ...>) {
        V v;
        std::memcpy(&v, x + kWidth * kM, sizeof v);
        (
            [&] {
                if constexpr (kM - kJ >= 0 && kM - kJ < kHeld)
                    a[kJ] += c[kM - kJ] * v;
            }(),
            ...);
    }

    template <int... kM>
    [[gnu::always_inline]] static void FeedAll(const float* x, const V* c, V* a,
                                               std::integer_sequence<int, kM...>) {
        (Feed<kM>(x, c, a, std::make_integer_sequence<int, kOut>{}), ...);
    }

    template <int kPlanes>
    [[gnu::always_inline]] static void Run(const float* e, const float* o, const HalfTaps& taps,
                                           std::size_t groups, float* y) {
        constexpr int kStride = kWidth / kPlanes; // taps apart that share input vectors
        constexpr int kRuns = (kPhaseTaps + kStride * kHeld - 1) / (kStride * kHeld);
        static_assert(kStride * kHeld * kRuns <= kTapRoom);
        constexpr std::size_t kStep = static_cast<std::size_t>(kOut * kWidth);
        static_assert(kGroup % kStep == 0);
        for (std::size_t g = 0; g < groups * (kGroup / kStep); ++g) {
            V a[kOut] = {};
            for (int phase = 0; phase < 2; ++phase) {
                const float* in = (phase == 0 ? e : o) + g * kStep;
                const float* weights = phase == 0 ? taps.even : taps.odd;
                for (int r = 0; r < kStride; ++r) {
                    for (int run = 0; run < kRuns; ++run) {
                        const int first = kHeld * run; // c[u] is tap r + kStride * (first + u)
                        V c[kHeld];
                        for (int u = 0; u < kHeld; ++u)
                            c[u] = V{} + weights[r + kStride * (first + u)];
                        FeedAll(in + kPlanes * r + kWidth * first, c, a,
                                std::make_integer_sequence<int, kOut + kHeld - 1>{});
                    }
                }
            }
            for (int j = 0; j < kOut; ++j)
                std::memcpy(y + g * kStep + static_cast<std::size_t>(kWidth * j), &a[j],
                            sizeof a[j]);
        }
    }
};

// Eight sums, seven taps held: sixteen 256-bit registers.
template <int kPlanes>
OTOMARU_SIMD_CLONES void HalfRateBlock(const float* e, const float* o, const HalfTaps& taps,
                                       std::size_t groups, float* y) {
    HalfRateKernel<V8, 8, 7>::template Run<kPlanes>(e, o, taps, groups, y);
}

#if OTOMARU_HAVE_WIDE_CLONE
// Sixteen sums in 512-bit vectors where the processor has them: twice the multiply-adds an
// instruction, and 32 registers. Mono holds four taps (64 with the zero tail, in steps of 16).
using V16 = float __attribute__((vector_size(64)));

template <int kPlanes>
__attribute__((target("arch=x86-64-v4"))) void WideHalfRateBlock(const float* e, const float* o,
                                                                 const HalfTaps& taps,
                                                                 std::size_t groups, float* y) {
    HalfRateKernel<V16, 16, kPlanes == 2 ? 7 : 4>::template Run<kPlanes>(e, o, taps, groups, y);
}
#endif

std::atomic<bool> g_wideHalving{true};

template <int kPlanes>
void HalfRateBlocks(const float* e, const float* o, const HalfTaps& taps, std::size_t groups,
                    float* y) {
#if OTOMARU_HAVE_WIDE_CLONE
    static const bool wide = __builtin_cpu_supports("x86-64-v4");
    if (wide && g_wideHalving.load(std::memory_order_relaxed)) {
        WideHalfRateBlock<kPlanes>(e, o, taps, groups, y);
        return;
    }
#endif
    HalfRateBlock<kPlanes>(e, o, taps, groups, y);
}

// Fills e and o with frames 2 m0, 2 m0 + 2, ... and 2 m0 + 1, 2 m0 + 3, ... (`length` of each,
// `planes` floats per frame), silence outside the sound.
void FillPhases(const std::uint8_t* bytes, std::size_t frames, const SampleFormat& format,
                int planes, long long m0, std::size_t length, float* e, float* o) {
    const long long total = static_cast<long long>(frames);
    const long long from = std::clamp(2 * m0, 0LL, total); // always even
    const long long to = std::clamp(2 * (m0 + static_cast<long long>(length)), 0LL, total);
    const auto skip = static_cast<std::size_t>((from - 2 * m0) / 2);
    const auto evens = static_cast<std::size_t>((to - from + 1) / 2);
    const auto odds = static_cast<std::size_t>((to - from) / 2);
    const auto p = static_cast<std::size_t>(planes);
    std::fill(e, e + skip * p, 0.0f);
    std::fill(e + (skip + evens) * p, e + length * p, 0.0f);
    std::fill(o, o + skip * p, 0.0f);
    std::fill(o + (skip + odds) * p, o + length * p, 0.0f);
    const auto first = static_cast<std::size_t>(from);
    float* e0 = e + skip * p;
    float* o0 = o + skip * p;
    DecodeStrided(bytes, first, evens, 2, format, e0, planes == 2 ? e0 + 1 : nullptr, p);
    DecodeStrided(bytes, first + 1, odds, 2, format, o0, planes == 2 ? o0 + 1 : nullptr, p);
}

} // namespace

void HalveRate(const std::uint8_t* bytes, std::size_t frames, const SampleFormat& format,
               std::int16_t* out) {
    const HalfTaps& taps = HalfRateTaps();
    const int planes = PlaneCount(format);
    const auto p = static_cast<std::size_t>(planes);
    const std::size_t outFrames = ResampledLength(frames, 2, 1);
    // One heap block for the working set (about 25 KB), whatever the sound's length.
    struct Work {
        float even[2 * kSpan];
        float odd[2 * kSpan];
        float y[2 * kBlock];
    };
    auto work = std::make_unique_for_overwrite<Work>();
    for (std::size_t n0 = 0; n0 < outFrames; n0 += kBlock) {
        const std::size_t count = std::min(kBlock, outFrames - n0);
        const std::size_t groups = (count * p + kGroup - 1) / kGroup;
        const std::size_t padded = groups * kGroup / p; // frames the groups cover
        FillPhases(bytes, frames, format, planes, static_cast<long long>(n0) - kLead,
                   padded + kTapRoom - 1, work->even, work->odd);
        if (planes == 2) {
            HalfRateBlocks<2>(work->even, work->odd, taps, groups, work->y);
        } else {
            HalfRateBlocks<1>(work->even, work->odd, taps, groups, work->y);
        }
        FloatsToS16(work->y, count * p, out + n0 * p);
    }
}

bool AllowWideHalving(bool allow) {
    return g_wideHalving.exchange(allow);
}

void InterleaveToS16(const float* const* planes, int count, std::size_t frames, std::int16_t* out) {
    if (count == 1) {
        FloatsToS16(planes[0], frames, out);
        return;
    }
    // Through a small interleaved block, so that the conversion loop stays one plain loop.
    constexpr std::size_t kChunk = 512;
    float both[2 * kChunk];
    for (std::size_t at = 0; at < frames; at += kChunk) {
        const std::size_t n = std::min(kChunk, frames - at);
        for (std::size_t i = 0; i < n; ++i) {
            both[2 * i] = planes[0][at + i];
            both[2 * i + 1] = planes[1][at + i];
        }
        FloatsToS16(both, 2 * n, out + 2 * at);
    }
}
