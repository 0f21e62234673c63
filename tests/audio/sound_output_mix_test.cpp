// SPDX-License-Identifier: GPL-3.0-or-later
// The mix: volume and pan laws, summing and limiting, and what Play, Stop, SetCurrentPosition and
// Release do to the sound block by block, rendered offline at a tiny rate with exact values.
#include "audio/offline_output.h"
#include "sound_output_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr std::uint32_t kRate = 1000;

std::vector<std::int16_t> Ramp(std::size_t n) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::int16_t>(10 * i + 1);
    }
    return v;
}

TEST(SoundOutputMix, VolumeAndPanLaws) {
    struct Case {
        const char* name;
        std::int32_t volume;
        std::int32_t pan;
        std::int16_t left;
        std::int16_t right;
    };
    // Source 10000; 10^(-600/2000) = 0.501187.
    const Case cases[] = {
        {"centre full", 0, 0, 10000, 10000},
        {"volume -600", -600, 0, 5012, 5012},
        {"volume -2000", -2000, 0, 1000, 1000},
        {"volume -10000 silent", -10000, 0, 0, 0},
        {"pan right 600 lowers left", 0, 600, 5012, 10000},
        {"pan left 600 lowers right", 0, -600, 10000, 5012},
        {"pan hard right", 0, 10000, 0, 10000},
        {"pan hard left", 0, -10000, 10000, 0},
        {"volume and pan add", -600, 1400, 1000, 5012},
        {"sum below -10000 stays silent", -5000, -6000, 32, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OfflineSoundOutput out(kRate);
        SoundBufferPtr b = MakeMono16(out.Device(), kRate, {10000, 10000});
        ASSERT_TRUE(b);
        ASSERT_EQ(b->SetVolume(c.volume), DS_OK);
        ASSERT_EQ(b->SetPan(c.pan), DS_OK);
        b->Play(0, 0, 0);
        EXPECT_EQ(out.Render(2), (std::vector<std::int16_t>{c.left, c.right, c.left, c.right}));
    }
}

TEST(SoundOutputMix, StereoKeepsItsSidesAndPanScalesEach) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeBuffer(out.Device(), PlainFormat(WAVE_FORMAT_PCM, 2, kRate, 16),
                                  S16Bytes({8000, -4000, 8000, -4000}));
    ASSERT_TRUE(b);
    b->SetPan(-600);
    b->Play(0, 0, 0);
    EXPECT_EQ(out.Render(1), (std::vector<std::int16_t>{8000, -2005}));
}

TEST(SoundOutputMix, VoicesAreSummedAndClippedNeverWrapped) {
    struct Case {
        const char* name;
        std::vector<std::int16_t> voices; // one constant level per voice
        std::int16_t expected;
    };
    const Case cases[] = {
        {"three voices", {1000, 2000, -500}, 2500},
        {"ten full scale", std::vector<std::int16_t>(10, 32767), 32767},
        {"ten negative full scale", std::vector<std::int16_t>(10, -32768), -32768},
        {"two just over", {20000, 20000}, 32767},
        {"cancel out", {32767, -32767}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OfflineSoundOutput out(kRate);
        std::vector<SoundBufferPtr> buffers;
        for (std::int16_t level : c.voices) {
            buffers.push_back(MakeMono16(out.Device(), kRate, {level, level, level}));
            ASSERT_TRUE(buffers.back());
            buffers.back()->Play(0, 0, 0);
        }
        auto frames = out.Render(3);
        EXPECT_EQ(frames, std::vector<std::int16_t>(6, c.expected));
    }
}

TEST(SoundOutputMix, PlayIsHeardInTheNextBlockAndStopSilencesTheNext) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, std::vector<std::int16_t>(100, 1000));
    ASSERT_TRUE(b);
    EXPECT_EQ(out.Render(4), std::vector<std::int16_t>(8, 0));
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    std::uint32_t status = 0;
    b->GetStatus(&status);
    EXPECT_EQ(status, DSBSTATUS_PLAYING);
    EXPECT_EQ(out.Render(4), std::vector<std::int16_t>(8, 1000));
    ASSERT_EQ(b->Stop(), DS_OK);
    b->GetStatus(&status);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out.Render(4), std::vector<std::int16_t>(8, 0));
}

TEST(SoundOutputMix, StopKeepsThePositionAndPlayResumesThere) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, Ramp(50));
    ASSERT_TRUE(b);
    b->Play(0, 0, 0);
    out.Render(10);
    b->Stop();
    out.Render(5);
    b->Play(0, 0, 0);
    EXPECT_EQ(Channel(out.Render(2), 0), (std::vector<std::int16_t>{101, 111}));
}

TEST(SoundOutputMix, RestartFromTheStartWhilePlaying) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, Ramp(50));
    ASSERT_TRUE(b);
    b->Play(0, 0, 0);
    EXPECT_EQ(Channel(out.Render(3), 0), (std::vector<std::int16_t>{1, 11, 21}));
    out.Render(20);
    // What the device layer does to play a sound from its start: Stop, position 0, Play.
    b->Stop();
    b->SetCurrentPosition(0);
    b->Play(0, 0, 0);
    EXPECT_EQ(Channel(out.Render(3), 0), (std::vector<std::int16_t>{1, 11, 21}));
    // Without the Stop, on a playing buffer.
    b->SetCurrentPosition(0);
    b->Play(0, 0, 0);
    EXPECT_EQ(Channel(out.Render(2), 0), (std::vector<std::int16_t>{1, 11}));
    // A byte offset of the buffer's own format: byte 20 is frame 10.
    b->SetCurrentPosition(20);
    EXPECT_EQ(Channel(out.Render(2), 0), (std::vector<std::int16_t>{101, 111}));
}

TEST(SoundOutputMix, PlaysToItsEndOnceThenStopsAtPositionZero) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, Ramp(25));
    ASSERT_TRUE(b);
    b->SetCurrentPosition(2 * 20);
    b->Play(0, 0, 0);
    std::vector<std::int16_t> want = {201, 211, 221, 231, 241, 0, 0, 0};
    EXPECT_EQ(Channel(out.Render(8), 0), want);
    std::uint32_t status = 1;
    b->GetStatus(&status);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(Channel(out.Render(3), 0), (std::vector<std::int16_t>{0, 0, 0}));
    b->Play(0, 0, 0); // from the start again
    EXPECT_EQ(Channel(out.Render(2), 0), (std::vector<std::int16_t>{1, 11}));
}

TEST(SoundOutputMix, PlayOnAPlayingBufferChangesNothing) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, Ramp(6));
    ASSERT_TRUE(b);
    b->Play(0, 0, 0);
    out.Render(2);
    b->Play(0, 0, 0);
    EXPECT_EQ(Channel(out.Render(6), 0), (std::vector<std::int16_t>{21, 31, 41, 51, 0, 0}));
}

TEST(SoundOutputMix, PanAndVolumeWhilePlayingTakeEffectAtTheNextBlock) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, std::vector<std::int16_t>(30, 10000));
    ASSERT_TRUE(b);
    b->Play(0, 0, 0);
    EXPECT_EQ(out.Render(2), (std::vector<std::int16_t>{10000, 10000, 10000, 10000}));
    b->SetPan(10000);
    EXPECT_EQ(out.Render(2), (std::vector<std::int16_t>{0, 10000, 0, 10000}));
    b->SetVolume(-600);
    EXPECT_EQ(out.Render(1), (std::vector<std::int16_t>{0, 5012}));
    b->SetPan(0);
    b->SetVolume(-10000);
    EXPECT_EQ(out.Render(1), (std::vector<std::int16_t>{0, 0}));
}

TEST(SoundOutputMix, ReleaseWhileSoundingFallsSilentAtOnce) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, Ramp(30));
    SoundBufferPtr other = MakeMono16(out.Device(), kRate, Ramp(30));
    ASSERT_TRUE(b && other);
    b->Play(0, 0, 0);
    other->Play(0, 0, 0);
    out.Render(10);
    b.reset();
    // Only the buffer still held sounds on.
    auto left = Channel(out.Render(25), 0);
    std::vector<std::int16_t> want = Ramp(30);
    want.erase(want.begin(), want.begin() + 10);
    want.resize(25, 0);
    EXPECT_EQ(left, want);
    other.reset();
    SoundOutputInfo info;
    ASSERT_TRUE(GetSoundOutputInfo(out.Device(), &info));
    EXPECT_EQ(info.nFramesMixed, 35u);
    EXPECT_EQ(info.nActiveVoices, 0u);
    EXPECT_EQ(out.FramesRendered(), 35u);
}

TEST(SoundOutputMix, BuffersOutliveTheirDeviceSafelyAndSilently) {
    SoundBufferPtr playing;
    SoundBufferPtr idle;
    {
        OfflineSoundOutput out(kRate);
        playing = MakeMono16(out.Device(), kRate, Ramp(100));
        idle = MakeMono16(out.Device(), kRate, Ramp(100));
        ASSERT_TRUE(playing && idle);
        playing->Play(0, 0, 0);
        out.Render(5);
    }
    std::uint32_t status = 1;
    playing->GetStatus(&status);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(playing->Stop(), DS_OK);
    EXPECT_NE(idle->Play(0, 0, 0), DS_OK); // nothing can sound any more: reported
    EXPECT_EQ(idle->SetVolume(-100), DS_OK);
    playing.reset();
    idle.reset();
}

TEST(SoundOutputMix, FloatMixCarriesTheSumBeforeLimiting) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr a = MakeMono16(out.Device(), kRate, {16384, 0});
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, {32767, 0});
    ASSERT_TRUE(a && b);
    a->Play(0, 0, 0);
    b->Play(0, 0, 0);
    std::vector<float> mix;
    out.RenderFloat(1, mix);
    ASSERT_EQ(mix.size(), 2u);
    EXPECT_FLOAT_EQ(mix[0], 0.5f + 32767.0f / 32768.0f);
    EXPECT_FLOAT_EQ(mix[1], mix[0]);
}

// Amplitude of the component at `hz` over the window, by correlation.
double Amplitude(const std::vector<float>& x, std::size_t from, std::size_t n, double hz,
                 double rate) {
    double s = 0;
    double c = 0;
    for (std::size_t i = from; i < from + n; ++i) {
        double ph = 2 * std::numbers::pi * hz * static_cast<double>(i) / rate;
        s += x[i] * std::sin(ph);
        c += x[i] * std::cos(ph);
    }
    return 2 * std::hypot(s, c) / static_cast<double>(n);
}

double Rms(const std::vector<float>& x, std::size_t from, std::size_t n) {
    double sum = 0;
    for (std::size_t i = from; i < from + n; ++i) {
        sum += static_cast<double>(x[i]) * x[i];
    }
    return std::sqrt(sum / static_cast<double>(n));
}

std::vector<std::int16_t> Sine(double hz, double rate, double amplitude, std::size_t n) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::int16_t>(
            std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * hz * i / rate)));
    }
    return v;
}

std::vector<float> LeftFloat(OfflineSoundOutput& out, std::size_t frames) {
    std::vector<float> mix;
    out.RenderFloat(frames, mix);
    std::vector<float> left;
    for (std::size_t i = 0; i < mix.size(); i += 2) {
        left.push_back(mix[i]);
    }
    return left;
}

TEST(SoundOutputMix, ResamplingKeepsPitchAndLevel) {
    struct Case {
        std::uint32_t sourceRate;
        std::uint32_t outputRate;
        double hz;
    };
    const Case cases[] = {{44100, 22050, 1000}, {44101, 22050, 1000}, {8000, 22050, 440},
                          {48000, 22050, 3000}, {22050, 44100, 5000}, {11025, 22050, 2000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sourceRate << " -> " << c.outputRate);
        OfflineSoundOutput out(c.outputRate);
        SoundBufferPtr b =
            MakeMono16(out.Device(), c.sourceRate, Sine(c.hz, c.sourceRate, 0.5, c.sourceRate));
        ASSERT_TRUE(b);
        b->Play(0, 0, 0);
        std::vector<float> left = LeftFloat(out, c.outputRate + 100);
        // One second of sound is one second of output, then silence.
        EXPECT_GT(Rms(left, c.outputRate - 200, 100), 0.3);
        EXPECT_LT(Rms(left, c.outputRate + 50, 50), 1e-3);
        const std::size_t from = c.outputRate / 4;
        const std::size_t n = c.outputRate / 2;
        EXPECT_NEAR(Amplitude(left, from, n, c.hz, c.outputRate), 0.5, 0.005);
        // Played at the wrong speed it would sit at hz * ratio.
        double wrong = c.hz * c.outputRate / c.sourceRate;
        EXPECT_LT(Amplitude(left, from, n, wrong, c.outputRate), 0.005);
    }
}

TEST(SoundOutputMix, ContentAboveTheOutputNyquistIsRemoved) {
    // A linear interpolator lets these through as aliases (15 kHz would land at 7050 Hz).
    // 44101 Hz takes the path without per-phase tables.
    for (std::uint32_t rate : {44100u, 44101u}) {
        for (double hz : {11600.0, 15000.0, 20000.0}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz source, " << hz << " Hz tone");
            OfflineSoundOutput out(22050);
            SoundBufferPtr b = MakeMono16(out.Device(), rate, Sine(hz, rate, 0.5, rate));
            ASSERT_TRUE(b);
            b->Play(0, 0, 0);
            std::vector<float> left = LeftFloat(out, 22050);
            // Quieter than -70 dB against the 0.5 amplitude tone that went in.
            EXPECT_LT(Rms(left, 2000, 18000), 0.5 * 0.7071 * 3.2e-4);
        }
    }
    // Just below the output's Nyquist band edge the tone passes.
    OfflineSoundOutput out(22050);
    SoundBufferPtr b = MakeMono16(out.Device(), 44100, Sine(9000, 44100, 0.5, 44100));
    ASSERT_TRUE(b);
    b->Play(0, 0, 0);
    std::vector<float> left = LeftFloat(out, 22050);
    EXPECT_NEAR(Rms(left, 2000, 18000), 0.5 * 0.7071, 0.01);
}

} // namespace
