// SPDX-License-Identifier: GPL-3.0-or-later
// Starting, stopping and forgetting playbacks, all on the window's thread. A job leaves the list
// only after its thread has been joined or, when it would not end in time, detached; the shared
// job keeps a detached worker safe until it lets go.
#include "playback/active_play_list.h"

#include "audio/mixer.h"

#include <algorithm>
#include <atomic>

namespace {

constexpr std::chrono::milliseconds kStopWait{3000};

std::uint64_t NextJobId() {
    static std::atomic<std::uint64_t> s_next{1};
    return s_next.fetch_add(1);
}

// The worker has said it is done: its thread only has to return.
void Forget(PlayJob& job) {
    if (!job.pThread.joinable())
        return;
    if (job.pThread.IsCurrent())
        job.pThread.detach(); // "play done" delivered on the worker itself: it cannot join itself
    else
        job.pThread.join();
}

} // namespace

ActivePlayList::~ActivePlayList() {
    StopAll();
}

namespace {

// The part of the sound that plays, and its length. A start at or past the end, or an end at or
// before the start, leaves the whole sound: the value is ignored, as a bad one in the file is.
void ApplyShape(const EffectEntry& entry, const EffectSound& sound, float gain, PlayJob& job) {
    ISoundBufferShape* shape = QueryBufferShape(sound.pBuffer.get());
    WAVEFORMATEX format{};
    if (!shape || sound.pBuffer->GetFormat(&format, sizeof format, nullptr) != DS_OK)
        return;
    const EffectOptions& o = entry.options;
    const std::uint32_t soundMs = ComputeDefaultWait(sound.dwDataLength, format);
    std::uint32_t start = static_cast<std::uint32_t>(std::max(o.nStartMs, 0));
    std::uint32_t end =
        o.nEndMs > 0 ? std::min(static_cast<std::uint32_t>(o.nEndMs), soundMs) : soundMs;
    if (start >= end) {
        start = 0;
        end = soundMs;
    }
    // An added sound is not the entry's own length either.
    if (start != 0 || end != soundMs || sound.pBuffer != entry.pBuffer)
        job.nTrimmedMs = end - start;
    shape->SetShape(start, end == soundMs ? 0 : end, static_cast<std::uint32_t>(o.nFadeInMs),
                    static_cast<std::uint32_t>(o.nFadeOutMs), gain);
}

} // namespace

bool ActivePlayList::StartPlayback(const EffectEntryPtr& entry, const PostPlayDone& postToOwner,
                                   float gain, int sound) {
    if (!entry || !entry->IsAvailable())
        return false;
    auto job = std::make_shared<PlayJob>();
    job->pEntry = entry;
    const EffectSound picked = entry->SoundAt(sound);
    job->pBuffer = picked.pBuffer;
    job->fGainDb = static_cast<float>(entry->options.nGainDb);
    job->send = entry->options.send;
    ApplyShape(*entry, picked, gain, *job);
    // The buffer may be shared with another job of the effect: its level does not carry over.
    if (MixerVoice* voice = QueryMixerVoice(job->pBuffer.get()))
        voice->StoreLiveDb(0.0f);
    job->postToOwner = postToOwner;
    job->nId = NextJobId();
    // Our own buffers take the first play without waiting on anything; another's Play may block,
    // so its worker makes it.
    if (QueryBufferSchedule(job->pBuffer.get()))
        BeginPlayJob(*job);
    // The thread owns a reference of its own; the worker's job outlives the list's if need be.
    if (!job->pThread.Start([job] { PlayJobThread(job); }, m_nStackSize)) {
        AbandonPlayJob(*job);
        return false;
    }
    m_jobs.push_back(std::move(job));
    return true;
}

int ActivePlayList::SetLevel(int index, int dB) {
    if (index < 0 || index >= GetSize())
        return 0;
    PlayJob& job = *m_jobs[static_cast<size_t>(index)];
    job.nLiveDb = std::clamp(dB, static_cast<int>(kMinLiveDb), static_cast<int>(kMaxLiveDb));
    if (MixerVoice* voice = QueryMixerVoice(job.pBuffer.get()))
        voice->StoreLiveDb(static_cast<float>(job.nLiveDb));
    return job.nLiveDb;
}

void ActivePlayList::StopSelected(int selectionMark) {
    if (selectionMark < 0 || selectionMark >= GetSize())
        return;
    // Flag first, buffer second: a worker that plays in between sees the flag after its Play
    // and silences the buffer itself, so a stopped job can never be left sounding.
    PlayJob& job = *m_jobs[static_cast<size_t>(selectionMark)];
    job.RequestStop();
    FadeOutJob(job);
}

int ActivePlayList::StopEffect(const EffectEntry* entry) {
    int stopped = 0;
    for (const PlayJobPtr& job : m_jobs) {
        if (job->pEntry.get() != entry || job->bRun.load() == 0)
            continue;
        job->RequestStop();
        FadeOutJob(*job);
        ++stopped;
    }
    return stopped;
}

void ActivePlayList::StopChokeGroup(int group, const EffectEntry* except) {
    for (const PlayJobPtr& job : m_jobs) {
        const EffectEntry* entry = job->pEntry.get();
        if (entry != except && entry->options.nChoke == group && job->bRun.load() != 0) {
            job->RequestStop();
            FadeOutJob(*job);
        }
    }
}

void ActivePlayList::StopAll() {
    // Every worker hears the stop before any is waited for, so the waits overlap.
    for (const PlayJobPtr& job : m_jobs) {
        if (job->bActive.load() == 0)
            continue;
        job->RequestStop();
        FadeOutJob(*job);
    }
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    for (const PlayJobPtr& job : m_jobs) {
        if (!job->pThread.joinable())
            continue;
        if (job->WaitFinished(deadline))
            job->pThread.join();
        else
            job->pThread.detach(); // never killed: it still owns its job and entry
    }
    m_jobs.clear();
    m_jobs.shrink_to_fit();
}

bool ActivePlayList::OnPlayDone(const PlayJob* job) {
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(),
                           [job](const PlayJobPtr& p) { return p.get() == job; });
    // Only an ended worker reports; a job still running is not dropped on a stray message.
    if (it == m_jobs.end() || (*it)->bActive.load() != 0)
        return false;
    Forget(**it);
    m_jobs.erase(it);
    return true;
}

bool ActivePlayList::IsPlaying(const EffectEntry* entry) const {
    return std::any_of(m_jobs.begin(), m_jobs.end(),
                       [entry](const PlayJobPtr& p) { return p->pEntry.get() == entry; });
}
