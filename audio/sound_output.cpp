// SPDX-License-Identifier: GPL-3.0-or-later
// The device object and the primary buffer over an output: argument checks and result codes as
// the program expects them; the secondary buffers they make are audio/sound_buffer.cpp's.
#include "audio/sound_output.h"

#include "audio/output_backend.h"
#include "audio/sound_buffer.h"

#include <atomic>

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

} // namespace

SoundDevicePtr MakeSoundDevice(std::shared_ptr<OutputBackend> backend) {
    return std::make_shared<CDirectSound>(std::move(backend));
}

std::shared_ptr<OutputBackend> BackendOf(const SoundDevicePtr& device) {
    auto* ds = dynamic_cast<CDirectSound*>(device.get());
    return ds != nullptr ? ds->Backend() : nullptr;
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

MixerVoice* QueryMixerVoice(IDirectSoundBuffer* buffer) {
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
