// SPDX-License-Identifier: GPL-3.0-or-later
// The running playbacks, in start order; row i of the play list shows job i. Window thread only.
#pragma once

#include "playback/play_job.h"

#include <vector>

class ActivePlayList {
public:
    ActivePlayList() = default;
    ~ActivePlayList(); // stops every job
    ActivePlayList(const ActivePlayList&) = delete;
    ActivePlayList& operator=(const ActivePlayList&) = delete;

    int GetSize() const { return static_cast<int>(m_jobs.size()); }
    const PlayJobPtr& GetAt(int index) const { return m_jobs.at(static_cast<size_t>(index)); }

    // Starts one more playback of the entry. An entry without a sound starts nothing, and a
    // worker that cannot be started leaves no job behind. Returns whether a job was listed.
    // The entry's trim and fades, and `gain` on top of its volume, apply to the buffer of its
    // sound `sound` (EffectEntry::SoundAt) from this start on; every repeat plays that sound.
    bool StartPlayback(const EffectEntryPtr& entry, const PostPlayDone& postToOwner,
                       float gain = 1.0f, int sound = 0);
    // Fades out the job's buffer and asks the job at the row to stop; does not wait.
    void StopSelected(int selectionMark);
    // The same for every job of the entry not yet asked to stop; returns how many there were.
    int StopEffect(const EffectEntry* entry);
    // The same for every such job of another entry in the choke group.
    void StopChokeGroup(int group, const EffectEntry* except);
    // Asks every job to stop, waits for each (at most 3000 ms, then detaches it) and empties the
    // list. Clears every flag before it waits, so it takes about as long as the slowest worker.
    void StopAll();
    // Removes the job if it is still listed and its worker has ended; returns whether it was.
    bool OnPlayDone(const PlayJob* job);
    // Sets the level of the job at the row, clamped to -30..+12 dB, heard at once on its buffer
    // and at every repeat; the effect's own volume stays. Returns the level set, 0 for no row.
    int SetLevel(int index, int dB);
    // Whether any listed job plays this entry.
    bool IsPlaying(const EffectEntry* entry) const;
    // The stack each new worker is started with (WorkerThread::kStackSize unless changed).
    void SetWorkerStackSize(std::size_t bytes) { m_nStackSize = bytes; }

private:
    std::vector<PlayJobPtr> m_jobs;
    std::size_t m_nStackSize = WorkerThread::kStackSize;
};
