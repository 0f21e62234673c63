// SPDX-License-Identifier: GPL-3.0-or-later
// Gain above 0 dB under the true-peak limiter, the sends to the main and the monitor output, and
// a running playback's level, at known frames of the offline output.
#include "audio/loudness.h"
#include "audio/mixer.h"
#include "audio/offline_output.h"
#include "sound_output_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr std::uint32_t kRate = 48000;

double Db(double v) {
    return 20.0 * std::log10(v);
}

TEST(SoundOutputBoost, LimiterHoldsTruePeakWithoutPumping) {
    struct Case {
        const char* name;
        bool square; // full scale, else a sine at 0.9
        double hz;
        float gainDb, liveDb;
    };
    const Case cases[] = {
        {"square +12", true, 1000, 12, 0},      {"square +3 and live +9", true, 441, 3, 9},
        {"sine 50 Hz +12", false, 50, 12, 0},   {"sine 3 kHz +6", false, 3000, 6, 0},
        {"live +12 alone", false, 1000, 0, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OfflineSoundOutput out(kRate);
        std::vector<std::int16_t> samples(kRate);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double s = std::sin(2 * std::numbers::pi * c.hz * static_cast<double>(i) / kRate);
            samples[i] = static_cast<std::int16_t>(c.square ? (s >= 0 ? 32767 : -32767)
                                                            : std::lround(0.9 * 32767 * s));
        }
        SoundBufferPtr b = MakeMono16(out.Device(), kRate, samples);
        MixerVoice* voice = QueryMixerVoice(b.get());
        ASSERT_TRUE(voice);
        voice->StoreGainDb(c.gainDb);
        voice->StoreLiveDb(c.liveDb);
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        const std::vector<std::int16_t> mixed = out.Render(kRate);
        const std::optional<Loudness> l = MeasureLoudness(mixed.data(), kRate, 2, kRate);
        ASSERT_TRUE(l);
        EXPECT_LE(l->dTruePeakDb, -1.0);
        EXPECT_GE(l->dTruePeakDb, -2.0); // limited, not muted
        // After the attack, the loudest sample of each 50 ms stays put.
        std::vector<double> peaks;
        const std::vector<std::int16_t> left = Channel(mixed, 0);
        for (std::size_t at = kRate / 10; at + kRate / 20 <= left.size() - kRate / 20;
             at += kRate / 20) {
            int peak = 0;
            for (std::size_t i = at; i < at + kRate / 20; ++i)
                peak = std::max(peak, std::abs(static_cast<int>(left[i])));
            peaks.push_back(peak);
        }
        const auto [low, high] = std::minmax_element(peaks.begin(), peaks.end());
        EXPECT_LT(Db(*high / *low), 0.1);
    }
}

TEST(SoundOutputBoost, SendsReachTheirOutputs) {
    OfflineSoundOutput out(kRate);
    const OutputSend sends[] = {OutputSend::Both, OutputSend::Main, OutputSend::Monitor};
    const std::int16_t levels[] = {1000, 2000, 4000};
    std::vector<SoundBufferPtr> buffers;
    for (int i = 0; i < 3; ++i) {
        buffers.push_back(
            MakeMono16(out.Device(), kRate, std::vector<std::int16_t>(960, levels[i])));
        QueryMixerVoice(buffers.back().get())->StoreSend(sends[i]);
        ASSERT_EQ(buffers.back()->Play(0, 0, 0), DS_OK);
    }
    std::vector<std::int16_t> main, monitor;
    out.Render(240, main, &monitor);
    // Without a monitor its voices are silent, yet keep their time.
    out.Render(240, main);
    QueryMixerVoice(buffers[1].get())->StoreSend(OutputSend::Monitor);
    out.Render(240, main, &monitor);
    std::vector<std::int16_t> expectMain(480, 3000), expectMonitor(480, 5000);
    expectMain.resize(960, 3000);
    expectMain.resize(1440, 1000);
    expectMonitor.resize(960, 7000);
    EXPECT_EQ(main, expectMain);
    EXPECT_EQ(monitor, expectMonitor);
    out.Render(240, main);
    EXPECT_EQ(main.back(), 1000);
    out.Render(1, main);
    EXPECT_EQ(main.back(), 0) << "the monitor's voice ended with the others";
}

TEST(SoundOutputBoost, LiveLevelRampsAndStaysAcrossRepeats) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeMono16(out.Device(), kRate, std::vector<std::int16_t>(4800, 8000));
    MixerVoice* voice = QueryMixerVoice(b.get());
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    std::vector<std::int16_t> mixed;
    out.Render(48, mixed);
    const float targets[] = {6, -30, 0, 9};
    std::size_t from = 48;
    float was = 1;
    for (const float db : targets) {
        SCOPED_TRACE(db);
        voice->StoreLiveDb(db);
        out.Render(480, mixed);
        const std::vector<std::int16_t> left = Channel(mixed, 0);
        const float to = std::pow(10.0f, db / 20);
        // A 5 ms ramp: each frame moves at most a 240th of the way, and it gets there.
        const double step = 8000.0 * std::abs(to - was) / 240 + 1.5;
        for (std::size_t i = from + 1; i < left.size(); ++i)
            ASSERT_LE(std::abs(left[i] - left[i - 1]), step) << i;
        EXPECT_NEAR(left.back(), 8000 * to, 1);
        EXPECT_GT(std::abs(left[from + 120] - left.back()), step) << "no ramp at all";
        from = left.size();
        was = to;
    }
    EXPECT_EQ(voice->LiveDb(), 9.0f);
    std::vector<std::int16_t> repeat;
    ASSERT_EQ(QueryBufferSchedule(b.get())->PlayAtFrame(out.FramesRendered() + 10, 1), DS_OK);
    out.Render(20, repeat);
    EXPECT_EQ(Channel(repeat, 0).back(), Channel(mixed, 0).back());
}

} // namespace
