// Otomaru.ini beside the executable remembers which set was open last:
// [Environment] SoundsFile="<file name>", CP932. Our own reader and writer of that layout.
#pragma once

#include <string>

class AppSettings {
public:
    AppSettings() = default;
    virtual ~AppSettings() = default;

    // Sets m_strExeDir (ending with '/') and m_strIniPath from the running executable.
    void LocateFiles();
    // The same from a given executable path (CP932), for tests and tools.
    void LocateFilesFrom(const std::string& executablePath);
    void LoadSettings();
    void SaveSettings();
    std::string ReadValue(const std::string& section, const std::string& key,
                          const std::string& defaultValue);
    // The stored value, empty when missing; unlike ReadValue it never writes a default.
    std::string PeekValue(const std::string& section, const std::string& key);
    // Writes through a temporary file renamed over the old one; keeps every other line.
    bool WriteValue(const std::string& section, const std::string& key, const std::string& value);

    std::string m_strExeDir;
    std::string m_strIniPath;
    std::string m_strSoundsFile;

    // GlobalHotkeys="1" in [Environment]: hotkeys fire while other programs have the keyboard.
    // Absent means off and is left absent until the user chooses.
    bool m_bGlobalHotkeys = false;
    bool SaveGlobalHotkeys();
};

// The default set file name, CP932 ("音源.txt").
const std::string& DefaultSoundsFile();
