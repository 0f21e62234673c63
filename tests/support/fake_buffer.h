// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-ins for the sound output and the playback tests: a device and buffers that record every
// call in order (with its thread and time) and can be made to fail, once or always, or to hold a
// Play until released; the window's "play done" queue; and a recorder of the debug sink. All of
// them may be used from worker threads while a test reads them.
#pragma once

#include "audio/output_config.h"
#include "playback/play_job.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ActivePlayList;
class FakeBuffer;

// How long a test waits for something that must happen; only reached when it never does.
constexpr std::chrono::seconds kPatience{10};

// One recorded call. Devices are "ds<n>", buffers of a FakeSound "buf<n>"; a buffer made on its
// own and the free DirectSoundCreate have no object. A buffer given back records "Release".
struct FakeCall {
    std::string object;
    std::string name;
    std::vector<std::int64_t> args;
    std::thread::id thread;
    std::chrono::steady_clock::time_point time;
    // "SetPan(-300)", "Stop"; with the object when asked, "buf2.Lock(0,8,0)".
    std::string Text(bool withObject) const;
};

// What a CreateSoundBuffer call asked for; the format record is copied (18 + cbSize bytes).
struct FakeBufferDesc {
    std::string object; // name of the buffer made, empty when the call failed
    std::uint32_t dwSize = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwBufferBytes = 0;
    std::uint32_t dwReserved = 0;
    bool zeroGuid = true;
    std::vector<std::uint8_t> format; // empty when lpwfxFormat was null
};

// The shared state behind the fake devices and buffers: the call log and the results to give.
class FakeSound : public std::enable_shared_from_this<FakeSound> {
    struct Key {
        explicit Key() = default;
    };

public:
    static std::shared_ptr<FakeSound> Create() { return std::make_shared<FakeSound>(Key{}); }
    explicit FakeSound(Key) {}

    // Results by operation name ("DirectSoundCreate", "SetCooperativeLevel", "CreateSoundBuffer",
    // "SetFormat", "Lock", "Unlock", "Restore", "Play", ...), or "buf2.Play" for one object. A
    // queued result is used by the next such call; otherwise the standing one (DS_OK unless set).
    void QueueResult(const std::string& operation, HRESULT result);
    void SetResult(const std::string& operation, HRESULT result);
    // "CreateSoundBuffer" results apply to secondary buffers; the primary one has its own.
    void QueuePrimaryResult(HRESULT result) { QueueResult("CreateSoundBuffer.primary", result); }
    // When nonzero, a Lock of more than this many bytes hands out two regions split here.
    void SetLockSplit(std::uint32_t firstRegionBytes);

    // A factory for OutputConfig that makes a fresh fake device per call.
    SoundOutputFactory Factory();
    // A buffer made directly, without a device.
    std::shared_ptr<FakeBuffer> MakeBuffer(std::uint32_t bytes,
                                           const WAVEFORMATEX* format = nullptr);

    std::vector<FakeCall> Calls() const;
    std::vector<std::string> CallTexts() const;
    std::vector<FakeBufferDesc> Descriptions() const;
    // The buffers still alive, by name.
    std::shared_ptr<FakeBuffer> Buffer(const std::string& name) const;

    // Used by the fake objects.
    HRESULT Record(const std::string& object, const std::string& name,
                   std::vector<std::int64_t> args, const std::string& resultKey = {});
    std::vector<FakeCall> CallsOf(const std::string& object) const;
    int Count(const std::string& object, const std::string& text) const;
    bool WaitForCount(const std::string& object, const std::string& text, int count) const;
    std::string NewName(const char* prefix);
    void AddDescription(FakeBufferDesc desc);
    void AddBuffer(const std::shared_ptr<FakeBuffer>& buffer);
    std::uint32_t LockSplit() const;

private:
    int CountLocked(const std::string& object, const std::string& text) const;
    bool TakeResult(const std::string& key, HRESULT* result);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<FakeCall> m_calls;
    std::vector<FakeBufferDesc> m_descs;
    std::map<std::string, std::deque<HRESULT>> m_queued;
    std::map<std::string, HRESULT> m_standing;
    std::map<std::string, std::weak_ptr<FakeBuffer>> m_buffers;
    std::map<std::string, int> m_counters;
    std::uint32_t m_nLockSplit = 0;
};

class FakeBuffer : public IDirectSoundBuffer {
public:
    using Call = FakeCall;

    // On its own: a 16-bit stereo format at 22050 samples per second (88200 bytes per second), no
    // memory, and a log of its own.
    FakeBuffer();
    FakeBuffer(std::shared_ptr<FakeSound> sound, std::string name, std::uint32_t bytes,
               std::vector<std::uint8_t> format);
    ~FakeBuffer() override;

    void SetReportedFormat(const WAVEFORMATEX& format);
    void SetGetFormatResult(HRESULT hr) { m_sound->SetResult(ResultKey("GetFormat"), hr); }
    void SetPlayResult(HRESULT hr) { m_sound->SetResult(ResultKey("Play"), hr); }

    // The n-th Play call from now on (1 = the next) blocks until ReleasePlay and is recorded
    // only then, when the sound would start; WaitHeld says whether a Play is blocked there.
    void HoldPlay(int nth);
    bool WaitHeld();
    void ReleasePlay();

    // This buffer's own calls; their texts leave the object out: "SetPan(-300)", "Stop".
    std::vector<FakeCall> Calls() const { return m_sound->CallsOf(m_name); }
    std::vector<std::string> Texts() const;
    int Count(const std::string& text) const { return m_sound->Count(m_name, text); }
    // Waits until `text` has been called at least `count` times; false after kPatience.
    bool WaitForCount(const std::string& text, int count) const {
        return m_sound->WaitForCount(m_name, text, count);
    }

    const std::string& Name() const { return m_name; }
    // The buffer's memory as the last Unlock left it.
    std::vector<std::uint8_t> Bytes() const;
    // The format as GetFormat would give it.
    std::vector<std::uint8_t> Format() const;
    // Ends a play as if the sound had reached its end (GetStatus then reports stopped).
    void FinishPlaying();

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
    HRESULT Record(const char* name, std::vector<std::int64_t> args = {}) {
        return m_sound->Record(m_name, name, std::move(args));
    }
    std::string ResultKey(const char* operation) const {
        return m_name.empty() ? operation : m_name + "." + operation;
    }

    struct Locked {
        void* region1 = nullptr;
        std::uint32_t bytes1 = 0;
        void* region2 = nullptr;
        std::uint32_t bytes2 = 0;
    };

    std::shared_ptr<FakeSound> m_sound;
    std::string m_name;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::uint8_t> m_memory;  // as the last Unlock left it
    std::vector<std::uint8_t> m_staging; // what the callers write between Lock and Unlock
    Locked m_locked;
    std::vector<std::uint8_t> m_format;
    std::int32_t m_nPan = 0;
    std::int32_t m_nVolume = 0;
    bool m_bPlaying = false;
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
