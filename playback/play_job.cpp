// The playback worker: pan, volume, then the plays and waits that the entry's repeat count and
// interval ask for, then "play done" to the window. Waits sleep on the job's condition variable
// so that a stop is seen at once, and follow a fixed schedule so that repeats never drift.
#include "playback/play_job.h"

#include "base/debug_sink.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <limits>

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

void WaitWhileRunning(std::uint32_t ms, PlayJob& job, Clock::time_point from) {
    char line[16];
    std::snprintf(line, sizeof line, "%d\n", static_cast<std::int32_t>(ms));
    OutputDebugStringA(line);

    const Clock::time_point deadline = from + std::chrono::milliseconds(ms);
    std::unique_lock lock(job.waitMutex);
    job.waitCv.wait_until(lock, deadline, [&job] { return job.bRun.load() == 0; });
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

unsigned PlayJobThread(PlayJobPtr job) {
    const EffectEntry& entry = *job->pEntry;
    IDirectSoundBuffer* buffer = job->pBuffer.get();
    if (!buffer) {
        Finish(job);
        return 0;
    }

    WAVEFORMATEX format{};
    std::uint32_t defaultWait = 0;
    if (buffer->GetFormat(&format, sizeof format, nullptr) == DS_OK)
        defaultWait = ComputeDefaultWait(entry.dwDataLength, format);

    buffer->SetPan(entry.nPan);
    buffer->SetVolume(entry.nVolume);
    buffer->Stop();

    // When each play is due. The first is now; each next one is due a wait after the previous
    // one was due, not after it actually started, so wake-up delays do not add up.
    Clock::time_point due = Clock::now();
    std::int32_t plays = 0;
    while (job->bRun.load() != 0 && (entry.nRepeat == 0 || plays < entry.nRepeat)) {
        buffer->SetCurrentPosition(0);
        if (job->bRun.load() == 0)
            break;
        if (buffer->Play(0, 0, 0) != DS_OK)
            OutputDebugStringA("Play Error!\n");
        if (job->bRun.load() == 0) {
            // The stop may have silenced the buffer just before this Play restarted it.
            buffer->Stop();
            break;
        }
        ++plays;

        const std::int32_t interval = entry.nInterval;
        const std::uint32_t wait =
            std::max(kMinimumWaitMs, (plays != entry.nRepeat && interval != 0)
                                         ? static_cast<std::uint32_t>(interval)
                                         : defaultWait);
        // Fallen behind by more than a whole wait (a stalled machine): start the schedule afresh
        // rather than firing the missed plays back to back.
        const Clock::time_point now = Clock::now();
        if (now - due > std::chrono::milliseconds(wait))
            due = now;
        WaitWhileRunning(wait, *job, due);
        due += std::chrono::milliseconds(wait);
    }

    Finish(job);
    return 0;
}
