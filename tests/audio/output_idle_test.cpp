// An output that stops taking frames while nothing sounds: the offline output pulled one period
// per period of wall time while it is open, stopped and started again as the SDL output does.
#include "audio/offline_output.h"
#include "sound_output_test_util.h"

#include "audio/mixer.h"
#include "audio/output_backend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
constexpr std::uint32_t kRate = 22050;
constexpr std::size_t kPeriod = 256;
constexpr auto kIdle = 100ms;
constexpr std::int16_t kMark = 30000;

class SleepyOutput {
public:
    SleepyOutput() {
        m_core.SetWakeHook([](void* self) { ++static_cast<SleepyOutput*>(self)->m_nWakes; }, this);
        m_thread = std::thread([this] { Run(); });
    }
    ~SleepyOutput() {
        m_bRun = false;
        m_thread.join();
        m_core.SetWakeHook(nullptr, nullptr);
    }
    SleepyOutput(const SleepyOutput&) = delete;
    SleepyOutput& operator=(const SleepyOutput&) = delete;

    SoundDevicePtr Device() const { return m_out.Device(); }
    MixerCore& Core() { return m_core; }
    int Stops() const { return m_nStops; }
    int Starts() const { return m_nStarts; }
    int Wakes() const { return m_nWakes; }
    std::vector<std::uint64_t> Onsets() {
        std::lock_guard lock(m_mutex);
        return m_onsets;
    }
    // Frames mixed when the output last stopped.
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
                    // After the render: the first block after a sleep moves the clock on.
                    const std::uint64_t at = m_out.FramesRendered() - kPeriod;
                    for (std::size_t i = 0; i < kPeriod; ++i)
                        if (block[2 * i] == kMark)
                            m_onsets.push_back(at + i);
                    if (IdleFor(m_core, kIdle)) {
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

bool WaitFor(const std::function<bool()>& condition) {
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (std::chrono::steady_clock::now() - start > 5s)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// 50 ms, its first sample marked.
SoundBufferPtr Marked(const SoundDevicePtr& device) {
    std::vector<std::int16_t> samples(kRate / 20, 1000);
    samples[0] = kMark;
    return MakeMono16(device, kRate, samples);
}

} // namespace

TEST(OutputIdle, SleepsWhenQuietAndEveryKindOfStartWakesItOnItsFrame) {
    SleepyOutput out;
    SoundBufferPtr sound = Marked(out.Device());
    ASSERT_TRUE(sound);
    ISoundBufferSchedule* schedule = QueryBufferSchedule(sound.get());
    ASSERT_NE(schedule, nullptr);
    // Each returns the frame the sound must begin on, or 0 for "the next block".
    const std::pair<const char*, std::function<std::uint64_t()>> starts[] = {
        {"Play",
         [&] {
             sound->Play(0, 0, 0);
             return std::uint64_t{0};
         }},
        {"PlayAtNextBlock",
         [&] {
             std::uint64_t frame = 0;
             schedule->PlayAtNextBlock(&frame, 1);
             return frame;
         }},
        {"PlayAtFrame 1000 frames on",
         [&] {
             const std::uint64_t frame = out.Core().NextBlockFrame() + 1000;
             schedule->PlayAtFrame(frame, 1);
             return frame;
         }},
    };
    int n = 0;
    for (const auto& [what, start] : starts) {
        SCOPED_TRACE(what);
        ++n;
        ASSERT_TRUE(WaitFor([&] { return out.Stops() == n; }));
        // Asleep, the clock runs on by the wall clock.
        const std::uint64_t before = out.Core().NextBlockFrame();
        std::this_thread::sleep_for(40ms);
        const std::uint64_t after = out.Core().NextBlockFrame();
        EXPECT_GE(after, before + kRate * 40 / 1000);
        EXPECT_LT(after, before + kRate * 400 / 1000);

        const std::uint64_t expected = start();
        ASSERT_TRUE(WaitFor([&] { return out.Onsets().size() == static_cast<std::size_t>(n); }));
        EXPECT_EQ(out.Starts(), n);
        EXPECT_EQ(out.Wakes(), n);
        const std::uint64_t onset = out.Onsets().back();
        if (expected != 0) {
            EXPECT_EQ(onset, expected);
        }
        EXPECT_GE(onset, after);
    }
    // Not while the sound plays: only the quiet after it counts.
    ASSERT_TRUE(WaitFor([&] { return out.Stops() == n + 1; }));
    EXPECT_GE(out.StoppedAt(), out.Onsets().back() + kRate / 20 + kRate * kIdle / 1000ms);
}

// A job's next play is placed from the first one's frame while the output sleeps in between:
// both land exactly that many frames apart.
TEST(OutputIdle, APlacedRepeatKeepsItsDistanceAcrossASleep) {
    SleepyOutput out;
    SoundBufferPtr sound = Marked(out.Device());
    ASSERT_TRUE(sound);
    ISoundBufferSchedule* schedule = QueryBufferSchedule(sound.get());
    ASSERT_NE(schedule, nullptr);
    ASSERT_TRUE(WaitFor([&] { return out.Stops() == 1; }));
    constexpr std::uint64_t kGap = kRate * 400 / 1000;
    std::uint64_t first = 0;
    ASSERT_EQ(schedule->PlayAtNextBlock(&first, 1), DS_OK);
    ASSERT_TRUE(WaitFor([&] { return out.Stops() == 2; }));
    // Handed over 50 ms ahead by the clock, as a worker does.
    ASSERT_TRUE(WaitFor([&] { return out.Core().NextBlockFrame() + kRate / 20 >= first + kGap; }));
    ASSERT_EQ(schedule->PlayAtFrame(first + kGap, 1), DS_OK);
    ASSERT_TRUE(WaitFor([&] { return out.Onsets().size() == 2; }));
    EXPECT_EQ(out.Onsets(), (std::vector<std::uint64_t>{first, first + kGap}));
    EXPECT_EQ(out.Starts(), 2);
}
