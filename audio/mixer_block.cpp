// SPDX-License-Identifier: GPL-3.0-or-later
// The mix of one block, step by step: admit the voices started since the last block, follow a new
// output rate, then for each voice carry its position across a new preparation, take a position
// request, follow a fade-out request, take the starts that fall in the block, mix up to and from
// each, and retire it once it has played to its end. Runs on the mixing thread only: no lock, no
// allocation.
#include "audio/cpu_dispatch.h"
#include "audio/mixer.h"
#include "audio/mixer_control.h"
#include "audio/sample_format.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

using mixer_control::Generation;
using mixer_control::Pending;
using mixer_control::SlotFrame;

namespace {

// A live level reaches its target over this long: no click, yet at once to the ear.
constexpr std::uint32_t kLiveRampMs = 5;

float FactorFromDb(float dB) {
    return std::pow(10.0f, dB / 20.0f);
}

std::uint32_t MsToFrames(std::uint64_t ms, std::uint32_t rate) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        (ms * rate + 500) / 1000, std::numeric_limits<std::uint32_t>::max()));
}

// Round half to even without a library call, so that the loop vectorises: adding and taking away
// 1.5 * 2^23 leaves the nearest integer for |x| < 2^22 (the value is clipped first).
constexpr float kRoundMagic = 12582912.0f;

void ToU8(const float* __restrict in, std::uint8_t* __restrict out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        float v = std::min(std::max(in[i] * 128.0f, -128.0f), 127.0f);
        out[i] = static_cast<std::uint8_t>(static_cast<int>((v + kRoundMagic) - kRoundMagic) + 128);
    }
}

OTOMARU_SIMD_CLONES
void MixMono(float* __restrict out, const std::int16_t* __restrict in, std::size_t n, float gl,
             float gr) {
    for (std::size_t j = 0; j < n; ++j) {
        float s = static_cast<float>(in[j]);
        out[2 * j] += s * gl;
        out[2 * j + 1] += s * gr;
    }
}

// The same with a gain for every frame.
OTOMARU_SIMD_CLONES
void MixMonoGains(float* __restrict out, const std::int16_t* __restrict in, std::size_t n, float gl,
                  float gr, const float* __restrict gains) {
    for (std::size_t j = 0; j < n; ++j) {
        float s = static_cast<float>(in[j]) * gains[j];
        out[2 * j] += s * gl;
        out[2 * j + 1] += s * gr;
    }
}

OTOMARU_SIMD_CLONES
void MixStereoGains(float* __restrict out, const std::int16_t* __restrict in, std::size_t n,
                    float gl, float gr, const float* __restrict gains) {
    for (std::size_t j = 0; j < n; ++j) {
        out[2 * j] += static_cast<float>(in[2 * j]) * gl * gains[j];
        out[2 * j + 1] += static_cast<float>(in[2 * j + 1]) * gr * gains[j];
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

void MixerCore::MixFloat(float* out, float* monitor, std::size_t frames) {
    if (IsShutdown()) {
        std::fill(out, out + 2 * frames, 0.0f);
        if (monitor != nullptr) {
            std::fill(monitor, monitor + 2 * frames, 0.0f);
        }
        return;
    }
    while (frames > 0) {
        std::size_t n = std::min(frames, kMaxBlock);
        m_nBlockFrames.store(n, std::memory_order_relaxed);
        MixBlock(out, monitor, n);
        out += 2 * n;
        if (monitor != nullptr) {
            monitor += 2 * n;
        }
        frames -= n;
    }
}

namespace {

// A block of the mix in the output format.
void ToOutput(float* mix, std::size_t frames, const OutputFormat& format, std::uint8_t* bytes) {
    const std::size_t channels = format.nChannels == 1 ? 1 : 2;
    if (channels == 1) {
        for (std::size_t i = 0; i < frames; ++i) {
            mix[i] = (mix[2 * i] + mix[2 * i + 1]) * 0.5f;
        }
    }
    const std::size_t samples = frames * channels;
    if (format.wBitsPerSample == 8) {
        ToU8(mix, bytes, samples);
    } else {
        std::int16_t converted[2 * MixerCore::kMaxBlock];
        FloatsToS16(mix, samples, converted);
        std::memcpy(bytes, converted, samples * sizeof(std::int16_t));
    }
}

} // namespace

void MixerCore::MixOutput(void* out, void* monitor, std::size_t frames) {
    const OutputFormat format = Format();
    auto* bytes = static_cast<std::uint8_t*>(out);
    auto* monitorBytes = static_cast<std::uint8_t*>(monitor);
    const std::size_t frameBytes =
        (format.wBitsPerSample == 8 ? 1 : 2) * (format.nChannels == 1 ? 1 : 2);
    float* mix = m_scratch.get();
    float* monitorMix = monitor != nullptr ? m_monitorScratch.get() : nullptr;
    while (frames > 0) {
        std::size_t n = std::min(frames, kMaxBlock);
        MixFloat(mix, monitorMix, n);
        ToOutput(mix, n, format, bytes);
        bytes += n * frameBytes;
        if (monitorBytes != nullptr) {
            ToOutput(monitorMix, n, format, monitorBytes);
            monitorBytes += n * frameBytes;
        }
        frames -= n;
    }
}

void MixerCore::MixBlock(float* out, float* monitor, std::size_t frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    m_bMainOnly = false;
    m_bMonitorOnly = false;
    const Block block{out, monitor, frames, Format().nSamplesPerSec, ClaimBlock(frames)};
    AdmitStarted();
    if (m_bExpected.load(std::memory_order_relaxed)) {
        m_bExpected.store(false, std::memory_order_seq_cst);
    }
    FollowRate(block);
    if (m_nActive != 0) {
        m_nLastSounding.store(block.nStart + frames, std::memory_order_relaxed);
    }
    std::size_t i = 0;
    while (i < m_nActive) {
        if (MixVoice(i, block)) {
            ++i;
        } else {
            m_active[i] = m_active[--m_nActive];
        }
    }
    // The monitor hears what both hear and its own; the main output gets its own afterwards.
    if (monitor != nullptr) {
        if (m_bMonitorOnly) {
            for (std::size_t k = 0; k < 2 * frames; ++k) {
                monitor[k] = out[k] + m_monitorOnly[k];
            }
        } else {
            std::copy(out, out + 2 * frames, monitor);
        }
    }
    if (m_bMainOnly) {
        for (std::size_t k = 0; k < 2 * frames; ++k) {
            out[k] += m_mainOnly[k];
        }
    }
    m_nActiveCount.store(m_nActive, std::memory_order_relaxed);
    m_nFramesMixed.fetch_add(frames, std::memory_order_acq_rel);
}

float* MixerCore::SendTarget(OutputSend send, const Block& block) {
    if (send == OutputSend::Both) {
        return block.pOut;
    }
    // Without a monitor, its own voices mix where nothing reads them: they keep their time.
    bool& used = send == OutputSend::Main ? m_bMainOnly : m_bMonitorOnly;
    float* target = send == OutputSend::Main ? m_mainOnly.get() : m_monitorOnly.get();
    if (!used) {
        std::fill(target, target + 2 * block.nFrames, 0.0f);
        used = true;
    }
    return target;
}

std::uint64_t MixerCore::ClaimBlock(std::size_t frames) {
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
    return blockStart;
}

void MixerCore::AdmitStarted() {
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
}

void MixerCore::FollowRate(const Block& block) {
    const std::uint32_t was = m_nClockRate.load(std::memory_order_relaxed);
    if (block.nRate == was) {
        return;
    }
    // Published first: a worker that reads the new rate finds its waiting starts moved.
    m_nRateSeq.fetch_add(1, std::memory_order_seq_cst);
    m_nClockRate.store(block.nRate, std::memory_order_seq_cst);
    m_nRateSince.store(block.nStart, std::memory_order_seq_cst);
    m_nRateSeq.fetch_add(1, std::memory_order_seq_cst);
    if (was != 0 && block.nRate != 0) {
        RescaleStarts(block.nStart, was, block.nRate);
    }
}

// Both are kept in the block's loop: a call per voice and block is what the split must not cost.
[[gnu::always_inline]] inline bool MixerCore::MixVoice(std::size_t i, const Block& block) {
    MixerVoice* v = m_active[i];
    std::uint32_t w = v->m_nControl.load(std::memory_order_seq_cst);
    const PreparedSound* p = v->m_pPrepared.load(std::memory_order_acquire);
    CarryRate(v, p);
    TakePositionRequest(v, p);
    if (Pending(w) != 0 && (w & MixerVoice::kOrphan) != 0) {
        Halt(v); // nobody is left to hear the starts it was waiting for
        w = v->m_nControl.load(std::memory_order_seq_cst);
    }
    const bool wasPlaying = (w & MixerVoice::kPlaying) != 0;
    const std::uint64_t trim = v->m_nTrimMs.load(std::memory_order_acquire);
    const std::uint64_t fades = v->m_nFadeMs.load(std::memory_order_acquire);
    const Span span{MsToFrames(trim & 0xFFFFFFFF, block.nRate), MsToFrames(trim >> 32, block.nRate),
                    MsToFrames(fades & 0xFFFFFFFF, block.nRate),
                    std::bit_cast<float>(v->m_nGainBits.load(std::memory_order_acquire))};
    FollowFadeRequest(v, w, fades >> 32, block.nRate);
    std::uint32_t begins[MixerVoice::kStartSlots];
    const std::size_t nBegins =
        Pending(w) != 0 ? TakeStarts(v, block.nStart, block.nFrames, begins, w) : 0;
    if (!wasPlaying && nBegins == 0) {
        if (TryRelease(v, w)) {
            return false;
        }
        w = v->m_nControl.load(std::memory_order_seq_cst);
        if ((w & MixerVoice::kPlaying) == 0) {
            return true; // silent until a start at a later frame
        }
    }
    if (i + 1 < m_nActive) {
        PrefetchBlock(m_active[i + 1], block.nFrames);
    }
    if (p != nullptr) {
        FollowLevels(v);
        FollowBoost(v, block.nRate);
    }
    const bool sounding =
        MixWithStarts(v, p, span, block, {begins, nBegins}, wasPlaying || nBegins == 0);
    return sounding || !Retire(v, w);
}

void MixerCore::CarryRate(MixerVoice* v, const PreparedSound* p) {
    if (p == nullptr || p->nOutputRate == v->m_nMixedRate) {
        return;
    }
    // Prepared again for another rate: the same moment of the sound in the new frames.
    if (v->m_nMixedRate != 0) {
        const double at = (v->m_nPos + v->m_nFrac * 0x1p-32) * p->nOutputRate / v->m_nMixedRate;
        const double whole = std::floor(at);
        const bool past = whole >= p->nFrames;
        v->m_nPos = past ? p->nFrames : static_cast<std::uint32_t>(whole);
        v->m_nFrac = past ? 0 : static_cast<std::uint32_t>((at - whole) * 0x1p32);
    }
    v->m_nMixedRate = p->nOutputRate;
}

void MixerCore::TakePositionRequest(MixerVoice* v, const PreparedSound* p) {
    std::int64_t request = v->m_nPositionRequest.load(std::memory_order_relaxed);
    if (request < 0) { // the common case reads without a locked instruction
        return;
    }
    request = v->m_nPositionRequest.exchange(-1, std::memory_order_acq_rel);
    if (request < 0 || p == nullptr) {
        return;
    }
    std::uint64_t frame = static_cast<std::uint64_t>(request);
    if (p->nSourceRate != p->nOutputRate && p->nSourceRate != 0) {
        frame = frame * p->nOutputRate / p->nSourceRate;
    }
    v->m_nPos = static_cast<std::uint32_t>(std::min<std::uint64_t>(frame, p->nFrames));
    v->m_nFrac = 0;
}

void MixerCore::FollowFadeRequest(MixerVoice* v, std::uint32_t control, std::uint32_t fadeOutMs,
                                  std::uint32_t rate) {
    // At each new generation: a fade-out asked in it begins here (a fade under way goes on);
    // a Play or a Stop made it otherwise, which ends a fade.
    const std::uint32_t generationMark = Generation(control) | 1;
    if (v->m_nFadeHandled == generationMark) {
        return;
    }
    v->m_nFadeHandled = generationMark;
    if (v->m_nFadeRequest.load(std::memory_order_seq_cst) != generationMark) {
        v->m_nFadeLeft = 0;
    } else if ((control & MixerVoice::kPlaying) != 0 && v->m_nFadeLeft == 0) {
        v->m_nFadeFrames = std::max<std::uint32_t>(1, MsToFrames(fadeOutMs, rate));
        v->m_nFadeLeft = v->m_nFadeFrames;
    }
}

void MixerCore::FollowBoost(MixerVoice* v, std::uint32_t rate) {
    const std::uint32_t gain = v->m_nGainDbBits.load(std::memory_order_acquire);
    if (gain != v->m_nCachedGainDb) {
        v->m_nCachedGainDb = gain;
        v->m_fBoost = FactorFromDb(std::bit_cast<float>(gain));
    }
    const std::uint32_t live = v->m_nLiveDbBits.load(std::memory_order_acquire);
    if (live == v->m_nCachedLiveDb) {
        return;
    }
    // A voice that starts takes the level at once; one that sounds ramps to it.
    const bool fresh = v->m_nCachedLiveDb == MixerVoice::kUnread;
    v->m_nCachedLiveDb = live;
    v->m_fLiveTarget = FactorFromDb(std::bit_cast<float>(live));
    if (fresh) {
        v->m_fLive = v->m_fLiveTarget;
    }
    v->m_fLiveStep = (v->m_fLiveTarget - v->m_fLive) /
                     static_cast<float>(std::max<std::uint32_t>(1, MsToFrames(kLiveRampMs, rate)));
}

void MixerCore::FollowLevels(MixerVoice* v) {
    const std::uint64_t levels = v->m_nLevels.load(std::memory_order_acquire);
    if (levels == v->m_nCachedLevels) {
        return;
    }
    v->m_nCachedLevels = levels;
    const auto volume = static_cast<std::int32_t>(static_cast<std::uint32_t>(levels));
    const auto pan = static_cast<std::int32_t>(static_cast<std::uint32_t>(levels >> 32));
    ChannelGains(volume, pan, &v->m_fGainL, &v->m_fGainR);
}

[[gnu::always_inline]] inline bool MixerCore::MixWithStarts(MixerVoice* v, const PreparedSound* p,
                                                            const Span& span, const Block& block,
                                                            std::span<const std::uint32_t> begins,
                                                            bool sounding) {
    // What it plays up to its first start in this block, then from the beginning at each.
    const bool stretched = p != nullptr && p->nOutputRate != block.nRate && block.nRate != 0;
    float* out = SendTarget(v->m_send.load(std::memory_order_relaxed), block);
    // While a sound waits for its preparation at a new rate it plays untrimmed and unfaded,
    // and a commanded stop cuts it.
    auto mix = [&](std::size_t from, std::size_t n) {
        if (stretched) {
            return v->m_nFadeLeft == 0 && MixSpanStretched(v, p, out + 2 * from, n, block.nRate);
        }
        return MixSpan(v, p, span, out + 2 * from, n);
    };
    std::size_t at = 0;
    for (const std::uint32_t begin : begins) {
        if (sounding) {
            sounding = mix(at, begin - at);
        }
        at = begin;
        v->m_nPos = 0;
        v->m_nFrac = 0;
        v->m_nFadeLeft = 0;
        v->m_fLive = v->m_fLiveTarget;
        sounding = true;
    }
    return sounding && mix(at, block.nFrames - at);
}

bool MixerCore::Retire(MixerVoice* v, std::uint32_t control) {
    // Played to its end: back to the start, and let go unless a fresh Play came meanwhile or a
    // start at a later frame waits.
    v->m_nPos = 0;
    v->m_nFrac = 0;
    v->m_nFadeLeft = 0;
    v->m_nRestPosition.store(0, std::memory_order_release);
    const std::uint32_t generation = Generation(control);
    std::uint32_t w = control;
    for (;;) {
        if ((w & MixerVoice::kPlaying) != 0 && Generation(w) != generation) {
            return false;
        }
        const bool waits = Pending(w) != 0;
        const std::uint32_t cleared =
            waits ? MixerVoice::kPlaying : MixerVoice::kPlaying | MixerVoice::kListed;
        if (v->m_nControl.compare_exchange_weak(w, w & ~cleared, std::memory_order_seq_cst)) {
            if (!waits && (w & MixerVoice::kOrphan) != 0) {
                PushDead(v);
            }
            return !waits;
        }
    }
}

void MixerCore::Admit(MixerVoice* voice) {
    voice->m_nPos = voice->m_nRestPosition.load(std::memory_order_acquire);
    voice->m_nFrac = 0;
    voice->m_nCachedLevels = ~0ull;
    voice->m_nCachedLiveDb = MixerVoice::kUnread;
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
    const float scale = span.fGain * v->m_fBoost;
    // The gain on full-scale samples before the live level, on the louder side.
    const float top = std::max(v->m_fGainL, v->m_fGainR) * scale;
    const float gl = v->m_fGainL * scale * (1.0f / 32768.0f);
    const float gr = v->m_fGainR * scale * (1.0f / 32768.0f);
    std::size_t n = std::min<std::size_t>(frames, end - v->m_nPos);
    if (v->m_nFadeLeft != 0) {
        n = std::min<std::size_t>(n, v->m_nFadeLeft);
    }
    const std::uint32_t intoSound = v->m_nPos - span.nStart;
    const bool ramp = v->m_fLive != v->m_fLiveTarget;
    // Boosted, the limiter holds the gain under its curve (unity until the curve is there); a
    // block whose curve allows the whole gain mixes as it would unboosted.
    const LimitCurve* curve = nullptr;
    bool limit = false;
    if (v->m_fBoost * std::max(v->m_fLive, v->m_fLiveTarget) > 1.0f) {
        curve = p->pLimits.load(std::memory_order_acquire);
        const float loudest = top * std::max(v->m_fLive, v->m_fLiveTarget);
        limit = (curve != nullptr ? curve->Least(v->m_nPos, n) : 1.0f) < loudest;
    }
    if (p->pData == nullptr) {
        // silence: only the position moves (and the level)
        if (ramp) {
            v->m_fLive = v->m_fLiveTarget;
        }
    } else if (intoSound >= span.nFadeIn && v->m_nFadeLeft == 0 && !ramp && !limit) {
        if (p->nChannels == 1) {
            MixMono(out, p->pData + v->m_nPos, n, gl * v->m_fLive, gr * v->m_fLive);
        } else {
            MixStereo(out, p->pData + 2 * static_cast<std::size_t>(v->m_nPos), n, gl * v->m_fLive,
                      gr * v->m_fLive);
        }
    } else {
        // Inside a fade, a ramp of the level or the limiter: a gain for every frame.
        float gains[kMaxBlock];
        float live = v->m_fLive;
        for (std::size_t j = 0; j < n; ++j) {
            if (ramp) {
                live += v->m_fLiveStep;
                if ((v->m_fLiveStep > 0.0f) == (live > v->m_fLiveTarget)) {
                    live = v->m_fLiveTarget;
                }
            }
            gains[j] = live;
        }
        v->m_fLive = live;
        if (limit && curve != nullptr) {
            curve->Cap(v->m_nPos, n, 1.0f / top, gains);
        } else if (limit) {
            for (std::size_t j = 0; j < n; ++j) {
                gains[j] = std::min(gains[j], 1.0f / top);
            }
        }
        if (intoSound < span.nFadeIn || v->m_nFadeLeft != 0) {
            for (std::size_t j = 0; j < n; ++j) {
                const std::uint32_t k = intoSound + static_cast<std::uint32_t>(j);
                if (k < span.nFadeIn) {
                    gains[j] *= FadeGain(k, span.nFadeIn);
                }
                if (v->m_nFadeLeft != 0) {
                    gains[j] *=
                        FadeGain(v->m_nFadeLeft - static_cast<std::uint32_t>(j), v->m_nFadeFrames);
                }
            }
        }
        if (p->nChannels == 1) {
            MixMonoGains(out, p->pData + v->m_nPos, n, gl, gr, gains);
        } else {
            MixStereoGains(out, p->pData + 2 * static_cast<std::size_t>(v->m_nPos), n, gl, gr,
                           gains);
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
    // The level without its ramp, and the limiter's gain where the block begins.
    v->m_fLive = v->m_fLiveTarget;
    float g = v->m_fBoost * v->m_fLive;
    if (g > 1.0f) {
        const LimitCurve* curve = p->pLimits.load(std::memory_order_acquire);
        const float allowed = curve != nullptr ? curve->At(v->m_nPos) : 1.0f;
        g = std::min(g, allowed / std::max({v->m_fGainL, v->m_fGainR, 1e-6f}));
    }
    const float gl = v->m_fGainL * g * (1.0f / 32768.0f);
    const float gr = v->m_fGainR * g * (1.0f / 32768.0f);
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
