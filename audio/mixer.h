// SPDX-License-Identifier: GPL-3.0-or-later
// The software mixer behind the sound output: voices (one per secondary buffer), the lock-free
// hand-over of started voices to the mixing thread, and the mix itself. Everything a buffer
// prepares (decoding, fold-down, resampling) is done before the mixer sees it; the mixer scales
// 16-bit samples and sums them in float.
//
// Threads: any number of threads call Start/StartAt/Halt/FadeOut, the voices' StoreVolume/StorePan
// and RequestPosition; one thread at a time mixes (the SDL callback or the caller of the offline
// output). No call the mixer makes waits on a lock, allocates or frees.
#pragma once

#include "audio/limiter.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

// What the mixer plays for one buffer: 16-bit samples at the output rate, one channel (fed to
// both sides) or two. The data either lives in `samples` or, when the buffer's own bytes already
// are 16-bit at the output rate, in the buffer's memory. No data (a buffer nobody has written
// yet) plays as silence of nFrames frames.
struct PreparedSound {
    std::unique_ptr<std::int16_t[]> samples;
    const std::int16_t* pData = nullptr;
    std::uint32_t nFrames = 0;
    std::uint32_t nChannels = 1;
    std::uint32_t nSourceRate = 0; // to map buffer positions to output frames
    std::uint32_t nOutputRate = 0;
    // The limiter's curve, worked out once the voice is boosted; until it is there a boosted
    // voice is held to unity gain.
    std::unique_ptr<LimitCurve> limits;
    std::atomic<const LimitCurve*> pLimits{nullptr};
};

struct OutputFormat {
    std::uint32_t nSamplesPerSec = 22050;
    std::uint16_t nChannels = 2;
    std::uint16_t wBitsPerSample = 16;
    bool operator==(const OutputFormat&) const = default;
};

// Gain of one channel for a level in hundredths of a decibel; -10000 and below are silent.
float GainFromLevel(std::int32_t level);
// The two channel gains of a buffer for its volume and pan.
void ChannelGains(std::int32_t volume, std::int32_t pan, float* left, float* right);

class MixerCore;

// The outputs a voice sounds on: the main one and the monitor (the user's headphones), or one.
enum class OutputSend : std::uint8_t { Both, Main, Monitor };

// The limits of a voice's gain and of a running playback's level, in dB.
inline constexpr float kMinGainDb = -60.0f;
inline constexpr float kMaxGainDb = 12.0f;
inline constexpr float kMinLiveDb = -30.0f;
inline constexpr float kMaxLiveDb = 12.0f;

// The mixer's side of a buffer. Fields are grouped by who writes them.
class MixerVoice {
public:
    virtual ~MixerVoice() = default;

    // Control word: playing, listed (in the start queue or the active array), orphaned (its
    // owner is gone; the mixer hands it back for freeing once it stops), the number of starts
    // handed over for a later frame (a voice with any stays listed), and a play generation in
    // the upper bits, so that the mixer can tell a fresh Play from the one it is finishing.
    static constexpr std::uint32_t kPlaying = 1;
    static constexpr std::uint32_t kListed = 2;
    static constexpr std::uint32_t kOrphan = 4;
    static constexpr std::uint32_t kPendingUnit = 8;
    static constexpr std::uint32_t kPendingMask = 0xF8;
    static constexpr std::uint32_t kGenerationUnit = 256;
    // Starts at a frame that may wait at once (a worker hands over a few ahead of time).
    static constexpr std::size_t kStartSlots = 16;

    bool IsPlaying() const { return (m_nControl.load(std::memory_order_acquire) & kPlaying) != 0; }

private:
    friend class MixerCore;

    // Written by any thread (CAS), read by the mixer at block start.
    std::atomic<std::uint32_t> m_nControl{0};
    // Buffer frame to jump to, or -1; taken by the mixer at block start.
    std::atomic<std::int64_t> m_nPositionRequest{-1};
    // Volume (low 32 bits) and pan (high 32 bits), updated together.
    std::atomic<std::uint64_t> m_nLevels{0};
    std::atomic<const PreparedSound*> m_pPrepared{nullptr};
    // Output frame the next Play starts from; written by the mixer when it lets the voice go.
    std::atomic<std::uint32_t> m_nRestPosition{0};
    // Output frame of the block that first carried the voice after its last start, or of the
    // last start at a frame (diagnostics).
    std::atomic<std::uint64_t> m_nStartedAtFrame{0};
    // Starts at a frame: output frame + 1 in the low 48 bits, the owner above, 0 = free. Filled by
    // the starting thread under a reservation counted in the control word; emptied by the mixer as
    // it begins them or by a Stop.
    std::atomic<std::uint64_t> m_nStartAt[kStartSlots] = {};
    // Stops so far, so the mixer can tell one came while it began some.
    std::atomic<std::uint32_t> m_nCancels{0};
    // The part that plays, in ms of the sound: start (low 32 bits) and end (high, 0 = to the
    // end); the fades in ms: in (low) and out (high); a gain on top of volume and pan (float
    // bits). Read by the mixer at every block.
    std::atomic<std::uint64_t> m_nTrimMs{0};
    std::atomic<std::uint64_t> m_nFadeMs{0};
    std::atomic<std::uint32_t> m_nGainBits{0x3F800000}; // 1.0f
    // The effect's gain and the running playback's level in dB (float bits, 0 = 0 dB), and
    // where it sounds. Read by the mixer at every block.
    std::atomic<std::uint32_t> m_nGainDbBits{0};
    std::atomic<std::uint32_t> m_nLiveDbBits{0};
    std::atomic<OutputSend> m_send{OutputSend::Both};
    // The generation a fade-out was asked in, with bit 0 set; a later Play or Stop changes the
    // generation and so cancels it. Stored before the control word carries that generation.
    std::atomic<std::uint32_t> m_nFadeRequest{0};

    // Start queue link: written by the starting thread before the push, read by the mixer.
    MixerVoice* m_pNextQueued = nullptr;
    // Link of the dead list (orphans that stopped); mixer writes, the reaper reads.
    MixerVoice* m_pNextDead = nullptr;

    // Mixer thread only. m_nPos counts frames of the preparation last mixed, whose rate
    // m_nMixedRate keeps so that a new preparation at another rate carries the position over;
    // m_nFrac is the fraction while a preparation of another rate is stretched to the mix.
    std::uint32_t m_nPos = 0;
    std::uint32_t m_nFrac = 0;
    std::uint32_t m_nMixedRate = 0;
    std::uint64_t m_nCachedLevels = ~0ull;
    float m_fGainL = 1.0f;
    float m_fGainR = 1.0f;
    std::uint32_t m_nFadeHandled = 0; // the generation (| 1) last looked at for a fade
    std::uint32_t m_nFadeLeft = 0;    // frames of the fade-out still to play; 0 = none
    std::uint32_t m_nFadeFrames = 0;  // its whole length
    // The gain and the live level as last read (dB bits) and as factors; the live level moves
    // to its target by a step a frame.
    static constexpr std::uint32_t kUnread = 0xFFFFFFFF;
    std::uint32_t m_nCachedGainDb = kUnread;
    std::uint32_t m_nCachedLiveDb = kUnread;
    float m_fBoost = 1.0f; // the gain option as a factor
    float m_fLive = 1.0f;
    float m_fLiveTarget = 1.0f;
    float m_fLiveStep = 0.0f;

    // Clamps (NaN: 0 dB), stores, and tells the owner when the voice is boosted.
    void StoreDb(std::atomic<std::uint32_t>& bits, float dB, float lo, float hi);

protected:
    // Called when a store boosts the voice above 0 dB, on the storing thread: the owner of the
    // preparation works out its limiter's curve.
    virtual void OnBoost() {}

public:
    // Thread-safe accessors used by the buffer. Each store changes one of the two levels and keeps
    // the other (both may change from different threads).
    void StoreVolume(std::int32_t volume);
    void StorePan(std::int32_t pan);
    void LoadLevels(std::int32_t* volume, std::int32_t* pan) const;
    void RequestPosition(std::uint32_t bufferFrame) {
        m_nPositionRequest.store(bufferFrame, std::memory_order_release);
    }
    // Trim, fades and gain; heard from the next block (the fade-in from the next start).
    void StoreShape(std::uint32_t startMs, std::uint32_t endMs, std::uint32_t fadeInMs,
                    std::uint32_t fadeOutMs, float gain);
    std::uint32_t FadeOutMs() const {
        return static_cast<std::uint32_t>(m_nFadeMs.load(std::memory_order_acquire) >> 32);
    }
    // The effect's gain, kMinGainDb..kMaxGainDb (clamped), on top of volume, pan and the shape's
    // gain; above 0 dB a true-peak limiter holds the voice at or below -1 dBTP. Next block on.
    void StoreGainDb(float dB);
    float GainDb() const;
    // Where the voice sounds, from the next block. Without a monitor output a Monitor voice is
    // silent (it still plays on, in time).
    void StoreSend(OutputSend send) { m_send.store(send, std::memory_order_release); }
    OutputSend Send() const { return m_send.load(std::memory_order_acquire); }
    // The running playback's level, kMinLiveDb..kMaxLiveDb (clamped): reached over a short ramp,
    // so a change never clicks.
    void StoreLiveDb(float dB);
    float LiveDb() const;
    // Gain and live level together above 0 dB: the limiter is on.
    bool Boosted() const;
    const PreparedSound* Prepared() const { return m_pPrepared.load(std::memory_order_acquire); }
    void PublishPrepared(const PreparedSound* p) {
        m_pPrepared.store(p, std::memory_order_seq_cst);
    }
    bool IsListed() const { return (m_nControl.load(std::memory_order_seq_cst) & kListed) != 0; }
    std::uint64_t StartedAtFrame() const {
        return m_nStartedAtFrame.load(std::memory_order_acquire);
    }
};

class MixerCore {
public:
    // The most voices mixed at once; further started voices wait for a free slot.
    static constexpr std::size_t kMaxActive = 4096;
    // Longest block mixed in one go.
    static constexpr std::size_t kMaxBlock = 512;

    explicit MixerCore(OutputFormat format);
    ~MixerCore();
    MixerCore(const MixerCore&) = delete;
    MixerCore& operator=(const MixerCore&) = delete;

    // The mix's format: the device's rate, the channels and bits the program asked for.
    OutputFormat Format() const;
    void SetFormat(OutputFormat format);
    // The primary buffer's format as the program set it; only reported.
    OutputFormat Requested() const;
    void SetRequested(OutputFormat format);

    // Buffer operations; any thread; no allocation, no lock.
    // Start returns false once the core is shut down.
    bool Start(MixerVoice* voice);
    // Stops the voice and takes back the starts at a frame of `owner` that have not begun (every
    // owner's for kAnyOwner). Starts the mixer is beginning as the Stop lands do not sound.
    static constexpr std::uint16_t kAnyOwner = 0;
    void Halt(MixerVoice* voice, std::uint16_t owner = kAnyOwner);
    // Takes back the starts of `owner` that have not begun; what sounds goes on.
    void TakeBack(MixerVoice* voice, std::uint16_t owner);
    // Halt, except that what sounds fades out over the voice's fade-out first, from the next
    // block; a Play or a start that begins meanwhile cancels the fade.
    void FadeOut(MixerVoice* voice, std::uint16_t owner);

    // Starts at an exact frame, beside the operations above; any thread; no allocation, no lock.
    // `owner` tags the start for Halt and TakeBack.
    enum class StartResult { kWaiting, kFull, kShutdown };
    // The voice plays from its beginning with its first sample on output frame `frame`, cutting
    // what it plays there; a frame already mixed starts at the next block.
    StartResult StartAt(MixerVoice* voice, std::uint64_t frame, std::uint16_t owner);
    // StartAt on the first frame of the next block, which `frame` receives: as soon as Play.
    StartResult StartNext(MixerVoice* voice, std::uint64_t* frame, std::uint16_t owner);
    // The first frame of the next block the mixer has not begun: the earliest frame a start
    // handed over now lands on exactly.
    std::uint64_t NextBlockFrame() const {
        const std::uint64_t claimed = m_nFramesClaimed.load(std::memory_order_seq_cst);
        return (claimed & kSuspended) == 0 ? claimed : ClockWhileSuspended(claimed);
    }
    // Frames of the mixer's latest block (the output's period, at most kMaxBlock).
    std::size_t BlockFrames() const { return m_nBlockFrames.load(std::memory_order_relaxed); }
    // The owner drops its voice: it stops at once. The voice is freed here when the mixer does
    // not hold it, otherwise by the reaper once the mixer has let it go.
    void Abandon(std::unique_ptr<MixerVoice> voice);

    // Frees voices that were abandoned while sounding and have stopped since. Not realtime.
    void Reap();

    // Mixing: one thread at a time. Floats are interleaved stereo, full scale 1.0.
    // `out` takes the main output's mix, `monitor` (when not null) the monitor's: the voices
    // sent to both and those sent to it alone. Without a monitor those are silent.
    void MixFloat(float* out, std::size_t frames) { MixFloat(out, nullptr, frames); }
    void MixFloat(float* out, float* monitor, std::size_t frames);
    // The mix in the output format (16-bit signed or 8-bit unsigned, interleaved, the output's
    // channel count); the monitor's in the same format.
    void MixOutput(void* out, std::size_t frames) { MixOutput(out, nullptr, frames); }
    void MixOutput(void* out, void* monitor, std::size_t frames);

    // Output frames mixed so far.
    std::uint64_t FramesMixed() const { return m_nFramesMixed.load(std::memory_order_acquire); }
    // Voices in the active array (mixer's view after the last block).
    std::size_t ActiveVoices() const { return m_nActiveCount.load(std::memory_order_relaxed); }

    // An output with nothing to sound may stop taking frames. While it stands still the clock
    // runs on by the wall clock, so frames handed out keep their place in time; the first start
    // after that fixes the frame the mix goes on from and calls the wake hook.
    // No voice listed or waiting: nothing sounds until a new start.
    bool Quiet() const {
        return m_pQueueHead.load(std::memory_order_seq_cst) == nullptr &&
               m_nActiveCount.load(std::memory_order_seq_cst) == 0;
    }
    // End of the last block that had a voice.
    std::uint64_t LastSoundingFrame() const {
        return m_nLastSounding.load(std::memory_order_relaxed);
    }
    // Only once no thread mixes any more; mixing again ends it.
    void Suspend();
    bool IsSuspended() const {
        return (m_nFramesClaimed.load(std::memory_order_seq_cst) & kSuspended) != 0;
    }
    // Ends a suspension; true for the one caller that ended it, which also calls the hook.
    bool Resume();
    // Called on the starting thread (never the mixing one): it must not wait. Returns once no
    // call of the hook it replaces is under way, so its context may go then.
    using WakeHook = void (*)(void* context);
    void SetWakeHook(WakeHook hook, void* context);
    // The output has stopped taking frames and means to take them again (asleep, waking, a device
    // being opened again): until its next block, a clock that stands still waits and is not
    // stalled. Any thread.
    void ExpectOutput() { m_bExpected.store(true, std::memory_order_seq_cst); }
    bool OutputExpected() const { return m_bExpected.load(std::memory_order_seq_cst); }
    // The rate the clock counts at, and the frame since which it has (the first block mixed at
    // it): frames before that went at the earlier rate. Any thread.
    void ClockRate(std::uint32_t* rate, std::uint64_t* since) const;

    // No mixing happens any more (the output is closed for good): stops and lets go every voice,
    // frees the abandoned ones. Later Starts fail.
    void Shutdown();
    bool IsShutdown() const { return m_bShutdown.load(std::memory_order_seq_cst); }

    // Test hook: runs on the mixing thread after a block has taken a voice's starts and looked for
    // a Stop, just before it commits them, so that a test can land a Stop or a release there.
    using CommitHook = void (*)(void* context);
    void SetCommitHook(CommitHook hook, void* context) {
        m_pHookContext.store(context, std::memory_order_relaxed);
        m_commitHook.store(hook, std::memory_order_release);
    }

private:
    // The block being mixed: where it goes, its length, the output rate, its first frame.
    struct Block {
        float* pOut;
        float* pMonitor; // null without a monitor
        std::size_t nFrames;
        std::uint32_t nRate;
        std::uint64_t nStart;
    };
    void MixBlock(float* out, float* monitor, std::size_t frames);
    // Where a voice of this send mixes in the block.
    float* SendTarget(OutputSend send, const Block& block);
    // The steps of a block, in order.
    std::uint64_t ClaimBlock(std::size_t frames); // returns the block's first frame
    void AdmitStarted();
    void FollowRate(const Block& block);
    // One voice's share of the block; false once the voice has left the active array.
    bool MixVoice(std::size_t index, const Block& block);
    static void CarryRate(MixerVoice* voice, const PreparedSound* p);
    static void TakePositionRequest(MixerVoice* voice, const PreparedSound* p);
    static void FollowFadeRequest(MixerVoice* voice, std::uint32_t control, std::uint32_t fadeOutMs,
                                  std::uint32_t rate);
    static void FollowLevels(MixerVoice* voice);
    static void FollowBoost(MixerVoice* voice, std::uint32_t rate);
    static void PrefetchBlock(const MixerVoice* voice, std::size_t frames);
    // The voice's trim and fade-in in output frames, for one block.
    struct Span {
        std::uint32_t nStart;
        std::uint32_t nEnd;
        std::uint32_t nFadeIn;
        float fGain;
    };
    static bool MixSpan(MixerVoice* voice, const PreparedSound* p, const Span& span, float* out,
                        std::size_t frames);
    // The same for a preparation made for another rate (the device changed and the buffer is
    // being prepared again): linear interpolation until the new preparation arrives.
    static bool MixSpanStretched(MixerVoice* voice, const PreparedSound* p, float* out,
                                 std::size_t frames, std::uint32_t rate);
    // Mixes the block, starting the voice afresh at each of `begins` (offsets, sorted); false
    // once it has played to its end. `sounding`: whether what it played before goes on.
    bool MixWithStarts(MixerVoice* voice, const PreparedSound* p, const Span& span,
                       const Block& block, std::span<const std::uint32_t> begins, bool sounding);
    // Lets a voice that played to its end go; false when a fresh Play or a waiting start keeps it.
    bool Retire(MixerVoice* voice, std::uint32_t control);
    void Admit(MixerVoice* voice);
    // Lets a stopped voice go; false when a racing Play or a waiting start kept it.
    bool TryRelease(MixerVoice* voice, std::uint32_t control);
    // Takes the voice's starts that fall in this block: their offsets, sorted, in `offsets`; the
    // count of those that sound (none when a Stop came meanwhile). Updates `control`.
    std::size_t TakeStarts(MixerVoice* voice, std::uint64_t blockStart, std::size_t frames,
                           std::uint32_t* offsets, std::uint32_t& control);
    // Takes back a start not yet begun; true when it will not sound.
    bool Retract(MixerVoice* voice, std::uint64_t slotValue);
    // Empties the slots of `owner` (every one for kAnyOwner); returns how many.
    static std::uint32_t EmptySlots(MixerVoice* voice, std::uint16_t owner);
    void PushDead(MixerVoice* voice);
    void ReleaseAllAfterShutdown();
    // Marks m_nFramesClaimed while the output stands still; below it, the frame it stopped on.
    static constexpr std::uint64_t kSuspended = std::uint64_t{1} << 63;
    std::uint64_t ClockWhileSuspended(std::uint64_t claimed) const;
    // Latches the running clock; true when this call did.
    bool Latch();

    std::atomic<std::uint64_t> m_nFormat;
    std::atomic<std::uint64_t> m_nRequested;
    std::atomic<MixerVoice*> m_pQueueHead{nullptr};
    std::atomic<MixerVoice*> m_pDeadHead{nullptr};
    std::atomic<bool> m_bShutdown{false};
    std::atomic<std::uint64_t> m_nFramesMixed{0};
    // End of the block being mixed, stored before the block looks at any start.
    std::atomic<std::uint64_t> m_nFramesClaimed{0};
    std::atomic<std::size_t> m_nBlockFrames{0};
    std::atomic<std::size_t> m_nActiveCount{0};
    std::atomic<CommitHook> m_commitHook{nullptr};
    std::atomic<void*> m_pHookContext{nullptr};
    std::atomic<std::uint64_t> m_nLastSounding{0};
    std::atomic<std::int64_t> m_nSuspendedNs{0};
    std::atomic<WakeHook> m_wakeHook{nullptr};
    std::atomic<void*> m_pWakeContext{nullptr};
    std::atomic<std::uint32_t> m_nHookCalls{0}; // calls of the wake hook under way
    std::atomic<bool> m_bExpected{false};
    // The clock's rate and the frame it began at, written by the mixer between two counts of
    // m_nRateSeq (odd while it writes).
    std::atomic<std::uint32_t> m_nRateSeq{0};
    std::atomic<std::uint32_t> m_nClockRate;
    std::atomic<std::uint64_t> m_nRateSince{0};

    // Moves the starts still waiting to the same moments at the new rate, from `since` on.
    void RescaleStarts(std::uint64_t since, std::uint32_t from, std::uint32_t to);

    // Mixer thread only.
    std::unique_ptr<MixerVoice*[]> m_active;
    std::size_t m_nActive = 0;
    MixerVoice* m_pWaitingHead = nullptr; // started, no free slot yet
    std::unique_ptr<float[]> m_scratch;
    std::unique_ptr<float[]> m_monitorScratch;
    // The block's voices sent to one output only, while any is.
    std::unique_ptr<float[]> m_mainOnly;
    std::unique_ptr<float[]> m_monitorOnly;
    bool m_bMainOnly = false;
    bool m_bMonitorOnly = false;

    // Serialises the non-realtime clean-up after shutdown.
    std::mutex m_shutdownLock;
};
