// SPDX-License-Identifier: GPL-3.0-or-later
// The recording fake device and buffers, and the playback tests' stand-ins (see the header).
#include "tests/support/fake_buffer.h"

#include "base/debug_sink.h"
#include "playback/active_play_list.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

std::vector<std::uint8_t> CopyFormat(const WAVEFORMATEX* format) {
    if (!format)
        return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(format);
    return std::vector<std::uint8_t>(bytes, bytes + sizeof(WAVEFORMATEX) + format->cbSize);
}

class FakeDevice : public IDirectSound {
public:
    FakeDevice(std::shared_ptr<FakeSound> sound, std::string name)
        : m_sound(std::move(sound)), m_name(std::move(name)) {}
    ~FakeDevice() override { m_sound->Record(m_name, "Release", {}); }

    HRESULT SetCooperativeLevel(void* window, std::uint32_t level) override {
        return m_sound->Record(
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
        HRESULT hr = m_sound->Record(
            m_name, "CreateSoundBuffer",
            {desc ? desc->dwFlags : 0, desc ? desc->dwBufferBytes : 0, outer ? 1 : 0},
            primary ? "CreateSoundBuffer.primary" : "CreateSoundBuffer");
        if (!desc || !buffer || outer) // no aggregation, as on the platform
            hr = DSERR_INVALIDPARAM;
        if (hr < 0) {
            if (buffer)
                buffer->reset();
            m_sound->AddDescription(std::move(seen));
            return hr;
        }
        auto made = std::make_shared<FakeBuffer>(m_sound, m_sound->NewName("buf"),
                                                 desc->dwBufferBytes, seen.format);
        seen.object = made->Name();
        m_sound->AddDescription(std::move(seen));
        m_sound->AddBuffer(made);
        *buffer = std::move(made);
        return hr;
    }

private:
    std::shared_ptr<FakeSound> m_sound;
    std::string m_name;
};

} // namespace

std::string FakeCall::Text(bool withObject) const {
    std::string text = withObject && !object.empty() ? object + "." + name : name;
    if (args.empty())
        return text;
    text += "(";
    for (std::size_t i = 0; i < args.size(); ++i)
        text += (i ? "," : "") + std::to_string(args[i]);
    return text + ")";
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
    return [weak](const OutputConfig&, SoundDevicePtr* device) -> HRESULT {
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

std::shared_ptr<FakeBuffer> FakeSound::MakeBuffer(std::uint32_t bytes, const WAVEFORMATEX* format) {
    auto buffer =
        std::make_shared<FakeBuffer>(shared_from_this(), NewName("buf"), bytes, CopyFormat(format));
    AddBuffer(buffer);
    return buffer;
}

bool FakeSound::TakeResult(const std::string& key, HRESULT* result) {
    auto queued = m_queued.find(key);
    if (queued != m_queued.end() && !queued->second.empty()) {
        *result = queued->second.front();
        queued->second.pop_front();
        return true;
    }
    auto standing = m_standing.find(key);
    if (standing == m_standing.end())
        return false;
    *result = standing->second;
    return true;
}

HRESULT FakeSound::Record(const std::string& object, const std::string& name,
                          std::vector<std::int64_t> args, const std::string& resultKey) {
    const std::string& key = resultKey.empty() ? name : resultKey;
    HRESULT hr = DS_OK;
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back({object, name, std::move(args), std::this_thread::get_id(),
                           std::chrono::steady_clock::now()});
        // One object's own result comes before the one for every object.
        if (object.empty() || !TakeResult(object + "." + key, &hr))
            TakeResult(key, &hr);
    }
    m_cv.notify_all();
    return hr;
}

std::string FakeSound::NewName(const char* prefix) {
    std::lock_guard lock(m_mutex);
    return prefix + std::to_string(++m_counters[prefix]);
}

void FakeSound::AddDescription(FakeBufferDesc desc) {
    std::lock_guard lock(m_mutex);
    m_descs.push_back(std::move(desc));
}

void FakeSound::AddBuffer(const std::shared_ptr<FakeBuffer>& buffer) {
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
        texts.push_back(call.Text(true));
    return texts;
}

std::vector<FakeCall> FakeSound::CallsOf(const std::string& object) const {
    std::vector<FakeCall> calls = Calls();
    std::erase_if(calls, [&](const FakeCall& c) { return c.object != object; });
    return calls;
}

int FakeSound::CountLocked(const std::string& object, const std::string& text) const {
    return static_cast<int>(std::count_if(m_calls.begin(), m_calls.end(), [&](const FakeCall& c) {
        return c.object == object && c.Text(false) == text;
    }));
}

int FakeSound::Count(const std::string& object, const std::string& text) const {
    std::lock_guard lock(m_mutex);
    return CountLocked(object, text);
}

bool FakeSound::WaitForCount(const std::string& object, const std::string& text, int count) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kPatience, [&] { return CountLocked(object, text) >= count; });
}

std::vector<FakeBufferDesc> FakeSound::Descriptions() const {
    std::lock_guard lock(m_mutex);
    return m_descs;
}

std::shared_ptr<FakeBuffer> FakeSound::Buffer(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    auto it = m_buffers.find(name);
    return it == m_buffers.end() ? nullptr : it->second.lock();
}

FakeBuffer::FakeBuffer() : m_sound(FakeSound::Create()) {
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    m_format = CopyFormat(&format);
}

FakeBuffer::FakeBuffer(std::shared_ptr<FakeSound> sound, std::string name, std::uint32_t bytes,
                       std::vector<std::uint8_t> format)
    : m_sound(std::move(sound)), m_name(std::move(name)), m_memory(bytes, 0),
      m_format(std::move(format)) {}

FakeBuffer::~FakeBuffer() {
    Record("Release");
}

void FakeBuffer::SetReportedFormat(const WAVEFORMATEX& format) {
    std::lock_guard lock(m_mutex);
    m_format = CopyFormat(&format);
}

void FakeBuffer::HoldPlay(int nth) {
    std::lock_guard lock(m_mutex);
    m_playsUntilHold = nth;
}

bool FakeBuffer::WaitHeld() {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kPatience, [this] { return m_held; });
}

void FakeBuffer::ReleasePlay() {
    {
        std::lock_guard lock(m_mutex);
        m_held = false;
    }
    m_cv.notify_all();
}

std::vector<std::string> FakeBuffer::Texts() const {
    std::vector<std::string> texts;
    for (const FakeCall& call : Calls())
        texts.push_back(call.Text(false));
    return texts;
}

std::vector<std::uint8_t> FakeBuffer::Bytes() const {
    std::lock_guard lock(m_mutex);
    return m_memory;
}

std::vector<std::uint8_t> FakeBuffer::Format() const {
    std::lock_guard lock(m_mutex);
    return m_format;
}

void FakeBuffer::FinishPlaying() {
    std::lock_guard lock(m_mutex);
    m_bPlaying = false;
}

HRESULT FakeBuffer::GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                              std::uint32_t* sizeWritten) {
    const HRESULT hr = Record("GetFormat");
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

HRESULT FakeBuffer::SetFormat(const WAVEFORMATEX* format) {
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

HRESULT FakeBuffer::Lock(std::uint32_t offset, std::uint32_t bytes, void** region1,
                         std::uint32_t* bytes1, void** region2, std::uint32_t* bytes2,
                         std::uint32_t flags) {
    *region1 = *region2 = nullptr;
    *bytes1 = *bytes2 = 0;
    const HRESULT hr = Record("Lock", {offset, bytes, flags});
    if (hr < 0)
        return hr;
    const std::uint32_t split = m_sound->LockSplit();
    std::lock_guard lock(m_mutex);
    // Locks from the write cursor or of the whole buffer are not modelled.
    if (flags != 0 || std::uint64_t{offset} + bytes > m_memory.size())
        return DSERR_INVALIDPARAM;
    m_staging = m_memory;
    std::uint8_t* start = m_staging.data() + offset;
    *region1 = start;
    *bytes1 = split != 0 && bytes > split ? split : bytes;
    if (*bytes1 < bytes) {
        *region2 = start + split;
        *bytes2 = bytes - split;
    }
    m_locked = {*region1, *bytes1, *region2, *bytes2};
    return hr;
}

HRESULT FakeBuffer::Unlock(void* region1, std::uint32_t bytes1, void* region2,
                           std::uint32_t bytes2) {
    const HRESULT hr = Record("Unlock", {bytes1, bytes2});
    if (hr < 0)
        return hr;
    std::lock_guard lock(m_mutex);
    // Only what the unlock names is taken in, so a short count leaves the old bytes behind.
    const Locked locked = std::exchange(m_locked, {});
    if (region1 != locked.region1 || bytes1 > locked.bytes1 ||
        (bytes2 != 0 && (region2 != locked.region2 || bytes2 > locked.bytes2)))
        return DSERR_INVALIDPARAM;
    for (const auto& [region, n] : {std::pair{region1, bytes1}, std::pair{region2, bytes2}}) {
        if (n != 0) {
            const auto at = static_cast<std::uint8_t*>(region) - m_staging.data();
            std::copy_n(m_staging.begin() + at, n, m_memory.begin() + at);
        }
    }
    return hr;
}

HRESULT FakeBuffer::Restore() {
    return Record("Restore");
}

HRESULT FakeBuffer::SetPan(std::int32_t pan) {
    const HRESULT hr = Record("SetPan", {pan});
    if (hr >= 0) {
        std::lock_guard lock(m_mutex);
        m_nPan = pan;
    }
    return hr;
}

HRESULT FakeBuffer::SetVolume(std::int32_t volume) {
    const HRESULT hr = Record("SetVolume", {volume});
    if (hr >= 0) {
        std::lock_guard lock(m_mutex);
        m_nVolume = volume;
    }
    return hr;
}

HRESULT FakeBuffer::GetPan(std::int32_t* pan) {
    const HRESULT hr = Record("GetPan");
    std::lock_guard lock(m_mutex);
    if (pan)
        *pan = m_nPan;
    return hr;
}

HRESULT FakeBuffer::GetVolume(std::int32_t* volume) {
    const HRESULT hr = Record("GetVolume");
    std::lock_guard lock(m_mutex);
    if (volume)
        *volume = m_nVolume;
    return hr;
}

HRESULT FakeBuffer::SetCurrentPosition(std::uint32_t position) {
    return Record("SetCurrentPosition", {position});
}

HRESULT FakeBuffer::GetStatus(std::uint32_t* status) {
    const HRESULT hr = Record("GetStatus");
    std::lock_guard lock(m_mutex);
    if (status)
        *status = m_bPlaying ? DSBSTATUS_PLAYING : 0;
    return hr;
}

HRESULT FakeBuffer::Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags) {
    {
        std::unique_lock lock(m_mutex);
        if (m_playsUntilHold > 0 && --m_playsUntilHold == 0) {
            m_held = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return !m_held; });
        }
    }
    const HRESULT hr = Record("Play", {reserved, priority, flags});
    if (hr >= 0) {
        std::lock_guard lock(m_mutex);
        m_bPlaying = true;
    }
    return hr;
}

HRESULT FakeBuffer::Stop() {
    const HRESULT hr = Record("Stop");
    std::lock_guard lock(m_mutex);
    m_bPlaying = false;
    return hr;
}

PostPlayDone PlayDoneQueue::Poster() {
    return [this](PlayJobPtr job) {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_cv.notify_all();
    };
}

PlayJobPtr PlayDoneQueue::WaitPop() {
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, kPatience, [this] { return !m_jobs.empty(); }))
        return nullptr;
    PlayJobPtr job = std::move(m_jobs.front());
    m_jobs.pop_front();
    return job;
}

int PlayDoneQueue::Size() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_jobs.size());
}

int PlayDoneQueue::DrainInto(ActivePlayList& list) {
    std::deque<PlayJobPtr> jobs;
    {
        std::lock_guard lock(m_mutex);
        jobs.swap(m_jobs);
    }
    int removed = 0;
    for (const PlayJobPtr& job : jobs)
        removed += list.OnPlayDone(job.get()) ? 1 : 0;
    return removed;
}

struct DebugRecorder::State {
    mutable std::mutex mutex;
    mutable std::condition_variable cv;
    std::vector<std::string> lines;
    DebugListener previous;
};

DebugRecorder::DebugRecorder() : m_state(std::make_shared<State>()) {
    std::weak_ptr<State> weak = m_state;
    m_state->previous = SetDebugListener([weak](std::string_view line) {
        if (auto state = weak.lock()) {
            {
                std::lock_guard lock(state->mutex);
                state->lines.emplace_back(line);
            }
            state->cv.notify_all();
        }
    });
}

DebugRecorder::~DebugRecorder() {
    SetDebugListener(std::move(m_state->previous));
}

std::vector<std::string> DebugRecorder::Lines() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->lines;
}

bool DebugRecorder::WaitForLine(const std::string& line, int count) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->cv.wait_for(lock, kPatience, [&] {
        return std::count(m_state->lines.begin(), m_state->lines.end(), line) >= count;
    });
}

EffectEntryPtr MakePlayableEntry(std::shared_ptr<FakeBuffer> buffer, std::int32_t repeat,
                                 std::int32_t interval, std::uint32_t soundMs) {
    auto entry = std::make_shared<EffectEntry>();
    entry->pBuffer = std::move(buffer);
    entry->dwDataLength = 88200u * soundMs / 1000u;
    entry->strName = "effect";
    entry->nRepeat = repeat;
    entry->nInterval = interval;
    return entry;
}
