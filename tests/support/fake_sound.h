// A configurable stand-in for the sound output's device and buffers: every call is recorded with
// its arguments in order, and any operation can be made to fail, once or always. Used to reach
// the failure paths that a working mixer never takes, and to see exactly what callers ask for.
#pragma once

#include "audio/sound_output.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FakeSound;

// One recorded call, e.g. "buf1.Lock(0,17316,0)". Devices are "ds<n>", buffers "buf<n>" and the
// free factory call "DirectSoundCreate". A buffer given back records "Release()".
struct FakeCall {
    std::string object;
    std::string name;
    std::vector<std::int64_t> args;
    std::string Text() const;
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

class FakeSoundBuffer : public IDirectSoundBuffer {
public:
    FakeSoundBuffer(std::shared_ptr<FakeSound> owner, std::string name, std::uint32_t bytes,
                    std::vector<std::uint8_t> format);
    ~FakeSoundBuffer() override;

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

    const std::string& Name() const { return m_name; }
    // The buffer's memory as the last Unlock left it.
    std::vector<std::uint8_t> Bytes() const;
    // Ends a play as if the sound had reached its end (GetStatus then reports stopped).
    void FinishPlaying();

private:
    HRESULT Record(const char* name, std::vector<std::int64_t> args);

    std::shared_ptr<FakeSound> m_owner;
    std::string m_name;
    mutable std::mutex m_mutex;
    std::vector<std::uint8_t> m_memory;
    std::vector<std::uint8_t> m_format;
    std::int32_t m_nPan = 0;
    std::int32_t m_nVolume = 0;
    bool m_bPlaying = false;
};

// The shared state behind the fake devices and buffers: the call log and the results to give.
// Every member may be used from any thread.
class FakeSound : public std::enable_shared_from_this<FakeSound> {
public:
    static std::shared_ptr<FakeSound> Create();

    // Results by operation name ("DirectSoundCreate", "SetCooperativeLevel", "CreateSoundBuffer",
    // "SetFormat", "Lock", "Unlock", "Restore", "Play", ...). A queued result is used by the next
    // call of that name on any object; otherwise the standing result (DS_OK unless set).
    void QueueResult(const std::string& operation, HRESULT result);
    void SetResult(const std::string& operation, HRESULT result);
    // "CreateSoundBuffer" results apply to secondary buffers; the primary one has its own.
    void QueuePrimaryResult(HRESULT result) { QueueResult("CreateSoundBuffer.primary", result); }
    // When nonzero, a Lock of more than this many bytes hands out two regions split here.
    void SetLockSplit(std::uint32_t firstRegionBytes);

    // A factory for SetSoundOutputFactory that makes a fresh fake device per call.
    SoundOutputFactory Factory();
    // A buffer made directly, without a device (recorded as its own object).
    std::shared_ptr<FakeSoundBuffer> MakeBuffer(std::uint32_t bytes,
                                                const WAVEFORMATEX* format = nullptr);

    std::vector<FakeCall> Calls() const;
    // The calls as text, e.g. {"DirectSoundCreate()", "ds1.SetCooperativeLevel(4660,2)"}.
    std::vector<std::string> CallTexts() const;
    std::vector<FakeBufferDesc> Descriptions() const;
    // The buffers still alive, by name.
    std::shared_ptr<FakeSoundBuffer> Buffer(const std::string& name) const;
    void ClearCalls();

    // Used by the fake objects.
    HRESULT Record(const std::string& object, const std::string& name,
                   std::vector<std::int64_t> args, const std::string& resultKey = {});
    std::string NewName(const char* prefix);
    void AddDescription(FakeBufferDesc desc);
    void AddBuffer(const std::shared_ptr<FakeSoundBuffer>& buffer);
    std::uint32_t LockSplit() const;

private:
    FakeSound() = default;

    mutable std::mutex m_mutex;
    std::vector<FakeCall> m_calls;
    std::vector<FakeBufferDesc> m_descs;
    std::map<std::string, std::deque<HRESULT>> m_queued;
    std::map<std::string, HRESULT> m_standing;
    std::map<std::string, std::weak_ptr<FakeSoundBuffer>> m_buffers;
    std::map<std::string, int> m_counters;
    std::uint32_t m_nLockSplit = 0;
};
