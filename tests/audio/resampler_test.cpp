// SPDX-License-Identifier: GPL-3.0-or-later
// The 2:1 path that nearly every effect takes when it loads (44100 Hz files, 22050 Hz output):
// its frequency response, its block seams and edges, every sample encoding feeding it, the
// rounding of its output, and the silence a buffer plays before anything is written to it.
#include "audio/offline_output.h"
#include "audio/resampler.h"
#include "audio/sample_format.h"

#include "sound_output_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

namespace {

SampleFormat Format(SampleKind kind, std::uint16_t channels, std::uint32_t rate = 44100) {
    std::uint16_t bytes = 2;
    switch (kind) {
    case SampleKind::U8:
        bytes = 1;
        break;
    case SampleKind::S16:
        bytes = 2;
        break;
    case SampleKind::S24:
        bytes = 3;
        break;
    case SampleKind::S32:
    case SampleKind::F32:
        bytes = 4;
        break;
    }
    SampleFormat f;
    f.kind = kind;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<std::uint16_t>(channels * bytes);
    f.dwChannelMask = 0;
    return f;
}

std::vector<std::int16_t> Halve(const std::vector<std::int16_t>& interleaved, int channels) {
    const SampleFormat f = Format(SampleKind::S16, static_cast<std::uint16_t>(channels));
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    std::vector<std::int16_t> out(ResampledLength(frames, 2, 1) *
                                  static_cast<std::size_t>(PlaneCount(f)));
    HalveRate(reinterpret_cast<const std::uint8_t*>(interleaved.data()), frames, f, out.data());
    return out;
}

// Amplitude (full scale 1.0) of the component at `hz` in channel `c` of interleaved samples.
double Amplitude(const std::vector<std::int16_t>& x, int channels, int c, std::size_t from,
                 std::size_t n, double hz, double rate) {
    double s = 0;
    double k = 0;
    for (std::size_t i = from; i < from + n; ++i) {
        const double v =
            x[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] / 32768.0;
        const double ph = 2 * std::numbers::pi * hz * static_cast<double>(i) / rate;
        s += v * std::sin(ph);
        k += v * std::cos(ph);
    }
    return 2 * std::hypot(s, k) / static_cast<double>(n);
}

double Rms(const std::vector<std::int16_t>& x, int channels, int c, std::size_t from,
           std::size_t n) {
    double sum = 0;
    for (std::size_t i = from; i < from + n; ++i) {
        const double v =
            x[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] / 32768.0;
        sum += v * v;
    }
    return std::sqrt(sum / static_cast<double>(n));
}

// One second of stereo at 44100 Hz: a tone of `left` Hz on the left, `right` Hz on the right.
std::vector<std::int16_t> StereoTones(double left, double right, double amplitude) {
    std::vector<std::int16_t> v(2 * 44100);
    for (std::size_t i = 0; i < 44100; ++i) {
        const double t = static_cast<double>(i) / 44100;
        v[2 * i] = static_cast<std::int16_t>(
            std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * left * t)));
        v[2 * i + 1] = static_cast<std::int16_t>(
            std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * right * t)));
    }
    return v;
}

// Every test of the 2:1 path runs on both of its loops: 256-bit and, where the processor has
// them, 512-bit vectors (on other processors both runs take the 256-bit loop).
class HalveRateLoop : public ::testing::TestWithParam<bool> {
protected:
    HalveRateLoop() : m_previous(AllowWideHalving(GetParam())) {}
    ~HalveRateLoop() override { AllowWideHalving(m_previous); }

private:
    bool m_previous;
};

INSTANTIATE_TEST_SUITE_P(Widths, HalveRateLoop, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& width) {
                             return width.param ? "Wide" : "Narrow";
                         });

TEST_P(HalveRateLoop, PassesTheBandAndRemovesWhatWouldAlias) {
    struct Case {
        double hz;
        bool passes;
    };
    // Passband flat within 0.02 dB up to 9 kHz; 80 dB down from the output's Nyquist frequency.
    const Case cases[] = {{100, true},    {1000, true},   {5000, true},
                          {9000, true},   {11025, false}, {11600, false},
                          {15000, false}, {20000, false}, {22000, false}};
    const double amplitude = 0.5;
    for (const Case& c : cases) {
        // The other channel carries a different tone: no crosstalk in either direction.
        const double other = c.hz == 1000 ? 3000 : 1000;
        SCOPED_TRACE(testing::Message() << c.hz << " Hz");
        const std::vector<std::int16_t> out = Halve(StereoTones(c.hz, other, amplitude), 2);
        ASSERT_EQ(out.size(), 2u * 22050);
        // 0.8 s: a whole number of periods of every tone, so that the tones do not leak into
        // each other's measurement.
        const std::size_t from = 2205;
        const std::size_t n = 17640;
        if (c.passes) {
            EXPECT_NEAR(Amplitude(out, 2, 0, from, n, c.hz, 22050), amplitude, amplitude * 0.0025);
        } else {
            EXPECT_LT(Rms(out, 2, 0, from, n), amplitude * 0.7071 * 1e-4);
        }
        EXPECT_NEAR(Amplitude(out, 2, 1, from, n, other, 22050), amplitude, amplitude * 0.0025);
        if (c.passes) {
            EXPECT_LT(Amplitude(out, 2, 1, from, n, c.hz, 22050), 1e-4);
        }
        EXPECT_LT(Amplitude(out, 2, 0, from, n, other, 22050), 1e-4);
    }
}

// An impulse comes out as the filter itself: symmetric about its place, wherever it sits
// relative to the blocks the work is cut into, and summing to half the impulse per phase.
TEST_P(HalveRateLoop, ImpulseResponseIsSymmetricAcrossBlockSeams) {
    const std::size_t frames = 8192 + 11;
    for (std::size_t at :
         {std::size_t{1000}, std::size_t{1001}, std::size_t{2046}, std::size_t{2047},
          std::size_t{2048}, std::size_t{2049}, std::size_t{4095}, std::size_t{6170}}) {
        SCOPED_TRACE(testing::Message() << "impulse at frame " << at);
        std::vector<std::int16_t> in(frames, 0);
        in[at] = 16384;
        const std::vector<std::int16_t> out = Halve(in, 1);
        ASSERT_EQ(out.size(), (frames + 1) / 2);
        // Even frames sit on an output sample, odd ones halfway between two.
        const std::size_t q = at / 2;
        const std::size_t right = q + (at % 2);
        long sum = 0;
        for (std::size_t j = 0; j <= 40; ++j) {
            EXPECT_EQ(out[q - j], out[right + j]) << "offset " << j;
            sum += out[q - j] + (j > 0 || right != q ? out[right + j] : 0);
        }
        EXPECT_NEAR(static_cast<double>(sum), 8192.0, 8192 * 0.01);
        if (at % 2 == 0) {
            EXPECT_NEAR(out[q], 16384 * 2 * 0.226, 16384 * 0.01);
        }
        // Nothing outside the filter's reach of 55 input frames.
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (2 * i + 56 < at || 2 * i > at + 56) {
                ASSERT_EQ(out[i], 0) << "output " << i;
            }
        }
    }
}

TEST_P(HalveRateLoop, LengthsAndEdges) {
    for (std::size_t frames : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{63},
                               std::size_t{64}, std::size_t{65}, std::size_t{2047},
                               std::size_t{2048}, std::size_t{2049}, std::size_t{5001}}) {
        SCOPED_TRACE(testing::Message() << frames << " frames");
        // A constant comes out unchanged (unity gain at DC) away from the ends, on both channels
        // and through every block seam; at the ends it fades as the silence around it is mixed in.
        std::vector<std::int16_t> in(2 * frames);
        for (std::size_t i = 0; i < frames; ++i) {
            in[2 * i] = 10000;
            in[2 * i + 1] = -20000;
        }
        const std::vector<std::int16_t> out = Halve(in, 2);
        const std::size_t outFrames = (frames + 1) / 2;
        ASSERT_EQ(out.size(), 2 * outFrames);
        for (std::size_t n = 0; n < outFrames; ++n) {
            if (2 * n >= 56 && 2 * n + 56 < frames) {
                ASSERT_NEAR(out[2 * n], 10000, 1) << "frame " << n;
                ASSERT_NEAR(out[2 * n + 1], -20000, 2) << "frame " << n;
            }
        }
        // The first output sits on the first input, with silence on one side: the taps from the
        // centre on, half the filter plus half its centre tap (0.452).
        if (frames > 56) {
            EXPECT_NEAR(out[0], 10000 * 0.726, 60);
            EXPECT_NEAR(out[1], -20000 * 0.726, 120);
        }
    }
}

// Every sample encoding reaches the 2:1 path through the same decoder: the same signal in
// another encoding gives the same output (to the encoding's precision).
TEST_P(HalveRateLoop, EveryEncodingGivesTheSameSound) {
    const std::size_t frames = 3001;
    std::vector<std::int16_t> reference(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        reference[2 * i] = static_cast<std::int16_t>(std::lround(20000 * std::sin(0.05 * i)));
        reference[2 * i + 1] = static_cast<std::int16_t>(std::lround(-9000 * std::sin(0.11 * i)));
    }
    const std::vector<std::int16_t> expected = Halve(reference, 2);
    struct Case {
        const char* name;
        SampleKind kind;
        int tolerance;
    };
    const Case cases[] = {{"24-bit", SampleKind::S24, 1},
                          {"32-bit", SampleKind::S32, 0},
                          {"float", SampleKind::F32, 0},
                          {"8-bit", SampleKind::U8, 300}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SampleFormat f = Format(c.kind, 2);
        std::vector<std::uint8_t> bytes(frames * f.nBlockAlign);
        for (std::size_t i = 0; i < 2 * frames; ++i) {
            std::uint8_t* p = bytes.data() + i * (f.nBlockAlign / 2u);
            const std::int32_t v = reference[i];
            switch (c.kind) {
            case SampleKind::U8:
                p[0] = static_cast<std::uint8_t>((v >> 8) + 128);
                break;
            case SampleKind::S24:
                p[0] = 0x5A; // low bits below 16-bit precision
                p[1] = static_cast<std::uint8_t>(v);
                p[2] = static_cast<std::uint8_t>(v >> 8);
                break;
            case SampleKind::S32: {
                const auto u = static_cast<std::uint32_t>(v) << 16;
                std::memcpy(p, &u, 4);
                break;
            }
            case SampleKind::F32: {
                const float x = static_cast<float>(v) / 32768.0f;
                std::memcpy(p, &x, 4);
                break;
            }
            case SampleKind::S16:
                break;
            }
        }
        std::vector<std::int16_t> out(expected.size());
        HalveRate(bytes.data(), frames, f, out.data());
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_NEAR(out[i], expected[i], c.tolerance) << "sample " << i;
        }
    }
    // Six channels fold down to two before the filter: front left alone ends up on the left.
    SampleFormat six = Format(SampleKind::S16, 6);
    six.dwChannelMask = 0x3F; // front pair, centre, low frequency, back pair
    std::vector<std::int16_t> surround(6 * frames, 0);
    for (std::size_t i = 0; i < frames; ++i) {
        surround[6 * i] = reference[2 * i];
    }
    std::vector<std::int16_t> folded(expected.size());
    HalveRate(reinterpret_cast<const std::uint8_t*>(surround.data()), frames, six, folded.data());
    const float weight = MakeFoldWeights(6, six.dwChannelMask).left[0];
    for (std::size_t n = 0; n < folded.size() / 2; ++n) {
        ASSERT_NEAR(folded[2 * n], expected[2 * n] * weight, 2) << "frame " << n;
        ASSERT_EQ(folded[2 * n + 1], 0) << "frame " << n;
    }
}

TEST(InterleaveToS16, RoundsAndClipsAsFloatToS16) {
    std::vector<float> left;
    std::vector<float> right;
    for (int i = -70000; i <= 70000; i += 7) {
        left.push_back(static_cast<float>(i) * 0.5f / 32768.0f); // every half step
        right.push_back(static_cast<float>(-i) * 0.5f / 32768.0f);
    }
    for (float v : {1.0f, -1.0f, 2.0f, -2.0f, 1e9f, -1e9f}) {
        left.push_back(v);
        right.push_back(-v);
    }
    const float* planes[2] = {left.data(), right.data()};
    std::vector<std::int16_t> stereo(2 * left.size());
    InterleaveToS16(planes, 2, left.size(), stereo.data());
    std::vector<std::int16_t> mono(left.size());
    InterleaveToS16(planes, 1, left.size(), mono.data());
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(stereo[2 * i], FloatToS16(left[i])) << left[i];
        ASSERT_EQ(stereo[2 * i + 1], FloatToS16(right[i])) << right[i];
        ASSERT_EQ(mono[i], stereo[2 * i]);
    }
    EXPECT_EQ(FloatToS16(1.0f), 32767);
    EXPECT_EQ(FloatToS16(-1.0f), -32768);
    EXPECT_EQ(FloatToS16(2.5f / 32768.0f), 2); // half to even
    EXPECT_EQ(FloatToS16(3.5f / 32768.0f), 4);
}

// A buffer nobody has written plays silence for its whole length (its bytes are zero), and what
// is written later is what plays.
TEST(PreparedSilence, UnwrittenBufferPlaysSilenceOfItsLength) {
    OfflineSoundOutput out(22050);
    const FormatRecord format = PlainFormat(WAVE_FORMAT_PCM, 2, 44100, 16);
    DSBUFFERDESC desc = EffectDesc(format, 4 * 4410); // 0.1 s
    SoundBufferPtr buffer;
    ASSERT_EQ(out.Device()->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    std::vector<std::int16_t> mix = out.Render(2204);
    std::uint32_t status = 0;
    buffer->GetStatus(&status);
    EXPECT_EQ(status, DSBSTATUS_PLAYING);
    mix = out.Render(2);
    for (std::int16_t s : mix) {
        ASSERT_EQ(s, 0);
    }
    buffer->GetStatus(&status);
    EXPECT_EQ(status, 0u) << "2205 frames at 22050 Hz, then the end";

    void* p1 = nullptr;
    void* p2 = nullptr;
    std::uint32_t n1 = 0;
    std::uint32_t n2 = 0;
    ASSERT_EQ(buffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
    std::vector<std::int16_t> constant(2 * 4410, 8000);
    std::memcpy(p1, constant.data(), n1);
    ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    buffer->SetCurrentPosition(0);
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    mix = out.Render(2205);
    EXPECT_NEAR(mix[2 * 1000], 8000, 2);
    EXPECT_NEAR(mix[2 * 1000 + 1], 8000, 2);
}

} // namespace
