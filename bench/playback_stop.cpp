// SPDX-License-Identifier: GPL-3.0-or-later
// How quickly playbacks stop and how exactly repeats keep time, on real threads and the real
// clock: stop latency (flag cleared -> worker's "play done"), StopAll time for 1, 16 and 256
// running jobs, and the error of the last repeat's onset against the ideal schedule. Beside
// each, the same figure for the plain approach it replaces (50 ms polling slices, relative
// sleeps), so the gain shows. Prints figures; asserts nothing.
#include "playback/active_play_list.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

// A buffer that only notes when each Play happens.
class OnsetBuffer : public IDirectSoundBuffer {
public:
    HRESULT GetFormat(WAVEFORMATEX* format, std::uint32_t, std::uint32_t*) override {
        *format = WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
        return DS_OK;
    }
    HRESULT SetFormat(const WAVEFORMATEX*) override { return DS_OK; }
    HRESULT Lock(std::uint32_t, std::uint32_t, void**, std::uint32_t*, void**, std::uint32_t*,
                 std::uint32_t) override {
        return DSERR_INVALIDCALL;
    }
    HRESULT Unlock(void*, std::uint32_t, void*, std::uint32_t) override { return DS_OK; }
    HRESULT Restore() override { return DS_OK; }
    HRESULT SetPan(std::int32_t) override { return DS_OK; }
    HRESULT SetVolume(std::int32_t) override { return DS_OK; }
    HRESULT GetPan(std::int32_t* pan) override { return *pan = 0, DS_OK; }
    HRESULT GetVolume(std::int32_t* volume) override { return *volume = 0, DS_OK; }
    HRESULT SetCurrentPosition(std::uint32_t) override { return DS_OK; }
    HRESULT GetStatus(std::uint32_t* status) override { return *status = 0, DS_OK; }
    HRESULT Play(std::uint32_t, std::uint32_t, std::uint32_t) override {
        const auto now = Clock::now();
        std::lock_guard lock(m_mutex);
        m_onsets.push_back(now);
        return DS_OK;
    }
    HRESULT Stop() override { return DS_OK; }

    std::vector<Clock::time_point> Onsets() {
        std::lock_guard lock(m_mutex);
        return m_onsets;
    }
    size_t Plays() {
        std::lock_guard lock(m_mutex);
        return m_onsets.size();
    }

private:
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_onsets;
};

EffectEntryPtr MakeEntry(std::int32_t repeat, std::int32_t interval, std::uint32_t soundMs) {
    auto entry = std::make_shared<EffectEntry>();
    entry->pBuffer = std::make_shared<OnsetBuffer>();
    entry->dwDataLength = 88200u * soundMs / 1000u;
    entry->nRepeat = repeat;
    entry->nInterval = interval;
    return entry;
}

OnsetBuffer& BufferOf(const EffectEntryPtr& entry) {
    return static_cast<OnsetBuffer&>(*entry->pBuffer);
}

void WaitForPlays(OnsetBuffer& buffer, size_t plays) {
    while (buffer.Plays() < plays)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// The window's queue, noting when each "play done" arrived.
struct DoneQueue {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::pair<PlayJobPtr, Clock::time_point>> done;

    PostPlayDone Poster() {
        return [this](PlayJobPtr job) {
            const auto now = Clock::now();
            std::lock_guard lock(mutex);
            done.emplace_back(std::move(job), now);
            cv.notify_all();
        };
    }
    std::pair<PlayJobPtr, Clock::time_point> Pop() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return !done.empty(); });
        auto front = done.front();
        done.erase(done.begin());
        return front;
    }
    void Clear() {
        std::lock_guard lock(mutex);
        done.clear();
    }
};

void PrintSpread(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("  %-44s median %8.3f ms   max %8.3f ms   (n=%zu)\n", what,
                values[values.size() / 2], values.back(), values.size());
}

void StopLatency(int runs) {
    std::printf("stop latency: flag cleared -> worker's play done\n");
    std::vector<double> ours;
    DoneQueue queue;
    ActivePlayList list;
    for (int i = 0; i < runs; ++i) {
        EffectEntryPtr entry = MakeEntry(0, -1, 50); // waits until stopped
        list.StartPlayback(entry, queue.Poster());
        WaitForPlays(BufferOf(entry), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // let it settle into its wait
        const auto cleared = Clock::now();
        list.StopSelected(0);
        auto [job, at] = queue.Pop();
        ours.push_back(Ms(at - cleared).count());
        list.OnPlayDone(job.get());
    }
    PrintSpread("condition variable (ours)", ours);

    // The approach it replaces: 50 ms sleeps between looks at the flag.
    std::vector<double> polled;
    for (int i = 0; i < std::min(runs, 40); ++i) {
        std::atomic<bool> run{true};
        Clock::time_point ended;
        std::thread worker([&] {
            while (run.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ended = Clock::now();
        });
        // Stop at a point spread over the slice, as a user would.
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + (i * 7) % 50));
        const auto cleared = Clock::now();
        run.store(false);
        worker.join();
        polled.push_back(Ms(ended - cleared).count());
    }
    PrintSpread("50 ms polling slices (replaced)", polled);
}

void StopAllTime(int jobs, int runs) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        DoneQueue queue;
        ActivePlayList list;
        std::vector<EffectEntryPtr> entries;
        for (int i = 0; i < jobs; ++i) {
            entries.push_back(MakeEntry(0, i % 2 ? -1 : 20, 50));
            list.StartPlayback(entries.back(), queue.Poster());
        }
        for (const EffectEntryPtr& entry : entries)
            WaitForPlays(BufferOf(entry), 1);
        const auto start = Clock::now();
        list.StopAll();
        times.push_back(Ms(Clock::now() - start).count());
    }
    char what[64];
    std::snprintf(what, sizeof what, "StopAll, %d running jobs", jobs);
    PrintSpread(what, times);
}

// Error of every onset against first onset + k * interval.
void PrintDrift(const char* what, const std::vector<Clock::time_point>& onsets, int interval) {
    double worst = 0;
    for (size_t k = 0; k < onsets.size(); ++k) {
        const double ideal = static_cast<double>(k) * interval;
        worst = std::max(worst, std::abs(Ms(onsets[k] - onsets[0]).count() - ideal));
    }
    const double last = Ms(onsets.back() - onsets.front()).count() -
                        static_cast<double>(onsets.size() - 1) * interval;
    std::printf("  %-44s last onset %+8.3f ms   worst onset %8.3f ms   (%zu plays)\n", what, last,
                worst, onsets.size());
}

void Drift(int plays, int interval) {
    char what[96];
    DoneQueue queue;
    ActivePlayList list;
    EffectEntryPtr entry = MakeEntry(plays, interval, 5);
    list.StartPlayback(entry, queue.Poster());
    auto [job, at] = queue.Pop();
    list.OnPlayDone(job.get());
    std::snprintf(what, sizeof what, "%d plays at %d ms (ours)", plays, interval);
    PrintDrift(what, BufferOf(entry).Onsets(), interval);

    // The approach it replaces: sleep the interval after each play.
    OnsetBuffer relative;
    for (int k = 0; k < plays; ++k) {
        relative.Play(0, 0, 0);
        if (k + 1 < plays)
            std::this_thread::sleep_for(std::chrono::milliseconds(interval));
    }
    std::snprintf(what, sizeof what, "%d plays at %d ms (relative sleeps)", plays, interval);
    PrintDrift(what, relative.Onsets(), interval);
}

} // namespace

// Runs every part, or only those named: stop, stopall, drift.
int main(int argc, char** argv) {
    auto wanted = [&](const char* part) {
        if (argc < 2)
            return true;
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], part) == 0)
                return true;
        return false;
    };
    std::printf("hardware threads: %u\n", std::thread::hardware_concurrency());
    if (wanted("stop"))
        StopLatency(200);
    if (wanted("stopall")) {
        std::printf("StopAll: flags cleared and buffers stopped, then every worker joined\n");
        StopAllTime(1, 20);
        StopAllTime(16, 20);
        StopAllTime(256, 10);
    }
    if (wanted("drift")) {
        std::printf("repeat drift: last onset against first + (n-1) * interval\n");
        Drift(100, 100);
        Drift(1000, 10);
    }
    return 0;
}
