// SPDX-License-Identifier: GPL-3.0-or-later
// A private PulseAudio daemon with two null sinks and a recorder on each sink's monitor, for the
// device tests and benchmarks. The daemon and the recorders run in a runtime folder and home of
// their own; every process started here is our child, ended by its own id, and ends with us.
// Header-only, so the benchmarks share it without the test main.
#pragma once

#include "tests/support/wait_until.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class PulseRig {
public:
    // The sinks' descriptions: SDL lists devices by them.
    static constexpr const char* kSinkA = "OtomaruA";
    static constexpr const char* kSinkB = "OtomaruB";
    static constexpr int kRate = 22050;
    // The sinks' own rates, as two sound cards may differ.
    static constexpr int kRateA = 44100;
    static constexpr int kRateB = 48000;

    PulseRig() {
        char pattern[] = "/tmp/otomaru-pulse-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_dir = made != nullptr ? made : "";
        std::filesystem::create_directories(m_dir + "/run");
        std::filesystem::create_directories(m_dir + "/home");
        chmod((m_dir + "/run").c_str(), 0700);
        // Before SDL first looks: the client library reads these when it connects.
        setenv("XDG_RUNTIME_DIR", (m_dir + "/run").c_str(), 1);
        setenv("HOME", (m_dir + "/home").c_str(), 1);
        unsetenv("PULSE_SERVER");
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    }

    ~PulseRig() {
        End(m_player);
        StopRecorders();
        StopServer();
        std::error_code ec;
        if (!m_dir.empty() && getenv("OTOMARU_KEEP_PULSE") == nullptr)
            std::filesystem::remove_all(m_dir, ec);
    }

    PulseRig(const PulseRig&) = delete;
    PulseRig& operator=(const PulseRig&) = delete;

    // OTOMARU_RIG_PIPEWIRE=1: PipeWire, WirePlumber and pipewire-pulse, on a session bus of
    // their own, stand in for the PulseAudio daemon (without the sinks a and b).
    static bool PipeWire() { return getenv("OTOMARU_RIG_PIPEWIRE") != nullptr; }

    static bool Available() {
        if (PipeWire())
            return access("/usr/bin/pipewire-pulse", X_OK) == 0 &&
                   access("/usr/bin/wireplumber", X_OK) == 0 &&
                   access("/usr/bin/dbus-daemon", X_OK) == 0 && access("/usr/bin/parec", X_OK) == 0;
        return access("/usr/bin/pulseaudio", X_OK) == 0 && access("/usr/bin/parec", X_OK) == 0;
    }

    // The daemon's log; at debug level (before StartServer) it tells each underrun of a stream.
    std::string LogPath() const { return FilePath("pulse.log"); }
    void LogDebug() { m_bDebugLog = true; }

    // Returns once the daemon takes connections. It is our child and ends with this process,
    // even when a test stops half-way.
    bool StartServer() {
        const std::string socket = m_dir + "/run/pulse/native";
        std::filesystem::remove(socket);
        if (PipeWire())
            return StartPipeWire(socket);
        // Built apart: GCC 12 at -O1 warns falsely about the temporaries inside the list.
        const std::string log = "--log-target=file:" + LogPath();
        const std::string level = m_bDebugLog ? "--log-level=debug" : "--log-level=notice";
        const std::string sinkA = std::string("--load=module-null-sink sink_name=a rate=") +
                                  std::to_string(kRateA) +
                                  " sink_properties=device.description=" + kSinkA;
        const std::string sinkB = std::string("--load=module-null-sink sink_name=b rate=") +
                                  std::to_string(kRateB) +
                                  " sink_properties=device.description=" + kSinkB;
        m_server = Spawn({"/usr/bin/pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                          "--use-pid-file=no", log, level, sinkA, sinkB,
                          // Last: a client that connects finds the sinks there. SDL 2.26 crashes on
                          // a server without a default sink.
                          "--load=module-native-protocol-unix"});
        return m_server > 0 && WaitForFile(socket);
    }

    pid_t ServerPid() const { return m_server; }

    static bool WaitFor(const std::function<bool()>& condition,
                        std::chrono::steady_clock::duration timeout) {
        return WaitUntil(condition, timeout);
    }

    void StopServer() {
        for (pid_t& pid : m_pipeWire)
            End(pid);
        End(m_server);
    }

    // Runs a program (pactl, pacat) against the daemon and waits for it; true when it succeeded.
    static bool Run(const std::vector<std::string>& args) {
        pid_t pid = Spawn(args);
        int status = 0;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }

    // pacat playing a raw stereo 16-bit file into the sink, until it ends or the next: at kRate
    // unless told, with pacat's own buffering unless a latency is given.
    bool Play(const std::string& sink, const std::string& path, int rate = kRate,
              int latencyMs = 0) {
        End(m_player);
        std::vector<std::string> args = {"/usr/bin/pacat", "--device=" + sink,
                                         "--format=s16le", "--rate=" + std::to_string(rate),
                                         "--channels=2",   path};
        if (latencyMs > 0)
            args.push_back("--latency-msec=" + std::to_string(latencyMs));
        m_player = Spawn(args);
        return m_player > 0;
    }

    // A file of this name in the rig's own folder, gone with the rig.
    std::string FilePath(const std::string& name) const { return m_dir + "/" + name; }

    // parec on two sources (a's and b's monitors unless told), raw stereo 16-bit at kRate, into
    // fresh files.
    bool StartRecorders(const std::string& first = "a.monitor",
                        const std::string& second = "b.monitor") {
        StopRecorders();
        ++m_nTake;
        for (int i = 0; i < 2; ++i) {
            m_recorder[i] = Spawn({"/usr/bin/parec", "--device=" + (i == 0 ? first : second),
                                   "--format=s16le", "--rate=" + std::to_string(kRate),
                                   "--channels=2", "--latency-msec=10", RecordingPath(i)});
            if (m_recorder[i] <= 0)
                return false;
        }
        return true;
    }

    void StopRecorders() {
        for (pid_t& pid : m_recorder)
            End(pid);
    }

    // 0 = the first source, 1 = the second: stereo samples recorded so far in the current take.
    std::vector<std::int16_t> Recorded(int sink) const {
        std::ifstream in(RecordingPath(sink), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::vector<std::int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

    // The loudest the pitch gets in any 4096-frame window of the left channel (a sine of full
    // scale reads 1.0): Goertzel's filter, windows overlapping by half.
    static double Level(const std::vector<std::int16_t>& stereo, double hz) {
        constexpr std::size_t kWindow = 4096;
        const double coeff = 2 * std::cos(2 * M_PI * hz / kRate);
        double best = 0;
        for (std::size_t at = 0; at + 2 * kWindow <= stereo.size(); at += kWindow) {
            double s1 = 0;
            double s2 = 0;
            for (std::size_t i = 0; i < kWindow; ++i) {
                const double s0 = stereo[at + 2 * i] / 32768.0 + coeff * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
            best = std::max(best, 2 * std::sqrt(std::max(power, 0.0)) / kWindow);
        }
        return best;
    }

    // The file the current take of a recorder goes to, as it grows.
    std::string RecordingPath(int sink) const {
        return m_dir + "/take" + std::to_string(m_nTake) + (sink == 0 ? "-a.raw" : "-b.raw");
    }

private:
    static bool WaitForFile(const std::string& path) {
        for (int i = 0; i < 500; ++i) {
            if (std::filesystem::exists(path))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    bool StartPipeWire(const std::string& socket) {
        const std::string bus = m_dir + "/bus";
        std::filesystem::remove(bus);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + bus).c_str(), 1);
        setenv("DISABLE_RTKIT", "1", 1);
        m_pipeWire[0] =
            Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=unix:path=" + bus});
        WaitForFile(bus);
        m_server = Spawn({"/usr/bin/pipewire"});
        WaitForFile(m_dir + "/run/pipewire-0");
        m_pipeWire[1] = Spawn({"/usr/bin/wireplumber"});
        m_pipeWire[2] = Spawn({"/usr/bin/pipewire-pulse"});
        return WaitForFile(socket); // with its own null sink only
    }

    static void End(pid_t& pid) {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = 0;
    }

    // fork and exec rather than posix_spawn: the child asks to be ended when we end.
    static pid_t Spawn(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid != 0)
            return pid;
        // Only async-signal-safe calls from here to exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }

    std::string m_dir;
    bool m_bDebugLog = false;
    pid_t m_server = 0;
    pid_t m_recorder[2] = {0, 0};
    pid_t m_player = 0;
    pid_t m_pipeWire[3] = {0, 0, 0}; // the bus, WirePlumber, pipewire-pulse
    int m_nTake = 0;
};
