// SPDX-License-Identifier: GPL-3.0-or-later
// What a device of another rate costs: a set of long effects, all sounding, on an offline output
// whose device changes from 44100 to 48000 Hz. Prints the preparation at load, the mixing of the
// prepared voices, the mixing while the buffers are prepared again (the mixer stretching those
// not yet done), the time until every buffer is prepared again, and what the windowed-sinc
// resampler would cost if the mixer ran it on every voice instead. Asserts nothing.
//
//   rate_change [effects=64] [seconds=10]
#include "audio/offline_output.h"
#include "audio/resampler.h"
#include "audio/sound_output.h"
#include "tests/audio/sound_output_test_util.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

constexpr std::uint32_t kSourceRate = 44100;

SoundBufferPtr MakeEffect(const SoundDevicePtr& device, double seconds, int index) {
    const auto frames = static_cast<std::size_t>(kSourceRate * seconds);
    std::vector<std::int16_t> s(2 * frames);
    const double hz = 220.0 + 13.0 * index;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(
            300 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / kSourceRate)));
        s[2 * i] = v;
        s[2 * i + 1] = static_cast<std::int16_t>(-v);
    }
    return MakeBuffer(device, PlainFormat(WAVE_FORMAT_PCM, 2, kSourceRate, 16), S16Bytes(s));
}

} // namespace

int main(int argc, char** argv) {
    const int effects = argc > 1 ? std::max(1, std::atoi(argv[1])) : 64;
    const double seconds = argc > 2 ? std::max(2.0, std::atof(argv[2])) : 10.0;
    OfflineSoundOutput out(kSourceRate);

    std::vector<SoundBufferPtr> set;
    auto t = Clock::now();
    for (int i = 0; i < effects; ++i)
        set.push_back(MakeEffect(out.Device(), seconds, i));
    const double load = Since(t);
    for (const SoundBufferPtr& b : set)
        if (!b || b->Play(0, 0, 0) != DS_OK) {
            std::fprintf(stderr, "an effect did not load or play\n");
            return 1;
        }

    std::vector<std::int16_t> mix;
    double cpu = ThreadCpuSeconds();
    out.Render(kSourceRate, mix);
    const double prepared = ThreadCpuSeconds() - cpu;

    // The device changes: the first second is mixed while the buffers are prepared again.
    t = Clock::now();
    out.SetDeviceRate(48000);
    cpu = ThreadCpuSeconds();
    out.Render(4800, mix);
    const double bridged = (ThreadCpuSeconds() - cpu) * 10;
    const double bridgedAfter = Since(t);
    out.WaitPrepared(std::chrono::minutes(5));
    const double again = Since(t);
    cpu = ThreadCpuSeconds();
    out.Render(48000, mix);
    const double resampledMix = ThreadCpuSeconds() - cpu;

    // The windowed sinc at mix time: one second of each voice's two channels, 44100 -> 48000.
    std::vector<float> in(kSourceRate);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(0.01 * std::sin(static_cast<double>(i) * 0.05));
    std::vector<float> resampled;
    cpu = ThreadCpuSeconds();
    for (int i = 0; i < 8; ++i)
        ResampleChannel(in.data(), in.size(), kSourceRate, 48000, resampled);
    const double sincPerChannelSecond = (ThreadCpuSeconds() - cpu) / 8;

    const double audio = effects * seconds;
    std::printf("%d effects of %.0f s, stereo 44100 Hz, all sounding; one CPU core:\n", effects,
                seconds);
    std::printf("  making and loading them for a 44100 Hz device (no resampling): %.0f ms\n",
                1000 * load);
    std::printf("  mixing one second at 44100 Hz: %.1f ms CPU\n", 1000 * prepared);
    std::printf("  device becomes 48000 Hz: every buffer prepared again (windowed sinc), off the "
                "caller's thread, after %.0f ms (%.0f ms per minute of sound)\n",
                1000 * again, 1000 * again / audio * 60);
    std::printf("  mixing while that runs (the mixer stretching what is not ready): %.1f ms CPU "
                "per second (first 100 ms of mix done %.0f ms after the change)\n",
                1000 * bridged, 1000 * bridgedAfter);
    std::printf("  mixing one second afterwards, buffers at the device rate: %.1f ms CPU\n",
                1000 * resampledMix);
    std::printf("  windowed sinc in the mixer instead: %.1f ms CPU per voice per second, %.0f ms "
                "per second for these %d voices\n",
                1000 * 2 * sincPerChannelSecond, 1000 * 2 * sincPerChannelSecond * effects,
                effects);
    return 0;
}
