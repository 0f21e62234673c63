// SPDX-License-Identifier: GPL-3.0-or-later
// An output that stops pulling frames while nothing sounds and starts again at the next start,
// paced in wall time as the SDL output is. (A worker's repeats across a stop: the playback
// suite's repeat schedule.)
#include "sound_output_test_util.h"
#include "tests/support/paced_output.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
constexpr std::uint32_t kRate = PacedOutput::kRate;
constexpr auto kIdle = 100ms;

} // namespace

TEST(OutputIdle, SleepsWhenQuietAndEveryKindOfStartWakesItOnItsFrame) {
    PacedOutput out(kIdle);
    MixerCore& core = *BackendOf(out.Output().Device())->Core();
    // 50 ms, its first sample marked.
    std::vector<std::int16_t> samples(kRate / 20, 1000);
    samples[0] = PacedOutput::kMark;
    SoundBufferPtr sound = MakeMono16(out.Output().Device(), kRate, samples);
    ASSERT_TRUE(sound);
    ISoundBufferSchedule* schedule = QueryBufferSchedule(sound.get());
    ASSERT_NE(schedule, nullptr);
    // Each returns the frame the sound must begin on, or 0 for "the next block".
    const std::pair<const char*, std::function<std::uint64_t()>> starts[] = {
        {"Play",
         [&] {
             sound->Play(0, 0, 0);
             return std::uint64_t{0};
         }},
        {"PlayAtNextBlock",
         [&] {
             std::uint64_t frame = 0;
             schedule->PlayAtNextBlock(&frame, 1);
             return frame;
         }},
        {"PlayAtFrame 1000 frames on",
         [&] {
             const std::uint64_t frame = core.NextBlockFrame() + 1000;
             schedule->PlayAtFrame(frame, 1);
             return frame;
         }},
    };
    int n = 0;
    for (const auto& [what, start] : starts) {
        SCOPED_TRACE(what);
        ++n;
        ASSERT_TRUE(WaitUntil([&] { return out.Stops() == n; }));
        // Asleep, the clock runs on by the wall clock: between two reads, as many frames as the
        // wall time the reads lie within allows, and at least the time between them.
        const auto t0 = std::chrono::steady_clock::now();
        const std::uint64_t before = core.NextBlockFrame();
        const auto t1 = std::chrono::steady_clock::now();
        ASSERT_TRUE(WaitUntil([&] { return core.NextBlockFrame() >= before + kRate * 40 / 1000; }));
        const auto t2 = std::chrono::steady_clock::now();
        const std::uint64_t after = core.NextBlockFrame();
        const auto t3 = std::chrono::steady_clock::now();
        auto frames = [](std::chrono::steady_clock::duration d) {
            return static_cast<std::uint64_t>(std::chrono::duration<double>(d).count() * kRate);
        };
        EXPECT_GE(after - before + 1, frames(t2 - t1));
        EXPECT_LE(after - before, frames(t3 - t0) + 1);

        const std::uint64_t expected = start();
        ASSERT_TRUE(WaitUntil([&] { return out.Onsets().size() == static_cast<std::size_t>(n); }));
        EXPECT_EQ(out.Starts(), n);
        EXPECT_EQ(out.Wakes(), n);
        const std::uint64_t onset = out.Onsets().back();
        if (expected != 0) {
            EXPECT_EQ(onset, expected);
        }
        EXPECT_GE(onset, after);
    }
    // Not while the sound plays: only the quiet after it counts.
    ASSERT_TRUE(WaitUntil([&] { return out.Stops() == n + 1; }));
    EXPECT_GE(out.StoppedAt(), out.Onsets().back() + kRate / 20 + kRate * kIdle / 1000ms);
}

// Replacing the wake hook waits for a call of it under way, so that its context may go right after
// (an output closing while a detached worker starts a sound): the owner is not back before it ends.
TEST(OutputIdle, ReplacingTheWakeHookWaitsForACallUnderWay) {
    MixerCore core(OutputFormat{});
    struct Context {
        std::atomic<bool> entered{false}, release{false}, gone{false};
    } context;
    core.SetWakeHook(
        [](void* p) {
            auto& c = *static_cast<Context*>(p);
            c.entered = true;
            WaitUntil([&] { return c.release.load(); });
        },
        &context);
    core.Suspend();
    std::thread starter([&] { core.Resume(); });
    ASSERT_TRUE(WaitUntil([&] { return context.entered.load(); }));
    std::thread owner([&] {
        core.SetWakeHook(nullptr, nullptr);
        context.gone = true;
    });
    EXPECT_FALSE(WaitUntil([&] { return context.gone.load(); }, 200ms));
    context.release = true;
    starter.join();
    owner.join();
}
