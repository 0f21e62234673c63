// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a file the user, a setting or a set line names, on the window's thread. open() on a
// FIFO waits for a writer, and a device may never answer: the file is opened without blocking
// and refused unless it is a regular file, before a single byte is read.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A descriptor open for reading on the host path (UTF-8), or -1 with errno set: ENOENT when
// nothing is there, EISDIR for a folder, EINVAL for anything else that is not a regular file.
int OpenRegularFileForReading(const std::string& osPath);
// The same as a binary stdio stream; null with errno set.
FilePtr FOpenRegularFileForReading(const std::string& osPath);
