// SPDX-License-Identifier: GPL-3.0-or-later
// The output asleep and awake, on a private PulseAudio daemon with a null sink:
//  1. CPU of this process and of the server over `seconds` (20 by default) with nothing
//     sounding and nothing recording, the output asleep, then kept open;
//  2. `starts` (100) cold starts with nobody recording, and as many with parec recording: the
//     time from Play to the first block mixed;
//  3. as many cold starts, each after the output went to sleep, and as many warm ones, while
//     parec records: the time from Play to the first non-silent frame in the recording of the
//     sink's monitor (parec at 10 ms latency). The figure is when that frame reaches parec's file,
//     polled every 0.2 ms, so the recording path's own latency is in it.
// Usage: cold_start [starts] [seconds]
#include "audio/output_backend.h"
#include "audio/output_config.h"
#include "tests/audio/sound_output_test_util.h"
#include "tests/support/pulse_rig.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

OutputStatus Status(const SoundDevicePtr& device) {
    OutputStatus s;
    GetOutputStatus(device, &s);
    return s;
}

// User and system CPU seconds of a process, from /proc.
double CpuSeconds(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr)
        return 0;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const char* p = read ? std::strrchr(line, ')') : nullptr;
    unsigned long user = 0;
    unsigned long system = 0;
    // After the name: state and ten fields before utime.
    if (p == nullptr || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                                    &user, &system) != 2)
        return 0;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ContextSwitches() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw + u.ru_nivcsw;
}

void Idle(const char* what, pid_t server, int seconds) {
    const double self0 = CpuSeconds(getpid());
    const double server0 = CpuSeconds(server);
    const long switches0 = ContextSwitches();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double self = CpuSeconds(getpid()) - self0;
    const double srv = CpuSeconds(server) - server0;
    std::printf("idle %s, %d s: this process %.2f s CPU (%.0f context switches/s), server %.2f s, "
                "together %.2f s\n",
                what, seconds, self, static_cast<double>(ContextSwitches() - switches0) / seconds,
                srv, self + srv);
}

// Reads what parec appended since `offset` until a left sample is loud; false on timeout.
bool WaitForSound(const std::string& path, off_t offset, Clock::duration timeout) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    std::vector<std::int16_t> chunk(8192);
    const auto start = Clock::now();
    bool heard = false;
    while (!heard && Clock::now() - start < timeout) {
        const ssize_t n = pread(fd, chunk.data(), chunk.size() * 2, offset);
        if (n <= 0) {
            std::this_thread::sleep_for(200us);
            continue;
        }
        const std::size_t frames = static_cast<std::size_t>(n) / 4;
        for (std::size_t i = 0; i < frames && !heard; ++i)
            heard = std::abs(chunk[2 * i]) > 2000;
        offset += static_cast<off_t>(frames * 4);
    }
    close(fd);
    return heard;
}

off_t FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size / 4 * 4 : 0;
}

void Report(const char* what, std::vector<double> ms, int missed) {
    if (ms.empty()) {
        std::printf("%s: nothing heard\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    auto at = [&ms](double q) { return ms[static_cast<std::size_t>(q * (ms.size() - 1) + 0.5)]; };
    const auto slow = std::count_if(ms.begin(), ms.end(), [](double x) { return x > 100; });
    std::printf("%s, %zu starts: median %.1f ms, 99th percentile %.1f ms, min %.1f, max %.1f; "
                "over 100 ms %td; missed %d\n",
                what, ms.size(), at(0.5), at(0.99), ms.front(), ms.back(), slow, missed);
}

// Cold starts: Play -> the first block mixed (the watcher woke and SDL's thread asked).
void ToFirstBlock(const char* what, const SoundDevicePtr& device, const SoundBufferPtr& tone,
                  int starts) {
    BackendOf(device)->SetIdleAfter(100ms);
    std::vector<double> ms;
    int missed = 0;
    for (int i = 0; i < starts; ++i) {
        if (!PulseRig::WaitFor([&] { return Status(device).bAsleep; }, 3s)) {
            ++missed;
            continue;
        }
        SoundOutputInfo info;
        GetSoundOutputInfo(device, &info);
        const std::uint64_t before = info.nFramesMixed;
        const auto played = Clock::now();
        tone->Play(0, 0, 0);
        if (PulseRig::WaitFor(
                [&] {
                    GetSoundOutputInfo(device, &info);
                    return info.nFramesMixed != before;
                },
                3s))
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - played).count());
        else
            ++missed;
    }
    Report(what, ms, missed);
}

} // namespace

int main(int argc, char** argv) {
    const int starts = argc > 1 ? std::atoi(argv[1]) : 100;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    if (!PulseRig::Available()) {
        std::printf("pulseaudio and parec are not installed\n");
        return 0;
    }
    SetSoundServerLatency(); // as the program does
    PulseRig rig;
    if (!rig.StartServer()) {
        std::printf("the PulseAudio rig did not start\n");
        return 1;
    }
    SoundDevicePtr device;
    if (DirectSoundCreate({{PulseRig::kSinkA, false, {}}, 0, {}}, &device) != DS_OK)
        return 1;
    const std::shared_ptr<OutputBackend> backend = BackendOf(device);
    std::vector<std::int16_t> samples(PulseRig::kRate / 10);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(16000 * std::sin(i * 2 * M_PI * 1000 / 22050));
    SoundBufferPtr tone = MakeMono16(device, PulseRig::kRate, samples);
    if (!tone || !backend)
        return 1;

    tone->Play(0, 0, 0);
    if (!PulseRig::WaitFor([&] { return Status(device).bAsleep; }, 10s))
        std::printf("the output did not go to sleep\n");
    Idle("asleep", rig.ServerPid(), seconds);
    backend->SetIdleAfter(0ms);
    tone->Play(0, 0, 0);
    std::this_thread::sleep_for(2s);
    Idle("kept open", rig.ServerPid(), seconds);

    // Without a recorder the null sink idles with long blocks and may take a fresh stream's first
    // block late.
    ToFirstBlock("cold, nobody recording, Play -> first block mixed", device, tone, starts);

    // Recording keeps the null sink busy: only now.
    if (!rig.StartRecorders()) {
        std::printf("parec did not start\n");
        return 1;
    }
    std::mt19937 random(23);
    std::uniform_int_distribution<int> jitter(0, 20);
    ToFirstBlock("cold, recording, Play -> first block mixed", device, tone, starts);
    const std::string path = rig.RecordingPath(0);
    for (const bool cold : {false, true}) {
        backend->SetIdleAfter(cold ? 100ms : 0ms);
        std::vector<double> ms;
        int missed = 0;
        for (int i = 0; i < starts; ++i) {
            if (cold && !PulseRig::WaitFor([&] { return Status(device).bAsleep; }, 3s)) {
                ++missed;
                continue;
            }
            // Past the end of the last tone and at no fixed point of the sink's period.
            std::this_thread::sleep_for(std::chrono::milliseconds(150 + jitter(random)));
            const off_t offset = FileSize(path);
            const auto played = Clock::now();
            tone->SetCurrentPosition(0);
            tone->Play(0, 0, 0);
            if (WaitForSound(path, offset, 2s))
                ms.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - played).count());
            else
                ++missed;
        }
        Report(cold ? "cold, Play -> first sound at the recorder"
                    : "warm, Play -> first sound at the recorder",
               ms, missed);
    }
    std::printf("went to sleep %llu times; periods of %u frames\n",
                static_cast<unsigned long long>(Status(device).nSleeps), backend->PeriodFrames());
    tone.reset();
    device.reset();
    return 0;
}
