// Otomaru.ini beside the executable remembers which set was open last:
// [Environment] SoundsFile="<file name>", CP932. Our own reader and writer of that layout.
#pragma once

#include <string>

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
    // Writes through a temporary file renamed over the old one; keeps every other line.
    bool WriteValue(const std::string& section, const std::string& key, const std::string& value);

    std::string m_strExeDir;
    std::string m_strIniPath;
    std::string m_strSoundsFile;
};

// The default set file name, CP932 ("音源.txt").
const std::string& DefaultSoundsFile();
