// Trim, fades and gain in the mix, frame by frame at 1000 Hz (one frame a millisecond), and the
// loudness measurement against BS.1770's own figures for a sine.
#include "audio/loudness.h"
#include "audio/offline_output.h"
#include "sound_output_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr std::uint32_t kRate = 1000;

TEST(SoundOutputShape, TrimFadesAndGainAtKnownFrames) {
    struct Case {
        const char* name;
        bool ramp; // samples 10 * i + 1, else 10000 throughout
        std::uint32_t start, end, fadeIn, fadeOut;
        float gain;
        int fadeOutAt; // frame at which a stop by command comes; -1 none
        std::vector<std::int16_t> left;
    };
    // The half-cosine over 4 frames: 0, 0.1464, 0.5, 0.8536, 1.
    const Case cases[] = {
        {"trim", true, 3, 7, 0, 0, 1.0f, -1, {31, 41, 51, 61, 0, 0}},
        {"end past the sound plays to its end", true, 17, 50, 0, 0, 1.0f, -1, {171, 181, 191, 0}},
        {"fade-in", false, 14, 0, 4, 0, 1.0f, -1, {0, 1464, 5000, 8536, 10000, 10000, 0}},
        {"fade-in from the trim's start", false, 18, 0, 2, 0, 1.0f, -1, {0, 5000, 0}},
        {"fade-out by command",
         false,
         0,
         0,
         0,
         4,
         1.0f,
         2,
         {10000, 10000, 10000, 8536, 5000, 1464, 0, 0}},
        {"no fade-out at the natural end",
         false,
         14,
         0,
         0,
         4,
         1.0f,
         -1,
         {10000, 10000, 10000, 10000, 10000, 10000, 0}},
        {"natural end inside the fade-out", false, 17, 0, 0, 4, 1.0f, 1, {10000, 10000, 8536, 0}},
        {"stop without fade-out cuts", false, 0, 0, 4, 0, 1.0f, 3, {0, 1464, 5000, 0, 0}},
        {"gain", false, 17, 0, 0, 0, 0.25f, -1, {2500, 2500, 2500, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OfflineSoundOutput out(kRate);
        std::vector<std::int16_t> samples(20, 10000);
        for (std::size_t i = 0; c.ramp && i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>(10 * i + 1);
        SoundBufferPtr b = MakeMono16(out.Device(), kRate, samples);
        ASSERT_TRUE(b);
        ISoundBufferShape* shape = QueryBufferShape(b.get());
        ASSERT_NE(shape, nullptr);
        ASSERT_EQ(shape->SetShape(c.start, c.end, c.fadeIn, c.fadeOut, c.gain), DS_OK);
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        std::vector<std::int16_t> mixed;
        const std::size_t total = c.left.size();
        const std::size_t first = c.fadeOutAt < 0 ? total : static_cast<std::size_t>(c.fadeOutAt);
        out.Render(first, mixed);
        if (c.fadeOutAt >= 0) {
            shape->FadeOutOwner(0);
            out.Render(total - first, mixed);
        }
        EXPECT_EQ(Channel(mixed, 0), c.left);
        // Every case ends in silence: the voice has stopped.
        std::uint32_t status = 1;
        b->GetStatus(&status);
        EXPECT_EQ(status, 0u);
    }
}

TEST(SoundOutputShape, AStartDuringTheFadeOutCutsItAndFadesInAgain) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, std::vector<std::int16_t>(20, 10000));
    ISoundBufferShape* shape = QueryBufferShape(b.get());
    ISoundBufferSchedule* schedule = QueryBufferSchedule(b.get());
    ASSERT_TRUE(shape && schedule);
    shape->SetShape(0, 0, 2, 4, 1.0f);
    std::uint64_t frame = 0;
    ASSERT_EQ(schedule->PlayAtNextBlock(&frame, 7), DS_OK);
    std::vector<std::int16_t> mixed;
    out.Render(3, mixed);
    shape->FadeOutOwner(7);
    out.Render(2, mixed);
    ASSERT_EQ(schedule->PlayAtFrame(6, 8), DS_OK);
    out.Render(4, mixed);
    EXPECT_EQ(Channel(mixed, 0),
              (std::vector<std::int16_t>{0, 5000, 10000, 10000, 8536, 5000, 0, 5000, 10000}));
}

TEST(SoundOutputShape, ASecondStopDuringTheFadeOutLetsItGoOn) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, std::vector<std::int16_t>(20, 10000));
    ISoundBufferShape* shape = QueryBufferShape(b.get());
    ASSERT_TRUE(shape);
    shape->SetShape(0, 0, 0, 4, 1.0f);
    b->Play(0, 0, 0);
    std::vector<std::int16_t> mixed;
    out.Render(1, mixed);
    shape->FadeOutOwner(3);
    out.Render(2, mixed);
    shape->FadeOutOwner(0);
    out.Render(4, mixed);
    EXPECT_EQ(Channel(mixed, 0), (std::vector<std::int16_t>{10000, 10000, 8536, 5000, 1464, 0, 0}));
}

TEST(Loudness, SineAgainstBs1770Figures) {
    // A 1 kHz sine at -20 dBFS reads -20 - 3.01 LUFS in one channel of two (BS.1770 weights
    // 1 kHz at 0 dB after its -0.691 offset), 3.01 dB more on both; mono plays on both sides.
    struct Case {
        const char* name;
        unsigned channels;
        bool rightToo;
        double lufs;
    };
    const Case cases[] = {
        {"left only", 2, false, -23.01},
        {"both sides", 2, true, -20.0},
        {"mono is dual mono", 1, false, -20.0},
    };
    const std::uint32_t rate = 48000;
    const double amplitude = 32767.0 * std::pow(10.0, -20.0 / 20.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::int16_t> samples;
        for (std::uint32_t i = 0; i < 5 * rate; ++i) {
            const double v = amplitude * std::sin(2.0 * std::numbers::pi * 1000.0 * i / rate);
            samples.push_back(static_cast<std::int16_t>(std::lround(v)));
            if (c.channels == 2)
                samples.push_back(c.rightToo ? samples.back() : 0);
        }
        const std::optional<Loudness> l =
            MeasureLoudness(samples.data(), 5 * rate, c.channels, rate);
        ASSERT_TRUE(l);
        EXPECT_NEAR(l->dIntegratedLufs, c.lufs, 0.05);
        EXPECT_NEAR(l->dTruePeakDb, -20.0, 0.05);
        // To -16 LUFS would need more than the peak allows: the peak lands on -1 dBTP.
        const double gainDb = 20.0 * std::log10(LoudnessGain(*l, -16.0));
        EXPECT_NEAR(gainDb, std::min(-16.0 - c.lufs, 19.0), 0.05);
        EXPECT_NEAR(20.0 * std::log10(LoudnessGain(*l, -30.0)), -30.0 - c.lufs, 0.05);
    }
    const std::vector<std::int16_t> silence(4800, 0);
    const std::optional<Loudness> quiet = MeasureLoudness(silence.data(), 4800, 1, rate);
    ASSERT_TRUE(quiet);
    EXPECT_EQ(LoudnessGain(*quiet, -16.0), 1.0f);
}

} // namespace
