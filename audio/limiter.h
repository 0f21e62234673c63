// SPDX-License-Identifier: GPL-3.0-or-later
// The limiter of a boosted voice, worked out once per preparation instead of in the mix: sounds
// are in memory, so the mixer can look ahead at no delay, jump anywhere in the sound and spend
// one multiply a frame. The curve is the most gain each stretch may take and stay under the
// ceiling, from the true peak (four times oversampled) seen ahead over an attack, held over a
// period of the lowest tone and let go slowly, so a steady tone gets a steady gain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class LimitCurve {
public:
    // Frames between two nodes; the gain goes in a straight line from node to node.
    static constexpr std::uint32_t kStep = 32;
    // The ceiling, a little under -1 dBTP for what the estimate of the true peak may miss.
    static constexpr float kCeilingDb = -1.2f;

    // Interleaved 16-bit samples, one or two channels.
    LimitCurve(const std::int16_t* samples, std::size_t frames, unsigned channels,
               std::uint32_t rate);

    // The most gain (on samples of full scale 1.0) at `frame`; past the end the last node.
    float At(std::uint32_t frame) const {
        const std::size_t k = frame / kStep;
        if (k + 1 >= m_nodes.size())
            return m_nodes.back();
        const float t = static_cast<float>(frame % kStep) * (1.0f / kStep);
        return m_nodes[k] + (m_nodes[k + 1] - m_nodes[k]) * t;
    }
    // The least of At over [from, from + frames).
    float Least(std::uint32_t from, std::size_t frames) const;
    // gains[j] = min(gains[j], At(from + j) * scale) for j < frames.
    void Cap(std::uint32_t from, std::size_t frames, float scale, float* gains) const;

private:
    std::vector<float> m_nodes;
};
