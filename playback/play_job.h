// SPDX-License-Identifier: GPL-3.0-or-later
// One running playback and its worker thread. The worker plays the entry's buffer the entry's
// repeat count of times, spaced by its interval, then reports to the window ("play done").
// Jobs are shared: the worker keeps its job, and the job its entry, alive until both are done
// with them, so nothing a worker touches can be freed under it.
#pragma once

#include "model/effect_table.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <pthread.h>

// A worker's thread: joinable like std::thread, but started with a small stack. Playback
// threads need little, and with the default 8 MiB each one that ends unmaps its stack, which
// made stopping a few hundred jobs ten times slower. Window thread only.
class WorkerThread {
public:
    // Enough for the worker, its debug line and its "play done" post, sanitizers included.
    static constexpr std::size_t kStackSize = 128 * 1024;

    WorkerThread() = default;
    ~WorkerThread(); // lets a thread still joinable go rather than ending the process
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `body` at once; false when the thread cannot be started.
    bool Start(std::function<void()> body, std::size_t stackSize = kStackSize);
    bool joinable() const { return m_bJoinable; }
    void join();
    void detach();
    // Whether the caller is this thread.
    bool IsCurrent() const;

private:
    pthread_t m_thread{};
    bool m_bJoinable = false;
};

struct PlayJob;
using PlayJobPtr = std::shared_ptr<PlayJob>;

// The worker's last act: hands its job to the window's thread (queued there), which calls
// ActivePlayList::OnPlayDone.
using PostPlayDone = std::function<void(PlayJobPtr job)>;

// The path from workers to whoever takes their "play done": a worker may outlive its stop, so the
// taker cuts the path as it goes and later posts reach nobody. Shared by the workers' closures.
class PlayDoneRelay {
public:
    explicit PlayDoneRelay(PostPlayDone taker) : m_taker(std::move(taker)) {}
    // Any thread; returns once the taker has it, or at once when the path is cut.
    void Post(PlayJobPtr job) {
        std::lock_guard lock(m_mutex);
        if (m_taker)
            m_taker(std::move(job));
    }
    // Waits for a post under way, so that nothing reaches the taker after this returns.
    void Cut() {
        std::lock_guard lock(m_mutex);
        m_taker = nullptr;
    }

private:
    std::mutex m_mutex;
    PostPlayDone m_taker; // guarded by m_mutex
};

// The worker's schedule on the output's clock, for buffers that start at a frame: the first play
// lands on the very next block, each later one on that frame plus the waits since, converted at
// the output rate (at each rate from the frame it began at). Made by the thread that begins the
// job, then the worker's alone.
class RepeatClock {
public:
    // Wake-up delay a hand-over ahead of time absorbs beyond two blocks; the mixer's block before
    // it has mixed any (the largest it mixes at once); how long an output may pull no frames
    // before the wall clock decides instead, once it has pulled some during the job, before, and
    // while it wakes (a suspended sink, a Bluetooth headset or a sound server coming back takes
    // a second or two).
    static constexpr std::uint32_t kWakeMarginMs = 40;
    static constexpr std::uint32_t kAssumedBlockFrames = 512;
    static constexpr std::uint32_t kStallMs = 500;
    static constexpr std::uint32_t kIdleMs = 50;
    static constexpr std::uint32_t kWakeMs = 3000;

    RepeatClock(ISoundBufferSchedule& schedule, std::uint16_t owner);

    // The first play, or a fresh start of the schedule.
    HRESULT PlayFirst();
    // The play due now; `lastWait` is the wait just made (a worker behind by more starts afresh).
    // While the output stands and has not moved since the last hand-over, it hands over nothing
    // and takes that start back: a device that comes back plays no backlog.
    HRESULT PlayNext(std::uint32_t lastWait);
    // Takes back this job's starts that have not sounded (the job ends).
    void TakeBack();
    // The next play comes `wait` milliseconds after the last one.
    void Advance(std::uint32_t wait);
    std::uint64_t NextFrame() const;
    // Sleeps until the output's clock nears the next play's frame: with `handOver`, two blocks
    // and a margin before it (then the play is handed to the mixer); otherwise until it is
    // reached. While the output pulls no frames, until `due` (less that lead) by our clock only.
    // False when the job was asked to stop.
    bool WaitForNextFrame(PlayJob& job, std::chrono::steady_clock::time_point due, bool handOver);
    // Whether that moment has come; if not, when to look again (`wake` may be null).
    bool Due(std::chrono::steady_clock::time_point due, bool handOver,
             std::chrono::steady_clock::time_point* wake);

private:
    // The output's next block frame; notes when it last moved, whether it wakes, and a new rate.
    std::uint64_t ReadClock(std::uint32_t* block);
    // How long the output may pull no frames, and whether it has for longer.
    std::chrono::milliseconds Patience() const;
    bool Stalled(std::chrono::steady_clock::time_point now) const;

    ISoundBufferSchedule& m_schedule;
    const std::uint16_t m_nOwner;
    std::uint64_t m_nAnchor = 0;       // output frame of the play the schedule counts from
    std::uint32_t m_nRate = 0;         // output frames per second
    std::uint64_t m_nFromAnchorMs = 0; // milliseconds from that play to the next one
    std::uint64_t m_nLastSeen = 0;     // the output's clock when last read...
    std::chrono::steady_clock::time_point m_lastAdvance; // ...and when it last moved
    bool m_bMoved = false;                               // it has moved during this job
    bool m_bWaking = false;                              // the output sleeps or reopens
    std::uint64_t m_nHandedAt = 0;                       // the output's clock at the last hand-over
};

// Where a job's plays stand.
struct PlayProgress {
    std::optional<RepeatClock> frames;         // our own buffers' schedule on the output's clock
    std::chrono::steady_clock::time_point due; // when the next play is due by our clock
    std::int32_t plays = 0;                    // plays made
    std::uint32_t wait = 0;                    // the wait after the last one
    std::uint32_t defaultWait = 0;             // the sound's (trimmed) length in ms
    bool bBegun = false;                       // pan, volume and the first plays are made
    bool bEnded = false;                       // no play and no wait is left
};

struct PlayJob {
    WorkerThread pThread;                 // window thread only
    EffectEntryPtr pEntry;                // the effect being played
    SoundBufferPtr pBuffer;               // the sound picked when the job starts
    std::atomic<std::uint8_t> bRun{1};    // cleared by the window to stop, by the worker as it ends
    std::atomic<std::uint8_t> bActive{1}; // cleared by the worker as it ends
    PostPlayDone postToOwner;             // set before the worker starts, then read-only
    std::uint64_t nId = 0;                // never reused: tells jobs apart in logs and tests
    float fGainDb = 0;                    // the effect's gain, taken when the job starts
    OutputSend send = OutputSend::Both;   // where it sounds, taken when the job starts
    std::uint32_t nTrimmedMs = 0;         // what plays of pBuffer, in ms; 0 = the entry's own sound
    int nLiveDb = 0; // its level, set in the play list on top of the effect's; window thread

    PlayProgress progress; // made by BeginPlayJob before the worker starts, then the worker's

    // The owner its starts at a frame carry: never 0, and apart for any two jobs whose ids are
    // less than 65535 apart, far more than ever share one buffer.
    std::uint16_t StartOwner() const { return static_cast<std::uint16_t>(nId % 0xFFFF + 1); }

    // Clears the run flag and wakes the worker from its wait at once. Any thread.
    void RequestStop();

    // Wait support: the worker sleeps on this until a deadline or a stop.
    std::mutex waitMutex;
    std::condition_variable waitCv;
    // Set by the worker when it has finished, so StopAll can wait with a deadline.
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool bFinished = false; // guarded by doneMutex

    // Waits until the worker has finished or the deadline has passed; returns whether it has.
    bool WaitFinished(std::chrono::steady_clock::time_point deadline);
};

// Pan, volume and the first plays, made by whoever starts the job: a key's sound then goes into
// the very next block, not the one after the worker is first scheduled. Before the worker starts,
// on our own buffers only (nothing of theirs waits).
void BeginPlayJob(PlayJob& job);
// Takes back what BeginPlayJob started, for a job whose worker could not be started.
void AbandonPlayJob(PlayJob& job);

// The worker's body (run on the job's own thread); begins the job itself when nobody has.
unsigned PlayJobThread(PlayJobPtr job);

// Silences the job's buffer (every job of its effect falls silent), taking back only this job's
// waiting starts: another job's next play brings the sound back. Any thread.
void SilenceJob(const PlayJob& job);

// A stop by command: as SilenceJob, but what sounds fades out over the effect's fade-out.
void FadeOutJob(const PlayJob& job);

// Waits `ms` milliseconds counted from `from` (unsigned: -1 is "until stopped") or until the
// job's run flag is cleared, whichever comes first. Writes "%d\n" to the debug sink first.
// Counting from a given moment rather than from the call is what keeps repeats from drifting.
void WaitWhileRunning(
    std::uint32_t ms, PlayJob& job,
    std::chrono::steady_clock::time_point from = std::chrono::steady_clock::now());

// The sound's playing time in milliseconds: data bytes / bytes per second, truncated. A rate of
// 0 gives 0; a time beyond 32 bits is held at 0xFFFFFFFF (as good as "until stopped").
std::uint32_t ComputeDefaultWait(std::uint32_t dataLength, std::uint32_t avgBytesPerSec);
// The same from the buffer's format. A header's byte rate is only a claim: where a linear format
// (PCM, float) carries one other than block align x sample rate (0 included), the length is
// taken from the frame count and the sample rate, which is what the mixer plays.
std::uint32_t ComputeDefaultWait(std::uint32_t dataLength, const WAVEFORMATEX& format);

// The shortest wait between two plays: a worker never restarts its sound without sleeping.
constexpr std::uint32_t kMinimumWaitMs = 1;

// Output frames in `ms` milliseconds at `framesPerSec`, to the nearest frame. Repeats take it of
// the whole time since the first play, never adding rounded pieces, so no error builds up.
std::uint64_t OutputFramesIn(std::uint64_t ms, std::uint32_t framesPerSec);
