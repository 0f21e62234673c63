// SPDX-License-Identifier: GPL-3.0-or-later
// The offline output pulled one period per period of wall time on a thread of its own, as a
// device would pull it, noting the frames where a marked sound begins. Tests and benchmarks of
// when sounds start share it. Given an idle time, it stops pulling and starts again as the SDL
// output does, after `openDelay` (a device slow to open). Its device rate may change between two
// periods. A slowdown above 1 makes its clock run that many times slower than the wall's (as a
// device's may), which leaves a worker on a busy machine as much more time to hand plays over.
#pragma once

#include "audio/offline_output.h"
#include "audio/output_backend.h"
#include "audio/sound_output.h"
#include "tests/support/wait_until.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class PacedOutput {
public:
    static constexpr std::uint32_t kRate = 22050;
    static constexpr std::size_t kPeriod = 256;
    // A left sample of this value marks the first frame of a sound (found by the rise through
    // half of it, so that a mark resampled for another rate is found too).
    static constexpr std::int16_t kMark = 30000;

    explicit PacedOutput(std::chrono::milliseconds idleAfter = {},
                         std::chrono::milliseconds openDelay = {}, unsigned slowdown = 1)
        : m_idleAfter(idleAfter), m_openDelay(openDelay), m_nSlowdown(slowdown) {
        m_core.SetWakeHook([](void* self) { ++static_cast<PacedOutput*>(self)->m_nWakes; }, this);
        m_thread = std::thread([this] { Run(); });
    }
    ~PacedOutput() {
        m_bRun = false;
        m_thread.join();
        m_core.SetWakeHook(nullptr, nullptr);
    }
    PacedOutput(const PacedOutput&) = delete;
    PacedOutput& operator=(const PacedOutput&) = delete;

    OfflineSoundOutput& Output() { return m_out; }
    std::vector<std::uint64_t> Onsets() {
        std::lock_guard lock(m_mutex);
        return m_onsets;
    }
    // Times it stopped pulling, started again, and was woken by a start.
    int Stops() const { return m_nStops; }
    int Starts() const { return m_nStarts; }
    int Wakes() const { return m_nWakes; }
    // Stopped for want of sound, and no start has woken it since.
    bool Asleep() const { return m_core.IsSuspended(); }
    // Once a sound begins, pulls no frame from `frames` after its first until Release, so that a
    // test can act before a moment without racing the output to it.
    void HoldAfterNextOnset(std::uint64_t frames) {
        std::lock_guard lock(m_mutex);
        m_nHoldAfter = frames;
        m_nHoldAt.reset();
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_nHoldAfter.reset();
        m_nHoldAt.reset();
    }
    // The clock when it last stopped.
    std::uint64_t StoppedAt() {
        std::lock_guard lock(m_mutex);
        return m_nStoppedAt;
    }
    // Another device rate from the next period on; returns the frame it begins at.
    std::uint64_t SetDeviceRate(std::uint32_t rate) {
        std::lock_guard lock(m_mutex);
        m_out.SetDeviceRate(rate);
        m_nDeviceRate = rate;
        return m_out.FramesRendered();
    }

private:
    void Run() {
        auto next = std::chrono::steady_clock::now();
        std::vector<std::int16_t> block;
        while (m_bRun) {
            {
                std::lock_guard lock(m_mutex);
                const bool held = m_nHoldAt && m_out.FramesRendered() + kPeriod > *m_nHoldAt;
                if (m_bOpen && !held) {
                    block.clear();
                    m_out.Render(kPeriod, block);
                    // Read after: the first block after a stop moves the clock on.
                    const std::uint64_t at = m_out.FramesRendered() - kPeriod;
                    for (std::size_t i = 0; i < kPeriod; ++i) {
                        const bool high = block[2 * i] >= kMark / 2;
                        if (high && !m_bHigh) {
                            m_onsets.push_back(at + i);
                            if (m_nHoldAfter && !m_nHoldAt)
                                m_nHoldAt = at + i + *m_nHoldAfter;
                        }
                        m_bHigh = high;
                    }
                    if (IdleFor(m_core, m_idleAfter)) {
                        m_bOpen = false;
                        ++m_nStops;
                        m_nStoppedAt = m_out.FramesRendered();
                        Doze(m_core);
                    }
                } else if (!m_bOpen && !m_core.IsSuspended()) {
                    const auto now = std::chrono::steady_clock::now();
                    if (!m_woken)
                        m_woken = now;
                    if (now - *m_woken >= m_openDelay) {
                        m_woken.reset();
                        m_bOpen = true;
                        ++m_nStarts;
                    }
                }
            }
            next += std::chrono::nanoseconds(1000000000ull * kPeriod * m_nSlowdown / m_nDeviceRate);
            std::this_thread::sleep_until(next);
        }
    }

    OfflineSoundOutput m_out{kRate};
    MixerCore& m_core = *BackendOf(m_out.Device())->Core();
    const std::chrono::milliseconds m_idleAfter;
    const std::chrono::milliseconds m_openDelay;
    const unsigned m_nSlowdown;
    std::optional<std::chrono::steady_clock::time_point> m_woken; // the thread's own
    bool m_bHigh = false;                                         // the thread's own
    std::atomic<std::uint32_t> m_nDeviceRate{kRate};
    std::mutex m_mutex;
    std::vector<std::uint64_t> m_onsets;
    std::uint64_t m_nStoppedAt = 0;
    std::optional<std::uint64_t> m_nHoldAfter, m_nHoldAt;
    bool m_bOpen = true;
    std::atomic<int> m_nStops{0};
    std::atomic<int> m_nStarts{0};
    std::atomic<int> m_nWakes{0};
    std::atomic<bool> m_bRun{true};
    std::thread m_thread;
};
