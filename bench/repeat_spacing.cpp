// SPDX-License-Identifier: GPL-3.0-or-later
// How evenly repeats land in the output stream: the gap between consecutive onsets against the
// interval, for 1,000 repeats at 10 ms and 100 at 250 ms, through the offline output rendered in
// real time (one 256-frame period per period of wall time, as a sound card pulls) and through
// SDL's disk driver (the mix written to a file). Beside each, the designed way of playing (Play
// when a repeat is due), through a buffer that hides its frame schedule. Optionally with CPU
// burners running. Prints figures; asserts nothing.
//
//   repeat_spacing [offline|disk] [burner threads=0]
#include "playback/active_play_list.h"
#include "tests/support/paced_output.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kRate = PacedOutput::kRate;
constexpr std::int16_t kMark = PacedOutput::kMark;

void FindOnsets(const std::int16_t* stereo, std::size_t frames, std::uint64_t at,
                std::vector<std::uint64_t>& onsets) {
    for (std::size_t i = 0; i < frames; ++i)
        if (stereo[2 * i] == kMark)
            onsets.push_back(at + i);
}

// Forwards every operation to our buffer but offers no frame schedule: the worker then plays
// each repeat with Play when it is due, as designed.
class PlainBuffer : public IDirectSoundBuffer {
public:
    explicit PlainBuffer(SoundBufferPtr inner) : m_inner(std::move(inner)) {}
    HRESULT GetFormat(WAVEFORMATEX* f, std::uint32_t n, std::uint32_t* w) override {
        return m_inner->GetFormat(f, n, w);
    }
    HRESULT SetFormat(const WAVEFORMATEX* f) override { return m_inner->SetFormat(f); }
    HRESULT Lock(std::uint32_t o, std::uint32_t b, void** r1, std::uint32_t* b1, void** r2,
                 std::uint32_t* b2, std::uint32_t f) override {
        return m_inner->Lock(o, b, r1, b1, r2, b2, f);
    }
    HRESULT Unlock(void* r1, std::uint32_t b1, void* r2, std::uint32_t b2) override {
        return m_inner->Unlock(r1, b1, r2, b2);
    }
    HRESULT Restore() override { return m_inner->Restore(); }
    HRESULT SetPan(std::int32_t p) override { return m_inner->SetPan(p); }
    HRESULT SetVolume(std::int32_t v) override { return m_inner->SetVolume(v); }
    HRESULT GetPan(std::int32_t* p) override { return m_inner->GetPan(p); }
    HRESULT GetVolume(std::int32_t* v) override { return m_inner->GetVolume(v); }
    HRESULT SetCurrentPosition(std::uint32_t p) override { return m_inner->SetCurrentPosition(p); }
    HRESULT GetStatus(std::uint32_t* s) override { return m_inner->GetStatus(s); }
    HRESULT Play(std::uint32_t r, std::uint32_t p, std::uint32_t f) override {
        return m_inner->Play(r, p, f);
    }
    HRESULT Stop() override { return m_inner->Stop(); }

private:
    SoundBufferPtr m_inner;
};

// 2 ms whose first frame alone carries the mark.
SoundBufferPtr MarkedBuffer(const SoundDevicePtr& device) {
    constexpr std::uint32_t kFrames = kRate / 500;
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, kRate, 2 * kRate, 2, 16, 0};
    DSBUFFERDESC d;
    d.dwFlags = 360672;
    d.dwBufferBytes = 2 * kFrames;
    d.lpwfxFormat = &f;
    SoundBufferPtr b;
    if (device->CreateSoundBuffer(&d, &b, nullptr) != DS_OK)
        return nullptr;
    void* p = nullptr;
    std::uint32_t n = 0;
    b->Lock(0, d.dwBufferBytes, &p, &n, nullptr, nullptr, 0);
    std::vector<std::int16_t> s(kFrames, 1000);
    s[0] = kMark;
    std::memcpy(p, s.data(), n);
    b->Unlock(p, n, nullptr, 0);
    return b;
}

// Plays `repeats` at `interval` ms through the list and worker, and waits for "play done".
void RunJob(SoundBufferPtr buffer, std::int32_t repeats, std::int32_t interval) {
    auto entry = std::make_shared<EffectEntry>();
    entry->pBuffer = std::move(buffer);
    entry->dwDataLength = 2 * kRate / 500;
    entry->strName = "mark";
    entry->nRepeat = repeats;
    entry->nInterval = interval;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    ActivePlayList list;
    list.StartPlayback(entry, [&](const PlayJobPtr&) {
        std::lock_guard lock(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
}

std::vector<std::uint64_t> OfflineOnsets(bool scheduled, std::int32_t repeats,
                                         std::int32_t interval) {
    PacedOutput paced;
    SoundBufferPtr b = MarkedBuffer(paced.Output().Device());
    RunJob(scheduled ? b : std::make_shared<PlainBuffer>(b), repeats, interval);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return paced.Onsets();
}

std::vector<std::uint64_t> DiskOnsets(bool scheduled, std::int32_t repeats, std::int32_t interval,
                                      const std::string& file) {
    const auto opened = std::chrono::steady_clock::now();
    {
        SoundDevicePtr device;
        if (DirectSoundCreate(nullptr, &device, nullptr) != DS_OK)
            return {};
        SoundBufferPtr b = MarkedBuffer(device);
        RunJob(scheduled ? b : std::make_shared<PlainBuffer>(b), repeats, interval);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } // the device closes: SDL has written the whole mix
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    std::vector<std::uint64_t> onsets;
    FindOnsets(samples.data(), samples.size() / 2, 0, onsets);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - opened).count();
    std::printf("  (the disk driver wrote %.2f s of sound in %.2f s)\n",
                static_cast<double>(samples.size() / 2) / kRate, wall);
    return onsets;
}

void Report(const char* how, const std::vector<std::uint64_t>& onsets, std::int32_t repeats,
            std::int32_t interval) {
    const double ideal = static_cast<double>(interval) * kRate / 1000.0;
    std::vector<double> error;
    for (std::size_t i = 1; i < onsets.size(); ++i)
        error.push_back(std::fabs(static_cast<double>(onsets[i] - onsets[i - 1]) - ideal));
    if (error.empty()) {
        std::printf("  %-22s %zu onsets of %d\n", how, onsets.size(), repeats);
        return;
    }
    std::sort(error.begin(), error.end());
    const auto outside = std::count_if(error.begin(), error.end(), [](double e) { return e > 1; });
    const double us = 1e6 / kRate;
    std::printf("  %-22s %zu onsets of %d; |gap - interval|: median %.1f frames (%.0f us), "
                "99th pct %.1f (%.0f us), max %.1f (%.0f us); %ld gaps beyond 1 frame\n",
                how, onsets.size(), repeats, error[error.size() / 2], error[error.size() / 2] * us,
                error[error.size() * 99 / 100], error[error.size() * 99 / 100] * us, error.back(),
                error.back() * us, static_cast<long>(outside));
}

} // namespace

int main(int argc, char** argv) {
    const std::string output = argc > 1 ? argv[1] : "offline";
    const int burners = argc > 2 ? std::atoi(argv[2]) : 0;
    const std::string file = "/tmp/otomaru-repeat-spacing.raw";
    if (output == "disk") {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    }
    std::atomic<bool> burn{true};
    std::vector<std::thread> burning;
    for (int i = 0; i < burners; ++i)
        burning.emplace_back([&burn] {
            volatile std::uint64_t x = 0;
            while (burn.load(std::memory_order_relaxed))
                x = x + 1;
        });
    std::printf("output: %s, %d CPU burner thread(s), %u Hz, %u hardware threads\n", output.c_str(),
                burners, kRate, std::thread::hardware_concurrency());
    const std::pair<std::int32_t, std::int32_t> runs[] = {{1000, 10}, {100, 250}};
    for (const auto& [repeats, interval] : runs) {
        std::printf("%d repeats at %d ms (%.1f frames):\n", repeats, interval,
                    interval * kRate / 1000.0);
        for (bool scheduled : {true, false}) {
            const auto onsets = output == "disk" ? DiskOnsets(scheduled, repeats, interval, file)
                                                 : OfflineOnsets(scheduled, repeats, interval);
            Report(scheduled ? "on exact frames:" : "Play when due:", onsets, repeats, interval);
        }
    }
    burn = false;
    for (std::thread& t : burning)
        t.join();
    std::remove(file.c_str());
    return 0;
}
