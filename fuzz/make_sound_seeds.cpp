// SPDX-License-Identifier: GPL-3.0-or-later
// Writes short FLAC, Ogg Vorbis, Opus and MP3 files with libsndfile itself, in the layouts the
// fuzz corpus needs beside sox's: several channel counts and rates, a little of each.
// Usage: make_sound_seeds DIR
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    struct Seed {
        const char* name;
        int format;
        int channels;
        int rate;
    };
    const Seed seeds[] = {
        {"lsf-mono.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 8000},
        {"lsf-24bit.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 44100},
        {"lsf-six.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 6, 22050},
        {"lsf-stereo.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100},
        {"lsf-mono.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 1, 16000},
        {"lsf-three.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 3, 48000},
        {"lsf-mono.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 22050},
        {"lsf-stereo.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 48000},
    };
    int failed = 0;
    for (const Seed& s : seeds) {
        SF_INFO info{};
        info.format = s.format;
        info.channels = s.channels;
        info.samplerate = s.rate;
        const std::string path = std::string(argv[1]) + "/" + s.name;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!file) {
            std::fprintf(stderr, "%s: %s\n", s.name, sf_strerror(nullptr));
            failed = 1;
            continue;
        }
        const int frames = s.rate / 50; // 20 ms
        std::vector<float> samples(static_cast<std::size_t>(frames * s.channels));
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < s.channels; ++c)
                samples[static_cast<std::size_t>(i * s.channels + c)] =
                    0.5f * std::sin(0.05f * static_cast<float>(i * (c + 1)));
        sf_writef_float(file, samples.data(), frames);
        sf_close(file);
    }
    return failed;
}
