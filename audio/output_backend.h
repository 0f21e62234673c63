// What the device object needs from an output: the mixer core it feeds and a way to change the
// output format. The SDL2 device and the offline renderer are the two outputs.
#pragma once

#include "audio/mixer.h"
#include "audio/output_route.h"
#include "audio/sound_output.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CSoundBuffer;

class OutputBackend {
public:
    explicit OutputBackend(std::shared_ptr<MixerCore> core) : m_core(std::move(core)) {}
    virtual ~OutputBackend() = default;
    OutputBackend(const OutputBackend&) = delete;
    OutputBackend& operator=(const OutputBackend&) = delete;

    const std::shared_ptr<MixerCore>& Core() const { return m_core; }

    // Switches the output to a new format; buffers made for the old rate are prepared again.
    HRESULT ChangeFormat(const OutputFormat& format);
    // Buffers created through this output, so that a rate change can reach them.
    void Register(const std::shared_ptr<CSoundBuffer>& buffer);

    virtual std::string DriverName() const = 0;
    // Frames the output asks for per callback (0 when the caller decides).
    virtual std::uint32_t PeriodFrames() const = 0;

    // Device choice; outputs without devices keep the defaults.
    virtual bool SetRoute(const OutputRoute&) { return false; }
    virtual OutputStatus Status() const { return {}; }
    virtual std::vector<std::string> DeviceNames() const { return {}; }
    // Stops taking frames once nothing has sounded for this long (0: never); the next start
    // brings the output back.
    virtual void SetIdleAfter(std::chrono::milliseconds) {}

protected:
    // Makes the output play `format` (the mixer core already knows nothing of it yet).
    virtual HRESULT Reopen(const OutputFormat& format) = 0;

private:
    std::shared_ptr<MixerCore> m_core;
    std::mutex m_lock; // the registry; never taken by the mixer
    std::vector<std::weak_ptr<CSoundBuffer>> m_buffers;
};

// Nothing has sounded for `after` of the output's frames, and nothing waits to: it may stop.
inline bool IdleFor(const MixerCore& core, std::chrono::milliseconds after) {
    const std::uint64_t frames =
        static_cast<std::uint64_t>(after.count()) * core.Format().nSamplesPerSec / 1000;
    return after.count() > 0 && core.Quiet() &&
           core.FramesMixed() - core.LastSoundingFrame() >= frames;
}

// Once the output takes no frames any more: its clock runs on by the wall clock until a start
// wakes it. A start that slipped in while the output stopped wakes it at once.
inline void Doze(MixerCore& core) {
    core.Suspend();
    if (!core.Quiet())
        core.Resume();
}

// The device object over an output.
SoundDevicePtr MakeSoundDevice(std::shared_ptr<OutputBackend> backend);
// The output behind a device object of ours; null for any other.
std::shared_ptr<OutputBackend> BackendOf(const SoundDevicePtr& device);

// Opens the SDL2 output (audio/sdl_output.cpp). When no device opens yet the output still comes
// up and waits for one; a failure code only when the output cannot be made at all.
HRESULT OpenSdlBackend(const OutputFormat& format, std::shared_ptr<OutputBackend>* backend);
