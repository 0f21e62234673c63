// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files written by libsndfile, so that the decoding tests never depend on files we did not
// make: FLAC (16-bit), Ogg Vorbis, Ogg Opus, MP3 or 16-bit WAVE, chosen by the path's extension.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Interleaved samples, full scale 1.0. False when libsndfile refuses the format or the write.
bool WriteEncodedSound(const std::string& utf8Path, int channels, int rate,
                       const std::vector<float>& samples);

// `frames` frames of a sine per channel: channel c at frequencies[c] Hz and amplitudes[c].
std::vector<float> Sines(int rate, std::size_t frames, const std::vector<double>& frequencies,
                         const std::vector<double>& amplitudes);
