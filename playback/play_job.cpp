// SPDX-License-Identifier: GPL-3.0-or-later
// The playback worker: pan, volume, then the plays and waits that the entry's repeat count and
// interval ask for, then "play done" to the window. Waits sleep on the job's condition variable
// so that a stop is seen at once, and follow a fixed schedule so that repeats never drift. On
// our own buffers the repeats are also placed on exact output frames, handed to the mixer ahead
// of time, so neither the block edges nor the worker's wake-up move them.
#include "playback/play_job.h"

#include "audio/mixer.h"
#include "base/debug_sink.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

using Clock = std::chrono::steady_clock;

namespace {

void* RunBody(void* arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return nullptr;
}

} // namespace

WorkerThread::~WorkerThread() {
    if (m_bJoinable)
        pthread_detach(m_thread);
}

bool WorkerThread::Start(std::function<void()> body, std::size_t stackSize) {
    if (m_bJoinable)
        return false;
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    bool started = pthread_attr_setstacksize(
                       &attr, std::max<std::size_t>(stackSize, PTHREAD_STACK_MIN)) == 0 &&
                   pthread_create(&m_thread, &attr, RunBody, owned.get()) == 0;
    pthread_attr_destroy(&attr);
    if (!started)
        return false;
    owned.release(); // the thread owns it now
    m_bJoinable = true;
    return true;
}

void WorkerThread::join() {
    if (m_bJoinable && pthread_join(m_thread, nullptr) == 0)
        m_bJoinable = false;
}

void WorkerThread::detach() {
    if (m_bJoinable && pthread_detach(m_thread) == 0)
        m_bJoinable = false;
}

bool WorkerThread::IsCurrent() const {
    return m_bJoinable && pthread_equal(m_thread, pthread_self()) != 0;
}

void PlayJob::RequestStop() {
    bRun.store(0);
    // Taking the lock orders the store against a worker that has tested the flag and is about
    // to sleep: it either sees the flag or is already waiting when the notify comes.
    { std::lock_guard lock(waitMutex); }
    waitCv.notify_all();
}

bool PlayJob::WaitFinished(Clock::time_point deadline) {
    std::unique_lock lock(doneMutex);
    return doneCv.wait_until(lock, deadline, [this] { return bFinished; });
}

std::uint32_t ComputeDefaultWait(std::uint32_t dataLength, std::uint32_t avgBytesPerSec) {
    if (avgBytesPerSec == 0)
        return 0;
    const double ms = static_cast<double>(dataLength) / avgBytesPerSec * 1000.0;
    // Converting a double beyond the target's range is undefined; hold it at the top instead.
    if (ms >= static_cast<double>(std::numeric_limits<std::uint32_t>::max()))
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(ms);
}

std::uint32_t ComputeDefaultWait(std::uint32_t dataLength, const WAVEFORMATEX& format) {
    const bool linear = format.wFormatTag == WAVE_FORMAT_PCM ||
                        format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
                        format.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    const std::uint64_t frameRate = std::uint64_t{format.nBlockAlign} * format.nSamplesPerSec;
    if (!linear || frameRate == 0 || format.nAvgBytesPerSec == frameRate)
        return ComputeDefaultWait(dataLength, format.nAvgBytesPerSec);
    return ComputeDefaultWait(dataLength / format.nBlockAlign * format.nBlockAlign,
                              static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                  frameRate, std::numeric_limits<std::uint32_t>::max())));
}

namespace {

void WriteWaitLine(std::uint32_t ms) {
    char line[16];
    std::snprintf(line, sizeof line, "%d\n", static_cast<std::int32_t>(ms));
    OutputDebugStringA(line);
}

// False when the job was asked to stop before the deadline.
bool SleepUntil(PlayJob& job, Clock::time_point deadline) {
    std::unique_lock lock(job.waitMutex);
    return !job.waitCv.wait_until(lock, deadline, [&job] { return job.bRun.load() == 0; });
}

} // namespace

void WaitWhileRunning(std::uint32_t ms, PlayJob& job, Clock::time_point from) {
    WriteWaitLine(ms);
    SleepUntil(job, from + std::chrono::milliseconds(ms));
}

std::uint64_t OutputFramesIn(std::uint64_t ms, std::uint32_t framesPerSec) {
    // Split so that no wait, however long, overflows; rounded to the nearest frame.
    return ms / 1000 * framesPerSec + (ms % 1000 * framesPerSec + 500) / 1000;
}

RepeatClock::RepeatClock(ISoundBufferSchedule& schedule, std::uint16_t owner)
    : m_schedule(schedule), m_nOwner(owner) {
    OutputClock clock;
    m_schedule.GetOutputClock(&clock);
    m_nRate = clock.nFramesPerSec != 0 ? clock.nFramesPerSec : 22050;
    m_nLastSeen = clock.nNextFrame;
    m_bWaking = clock.bWaking;
    m_nAnchor = m_nLastSeen;
    m_lastAdvance = Clock::now();
}

std::chrono::milliseconds RepeatClock::Patience() const {
    return std::chrono::milliseconds(m_bWaking ? kWakeMs : m_bMoved ? kStallMs : kIdleMs);
}

bool RepeatClock::Stalled(Clock::time_point now) const {
    return now - m_lastAdvance > Patience();
}

std::uint64_t RepeatClock::ReadClock(std::uint32_t* block) {
    OutputClock clock;
    m_schedule.GetOutputClock(&clock);
    const std::uint64_t next = clock.nNextFrame;
    const std::uint32_t frames = clock.nBlockFrames;
    if (clock.nFramesPerSec != 0 && clock.nFramesPerSec != m_nRate) {
        // Another device took over: the plays keep their moments. The frames from the anchor to
        // the change went at the old rate; where the anchor would lie at the new one.
        if (clock.nRateSince > m_nAnchor) {
            const double before = static_cast<double>(clock.nRateSince - m_nAnchor);
            m_nAnchor =
                clock.nRateSince -
                static_cast<std::uint64_t>(std::llround(before * clock.nFramesPerSec / m_nRate));
        }
        m_nRate = clock.nFramesPerSec;
    }
    m_bWaking = clock.bWaking;
    if (next != m_nLastSeen) {
        m_nLastSeen = next;
        m_lastAdvance = Clock::now();
        m_bMoved = true;
    }
    if (block)
        *block = frames;
    return next;
}

HRESULT RepeatClock::PlayFirst() {
    m_nFromAnchorMs = 0;
    const HRESULT hr = m_schedule.PlayAtNextBlock(&m_nAnchor, m_nOwner);
    m_nHandedAt = m_nAnchor;
    return hr;
}

HRESULT RepeatClock::PlayNext(std::uint32_t lastWait) {
    const std::uint64_t next = ReadClock(nullptr);
    if (Stalled(Clock::now()) && next == m_nHandedAt) {
        // Lost like any play while no device listens; the schedule counts on from here.
        TakeBack();
        m_nAnchor = next;
        m_nFromAnchorMs = 0;
        return DS_OK;
    }
    m_nHandedAt = next;
    const std::uint64_t frame = NextFrame();
    // Fallen behind by more than a whole wait: count afresh from the next block, as the wall
    // clock schedule does, rather than piling late starts onto one block.
    if (next > frame + OutputFramesIn(lastWait, m_nRate))
        return PlayFirst();
    return m_schedule.PlayAtFrame(frame, m_nOwner);
}

void RepeatClock::TakeBack() {
    m_schedule.TakeBackStarts(m_nOwner);
}

void RepeatClock::Advance(std::uint32_t wait) {
    m_nFromAnchorMs += wait;
}

std::uint64_t RepeatClock::NextFrame() const {
    return m_nAnchor + OutputFramesIn(m_nFromAnchorMs, m_nRate);
}

bool RepeatClock::Due(Clock::time_point due, bool handOver, Clock::time_point* wake) {
    std::uint32_t block = 0;
    const std::uint64_t next = ReadClock(&block);
    const Clock::time_point now = Clock::now();
    // Two blocks: the block that holds the frame is begun up to one block before it, and the
    // mixer may begin the one before that while we hand over. The margin covers a late wake-up.
    const std::uint64_t lead = handOver ? 2ull * (block != 0 ? block : kAssumedBlockFrames) +
                                              OutputFramesIn(kWakeMarginMs, m_nRate)
                                        : 0;
    const std::uint64_t frame = NextFrame();
    const Clock::time_point wallDeadline =
        due - std::chrono::nanoseconds(lead * 1000000000ull / m_nRate);
    // An output that pulls no frames (an offline output nobody renders, a device stalled for
    // long) leaves the wall clock to decide: its frames say nothing of when plays are due. A
    // busy machine starves SDL's thread for tens of milliseconds now and then: that is not yet
    // a stall.
    const bool stalled = Stalled(now);
    if (stalled ? now >= wallDeadline : next + lead >= frame)
        return true;
    if (!wake)
        return false;
    // The output's clock runs apart from ours (SDL's dummy and disk drivers pace themselves with
    // sleeps and fall behind on a busy machine; a card's crystal drifts): sleep most of the way
    // by the frames, then look again. A wait of -1 is 2^32 ms: divide first.
    const std::uint64_t left = next + lead < frame ? frame - lead - next : 0;
    const std::uint64_t ns =
        left / m_nRate * 1000000000ull + left % m_nRate * 1000000000ull / m_nRate;
    *wake = now + std::chrono::nanoseconds(ns > 100000000 ? ns / 10 * 9 : ns);
    if (stalled)
        *wake = std::min(*wake, wallDeadline);
    else
        *wake = std::min(*wake, m_lastAdvance + Patience() + std::chrono::milliseconds(1));
    *wake = std::max(*wake, now);
    return false;
}

bool RepeatClock::WaitForNextFrame(PlayJob& job, Clock::time_point due, bool handOver) {
    for (;;) {
        if (job.bRun.load() == 0)
            return false;
        Clock::time_point wake;
        if (Due(due, handOver, &wake))
            return true;
        if (!SleepUntil(job, wake))
            return false;
    }
}

namespace {

void Finish(const PlayJobPtr& job) {
    job->bRun.store(0);
    job->bActive.store(0);
    if (job->postToOwner)
        job->postToOwner(job);
    {
        std::lock_guard lock(job->doneMutex);
        job->bFinished = true;
    }
    job->doneCv.notify_all();
}

} // namespace

void SilenceJob(const PlayJob& job) {
    if (!job.pBuffer)
        return;
    if (ISoundBufferSchedule* schedule = QueryBufferSchedule(job.pBuffer.get()))
        schedule->StopOwner(job.StartOwner());
    else
        job.pBuffer->Stop();
}

void FadeOutJob(const PlayJob& job) {
    if (ISoundBufferShape* shape = job.pBuffer ? QueryBufferShape(job.pBuffer.get()) : nullptr)
        shape->FadeOutOwner(job.StartOwner());
    else
        SilenceJob(job);
}

namespace {

// One play: on the output's clock where the buffer has one, else as designed. False when the job
// was asked to stop meanwhile (what may have sounded is faded out).
bool PlayOnce(PlayJob& job) {
    PlayProgress& p = job.progress;
    IDirectSoundBuffer* buffer = job.pBuffer.get();
    HRESULT played = DSERR_INVALIDCALL;
    if (p.frames)
        played = p.plays == 0 ? p.frames->PlayFirst() : p.frames->PlayNext(p.wait);
    if (played == DSERR_INVALIDCALL) { // as designed (or too many starts wait already)
        buffer->SetCurrentPosition(0);
        if (job.bRun.load() == 0)
            return false;
        played = buffer->Play(0, 0, 0);
    }
    if (played != DS_OK)
        OutputDebugStringA("Play Error!\n");
    if (job.bRun.load() == 0) {
        // The stop may have silenced the buffer just before this Play restarted it.
        FadeOutJob(job);
        return false;
    }
    return true;
}

bool PlaysLeft(const PlayJob& job) {
    const std::int32_t repeat = job.pEntry->nRepeat;
    return repeat == 0 || job.progress.plays < repeat;
}

// The play due now and the wait that follows it. False when the job ends here.
bool PlayAndCount(PlayJob& job) {
    PlayProgress& p = job.progress;
    if (job.bRun.load() == 0 || !PlaysLeft(job) || !PlayOnce(job))
        return false;
    ++p.plays;
    const EffectEntry& entry = *job.pEntry;
    const std::int32_t interval = entry.nInterval;
    p.wait = std::max(kMinimumWaitMs, (p.plays != entry.nRepeat && interval != 0)
                                          ? static_cast<std::uint32_t>(interval)
                                          : p.defaultWait);
    // Each play is due a wait after the previous one was due, not after it actually started, so
    // wake-up delays do not add up. Fallen behind by more than a whole wait (a stalled machine):
    // start the schedule afresh rather than firing the missed plays back to back.
    const Clock::time_point now = Clock::now();
    if (now - p.due > std::chrono::milliseconds(p.wait))
        p.due = now;
    p.due += std::chrono::milliseconds(p.wait);
    if (p.frames) {
        p.frames->Advance(p.wait);
        WriteWaitLine(p.wait); // for the others WaitWhileRunning writes it as it sleeps
    }
    return true;
}

} // namespace

void BeginPlayJob(PlayJob& job) {
    PlayProgress& p = job.progress;
    p.bBegun = true;
    IDirectSoundBuffer* buffer = job.pBuffer.get();
    if (!buffer) {
        p.bEnded = true;
        return;
    }
    WAVEFORMATEX format{};
    if (buffer->GetFormat(&format, sizeof format, nullptr) == DS_OK)
        p.defaultWait = ComputeDefaultWait(job.pEntry->dwDataLength, format);
    if (job.nTrimmedMs != 0)
        p.defaultWait = job.nTrimmedMs;

    buffer->SetPan(job.pEntry->nPan);
    buffer->SetVolume(job.pEntry->nVolume);
    if (MixerVoice* voice = QueryMixerVoice(buffer)) {
        voice->StoreGainDb(job.fGainDb);
        voice->StoreSend(job.send);
    }
    SilenceJob(job);

    // Our buffers start on an exact output frame: the plays after the first are handed to the
    // mixer ahead of time on the first play's frame plus the waits so far. Others play when due.
    if (ISoundBufferSchedule* schedule = QueryBufferSchedule(buffer))
        p.frames.emplace(*schedule, job.StartOwner());
    p.due = Clock::now();
    // The plays due within the hand-over lead go over at once too: the worker may first run after
    // the frame of the next one has passed (repeats quicker than a block).
    do {
        if (!PlayAndCount(job)) {
            p.bEnded = true;
            return;
        }
    } while (p.frames && PlaysLeft(job) && p.frames->Due(p.due, true, nullptr));
}

void AbandonPlayJob(PlayJob& job) {
    if (!job.progress.bBegun)
        return;
    if (job.progress.frames)
        job.progress.frames->TakeBack();
    SilenceJob(job);
}

unsigned PlayJobThread(PlayJobPtr job) {
    PlayProgress& p = job->progress;
    if (!p.bBegun)
        BeginPlayJob(*job);
    while (!p.bEnded) {
        if (p.frames) {
            // Until the next play is to be handed over, or until the last one has sounded its
            // wait by the output's clock (its frames may come later than ours say).
            if (!p.frames->WaitForNextFrame(*job, p.due, PlaysLeft(*job)))
                break;
        } else {
            WaitWhileRunning(p.wait, *job, p.due - std::chrono::milliseconds(p.wait));
        }
        if (!PlayAndCount(*job))
            break;
    }
    // Starts handed over ahead of time that have not sounded (an output that pulls no frames)
    // must not outlive the job: no row would show them and no stop would reach them.
    if (p.frames)
        p.frames->TakeBack();

    Finish(job);
    return 0;
}
