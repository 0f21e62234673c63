// SPDX-License-Identifier: GPL-3.0-or-later
// The offline output: the caller's thread mixes, in virtual time.
#include "audio/offline_output.h"

#include "audio/output_backend.h"

#include <cstring>

namespace {

class COfflineBackend final : public OutputBackend {
public:
    using OutputBackend::OutputBackend;
    std::string DriverName() const override { return "offline"; }
    std::uint32_t PeriodFrames() const override { return 0; }

protected:
    HRESULT Reopen(const OutputFormat& format) override {
        Core()->SetFormat(format);
        return DS_OK;
    }
};

} // namespace

struct OfflineSoundOutput::Impl {
    std::shared_ptr<MixerCore> core;
    std::shared_ptr<OutputBackend> backend;
    SoundDevicePtr device;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> monitorBytes;
    OutputConfig config; // the forced mix rate
};

OfflineSoundOutput::OfflineSoundOutput(std::uint32_t deviceRate, std::uint32_t forcedMixRate)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->config.nForcedMixRate = forcedMixRate;
    OutputFormat format;
    format.nSamplesPerSec = deviceRate;
    m_impl->core = std::make_shared<MixerCore>(format);
    format.nSamplesPerSec = m_impl->config.MixRateFor(deviceRate);
    m_impl->core->SetFormat(format);
    m_impl->backend = std::make_shared<COfflineBackend>(m_impl->core);
    m_impl->device = MakeSoundDevice(m_impl->backend);
}

void OfflineSoundOutput::SetDeviceRate(std::uint32_t deviceRate) {
    m_impl->backend->SetMixRate(m_impl->config.MixRateFor(deviceRate));
}

bool OfflineSoundOutput::WaitPrepared(std::chrono::milliseconds timeout) {
    return m_impl->backend->WaitPrepared(timeout);
}

OfflineSoundOutput::~OfflineSoundOutput() {
    m_impl->core->Shutdown();
}

SoundDevicePtr OfflineSoundOutput::Device() const {
    return m_impl->device;
}

namespace {

void AppendSamples(const std::vector<std::uint8_t>& bytes, const OutputFormat& f,
                   std::size_t samples, std::vector<std::int16_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + samples);
    for (std::size_t i = 0; i < samples; ++i) {
        if (f.wBitsPerSample == 8) {
            out[at + i] = static_cast<std::int16_t>((bytes[i] - 128) * 256);
        } else {
            std::int16_t v;
            std::memcpy(&v, bytes.data() + 2 * i, sizeof v);
            out[at + i] = v;
        }
    }
}

} // namespace

void OfflineSoundOutput::Render(std::size_t frames, std::vector<std::int16_t>& out,
                                std::vector<std::int16_t>* monitor) {
    const OutputFormat f = m_impl->core->Format();
    const std::size_t samples = frames * f.nChannels;
    m_impl->bytes.resize(samples * (f.wBitsPerSample / 8));
    m_impl->monitorBytes.resize(monitor != nullptr ? m_impl->bytes.size() : 0);
    m_impl->core->MixOutput(m_impl->bytes.data(),
                            monitor != nullptr ? m_impl->monitorBytes.data() : nullptr, frames);
    AppendSamples(m_impl->bytes, f, samples, out);
    if (monitor != nullptr) {
        AppendSamples(m_impl->monitorBytes, f, samples, *monitor);
    }
    m_impl->core->Reap();
}

std::vector<std::int16_t> OfflineSoundOutput::Render(std::size_t frames) {
    std::vector<std::int16_t> out;
    Render(frames, out);
    return out;
}

void OfflineSoundOutput::RenderFloat(std::size_t frames, std::vector<float>& out) {
    const std::size_t at = out.size();
    out.resize(at + 2 * frames);
    m_impl->core->MixFloat(out.data() + at, frames);
    m_impl->core->Reap();
}

std::uint64_t OfflineSoundOutput::FramesRendered() const {
    return m_impl->core->FramesMixed();
}

SoundOutputFactory OfflineSoundOutput::Factory() const {
    SoundDevicePtr device = m_impl->device;
    return [device](const OutputConfig&, SoundDevicePtr* out) {
        *out = device;
        return DS_OK;
    };
}
