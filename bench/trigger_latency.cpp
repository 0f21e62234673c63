// SPDX-License-Identifier: GPL-3.0-or-later
// From a Play call to the first output frame that carries the voice, offline and on SDL's dummy
// driver, and what the Play call itself costs. Prints figures; asserts nothing.
//
//   trigger_latency [trials=200]
#include "audio/mixer.h"
#include "audio/offline_output.h"
#include "audio/sound_output.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 22050;

std::uint64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

SoundBufferPtr MakeTone(const SoundDevicePtr& device, std::size_t frames) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = kRate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 2 * kRate;
    DSBUFFERDESC d;
    d.dwFlags = 360672;
    d.dwBufferBytes = static_cast<std::uint32_t>(frames * 2);
    d.lpwfxFormat = &f;
    SoundBufferPtr b;
    if (device->CreateSoundBuffer(&d, &b, nullptr) != DS_OK) {
        return nullptr;
    }
    void* p1 = nullptr;
    std::uint32_t n1 = 0;
    b->Lock(0, d.dwBufferBytes, &p1, &n1, nullptr, nullptr, 0);
    std::vector<std::int16_t> s(frames, 8000);
    std::memcpy(p1, s.data(), n1);
    b->Unlock(p1, n1, nullptr, 0);
    return b;
}

template <typename T> T Percentile(std::vector<T> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

void Offline(int trials) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = MakeTone(out.Device(), 4096);
    std::vector<std::uint64_t> playNs;
    std::vector<int> latency;
    for (int t = 0; t < trials; ++t) {
        out.Render(256); // the voice is idle and no longer listed
        // Play twice per trial: a start that lists the voice, and one on a playing voice.
        std::uint64_t t0 = NowNs();
        b->Play(0, 0, 0);
        std::uint64_t t1 = NowNs();
        b->Play(0, 0, 0);
        std::uint64_t t2 = NowNs();
        playNs.push_back(t1 - t0);
        playNs.push_back(t2 - t1);
        std::vector<std::int16_t> block = out.Render(256);
        int first = -1;
        for (std::size_t i = 0; i < block.size(); i += 2) {
            if (block[i] != 0) {
                first = static_cast<int>(i / 2);
                break;
            }
        }
        latency.push_back(first);
        b->Stop();
        b->SetCurrentPosition(0);
    }
    std::printf("offline, 256-frame blocks, %d trials\n", trials);
    std::printf("  frames from Play to the voice: median %d, max %d (0 = first frame of the next "
                "block)\n",
                Percentile(latency, 0.5), *std::max_element(latency.begin(), latency.end()));
    std::printf("  Play call: median %llu ns, 99th percentile %llu ns, max %llu ns\n",
                static_cast<unsigned long long>(Percentile(playNs, 0.5)),
                static_cast<unsigned long long>(Percentile(playNs, 0.99)),
                static_cast<unsigned long long>(*std::max_element(playNs.begin(), playNs.end())));
}

void Sdl(int trials) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    SoundDevicePtr device;
    if (DirectSoundCreate(nullptr, &device, nullptr) != DS_OK) {
        std::printf("SDL: no device opened\n");
        return;
    }
    SoundOutputInfo info;
    GetSoundOutputInfo(device, &info);
    SoundBufferPtr b = MakeTone(device, 64);
    auto* voice = dynamic_cast<MixerVoice*>(b.get());
    std::vector<std::uint64_t> frames;
    std::vector<double> wallMs;
    std::vector<std::uint64_t> playNs;
    for (int t = 0; t < trials; ++t) {
        // Let the previous start play out and leave the mixer.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const std::uint64_t before = voice->StartedAtFrame();
        GetSoundOutputInfo(device, &info);
        const std::uint64_t clock = info.nFramesMixed;
        const std::uint64_t t0 = NowNs();
        b->Play(0, 0, 0);
        playNs.push_back(NowNs() - t0);
        std::uint64_t started = before;
        while ((started = voice->StartedAtFrame()) == before && NowNs() - t0 < 2000000000ull) {
            std::this_thread::yield();
        }
        const std::uint64_t t1 = NowNs();
        frames.push_back(started - clock);
        wallMs.push_back(static_cast<double>(t1 - t0) / 1e6);
    }
    GetSoundOutputInfo(device, &info);
    std::printf("SDL driver \"%s\", %u frames per callback, %u Hz, %d trials\n",
                info.driver.c_str(), info.nPeriodFrames, info.nSamplesPerSec, trials);
    std::printf("  mixer frames between Play and the block carrying the voice: median %llu, max "
                "%llu (0 = the very next block)\n",
                static_cast<unsigned long long>(Percentile(frames, 0.5)),
                static_cast<unsigned long long>(*std::max_element(frames.begin(), frames.end())));
    std::printf("  wall time from Play until that block was mixed: median %.2f ms, max %.2f ms "
                "(one period is %.2f ms)\n",
                Percentile(wallMs, 0.5), *std::max_element(wallMs.begin(), wallMs.end()),
                1000.0 * info.nPeriodFrames / info.nSamplesPerSec);
    std::printf("  Play call: median %llu ns, 99th percentile %llu ns\n",
                static_cast<unsigned long long>(Percentile(playNs, 0.5)),
                static_cast<unsigned long long>(Percentile(playNs, 0.99)));
}

} // namespace

int main(int argc, char** argv) {
    const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    Offline(trials * 10);
    Sdl(trials);
    return 0;
}
