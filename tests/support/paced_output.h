// The offline output pulled one period per period of wall time on a thread of its own, as a
// device would pull it, noting the frames where a marked sound begins. Tests and benchmarks of
// when sounds start share it. Given an idle time, it stops pulling and starts again as the SDL
// output does.
#pragma once

#include "audio/offline_output.h"
#include "audio/output_backend.h"
#include "audio/sound_output.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class PacedOutput {
public:
    static constexpr std::uint32_t kRate = 22050;
    static constexpr std::size_t kPeriod = 256;
    // A left sample of exactly this value marks the first frame of a sound.
    static constexpr std::int16_t kMark = 30000;

    explicit PacedOutput(std::chrono::milliseconds idleAfter = {}) : m_idleAfter(idleAfter) {
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
    // The clock when it last stopped.
    std::uint64_t StoppedAt() {
        std::lock_guard lock(m_mutex);
        return m_nStoppedAt;
    }

private:
    void Run() {
        auto next = std::chrono::steady_clock::now();
        std::vector<std::int16_t> block;
        while (m_bRun) {
            {
                std::lock_guard lock(m_mutex);
                if (m_bOpen) {
                    block.clear();
                    m_out.Render(kPeriod, block);
                    // Read after: the first block after a stop moves the clock on.
                    const std::uint64_t at = m_out.FramesRendered() - kPeriod;
                    for (std::size_t i = 0; i < kPeriod; ++i)
                        if (block[2 * i] == kMark)
                            m_onsets.push_back(at + i);
                    if (IdleFor(m_core, m_idleAfter)) {
                        m_bOpen = false;
                        ++m_nStops;
                        m_nStoppedAt = m_out.FramesRendered();
                        Doze(m_core);
                    }
                } else if (!m_core.IsSuspended()) {
                    m_bOpen = true;
                    ++m_nStarts;
                }
            }
            next += std::chrono::nanoseconds(1000000000ull * kPeriod / kRate);
            std::this_thread::sleep_until(next);
        }
    }

    OfflineSoundOutput m_out{kRate};
    MixerCore& m_core = *BackendOf(m_out.Device())->Core();
    const std::chrono::milliseconds m_idleAfter;
    std::mutex m_mutex;
    std::vector<std::uint64_t> m_onsets;
    std::uint64_t m_nStoppedAt = 0;
    bool m_bOpen = true;
    std::atomic<int> m_nStops{0};
    std::atomic<int> m_nStarts{0};
    std::atomic<int> m_nWakes{0};
    std::atomic<bool> m_bRun{true};
    std::thread m_thread;
};
