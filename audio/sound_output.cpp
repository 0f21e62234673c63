// The device object and the sound buffers over the software mixer: argument checks and result
// codes as the program expects them, the buffers' own memory, and the preparation (decoding,
// fold-down, resampling) that happens when a buffer is unlocked.
#include "audio/sound_output.h"

#include "audio/loudness.h"
#include "audio/output_backend.h"
#include "audio/resampler.h"
#include "audio/sample_format.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

constexpr std::uint32_t kKnownBufferFlags = 0x000FC3FF; // every DSBCAPS_* bit the platform had
constexpr std::uint32_t kLocHardware = 0x4;
constexpr std::uint32_t kLocSoftware = 0x8;

HRESULT CheckPrimaryFormat(const WAVEFORMATEX* f) {
    if (f == nullptr) {
        return DSERR_INVALIDPARAM;
    }
    if (f->wFormatTag != WAVE_FORMAT_PCM || f->nChannels < 1 || f->nChannels > 2 ||
        (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) || f->nSamplesPerSec < 8000 ||
        f->nSamplesPerSec > 192000 || f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) {
        return DSERR_BADFORMAT;
    }
    return DS_OK;
}

WAVEFORMATEX RecordFromOutput(const OutputFormat& o) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = o.nChannels;
    f.nSamplesPerSec = o.nSamplesPerSec;
    f.nBlockAlign = static_cast<std::uint16_t>(o.nChannels * o.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * o.nSamplesPerSec;
    f.wBitsPerSample = o.wBitsPerSample;
    f.cbSize = 0;
    return f;
}

HRESULT CopyFormatOut(const void* record, std::uint32_t recordBytes, WAVEFORMATEX* format,
                      std::uint32_t sizeAllocated, std::uint32_t* sizeWritten) {
    if (format == nullptr && sizeWritten == nullptr) {
        return DSERR_INVALIDPARAM;
    }
    if (format == nullptr) {
        *sizeWritten = recordBytes; // the size the caller needs
        return DS_OK;
    }
    std::uint32_t n = std::min(recordBytes, sizeAllocated);
    std::memcpy(format, record, n);
    if (sizeWritten != nullptr) {
        *sizeWritten = n;
    }
    return DS_OK;
}

// Asks the system for the pages of a large, fresh block in one call: one page fault per 4 KB is
// most of what loading a sound costs otherwise. Only a hint; nothing changes when it fails.
void PopulatePages(void* block, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::size_t kWorthIt = 64 * 1024;
    if (block == nullptr || bytes < kWorthIt) {
        return;
    }
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto from = (reinterpret_cast<std::uintptr_t>(block) + page - 1) / page * page;
    const auto to = (reinterpret_cast<std::uintptr_t>(block) + bytes) / page * page;
    if (to > from) {
        madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    }
#else
    (void)block;
    (void)bytes;
#endif
}

} // namespace

// A secondary buffer: the caller's bytes in the buffer's own format, and what the mixer plays.
class CSoundBuffer final : public IDirectSoundBuffer,
                           public ISoundBufferSchedule,
                           public ISoundBufferShape,
                           public MixerVoice {
public:
    CSoundBuffer(std::shared_ptr<MixerCore> core, const DSBUFFERDESC& desc,
                 const SampleFormat& format)
        : m_core(std::move(core)), m_nBytes(desc.dwBufferBytes), m_sample(format),
          // calloc: fresh pages from the system come zeroed without being written twice.
          m_memory(static_cast<std::int16_t*>(std::calloc((desc.dwBufferBytes + 1) / 2, 2))) {
        PopulatePages(m_memory.get(), desc.dwBufferBytes);
        const auto* src = reinterpret_cast<const std::uint8_t*>(desc.lpwfxFormat);
        m_format.assign(src, src + KeptFormatBytes(desc.lpwfxFormat));
        WAVEFORMATEX head;
        std::memcpy(&head, m_format.data(), sizeof head);
        head.cbSize = static_cast<std::uint16_t>(m_format.size() - sizeof(WAVEFORMATEX));
        std::memcpy(m_format.data(), &head, sizeof head);
    }

    // Deleter of the user's shared_ptr: a sounding buffer is silenced and stays with the mixer
    // until the mixer lets it go.
    struct Release {
        void operator()(CSoundBuffer* buffer) const {
            std::shared_ptr<MixerCore> core = buffer->m_core;
            core->Abandon(std::unique_ptr<MixerVoice>(buffer));
            core->Reap();
        }
    };

    HRESULT GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                      std::uint32_t* sizeWritten) override {
        return CopyFormatOut(m_format.data(), static_cast<std::uint32_t>(m_format.size()), format,
                             sizeAllocated, sizeWritten);
    }

    HRESULT SetFormat(const WAVEFORMATEX*) override { return DSERR_INVALIDCALL; }

    HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** region1, std::uint32_t* bytes1,
                 void** region2, std::uint32_t* bytes2, std::uint32_t flags) override {
        if (region1 == nullptr || bytes1 == nullptr ||
            (flags & ~(DSBLOCK_FROMWRITECURSOR | DSBLOCK_ENTIREBUFFER)) != 0) {
            return DSERR_INVALIDPARAM;
        }
        if (m_bLoseNextLock.exchange(false)) {
            return DSERR_BUFFERLOST;
        }
        {
            // Until Unlock the caller writes the bytes: a new preparation must not read them.
            // Waits only while this very buffer is being prepared again.
            std::lock_guard<std::mutex> guard(m_prepareLock);
            m_bWriting = true;
        }
        if ((flags & DSBLOCK_FROMWRITECURSOR) != 0) {
            offset = 0; // nothing streams here: the write cursor rests at the start
        }
        if ((flags & DSBLOCK_ENTIREBUFFER) != 0) {
            offset = 0;
            bytes = m_nBytes;
        }
        if (offset >= m_nBytes || bytes == 0 || bytes > m_nBytes) {
            return DSERR_INVALIDPARAM;
        }
        std::uint8_t* base = Bytes();
        std::uint32_t first = std::min(bytes, m_nBytes - offset);
        *region1 = base + offset;
        *bytes1 = first;
        if (region2 != nullptr && bytes2 != nullptr) {
            *region2 = bytes > first ? base : nullptr;
            *bytes2 = bytes - first;
        } else if (region2 != nullptr) {
            *region2 = nullptr;
        } else if (bytes2 != nullptr) {
            *bytes2 = 0;
        }
        return DS_OK;
    }

    HRESULT Unlock(void* region1, std::uint32_t bytes1, void* region2,
                   std::uint32_t bytes2) override {
        if (!InMemory(region1, bytes1) || !InMemory(region2, bytes2)) {
            return DSERR_INVALIDPARAM;
        }
        std::lock_guard<std::mutex> guard(m_prepareLock);
        m_bWriting = false;
        m_bWritten = true;
        PrepareLocked(false);
        return DS_OK;
    }

    HRESULT Restore() override { return DS_OK; }

    HRESULT SetPan(std::int32_t pan) override {
        if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) {
            return DSERR_INVALIDPARAM;
        }
        StorePan(pan);
        return DS_OK;
    }

    HRESULT SetVolume(std::int32_t volume) override {
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) {
            return DSERR_INVALIDPARAM;
        }
        StoreVolume(volume);
        return DS_OK;
    }

    HRESULT GetPan(std::int32_t* pan) override {
        if (pan == nullptr) {
            return DSERR_INVALIDPARAM;
        }
        std::int32_t volume;
        LoadLevels(&volume, pan);
        return DS_OK;
    }

    HRESULT GetVolume(std::int32_t* volume) override {
        if (volume == nullptr) {
            return DSERR_INVALIDPARAM;
        }
        std::int32_t pan;
        LoadLevels(volume, &pan);
        return DS_OK;
    }

    HRESULT SetCurrentPosition(std::uint32_t position) override {
        if (position > m_nBytes) {
            return DSERR_INVALIDPARAM;
        }
        RequestPosition(position / m_sample.nBlockAlign);
        return DS_OK;
    }

    HRESULT GetStatus(std::uint32_t* status) override {
        if (status == nullptr) {
            return DSERR_INVALIDPARAM;
        }
        *status = IsPlaying() ? DSBSTATUS_PLAYING : 0;
        return DS_OK;
    }

    HRESULT Play(std::uint32_t reserved, std::uint32_t, std::uint32_t flags) override {
        // Looping is not offered: nothing in the program loops a buffer.
        if (reserved != 0 || (flags & DSBPLAY_LOOPING) != 0) {
            return DSERR_INVALIDPARAM;
        }
        return m_core->Start(this) ? DS_OK : DSERR_NODRIVER;
    }

    HRESULT Stop() override {
        m_core->Halt(this);
        return DS_OK;
    }

    HRESULT GetOutputClock(OutputClock* clock) override {
        if (clock == nullptr) {
            return DSERR_INVALIDPARAM;
        }
        // Waking is read first: a clock that runs again after it has cleared is seen moving.
        clock->bWaking = m_core->OutputExpected();
        m_core->ClockRate(&clock->nFramesPerSec, &clock->nRateSince);
        clock->nNextFrame = m_core->NextBlockFrame();
        clock->nBlockFrames = static_cast<std::uint32_t>(m_core->BlockFrames());
        return DS_OK;
    }

    HRESULT PlayAtFrame(std::uint64_t frame, std::uint16_t owner) override {
        return Scheduled(m_core->StartAt(this, frame, owner));
    }

    HRESULT PlayAtNextBlock(std::uint64_t* frame, std::uint16_t owner) override {
        if (frame == nullptr) {
            return DSERR_INVALIDPARAM;
        }
        return Scheduled(m_core->StartNext(this, frame, owner));
    }

    HRESULT StopOwner(std::uint16_t owner) override {
        m_core->Halt(this, owner);
        return DS_OK;
    }

    HRESULT TakeBackStarts(std::uint16_t owner) override {
        m_core->TakeBack(this, owner);
        return DS_OK;
    }

    HRESULT SetShape(std::uint32_t startMs, std::uint32_t endMs, std::uint32_t fadeInMs,
                     std::uint32_t fadeOutMs, float gain) override {
        if (!(gain >= 0.0f) || !std::isfinite(gain)) {
            return DSERR_INVALIDPARAM;
        }
        StoreShape(startMs, endMs, fadeInMs, fadeOutMs, gain);
        return DS_OK;
    }

    HRESULT FadeOutOwner(std::uint16_t owner) override {
        if (FadeOutMs() == 0) {
            m_core->Halt(this, owner);
        } else {
            m_core->FadeOut(this, owner);
        }
        return DS_OK;
    }

    bool MeasurePlayedLoudness(double* integratedLufs, double* truePeakDb) override {
        std::lock_guard<std::mutex> guard(m_prepareLock);
        if (m_prepared.empty() || m_prepared.back()->pData == nullptr) {
            return false;
        }
        const PreparedSound& p = *m_prepared.back();
        if (!m_loudness) {
            m_loudness = MeasureLoudness(p.pData, p.nFrames, p.nChannels, p.nOutputRate);
        }
        if (!m_loudness) {
            return false;
        }
        *integratedLufs = m_loudness->dIntegratedLufs;
        *truePeakDb = m_loudness->dTruePeakDb;
        return true;
    }

    void LoseNextLock() { m_bLoseNextLock.store(true); }

    bool HasMemory() const { return m_memory != nullptr; }

    // The first preparation, of a buffer nobody has written yet.
    void PrepareSilent() {
        std::lock_guard<std::mutex> guard(m_prepareLock);
        PrepareLocked(true);
    }

    // Prepares the buffer again when the mix rate is no longer the one it was prepared for.
    // A buffer between Lock and Unlock is left to its Unlock.
    void Refresh() {
        std::lock_guard<std::mutex> guard(m_prepareLock);
        if (!m_bWriting && m_prepared.back()->nOutputRate != m_core->Format().nSamplesPerSec) {
            PrepareLocked(!m_bWritten);
        }
    }

private:
    // Builds what the mixer plays at the mix rate from the buffer's bytes and hands it over.
    // A new buffer's bytes are all zero: `silent` then skips the work and the mixer plays
    // silence of the right length.
    void PrepareLocked(bool silent) {
        const std::uint32_t outputRate = m_core->Format().nSamplesPerSec;
        auto prepared = std::make_unique<PreparedSound>();
        const std::size_t frames = m_nBytes / m_sample.nBlockAlign;
        const std::uint32_t rate = m_sample.nSamplesPerSec;
        const int planes = PlaneCount(m_sample);
        prepared->nSourceRate = rate;
        prepared->nOutputRate = outputRate;
        if (m_sample.kind == SampleKind::S16 && m_sample.nChannels <= 2 && rate == outputRate &&
            std::endian::native == std::endian::little) {
            // Already what the mixer wants: play straight from the buffer's memory.
            prepared->pData = m_memory.get();
            prepared->nFrames = static_cast<std::uint32_t>(frames);
            prepared->nChannels = m_sample.nChannels;
        } else {
            const std::size_t outFrames = ResampledLength(frames, rate, outputRate);
            prepared->nFrames = static_cast<std::uint32_t>(outFrames);
            prepared->nChannels = static_cast<std::uint32_t>(planes);
            if (!silent) {
                const std::size_t samples = outFrames * static_cast<std::size_t>(planes);
                prepared->samples = std::make_unique_for_overwrite<std::int16_t[]>(samples);
                PopulatePages(prepared->samples.get(), samples * sizeof(std::int16_t));
                if (rate == 2 * static_cast<std::uint64_t>(outputRate)) {
                    HalveRate(Bytes(), frames, m_sample, prepared->samples.get());
                } else {
                    std::vector<float> decoded[2];
                    int count = 0;
                    DecodeToPlanes(Bytes(), frames, m_sample, decoded[0], decoded[1], &count);
                    std::vector<float> resampled[2];
                    const float* from[2] = {nullptr, nullptr};
                    for (int c = 0; c < count; ++c) {
                        ResampleChannel(decoded[c].data(), frames, rate, outputRate, resampled[c]);
                        decoded[c] = {}; // at most one float copy of the sound at a time
                        from[c] = resampled[c].data();
                    }
                    InterleaveToS16(from, count, outFrames, prepared->samples.get());
                }
                prepared->pData = prepared->samples.get();
            }
        }
        PublishPrepared(prepared.get());
        m_prepared.push_back(std::move(prepared));
        m_loudness.reset();
        // The mixer reads the published pointer only while the voice is listed; an unlisted
        // voice can drop its older preparations (a later listing sees the new pointer).
        if (!IsListed()) {
            m_prepared.erase(m_prepared.begin(), m_prepared.end() - 1);
        }
    }

    static HRESULT Scheduled(MixerCore::StartResult result) {
        switch (result) {
        case MixerCore::StartResult::kWaiting:
            return DS_OK;
        case MixerCore::StartResult::kFull:
            return DSERR_INVALIDCALL;
        case MixerCore::StartResult::kShutdown:
            break;
        }
        return DSERR_NODRIVER;
    }

    std::uint8_t* Bytes() { return reinterpret_cast<std::uint8_t*>(m_memory.get()); }

    bool InMemory(const void* region, std::uint32_t bytes) {
        if (region == nullptr) {
            return bytes == 0;
        }
        const auto* p = static_cast<const std::uint8_t*>(region);
        const std::uint8_t* base = Bytes();
        return p >= base && p <= base + m_nBytes &&
               bytes <= static_cast<std::size_t>(base + m_nBytes - p);
    }

    std::shared_ptr<MixerCore> m_core;
    const std::uint32_t m_nBytes;
    const SampleFormat m_sample;
    std::vector<std::uint8_t> m_format; // our own copy of the format record
    struct FreeMemory {
        void operator()(std::int16_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::int16_t, FreeMemory> m_memory; // the buffer's bytes (16-bit aligned)
    std::atomic<bool> m_bLoseNextLock{false};
    // Lock/Unlock against a preparation for a new rate; never taken by the mixer.
    std::mutex m_prepareLock;
    bool m_bWriting = false; // between Lock and Unlock
    bool m_bWritten = false; // unlocked at least once
    std::vector<std::unique_ptr<PreparedSound>> m_prepared;
    std::optional<Loudness> m_loudness; // of the latest preparation, once measured
};

namespace {

// The primary buffer: only the output format means anything here.
class CPrimaryBuffer final : public IDirectSoundBuffer {
public:
    explicit CPrimaryBuffer(std::shared_ptr<OutputBackend> backend)
        : m_core(backend->Core()), m_backend(backend) {}

    HRESULT GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                      std::uint32_t* sizeWritten) override {
        WAVEFORMATEX record = RecordFromOutput(m_core->Requested());
        return CopyFormatOut(&record, sizeof record, format, sizeAllocated, sizeWritten);
    }
    HRESULT SetFormat(const WAVEFORMATEX* format) override {
        HRESULT hr = CheckPrimaryFormat(format);
        if (hr != DS_OK) {
            return hr;
        }
        std::shared_ptr<OutputBackend> backend = m_backend.lock();
        if (!backend) {
            return DSERR_NODRIVER;
        }
        OutputFormat f;
        f.nSamplesPerSec = format->nSamplesPerSec;
        f.nChannels = format->nChannels;
        f.wBitsPerSample = format->wBitsPerSample;
        return backend->ChangeFormat(f);
    }
    HRESULT Lock(std::uint32_t, std::uint32_t, void**, std::uint32_t*, void**, std::uint32_t*,
                 std::uint32_t) override {
        return DSERR_INVALIDCALL; // the mix is ours; nobody writes the primary buffer
    }
    HRESULT Unlock(void*, std::uint32_t, void*, std::uint32_t) override {
        return DSERR_INVALIDCALL;
    }
    HRESULT Restore() override { return DS_OK; }
    // Kept and reported, not applied: the program never sets them on the primary buffer.
    HRESULT SetPan(std::int32_t pan) override {
        if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) {
            return DSERR_INVALIDPARAM;
        }
        m_nPan.store(pan);
        return DS_OK;
    }
    HRESULT SetVolume(std::int32_t volume) override {
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) {
            return DSERR_INVALIDPARAM;
        }
        m_nVolume.store(volume);
        return DS_OK;
    }
    HRESULT GetPan(std::int32_t* pan) override {
        if (pan == nullptr) {
            return DSERR_INVALIDPARAM;
        }
        *pan = m_nPan.load();
        return DS_OK;
    }
    HRESULT GetVolume(std::int32_t* volume) override {
        if (volume == nullptr) {
            return DSERR_INVALIDPARAM;
        }
        *volume = m_nVolume.load();
        return DS_OK;
    }
    HRESULT SetCurrentPosition(std::uint32_t) override { return DSERR_INVALIDCALL; }
    HRESULT GetStatus(std::uint32_t* status) override {
        if (status == nullptr) {
            return DSERR_INVALIDPARAM;
        }
        *status = m_core->IsShutdown() ? 0 : DSBSTATUS_PLAYING; // the output always runs
        return DS_OK;
    }
    HRESULT Play(std::uint32_t, std::uint32_t, std::uint32_t) override { return DS_OK; }
    HRESULT Stop() override { return DS_OK; }

private:
    std::shared_ptr<MixerCore> m_core;
    std::weak_ptr<OutputBackend> m_backend;
    std::atomic<std::int32_t> m_nPan{0};
    std::atomic<std::int32_t> m_nVolume{0};
};

class CDirectSound final : public IDirectSound {
public:
    explicit CDirectSound(std::shared_ptr<OutputBackend> backend) : m_backend(std::move(backend)) {}

    HRESULT SetCooperativeLevel(void*, std::uint32_t level) override {
        return level == DSSCL_NORMAL || level == DSSCL_PRIORITY ? DS_OK : DSERR_INVALIDPARAM;
    }

    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, SoundBufferPtr* buffer,
                              void* outer) override {
        if (desc == nullptr || buffer == nullptr || outer != nullptr ||
            desc->dwSize != kBufferDescSize || (desc->dwFlags & ~kKnownBufferFlags) != 0 ||
            (desc->dwFlags & (kLocHardware | kLocSoftware)) == (kLocHardware | kLocSoftware)) {
            return DSERR_INVALIDPARAM;
        }
        const std::shared_ptr<MixerCore>& core = m_backend->Core();
        if (core->IsShutdown()) {
            return DSERR_NODRIVER;
        }
        core->Reap();
        if ((desc->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0) {
            if (desc->dwBufferBytes != 0 || desc->lpwfxFormat != nullptr) {
                return DSERR_INVALIDPARAM;
            }
            *buffer = std::make_shared<CPrimaryBuffer>(m_backend);
            return DS_OK;
        }
        if (desc->lpwfxFormat == nullptr || desc->dwBufferBytes < DSBSIZE_MIN ||
            desc->dwBufferBytes > DSBSIZE_MAX) {
            return DSERR_INVALIDPARAM;
        }
        SampleFormat format;
        HRESULT hr = ParseSampleFormat(desc->lpwfxFormat, &format);
        if (hr != DS_OK) {
            return hr;
        }
        if (desc->dwBufferBytes < format.nBlockAlign) {
            return DSERR_INVALIDPARAM;
        }
        auto owned = std::make_unique<CSoundBuffer>(core, *desc, format);
        if (!owned->HasMemory()) {
            return DSERR_OUTOFMEMORY;
        }
        owned->PrepareSilent();
        std::shared_ptr<CSoundBuffer> made(owned.release(), CSoundBuffer::Release{});
        m_backend->Register(made);
        *buffer = made;
        return DS_OK;
    }

    const std::shared_ptr<OutputBackend>& Backend() const { return m_backend; }

private:
    std::shared_ptr<OutputBackend> m_backend;
};

std::mutex g_factoryLock;
SoundOutputFactory g_factory;

} // namespace

OutputBackend::~OutputBackend() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bQuit = true;
    }
    m_wake.notify_all();
    if (m_preparer.joinable()) {
        m_preparer.join();
    }
}

HRESULT OutputBackend::ChangeFormat(const OutputFormat& format) {
    // The rate asked for is only reported: the mix stays at the device's rate. Channels and
    // bits are the output's own.
    OutputFormat mix = format;
    mix.nSamplesPerSec = m_core->Format().nSamplesPerSec;
    if (mix != m_core->Format()) {
        HRESULT hr = Reopen(mix);
        if (hr != DS_OK) {
            return hr;
        }
    }
    m_core->SetRequested(format);
    return DS_OK;
}

void OutputBackend::SetMixRate(std::uint32_t rate) {
    OutputFormat f = m_core->Format();
    if (f.nSamplesPerSec == rate) {
        return;
    }
    f.nSamplesPerSec = rate;
    m_core->SetFormat(f);
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_nRateChanges;
    if (!m_preparer.joinable()) {
        m_preparer = std::thread([this] { PrepareLoop(); });
    }
    m_wake.notify_all();
}

bool OutputBackend::WaitPrepared(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_wake.wait_for(lock, timeout, [this] { return m_nPrepared == m_nRateChanges; });
}

// Off the window's thread: a set of long effects takes seconds to prepare again.
void OutputBackend::PrepareLoop() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bQuit || m_nPrepared != m_nRateChanges; });
        if (m_bQuit) {
            return;
        }
        const std::uint64_t changes = m_nRateChanges;
        std::vector<std::shared_ptr<CSoundBuffer>> live;
        for (const auto& weak : m_buffers) {
            if (auto b = weak.lock()) {
                live.push_back(std::move(b));
            }
        }
        lock.unlock();
        for (auto& b : live) {
            b->Refresh();
            b.reset(); // a buffer released meanwhile goes here, outside the registry's lock
        }
        lock.lock();
        m_nPrepared = changes;
        m_wake.notify_all();
    }
}

void OutputBackend::Register(const std::shared_ptr<CSoundBuffer>& buffer) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::erase_if(m_buffers, [](const std::weak_ptr<CSoundBuffer>& w) { return w.expired(); });
    m_buffers.push_back(buffer);
}

SoundDevicePtr MakeSoundDevice(std::shared_ptr<OutputBackend> backend) {
    return std::make_shared<CDirectSound>(std::move(backend));
}

std::shared_ptr<OutputBackend> BackendOf(const SoundDevicePtr& device) {
    auto* ds = dynamic_cast<CDirectSound*>(device.get());
    return ds != nullptr ? ds->Backend() : nullptr;
}

HRESULT DirectSoundCreate(const void*, SoundDevicePtr* device, void* outer) {
    if (device == nullptr || outer != nullptr) {
        return DSERR_INVALIDPARAM;
    }
    SoundOutputFactory factory;
    {
        std::lock_guard<std::mutex> guard(g_factoryLock);
        factory = g_factory;
    }
    if (factory) {
        return factory(device);
    }
    std::shared_ptr<OutputBackend> backend;
    HRESULT hr = OpenSdlBackend(OutputFormat{}, &backend);
    if (hr != DS_OK) {
        return hr;
    }
    *device = MakeSoundDevice(std::move(backend));
    return DS_OK;
}

SoundOutputFactory SetSoundOutputFactory(SoundOutputFactory factory) {
    std::lock_guard<std::mutex> guard(g_factoryLock);
    SoundOutputFactory previous = std::move(g_factory);
    g_factory = std::move(factory);
    return previous;
}

bool GetSoundOutputInfo(const SoundDevicePtr& device, SoundOutputInfo* info) {
    auto* ds = dynamic_cast<CDirectSound*>(device.get());
    if (ds == nullptr || info == nullptr || ds->Backend()->Core()->IsShutdown()) {
        return false;
    }
    const OutputBackend& backend = *ds->Backend();
    OutputFormat f = backend.Core()->Format();
    info->driver = backend.DriverName();
    info->nPeriodFrames = backend.PeriodFrames();
    info->nSamplesPerSec = f.nSamplesPerSec;
    info->nChannels = f.nChannels;
    info->wBitsPerSample = f.wBitsPerSample;
    info->nFramesMixed = backend.Core()->FramesMixed();
    info->nActiveVoices = backend.Core()->ActiveVoices();
    info->nUnderruns = backend.Underruns();
    return true;
}

ISoundBufferSchedule* QueryBufferSchedule(IDirectSoundBuffer* buffer) {
    return dynamic_cast<CSoundBuffer*>(buffer);
}

ISoundBufferShape* QueryBufferShape(IDirectSoundBuffer* buffer) {
    return dynamic_cast<CSoundBuffer*>(buffer);
}

bool SimulateBufferLost(const SoundBufferPtr& buffer) {
    auto* b = dynamic_cast<CSoundBuffer*>(buffer.get());
    if (b == nullptr) {
        return false;
    }
    b->LoseNextLock();
    return true;
}
