// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/data_folder.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

std::string ChooseDataFolder(const std::string& exeDir, bool exeDirWritable,
                             const char* xdgDataHome, const char* home) {
    if (exeDirWritable)
        return exeDir;
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
    if (xdgDataHome && xdgDataHome[0] == '/')
        return std::string(xdgDataHome) + "/otomaru/";
    if (home && home[0] == '/')
        return std::string(home) + "/.local/share/otomaru/";
    return {};
}

std::string InstalledDataFolder(const std::string& exeDir) {
    return exeDir + "../share/otomaru/";
}

bool PrepareDataFolder(const std::string& folder, const std::string& installedData) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec))
        return false;
    if (fs::exists(folder + "Otomaru.ini", ec) || !fs::is_directory(installedData, ec))
        return true;
    // Folders are made afresh and copies made writable: the installed files are read-only, and
    // the user's own copies must not be. A file that cannot be copied leaves the rest usable.
    for (fs::recursive_directory_iterator it(installedData, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path to = fs::path(folder) / fs::relative(it->path(), installedData, ec);
        std::error_code itemEc;
        if (it->is_directory(itemEc)) {
            fs::create_directory(to, itemEc);
        } else if (fs::copy_file(it->path(), to, fs::copy_options::skip_existing, itemEc)) {
            fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::add, itemEc);
        }
    }
    return true;
}

std::string LocateDataFolder(const std::string& exeDir) {
    const bool writable = !exeDir.empty() && access(exeDir.c_str(), W_OK) == 0;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    const std::string folder =
        ChooseDataFolder(exeDir, writable, std::getenv("XDG_DATA_HOME"), home);
    if (folder.empty() || folder == exeDir ||
        !PrepareDataFolder(folder, InstalledDataFolder(exeDir)))
        return exeDir;
    return folder;
}
