// SPDX-License-Identifier: GPL-3.0-or-later
// Scratch space shared by the fuzz targets that go through real files. The writers sync every
// file they replace; on a disk that costs milliseconds per input, on tmpfs next to nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// A directory of its own (ending with '/'), on /dev/shm when there is one, removed at exit.
inline const std::string& FuzzScratchDir() {
    struct Scratch {
        std::string path;
        Scratch() {
            std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
            std::string pattern = base + "/otomaru-fuzz-XXXXXX";
            if (!mkdtemp(pattern.data()))
                std::abort();
            path = pattern + "/";
        }
        ~Scratch() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Scratch scratch;
    return scratch.path;
}

// Replaces the file with the input bytes; false when it cannot be written.
inline bool FuzzWriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}
