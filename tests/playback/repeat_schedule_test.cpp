// SPDX-License-Identifier: GPL-3.0-or-later
// The worker's repeats on a real buffer, heard in an offline output that a thread renders in real
// time as a sound card would: each onset lies on the first play's frame plus the waits so far at
// the output rate, also when the output stops between them for want of sound, and a stop takes back
// a start already handed to the mixer, but only its own job's. An output nobody renders is left no
// backlog.
#include "playback/active_play_list.h"
#include "tests/support/fake_buffer.h"
#include "tests/support/paced_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr std::uint32_t kRate = PacedOutput::kRate;
constexpr std::int16_t kMark = PacedOutput::kMark;

// A sound of `ms` milliseconds whose first frame alone carries the mark.
EffectEntryPtr MarkedEntry(const SoundDevicePtr& device, std::uint32_t ms, std::int32_t repeat,
                           std::int32_t interval) {
    const std::uint32_t frames = kRate * ms / 1000;
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, kRate, 2 * kRate, 2, 16, 0};
    DSBUFFERDESC d;
    d.dwFlags = 360672;
    d.dwBufferBytes = 2 * frames;
    d.lpwfxFormat = &f;
    auto entry = std::make_shared<EffectEntry>();
    if (device->CreateSoundBuffer(&d, &entry->pBuffer, nullptr) != DS_OK)
        return nullptr;
    void* p = nullptr;
    std::uint32_t n = 0;
    entry->pBuffer->Lock(0, d.dwBufferBytes, &p, &n, nullptr, nullptr, 0);
    std::vector<std::int16_t> samples(frames, 1000);
    samples[0] = kMark;
    std::memcpy(p, samples.data(), n);
    entry->pBuffer->Unlock(p, n, nullptr, 0);
    entry->dwDataLength = d.dwBufferBytes;
    entry->strName = "marked";
    entry->nRepeat = repeat;
    entry->nInterval = interval;
    return entry;
}

// A job ends once the output's clock has passed its last wait, so every play it made lies before
// the block being mixed then: rendered a block later, or the output asleep with all done.
bool WaitForTheEndedJobsPlays(PacedOutput& paced) {
    const std::uint64_t endedAt = paced.Output().FramesRendered() + 2 * PacedOutput::kPeriod;
    return WaitUntil([&] { return paced.Output().FramesRendered() >= endedAt || paced.Asleep(); });
}

// Waits until the output has rendered a play's length of frames past the `plays`th onset.
bool WaitForOnsets(PacedOutput& paced, std::size_t plays, std::uint64_t playFrames) {
    return WaitUntil([&] {
        const std::vector<std::uint64_t> onsets = paced.Onsets();
        return onsets.size() >= plays &&
               paced.Output().FramesRendered() >= onsets[plays - 1] + playFrames;
    });
}

TEST(RepeatSchedule, OnsetsLieOnTheFirstPlaysFramePlusTheWaits) {
    struct Row {
        std::int32_t repeat, interval;
        std::uint32_t soundMs;
        std::vector<std::uint64_t> afterFirst; // frames from the first onset
        std::chrono::milliseconds idleAfter{}; // the output stops after this long without sound
    } rows[] = {
        {1, 100, 20, {0}},
        {3, 100, 20, {0, 2205, 4410}},
        {4, 0, 50, {0, 1080, 2161, 3241}}, // the sound's 49 ms, 1080.45 frames, never summed
        {6, 10, 2, {0, 221, 441, 662, 882, 1103}},
        {3, 400, 20, {0, 8820, 17640}, std::chrono::milliseconds(100)},
    };
    for (const Row& row : rows) {
        // A device at half speed: a worker that a busy machine wakes late still hands over early.
        PacedOutput paced(row.idleAfter, {}, 2);
        EffectEntryPtr entry =
            MarkedEntry(paced.Output().Device(), row.soundMs, row.repeat, row.interval);
        ASSERT_TRUE(entry);
        PlayDoneQueue done;
        ActivePlayList list;
        ASSERT_TRUE(list.StartPlayback(entry, done.Poster()));
        PlayJobPtr job = done.WaitPop();
        ASSERT_TRUE(job);
        list.OnPlayDone(job.get());
        ASSERT_TRUE(WaitForTheEndedJobsPlays(paced));
        std::vector<std::uint64_t> onsets = paced.Onsets();
        ASSERT_EQ(onsets.size(), row.afterFirst.size()) << row.repeat << "/" << row.interval;
        const std::uint64_t first = onsets.front();
        for (std::uint64_t& onset : onsets)
            onset -= first;
        EXPECT_EQ(onsets, row.afterFirst) << row.repeat << "/" << row.interval;
        if (row.idleAfter.count() != 0) {
            EXPECT_GE(paced.Stops(), 2); // between the plays
        }
    }
}

// The thread that starts a job makes the plays due within the hand-over lead itself: repeats
// quicker than a block keep their frames however late the worker is first scheduled.
TEST(RepeatSchedule, TheStartingThreadHandsOverThePlaysDueWithinTheLead) {
    PacedOutput paced;
    auto job = std::make_shared<PlayJob>();
    job->pEntry = MarkedEntry(paced.Output().Device(), 2, 6, 10);
    ASSERT_TRUE(job->pEntry);
    job->pBuffer = job->pEntry->pBuffer;
    job->nId = 1;
    BeginPlayJob(*job); // and no worker at all
    EXPECT_EQ(job->progress.plays, 6);
    ASSERT_TRUE(WaitForOnsets(paced, 6, 2 * 221)); // and the time a seventh would take
    std::vector<std::uint64_t> onsets = paced.Onsets();
    ASSERT_FALSE(onsets.empty());
    const std::uint64_t first = onsets.front();
    for (std::uint64_t& onset : onsets)
        onset -= first;
    EXPECT_EQ(onsets, std::vector<std::uint64_t>({0, 221, 441, 662, 882, 1103}));
    AbandonPlayJob(*job);
}

// A job whose worker could not be started takes back what its start handed over: on an output
// nobody has rendered yet, all six plays are waiting, and none of them sounds.
TEST(RepeatSchedule, AnAbandonedJobTakesBackWhatItsStartHandedOver) {
    for (const bool abandon : {false, true}) {
        OfflineSoundOutput out(kRate);
        auto job = std::make_shared<PlayJob>();
        job->pEntry = MarkedEntry(out.Device(), 2, 6, 10);
        ASSERT_TRUE(job->pEntry);
        job->pBuffer = job->pEntry->pBuffer;
        job->nId = 1;
        BeginPlayJob(*job);
        if (abandon)
            AbandonPlayJob(*job);
        const std::vector<std::int16_t> frames = out.Render(kRate / 10);
        std::size_t marks = 0;
        for (std::size_t i = 0; i < frames.size(); i += 2)
            marks += frames[i] == kMark;
        EXPECT_EQ(marks, abandon ? 0u : 6u);
    }
}

// A trimmed effect (20 to 60 ms, its mark moved to 20 ms) repeats after the trimmed 40 ms, 882
// frames, not after the sound's 100 ms.
TEST(RepeatSchedule, TrimmedPlaysFollowEachOtherAfterTheTrimmedLength) {
    PacedOutput paced;
    EffectEntryPtr entry = MarkedEntry(paced.Output().Device(), 100, 3, 0);
    void* p = nullptr;
    std::uint32_t n = 0;
    ASSERT_EQ(entry->pBuffer->Lock(0, 0, &p, &n, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    std::swap(static_cast<std::int16_t*>(p)[0], static_cast<std::int16_t*>(p)[441]);
    entry->pBuffer->Unlock(p, n, nullptr, 0);
    entry->options = ParseEffectOptions({"start=20", "end=60"});
    PlayDoneQueue done;
    ActivePlayList list;
    ASSERT_TRUE(list.StartPlayback(entry, done.Poster()));
    list.OnPlayDone(done.WaitPop().get());
    ASSERT_TRUE(WaitForTheEndedJobsPlays(paced));
    const std::vector<std::uint64_t> onsets = paced.Onsets();
    ASSERT_EQ(onsets.size(), 3u);
    EXPECT_EQ(std::vector<std::uint64_t>({onsets[1] - onsets[0], onsets[2] - onsets[0]}),
              std::vector<std::uint64_t>({882, 1764}));
}

// A stop takes back a start already handed over, but only its own job's: the Stop a second job of
// the effect makes at its start, or the window's Stop of that job, silences the sound and leaves
// the first job's next play to bring it back.
TEST(RepeatSchedule, AStopTakesBackOnlyItsOwnJobsHandedOverPlay) {
    enum class Then { kStopAll, kStartSecond, kStartAndStopSecond };
    for (const Then then : {Then::kStopAll, Then::kStartSecond, Then::kStartAndStopSecond}) {
        PacedOutput paced;
        EffectEntryPtr entry = MarkedEntry(paced.Output().Device(), 5, 0, 200);
        ASSERT_TRUE(entry);
        DebugRecorder debug;
        PlayDoneQueue done;
        ActivePlayList list;
        // The output does not begin the second play's block before the test has acted.
        paced.HoldAfterNextOnset(4410 - 1);
        ASSERT_TRUE(list.StartPlayback(entry, done.Poster()));
        // The second wait line follows the hand-over of the second play.
        ASSERT_TRUE(debug.WaitForLine("200\n", 2));
        if (then == Then::kStopAll) {
            list.StopAll();
        } else {
            ASSERT_TRUE(list.StartPlayback(entry, done.Poster()));
            if (then == Then::kStartAndStopSecond)
                list.StopSelected(1);
        }
        paced.Release();
        // Until the output has rendered past the second play's frame.
        ASSERT_TRUE(WaitForOnsets(paced, 1, 4410 + PacedOutput::kPeriod));
        list.StopAll();
        const std::vector<std::uint64_t> onsets = paced.Onsets();
        const bool secondPlay =
            std::find(onsets.begin(), onsets.end(), onsets.front() + 4410) != onsets.end();
        EXPECT_EQ(secondPlay, then != Then::kStopAll) << static_cast<int>(then);
    }
}

// No device pulls frames: a job that ends leaves no start for a device that comes back, and an
// endless one keeps at most its next start waiting (the rest of the 16 slots stay free).
TEST(RepeatSchedule, AnOutputThatPullsNoFramesGetsNoBacklog) {
    OfflineSoundOutput out(kRate);
    for (const std::int32_t repeat : {1, 0}) {
        EffectEntryPtr entry = MarkedEntry(out.Device(), 5, repeat, 5);
        ASSERT_TRUE(entry);
        DebugRecorder debug;
        PlayDoneQueue done;
        ActivePlayList list;
        ASSERT_TRUE(list.StartPlayback(entry, done.Poster()));
        if (repeat == 0) {
            ASSERT_TRUE(debug.WaitForLine("5\n", 30));
            int free = 0;
            while (QueryBufferSchedule(entry->pBuffer.get())->PlayAtFrame(1u << 30, 0) == DS_OK)
                ++free;
            EXPECT_GE(free, 15);
            list.StopAll();
            entry->pBuffer->Stop(); // the test's own starts
        } else {
            list.OnPlayDone(done.WaitPop().get());
        }
        const std::vector<std::int16_t> frames = out.Render(kRate);
        for (std::size_t i = 0; i < frames.size(); i += 2)
            ASSERT_NE(frames[i], kMark) << repeat << " at " << i / 2;
    }
}

// Started while the output sleeps and its device is slow to open: the plays wait for it and sound
// whole, repeats spaced from the first, the row shown meanwhile; a stop still takes them back; a
// device that does not come back within the wake patience ends the job unheard.
TEST(RepeatSchedule, PlaysMadeWhileTheOutputWakesSoundOnceItRuns) {
    using std::chrono::milliseconds;
    const milliseconds never(RepeatClock::kWakeMs + 1000);
    struct Row {
        milliseconds openDelay;
        std::uint32_t soundMs;
        std::int32_t repeat, interval;
        std::vector<std::uint64_t> afterFirst;
    } rows[] = {
        {milliseconds(300), 100, 1, 0, {0}},
        {milliseconds(300), 1000, 1, 0, {0}},
        {milliseconds(1500), 100, 1, 0, {0}},
        {milliseconds(1500), 2, 4, 10, {0, 221, 441, 662}},
        {milliseconds(1500), 100, 0, 200, {}}, // stopped before the device opens
        {never, 100, 1, 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.openDelay.count() << " ms, " << row.soundMs);
        PacedOutput paced(milliseconds(50), row.openDelay);
        EffectEntryPtr entry =
            MarkedEntry(paced.Output().Device(), row.soundMs, row.repeat, row.interval);
        ASSERT_TRUE(entry && WaitUntil([&] { return paced.Stops() == 1; }));
        PlayDoneQueue done;
        ActivePlayList list;
        ASSERT_TRUE(list.StartPlayback(entry, done.Poster()));
        const PlayJobPtr job = row.repeat != 0 ? done.WaitPop() : nullptr;
        ASSERT_TRUE(job || row.repeat == 0);
        const std::uint64_t endedAt = paced.Output().FramesRendered();
        list.StopAll();
        ASSERT_TRUE(WaitUntil([&] { return paced.Stops() == 2; })); // opened, and asleep again
        std::vector<std::uint64_t> onsets = paced.Onsets();
        for (std::uint64_t& onset : onsets)
            onset -= paced.Onsets()[0];
        EXPECT_EQ(onsets, row.afterFirst);
        if (!onsets.empty()) // the row stayed until the last play had sounded
            EXPECT_GE(endedAt, paced.Onsets().back() + kRate * row.soundMs / 1000);
    }
}

// A device of another rate takes over in the middle of an endless repeat: the plays stay 200 ms
// apart, counted in the new frames from the change on. (A loaded machine may make one late.)
TEST(RepeatSchedule, RepeatsKeepTheirMomentsAcrossAChangeOfRate) {
    PacedOutput paced;
    EffectEntryPtr entry = MarkedEntry(paced.Output().Device(), 20, 0, 200);
    PlayDoneQueue done;
    ActivePlayList list;
    ASSERT_TRUE(entry && list.StartPlayback(entry, done.Poster()));
    ASSERT_TRUE(WaitUntil([&] { return paced.Onsets().size() >= 3; }));
    const std::uint64_t change = paced.SetDeviceRate(2 * kRate);
    ASSERT_TRUE(WaitUntil([&] { return paced.Onsets().size() >= 8; }));
    list.StopAll();
    std::vector<std::int64_t> late; // from each play's moment, in frames of the new rate
    for (const std::uint64_t onset : paced.Onsets())
        late.push_back(static_cast<std::int64_t>(onset < change ? 2 * onset : onset + change) -
                       8820 * static_cast<std::int64_t>(late.size()));
    const std::int64_t first = *std::min_element(late.begin(), late.end());
    EXPECT_LE(*std::max_element(late.begin(), late.end()) - first, 4410);
    EXPECT_GE(std::count_if(late.begin(), late.end(), [&](auto n) { return n - first <= 3; }), 6);
}

} // namespace
