// SPDX-License-Identifier: GPL-3.0-or-later
// Starting, stopping and forgetting playbacks: which jobs are listed, what their buffers hear,
// and that every worker is joined or let go before its job leaves the list.
#include "playback/active_play_list.h"
#include "tests/support/fake_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

const std::string kPlay = "Play(0,0,0)";

// A job that has ended and whose thread has been joined or detached.
void ExpectEnded(const PlayJobPtr& job) {
    EXPECT_EQ(job->bRun.load(), 0);
    EXPECT_EQ(job->bActive.load(), 0);
    EXPECT_FALSE(job->pThread.joinable());
}

TEST(ActivePlayList, StartsNothingForAnEntryWithoutSound) {
    auto buffer = std::make_shared<FakeBuffer>();
    EffectEntryPtr noBuffer = MakePlayableEntry(nullptr, 1, 0);
    EffectEntryPtr noData = MakePlayableEntry(buffer, 1, 0);
    noData->dwDataLength = 0;
    PlayDoneQueue done;
    ActivePlayList list;
    EXPECT_FALSE(list.StartPlayback(noBuffer, done.Poster()));
    EXPECT_FALSE(list.StartPlayback(noData, done.Poster()));
    EXPECT_FALSE(list.StartPlayback(nullptr, done.Poster()));
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_TRUE(buffer->Calls().empty());
    EXPECT_EQ(done.Size(), 0);
}

// A thread that cannot be started (here: no room for its stack) leaves no job behind.
TEST(ActivePlayList, WorkerThatCannotStartLeavesNoJob) {
    auto buffer = std::make_shared<FakeBuffer>();
    EffectEntryPtr entry = MakePlayableEntry(buffer, 1, 0);
    PlayDoneQueue done;
    ActivePlayList list;
    list.SetWorkerStackSize(std::size_t{1} << 60);
    EXPECT_FALSE(list.StartPlayback(entry, done.Poster()));
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_TRUE(buffer->Calls().empty());
    EXPECT_EQ(entry.use_count(), 1) << "the failed job kept its entry";
    // Threads start again once there is room.
    list.SetWorkerStackSize(WorkerThread::kStackSize);
    EXPECT_TRUE(list.StartPlayback(MakePlayableEntry(buffer, -1, 0), done.Poster()));
    ASSERT_NE(done.WaitPop(), nullptr);
}

TEST(ActivePlayList, ListsJobsInStartOrderAndKnowsWhichEntriesPlay) {
    auto a = MakePlayableEntry(std::make_shared<FakeBuffer>(), 0, -1);
    auto b = MakePlayableEntry(std::make_shared<FakeBuffer>(), 0, -1);
    auto idle = MakePlayableEntry(std::make_shared<FakeBuffer>(), 0, -1);
    PlayDoneQueue done;
    ActivePlayList list;
    ASSERT_TRUE(list.StartPlayback(b, done.Poster()));
    ASSERT_TRUE(list.StartPlayback(a, done.Poster()));
    ASSERT_TRUE(list.StartPlayback(b, done.Poster()));
    ASSERT_EQ(list.GetSize(), 3);
    EXPECT_EQ(list.GetAt(0)->pEntry, b);
    EXPECT_EQ(list.GetAt(1)->pEntry, a);
    EXPECT_EQ(list.GetAt(2)->pEntry, b);
    EXPECT_NE(list.GetAt(0)->nId, list.GetAt(2)->nId);
    EXPECT_TRUE(list.IsPlaying(a.get()));
    EXPECT_TRUE(list.IsPlaying(b.get()));
    EXPECT_FALSE(list.IsPlaying(idle.get()));
    EXPECT_FALSE(list.IsPlaying(nullptr));
}

TEST(ActivePlayList, StopSelectedWithoutAValidRowDoesNothing) {
    auto buffer = std::make_shared<FakeBuffer>();
    PlayDoneQueue done;
    ActivePlayList list;
    list.StopSelected(-1); // an empty list
    ASSERT_TRUE(list.StartPlayback(MakePlayableEntry(buffer, 0, -1), done.Poster()));
    ASSERT_TRUE(buffer->WaitForCount(kPlay, 1));
    for (int mark : {-1, 1, 7})
        list.StopSelected(mark);
    EXPECT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list.GetAt(0)->bRun.load(), 1);
    EXPECT_EQ(buffer->Count("Stop"), 1); // the worker's own, before its first play
}

// Two jobs on one entry share its buffer: the second restarts the sound, stopping one silences
// it, the other brings it back at its next play, and only the stopped job's row leaves.
TEST(ActivePlayList, TwoJobsOnOneEntry) {
    auto buffer = std::make_shared<FakeBuffer>();
    EffectEntryPtr entry = MakePlayableEntry(buffer, 0, 15);
    PlayDoneQueue done;
    ActivePlayList list;
    ASSERT_TRUE(list.StartPlayback(entry, done.Poster()));
    ASSERT_TRUE(buffer->WaitForCount(kPlay, 1));
    ASSERT_TRUE(list.StartPlayback(entry, done.Poster()));
    ASSERT_TRUE(buffer->WaitForCount("Stop", 2)); // the second worker stops the sound to restart
    PlayJobPtr first = list.GetAt(0);
    PlayJobPtr second = list.GetAt(1);

    const int stopsBefore = buffer->Count("Stop");
    list.StopSelected(0);
    PlayJobPtr ended = done.WaitPop();
    ASSERT_EQ(ended, first);
    ASSERT_TRUE(list.OnPlayDone(ended.get()));
    ExpectEnded(first);
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list.GetAt(0), second);
    EXPECT_EQ(second->bRun.load(), 1);

    // The stop silenced the shared buffer; the first worker has been joined, so a later Play
    // can only be the second job bringing the sound back.
    EXPECT_GT(buffer->Count("Stop"), stopsBefore) << "not silenced";
    ASSERT_TRUE(buffer->WaitForCount(kPlay, buffer->Count(kPlay) + 1));
    EXPECT_EQ(done.Size(), 0);
}

TEST(ActivePlayList, StopAllEndsEveryJobAndEmptiesTheList) {
    for (int jobs : {0, 1, 12}) {
        SCOPED_TRACE(std::to_string(jobs) + " jobs");
        auto buffer = std::make_shared<FakeBuffer>();
        PlayDoneQueue done;
        ActivePlayList list;
        std::vector<PlayJobPtr> started;
        for (int i = 0; i < jobs; ++i) {
            // Endless jobs, waiting forever or between plays.
            ASSERT_TRUE(
                list.StartPlayback(MakePlayableEntry(buffer, 0, i % 2 ? -1 : 5), done.Poster()));
            started.push_back(list.GetAt(i));
        }
        ASSERT_TRUE(buffer->WaitForCount(kPlay, jobs));
        const int stopsBefore = buffer->Count("Stop");

        list.StopAll();
        EXPECT_EQ(list.GetSize(), 0);
        for (const PlayJobPtr& job : started)
            ExpectEnded(job);
        // Each job silenced its buffer, and every worker said it was done.
        EXPECT_GE(buffer->Count("Stop"), stopsBefore + jobs);
        EXPECT_EQ(done.Size(), jobs);
        // Their late "play done" finds nothing to remove.
        EXPECT_EQ(done.DrainInto(list), 0);
        EXPECT_EQ(list.GetSize(), 0);
    }
}

// A late "play done" of a job StopAll has dropped must not touch a job started since: the
// posted job stays alive, so the new one can never share its address.
TEST(ActivePlayList, LatePlayDoneAfterStopAllChangesNothing) {
    auto buffer = std::make_shared<FakeBuffer>();
    PlayDoneQueue done;
    ActivePlayList list;
    ASSERT_TRUE(list.StartPlayback(MakePlayableEntry(buffer, 0, -1), done.Poster()));
    list.StopAll();
    ASSERT_TRUE(list.StartPlayback(MakePlayableEntry(buffer, 0, -1), done.Poster()));
    PlayJobPtr late = done.WaitPop();
    ASSERT_NE(late, nullptr);
    EXPECT_NE(late, list.GetAt(0));
    EXPECT_FALSE(list.OnPlayDone(late.get()));
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list.GetAt(0)->bRun.load(), 1);
}

TEST(ActivePlayList, PlayDoneOfAJobStillRunningIsIgnored) {
    auto buffer = std::make_shared<FakeBuffer>();
    PlayDoneQueue done;
    ActivePlayList list;
    ASSERT_TRUE(list.StartPlayback(MakePlayableEntry(buffer, 0, -1), done.Poster()));
    EXPECT_FALSE(list.OnPlayDone(list.GetAt(0).get()));
    EXPECT_EQ(list.GetSize(), 1);
}

// A stop that comes while the worker is inside Play is seen right after it, and the sound that
// Play restarted is silenced.
TEST(ActivePlayList, StopDuringAPlayLeavesTheBufferSilent) {
    auto buffer = std::make_shared<FakeBuffer>();
    PlayDoneQueue done;
    ActivePlayList list;
    buffer->HoldPlay(2);
    ASSERT_TRUE(list.StartPlayback(MakePlayableEntry(buffer, 0, 5), done.Poster()));
    ASSERT_TRUE(buffer->WaitHeld());
    list.StopSelected(0);
    buffer->ReleasePlay();
    PlayJobPtr job = done.WaitPop();
    ASSERT_NE(job, nullptr);
    EXPECT_TRUE(list.OnPlayDone(job.get()));
    const Strings calls = buffer->Texts();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), kPlay), 2);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.back(), "Stop");
}

// Closing and editing the set while a job plays: the job keeps its own entry and buffer.
TEST(ActivePlayList, TableChangesDoNotChangeWhatAJobPlays) {
    EffectTable table;
    std::vector<std::shared_ptr<FakeBuffer>> buffers;
    for (int i = 0; i < 3; ++i) {
        buffers.push_back(std::make_shared<FakeBuffer>());
        EffectEntry entry;
        entry.pBuffer = buffers.back();
        entry.dwDataLength = 4410;
        entry.strName = "effect " + std::to_string(i);
        entry.nRepeat = 0;
        entry.nInterval = 5;
        entry.nPan = 100 * i;
        table.Add(entry);
    }
    PlayDoneQueue done;
    ActivePlayList list;
    ASSERT_TRUE(list.StartPlayback(table.GetPtrAt(2), done.Poster()));
    ASSERT_TRUE(buffers[2]->WaitForCount(kPlay, 1));

    table.RemoveAt(0);
    EffectEntry added;
    added.pBuffer = buffers[0];
    added.dwDataLength = 4410;
    added.nRepeat = 7;
    added.nInterval = 1;
    table.Add(added);
    int plays = buffers[2]->Count(kPlay);
    ASSERT_TRUE(buffers[2]->WaitForCount(kPlay, plays + 2));
    table.RemoveAll(); // the set is closed; the entry must stay readable for the worker
    plays = buffers[2]->Count(kPlay);
    ASSERT_TRUE(buffers[2]->WaitForCount(kPlay, plays + 2));

    EXPECT_EQ(list.GetAt(0)->pEntry->strName, "effect 2");
    EXPECT_EQ(list.GetAt(0)->pEntry->nRepeat, 0);
    EXPECT_TRUE(buffers[0]->Calls().empty());
    EXPECT_TRUE(buffers[1]->Calls().empty());
    EXPECT_EQ(buffers[2]->Texts()[1], "SetPan(200)");
    list.StopAll();
}

// A worker stuck in a buffer call is let go after 3000 ms, never killed; its job leaves the
// list all the same, and it finishes safely once the call returns.
TEST(ActivePlayList, StopAllLetsGoOfAWorkerThatDoesNotEnd) {
    auto buffer = std::make_shared<FakeBuffer>();
    PlayDoneQueue done;
    ActivePlayList list;
    buffer->HoldPlay(1);
    ASSERT_TRUE(list.StartPlayback(MakePlayableEntry(buffer, 0, 5), done.Poster()));
    ASSERT_TRUE(buffer->WaitHeld());
    PlayJobPtr stuck = list.GetAt(0);

    list.StopAll();
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_FALSE(stuck->pThread.joinable());
    EXPECT_EQ(stuck->bActive.load(), 1); // still inside Play

    buffer->ReleasePlay();
    EXPECT_TRUE(stuck->WaitFinished(std::chrono::steady_clock::now() + kPatience));
    PlayJobPtr late = done.WaitPop();
    EXPECT_EQ(late, stuck);
    EXPECT_FALSE(list.OnPlayDone(late.get()));
    EXPECT_EQ(buffer->Texts().back(), "Stop");
}

// Shut-down: dropping the list stops every job and leaves no worker running.
TEST(ActivePlayList, DestructorStopsEveryJob) {
    auto buffer = std::make_shared<FakeBuffer>();
    PlayDoneQueue done;
    std::vector<PlayJobPtr> jobs;
    {
        ActivePlayList list;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(list.StartPlayback(MakePlayableEntry(buffer, 0, -1), done.Poster()));
            jobs.push_back(list.GetAt(i));
        }
        ASSERT_TRUE(buffer->WaitForCount(kPlay, 3));
    }
    for (const PlayJobPtr& job : jobs) {
        ExpectEnded(job);
        std::lock_guard lock(job->doneMutex);
        EXPECT_TRUE(job->bFinished);
    }
    EXPECT_EQ(done.Size(), 3);
}

} // namespace
