// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/encoded_sound.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numbers>

bool WriteEncodedSound(const std::string& utf8Path, int channels, int rate,
                       const std::vector<float>& samples) {
    const std::string ext = utf8Path.substr(utf8Path.rfind('.') + 1);
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    if (ext == "flac")
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    else if (ext == "ogg")
        info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    else if (ext == "opus")
        info.format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
    else if (ext == "mp3")
        info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    else
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(utf8Path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    // In pieces: libvorbis's encoder takes a large write on its stack.
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    bool whole = true;
    for (sf_count_t at = 0; at < frames && whole; at += 4096) {
        const sf_count_t n = std::min<sf_count_t>(4096, frames - at);
        whole = sf_writef_float(file, samples.data() + at * channels, n) == n;
    }
    return sf_close(file) == 0 && whole;
}

std::vector<float> Sines(int rate, std::size_t frames, const std::vector<double>& frequencies,
                         const std::vector<double>& amplitudes) {
    const std::size_t channels = frequencies.size();
    std::vector<float> out(frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels; ++c)
            out[i * channels + c] =
                static_cast<float>(amplitudes[c] * std::sin(2 * std::numbers::pi * frequencies[c] *
                                                            static_cast<double>(i) / rate));
    return out;
}
