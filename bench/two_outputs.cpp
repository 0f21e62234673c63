// SPDX-License-Identifier: GPL-3.0-or-later
// Two outputs and a sound server that goes away, on a private PulseAudio daemon with two null
// sinks (the main output on one, the monitor on the other):
//  1. a click every 500 ms for `seconds` (60 by default), recorded on both sinks' monitors: how
//     the offset between the two recordings moves over the run (its spread and its drift), and
//     the monitor's lag behind the main mix as the program holds it;
//  2. the server ended and started again `restarts` times: the time from the new server
//     answering to the output being open again, and to its first frame taken;
//  3. the ring alone over a simulated hour with clocks 100 ppm apart: the worst lag error.
// Usage: two_outputs [seconds] [restarts]
#include "audio/monitor_ring.h"
#include "audio/output_backend.h"
#include "audio/output_config.h"
#include "tests/audio/sound_output_test_util.h"
#include "tests/support/pulse_rig.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Frame indexes where the left channel rises past half scale after a quiet stretch.
std::vector<double> Onsets(const std::vector<std::int16_t>& stereo) {
    std::vector<double> at;
    std::size_t quiet = 0;
    for (std::size_t i = 0; 2 * i < stereo.size(); ++i) {
        if (stereo[2 * i] > 10000 && quiet > 2000)
            at.push_back(static_cast<double>(i));
        quiet = stereo[2 * i] > 10000 ? 0 : quiet + 1;
    }
    return at;
}

std::uint64_t FramesMixed(const SoundDevicePtr& device) {
    SoundOutputInfo info;
    GetSoundOutputInfo(device, &info);
    return info.nFramesMixed;
}

void SimulatedHour() {
    constexpr std::uint32_t kRate = 22050;
    MonitorRing ring(32768, kRate);
    const std::size_t writer = 256;
    const std::size_t reader = 512;
    ring.SetTarget(2 * (writer + reader), kRate);
    ring.Restart();
    std::vector<std::int16_t> block(2 * reader);
    double nextWrite = 0;
    double nextRead = 0.001;
    double worst = 0;
    double last = 0;
    while (nextRead < 3600) {
        if (nextWrite <= nextRead) {
            ring.Write(block.data(), writer);
            nextWrite += static_cast<double>(writer) / kRate;
            continue;
        }
        ring.Read(block.data(), reader);
        nextRead += static_cast<double>(reader) / (kRate * (1 + 100e-6));
        // The smoothed lag: the instant one also swings with the two block sizes.
        const double error = ring.AverageFill() - static_cast<double>(ring.Target());
        if (nextRead > 30)
            worst = std::max(worst, std::abs(error));
        last = error;
    }
    std::printf("simulated hour, monitor clock +100 ppm, periods 256/512: lag error worst %.1f "
                "frames (%.2f ms) after the first 30 s, %.1f frames at the end; resyncs %llu, "
                "underruns %llu\n",
                worst, worst * 1000 / kRate, last, static_cast<unsigned long long>(ring.Resyncs()),
                static_cast<unsigned long long>(ring.Underruns()));
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int restarts = argc > 2 ? std::atoi(argv[2]) : 3;
    SimulatedHour();
    if (!PulseRig::Available()) {
        std::printf("pulseaudio and parec are not installed: the device figures are skipped\n");
        return 0;
    }
    PulseRig rig;
    if (!rig.StartServer()) {
        std::printf("the PulseAudio daemon did not start\n");
        return 1;
    }
    const OutputRoute route{PulseRig::kSinkA, true, PulseRig::kSinkB};
    SoundDevicePtr device;
    DirectSoundCreate({route, 0, {}}, &device);
    auto status = [&] {
        OutputStatus s;
        GetOutputStatus(device, &s);
        return s;
    };
    auto flowing = [&] {
        const std::uint64_t main = FramesMixed(device);
        const std::uint64_t monitor = status().nMonitorFrames;
        std::this_thread::sleep_for(20ms);
        return FramesMixed(device) > main && status().nMonitorFrames > monitor;
    };
    PulseRig::WaitFor(flowing, 5s);
    rig.StartRecorders();
    // A 5 ms click.
    SoundBufferPtr click =
        MakeMono16(device, PulseRig::kRate, std::vector<std::int16_t>(110, 20000));

    // The recorders start a little apart: a reference click played to both sinks at once
    // through a combined sink (which keeps its two outputs aligned) measures that offset.
    bool haveReference = false;
    {
        std::vector<std::int16_t> ref(2 * PulseRig::kRate, 0);
        for (int i = 0; i < 110; ++i)
            ref[PulseRig::kRate + 2 * i] = ref[PulseRig::kRate + 2 * i + 1] = 20000;
        const std::string path = std::string(std::getenv("HOME")) + "/reference.raw";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f != nullptr) {
            std::fwrite(ref.data(), 2, ref.size(), f);
            std::fclose(f);
            haveReference =
                PulseRig::Run({"/usr/bin/pactl", "load-module", "module-combine-sink",
                               "sink_name=ab", "slaves=a,b"}) &&
                PulseRig::Run({"/usr/bin/pacat", "--device=ab", "--format=s16le",
                               "--rate=" + std::to_string(PulseRig::kRate), "--channels=2", path});
        }
        std::this_thread::sleep_for(1s);
    }

    // 1. Clicks for the run; the program's own view of the monitor's lag beside them.
    std::vector<double> lags;
    const auto start = Clock::now();
    for (int i = 0; i < seconds * 2; ++i) {
        std::this_thread::sleep_until(start + i * 500ms);
        click->Play(0, 0, 0);
        lags.push_back(status().dMonitorLag);
    }
    std::this_thread::sleep_for(2500ms); // a null sink's monitor hands sound on late
    rig.StopRecorders();
    std::vector<double> a = Onsets(rig.Recorded(0));
    std::vector<double> b = Onsets(rig.Recorded(1));
    double recorderOffset = 0; // frames B's recording runs behind A's
    if (haveReference && !a.empty() && !b.empty()) {
        recorderOffset = b.front() - a.front();
        a.erase(a.begin());
        b.erase(b.begin());
        for (double& x : b)
            x -= recorderOffset;
    }
    // A click may be missing at either end of a recording: pair each click on A with the one on
    // B nearest to it after the typical offset, and drop pairs that do not fit it.
    auto nearest = [&](double at) {
        return *std::min_element(b.begin(), b.end(), [at](double x, double y) {
            return std::abs(x - at) < std::abs(y - at);
        });
    };
    std::vector<double> offsetMs;
    if (!b.empty()) {
        std::vector<double> rough;
        for (double x : a)
            rough.push_back(nearest(x) - x);
        std::nth_element(rough.begin(), rough.begin() + rough.size() / 2, rough.end());
        const double typical = rough.empty() ? 0 : rough[rough.size() / 2];
        for (double x : a) {
            const double d = nearest(x + typical) - x;
            if (std::abs(d - typical) < 0.1 * PulseRig::kRate)
                offsetMs.push_back(d * 1000.0 / PulseRig::kRate);
        }
    }
    const std::size_t n = offsetMs.size();
    if (n >= 2) {
        const auto [lo, hi] = std::minmax_element(offsetMs.begin(), offsetMs.end());
        // Least squares slope of the offset over the click number (two clicks a second).
        const double meanX = (static_cast<double>(n) - 1) / 2;
        const double meanY = std::accumulate(offsetMs.begin(), offsetMs.end(), 0.0) / n;
        double sxy = 0;
        double sxx = 0;
        for (std::size_t i = 0; i < n; ++i) {
            sxy += (static_cast<double>(i) - meanX) * (offsetMs[i] - meanY);
            sxx += (static_cast<double>(i) - meanX) * (static_cast<double>(i) - meanX);
        }
        std::printf("%d s, main on A, monitor on B: %zu clicks on A, %zu on B, %zu paired; offset "
                    "B-A largest %.2f ms, first "
                    "%.2f ms, last %.2f ms, spread %.2f ms, drift %.3f ms per minute "
                    "(%s)\n",
                    seconds, a.size(), b.size(), n, std::max(std::abs(*lo), std::abs(*hi)),
                    offsetMs.front(), offsetMs.back(), *hi - *lo, sxy / sxx * 120,
                    haveReference ? "recorders aligned by a reference click through a combined sink"
                                  : "the recorders' own start offset is in the offsets");
    } else {
        std::printf("%d s: too few clicks recorded (%zu on A, %zu on B)\n", seconds, a.size(),
                    b.size());
    }
    const auto [lagLo, lagHi] = std::minmax_element(lags.begin() + lags.size() / 10, lags.end());
    std::printf("monitor lag behind the main mix (held by the program): %.0f..%.0f frames "
                "(%.1f..%.1f ms); the monitor stood in for the main output %llu times\n",
                *lagLo, *lagHi, *lagLo * 1000 / PulseRig::kRate, *lagHi * 1000 / PulseRig::kRate,
                static_cast<unsigned long long>(status().nStandIns));

    // 2. The server goes and comes back.
    for (int r = 0; r < restarts; ++r) {
        rig.StopServer();
        PulseRig::WaitFor([&] { return status().main == OutputState::Waiting; }, 5s);
        const std::uint64_t frames = FramesMixed(device); // still while nothing plays
        if (!rig.StartServer()) {
            std::printf("the daemon did not start again\n");
            return 1;
        }
        const auto back = Clock::now();
        const bool opened =
            PulseRig::WaitFor([&] { return status().main == OutputState::Playing; }, 10s);
        const auto openedAt = Clock::now();
        const bool flowed = PulseRig::WaitFor([&] { return FramesMixed(device) > frames; }, 10s);
        std::printf("restart %d: output open again %.0f ms after the server answered, first frame "
                    "taken after %.0f ms%s\n",
                    r + 1, Ms(openedAt - back), Ms(Clock::now() - back),
                    opened && flowed ? "" : " (timed out)");
    }
    click.reset();
    device.reset();
    return 0;
}
