// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over from the main output to the monitor output. The two devices run on their own
// clocks: the main output's callback writes every block it plays here, the monitor's callback
// reads it back through a slow rate correction that holds the ring's fill (the delay between the
// two outputs) at a target, whatever the clocks' difference. A reader that stalls or falls far
// behind jumps back to the target; a writer never waits for the reader.
//
// Threads: one writer (the main output's callback), one reader (the monitor's callback); the
// constructor and SetTarget belong to whoever opens the monitor while neither callback runs. No
// call locks, allocates or frees.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

struct OutputFormat;

// A block in an output format (8 or 16 bits, one or two channels) as stereo 16-bit frames.
void ToStereo16(const void* block, std::size_t frames, const OutputFormat& format,
                std::int16_t* stereo);

class MonitorRing {
public:
    // capacityFrames is rounded up to a power of two.
    MonitorRing(std::size_t capacityFrames, std::uint32_t sampleRate);

    // Reader side, while the reader is not running: the fill it holds the ring at (at most
    // half the capacity) and the rate its time constants are counted in.
    void SetTarget(std::size_t frames, std::uint32_t sampleRate);
    std::size_t Target() const { return m_nTarget; }

    // Writer: appends stereo 16-bit frames; the oldest unread ones are overwritten when full.
    void Write(const std::int16_t* stereo, std::size_t frames);
    // Writer: the same from a block in an output format (8 or 16 bits, one or two channels).
    void WriteFormat(const void* block, std::size_t frames, const OutputFormat& format);

    // Reader: fills `frames` stereo frames. False when the ring ran dry; the rest is silence.
    bool Read(std::int16_t* stereo, std::size_t frames);
    // Reader side, while the reader is not running: play only what is written from now on,
    // once a target's worth is there (a monitor that opens).
    void Restart();

    // For tests and benchmarks: frames written and the reader's position.
    std::uint64_t Written() const { return m_nWrite.load(std::memory_order_acquire); }
    double ReadPosition() const { return m_dReadPos; }
    // Frames between the newest written frame and the reader, smoothed; any thread.
    double AverageFill() const { return m_dPublishedFill.load(std::memory_order_relaxed); }
    std::uint64_t Resyncs() const { return m_nResyncs.load(std::memory_order_relaxed); }
    std::uint64_t Underruns() const { return m_nUnderruns.load(std::memory_order_relaxed); }

private:
    // Starts reading the target behind the newest frame.
    void Resync();
    std::uint32_t Frame(std::uint64_t index) const {
        return m_frames[index & (m_nCapacity - 1)].load(std::memory_order_relaxed);
    }

    std::size_t m_nCapacity;
    std::size_t m_nTarget;
    double m_dRate;
    // One stereo frame per slot (left in the low half): the reader may meet a slot the writer is
    // overwriting after a stall; that costs a click, never a torn read.
    std::unique_ptr<std::atomic<std::uint32_t>[]> m_frames;
    std::atomic<std::uint64_t> m_nWrite{0};

    // Reader only.
    bool m_bStarted = false;
    double m_dReadPos = 0.0;
    double m_dFillAverage = 0.0;
    double m_dRatio = 1.0;
    std::atomic<double> m_dPublishedFill{0.0};
    std::atomic<std::uint64_t> m_nResyncs{0};
    std::atomic<std::uint64_t> m_nUnderruns{0};
};
