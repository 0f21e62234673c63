// The offline output pulled one period per period of wall time on a thread of its own, as a
// device would pull it, noting the frames where a marked sound begins. Tests and benchmarks of
// when sounds start share it.
#pragma once

#include "audio/offline_output.h"
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

    PacedOutput() : m_thread([this] { Run(); }) {}
    ~PacedOutput() {
        m_bRun = false;
        m_thread.join();
    }
    PacedOutput(const PacedOutput&) = delete;
    PacedOutput& operator=(const PacedOutput&) = delete;

    OfflineSoundOutput& Output() { return m_out; }
    std::vector<std::uint64_t> Onsets() {
        std::lock_guard lock(m_mutex);
        return m_onsets;
    }

private:
    void Run() {
        auto next = std::chrono::steady_clock::now();
        std::vector<std::int16_t> block;
        while (m_bRun) {
            {
                std::lock_guard lock(m_mutex);
                const std::uint64_t at = m_out.FramesRendered();
                block.clear();
                m_out.Render(kPeriod, block);
                for (std::size_t i = 0; i < kPeriod; ++i)
                    if (block[2 * i] == kMark)
                        m_onsets.push_back(at + i);
            }
            next += std::chrono::nanoseconds(1000000000ull * kPeriod / kRate);
            std::this_thread::sleep_until(next);
        }
    }

    OfflineSoundOutput m_out{kRate};
    std::mutex m_mutex;
    std::vector<std::uint64_t> m_onsets;
    std::atomic<bool> m_bRun{true};
    std::thread m_thread;
};
