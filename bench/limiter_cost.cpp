// SPDX-License-Identifier: GPL-3.0-or-later
// What the true-peak limiter costs: the mixer's voice-seconds per CPU-second with voices at 0 dB,
// boosted where their curve allows the whole gain, and boosted into the limiter; and the time to
// work out a curve per second of sound. Prints figures; asserts nothing.
//
//   limiter_cost [seconds-per-run=1] [runs=5]
#include "audio/limiter.h"
#include "audio/mixer.h"
#include "audio/offline_output.h"
#include "bench/bench_timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numbers>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::size_t kBlock = 256;

std::vector<std::int16_t> Tone(double hz, double amplitude, std::size_t frames, unsigned channels) {
    std::vector<std::int16_t> s(frames * channels);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(std::lround(
            amplitude * 32767 * std::sin(2 * std::numbers::pi * hz * (i / channels) / kRate)));
    return s;
}

double VoiceSecondsPerCpuSecond(int voices, float gainDb, double amplitude, double seconds,
                                int runs) {
    OfflineSoundOutput out(kRate);
    std::vector<SoundBufferPtr> buffers;
    for (int v = 0; v < voices; ++v) {
        const std::vector<std::int16_t> samples = Tone(110.0 + 7.0 * v, amplitude, kRate, 1);
        WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, kRate, 2 * kRate, 2, 16, 0};
        DSBUFFERDESC d;
        d.dwFlags = 360672;
        d.dwBufferBytes = static_cast<std::uint32_t>(samples.size() * 2);
        d.lpwfxFormat = &f;
        SoundBufferPtr b;
        void* p1 = nullptr;
        void* p2 = nullptr;
        std::uint32_t n1 = 0, n2 = 0;
        if (out.Device()->CreateSoundBuffer(&d, &b, nullptr) != DS_OK ||
            b->Lock(0, d.dwBufferBytes, &p1, &n1, &p2, &n2, 0) != DS_OK) {
            std::fprintf(stderr, "cannot make a buffer\n");
            std::exit(1);
        }
        std::memcpy(p1, samples.data(), n1);
        b->Unlock(p1, n1, p2, n2);
        b->SetPan((v % 21 - 10) * 500);
        QueryMixerVoice(b.get())->StoreGainDb(gainDb);
        b->Play(0, 0, DSBPLAY_LOOPING);
        buffers.push_back(std::move(b));
    }
    std::vector<std::int16_t> block;
    const std::size_t blocks = static_cast<std::size_t>(seconds * kRate / kBlock);
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        const double t0 = CpuSeconds();
        for (std::size_t i = 0; i < blocks; ++i) {
            block.clear();
            out.Render(kBlock, block);
            for (auto& b : buffers) {
                std::uint32_t status = 0;
                if (b->GetStatus(&status) == DS_OK && status == 0)
                    b->Play(0, 0, 0);
            }
        }
        best = std::min(best, CpuSeconds() - t0);
    }
    return voices * static_cast<double>(blocks * kBlock) / kRate / best;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::printf("Mono 16-bit voices at %u Hz, %zu-frame blocks, %.2f s per run, best of %d\n",
                kRate, kBlock, seconds, runs);
    std::printf("%6s %14s %14s %14s   (voice-seconds per CPU-second)\n", "voices", "0 dB",
                "+6 dB, room", "+12 dB, held");
    for (const int n : {1, 64, 256}) {
        // A tone at 0.2 has room for +6 dB under the ceiling; at 0.5, +12 dB is held down.
        std::printf("%6d %14.0f %14.0f %14.0f\n", n,
                    VoiceSecondsPerCpuSecond(n, 0, 0.2, seconds, runs),
                    VoiceSecondsPerCpuSecond(n, 6, 0.2, seconds, runs),
                    VoiceSecondsPerCpuSecond(n, 12, 0.5, seconds, runs));
        std::fflush(stdout);
    }
    for (const unsigned channels : {1u, 2u}) {
        const std::vector<std::int16_t> s = Tone(440, 0.5, 10 * kRate, channels);
        const double t0 = CpuSeconds();
        const LimitCurve curve(s.data(), 10 * kRate, channels, kRate);
        std::printf("Curve of a %s sound: %.1f ms per second of sound (first node %.2f)\n",
                    channels == 1 ? "mono" : "stereo", (CpuSeconds() - t0) * 100.0, curve.At(0));
    }
    return 0;
}
