// SPDX-License-Identifier: GPL-3.0-or-later
// What the trigger benchmarks share: the clock, the figures, the tone they play, the watch on
// the effect's buffer that notes when Play takes effect, and a client thread beside the window.
#pragma once

#include "audio/sound_output.h"
#include "bench/bench_timing.h"

#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// A second of a quiet tone, 16-bit mono at 22050 Hz.
inline void WriteTone(const std::string& path) {
    const std::uint32_t frames = 22050;
    std::vector<std::int16_t> samples(frames, 1000);
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + frames * 2);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(22050);
    u32(44100);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(frames * 2);
    out.write(reinterpret_cast<const char*>(samples.data()), frames * 2);
}

// Watches the effect's buffer from a thread of its own and notes when it starts playing.
class PlayWatch {
public:
    explicit PlayWatch(const SoundBufferPtr& buffer)
        : m_buffer(buffer), m_thread([this] { Run(); }) {}
    ~PlayWatch() {
        m_quit = true;
        m_thread.join();
    }
    void Arm() {
        m_playNs = 0;
        m_armed = true;
    }
    // The moment Play took effect. The waiter sleeps: with the watcher spinning on one of the
    // two cores, a spinning waiter would keep the playback's thread from running at all.
    std::uint64_t Wait() {
        while (m_armed)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        return m_playNs;
    }

private:
    void Run() {
        while (!m_quit) {
            // Gives the core away at once whenever the playback's thread wants it.
            std::this_thread::yield();
            if (!m_armed)
                continue;
            std::uint32_t status = 0;
            m_buffer->GetStatus(&status);
            if (status & DSBSTATUS_PLAYING) {
                m_playNs = NowNs();
                m_armed = false;
            }
        }
    }
    SoundBufferPtr m_buffer;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_armed{false};
    std::atomic<std::uint64_t> m_playNs{0};
    std::thread m_thread;
};

// Runs `work` on a thread of its own while this thread's event loop answers it.
inline void WhileServing(const std::function<void()>& work) {
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    if (!done)
        loop.exec();
    worker.join();
}
