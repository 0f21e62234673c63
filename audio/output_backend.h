// SPDX-License-Identifier: GPL-3.0-or-later
// What the device object needs from an output: the mixer core it feeds and a way to change the
// output format. The SDL2 device and the offline renderer are the two outputs.
#pragma once

#include "audio/mixer.h"
#include "audio/output_route.h"
#include "audio/sound_output.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CSoundBuffer;

class OutputBackend {
public:
    explicit OutputBackend(std::shared_ptr<MixerCore> core) : m_core(std::move(core)) {}
    virtual ~OutputBackend();
    OutputBackend(const OutputBackend&) = delete;
    OutputBackend& operator=(const OutputBackend&) = delete;

    const std::shared_ptr<MixerCore>& Core() const { return m_core; }

    // The primary buffer's SetFormat: kept and reported; channels and bits reopen the output,
    // the rate stays the device's.
    HRESULT ChangeFormat(const OutputFormat& format);
    // The mix follows a device of another rate. Buffers are prepared again on a thread of the
    // output's own; until its new preparation arrives the mixer stretches each one. Any thread.
    void SetMixRate(std::uint32_t rate);
    // Waits until every buffer is prepared for the latest rate; false on time-out.
    bool WaitPrepared(std::chrono::milliseconds timeout);
    // Callbacks that came too late for the device to play on without a gap.
    virtual std::uint64_t Underruns() const { return 0; }
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
    void PrepareLoop();

    std::shared_ptr<MixerCore> m_core;
    std::mutex m_lock; // the registry and the preparer; never taken by the mixer
    std::condition_variable m_wake;
    std::vector<std::weak_ptr<CSoundBuffer>> m_buffers;
    std::uint64_t m_nRateChanges = 0;
    std::uint64_t m_nPrepared = 0; // rate changes the preparer has caught up with
    bool m_bQuit = false;
    std::thread m_preparer; // started at the first rate change
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

struct OutputConfig;

// Opens the SDL2 output (audio/sdl_output.cpp) on the route and at the rate `config` asks for.
// When no device opens yet the output still comes up and waits for one; a failure code only when
// the output cannot be made at all.
HRESULT OpenSdlBackend(const OutputConfig& config, const OutputFormat& format,
                       std::shared_ptr<OutputBackend>* backend);
