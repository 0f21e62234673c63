// SPDX-License-Identifier: GPL-3.0-or-later
// Where the mix goes: the main output's device and an optional monitor device that plays the same
// mix (one for the audience, one for the user's headphones), and how each is doing. The SDL
// output follows a route while devices come and go; the offline output has no devices.
#pragma once

#include "audio/sound_output.h"

#include <cstdint>
#include <string>
#include <vector>

struct OutputRoute {
    std::string strMain; // SDL's device name (UTF-8); empty = the system default
    bool bMonitor = false;
    std::string strMonitor; // empty = the system default
    bool operator==(const OutputRoute&) const = default;
};

enum class OutputState {
    Off,      // not asked for (a monitor nobody chose)
    Playing,  // on the chosen device
    Fallback, // the chosen device is missing: the main output plays on the system default
    Waiting,  // no device opens: tried again every few tenths of a second
};

struct OutputStatus {
    OutputState main = OutputState::Off;
    OutputState monitor = OutputState::Off;
    std::uint64_t nOpens = 0;         // devices opened so far: first opens, changes and returns
    std::uint64_t nReturns = 0;       // times the main output opened after having no device or
                                      // losing it: the first start and every sound-server
                                      // restart included
    std::uint64_t nMonitorFrames = 0; // frames the monitor device has taken
    double dMonitorLag = 0;           // frames the monitor plays behind the main mix, smoothed
    std::uint64_t nStandIns = 0;      // monitor blocks mixed while the main output was silent
    bool bAsleep = false;             // nothing to sound: no device open until the next start
    std::uint64_t nSleeps = 0;        // times it went to sleep
};

// False when the device cannot choose (not the SDL output). Takes effect within a tick of the
// output's watcher, sounds already playing included; never waits for a device.
bool SetOutputRoute(const SoundDevicePtr& device, const OutputRoute& route);
bool GetOutputStatus(const SoundDevicePtr& device, OutputStatus* status);
// The playback devices the output saw last (UTF-8), without asking the sound server.
std::vector<std::string> OutputDeviceNames(const SoundDevicePtr& device);
