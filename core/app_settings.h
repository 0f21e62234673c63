// SPDX-License-Identifier: GPL-3.0-or-later
// Otomaru.ini, beside the executable or in the user's data folder, remembers in [Environment]
// which set was open last (SoundsFile="<file name>"), the output devices and the global-hotkey
// switch, the loudness target; values CP932. Our own reader and writer of that layout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The main window as the user left it, in the window system's logical pixels. An empty list was
// never remembered (or was not a list of numbers).
struct WindowLayout {
    std::vector<int> rect;          // x, y, width, height
    std::vector<int> effectColumns; // widths, left to right
    std::vector<int> playColumns;
    bool operator==(const WindowLayout&) const = default;
};

class AppSettings {
public:
    AppSettings() = default;
    virtual ~AppSettings() = default;

    // Sets m_strExeDir (ending with '/') and m_strIniPath from the running executable: its
    // folder, or the user's data folder when that is not writable (see LocateDataFolder). Both
    // are in the system's encoding; only the values inside the file are CP932.
    void LocateFiles();
    // The same from a given executable path (system encoding), for tests and tools.
    void LocateFilesFrom(const std::string& executablePath);
    void LoadSettings();
    void SaveSettings();
    std::string ReadValue(const std::string& section, const std::string& key,
                          const std::string& defaultValue);
    // The key's value, without writing a default when it is missing (false then).
    bool ReadExistingValue(const std::string& section, const std::string& key, std::string* value);
    // Writes through a temporary file renamed over the old one; keeps every other line.
    bool WriteValue(const std::string& section, const std::string& key, const std::string& value);
    // Takes the key's line out the same way; true when the key is not there (any more).
    bool RemoveValue(const std::string& section, const std::string& key);

    std::string m_strExeDir;
    std::string m_strIniPath;
    std::string m_strSoundsFile;

    // [Environment] OutputDevice / MonitorDevice (CP932): which devices play. Absent or empty
    // OutputDevice is the system default; absent or empty MonitorDevice is no monitor, and
    // kMonitorOnDefault a monitor on the system default. Written only when the user chooses.
    void LoadDeviceSettings();
    void SaveDeviceSettings();
    std::string m_strOutputDevice;
    std::string m_strMonitorDevice;
    static constexpr std::string_view kMonitorOnDefault = "*";
    // VirtualMicrophone="1": the virtual microphone is kept on the sound server;
    // MicrophoneDevice: the real microphone mixed into it (a sound-server source name), empty
    // for none. Read with the devices, each written only when the user changes it.
    bool m_bVirtualMicrophone = false;
    std::string m_strMicrophoneDevice;
    void SaveVirtualMicrophone();
    void SaveMicrophoneDevice();
    // MixRate="<samples per second>" (8000 to 192000): the rate everything is mixed at, whatever
    // the device's own; "22050" gives the sound of the design's primary format. Absent or not a
    // rate: 0, the device's rate. Read with the devices, never written.
    std::uint32_t m_nMixRate = 0;
    // GlobalHotkeys="1" in [Environment]: hotkeys fire while other programs have the keyboard.
    // Absent means off and is left absent until the user chooses.
    bool m_bGlobalHotkeys = false;
    bool SaveGlobalHotkeys();
    // LoudnessTarget="-16" in [Environment] (LUFS): every effect is played at that integrated
    // loudness. Absent, or not a number from -70 to 0, is off. Switching off removes the key;
    // switching on writes the target read at start-up, else the default.
    static constexpr double kDefaultLoudnessTarget = -16.0;
    bool m_bEqualLoudness = false;
    double m_dLoudnessTarget = kDefaultLoudnessTarget;
    bool SaveLoudnessTarget();

    // [Environment] WebRemote="1" serves the web remote on WebRemotePort (default 8470), at
    // WebRemoteAddress (absent: 127.0.0.1 only; "0.0.0.0": every address; else that address
    // alone). WebRemoteToken is made once, when the remote is first switched on, and kept: a
    // phone keeps its bookmark.
    static constexpr std::uint16_t kDefaultWebRemotePort = 8470;
    static constexpr std::string_view kEveryAddress = "0.0.0.0";
    bool m_bWebRemote = false;
    std::uint16_t m_nWebRemotePort = kDefaultWebRemotePort;
    std::string m_strWebRemoteAddress;
    std::string m_strWebRemoteToken;
    // Writes the switch and the address; makes and writes a token first when there is none.
    // False when no token could be made (then the remote stays off) or a write failed.
    bool SaveWebRemote();

    // OscPort="9000" in [Environment] turns OSC control on (absent, or not a port: off), on
    // OscAddress (default 127.0.0.1, this machine only). Read with the settings, never written.
    std::uint16_t m_nOscPort = 0;
    std::string m_strOscAddress = std::string(kLoopbackAddress);
    static constexpr std::string_view kLoopbackAddress = "127.0.0.1";

    // [Environment] WindowRect="x,y,w,h", EffectColumns and PlayColumns="w,w,...": read with
    // the other settings, written only by SaveWindowLayout, and only the keys that changed.
    WindowLayout m_windowLayout;
    void SaveWindowLayout(const WindowLayout& layout);
};

// A port number from 1 to 65535, decimal digits only.
bool ParsePort(std::string_view text, std::uint16_t& port);

// A LoudnessTarget value: a decimal number of LUFS from -70 to 0, nothing around it.
bool ParseLoudnessTarget(std::string_view text, double& lufs);

// A new web remote token: 128 bits from the system's random source, as 32 hexadecimal digits;
// empty when the source gives nothing. Whether a stored one is of that form.
std::string MakeWebRemoteToken();
bool IsWebRemoteToken(std::string_view token);

// The default set file name, CP932 ("音源.txt").
const std::string& DefaultSoundsFile();
