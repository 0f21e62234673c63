// SPDX-License-Identifier: GPL-3.0-or-later
// The SDL output against a real sound server: the chosen device, a monitor beside it, and the
// way back after the server goes away, heard through recorders on the null sinks' monitors.
#include "audio/output_backend.h"
#include "audio/output_config.h"
#include "tests/audio/sound_output_test_util.h"
#include "tests/support/pulse_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls until the condition holds; the time it took, or a negative duration on timeout.
Clock::duration WaitFor(const std::function<bool()>& condition, Clock::duration timeout) {
    const auto start = Clock::now();
    while (!condition()) {
        if (Clock::now() - start > timeout)
            return -1ms;
        std::this_thread::sleep_for(5ms);
    }
    return Clock::now() - start;
}

SoundBufferPtr MakeTone(const SoundDevicePtr& device, double seconds, double hz) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * PulseRig::kRate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<std::int16_t>(8000 * std::sin(i * 2 * M_PI * hz / PulseRig::kRate));
    return MakeMono16(device, PulseRig::kRate, samples);
}

OutputStatus Status(const SoundDevicePtr& device) {
    OutputStatus s;
    GetOutputStatus(device, &s);
    return s;
}

bool Settled(const SoundDevicePtr& device, const OutputRoute& route) {
    const OutputStatus s = Status(device);
    return s.main == OutputState::Playing &&
           s.monitor == (route.bMonitor ? OutputState::Playing : OutputState::Off);
}

// A null sink takes a fresh stream's first block only after about 1.7 s. The outputs of the
// route really take sound once the mix (and the monitor) move on by more than a period within
// 50 ms: a condition for WaitFor, which looks again every 50 ms until it holds.
std::function<bool()> Flowing(const SoundDevicePtr& device, const OutputRoute& route) {
    struct Mark {
        Clock::time_point at;
        std::uint64_t nMixed;
        std::uint64_t nMonitor;
    };
    auto look = [device] {
        SoundOutputInfo info;
        GetSoundOutputInfo(device, &info);
        return Mark{Clock::now(), info.nFramesMixed, Status(device).nMonitorFrames};
    };
    return [look, route, last = look()]() mutable {
        const Mark now = look();
        if (now.at - last.at < 50ms)
            return false;
        const bool flowing = now.nMixed > last.nMixed + 256 &&
                             (!route.bMonitor || now.nMonitor > last.nMonitor + 256);
        last = now;
        return flowing;
    };
}

bool Playing(const SoundBufferPtr& buffer) {
    std::uint32_t status = 0;
    return buffer->GetStatus(&status) == DS_OK && (status & DSBSTATUS_PLAYING) != 0;
}

// Whether each recorder has heard the pitch yet (a null sink's monitor hands the sound on about
// 1.4 s late).
bool Heard(const PulseRig& rig, double hz, bool onA, bool onB) {
    return (!onA || PulseRig::Level(rig.Recorded(0), hz) > 0.1) &&
           (!onB || PulseRig::Level(rig.Recorded(1), hz) > 0.1);
}

// Streams playing into the server, as pactl lists them.
int SinkInputs() {
    std::FILE* pactl = popen("pactl list short sink-inputs 2>/dev/null", "r");
    if (pactl == nullptr)
        return -1;
    int lines = 0;
    for (int c = std::fgetc(pactl); c != EOF; c = std::fgetc(pactl))
        lines += c == '\n';
    pclose(pactl);
    return lines;
}

} // namespace

TEST(PulseOutput, LeavesTheServerAloneWhileIdleAndComesBackForTheNextSoundOrARestart) {
    if (!PulseRig::Available())
        GTEST_SKIP() << "pulseaudio and parec are not installed";
    PulseRig rig;
    ASSERT_TRUE(rig.StartServer());
    ASSERT_TRUE(rig.StartRecorders());
    SoundDevicePtr device;
    ASSERT_EQ(DirectSoundCreate({{PulseRig::kSinkA, true, PulseRig::kSinkB}, 0, {}}, &device),
              DS_OK);
    BackendOf(device)->SetIdleAfter(300ms);
    SoundBufferPtr tone = MakeTone(device, 0.3, 660);
    ASSERT_TRUE(tone);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_GE(WaitFor([&] { return Status(device).bAsleep; }, 3s), 0ms);
        EXPECT_EQ(SinkInputs(), 0);
        tone->Play(0, 0, 0);
        EXPECT_GE(WaitFor([&] { return SinkInputs() == 2; }, 1s), 0ms);
    }
    ASSERT_GE(WaitFor([&] { return Status(device).bAsleep; }, 3s), 0ms);
    rig.StopRecorders();
    EXPECT_GT(PulseRig::Level(rig.Recorded(0), 660), 0.1);
    EXPECT_GT(PulseRig::Level(rig.Recorded(1), 660), 0.1);
    EXPECT_EQ(Status(device).nSleeps, 3u);

    // A server restart while asleep is still noticed (the virtual microphone is made again on it).
    const std::uint64_t returns = Status(device).nReturns;
    rig.StopServer();
    ASSERT_TRUE(rig.StartServer());
    EXPECT_GE(WaitFor([&] { return Status(device).nReturns == returns + 1; }, 3s), 0ms);
    EXPECT_GE(WaitFor([&] { return Status(device).bAsleep; }, 3s), 0ms);
    tone.reset();
    device.reset();
}

TEST(PulseOutput, PlaysOnTheChosenDevicesAndComesBackWithTheServer) {
    if (!PulseRig::Available())
        GTEST_SKIP() << "pulseaudio and parec are not installed";
    PulseRig rig;

    // Made while no server runs: the output waits, and the effect gets its buffer all the same.
    SoundDevicePtr device;
    ASSERT_EQ(DirectSoundCreate({{PulseRig::kSinkB, false, {}}, 0, {}}, &device), DS_OK);
    EXPECT_EQ(Status(device).main, OutputState::Waiting);

    std::vector<SoundBufferPtr> tones;
    for (double hz : {440.0, 880.0})
        tones.push_back(MakeTone(device, 0.3, hz));
    ASSERT_TRUE(tones[0] && tones[1]);

    ASSERT_TRUE(rig.StartServer());
    ASSERT_TRUE(rig.StartRecorders());
    const auto cameUp = WaitFor([&] { return Status(device).main == OutputState::Playing; }, 3s);
    EXPECT_GE(cameUp, 0ms);
    EXPECT_LT(cameUp, 2s);

    // Each step plays its own pitch; the recordings are read afterwards, since a null sink's
    // monitor hands the sound on about 1.4 s late.
    // The mix follows the main device's own rate (PipeWire's sinks run at its one rate).
    struct Step {
        const char* what;
        OutputRoute route;
        double hz;
        bool onA;
        bool onB;
        std::uint32_t rate;
    };
    const Step steps[] = {
        {"chosen B", {PulseRig::kSinkB, false, {}}, 440, false, true, PulseRig::kRateB},
        {"A with a monitor on B",
         {PulseRig::kSinkA, true, PulseRig::kSinkB},
         880,
         true,
         true,
         PulseRig::kRateA},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(SetOutputRoute(device, step.route));
        ASSERT_GE(WaitFor([&] { return Settled(device, step.route); }, 2s), 0ms);
        ASSERT_GE(WaitFor(Flowing(device, step.route), 4s), 0ms);
        SoundOutputInfo info;
        ASSERT_TRUE(GetSoundOutputInfo(device, &info));
        if (!PulseRig::PipeWire()) {
            EXPECT_EQ(info.nSamplesPerSec, step.rate);
        }
        tones[i]->Play(0, 0, 0);
        ASSERT_GE(WaitFor([&] { return !Playing(tones[i]); }, 2s), 0ms);
    }

    // A sound that is playing when the server goes keeps its place and goes on after.
    SoundBufferPtr longTone = MakeTone(device, 4.0, 1320);
    longTone->Play(0, 0, 0);
    // Every step's pitch where it belongs and the long tone on both have reached the recorders;
    // a pitch sent to the wrong sink would have reached it before the last one.
    EXPECT_GE(WaitFor(
                  [&] {
                      return Heard(rig, 1320, true, true) &&
                             std::all_of(std::begin(steps), std::end(steps), [&](const Step& s) {
                                 return Heard(rig, s.hz, s.onA, s.onB);
                             });
                  },
                  5s),
              0ms);
    rig.StopRecorders();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(PulseRig::Level(rig.Recorded(0), step.hz) > 0.1, step.onA);
        EXPECT_EQ(PulseRig::Level(rig.Recorded(1), step.hz) > 0.1, step.onB);
    }
    ASSERT_TRUE(Playing(longTone));

    rig.StopServer();
    EXPECT_GE(WaitFor([&] { return Status(device).main == OutputState::Waiting; }, 2s), 0ms);
    ASSERT_TRUE(rig.StartServer());
    ASSERT_TRUE(rig.StartRecorders());
    const auto back = WaitFor([&] { return Settled(device, steps[1].route); }, 3s);
    EXPECT_GE(back, 0ms);
    EXPECT_LT(back, 2s);
    ASSERT_GE(WaitFor(Flowing(device, steps[1].route), 4s), 0ms);
    EXPECT_GE(WaitFor([&] { return Heard(rig, 1320, true, true); }, 5s), 0ms);
    rig.StopRecorders();
    tones.clear();
    device.reset();
    longTone.reset();
}
