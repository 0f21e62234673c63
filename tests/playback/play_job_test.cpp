// SPDX-License-Identifier: GPL-3.0-or-later
// The worker's plays and waits, observed as the calls it makes on a recording buffer and the
// lines it writes to the debug sink.
#include "playback/active_play_list.h"
#include "playback/play_job.h"
#include "tests/support/fake_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

constexpr std::int32_t kPan = -300;
constexpr std::int32_t kVolume = -600;

// What a worker calls on its buffer before the first play.
Strings Prologue() {
    return {"GetFormat", "SetPan(" + std::to_string(kPan) + ")",
            "SetVolume(" + std::to_string(kVolume) + ")", "Stop"};
}

Strings Expected(int plays) {
    Strings calls = Prologue();
    for (int i = 0; i < plays; ++i) {
        calls.push_back("SetCurrentPosition(0)");
        calls.push_back("Play(0,0,0)");
    }
    return calls;
}

struct Playing {
    std::shared_ptr<FakeBuffer> buffer = std::make_shared<FakeBuffer>();
    PlayDoneQueue done;
    DebugRecorder debug;
    ActivePlayList list;

    EffectEntryPtr Start(std::int32_t repeat, std::int32_t interval, std::uint32_t soundMs) {
        EffectEntryPtr entry = MakePlayableEntry(buffer, repeat, interval, soundMs);
        entry->nPan = kPan;
        entry->nVolume = kVolume;
        EXPECT_TRUE(list.StartPlayback(entry, done.Poster()));
        return entry;
    }
    // Waits for the worker's "play done" and hands it to the list, as the window does.
    bool Finish() {
        PlayJobPtr job = done.WaitPop();
        return job && list.OnPlayDone(job.get());
    }
};

TEST(DefaultWait, IsTheSoundLengthInWholeMilliseconds) {
    struct Row {
        std::uint32_t length, rate, ms;
    } rows[] = {
        {88200, 88200, 1000},             // one second of 16-bit stereo at 22050
        {4410, 88200, 50},                //
        {1, 3, 333},                      // truncated, not rounded
        {2, 3, 666},                      //
        {0, 88200, 0},                    // nothing loaded
        {88200, 0, 0},                    // no byte rate: no wait
        {0xFFFFFFFFu, 0xFFFFFFFFu, 1000}, //
        {0xFFFFFFFFu, 1, 0xFFFFFFFFu},    // beyond 32 bits: held at the top
        {4294967, 1000, 4294967},         //
    };
    for (const Row& row : rows)
        EXPECT_EQ(ComputeDefaultWait(row.length, row.rate), row.ms)
            << row.length << " bytes at " << row.rate;
}

// Finite rows of the plays table: the calls made and the waits written, in order.
TEST(PlayJobThread, MakesThePlaysAndWaitsOfItsRepeatCountAndInterval) {
    struct Row {
        std::int32_t repeat, interval;
        std::uint32_t soundMs;
        int plays;
        Strings waits;
    } rows[] = {
        {1, 30, 40, 1, {"40\n"}},                 // once, then the sound's length
        {1, 0, 40, 1, {"40\n"}},                  //
        {1, -1, 40, 1, {"40\n"}},                 // the interval is not used after the last play
        {3, 20, 40, 3, {"20\n", "20\n", "40\n"}}, // interval between, length after the last
        {3, 0, 30, 3, {"30\n", "30\n", "30\n"}},  // no interval: the length each time
        {2, 70, 10, 2, {"70\n", "10\n"}},         // interval longer than the sound
        {-1, 20, 40, 0, {}},                      // negative count: no play at all
        {-5, 0, 40, 0, {}},                       //
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("repeat " + std::to_string(row.repeat) + ", interval " +
                     std::to_string(row.interval));
        Playing p;
        p.Start(row.repeat, row.interval, row.soundMs);
        ASSERT_TRUE(p.Finish());
        EXPECT_EQ(p.buffer->Texts(), Expected(row.plays));
        EXPECT_EQ(p.debug.Lines(), row.waits);
        EXPECT_EQ(p.list.GetSize(), 0);
    }
}

// Endless rows: they play until stopped, every wait the same.
TEST(PlayJobThread, CountZeroPlaysUntilStopped) {
    struct Row {
        std::int32_t interval;
        std::uint32_t soundMs;
        std::string wait;
    } rows[] = {{15, 40, "15\n"}, {0, 15, "15\n"}};
    for (const Row& row : rows) {
        SCOPED_TRACE("interval " + std::to_string(row.interval));
        Playing p;
        p.Start(0, row.interval, row.soundMs);
        ASSERT_TRUE(p.buffer->WaitForCount("Play(0,0,0)", 5));
        p.list.StopSelected(0);
        ASSERT_TRUE(p.Finish());

        const Strings calls = p.buffer->Texts();
        ASSERT_GE(calls.size(), Prologue().size());
        EXPECT_EQ(Strings(calls.begin(), calls.begin() + 4), Prologue());
        // Position/Play pairs up to the window's Stop (which may cut a pair short).
        const auto stop = std::find(calls.begin() + 4, calls.end(), "Stop");
        ASSERT_NE(stop, calls.end());
        for (auto it = calls.begin() + 4; it != stop; ++it)
            EXPECT_EQ(*it, (it - calls.begin()) % 2 == 0 ? "SetCurrentPosition(0)" : "Play(0,0,0)");
        // A Play that slipped in after the window's Stop is silenced again.
        const auto lastPlay = std::find(calls.rbegin(), calls.rend(), "Play(0,0,0)");
        EXPECT_NE(std::find(calls.rbegin(), lastPlay, "Stop"), lastPlay) << "left sounding";
        const Strings lines = p.debug.Lines();
        EXPECT_GE(lines.size(), 4u);
        for (const std::string& line : lines)
            EXPECT_EQ(line, row.wait);
    }
}

// A byte rate of 0 (or any other than the frames' own) in a header: the length comes from the
// frame count and the sample rate, so a job stays listed while its sound plays.
TEST(DefaultWait, ComesFromTheFramesWhenTheByteRateCannotBeTrusted) {
    struct Row {
        std::uint16_t tag, channels;
        std::uint32_t rate, avg;
        std::uint16_t align;
        std::uint32_t length, ms;
    } rows[] = {
        {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16000, 1000},      // trusted
        {WAVE_FORMAT_PCM, 1, 8000, 0, 2, 16000, 1000},          // no byte rate
        {WAVE_FORMAT_PCM, 1, 8000, 1, 2, 16000, 1000},          // a lying one
        {WAVE_FORMAT_PCM, 2, 22050, 0, 4, 88203, 1000},         // a partial frame is no frame
        {WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 0, 8, 352800, 1000}, //
        {WAVE_FORMAT_EXTENSIBLE, 2, 48000, 7, 6, 288000, 1000}, //
        {2, 1, 22050, 4096, 1024, 4096, 1000},   // compressed: its rate is all we have
        {WAVE_FORMAT_PCM, 0, 0, 0, 0, 16000, 0}, // nothing to go on
    };
    for (const Row& row : rows) {
        WAVEFORMATEX f{row.tag, row.channels, row.rate, row.avg, row.align, 16, 0};
        EXPECT_EQ(ComputeDefaultWait(row.length, f), row.ms) << row.tag << " at " << row.avg;
    }
}

TEST(PlayJobThread, ZeroByteRateWaitsTheFramesLength) {
    Playing p;
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 0, 2, 16, 0};
    p.buffer->SetReportedFormat(format);
    p.Start(1, 0, 10); // 882 bytes: 441 frames at 8000 Hz
    ASSERT_TRUE(p.Finish());
    EXPECT_EQ(p.debug.Lines(), (Strings{"55\n"}));
}

// Without a length (an unreadable format), endless plays with no interval still sleep between
// plays rather than spin.
TEST(PlayJobThread, NeverLoopsWithoutWaiting) {
    Playing p;
    p.buffer->SetGetFormatResult(DSERR_GENERIC);
    p.Start(0, 0, 1000);
    ASSERT_TRUE(p.buffer->WaitForCount("Play(0,0,0)", 5));
    p.list.StopSelected(0);
    ASSERT_TRUE(p.Finish());
    const Strings lines = p.debug.Lines();
    ASSERT_GE(lines.size(), 4u);
    for (const std::string& line : lines)
        EXPECT_EQ(line, std::to_string(kMinimumWaitMs) + "\n");
}

TEST(PlayJobThread, FailedPlayIsReportedOncePerPlayAndThePlaysGoOn) {
    Playing p;
    p.buffer->SetPlayResult(DSERR_BUFFERLOST);
    p.Start(3, 10, 20);
    ASSERT_TRUE(p.Finish());
    EXPECT_EQ(p.buffer->Texts(), Expected(3));
    EXPECT_EQ(p.debug.Lines(),
              (Strings{"Play Error!\n", "10\n", "Play Error!\n", "10\n", "Play Error!\n", "20\n"}));
}

// A new count is read at the next test: raising it from "endless" to 3 while the second play
// is being made ends the job after the third.
TEST(PlayJobThread, PicksUpAChangedRepeatCountAtItsNextTest) {
    Playing p;
    p.buffer->HoldPlay(2);
    EffectEntryPtr entry = p.Start(0, 20, 30);
    ASSERT_TRUE(p.buffer->WaitHeld());
    entry->nRepeat = 3;
    p.buffer->ReleasePlay();
    ASSERT_TRUE(p.Finish());
    EXPECT_EQ(p.buffer->Texts(), Expected(3));
    EXPECT_EQ(p.debug.Lines(), (Strings{"20\n", "20\n", "30\n"}));
}

// Lowering the count below the plays made ends the job after the wait in progress.
TEST(PlayJobThread, EndsWhenTheCountDropsBelowThePlaysMade) {
    Playing p;
    p.buffer->HoldPlay(2);
    EffectEntryPtr entry = p.Start(0, 20, 30);
    ASSERT_TRUE(p.buffer->WaitHeld());
    entry->nRepeat = 1;
    p.buffer->ReleasePlay();
    ASSERT_TRUE(p.Finish());
    EXPECT_EQ(p.buffer->Texts(), Expected(2));
    // After the second play the counter (2) differs from the count (1): the interval is waited.
    EXPECT_EQ(p.debug.Lines(), (Strings{"20\n", "20\n"}));
}

TEST(PlayJobThread, PicksUpAChangedIntervalAtItsNextWait) {
    Playing p;
    p.buffer->HoldPlay(1);
    EffectEntryPtr entry = p.Start(3, 200, 30);
    ASSERT_TRUE(p.buffer->WaitHeld());
    entry->nInterval = 10;
    p.buffer->ReleasePlay();
    ASSERT_TRUE(p.buffer->WaitForCount("Play(0,0,0)", 2));
    entry->nInterval = 15;
    ASSERT_TRUE(p.Finish());
    const Strings lines = p.debug.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "10\n");
    // The second wait may have begun before or after the second change.
    EXPECT_TRUE(lines[1] == "10\n" || lines[1] == "15\n") << lines[1];
    EXPECT_EQ(lines[2], "30\n");
}

// -1 as an interval is 4294967295 ms: the job waits until it is stopped, and a stop ends the
// wait at once rather than at its end.
TEST(PlayJobThread, StopEndsALongNegativeIntervalWait) {
    Playing p;
    p.Start(0, -1, 30);
    ASSERT_TRUE(p.debug.WaitForLine("-1\n"));
    p.list.StopSelected(0);
    ASSERT_TRUE(p.Finish()) << "no play done after the stop";
    EXPECT_EQ(p.buffer->Count("Play(0,0,0)"), 1);
    EXPECT_EQ(p.debug.Lines(), (Strings{"-1\n"}));
}

TEST(WaitWhileRunning, WritesItsLengthAsASignedNumber) {
    struct Row {
        std::uint32_t ms;
        std::string line;
    } rows[] = {{120, "120\n"}, {0, "0\n"}, {0xFFFFFFFFu, "-1\n"}, {0x80000000u, "-2147483648\n"}};
    for (const Row& row : rows) {
        DebugRecorder debug;
        PlayJob job;
        if (row.ms > 1000)
            job.RequestStop(); // a stopped job does not wait at all
        WaitWhileRunning(row.ms, job);
        EXPECT_EQ(debug.Lines(), Strings{row.line});
    }
}

TEST(WaitWhileRunning, ReturnsWhenTheJobIsAskedToStop) {
    DebugRecorder debug;
    PlayJob job;
    std::thread stopper([&] {
        debug.WaitForLine("-1\n");
        job.RequestStop();
    });
    WaitWhileRunning(0xFFFFFFFFu, job);
    stopper.join();
    EXPECT_EQ(job.bRun.load(), 0);
}

} // namespace
