// SPDX-License-Identifier: GPL-3.0-or-later
// The output the tests and benchmarks mix through: no thread and no device, frames pulled by the
// caller in virtual time.
#pragma once

#include "audio/output_config.h"
#include "audio/sound_output.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

// The offline output: no thread and no device; the caller pulls mixed frames in virtual time.
class OfflineSoundOutput {
public:
    // A device of the given rate, mixing stereo 16-bit at it (or at `forcedMixRate`, when not 0,
    // for this device and every later one). The primary buffer's SetFormat changes channels and
    // bits; its rate is only reported.
    explicit OfflineSoundOutput(std::uint32_t deviceRate = 22050, std::uint32_t forcedMixRate = 0);
    ~OfflineSoundOutput();
    OfflineSoundOutput(const OfflineSoundOutput&) = delete;
    OfflineSoundOutput& operator=(const OfflineSoundOutput&) = delete;

    // The device object, as DirectSoundCreate would hand it out.
    SoundDevicePtr Device() const;
    // Mixes the next `frames` frames of the primary format, interleaved (channels per frame as
    // the primary format says), and appends them to `out`. With an 8-bit primary format the
    // samples carry 8-bit precision: (u8 - 128) * 256.
    // With `monitor`, also the mix a monitor output would play, appended there.
    void Render(std::size_t frames, std::vector<std::int16_t>& out,
                std::vector<std::int16_t>* monitor = nullptr);
    std::vector<std::int16_t> Render(std::size_t frames);
    // The same mix before conversion to 16 bits (interleaved stereo floats, full scale 1.0).
    void RenderFloat(std::size_t frames, std::vector<float>& out);
    // Frames rendered since creation: the virtual clock.
    std::uint64_t FramesRendered() const;
    // Another device of another rate takes over: buffers are prepared again off the caller's
    // thread, and WaitPrepared returns once they all are (false on time-out).
    void SetDeviceRate(std::uint32_t deviceRate);
    bool WaitPrepared(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // A factory for OutputConfig that hands out this output's device, whatever the config.
    SoundOutputFactory Factory() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
