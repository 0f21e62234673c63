// Stand-ins for the playback tests: a sound buffer that records every call (with its thread and
// time) and can hold a Play until released, the window's "play done" queue, and a recorder of
// the debug sink. All of them may be used from worker threads while a test reads them.
#pragma once

#include "playback/play_job.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ActivePlayList;

// How long a test waits for something that must happen; only reached when it never does.
constexpr std::chrono::seconds kPatience{10};

class FakeBuffer : public IDirectSoundBuffer {
public:
    struct Call {
        std::string text; // e.g. "SetPan(-300)", "Play(0,0,0)"
        std::thread::id thread;
        std::chrono::steady_clock::time_point time;
    };

    // A 16-bit stereo buffer at 22050 samples per second (88200 bytes per second).
    FakeBuffer();

    void SetReportedFormat(const WAVEFORMATEX& format) {
        Locked([&] { m_format = format; });
    }
    void SetGetFormatResult(HRESULT hr) {
        Locked([&] { m_getFormatResult = hr; });
    }
    void SetPlayResult(HRESULT hr) {
        Locked([&] { m_playResult = hr; });
    }

    // The n-th Play call from now on (1 = the next) blocks until ReleasePlay and is recorded
    // only then, when the sound would start; WaitHeld says whether a Play is blocked there.
    void HoldPlay(int nth);
    bool WaitHeld();
    void ReleasePlay();

    std::vector<Call> Calls() const;
    std::vector<std::string> Texts() const;
    int Count(const std::string& text) const;
    // Waits until `text` has been called at least `count` times; false after kPatience.
    bool WaitForCount(const std::string& text, int count) const;

    HRESULT GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                      std::uint32_t* sizeWritten) override;
    HRESULT SetFormat(const WAVEFORMATEX* format) override;
    HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** region1, std::uint32_t* bytes1,
                 void** region2, std::uint32_t* bytes2, std::uint32_t flags) override;
    HRESULT Unlock(void* region1, std::uint32_t bytes1, void* region2,
                   std::uint32_t bytes2) override;
    HRESULT Restore() override;
    HRESULT SetPan(std::int32_t pan) override;
    HRESULT SetVolume(std::int32_t volume) override;
    HRESULT GetPan(std::int32_t* pan) override;
    HRESULT GetVolume(std::int32_t* volume) override;
    HRESULT SetCurrentPosition(std::uint32_t position) override;
    HRESULT GetStatus(std::uint32_t* status) override;
    HRESULT Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags) override;
    HRESULT Stop() override;

private:
    template <class F> void Locked(F f) {
        std::lock_guard lock(m_mutex);
        f();
    }
    void Record(std::string text);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<Call> m_calls;
    WAVEFORMATEX m_format{};
    HRESULT m_getFormatResult = DS_OK;
    HRESULT m_playResult = DS_OK;
    std::int32_t m_pan = 0;
    std::int32_t m_volume = 0;
    int m_playsUntilHold = 0; // 0 = no hold armed
    bool m_held = false;
};

// The window's message queue for "play done": workers post, the test drains.
class PlayDoneQueue {
public:
    PostPlayDone Poster();
    // The next posted job, or null after kPatience.
    PlayJobPtr WaitPop();
    // Whether anything is queued right now.
    int Size() const;
    // Hands every queued job to the list as the window would; returns how many it removed.
    int DrainInto(ActivePlayList& list);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<PlayJobPtr> m_jobs;
};

// Collects the debug sink's lines while it lives.
class DebugRecorder {
public:
    DebugRecorder();
    ~DebugRecorder();
    DebugRecorder(const DebugRecorder&) = delete;
    DebugRecorder& operator=(const DebugRecorder&) = delete;

    std::vector<std::string> Lines() const;
    // Waits until `line` has been written at least `count` times; false after kPatience.
    bool WaitForLine(const std::string& line, int count = 1) const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// A ready-to-play entry on a fresh fake buffer whose sound lasts `soundMs` (at 88200 bytes/s).
EffectEntryPtr MakePlayableEntry(std::shared_ptr<FakeBuffer> buffer, std::int32_t repeat,
                                 std::int32_t interval, std::uint32_t soundMs = 50);
