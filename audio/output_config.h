// SPDX-License-Identifier: GPL-3.0-or-later
// What an output is opened with, handed down as a value: the settings make it at start-up and
// tests and benchmarks build their own, so that nothing about the output is process-wide.
#pragma once

#include "audio/output_route.h"
#include "audio/sound_output.h"

#include <cstdint>
#include <functional>

struct OutputConfig;

// Makes the output a config asks for (tests, benchmarks: the offline output or a fake).
using SoundOutputFactory =
    std::function<HRESULT(const OutputConfig& config, SoundDevicePtr* device)>;

struct OutputConfig {
    // Where the first sound already goes; the SDL output follows later changes of its own.
    OutputRoute route;
    // Every device mixed at this rate whatever its own (0: the device's).
    std::uint32_t nForcedMixRate = 0;
    // Empty: the SDL2 output.
    SoundOutputFactory factory;

    // The rate to mix at for a device of `deviceRate`.
    std::uint32_t MixRateFor(std::uint32_t deviceRate) const {
        return nForcedMixRate != 0 ? nForcedMixRate : deviceRate;
    }
};

// DirectSoundCreate on the output `config` describes.
HRESULT DirectSoundCreate(const OutputConfig& config, SoundDevicePtr* device);
