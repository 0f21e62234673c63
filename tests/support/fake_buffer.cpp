// Recording stand-ins for the playback tests (see the header).
#include "tests/support/fake_buffer.h"

#include "base/debug_sink.h"
#include "playback/active_play_list.h"

#include <algorithm>

FakeBuffer::FakeBuffer() {
    m_format.wFormatTag = WAVE_FORMAT_PCM;
    m_format.nChannels = 2;
    m_format.nSamplesPerSec = 22050;
    m_format.nAvgBytesPerSec = 88200;
    m_format.nBlockAlign = 4;
    m_format.wBitsPerSample = 16;
}

void FakeBuffer::Record(std::string text) {
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(
            {std::move(text), std::this_thread::get_id(), std::chrono::steady_clock::now()});
    }
    m_cv.notify_all();
}

void FakeBuffer::HoldPlay(int nth) {
    Locked([&] { m_playsUntilHold = nth; });
}

bool FakeBuffer::WaitHeld() {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kPatience, [this] { return m_held; });
}

void FakeBuffer::ReleasePlay() {
    Locked([&] { m_held = false; });
    m_cv.notify_all();
}

std::vector<FakeBuffer::Call> FakeBuffer::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<std::string> FakeBuffer::Texts() const {
    std::vector<std::string> texts;
    for (const Call& call : Calls())
        texts.push_back(call.text);
    return texts;
}

int FakeBuffer::Count(const std::string& text) const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_calls.begin(), m_calls.end(),
                                          [&](const Call& c) { return c.text == text; }));
}

bool FakeBuffer::WaitForCount(const std::string& text, int count) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kPatience, [&] {
        return std::count_if(m_calls.begin(), m_calls.end(),
                             [&](const Call& c) { return c.text == text; }) >= count;
    });
}

HRESULT FakeBuffer::GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                              std::uint32_t* sizeWritten) {
    Record("GetFormat");
    std::lock_guard lock(m_mutex);
    if (m_getFormatResult != DS_OK)
        return m_getFormatResult;
    const std::uint32_t size = std::min<std::uint32_t>(sizeAllocated, sizeof m_format);
    std::copy_n(reinterpret_cast<const std::uint8_t*>(&m_format), size,
                reinterpret_cast<std::uint8_t*>(format));
    if (sizeWritten)
        *sizeWritten = size;
    return DS_OK;
}

HRESULT FakeBuffer::SetFormat(const WAVEFORMATEX*) {
    return DSERR_INVALIDCALL;
}

HRESULT FakeBuffer::Lock(std::uint32_t, std::uint32_t, void**, std::uint32_t*, void**,
                         std::uint32_t*, std::uint32_t) {
    return DSERR_INVALIDCALL;
}

HRESULT FakeBuffer::Unlock(void*, std::uint32_t, void*, std::uint32_t) {
    return DSERR_INVALIDCALL;
}

HRESULT FakeBuffer::Restore() {
    return DS_OK;
}

HRESULT FakeBuffer::SetPan(std::int32_t pan) {
    Locked([&] { m_pan = pan; });
    Record("SetPan(" + std::to_string(pan) + ")");
    return DS_OK;
}

HRESULT FakeBuffer::SetVolume(std::int32_t volume) {
    Locked([&] { m_volume = volume; });
    Record("SetVolume(" + std::to_string(volume) + ")");
    return DS_OK;
}

HRESULT FakeBuffer::GetPan(std::int32_t* pan) {
    std::lock_guard lock(m_mutex);
    *pan = m_pan;
    return DS_OK;
}

HRESULT FakeBuffer::GetVolume(std::int32_t* volume) {
    std::lock_guard lock(m_mutex);
    *volume = m_volume;
    return DS_OK;
}

HRESULT FakeBuffer::SetCurrentPosition(std::uint32_t position) {
    Record("SetCurrentPosition(" + std::to_string(position) + ")");
    return DS_OK;
}

HRESULT FakeBuffer::GetStatus(std::uint32_t* status) {
    *status = 0;
    return DS_OK;
}

HRESULT FakeBuffer::Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags) {
    HRESULT result;
    {
        std::unique_lock lock(m_mutex);
        if (m_playsUntilHold > 0 && --m_playsUntilHold == 0) {
            m_held = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return !m_held; });
        }
        result = m_playResult;
    }
    Record("Play(" + std::to_string(reserved) + "," + std::to_string(priority) + "," +
           std::to_string(flags) + ")");
    return result;
}

HRESULT FakeBuffer::Stop() {
    Record("Stop");
    return DS_OK;
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
