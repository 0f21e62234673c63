// The recording fake device and buffers.
#include "tests/support/fake_sound.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

std::vector<std::uint8_t> CopyFormat(const WAVEFORMATEX* format) {
    if (!format)
        return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(format);
    const std::size_t size = sizeof(WAVEFORMATEX) + format->cbSize;
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

class FakeDevice : public IDirectSound {
public:
    FakeDevice(std::shared_ptr<FakeSound> owner, std::string name)
        : m_owner(std::move(owner)), m_name(std::move(name)) {}
    ~FakeDevice() override { m_owner->Record(m_name, "Release", {}); }

    HRESULT SetCooperativeLevel(void* window, std::uint32_t level) override {
        return m_owner->Record(
            m_name, "SetCooperativeLevel",
            {static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(window)), level});
    }

    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, SoundBufferPtr* buffer,
                              void* outer) override {
        const bool primary = desc && (desc->dwFlags & DSBCAPS_PRIMARYBUFFER);
        FakeBufferDesc seen;
        if (desc) {
            seen.dwSize = desc->dwSize;
            seen.dwFlags = desc->dwFlags;
            seen.dwBufferBytes = desc->dwBufferBytes;
            seen.dwReserved = desc->dwReserved;
            seen.zeroGuid =
                std::all_of(std::begin(desc->guid3DAlgorithm), std::end(desc->guid3DAlgorithm),
                            [](std::uint8_t b) { return b == 0; });
            seen.format = CopyFormat(desc->lpwfxFormat);
        }
        HRESULT hr = m_owner->Record(
            m_name, "CreateSoundBuffer",
            {desc ? desc->dwFlags : 0, desc ? desc->dwBufferBytes : 0, outer ? 1 : 0},
            primary ? "CreateSoundBuffer.primary" : "CreateSoundBuffer");
        if (!desc || !buffer)
            hr = DSERR_INVALIDPARAM;
        if (hr < 0) {
            if (buffer)
                buffer->reset();
            m_owner->AddDescription(std::move(seen));
            return hr;
        }
        auto made = std::make_shared<FakeSoundBuffer>(m_owner, m_owner->NewName("buf"),
                                                      desc->dwBufferBytes, seen.format);
        seen.object = made->Name();
        m_owner->AddDescription(std::move(seen));
        m_owner->AddBuffer(made);
        *buffer = std::move(made);
        return hr;
    }

private:
    std::shared_ptr<FakeSound> m_owner;
    std::string m_name;
};

} // namespace

std::string FakeCall::Text() const {
    std::string text = object.empty() ? name : object + "." + name;
    text += "(";
    for (std::size_t i = 0; i < args.size(); ++i)
        text += (i ? "," : "") + std::to_string(args[i]);
    return text + ")";
}

FakeSoundBuffer::FakeSoundBuffer(std::shared_ptr<FakeSound> owner, std::string name,
                                 std::uint32_t bytes, std::vector<std::uint8_t> format)
    : m_owner(std::move(owner)), m_name(std::move(name)), m_memory(bytes, 0),
      m_format(std::move(format)) {}

FakeSoundBuffer::~FakeSoundBuffer() {
    m_owner->Record(m_name, "Release", {});
}

HRESULT FakeSoundBuffer::Record(const char* name, std::vector<std::int64_t> args) {
    return m_owner->Record(m_name, name, std::move(args));
}

HRESULT FakeSoundBuffer::GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                                   std::uint32_t* sizeWritten) {
    const HRESULT hr = Record("GetFormat", {sizeAllocated});
    if (hr < 0)
        return hr;
    std::lock_guard lock(m_mutex);
    const std::size_t n = std::min<std::size_t>(sizeAllocated, m_format.size());
    if (format && n)
        std::memcpy(format, m_format.data(), n);
    if (sizeWritten)
        *sizeWritten = static_cast<std::uint32_t>(n);
    return hr;
}

HRESULT FakeSoundBuffer::SetFormat(const WAVEFORMATEX* format) {
    const HRESULT hr = Record(
        "SetFormat", {format ? format->wFormatTag : -1, format ? format->nChannels : -1,
                      format ? format->nSamplesPerSec : -1, format ? format->nAvgBytesPerSec : -1,
                      format ? format->nBlockAlign : -1, format ? format->wBitsPerSample : -1,
                      format ? format->cbSize : -1});
    if (hr >= 0) {
        std::lock_guard lock(m_mutex);
        m_format = CopyFormat(format);
    }
    return hr;
}

HRESULT FakeSoundBuffer::Lock(std::uint32_t offset, std::uint32_t bytes, void** region1,
                              std::uint32_t* bytes1, void** region2, std::uint32_t* bytes2,
                              std::uint32_t flags) {
    *region1 = *region2 = nullptr;
    *bytes1 = *bytes2 = 0;
    HRESULT hr = Record("Lock", {offset, bytes, flags});
    if (hr < 0)
        return hr;
    std::lock_guard lock(m_mutex);
    if (std::uint64_t{offset} + bytes > m_memory.size())
        return DSERR_INVALIDPARAM;
    const std::uint32_t split = m_owner->LockSplit();
    std::uint8_t* start = m_memory.data() + offset;
    if (split != 0 && bytes > split) {
        *region1 = start;
        *bytes1 = split;
        *region2 = start + split;
        *bytes2 = bytes - split;
    } else {
        *region1 = start;
        *bytes1 = bytes;
    }
    return hr;
}

HRESULT FakeSoundBuffer::Unlock(void* region1, std::uint32_t bytes1, void* region2,
                                std::uint32_t bytes2) {
    (void)region1;
    (void)region2;
    return Record("Unlock", {bytes1, bytes2});
}

HRESULT FakeSoundBuffer::Restore() {
    return Record("Restore", {});
}

HRESULT FakeSoundBuffer::SetPan(std::int32_t pan) {
    const HRESULT hr = Record("SetPan", {pan});
    if (hr >= 0) {
        std::lock_guard lock(m_mutex);
        m_nPan = pan;
    }
    return hr;
}

HRESULT FakeSoundBuffer::SetVolume(std::int32_t volume) {
    const HRESULT hr = Record("SetVolume", {volume});
    if (hr >= 0) {
        std::lock_guard lock(m_mutex);
        m_nVolume = volume;
    }
    return hr;
}

HRESULT FakeSoundBuffer::GetPan(std::int32_t* pan) {
    const HRESULT hr = Record("GetPan", {});
    std::lock_guard lock(m_mutex);
    if (pan)
        *pan = m_nPan;
    return hr;
}

HRESULT FakeSoundBuffer::GetVolume(std::int32_t* volume) {
    const HRESULT hr = Record("GetVolume", {});
    std::lock_guard lock(m_mutex);
    if (volume)
        *volume = m_nVolume;
    return hr;
}

HRESULT FakeSoundBuffer::SetCurrentPosition(std::uint32_t position) {
    return Record("SetCurrentPosition", {position});
}

HRESULT FakeSoundBuffer::GetStatus(std::uint32_t* status) {
    const HRESULT hr = Record("GetStatus", {});
    std::lock_guard lock(m_mutex);
    if (status)
        *status = m_bPlaying ? DSBSTATUS_PLAYING : 0;
    return hr;
}

HRESULT FakeSoundBuffer::Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags) {
    const HRESULT hr = Record("Play", {reserved, priority, flags});
    if (hr >= 0) {
        std::lock_guard lock(m_mutex);
        m_bPlaying = true;
    }
    return hr;
}

HRESULT FakeSoundBuffer::Stop() {
    const HRESULT hr = Record("Stop", {});
    std::lock_guard lock(m_mutex);
    m_bPlaying = false;
    return hr;
}

std::vector<std::uint8_t> FakeSoundBuffer::Bytes() const {
    std::lock_guard lock(m_mutex);
    return m_memory;
}

void FakeSoundBuffer::FinishPlaying() {
    std::lock_guard lock(m_mutex);
    m_bPlaying = false;
}

std::shared_ptr<FakeSound> FakeSound::Create() {
    return std::shared_ptr<FakeSound>(new FakeSound());
}

void FakeSound::QueueResult(const std::string& operation, HRESULT result) {
    std::lock_guard lock(m_mutex);
    m_queued[operation].push_back(result);
}

void FakeSound::SetResult(const std::string& operation, HRESULT result) {
    std::lock_guard lock(m_mutex);
    m_standing[operation] = result;
}

void FakeSound::SetLockSplit(std::uint32_t firstRegionBytes) {
    std::lock_guard lock(m_mutex);
    m_nLockSplit = firstRegionBytes;
}

std::uint32_t FakeSound::LockSplit() const {
    std::lock_guard lock(m_mutex);
    return m_nLockSplit;
}

SoundOutputFactory FakeSound::Factory() {
    std::weak_ptr<FakeSound> weak = weak_from_this();
    return [weak](SoundDevicePtr* device) -> HRESULT {
        auto self = weak.lock();
        if (!self)
            return DSERR_NODRIVER;
        const HRESULT hr = self->Record("", "DirectSoundCreate", {});
        if (hr < 0) {
            device->reset();
            return hr;
        }
        *device = std::make_shared<FakeDevice>(self, self->NewName("ds"));
        return hr;
    };
}

std::shared_ptr<FakeSoundBuffer> FakeSound::MakeBuffer(std::uint32_t bytes,
                                                       const WAVEFORMATEX* format) {
    auto buffer = std::make_shared<FakeSoundBuffer>(shared_from_this(), NewName("buf"), bytes,
                                                    CopyFormat(format));
    AddBuffer(buffer);
    return buffer;
}

HRESULT FakeSound::Record(const std::string& object, const std::string& name,
                          std::vector<std::int64_t> args, const std::string& resultKey) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back({object, name, std::move(args)});
    const std::string& key = resultKey.empty() ? name : resultKey;
    auto queued = m_queued.find(key);
    if (queued != m_queued.end() && !queued->second.empty()) {
        const HRESULT hr = queued->second.front();
        queued->second.pop_front();
        return hr;
    }
    auto standing = m_standing.find(key);
    return standing != m_standing.end() ? standing->second : DS_OK;
}

std::string FakeSound::NewName(const char* prefix) {
    std::lock_guard lock(m_mutex);
    return prefix + std::to_string(++m_counters[prefix]);
}

void FakeSound::AddDescription(FakeBufferDesc desc) {
    std::lock_guard lock(m_mutex);
    m_descs.push_back(std::move(desc));
}

void FakeSound::AddBuffer(const std::shared_ptr<FakeSoundBuffer>& buffer) {
    std::lock_guard lock(m_mutex);
    m_buffers[buffer->Name()] = buffer;
}

std::vector<FakeCall> FakeSound::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<std::string> FakeSound::CallTexts() const {
    std::vector<std::string> texts;
    for (const FakeCall& call : Calls())
        texts.push_back(call.Text());
    return texts;
}

std::vector<FakeBufferDesc> FakeSound::Descriptions() const {
    std::lock_guard lock(m_mutex);
    return m_descs;
}

std::shared_ptr<FakeSoundBuffer> FakeSound::Buffer(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    auto it = m_buffers.find(name);
    return it == m_buffers.end() ? nullptr : it->second.lock();
}

void FakeSound::ClearCalls() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}
