// SPDX-License-Identifier: GPL-3.0-or-later
// Trim, fades and gain in the mix, frame by frame at 1000 Hz (one frame a millisecond), and the
// loudness measurement against BS.1770's own figures for a sine.
#include "audio/loudness.h"
#include "audio/offline_output.h"
#include "sound_output_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

namespace {

constexpr std::uint32_t kRate = 1000;

TEST(SoundOutputShape, TrimFadesAndGainAtKnownFrames) {
    struct Case {
        const char* name;
        bool ramp; // samples 10 * i + 1 of 20, else 10000 throughout
        std::uint32_t start, end, fadeIn, fadeOut;
        float gain;
        std::vector<int> stops; // frames where a stop by command comes
        int replayAt;           // frame where a start from the beginning comes; -1 none
        std::vector<std::int16_t> left;
    };
    constexpr std::int16_t F = 10000;
    // The half-cosine over 4 frames: 0, 0.1464, 0.5, 0.8536, 1; over 2: 0, 0.5, 1.
    const Case cases[] = {
        {"trim", true, 3, 7, 0, 0, 1, {}, -1, {31, 41, 51, 61, 0}},
        {"end past the sound", true, 17, 50, 0, 0, 1, {}, -1, {171, 181, 191, 0}},
        {"fade-in from the trim", false, 14, 0, 4, 0, 1, {}, -1, {0, 1464, 5000, 8536, F, F, 0}},
        {"gain", false, 17, 0, 0, 0, 0.25f, {}, -1, {2500, 2500, 2500, 0}},
        {"fade-out by command", false, 0, 0, 0, 4, 1, {2}, -1, {F, F, F, 8536, 5000, 1464, 0}},
        {"none at the natural end", false, 16, 0, 0, 4, 1, {}, -1, {F, F, F, F, 0}},
        {"natural end inside it", false, 17, 0, 0, 4, 1, {1}, -1, {F, F, 8536, 0}},
        {"no fade-out cuts", false, 0, 0, 4, 0, 1, {3}, -1, {0, 1464, 5000, 0}},
        {"a second stop goes on", false, 0, 0, 0, 4, 1, {1, 3}, -1, {F, F, 8536, 5000, 1464, 0}},
        {"a start cuts it", false, 0, 0, 2, 4, 1, {3}, 6, {0, 5000, F, F, 8536, 5000, 0, 5000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OfflineSoundOutput out(kRate);
        std::vector<std::int16_t> samples(20, 10000);
        for (std::size_t i = 0; c.ramp && i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>(10 * i + 1);
        SoundBufferPtr b = MakeMono16(out.Device(), kRate, samples);
        ISoundBufferShape* shape = QueryBufferShape(b.get());
        ASSERT_TRUE(shape);
        ASSERT_EQ(shape->SetShape(c.start, c.end, c.fadeIn, c.fadeOut, c.gain), DS_OK);
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        std::vector<std::int16_t> mixed;
        for (std::size_t frame = 0; frame < c.left.size(); ++frame) {
            if (std::find(c.stops.begin(), c.stops.end(), frame) != c.stops.end())
                shape->FadeOutOwner(0);
            if (static_cast<int>(frame) == c.replayAt)
                QueryBufferSchedule(b.get())->PlayAtFrame(frame, 1);
            out.Render(1, mixed);
        }
        EXPECT_EQ(Channel(mixed, 0), c.left);
    }
}

// A 1 kHz sine at -20 dBFS reads -20 - 3.01 LUFS in one channel of two (BS.1770 weights 1 kHz at
// 0 dB after its -0.691 offset), 3.01 dB more on both; mono plays on both sides. Shorter than one
// 400 ms gating block (at 11025 Hz libebur128's first is 4412 frames) it reads the same, measured
// whole without the gate; below the gate it is silence.
TEST(Loudness, SineAgainstBs1770Figures) {
    auto sine = [](std::uint32_t rate, std::size_t frames, unsigned channels, bool rightToo,
                   double amplitude) {
        std::vector<std::int16_t> s;
        for (std::size_t i = 0; i < frames; ++i) {
            s.push_back(static_cast<std::int16_t>(
                std::lround(amplitude * std::sin(2.0 * std::numbers::pi * 1000.0 * i / rate))));
            if (channels == 2)
                s.push_back(rightToo ? s.back() : 0);
        }
        return s;
    };
    for (const auto& [rate, frames, channels, rightToo, lufs] :
         {std::tuple{48000u, 240000u, 2u, false, -23.01},
          {48000u, 240000u, 2u, true, -20.0},
          {48000u, 240000u, 1u, false, -20.0},
          {44100u, 8820u, 1u, false, -20.0},
          {44100u, 882u, 2u, true, -20.0},
          {11025u, 4410u, 1u, false, -20.0}}) {
        const std::vector<std::int16_t> s = sine(rate, frames, channels, rightToo, 3276.7);
        const std::optional<Loudness> l = MeasureLoudness(s.data(), frames, channels, rate);
        ASSERT_TRUE(l);
        EXPECT_NEAR(l->dIntegratedLufs, lufs, 0.05) << frames << channels << rightToo;
        EXPECT_NEAR(l->dTruePeakDb, -20.0, 0.05) << frames;
        // To 0 LUFS the peak allows 19 dB at most; down to -30 it does not matter.
        EXPECT_NEAR(20 * std::log10(LoudnessGain(*l, 0)), std::min(-lufs, 19.0), 0.05);
        EXPECT_NEAR(20 * std::log10(LoudnessGain(*l, -30)), -30 - lufs, 0.05);
    }
    const std::vector<std::int16_t> silence(4800, 0);
    EXPECT_EQ(LoudnessGain(*MeasureLoudness(silence.data(), 4800, 1, 48000), -16), 1.0f);
    const std::vector<std::int16_t> quiet = sine(44100, 8820, 1, false, 3.0); // -80.7 dBFS
    EXPECT_EQ(LoudnessGain(*MeasureLoudness(quiet.data(), 8820, 1, 44100), -16), 1.0f);
}

} // namespace
