// SPDX-License-Identifier: GPL-3.0-or-later
// Where the sets, Otomaru.ini and the current directory live: beside the executable when the
// user may write there (a portable copy), otherwise in the user's own data folder, made at first
// start with a copy of the demo set the package installs. All paths in the system's encoding.
#pragma once

#include <string>

// exeDir ends with '/'. The executable's folder when exeDirWritable; otherwise
// $XDG_DATA_HOME/otomaru/, where only an absolute XDG_DATA_HOME counts, or
// <home>/.local/share/otomaru/. Empty when there is neither a usable XDG_DATA_HOME nor a home.
std::string ChooseDataFolder(const std::string& exeDir, bool exeDirWritable,
                             const char* xdgDataHome, const char* home);

// The demo set a package installs, relative to the executable: <prefix>/share/otomaru/.
std::string InstalledDataFolder(const std::string& exeDir);

// Makes the folder (and its parents). At first start, which is while it holds no Otomaru.ini,
// copies what the installed data folder holds into it, never over a file already there.
// False when the folder cannot be made.
bool PrepareDataFolder(const std::string& folder, const std::string& installedData);

// The folder for the running executable: chosen, made and filled as above. Falls back to the
// executable's folder when no other can be made.
std::string LocateDataFolder(const std::string& exeDir);
