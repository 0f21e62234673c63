// Sample-rate conversion of whole sounds, done once when a buffer is unlocked. A Kaiser-windowed
// sinc whose cutoff sits below the lower of the two Nyquist frequencies, so that nothing above the
// output's Nyquist folds back as an audible alias (a linear interpolator lets it through).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Frames a sound of `frames` frames has at the new rate: ceil(frames * outRate / inRate).
std::size_t ResampledLength(std::size_t frames, std::uint32_t inRate, std::uint32_t outRate);

// Converts one channel. The signal is taken as silent before its first and after its last
// sample. `out` receives ResampledLength(...) samples. Equal rates copy.
void ResampleChannel(const float* in, std::size_t frames, std::uint32_t inRate,
                     std::uint32_t outRate, std::vector<float>& out);
