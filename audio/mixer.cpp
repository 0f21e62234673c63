// The mixing loop and the lock-free hand-over of voices. Started voices arrive through a
// multi-producer stack that the mixer empties at the start of every block into its own
// preallocated array; a voice leaves the array only by the mixer's compare-and-swap on its
// control word, so a racing Play either keeps it listed or lists it afresh, never twice.
#include "audio/mixer.h"

#include "audio/cpu_dispatch.h"
#include "audio/sample_format.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <thread>

namespace {

constexpr std::uint32_t kFlagBits =
    MixerVoice::kPlaying | MixerVoice::kListed | MixerVoice::kOrphan | MixerVoice::kPendingMask;

std::uint32_t Pending(std::uint32_t control) {
    return (control & MixerVoice::kPendingMask) / MixerVoice::kPendingUnit;
}

std::uint32_t Generation(std::uint32_t control) {
    return control & ~kFlagBits;
}

// A start slot holds frame + 1 below the owner, so that 0 stays "free".
constexpr unsigned kOwnerShift = 48;
constexpr std::uint64_t kFrameMask = (std::uint64_t{1} << kOwnerShift) - 1;

std::uint64_t SlotValue(std::uint64_t frame, std::uint16_t owner) {
    return std::uint64_t{owner} << kOwnerShift | (std::min(frame, kFrameMask - 1) + 1);
}

std::uint64_t SlotFrame(std::uint64_t value) {
    return (value & kFrameMask) - 1;
}

std::uint16_t SlotOwner(std::uint64_t value) {
    return static_cast<std::uint16_t>(value >> kOwnerShift);
}

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

std::uint32_t MsToFrames(std::uint64_t ms, std::uint32_t rate) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        (ms * rate + 500) / 1000, std::numeric_limits<std::uint32_t>::max()));
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

void MixerVoice::LoadLevels(std::int32_t* volume, std::int32_t* pan) const {
    std::uint64_t v = m_nLevels.load(std::memory_order_acquire);
    *volume = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    *pan = static_cast<std::int32_t>(static_cast<std::uint32_t>(v >> 32));
}

MixerCore::MixerCore(OutputFormat format)
    : m_nFormat(PackFormat(format)), m_nRequested(PackFormat(format)),
      m_nClockRate(format.nSamplesPerSec), m_active(std::make_unique<MixerVoice*[]>(kMaxActive)),
      m_scratch(std::make_unique<float[]>(2 * kMaxBlock)) {}

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

void MixerCore::Admit(MixerVoice* voice) {
    voice->m_nPos = voice->m_nRestPosition.load(std::memory_order_acquire);
    voice->m_nFrac = 0;
    voice->m_nCachedLevels = ~0ull;
    voice->m_nFadeLeft = 0;
    voice->m_nStartedAtFrame.store(m_nFramesMixed.load(std::memory_order_relaxed),
                                   std::memory_order_release);
    m_active[m_nActive++] = voice;
}

bool MixerCore::TryRelease(MixerVoice* voice, std::uint32_t control) {
    voice->m_nRestPosition.store(voice->m_nPos, std::memory_order_release);
    std::uint32_t w = control;
    while ((w & MixerVoice::kPlaying) == 0 && Pending(w) == 0) {
        if (voice->m_nControl.compare_exchange_weak(w, w & ~MixerVoice::kListed,
                                                    std::memory_order_acq_rel,
                                                    std::memory_order_acquire)) {
            // Not ours to touch any more unless its owner is gone.
            if ((w & MixerVoice::kOrphan) != 0) {
                PushDead(voice);
            }
            return true;
        }
    }
    return false;
}

void MixerCore::MixFloat(float* out, std::size_t frames) {
    if (IsShutdown()) {
        std::fill(out, out + 2 * frames, 0.0f);
        return;
    }
    while (frames > 0) {
        std::size_t n = std::min(frames, kMaxBlock);
        m_nBlockFrames.store(n, std::memory_order_relaxed);
        MixBlock(out, n);
        out += 2 * n;
        frames -= n;
    }
}

namespace {

// Round half to even without a library call, so that the loop vectorises: adding and taking away
// 1.5 * 2^23 leaves the nearest integer for |x| < 2^22 (the value is clipped first).
constexpr float kRoundMagic = 12582912.0f;

void ToU8(const float* __restrict in, std::uint8_t* __restrict out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        float v = std::min(std::max(in[i] * 128.0f, -128.0f), 127.0f);
        out[i] = static_cast<std::uint8_t>(static_cast<int>((v + kRoundMagic) - kRoundMagic) + 128);
    }
}

} // namespace

void MixerCore::MixOutput(void* out, std::size_t frames) {
    const OutputFormat format = Format();
    auto* bytes = static_cast<std::uint8_t*>(out);
    const std::size_t sampleBytes = format.wBitsPerSample == 8 ? 1 : 2;
    const std::size_t channels = format.nChannels == 1 ? 1 : 2;
    float* mix = m_scratch.get();
    while (frames > 0) {
        std::size_t n = std::min(frames, kMaxBlock);
        MixFloat(mix, n);
        if (channels == 1) {
            for (std::size_t i = 0; i < n; ++i) {
                mix[i] = (mix[2 * i] + mix[2 * i + 1]) * 0.5f;
            }
        }
        const std::size_t samples = n * channels;
        if (sampleBytes == 1) {
            ToU8(mix, bytes, samples);
        } else {
            std::int16_t converted[2 * kMaxBlock];
            FloatsToS16(mix, samples, converted);
            std::memcpy(bytes, converted, samples * sizeof(std::int16_t));
        }
        bytes += samples * sampleBytes;
        frames -= n;
    }
}

namespace {

OTOMARU_SIMD_CLONES
void MixMono(float* __restrict out, const std::int16_t* __restrict in, std::size_t n, float gl,
             float gr) {
    for (std::size_t j = 0; j < n; ++j) {
        float s = static_cast<float>(in[j]);
        out[2 * j] += s * gl;
        out[2 * j + 1] += s * gr;
    }
}

OTOMARU_SIMD_CLONES
void MixStereo(float* __restrict out, const std::int16_t* __restrict in, std::size_t n, float gl,
               float gr) {
    for (std::size_t j = 0; j < n; ++j) {
        out[2 * j] += static_cast<float>(in[2 * j]) * gl;
        out[2 * j + 1] += static_cast<float>(in[2 * j + 1]) * gr;
    }
}

// Fade curve: half a cosine, 0 at t = 0 and 1 at t = 1, flat at both ends (no corner heard).
float FadeGain(std::uint32_t k, std::uint32_t n) {
    return 0.5f - 0.5f * std::cos(std::numbers::pi_v<float> * static_cast<float>(k) /
                                  static_cast<float>(n));
}

} // namespace

// Mixes up to `frames` frames of the voice from its position, inside its trim, with its fades;
// false once it has played to its end or its fade-out is over (or has nothing to play).
bool MixerCore::MixSpan(MixerVoice* v, const PreparedSound* p, const Span& span, float* out,
                        std::size_t frames) {
    if (p == nullptr) {
        return false;
    }
    const std::uint32_t end = span.nEnd != 0 ? std::min(span.nEnd, p->nFrames) : p->nFrames;
    v->m_nPos = std::max(v->m_nPos, span.nStart);
    if (v->m_nPos >= end) {
        return false;
    }
    const float gl = v->m_fGainL * span.fGain * (1.0f / 32768.0f);
    const float gr = v->m_fGainR * span.fGain * (1.0f / 32768.0f);
    std::size_t n = std::min<std::size_t>(frames, end - v->m_nPos);
    if (v->m_nFadeLeft != 0) {
        n = std::min<std::size_t>(n, v->m_nFadeLeft);
    }
    const std::uint32_t intoSound = v->m_nPos - span.nStart;
    if (p->pData == nullptr) {
        // silence: only the position moves
    } else if (intoSound >= span.nFadeIn && v->m_nFadeLeft == 0) {
        if (p->nChannels == 1) {
            MixMono(out, p->pData + v->m_nPos, n, gl, gr);
        } else {
            MixStereo(out, p->pData + 2 * static_cast<std::size_t>(v->m_nPos), n, gl, gr);
        }
    } else {
        // Inside a fade: a gain for every frame.
        const std::uint32_t channels = p->nChannels == 1 ? 1 : 2;
        const std::int16_t* in = p->pData + channels * static_cast<std::size_t>(v->m_nPos);
        for (std::size_t j = 0; j < n; ++j) {
            float g = 1.0f;
            const std::uint32_t k = intoSound + static_cast<std::uint32_t>(j);
            if (k < span.nFadeIn) {
                g = FadeGain(k, span.nFadeIn);
            }
            if (v->m_nFadeLeft != 0) {
                g *= FadeGain(v->m_nFadeLeft - static_cast<std::uint32_t>(j), v->m_nFadeFrames);
            }
            const float l = static_cast<float>(in[channels * j]);
            const float r = static_cast<float>(in[channels * j + channels - 1]);
            out[2 * j] += l * gl * g;
            out[2 * j + 1] += r * gr * g;
        }
    }
    v->m_nPos += static_cast<std::uint32_t>(n);
    if (v->m_nFadeLeft != 0) {
        v->m_nFadeLeft -= static_cast<std::uint32_t>(n);
        if (v->m_nFadeLeft == 0) {
            return false;
        }
    }
    return v->m_nPos < end;
}

bool MixerCore::MixSpanStretched(MixerVoice* v, const PreparedSound* p, float* out,
                                 std::size_t frames, std::uint32_t rate) {
    if (p == nullptr || v->m_nPos >= p->nFrames) {
        return false;
    }
    const float gl = v->m_fGainL * (1.0f / 32768.0f);
    const float gr = v->m_fGainR * (1.0f / 32768.0f);
    // Positions in 32.32 fixed point, in frames of the preparation.
    const std::uint64_t step = (std::uint64_t{p->nOutputRate} << 32) / rate;
    const std::uint64_t end = std::uint64_t{p->nFrames} << 32;
    std::uint64_t pos = std::uint64_t{v->m_nPos} << 32 | v->m_nFrac;
    const std::size_t ch = p->nChannels == 1 ? 1 : 2;
    const std::int16_t* d = p->pData;
    for (std::size_t j = 0; j < frames && pos < end; ++j, pos += step) {
        if (d == nullptr) {
            continue;
        }
        const std::size_t i = static_cast<std::size_t>(pos >> 32);
        const std::size_t k = std::min<std::size_t>(i + 1, p->nFrames - 1);
        const float t = static_cast<float>(pos & 0xFFFFFFFFu) * (1.0f / 4294967296.0f);
        const float l = d[i * ch] + (d[k * ch] - d[i * ch]) * t;
        const float r = ch == 1 ? l : d[i * ch + 1] + (d[k * ch + 1] - d[i * ch + 1]) * t;
        out[2 * j] += l * gl;
        out[2 * j + 1] += r * gr;
    }
    v->m_nPos = static_cast<std::uint32_t>(std::min(pos, end) >> 32);
    v->m_nFrac = pos < end ? static_cast<std::uint32_t>(pos) : 0;
    return pos < end;
}

// With hundreds of voices the hardware prefetcher loses track of the streams: ask for the next
// voice's samples while this one is mixed.
void MixerCore::PrefetchBlock(const MixerVoice* voice, std::size_t frames) {
    const PreparedSound* p = voice->m_pPrepared.load(std::memory_order_relaxed);
    if (p == nullptr || p->pData == nullptr || voice->m_nPos >= p->nFrames) {
        return;
    }
    const auto* from = reinterpret_cast<const char*>(p->pData + voice->m_nPos * p->nChannels);
    const std::size_t bytes =
        std::min<std::size_t>(frames, p->nFrames - voice->m_nPos) * p->nChannels * 2;
    for (std::size_t at = 0; at < bytes; at += 64) {
        __builtin_prefetch(from + at);
    }
}

void MixerCore::MixBlock(float* out, std::size_t frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    const std::uint32_t rate = Format().nSamplesPerSec;
    // After a suspension the mix goes on from the frame the clock was latched on.
    Latch();
    std::uint64_t blockStart = m_nFramesMixed.load(std::memory_order_relaxed);
    if (const std::uint64_t latched = m_nFramesClaimed.load(std::memory_order_seq_cst);
        latched > blockStart) {
        blockStart = latched;
        m_nFramesMixed.store(blockStart, std::memory_order_release);
    }
    // Before any start is looked at: a starting thread that still reads the old value has filled
    // its slot before this store, so this block sees the slot (see StartNext).
    m_nFramesClaimed.store(blockStart + frames, std::memory_order_seq_cst);

    // Newly started voices, oldest first; those without a free slot wait in line.
    MixerVoice* fresh = m_pQueueHead.exchange(nullptr, std::memory_order_seq_cst);
    MixerVoice* ordered = nullptr;
    while (fresh != nullptr) {
        MixerVoice* next = fresh->m_pNextQueued;
        fresh->m_pNextQueued = ordered;
        ordered = fresh;
        fresh = next;
    }
    if (ordered != nullptr) {
        MixerVoice** tail = &m_pWaitingHead;
        while (*tail != nullptr) {
            tail = &(*tail)->m_pNextQueued;
        }
        *tail = ordered;
    }
    while (m_pWaitingHead != nullptr && m_nActive < kMaxActive) {
        MixerVoice* v = m_pWaitingHead;
        m_pWaitingHead = v->m_pNextQueued;
        Admit(v);
    }
    if (m_bExpected.load(std::memory_order_relaxed)) {
        m_bExpected.store(false, std::memory_order_seq_cst);
    }
    if (const std::uint32_t was = m_nClockRate.load(std::memory_order_relaxed); rate != was) {
        // Published first: a worker that reads the new rate finds its waiting starts moved.
        m_nRateSeq.fetch_add(1, std::memory_order_seq_cst);
        m_nClockRate.store(rate, std::memory_order_seq_cst);
        m_nRateSince.store(blockStart, std::memory_order_seq_cst);
        m_nRateSeq.fetch_add(1, std::memory_order_seq_cst);
        if (was != 0 && rate != 0) {
            RescaleStarts(blockStart, was, rate);
        }
    }
    if (m_nActive != 0) {
        m_nLastSounding.store(blockStart + frames, std::memory_order_relaxed);
    }

    std::size_t i = 0;
    while (i < m_nActive) {
        MixerVoice* v = m_active[i];
        std::uint32_t w = v->m_nControl.load(std::memory_order_seq_cst);
        const PreparedSound* p = v->m_pPrepared.load(std::memory_order_acquire);
        std::int64_t request = v->m_nPositionRequest.load(std::memory_order_relaxed);
        if (request >= 0) { // the common case reads without a locked instruction
            request = v->m_nPositionRequest.exchange(-1, std::memory_order_acq_rel);
        }
        if (p != nullptr && p->nOutputRate != v->m_nMixedRate) {
            // Prepared again for another rate: the same moment of the sound in the new frames.
            if (v->m_nMixedRate != 0) {
                const double at =
                    (v->m_nPos + v->m_nFrac * 0x1p-32) * p->nOutputRate / v->m_nMixedRate;
                const double whole = std::floor(at);
                const bool past = whole >= p->nFrames;
                v->m_nPos = past ? p->nFrames : static_cast<std::uint32_t>(whole);
                v->m_nFrac = past ? 0 : static_cast<std::uint32_t>((at - whole) * 0x1p32);
            }
            v->m_nMixedRate = p->nOutputRate;
        }
        if (request >= 0 && p != nullptr) {
            std::uint64_t frame = static_cast<std::uint64_t>(request);
            if (p->nSourceRate != p->nOutputRate && p->nSourceRate != 0) {
                frame = frame * p->nOutputRate / p->nSourceRate;
            }
            v->m_nPos = static_cast<std::uint32_t>(std::min<std::uint64_t>(frame, p->nFrames));
            v->m_nFrac = 0;
        }
        if (Pending(w) != 0 && (w & MixerVoice::kOrphan) != 0) {
            Halt(v); // nobody is left to hear the starts it was waiting for
            w = v->m_nControl.load(std::memory_order_seq_cst);
        }
        const bool wasPlaying = (w & MixerVoice::kPlaying) != 0;
        const std::uint64_t trim = v->m_nTrimMs.load(std::memory_order_acquire);
        const std::uint64_t fades = v->m_nFadeMs.load(std::memory_order_acquire);
        const Span span{MsToFrames(trim & 0xFFFFFFFF, rate), MsToFrames(trim >> 32, rate),
                        MsToFrames(fades & 0xFFFFFFFF, rate),
                        std::bit_cast<float>(v->m_nGainBits.load(std::memory_order_acquire))};
        // At each new generation: a fade-out asked in it begins here (a fade under way goes on);
        // a Play or a Stop made it otherwise, which ends a fade.
        const std::uint32_t generationMark = Generation(w) | 1;
        if (v->m_nFadeHandled != generationMark) {
            v->m_nFadeHandled = generationMark;
            if (v->m_nFadeRequest.load(std::memory_order_seq_cst) != generationMark) {
                v->m_nFadeLeft = 0;
            } else if (wasPlaying && v->m_nFadeLeft == 0) {
                v->m_nFadeFrames = std::max<std::uint32_t>(1, MsToFrames(fades >> 32, rate));
                v->m_nFadeLeft = v->m_nFadeFrames;
            }
        }
        std::uint32_t begins[MixerVoice::kStartSlots];
        const std::size_t nBegins =
            Pending(w) != 0 ? TakeStarts(v, blockStart, frames, begins, w) : 0;
        if (!wasPlaying && nBegins == 0) {
            if (TryRelease(v, w)) {
                m_active[i] = m_active[--m_nActive];
                continue;
            }
            w = v->m_nControl.load(std::memory_order_seq_cst);
            if ((w & MixerVoice::kPlaying) == 0) {
                ++i; // silent until a start at a later frame
                continue;
            }
        }
        if (i + 1 < m_nActive) {
            PrefetchBlock(m_active[i + 1], frames);
        }
        if (p != nullptr) {
            std::uint64_t levels = v->m_nLevels.load(std::memory_order_acquire);
            if (levels != v->m_nCachedLevels) {
                v->m_nCachedLevels = levels;
                std::int32_t volume = static_cast<std::int32_t>(static_cast<std::uint32_t>(levels));
                std::int32_t pan =
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(levels >> 32));
                ChannelGains(volume, pan, &v->m_fGainL, &v->m_fGainR);
            }
        }
        // What it plays up to its first start in this block, then from the beginning at each.
        const bool stretched = p != nullptr && p->nOutputRate != rate && rate != 0;
        // While a sound waits for its preparation at a new rate it plays untrimmed and unfaded,
        // and a commanded stop cuts it.
        auto mix = [&](std::size_t from, std::size_t n) {
            if (stretched) {
                return v->m_nFadeLeft == 0 && MixSpanStretched(v, p, out + 2 * from, n, rate);
            }
            return MixSpan(v, p, span, out + 2 * from, n);
        };
        bool sounding = wasPlaying || nBegins == 0;
        std::size_t at = 0;
        for (std::size_t b = 0; b < nBegins; ++b) {
            if (sounding) {
                sounding = mix(at, begins[b] - at);
            }
            at = begins[b];
            v->m_nPos = 0;
            v->m_nFrac = 0;
            v->m_nFadeLeft = 0;
            sounding = true;
        }
        if (sounding) {
            sounding = mix(at, frames - at);
        }
        if (sounding) {
            ++i;
            continue;
        }
        // Played to its end: back to the start, and let go unless a fresh Play came meanwhile
        // or a start at a later frame waits.
        v->m_nPos = 0;
        v->m_nFrac = 0;
        v->m_nFadeLeft = 0;
        v->m_nRestPosition.store(0, std::memory_order_release);
        const std::uint32_t generation = Generation(w);
        bool removed = false;
        for (;;) {
            if ((w & MixerVoice::kPlaying) != 0 && Generation(w) != generation) {
                break;
            }
            const bool waits = Pending(w) != 0;
            const std::uint32_t cleared =
                waits ? MixerVoice::kPlaying : MixerVoice::kPlaying | MixerVoice::kListed;
            if (v->m_nControl.compare_exchange_weak(w, w & ~cleared, std::memory_order_seq_cst)) {
                if (!waits && (w & MixerVoice::kOrphan) != 0) {
                    PushDead(v);
                }
                removed = !waits;
                break;
            }
        }
        if (removed) {
            m_active[i] = m_active[--m_nActive];
        } else {
            ++i;
        }
    }
    m_nActiveCount.store(m_nActive, std::memory_order_relaxed);
    m_nFramesMixed.fetch_add(frames, std::memory_order_acq_rel);
}

std::size_t MixerCore::TakeStarts(MixerVoice* voice, std::uint64_t blockStart, std::size_t frames,
                                  std::uint32_t* offsets, std::uint32_t& control) {
    const std::uint32_t cancels = voice->m_nCancels.load(std::memory_order_seq_cst);
    const std::uint64_t blockEnd = blockStart + frames;
    std::size_t taken = 0;
    for (std::atomic<std::uint64_t>& slot : voice->m_nStartAt) {
        std::uint64_t value = slot.load(std::memory_order_seq_cst);
        while (value != 0 && SlotFrame(value) < blockEnd) {
            if (slot.compare_exchange_weak(value, 0, std::memory_order_seq_cst)) {
                const std::uint64_t frame = SlotFrame(value);
                // Insertion sort: there are a handful at most.
                std::uint32_t offset =
                    frame <= blockStart ? 0 : static_cast<std::uint32_t>(frame - blockStart);
                std::size_t j = taken++;
                for (; j > 0 && offsets[j - 1] > offset; --j) {
                    offsets[j] = offsets[j - 1];
                }
                offsets[j] = offset;
                break;
            }
        }
    }
    if (taken == 0) {
        return 0;
    }
    // Give the reservations back; the voice plays from its first start unless a Stop came since
    // the count was read (that Stop may have missed the slots taken here) or its owner let it go.
    // Every Stop and release changes the control word, so a failed commit looks again.
    for (;;) {
        const bool stopped = voice->m_nCancels.load(std::memory_order_seq_cst) != cancels ||
                             (control & MixerVoice::kOrphan) != 0;
        std::uint32_t next = control - static_cast<std::uint32_t>(taken) * MixerVoice::kPendingUnit;
        if (!stopped) {
            next |= MixerVoice::kPlaying;
        }
        if (CommitHook hook = m_commitHook.load(std::memory_order_acquire)) {
            hook(m_pHookContext.load(std::memory_order_relaxed));
        }
        if (voice->m_nControl.compare_exchange_weak(control, next, std::memory_order_seq_cst)) {
            control = next;
            if (stopped) {
                return 0;
            }
            voice->m_nStartedAtFrame.store(blockStart + offsets[taken - 1],
                                           std::memory_order_release);
            return taken;
        }
    }
}
