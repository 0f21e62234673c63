// SPDX-License-Identifier: GPL-3.0-or-later
// Temporary file + fsync + rename: the only way the set file and the settings file are written,
// so that a failed write can never cost the user the file they had.
#include "base/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_faultMutex;
AtomicWriteFault g_fault;

// One chunk per write call keeps the fault seam meaningful for "fails in the middle".
constexpr std::size_t kChunk = 64 * 1024;

// Runs the test seam for a step; true = the step is to fail (errno set).
bool Injected(const AtomicWriteFault& fault, AtomicWriteStep step) {
    if (!fault)
        return false;
    int error = fault(step);
    if (error == 0)
        return false;
    errno = error;
    return true;
}

// Opens a new, unique file in `dir` whose name starts with `base`. Mode 0666 lets the umask
// decide, as for any new file.
int CreateTemporary(const std::string& dir, const std::string& base, std::string& tmpPath) {
    static std::atomic<unsigned> s_counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned long long stamp = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        tmpPath = dir + "." + base + ".tmp-" + std::to_string(getpid()) + "-" +
                  std::to_string(s_counter.fetch_add(1)) + "-" + std::to_string(stamp % 100000);
        int fd = open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool WriteAll(int fd, std::string_view data, const AtomicWriteFault& fault) {
    std::size_t done = 0;
    while (done < data.size()) {
        if (Injected(fault, AtomicWriteStep::Write))
            return false;
        std::size_t n = std::min(kChunk, data.size() - done);
        ssize_t written = write(fd, data.data() + done, n);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// The file a path finally names, following symbolic links (also one pointing at nothing yet),
// so that the link stays and the file it points at is replaced in its own folder.
std::string FollowLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = readlink(path.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size())
            return path;
        link.resize(static_cast<std::size_t>(n));
        if (link.front() != '/') {
            const std::size_t slash = path.rfind('/');
            link = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + link;
        }
        path = std::move(link);
    }
    return path;
}

// A file with other hard links is rewritten where it is, so that every name keeps seeing it.
// The old bytes are kept in memory and put back if the rewrite fails part way.
bool RewriteInPlace(const std::string& target, std::string_view data,
                    const AtomicWriteFault& fault) {
    const int fd = open(target.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string old;
    char chunk[8192];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        old.append(chunk, static_cast<std::size_t>(n));
    bool ok = n == 0 && lseek(fd, 0, SEEK_SET) == 0 && ftruncate(fd, 0) == 0 &&
              WriteAll(fd, data, fault) && fsync(fd) == 0;
    const int error = errno;
    if (!ok && n == 0 && lseek(fd, 0, SEEK_SET) == 0 && ftruncate(fd, 0) == 0)
        (void)WriteAll(fd, old, nullptr);
    if (close(fd) != 0 && ok)
        return false;
    errno = error;
    return ok;
}

} // namespace

AtomicWriteFault SetAtomicWriteFault(AtomicWriteFault fault) {
    std::lock_guard lock(g_faultMutex);
    std::swap(g_fault, fault);
    return fault;
}

bool WriteFileAtomically(const std::string& osPath, std::string_view data) {
    AtomicWriteFault fault;
    {
        std::lock_guard lock(g_faultMutex);
        fault = g_fault;
    }
    if (osPath.empty())
        return false;

    const std::string target = FollowLinks(osPath);
    struct stat st {};
    bool haveOld = stat(target.c_str(), &st) == 0;
    if (haveOld && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // A file the user may not open for writing is not written, although its folder would let
    // a new file take its name (read-only files, and whatever the system refuses).
    if (haveOld) {
        const int probe = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0)
            return false;
        close(probe);
    }

    std::size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    std::string tmpPath;
    int fd = -1;
    if (!Injected(fault, AtomicWriteStep::Create))
        fd = CreateTemporary(dir, base, tmpPath);
    if (fd < 0)
        return false;

    auto fail = [&](bool closeFirst) {
        int error = errno;
        if (closeFirst)
            close(fd);
        unlink(tmpPath.c_str());
        errno = error;
        return false;
    };

    if (haveOld)
        fchmod(fd, st.st_mode & 07777); // best effort: a new file with the umask is no loss
    if (!WriteAll(fd, data, fault))
        return fail(true);
    if (Injected(fault, AtomicWriteStep::Sync) || fsync(fd) != 0)
        return fail(true);
    if (Injected(fault, AtomicWriteStep::Close)) {
        close(fd);
        return fail(false);
    }
    if (close(fd) != 0)
        return fail(false);
    if (haveOld && st.st_nlink > 1) {
        if (Injected(fault, AtomicWriteStep::Rename) || !RewriteInPlace(target, data, fault))
            return fail(false);
        unlink(tmpPath.c_str());
    } else if (Injected(fault, AtomicWriteStep::Rename) ||
               rename(tmpPath.c_str(), target.c_str()) != 0) {
        return fail(false);
    }

    // The new name must survive a crash too. Some file systems cannot sync a directory; the
    // file itself is already in place, so that is not a failure of the write.
    int dirFd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}
