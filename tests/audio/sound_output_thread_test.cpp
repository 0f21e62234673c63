// SPDX-License-Identifier: GPL-3.0-or-later
// Buffers used from many threads while another thread mixes (run it under ThreadSanitizer), and
// the real output opened through SDL's dummy driver.
#include "audio/offline_output.h"
#include "audio/output_config.h"
#include "sound_output_test_util.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>

namespace {

TEST(SoundOutputThreads, HammeringBuffersWhileMixingIsSafe) {
    OfflineSoundOutput out(8000);
    SoundDevicePtr device = out.Device();
    constexpr int kThreads = 4;
    constexpr int kRounds = SoakRounds(3000);
    constexpr int kBuffersPerThread = 6;
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::atomic<int> operations{0};

    std::thread mixer([&] {
        std::vector<std::int16_t> block;
        while (!done.load()) {
            block.clear();
            out.Render(64, block);
        }
    });

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t) * 7919u + 1u);
            std::vector<SoundBufferPtr> mine;
            auto fresh = [&] {
                // Different formats, so that some play from their own memory and some prepared.
                const std::uint32_t rates[] = {8000, 11025, 44100};
                std::uint32_t rate = rates[rng() % 3];
                std::uint16_t channels = static_cast<std::uint16_t>(1 + rng() % 2);
                std::vector<std::int16_t> samples(200 * channels, static_cast<std::int16_t>(rng()));
                return MakeBuffer(device, PlainFormat(WAVE_FORMAT_PCM, channels, rate, 16),
                                  S16Bytes(samples));
            };
            for (int i = 0; i < kBuffersPerThread; ++i) {
                mine.push_back(fresh());
            }
            for (int i = 0; i < kRounds; ++i) {
                SoundBufferPtr& b = mine[rng() % mine.size()];
                if (!b) {
                    failures.fetch_add(1);
                    b = fresh();
                    continue;
                }
                HRESULT hr = DS_OK;
                ISoundBufferSchedule* schedule = QueryBufferSchedule(b.get());
                std::uint64_t next = 0;
                OutputClock clock;
                switch (rng() % 9) {
                case 0:
                case 1:
                    hr = b->Play(0, 0, 0);
                    break;
                case 2:
                    hr = b->Stop();
                    break;
                case 3:
                    hr = b->SetPan(static_cast<std::int32_t>(rng() % 20001) - 10000);
                    break;
                case 4:
                    hr = b->SetVolume(-static_cast<std::int32_t>(rng() % 10001));
                    break;
                case 5:
                    hr = b->SetCurrentPosition(static_cast<std::uint32_t>(rng() % 200) * 2);
                    break;
                case 7: // a start at a frame, now and then one already mixed; may find 16 waiting
                    schedule->GetOutputClock(&clock);
                    hr = schedule->PlayAtFrame(
                        std::max<std::uint64_t>(clock.nNextFrame, 50) - 50 + rng() % 300, 0);
                    hr = hr == DSERR_INVALIDCALL ? DS_OK : hr;
                    break;
                case 8:
                    hr = schedule->PlayAtNextBlock(&next, 0);
                    hr = hr == DSERR_INVALIDCALL ? DS_OK : hr;
                    break;
                case 6: // release (often while sounding or waiting to start) and replace
                    if (rng() % 2 == 0) {
                        b->Play(0, 0, 0);
                    } else {
                        schedule->PlayAtFrame(out.FramesRendered() + 200, 0);
                    }
                    b = fresh();
                    break;
                }
                if (hr != DS_OK) {
                    failures.fetch_add(1);
                }
                operations.fetch_add(1);
            }
            for (auto& b : mine) {
                b->Stop();
            }
        });
    }
    // A buffer shared by every worker, as the jobs of one effect share its buffer.
    SoundBufferPtr shared = MakeMono16(device, 8000, std::vector<std::int16_t>(400, 1000));
    ASSERT_TRUE(shared);
    std::vector<std::thread> sharers;
    for (int t = 0; t < 2; ++t) {
        sharers.emplace_back([&] {
            for (int i = 0; i < SoakRounds(2000); ++i) {
                shared->Stop();
                shared->SetCurrentPosition(0);
                shared->Play(0, 0, 0);
                QueryBufferSchedule(shared.get())->PlayAtFrame(out.FramesRendered() + i % 100, 0);
                shared->SetVolume(-(i % 100));
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    for (auto& s : sharers) {
        s.join();
    }
    shared->Stop();
    done.store(true);
    mixer.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(operations.load(), kThreads * kRounds);
    // Everything still held was stopped and what was released is silent: the output is too.
    out.Render(300);
    EXPECT_EQ(out.Render(64), std::vector<std::int16_t>(128, 0));
    SoundOutputInfo info;
    ASSERT_TRUE(GetSoundOutputInfo(device, &info));
    EXPECT_EQ(info.nActiveVoices, 0u);
    shared.reset();
    EXPECT_EQ(out.Render(8), std::vector<std::int16_t>(16, 0));
}

TEST(SoundOutputThreads, ReleasingTheLastReferenceOnAnotherThreadWhileMixing) {
    OfflineSoundOutput out(8000);
    std::atomic<bool> done{false};
    std::thread mixer([&] {
        while (!done.load()) {
            out.Render(32);
        }
    });
    for (int i = 0; i < SoakRounds(200); ++i) {
        SoundBufferPtr b = MakeMono16(out.Device(), 8000, std::vector<std::int16_t>(64, 500));
        ASSERT_TRUE(b);
        b->Play(0, 0, 0);
        std::thread releaser([b = std::move(b)]() mutable { b.reset(); });
        releaser.join();
    }
    done.store(true);
    mixer.join();
    out.Render(100);
    EXPECT_EQ(out.Render(4), std::vector<std::int16_t>(8, 0));
}

class SdlOutputTest : public testing::Test {
protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 0); }
};

TEST_F(SdlOutputTest, OpensWithTheDummyDriverAndPlays) {
    SoundDevicePtr device;
    ASSERT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DS_OK);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DS_OK);
    DSBUFFERDESC d;
    d.dwFlags = DSBCAPS_PRIMARYBUFFER;
    SoundBufferPtr primary;
    ASSERT_EQ(device->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);
    FormatRecord f = PlainFormat(WAVE_FORMAT_PCM, 2, 22050, 16);
    ASSERT_EQ(primary->SetFormat(&f.head), DS_OK);

    SoundOutputInfo info;
    ASSERT_TRUE(GetSoundOutputInfo(device, &info));
    EXPECT_EQ(info.driver, "dummy");
    EXPECT_TRUE(info.nPeriodFrames == 256 || info.nPeriodFrames == 512) << info.nPeriodFrames;
    // The dummy driver tells no rate of its own: the usual one is asked for.
    EXPECT_EQ(info.nSamplesPerSec, 48000u);
    // SDL keeps its hands off the signals that end the program.
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        ASSERT_EQ(sigaction(signal, nullptr, &action), 0);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
    }

    SoundBufferPtr b = MakeMono16(device, 22050, std::vector<std::int16_t>(2205, 3000));
    ASSERT_TRUE(b);
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    // The dummy device consumes in real time: the sound must end by itself. The deadline only
    // bounds a hang, it measures nothing.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::uint32_t status = DSBSTATUS_PLAYING;
    while (status != 0 && std::chrono::steady_clock::now() < deadline) {
        b->GetStatus(&status);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(status, 0u);
    ASSERT_TRUE(GetSoundOutputInfo(device, &info));
    EXPECT_GE(info.nFramesMixed, 2205u);

    // New channels reopen the device; the rate asked for is only reported.
    FormatRecord f44 = PlainFormat(WAVE_FORMAT_PCM, 1, 44100, 16);
    ASSERT_EQ(primary->SetFormat(&f44.head), DS_OK);
    ASSERT_TRUE(GetSoundOutputInfo(device, &info));
    EXPECT_EQ(info.nSamplesPerSec, 48000u);
    EXPECT_EQ(info.nChannels, 1);
    WAVEFORMATEX reported{};
    ASSERT_EQ(primary->GetFormat(&reported, sizeof reported, nullptr), DS_OK);
    EXPECT_EQ(reported.nSamplesPerSec, 44100u);
    EXPECT_EQ(b->Play(0, 0, 0), DS_OK);

    // Released while sounding, after the device: nothing crashes, and the buffers stay usable.
    device.reset();
    EXPECT_NE(b->Play(0, 0, 0), DS_OK);
    EXPECT_EQ(b->Stop(), DS_OK);
    EXPECT_EQ(primary->SetFormat(&f.head), DSERR_NODRIVER);
}

TEST_F(SdlOutputTest, AForcedRateIsTheMixRate) {
    SoundDevicePtr device;
    ASSERT_EQ(DirectSoundCreate({{}, 22050, {}}, &device), DS_OK);
    SoundOutputInfo info;
    ASSERT_TRUE(GetSoundOutputInfo(device, &info));
    EXPECT_EQ(info.nSamplesPerSec, 22050u);
    EXPECT_EQ(info.nPeriodFrames, 256u);
}

TEST_F(SdlOutputTest, TheConfigsFactoryMakesTheDeviceAndWithoutOneSdlDoes) {
    OfflineSoundOutput offline;
    SoundDevicePtr device;
    ASSERT_EQ(DirectSoundCreate({{}, 0, offline.Factory()}, &device), DS_OK);
    EXPECT_EQ(device, offline.Device());
    ASSERT_EQ(DirectSoundCreate(OutputConfig{}, &device), DS_OK);
    SoundOutputInfo info;
    ASSERT_TRUE(GetSoundOutputInfo(device, &info));
    EXPECT_EQ(info.driver, "dummy");
    EXPECT_EQ(DirectSoundCreate(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(DirectSoundCreate(nullptr, &device, &device), DSERR_INVALIDPARAM);
}

} // namespace
