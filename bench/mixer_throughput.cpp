// SPDX-License-Identifier: GPL-3.0-or-later
// How many voice-seconds the mixer gets through per CPU-second, beside OpenAL Soft's loopback
// device doing the same work with its default configuration. Prints figures; asserts nothing.
//
//   mixer_throughput [seconds-per-run=1] [runs=5]
#include "audio/offline_output.h"
#include "audio/sound_output.h"
#include "bench/bench_timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numbers>
#include <string>
#include <vector>

#ifdef OTOMARU_HAVE_OPENAL
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#endif

namespace {

// What the program mixes at on most devices, in the period it asks SDL for.
constexpr std::uint32_t kOutputRate = 48000;
constexpr std::size_t kBlock = 256;

struct Kind {
    const char* name;
    std::uint16_t channels;
    std::uint32_t rate;
    double seconds; // source length
};

// A different tone per voice, so that no two voices carry the same data.
std::vector<std::int16_t> Source(const Kind& k, int voice) {
    const std::size_t frames = static_cast<std::size_t>(k.rate * k.seconds);
    std::vector<std::int16_t> s(frames * k.channels);
    const double hz = 110.0 + 7.0 * voice;
    for (std::size_t i = 0; i < frames; ++i) {
        double v = 0.2 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / k.rate);
        for (std::uint16_t c = 0; c < k.channels; ++c) {
            s[i * k.channels + c] =
                static_cast<std::int16_t>(std::lround(v * 32767 * (c ? -1 : 1)));
        }
    }
    return s;
}

struct Result {
    double voiceSecondsPerCpuSecond = 0;
};

Result RunOurs(const Kind& k, int voices, double seconds, int runs) {
    Result r;
    OfflineSoundOutput out(kOutputRate);
    std::vector<SoundBufferPtr> buffers;
    for (int v = 0; v < voices; ++v) {
        std::vector<std::int16_t> samples = Source(k, v);
        WAVEFORMATEX f{};
        f.wFormatTag = WAVE_FORMAT_PCM;
        f.nChannels = k.channels;
        f.nSamplesPerSec = k.rate;
        f.wBitsPerSample = 16;
        f.nBlockAlign = static_cast<std::uint16_t>(2 * k.channels);
        f.nAvgBytesPerSec = f.nBlockAlign * k.rate;
        DSBUFFERDESC d;
        d.dwFlags = 360672;
        d.dwBufferBytes = static_cast<std::uint32_t>(samples.size() * 2);
        d.lpwfxFormat = &f;
        SoundBufferPtr b;
        if (out.Device()->CreateSoundBuffer(&d, &b, nullptr) != DS_OK) {
            std::fprintf(stderr, "CreateSoundBuffer failed\n");
            std::exit(1);
        }
        void* p1 = nullptr;
        void* p2 = nullptr;
        std::uint32_t n1 = 0;
        std::uint32_t n2 = 0;
        b->Lock(0, d.dwBufferBytes, &p1, &n1, &p2, &n2, 0);
        std::memcpy(p1, samples.data(), n1);
        b->Unlock(p1, n1, p2, n2);
        b->SetVolume(-(v % 13) * 100);
        b->SetPan((v % 21 - 10) * 500);
        // Different start positions.
        b->SetCurrentPosition((static_cast<std::uint32_t>(v) * 997u % (d.dwBufferBytes / 2)) * 2 /
                              f.nBlockAlign * f.nBlockAlign);
        b->Play(0, 0, 0);
        buffers.push_back(std::move(b));
    }
    std::vector<std::int16_t> block;
    block.reserve(2 * kBlock);
    const std::size_t blocks = static_cast<std::size_t>(seconds * kOutputRate / kBlock);
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        double t0 = CpuSeconds();
        for (std::size_t i = 0; i < blocks; ++i) {
            block.clear();
            out.Render(kBlock, block);
            // Keep every voice sounding: a voice that reached its end starts again.
            for (auto& b : buffers) {
                std::uint32_t status = 0;
                b->GetStatus(&status);
                if (status == 0) {
                    b->Play(0, 0, 0);
                }
            }
        }
        best = std::min(best, CpuSeconds() - t0);
    }
    r.voiceSecondsPerCpuSecond = voices * static_cast<double>(blocks * kBlock) / kOutputRate / best;
    return r;
}

#ifdef OTOMARU_HAVE_OPENAL
// 0 when OpenAL Soft cannot give that many sources.
double RunOpenAl(const Kind& k, int voices, double seconds, int runs, int* gotSources) {
    *gotSources = 0;
    auto openDevice = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(
        alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
    auto render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(
        alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
    if (openDevice == nullptr || render == nullptr) {
        return 0;
    }
    ALCdevice* device = openDevice(nullptr);
    if (device == nullptr) {
        return 0;
    }
    const ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT,
                            ALC_STEREO_SOFT,
                            ALC_FORMAT_TYPE_SOFT,
                            ALC_SHORT_SOFT,
                            ALC_FREQUENCY,
                            static_cast<ALCint>(kOutputRate),
                            ALC_MONO_SOURCES,
                            k.channels == 1 ? voices : 0,
                            ALC_STEREO_SOURCES,
                            k.channels == 2 ? voices : 0,
                            0};
    ALCcontext* context = alcCreateContext(device, attrs);
    alcMakeContextCurrent(context);
    std::vector<ALuint> buffers(static_cast<std::size_t>(voices));
    std::vector<ALuint> sources(static_cast<std::size_t>(voices));
    alGenBuffers(voices, buffers.data());
    int made = 0;
    for (int v = 0; v < voices; ++v) {
        alGetError();
        alGenSources(1, &sources[static_cast<std::size_t>(v)]);
        if (alGetError() != AL_NO_ERROR) {
            break;
        }
        ++made;
    }
    *gotSources = made;
    double result = 0;
    if (made == voices) {
        for (int v = 0; v < voices; ++v) {
            std::vector<std::int16_t> samples = Source(k, v);
            ALuint b = buffers[static_cast<std::size_t>(v)];
            ALuint s = sources[static_cast<std::size_t>(v)];
            alBufferData(b, k.channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16, samples.data(),
                         static_cast<ALsizei>(samples.size() * 2), static_cast<ALsizei>(k.rate));
            alSourcei(s, AL_BUFFER, static_cast<ALint>(b));
            alSourcei(s, AL_LOOPING, AL_TRUE);
            alSourcei(s, AL_SOURCE_RELATIVE, AL_TRUE);
            alSourcef(s, AL_GAIN, std::pow(10.0f, -static_cast<float>(v % 13) / 20.0f));
            float pan = static_cast<float>(v % 21 - 10) / 10.0f;
            alSource3f(s, AL_POSITION, pan, 0.0f, -std::sqrt(1.0f - pan * pan));
            alSourcei(s, AL_SAMPLE_OFFSET,
                      static_cast<ALint>(static_cast<std::size_t>(v) * 997u %
                                         (samples.size() / k.channels)));
            alSourcePlay(s);
        }
        std::vector<std::int16_t> block(2 * kBlock);
        const std::size_t blocks = static_cast<std::size_t>(seconds * kOutputRate / kBlock);
        double best = 1e30;
        for (int run = 0; run < runs; ++run) {
            double t0 = CpuSeconds();
            for (std::size_t i = 0; i < blocks; ++i) {
                render(device, block.data(), kBlock);
            }
            best = std::min(best, CpuSeconds() - t0);
        }
        result = voices * static_cast<double>(blocks * kBlock) / kOutputRate / best;
    }
    alDeleteSources(made, sources.data());
    alDeleteBuffers(voices, buffers.data());
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(context);
    alcCloseDevice(device);
    return result;
}
#endif

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const Kind kinds[] = {{"mono 16-bit 48000 Hz", 1, 48000, 1.0},
                          {"stereo 16-bit 44100 Hz (resampled)", 2, 44100, 0.5}};
    const int counts[] = {1, 16, 64, 256, 1024};
    std::printf("Output: %u Hz stereo 16-bit, %zu-frame blocks, %.2f s per run, best of %d "
                "(CPU time)\n",
                kOutputRate, kBlock, seconds, runs);
#ifndef OTOMARU_HAVE_OPENAL
    std::printf("OpenAL Soft not found at build time: no comparison.\n");
#endif
    for (const Kind& k : kinds) {
        std::printf("\n%s sources\n", k.name);
        std::printf("%6s %16s %16s %8s\n", "voices", "ours (vs/cpu-s)", "OpenAL (vs/cpu-s)",
                    "ratio");
        for (int n : counts) {
            Result ours = RunOurs(k, n, seconds, runs);
            double al = 0;
            int gotSources = 0;
#ifdef OTOMARU_HAVE_OPENAL
            al = RunOpenAl(k, n, seconds, runs, &gotSources);
#endif
            if (al > 0) {
                std::printf("%6d %16.0f %16.0f %7.1fx\n", n, ours.voiceSecondsPerCpuSecond, al,
                            ours.voiceSecondsPerCpuSecond / al);
            } else {
                std::printf("%6d %16.0f %16s %8s", n, ours.voiceSecondsPerCpuSecond, "-", "-");
#ifdef OTOMARU_HAVE_OPENAL
                std::printf("  (OpenAL Soft gave %d sources)", gotSources);
#endif
                std::printf("\n");
            }
            std::fflush(stdout);
        }
    }
    return 0;
}
