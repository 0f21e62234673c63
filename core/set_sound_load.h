// SPDX-License-Identifier: GPL-3.0-or-later
// The sounds of a set being opened, decoded on every core while the window's thread keeps
// painting. Each effect's sound lands in its own slot and the messages its load asks for are held,
// so the result is the one a load in file order gives: the same buffers, the same messages in the
// same order, shown only once every effect has loaded.
//
// Threads: the constructor, Finish and the destructor belong to the window's thread; the loading
// threads call the loader and the watcher; Loaded, IsDone and Wait may be called from anywhere.
#pragma once

#include "base/message.h"
#include "core/set_file.h"
#include "model/effect_table.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CSetSoundLoad {
public:
    // Starts at once: every sound of the entries of `table` (read without sounds) whose file is
    // there comes from `load`, which is called from `threads` threads at once (0: one per core,
    // never more than there are sounds). Sounds are taken in file order.
    CSetSoundLoad(const EffectTable& table, const std::string& waveDir, WaveLoader load,
                  unsigned threads = 0);
    // Takes no new effect, waits for the ones under way; sounds not handed over are released.
    ~CSetSoundLoad();
    CSetSoundLoad(const CSetSoundLoad&) = delete;
    CSetSoundLoad& operator=(const CSetSoundLoad&) = delete;

    int Total() const { return static_cast<int>(m_jobs.size()); }
    int Loaded() const { return m_nLoaded.load(std::memory_order_acquire); }
    bool IsDone() const { return Loaded() == Total(); }
    unsigned ThreadCount() const { return static_cast<unsigned>(m_threads.size()); }

    // Runs `notify` once now and then on a loading thread after each effect: it wakes the
    // window's thread and must neither block nor call back into this object.
    void Watch(std::function<void()> notify);
    void Wait();
    // Once done: gives each entry its sound and shows the held messages in file order.
    void Finish();

private:
    struct Job {
        EffectEntryPtr entry;
        int nSound = 0;       // 0 the entry's own, k its k-th added sound
        std::string fullPath; // CP932
        EffectSound sound;
        std::vector<HeldMessage> messages;
    };
    void Run();

    const WaveLoader m_load;
    std::vector<Job> m_jobs; // sized once; each job is written by the one thread that took it
    std::atomic<int> m_nNext{0};
    std::atomic<int> m_nLoaded{0};
    std::mutex m_lock; // guards m_notify and pairs with m_doneCv
    std::condition_variable m_doneCv;
    std::function<void()> m_notify;
    std::vector<std::thread> m_threads;
};
