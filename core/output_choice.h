// SPDX-License-Identifier: GPL-3.0-or-later
// Which devices the mix goes to, as the user chose them and Otomaru.ini remembers them, and the
// one line the title shows about them. Window thread only.
#pragma once

#include "audio/output_config.h"
#include "audio/output_route.h"
#include "audio/sound_device.h"
#include "core/app_settings.h"

#include <cstdint>
#include <string>
#include <utility>

class COutputChoice {
public:
    COutputChoice(CSoundDevice& device, AppSettings& settings)
        : m_device(device), m_settings(settings) {}

    // Reads the remembered devices and mix rate into the config the output opens with, so that
    // the jingle already plays on them.
    void LoadRemembered();
    const OutputConfig& Config() const { return m_config; }
    // What makes the output (tests, benchmarks); empty, the default: the SDL2 output.
    void SetOutputFactory(SoundOutputFactory factory) { m_config.factory = std::move(factory); }
    const OutputRoute& Route() const { return m_route; }
    // Names UTF-8, as the sound system gives them; a choice takes effect at once, sounds already
    // playing included, and is remembered.
    void ChooseMain(const std::string& name); // empty = the system default
    void ChooseMonitor(bool on, const std::string& name);
    // Bumped whenever the output finds a device after having none: the sound server is back.
    std::uint64_t ServerReturns() const;
    // The virtual microphone and the real microphone passed into it (UTF-8, empty = none);
    // both remembered.
    bool VirtualMicrophone() const { return m_settings.m_bVirtualMicrophone; }
    void SetVirtualMicrophone(bool on);
    std::string MicrophoneDevice() const;
    void ChooseMicrophone(const std::string& name);
    // CP932; empty while all is well.
    std::string StatusLine() const;
    // A monitor output plays (effects sent only to it are heard).
    bool MonitorPlays() const;

private:
    void Apply();

    CSoundDevice& m_device;
    AppSettings& m_settings;
    OutputRoute m_route;
    OutputConfig m_config;
};
