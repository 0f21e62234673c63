// SPDX-License-Identifier: GPL-3.0-or-later
// What every output shares: the primary format, the preparer thread that makes every buffer
// ready for a new mix rate, and the factory that opens an output.
#include "audio/output_backend.h"

#include "audio/output_config.h"
#include "audio/sound_buffer.h"

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

HRESULT DirectSoundCreate(const void*, SoundDevicePtr* device, void* outer) {
    if (outer != nullptr) {
        return DSERR_INVALIDPARAM;
    }
    return DirectSoundCreate(OutputConfig{}, device);
}

HRESULT DirectSoundCreate(const OutputConfig& config, SoundDevicePtr* device) {
    if (device == nullptr) {
        return DSERR_INVALIDPARAM;
    }
    if (config.factory) {
        return config.factory(config, device);
    }
    std::shared_ptr<OutputBackend> backend;
    HRESULT hr = OpenSdlBackend(config, OutputFormat{}, &backend);
    if (hr != DS_OK) {
        return hr;
    }
    *device = MakeSoundDevice(std::move(backend));
    return DS_OK;
}
