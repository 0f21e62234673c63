// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer's voices and the lock-free hand-over of starts and stops. Started voices arrive
// through a multi-producer stack that the mixer empties at the start of every block into its own
// preallocated array; a voice leaves the array only by the mixer's compare-and-swap on its
// control word, so a racing Play either keeps it listed or lists it afresh, never twice. Also the
// clock while the output stands still, and the clean-up after shutdown. The block itself is
// mixed in mixer_block.cpp.
#include "audio/mixer.h"
#include "audio/mixer_control.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <thread>

using mixer_control::Generation;
using mixer_control::Pending;
using mixer_control::SlotFrame;
using mixer_control::SlotOwner;
using mixer_control::SlotValue;

namespace {

std::uint64_t PackFormat(const OutputFormat& f) {
    return static_cast<std::uint64_t>(f.nSamplesPerSec) |
           static_cast<std::uint64_t>(f.nChannels) << 32 |
           static_cast<std::uint64_t>(f.wBitsPerSample) << 48;
}

OutputFormat UnpackFormat(std::uint64_t v) {
    OutputFormat f;
    f.nSamplesPerSec = static_cast<std::uint32_t>(v);
    f.nChannels = static_cast<std::uint16_t>(v >> 32);
    f.wBitsPerSample = static_cast<std::uint16_t>(v >> 48);
    return f;
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

float GainFromLevel(std::int32_t level) {
    if (level <= -10000) {
        return 0.0f;
    }
    return static_cast<float>(std::pow(10.0, static_cast<double>(level) / 2000.0));
}

void ChannelGains(std::int32_t volume, std::int32_t pan, float* left, float* right) {
    *left = GainFromLevel(volume - std::max(pan, 0));
    *right = GainFromLevel(volume + std::min(pan, 0));
}

void MixerVoice::StoreVolume(std::int32_t volume) {
    std::uint64_t v = m_nLevels.load(std::memory_order_relaxed);
    while (!m_nLevels.compare_exchange_weak(
        v, (v & 0xFFFFFFFF00000000ull) | static_cast<std::uint32_t>(volume),
        std::memory_order_release, std::memory_order_relaxed)) {
    }
}

void MixerVoice::StorePan(std::int32_t pan) {
    std::uint64_t v = m_nLevels.load(std::memory_order_relaxed);
    while (!m_nLevels.compare_exchange_weak(
        v, (v & 0xFFFFFFFFull) | static_cast<std::uint64_t>(static_cast<std::uint32_t>(pan)) << 32,
        std::memory_order_release, std::memory_order_relaxed)) {
    }
}

void MixerVoice::StoreShape(std::uint32_t startMs, std::uint32_t endMs, std::uint32_t fadeInMs,
                            std::uint32_t fadeOutMs, float gain) {
    m_nTrimMs.store(std::uint64_t{endMs} << 32 | startMs, std::memory_order_release);
    m_nFadeMs.store(std::uint64_t{fadeOutMs} << 32 | fadeInMs, std::memory_order_release);
    m_nGainBits.store(std::bit_cast<std::uint32_t>(gain), std::memory_order_release);
}

void MixerVoice::StoreDb(std::atomic<std::uint32_t>& bits, float dB, float lo, float hi) {
    bits.store(std::bit_cast<std::uint32_t>(std::isnan(dB) ? 0.0f : std::clamp(dB, lo, hi)),
               std::memory_order_release);
    if (Boosted())
        OnBoost();
}

void MixerVoice::StoreGainDb(float dB) {
    StoreDb(m_nGainDbBits, dB, kMinGainDb, kMaxGainDb);
}

bool MixerVoice::Boosted() const {
    return GainDb() + LiveDb() > 0.0f;
}

float MixerVoice::GainDb() const {
    return std::bit_cast<float>(m_nGainDbBits.load(std::memory_order_acquire));
}

void MixerVoice::StoreLiveDb(float dB) {
    StoreDb(m_nLiveDbBits, dB, kMinLiveDb, kMaxLiveDb);
}

float MixerVoice::LiveDb() const {
    return std::bit_cast<float>(m_nLiveDbBits.load(std::memory_order_acquire));
}

void MixerVoice::LoadLevels(std::int32_t* volume, std::int32_t* pan) const {
    std::uint64_t v = m_nLevels.load(std::memory_order_acquire);
    *volume = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    *pan = static_cast<std::int32_t>(static_cast<std::uint32_t>(v >> 32));
}

MixerCore::MixerCore(OutputFormat format)
    : m_nFormat(PackFormat(format)), m_nRequested(PackFormat(format)),
      m_nClockRate(format.nSamplesPerSec), m_active(std::make_unique<MixerVoice*[]>(kMaxActive)),
      m_scratch(std::make_unique<float[]>(2 * kMaxBlock)),
      m_monitorScratch(std::make_unique<float[]>(2 * kMaxBlock)),
      m_mainOnly(std::make_unique<float[]>(2 * kMaxBlock)),
      m_monitorOnly(std::make_unique<float[]>(2 * kMaxBlock)) {}

MixerCore::~MixerCore() {
    Shutdown();
    Reap();
}

OutputFormat MixerCore::Format() const {
    return UnpackFormat(m_nFormat.load(std::memory_order_acquire));
}

void MixerCore::SetFormat(OutputFormat format) {
    m_nFormat.store(PackFormat(format), std::memory_order_release);
}

OutputFormat MixerCore::Requested() const {
    return UnpackFormat(m_nRequested.load(std::memory_order_acquire));
}

void MixerCore::SetRequested(OutputFormat format) {
    m_nRequested.store(PackFormat(format), std::memory_order_release);
}

bool MixerCore::Start(MixerVoice* voice) {
    if (IsShutdown()) {
        return false;
    }
    std::uint32_t w = voice->m_nControl.load(std::memory_order_acquire);
    std::uint32_t nw;
    do {
        nw = (w | MixerVoice::kPlaying | MixerVoice::kListed) + MixerVoice::kGenerationUnit;
    } while (!voice->m_nControl.compare_exchange_weak(w, nw, std::memory_order_acq_rel,
                                                      std::memory_order_acquire));
    if ((w & MixerVoice::kListed) == 0) {
        // We listed it, so we alone may link it into the start queue.
        voice->m_pNextQueued = m_pQueueHead.load(std::memory_order_relaxed);
        // seq_cst against Suspend: either it sees this voice queued or we see it suspended.
        while (!m_pQueueHead.compare_exchange_weak(
            voice->m_pNextQueued, voice, std::memory_order_seq_cst, std::memory_order_relaxed)) {
        }
    }
    Resume();
    return true;
}

std::uint32_t MixerCore::EmptySlots(MixerVoice* voice, std::uint16_t owner) {
    std::uint32_t emptied = 0;
    for (std::atomic<std::uint64_t>& slot : voice->m_nStartAt) {
        std::uint64_t value = slot.load(std::memory_order_seq_cst);
        while (value != 0 && (owner == kAnyOwner || SlotOwner(value) == owner)) {
            if (slot.compare_exchange_weak(value, 0, std::memory_order_seq_cst)) {
                ++emptied;
                break;
            }
        }
    }
    return emptied;
}

void MixerCore::Halt(MixerVoice* voice, std::uint16_t owner) {
    // Empty the slots before counting the stop: a mixer that read the old count and took a slot
    // first sees the new count when it commits, and one that read the new count finds the slots
    // already empty.
    const std::uint32_t cancelled = EmptySlots(voice, owner);
    voice->m_nCancels.fetch_add(1, std::memory_order_seq_cst);
    // A new generation even when nothing else changes: a mixer that read the count before the
    // line above fails its commit and reads it again.
    std::uint32_t w = voice->m_nControl.load(std::memory_order_seq_cst);
    while (!voice->m_nControl.compare_exchange_weak(
        w,
        ((w & ~MixerVoice::kPlaying) - cancelled * MixerVoice::kPendingUnit) +
            MixerVoice::kGenerationUnit,
        std::memory_order_seq_cst)) {
    }
}

void MixerCore::TakeBack(MixerVoice* voice, std::uint16_t owner) {
    const std::uint32_t emptied = EmptySlots(voice, owner);
    if (emptied != 0) {
        voice->m_nControl.fetch_sub(emptied * MixerVoice::kPendingUnit, std::memory_order_seq_cst);
    }
}

void MixerCore::FadeOut(MixerVoice* voice, std::uint16_t owner) {
    // As Halt, but what sounds keeps playing: the mixer ends it when the fade is over.
    const std::uint32_t cancelled = EmptySlots(voice, owner);
    voice->m_nCancels.fetch_add(1, std::memory_order_seq_cst);
    // The request names the generation before the word carries it, so a block that sees the new
    // generation sees the request too.
    std::uint32_t w = voice->m_nControl.load(std::memory_order_seq_cst);
    std::uint32_t nw;
    do {
        nw = (w - cancelled * MixerVoice::kPendingUnit) + MixerVoice::kGenerationUnit;
        voice->m_nFadeRequest.store(Generation(nw) | 1, std::memory_order_seq_cst);
    } while (!voice->m_nControl.compare_exchange_weak(w, nw, std::memory_order_seq_cst));
}

MixerCore::StartResult MixerCore::StartAt(MixerVoice* voice, std::uint64_t frame,
                                          std::uint16_t owner) {
    if (IsShutdown()) {
        return StartResult::kShutdown;
    }
    const std::uint64_t value = SlotValue(frame, owner);
    // Reserve a slot first: while the reservation is counted the mixer keeps the voice listed.
    std::uint32_t w = voice->m_nControl.load(std::memory_order_seq_cst);
    std::uint32_t nw;
    do {
        if (Pending(w) >= MixerVoice::kStartSlots) {
            return StartResult::kFull;
        }
        nw = (w | MixerVoice::kListed) + MixerVoice::kPendingUnit;
    } while (!voice->m_nControl.compare_exchange_weak(w, nw, std::memory_order_seq_cst));
    if ((w & MixerVoice::kListed) == 0) {
        voice->m_pNextQueued = m_pQueueHead.load(std::memory_order_relaxed);
        while (!m_pQueueHead.compare_exchange_weak(
            voice->m_pNextQueued, voice, std::memory_order_seq_cst, std::memory_order_relaxed)) {
        }
    }
    // Filled slots never outnumber the reservations of others, so a free one exists.
    for (;;) {
        for (std::atomic<std::uint64_t>& slot : voice->m_nStartAt) {
            std::uint64_t expected = 0;
            if (slot.compare_exchange_strong(expected, value, std::memory_order_seq_cst)) {
                Resume();
                return StartResult::kWaiting;
            }
        }
    }
}

bool MixerCore::Retract(MixerVoice* voice, std::uint64_t slotValue) {
    for (std::atomic<std::uint64_t>& slot : voice->m_nStartAt) {
        std::uint64_t expected = slotValue;
        if (slot.compare_exchange_strong(expected, 0, std::memory_order_seq_cst)) {
            voice->m_nControl.fetch_sub(MixerVoice::kPendingUnit, std::memory_order_seq_cst);
            return true;
        }
    }
    return false;
}

MixerCore::StartResult MixerCore::StartNext(MixerVoice* voice, std::uint64_t* frame,
                                            std::uint16_t owner) {
    for (int attempt = 0;; ++attempt) {
        const std::uint64_t at = NextBlockFrame();
        const StartResult result = StartAt(voice, at, owner);
        *frame = at;
        // Unchanged after the slot was filled: the block at `at` had not begun, and it looks at
        // the slot when it does. Otherwise take the start back and aim at the new next block;
        // when the mixer has already taken it, it began at `at` (one block later only if this
        // thread stalled for a whole block between the two lines).
        if (result != StartResult::kWaiting || NextBlockFrame() == at || attempt == 3 ||
            !Retract(voice, SlotValue(at, owner))) {
            return result;
        }
    }
}

void MixerCore::Abandon(std::unique_ptr<MixerVoice> voice) {
    std::uint32_t w = voice->m_nControl.load(std::memory_order_acquire);
    for (;;) {
        if ((w & MixerVoice::kListed) == 0) {
            voice.reset(); // the mixer does not know it: free it here
            return;
        }
        // A released buffer falls silent at once, as on the platform the program was designed
        // on: no sound may be left behind without an owner that could stop it.
        if (voice->m_nControl.compare_exchange_weak(
                w, (w | MixerVoice::kOrphan) & ~MixerVoice::kPlaying, std::memory_order_acq_rel,
                std::memory_order_acquire)) {
            break;
        }
    }
    // From here the mixer (or the clean-up after shutdown) owns it.
    voice.release();
    if (IsShutdown()) {
        ReleaseAllAfterShutdown();
    }
}

void MixerCore::PushDead(MixerVoice* voice) {
    voice->m_pNextDead = m_pDeadHead.load(std::memory_order_relaxed);
    while (!m_pDeadHead.compare_exchange_weak(voice->m_pNextDead, voice, std::memory_order_release,
                                              std::memory_order_relaxed)) {
    }
}

void MixerCore::Reap() {
    MixerVoice* v = m_pDeadHead.exchange(nullptr, std::memory_order_acquire);
    while (v != nullptr) {
        MixerVoice* next = v->m_pNextDead;
        std::unique_ptr<MixerVoice> owned(v);
        owned.reset();
        v = next;
    }
}

void MixerCore::Suspend() {
    ExpectOutput();
    m_nSuspendedNs.store(NowNs(), std::memory_order_relaxed);
    m_nFramesClaimed.store(m_nFramesMixed.load(std::memory_order_relaxed) | kSuspended,
                           std::memory_order_seq_cst);
}

std::uint64_t MixerCore::ClockWhileSuspended(std::uint64_t claimed) const {
    const auto ns = static_cast<std::uint64_t>(
        std::max<std::int64_t>(NowNs() - m_nSuspendedNs.load(std::memory_order_relaxed), 0));
    const std::uint64_t rate = m_nClockRate.load(std::memory_order_seq_cst);
    return (claimed & ~kSuspended) + ns / 1000000000 * rate + ns % 1000000000 * rate / 1000000000;
}

bool MixerCore::Latch() {
    std::uint64_t claimed = m_nFramesClaimed.load(std::memory_order_seq_cst);
    return (claimed & kSuspended) != 0 &&
           m_nFramesClaimed.compare_exchange_strong(claimed, ClockWhileSuspended(claimed),
                                                    std::memory_order_seq_cst);
}

bool MixerCore::Resume() {
    if (!Latch())
        return false;
    // Counted before the hook is read: whoever replaces it sees this call and waits for it.
    m_nHookCalls.fetch_add(1, std::memory_order_seq_cst);
    if (WakeHook hook = m_wakeHook.load(std::memory_order_seq_cst))
        hook(m_pWakeContext.load(std::memory_order_seq_cst));
    m_nHookCalls.fetch_sub(1, std::memory_order_seq_cst);
    return true;
}

void MixerCore::SetWakeHook(WakeHook hook, void* context) {
    m_wakeHook.store(nullptr, std::memory_order_seq_cst);
    while (m_nHookCalls.load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield();
    m_pWakeContext.store(context, std::memory_order_seq_cst);
    m_wakeHook.store(hook, std::memory_order_seq_cst);
}

void MixerCore::ClockRate(std::uint32_t* rate, std::uint64_t* since) const {
    for (;;) {
        const std::uint32_t seq = m_nRateSeq.load(std::memory_order_seq_cst);
        *rate = m_nClockRate.load(std::memory_order_seq_cst);
        *since = m_nRateSince.load(std::memory_order_seq_cst);
        if ((seq & 1) == 0 && m_nRateSeq.load(std::memory_order_seq_cst) == seq)
            return;
        std::this_thread::yield();
    }
}

void MixerCore::RescaleStarts(std::uint64_t since, std::uint32_t from, std::uint32_t to) {
    auto rescale = [&](MixerVoice* v) {
        for (std::atomic<std::uint64_t>& slot : v->m_nStartAt) {
            std::uint64_t value = slot.load(std::memory_order_seq_cst);
            while (value != 0 && SlotFrame(value) > since) {
                const std::uint64_t frame =
                    since + static_cast<std::uint64_t>(std::llround(
                                static_cast<double>(SlotFrame(value) - since) * to / from));
                if (slot.compare_exchange_weak(value, SlotValue(frame, SlotOwner(value)),
                                               std::memory_order_seq_cst)) {
                    break;
                }
            }
        }
    };
    for (std::size_t i = 0; i < m_nActive; ++i) {
        rescale(m_active[i]);
    }
    for (MixerVoice* v = m_pWaitingHead; v != nullptr; v = v->m_pNextQueued) {
        rescale(v);
    }
}

void MixerCore::Shutdown() {
    m_bShutdown.store(true, std::memory_order_seq_cst);
    ReleaseAllAfterShutdown();
}

void MixerCore::ReleaseAllAfterShutdown() {
    std::lock_guard<std::mutex> guard(m_shutdownLock);
    std::vector<std::unique_ptr<MixerVoice>> doomed;
    auto letGo = [&doomed](MixerVoice* v) {
        std::uint32_t old = v->m_nControl.fetch_and(~(MixerVoice::kPlaying | MixerVoice::kListed),
                                                    std::memory_order_acq_rel);
        if ((old & MixerVoice::kOrphan) != 0) {
            doomed.emplace_back(v);
        }
    };
    for (MixerVoice* v = m_pQueueHead.exchange(nullptr, std::memory_order_acquire); v != nullptr;) {
        MixerVoice* next = v->m_pNextQueued;
        letGo(v);
        v = next;
    }
    for (MixerVoice* v = m_pWaitingHead; v != nullptr;) {
        MixerVoice* next = v->m_pNextQueued;
        letGo(v);
        v = next;
    }
    m_pWaitingHead = nullptr;
    for (std::size_t i = 0; i < m_nActive; ++i) {
        letGo(m_active[i]);
    }
    m_nActive = 0;
    m_nActiveCount.store(0, std::memory_order_relaxed);
    for (MixerVoice* v = m_pDeadHead.exchange(nullptr, std::memory_order_acquire); v != nullptr;) {
        MixerVoice* next = v->m_pNextDead;
        doomed.emplace_back(v);
        v = next;
    }
}
