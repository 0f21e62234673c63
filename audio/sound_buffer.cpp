// SPDX-License-Identifier: GPL-3.0-or-later
// The secondary buffers: argument checks and result codes as the program expects them, the
// buffers' own memory, and the preparation (decoding, fold-down, resampling) that happens when a
// buffer is unlocked or the mix rate changes.
#include "audio/sound_buffer.h"

#include "audio/resampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

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

CSoundBuffer::CSoundBuffer(std::shared_ptr<MixerCore> core, const DSBUFFERDESC& desc,
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

void CSoundBuffer::Release::operator()(CSoundBuffer* buffer) const {
    std::shared_ptr<MixerCore> core = buffer->m_core;
    core->Abandon(std::unique_ptr<MixerVoice>(buffer));
    core->Reap();
}

HRESULT CSoundBuffer::GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                                std::uint32_t* sizeWritten) {
    return CopyFormatOut(m_format.data(), static_cast<std::uint32_t>(m_format.size()), format,
                         sizeAllocated, sizeWritten);
}

HRESULT CSoundBuffer::Lock(std::uint32_t offset, std::uint32_t bytes, void** region1,
                           std::uint32_t* bytes1, void** region2, std::uint32_t* bytes2,
                           std::uint32_t flags) {
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

HRESULT CSoundBuffer::Unlock(void* region1, std::uint32_t bytes1, void* region2,
                             std::uint32_t bytes2) {
    if (!InMemory(region1, bytes1) || !InMemory(region2, bytes2)) {
        return DSERR_INVALIDPARAM;
    }
    std::lock_guard<std::mutex> guard(m_prepareLock);
    m_bWriting = false;
    m_bWritten = true;
    PrepareLocked(false);
    return DS_OK;
}

HRESULT CSoundBuffer::SetPan(std::int32_t pan) {
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) {
        return DSERR_INVALIDPARAM;
    }
    StorePan(pan);
    return DS_OK;
}

HRESULT CSoundBuffer::SetVolume(std::int32_t volume) {
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) {
        return DSERR_INVALIDPARAM;
    }
    StoreVolume(volume);
    return DS_OK;
}

HRESULT CSoundBuffer::GetPan(std::int32_t* pan) {
    if (pan == nullptr) {
        return DSERR_INVALIDPARAM;
    }
    std::int32_t volume;
    LoadLevels(&volume, pan);
    return DS_OK;
}

HRESULT CSoundBuffer::GetVolume(std::int32_t* volume) {
    if (volume == nullptr) {
        return DSERR_INVALIDPARAM;
    }
    std::int32_t pan;
    LoadLevels(volume, &pan);
    return DS_OK;
}

HRESULT CSoundBuffer::SetCurrentPosition(std::uint32_t position) {
    if (position > m_nBytes) {
        return DSERR_INVALIDPARAM;
    }
    RequestPosition(position / m_sample.nBlockAlign);
    return DS_OK;
}

HRESULT CSoundBuffer::GetStatus(std::uint32_t* status) {
    if (status == nullptr) {
        return DSERR_INVALIDPARAM;
    }
    *status = IsPlaying() ? DSBSTATUS_PLAYING : 0;
    return DS_OK;
}

HRESULT CSoundBuffer::Play(std::uint32_t reserved, std::uint32_t, std::uint32_t flags) {
    // Looping is not offered: nothing in the program loops a buffer.
    if (reserved != 0 || (flags & DSBPLAY_LOOPING) != 0) {
        return DSERR_INVALIDPARAM;
    }
    return m_core->Start(this) ? DS_OK : DSERR_NODRIVER;
}

HRESULT CSoundBuffer::Stop() {
    m_core->Halt(this);
    return DS_OK;
}

HRESULT CSoundBuffer::GetOutputClock(OutputClock* clock) {
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

HRESULT CSoundBuffer::PlayAtFrame(std::uint64_t frame, std::uint16_t owner) {
    return Scheduled(m_core->StartAt(this, frame, owner));
}

HRESULT CSoundBuffer::PlayAtNextBlock(std::uint64_t* frame, std::uint16_t owner) {
    if (frame == nullptr) {
        return DSERR_INVALIDPARAM;
    }
    return Scheduled(m_core->StartNext(this, frame, owner));
}

HRESULT CSoundBuffer::StopOwner(std::uint16_t owner) {
    m_core->Halt(this, owner);
    return DS_OK;
}

HRESULT CSoundBuffer::TakeBackStarts(std::uint16_t owner) {
    m_core->TakeBack(this, owner);
    return DS_OK;
}

HRESULT CSoundBuffer::SetShape(std::uint32_t startMs, std::uint32_t endMs, std::uint32_t fadeInMs,
                               std::uint32_t fadeOutMs, float gain) {
    if (!(gain >= 0.0f) || !std::isfinite(gain)) {
        return DSERR_INVALIDPARAM;
    }
    StoreShape(startMs, endMs, fadeInMs, fadeOutMs, gain);
    return DS_OK;
}

HRESULT CSoundBuffer::FadeOutOwner(std::uint16_t owner) {
    if (FadeOutMs() == 0) {
        m_core->Halt(this, owner);
    } else {
        m_core->FadeOut(this, owner);
    }
    return DS_OK;
}

bool CSoundBuffer::MeasurePlayedLoudness(double* integratedLufs, double* truePeakDb) {
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

void CSoundBuffer::OnBoost() {
    std::lock_guard<std::mutex> guard(m_prepareLock);
    if (!m_prepared.empty()) {
        AttachLimits(*m_prepared.back());
    }
}

void CSoundBuffer::AttachLimits(PreparedSound& p) {
    if (p.pData == nullptr || p.limits != nullptr) {
        return;
    }
    p.limits = std::make_unique<LimitCurve>(p.pData, p.nFrames, p.nChannels, p.nOutputRate);
    p.pLimits.store(p.limits.get(), std::memory_order_release);
}

void CSoundBuffer::PrepareSilent() {
    std::lock_guard<std::mutex> guard(m_prepareLock);
    PrepareLocked(true);
}

void CSoundBuffer::Refresh() {
    std::lock_guard<std::mutex> guard(m_prepareLock);
    if (!m_bWriting && m_prepared.back()->nOutputRate != m_core->Format().nSamplesPerSec) {
        PrepareLocked(!m_bWritten);
    }
}

void CSoundBuffer::PrepareLocked(bool silent) {
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
    if (Boosted()) {
        AttachLimits(*prepared);
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

HRESULT CSoundBuffer::Scheduled(MixerCore::StartResult result) {
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

bool CSoundBuffer::InMemory(const void* region, std::uint32_t bytes) {
    if (region == nullptr) {
        return bytes == 0;
    }
    const auto* p = static_cast<const std::uint8_t*>(region);
    const std::uint8_t* base = Bytes();
    return p >= base && p <= base + m_nBytes &&
           bytes <= static_cast<std::size_t>(base + m_nBytes - p);
}
