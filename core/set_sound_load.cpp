// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/set_sound_load.h"

#include <algorithm>
#include <unistd.h>

namespace {
constexpr int kLoadingNice = 5;
} // namespace

CSetSoundLoad::CSetSoundLoad(const EffectTable& table, const std::string& waveDir, WaveLoader load,
                             unsigned threads)
    : m_load(std::move(load)) {
    std::size_t sounds = 0;
    for (int i = 0; i < table.GetSize(); ++i)
        sounds += 1 + table.GetAt(i).options.files.size();
    m_jobs.resize(sounds);
    auto job = m_jobs.begin();
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntryPtr& entry = table.GetPtrAt(i);
        entry->extraSounds.assign(entry->options.files.size(), {});
        for (int k = 0; k <= static_cast<int>(entry->options.files.size()); ++k, ++job) {
            job->entry = entry;
            job->nSound = k;
            job->fullPath = ResolveWavePath(
                waveDir, k == 0 ? entry->strWavePath
                                : entry->options.files[static_cast<std::size_t>(k - 1)]);
        }
    }
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = std::min<unsigned>(threads, static_cast<unsigned>(m_jobs.size()));
    m_threads.reserve(threads);
    for (unsigned t = 0; t < threads; ++t)
        m_threads.emplace_back([this] { Run(); });
}

CSetSoundLoad::~CSetSoundLoad() {
    m_nNext.store(Total());
    for (std::thread& thread : m_threads)
        thread.join();
}

void CSetSoundLoad::Run() {
    // Below the window's thread and the sound's: when they wake they get a core at once, so the
    // window keeps painting on a busy machine (Linux keeps a nice value per thread).
    // Should it fail, loading at the usual priority is only less polite.
    [[maybe_unused]] const int niceness = nice(kLoadingNice);
    for (;;) {
        const int index = m_nNext.fetch_add(1);
        if (index >= Total())
            return;
        Job& job = m_jobs[static_cast<std::size_t>(index)];
        {
            ScopedMessageHold hold(job.messages);
            // A missing file is skipped without a word; stat runs here, off the window's thread.
            job.sound = LoadEffectSound(m_load, job.fullPath);
        }
        std::lock_guard guard(m_lock);
        m_nLoaded.fetch_add(1, std::memory_order_release);
        m_doneCv.notify_all();
        if (m_notify)
            m_notify();
    }
}

void CSetSoundLoad::Watch(std::function<void()> notify) {
    std::lock_guard guard(m_lock);
    m_notify = std::move(notify);
    if (m_notify)
        m_notify();
}

void CSetSoundLoad::Wait() {
    std::unique_lock lock(m_lock);
    m_doneCv.wait(lock, [this] { return IsDone(); });
}

void CSetSoundLoad::Finish() {
    Wait();
    for (Job& job : m_jobs) {
        if (job.nSound == 0) {
            job.entry->pBuffer = std::move(job.sound.pBuffer);
            job.entry->dwDataLength = job.sound.dwDataLength;
        } else {
            job.entry->extraSounds[static_cast<std::size_t>(job.nSound - 1)] = std::move(job.sound);
        }
        for (const HeldMessage& message : job.messages)
            MessageBoxA(message.text, message.caption, message.type);
    }
}
