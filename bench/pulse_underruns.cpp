// Underruns of the SDL output on a real PulseAudio daemon of our own (tests/support/pulse_rig.h):
// the main output on a 48000 Hz null sink, a short tone played every second, counted once the
// stream flows: the daemon's own underruns of our stream (from its debug log), and the output's
// callbacks more than two periods late. Run it on an idle machine and beside CPU burners.
// Asserts nothing.
//
//   pulse_underruns [seconds=60]
#include "audio/output_route.h"
#include "audio/sound_output.h"
#include "tests/audio/sound_output_test_util.h"
#include "tests/support/pulse_rig.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <thread>

namespace {

using namespace std::chrono_literals;

SoundBufferPtr MakeTone(const SoundDevicePtr& device) {
    constexpr std::uint32_t kRate = 48000;
    std::vector<std::int16_t> s(kRate / 5);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(std::lround(
            3000 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / kRate)));
    return MakeMono16(device, kRate, s);
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

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
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
    SetStartRoute({PulseRig::kSinkB, false, {}});
    SoundDevicePtr device;
    if (DirectSoundCreate(nullptr, &device, nullptr) != DS_OK) {
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
    for (int i = 0; i < seconds; ++i) {
        if (tone)
            tone->Play(0, 0, 0);
        std::this_thread::sleep_until(start + std::chrono::seconds(i + 1));
    }
    const SoundOutputInfo after = Info(device);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s at %u Hz, %u-frame period (%.2f ms): %d s, %.0f frames mixed (%.4f of real "
                "time), %ld underruns in the server, %llu late callbacks\n",
                after.driver.c_str(), after.nSamplesPerSec, after.nPeriodFrames,
                1000.0 * after.nPeriodFrames / std::max(after.nSamplesPerSec, 1u), seconds,
                static_cast<double>(after.nFramesMixed - before.nFramesMixed),
                static_cast<double>(after.nFramesMixed - before.nFramesMixed) /
                    (wall * after.nSamplesPerSec),
                ServerUnderruns(rig.LogPath()) - serverBefore,
                static_cast<unsigned long long>(after.nUnderruns - before.nUnderruns));
    tone.reset();
    device.reset();
    return 0;
}
