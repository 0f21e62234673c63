// SPDX-License-Identifier: GPL-3.0-or-later
// The mix runs at the device's rate (or the forced one) while the primary buffer keeps reporting
// the format the program set, and a device of another rate taking over keeps every sound at its
// pitch and its place.
#include "audio/offline_output.h"
#include "sound_output_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

// Amplitude (full scale 1) of the `hz` component of the left channel.
double LeftAmplitude(const std::vector<std::int16_t>& x, std::size_t from, std::size_t n, double hz,
                     double rate) {
    double s = 0;
    double c = 0;
    for (std::size_t i = from; i < from + n; ++i) {
        const double v = x[2 * i] / 32768.0;
        const double ph = 2 * std::numbers::pi * hz * static_cast<double>(i) / rate;
        s += v * std::sin(ph);
        c += v * std::cos(ph);
    }
    return 2 * std::hypot(s, c) / static_cast<double>(n);
}

double LeftRms(const std::vector<std::int16_t>& x, std::size_t from, std::size_t n) {
    double sum = 0;
    for (std::size_t i = from; i < from + n; ++i)
        sum += (x[2 * i] / 32768.0) * (x[2 * i] / 32768.0);
    return std::sqrt(sum / static_cast<double>(n));
}

TEST(MixRate, DeviceRateUnlessForcedAndThePrimaryReportsWhatWasSet) {
    struct Case {
        std::uint32_t device;
        std::uint32_t forced;
        std::uint32_t mix;
        bool airSurvives; // 15 kHz from a 48 kHz file
    };
    const Case cases[] = {
        {48000, 0, 48000, true},
        {44100, 0, 44100, true},
        {48000, 22050, 22050, false},
    };
    constexpr double kAmplitude = 0.5;
    std::vector<std::int16_t> tone(48000 / 2);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(
            std::lround(kAmplitude * 32767 * std::sin(2 * std::numbers::pi * 15000 * i / 48000.0)));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.device << " Hz device, forced " << c.forced);
        OfflineSoundOutput out(c.device, c.forced);
        DSBUFFERDESC d;
        d.dwFlags = DSBCAPS_PRIMARYBUFFER;
        SoundBufferPtr primary;
        ASSERT_EQ(out.Device()->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);
        FormatRecord set = PlainFormat(WAVE_FORMAT_PCM, 2, 22050, 16);
        ASSERT_EQ(primary->SetFormat(&set.head), DS_OK);
        WAVEFORMATEX got{};
        ASSERT_EQ(primary->GetFormat(&got, sizeof got, nullptr), DS_OK);
        EXPECT_EQ(got.nSamplesPerSec, 22050u);
        EXPECT_EQ(got.nAvgBytesPerSec, 88200u);
        SoundOutputInfo info;
        ASSERT_TRUE(GetSoundOutputInfo(out.Device(), &info));
        EXPECT_EQ(info.nSamplesPerSec, c.mix);

        SoundBufferPtr b = MakeMono16(out.Device(), 48000, tone);
        ASSERT_TRUE(b);
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        const std::vector<std::int16_t> mix = out.Render(c.mix / 2);
        // 0.4 s from 0.05 s on: whole periods, away from the filter's edges.
        const std::size_t from = c.mix / 20;
        const std::size_t n = c.mix * 2 / 5;
        if (c.airSurvives)
            EXPECT_NEAR(LeftAmplitude(mix, from, n, 15000, c.mix), kAmplitude, kAmplitude * 0.01);
        else // nothing folds back below the mix's Nyquist frequency either: 70 dB down
            EXPECT_LT(LeftRms(mix, from, n), kAmplitude * 0.7071 * 3.2e-4);
    }
}

// 100 ms at 1000 Hz, 40 ms of it played, then a device of 8000 Hz takes over: the sound goes on
// from the same moment at the same level and ends 60 ms later, whether a block was stretched
// before the new preparation arrived or not.
TEST(MixRate, ADeviceOfAnotherRatePreparesBuffersAgainAndKeepsTheirPlace) {
    OfflineSoundOutput out(1000);
    SoundBufferPtr b = MakeMono16(out.Device(), 1000, std::vector<std::int16_t>(100, 5000));
    ASSERT_TRUE(b);
    b->Play(0, 0, 0);
    out.Render(40);
    out.SetDeviceRate(8000);
    std::vector<std::int16_t> after = out.Render(80);
    ASSERT_TRUE(out.WaitPrepared());
    out.Render(520, after);
    SoundOutputInfo info;
    ASSERT_TRUE(GetSoundOutputInfo(out.Device(), &info));
    EXPECT_EQ(info.nSamplesPerSec, 8000u);
    const std::vector<std::int16_t> left = Channel(after, 0);
    // Away from the edges, where the filter rings.
    EXPECT_NEAR(left[100], 5000, 50);
    EXPECT_NEAR(left[150], 5000, 50);
    std::size_t end = left.size();
    while (end > 0 && left[end - 1] == 0)
        --end;
    EXPECT_NEAR(static_cast<double>(end), 480, 1);
    std::uint32_t status = 1;
    b->GetStatus(&status);
    EXPECT_EQ(status, 0u);
}

} // namespace
