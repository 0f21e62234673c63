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

    std::string target = osPath;
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    bool haveOld = stat(target.c_str(), &st) == 0;
    if (haveOld && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
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
    if (Injected(fault, AtomicWriteStep::Rename) || rename(tmpPath.c_str(), target.c_str()) != 0)
        return fail(false);

    // The new name must survive a crash too. Some file systems cannot sync a directory; the
    // file itself is already in place, so that is not a failure of the write.
    int dirFd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}
