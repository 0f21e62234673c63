// SPDX-License-Identifier: GPL-3.0-or-later
// Underruns of the SDL output on a real PulseAudio daemon of our own (tests/support/pulse_rig.h):
// the main output on a 48000 Hz null sink, a short tone played every second, counted once the
// stream flows: the daemon's own underruns of our stream (from its debug log), and the output's
// callbacks more than two periods late. `pacat` puts pacat, playing a sine at the same buffering
// (PULSE_LATENCY_MSEC, 16 ms unless set), in the output's place: a client that is not ours on
// the same machine at the same moment. `probe` adds a thread (SCHED_FIFO where the process may)
// that sleeps to 1 ms deadlines and counts how late the machine wakes it; its thousand wake-ups a
// second keep an idle machine a little less idle. Run it on an idle machine and beside CPU
// burners. Asserts nothing.
//
//   pulse_underruns [seconds=60] [pacat] [probe]
#include "audio/output_config.h"
#include "audio/sound_output.h"
#include "tests/audio/sound_output_test_util.h"
#include "tests/support/pulse_rig.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kRate = 48000;

// A 440 Hz sine, the channels interleaved.
std::vector<std::int16_t> Sine(std::size_t frames, std::size_t channels) {
    std::vector<std::int16_t> s(frames * channels);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(
            std::lround(3000 * std::sin(2 * std::numbers::pi * 440 *
                                        static_cast<double>(i / channels) / kRate)));
    return s;
}

SoundBufferPtr MakeTone(const SoundDevicePtr& device) {
    return MakeMono16(device, kRate, Sine(kRate / 5, 1));
}

// Lines of the daemon's log that tell an underrun of a playback stream.
long ServerUnderruns(const std::string& log) {
    std::ifstream in(log);
    long n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.find("Implicit underrun") != std::string::npos;
    return n;
}

SoundOutputInfo Info(const SoundDevicePtr& device) {
    SoundOutputInfo info;
    GetSoundOutputInfo(device, &info);
    return info;
}

// Wakes at every millisecond's deadline until stopped and counts how late it woke.
class WakeProbe {
public:
    WakeProbe()
        : m_thread([this] {
              sched_param param{};
              param.sched_priority = 50;
              pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
              timespec next{};
              clock_gettime(CLOCK_MONOTONIC, &next);
              while (!m_bStop.load(std::memory_order_relaxed)) {
                  next.tv_nsec += 1000000;
                  if (next.tv_nsec >= 1000000000) {
                      next.tv_nsec -= 1000000000;
                      ++next.tv_sec;
                  }
                  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
                  timespec now{};
                  clock_gettime(CLOCK_MONOTONIC, &now);
                  const double late = static_cast<double>(now.tv_sec - next.tv_sec) * 1e3 +
                                      static_cast<double>(now.tv_nsec - next.tv_nsec) / 1e6;
                  m_nOver2 += late > 2;
                  m_nOver10 += late > 10;
                  m_worst = std::max(m_worst, late);
              }
          }) {}
    ~WakeProbe() { Stop(); }
    WakeProbe(const WakeProbe&) = delete;
    WakeProbe& operator=(const WakeProbe&) = delete;

    void Stop() {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::string Summary() {
        Stop();
        char text[96];
        std::snprintf(text, sizeof text,
                      "; probe woken > 2 ms late %ld, > 10 ms %ld, worst %.1f ms", m_nOver2,
                      m_nOver10, m_worst);
        return text;
    }

private:
    std::atomic<bool> m_bStop{false};
    long m_nOver2 = 0; // the counts are read only after the join
    long m_nOver10 = 0;
    double m_worst = 0;
    std::thread m_thread;
};

std::string Summary(std::optional<WakeProbe>& probe) {
    return probe ? probe->Summary() : std::string();
}

// pacat at the buffering the output asks for: the daemon's underruns in `seconds` once it flows.
long ReferenceUnderruns(PulseRig& rig, int seconds) {
    const char* latency = std::getenv("PULSE_LATENCY_MSEC");
    const std::string path = rig.FilePath("sine.raw");
    const std::vector<std::int16_t> s = Sine(static_cast<std::size_t>(seconds + 10) * kRate, 2);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(s.data()),
               static_cast<std::streamsize>(s.size() * sizeof s[0]));
    if (!rig.Play("b", path, kRate, latency != nullptr ? std::atoi(latency) : 0))
        return -1;
    std::this_thread::sleep_for(2s);
    const long before = ServerUnderruns(rig.LogPath());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return ServerUnderruns(rig.LogPath()) - before;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    bool reference = false;
    bool probing = false;
    for (int i = 2; i < argc; ++i) {
        reference = reference || std::strcmp(argv[i], "pacat") == 0;
        probing = probing || std::strcmp(argv[i], "probe") == 0;
    }
    if (!PulseRig::Available()) {
        std::fprintf(stderr, "pulseaudio and parec are not installed\n");
        return 1;
    }
    SetSoundServerLatency();
    PulseRig rig;
    rig.LogDebug();
    if (!rig.StartServer()) {
        std::fprintf(stderr, "the daemon did not start\n");
        return 1;
    }
    std::optional<WakeProbe> probe;
    if (reference) {
        if (probing)
            probe.emplace();
        const long underruns = ReferenceUnderruns(rig, seconds);
        if (underruns < 0) {
            std::fprintf(stderr, "pacat did not start\n");
            return 1;
        }
        std::printf("pacat at 48000 Hz, PULSE_LATENCY_MSEC=%s: %d s, %ld underruns in the "
                    "server%s\n",
                    std::getenv("PULSE_LATENCY_MSEC"), seconds, underruns, Summary(probe).c_str());
        return 0;
    }
    SoundDevicePtr device;
    if (DirectSoundCreate({{PulseRig::kSinkB, false, {}}, 0, {}}, &device) != DS_OK) {
        std::fprintf(stderr, "no output\n");
        return 1;
    }
    // A null sink takes a fresh stream's first block only after about 1.7 s: count from when
    // the frames flow at their pace.
    for (int i = 0; i < 100 && Info(device).nFramesMixed < 48000; ++i)
        std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1s);
    SoundBufferPtr tone = MakeTone(device);
    const SoundOutputInfo before = Info(device);
    const long serverBefore = ServerUnderruns(rig.LogPath());
    const auto start = std::chrono::steady_clock::now();
    if (probing)
        probe.emplace();
    for (int i = 0; i < seconds; ++i) {
        if (tone)
            tone->Play(0, 0, 0);
        std::this_thread::sleep_until(start + std::chrono::seconds(i + 1));
    }
    const SoundOutputInfo after = Info(device);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s at %u Hz, %u-frame period (%.2f ms): %d s, %.0f frames mixed (%.4f of real "
                "time), %ld underruns in the server, %llu late callbacks%s\n",
                after.driver.c_str(), after.nSamplesPerSec, after.nPeriodFrames,
                1000.0 * after.nPeriodFrames / std::max(after.nSamplesPerSec, 1u), seconds,
                static_cast<double>(after.nFramesMixed - before.nFramesMixed),
                static_cast<double>(after.nFramesMixed - before.nFramesMixed) /
                    (wall * after.nSamplesPerSec),
                ServerUnderruns(rig.LogPath()) - serverBefore,
                static_cast<unsigned long long>(after.nUnderruns - before.nUnderruns),
                Summary(probe).c_str());
    tone.reset();
    device.reset();
    return 0;
}
