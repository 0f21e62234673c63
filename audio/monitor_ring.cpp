// SPDX-License-Identifier: GPL-3.0-or-later
// The rate correction is a proportional one on a smoothed fill: a fill 4 ms above the target plays
// 0.1% faster (the error in seconds over kCorrectionSeconds), at most 0.2%. Real clocks differ by
// tens of parts per million, so the fill settles a few frames from the target; the limit keeps
// any correction far below an audible pitch change.
#include "audio/monitor_ring.h"

#include "audio/mixer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

// Seconds over which a fill error is worked off, the smoothing of the fill, and the largest
// correction (0.2%, about 3.5 cents).
constexpr double kCorrectionSeconds = 4.0;
constexpr double kSmoothingSeconds = 0.5;
constexpr double kMaxCorrection = 0.002;

std::uint32_t Pack(std::int16_t l, std::int16_t r) {
    return static_cast<std::uint16_t>(l) | static_cast<std::uint32_t>(static_cast<std::uint16_t>(r))
                                               << 16;
}

std::int16_t Left(std::uint32_t f) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(f));
}
std::int16_t Right(std::uint32_t f) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(f >> 16));
}

} // namespace

MonitorRing::MonitorRing(std::size_t capacityFrames, std::uint32_t sampleRate)
    : m_nCapacity(std::bit_ceil(std::max<std::size_t>(capacityFrames, 64))),
      m_nTarget(m_nCapacity / 4), m_dRate(sampleRate),
      m_frames(std::make_unique<std::atomic<std::uint32_t>[]>(m_nCapacity)) {}

void MonitorRing::SetTarget(std::size_t frames, std::uint32_t sampleRate) {
    m_nTarget = std::min(frames, m_nCapacity / 2);
    m_dRate = sampleRate;
}

void MonitorRing::Write(const std::int16_t* stereo, std::size_t frames) {
    std::uint64_t w = m_nWrite.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < frames; ++i) {
        m_frames[(w + i) & (m_nCapacity - 1)].store(Pack(stereo[2 * i], stereo[2 * i + 1]),
                                                    std::memory_order_relaxed);
    }
    m_nWrite.store(w + frames, std::memory_order_release);
}

namespace {

void StereoFrameAt(const std::uint8_t* bytes, std::size_t i, const OutputFormat& format,
                   std::int16_t s[2]) {
    const std::size_t channels = format.nChannels == 1 ? 1 : 2;
    for (std::size_t c = 0; c < 2; ++c) {
        const std::size_t at = i * channels + std::min(c, channels - 1);
        if (format.wBitsPerSample == 8) {
            s[c] = static_cast<std::int16_t>((bytes[at] - 128) * 256);
        } else {
            std::memcpy(&s[c], bytes + 2 * at, sizeof s[c]);
        }
    }
}

} // namespace

void ToStereo16(const void* block, std::size_t frames, const OutputFormat& format,
                std::int16_t* stereo) {
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    for (std::size_t i = 0; i < frames; ++i) {
        StereoFrameAt(bytes, i, format, stereo + 2 * i);
    }
}

void MonitorRing::WriteFormat(const void* block, std::size_t frames, const OutputFormat& format) {
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    const std::uint64_t w = m_nWrite.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < frames; ++i) {
        std::int16_t s[2];
        StereoFrameAt(bytes, i, format, s);
        m_frames[(w + i) & (m_nCapacity - 1)].store(Pack(s[0], s[1]), std::memory_order_relaxed);
    }
    m_nWrite.store(w + frames, std::memory_order_release);
}

void MonitorRing::Resync() {
    const std::uint64_t w = m_nWrite.load(std::memory_order_acquire);
    m_dReadPos =
        static_cast<double>(w) - static_cast<double>(std::min<std::uint64_t>(w, m_nTarget));
    m_dFillAverage = static_cast<double>(m_nTarget);
    m_dRatio = 1.0;
    m_bStarted = true;
    m_nResyncs.fetch_add(1, std::memory_order_relaxed);
}

void MonitorRing::Restart() {
    m_dReadPos = static_cast<double>(m_nWrite.load(std::memory_order_acquire));
    m_bStarted = false;
}

bool MonitorRing::Read(std::int16_t* stereo, std::size_t frames) {
    const std::uint64_t w = m_nWrite.load(std::memory_order_acquire);
    double fill = static_cast<double>(w) - m_dReadPos;
    if (!m_bStarted) {
        // Fresh, or dry after an underrun: silence until a target's worth is there, so that one
        // late block does not turn into a string of clicks.
        if (fill < static_cast<double>(m_nTarget)) {
            std::fill(stereo, stereo + 2 * frames, std::int16_t{0});
            return false;
        }
        Resync();
        fill = static_cast<double>(w) - m_dReadPos;
    } else if (fill > static_cast<double>(m_nCapacity - frames) ||
               fill > static_cast<double>(m_nTarget * 2 + frames)) {
        // Behind by more than the ring holds, or far beyond the target after a stall: jump.
        Resync();
        fill = static_cast<double>(w) - m_dReadPos;
    }
    const double alpha = std::min(1.0, static_cast<double>(frames) / (m_dRate * kSmoothingSeconds));
    m_dFillAverage += (fill - m_dFillAverage) * alpha;
    m_dPublishedFill.store(m_dFillAverage, std::memory_order_relaxed);
    const double error =
        (m_dFillAverage - static_cast<double>(m_nTarget)) / (m_dRate * kCorrectionSeconds);
    m_dRatio = 1.0 + std::clamp(error, -kMaxCorrection, kMaxCorrection);

    std::size_t i = 0;
    for (; i < frames; ++i) {
        const double at = std::floor(m_dReadPos);
        const auto index = static_cast<std::uint64_t>(at);
        if (index + 1 >= w) {
            break;
        }
        const auto t = static_cast<float>(m_dReadPos - at);
        const std::uint32_t a = Frame(index);
        const std::uint32_t b = Frame(index + 1);
        const float l = static_cast<float>(Left(a)) + t * static_cast<float>(Left(b) - Left(a));
        const float r = static_cast<float>(Right(a)) + t * static_cast<float>(Right(b) - Right(a));
        stereo[2 * i] = static_cast<std::int16_t>(std::lrint(l));
        stereo[2 * i + 1] = static_cast<std::int16_t>(std::lrint(r));
        m_dReadPos += m_dRatio;
    }
    if (i == frames) {
        return true;
    }
    std::fill(stereo + 2 * i, stereo + 2 * frames, std::int16_t{0});
    m_bStarted = false;
    m_nUnderruns.fetch_add(1, std::memory_order_relaxed);
    return false;
}
