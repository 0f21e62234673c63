// SPDX-License-Identifier: GPL-3.0-or-later
// The ring between the main output and the monitor, driven by two simulated device clocks: the
// delay between the outputs stays bounded whatever the clocks' difference, the sound stays
// continuous, and a stall on either side ends in a resync instead of a growing delay.
#include "audio/mixer.h"
#include "audio/monitor_ring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 22050;

struct RingRun {
    double worstAfterSettling = 0; // largest |fill - target| once settled, in frames
    int largestStep = 0;           // largest sample step in the monitor's output once settled
    std::uint64_t underrunsAfterSettling = 0;
    double finalFill = 0;
};

// The main side writes a triangle (one step per frame) in blocks of writerPeriod on its clock; the
// monitor reads blocks of readerPeriod on a clock `ppm` faster. Stalls are [start, end) seconds.
RingRun Simulate(std::size_t writerPeriod, std::size_t readerPeriod, double ppm, double seconds,
                 double readerStallAt = -1, double writerStallAt = -1, double stallSeconds = 0) {
    MonitorRing ring(32768, kRate);
    ring.SetTarget(2 * (writerPeriod + readerPeriod), kRate);
    ring.Restart();
    const double writeEvery = static_cast<double>(writerPeriod) / kRate;
    const double readEvery = static_cast<double>(readerPeriod) / (kRate * (1 + ppm * 1e-6));
    const double settled =
        std::max(30.0, std::max(readerStallAt, writerStallAt) + stallSeconds + 30.0);
    double nextWrite = 0;
    double nextRead = 0.003;
    std::int64_t ramp = 0;
    std::vector<std::int16_t> block(2 * std::max(writerPeriod, readerPeriod));
    int previous = 0;
    bool havePrevious = false;
    RingRun run;
    while (std::min(nextWrite, nextRead) < seconds) {
        const auto stalled = [&](double at, double t) {
            return at >= 0 && t >= at && t < at + stallSeconds;
        };
        if (nextWrite <= nextRead) {
            if (!stalled(writerStallAt, nextWrite)) {
                for (std::size_t i = 0; i < writerPeriod; ++i, ++ramp) {
                    const std::int64_t phase = ramp % 40000;
                    const auto v = static_cast<std::int16_t>(phase < 20000 ? phase : 40000 - phase);
                    block[2 * i] = v;
                    block[2 * i + 1] = static_cast<std::int16_t>(-v);
                }
                ring.Write(block.data(), writerPeriod);
            }
            nextWrite += writeEvery;
            continue;
        }
        const double t = nextRead;
        nextRead += readEvery;
        if (stalled(readerStallAt, t))
            continue;
        const bool full = ring.Read(block.data(), readerPeriod);
        if (t < settled)
            continue;
        run.underrunsAfterSettling += full ? 0 : 1;
        run.worstAfterSettling =
            std::max(run.worstAfterSettling,
                     std::abs(static_cast<double>(ring.Written()) - ring.ReadPosition() -
                              static_cast<double>(ring.Target())));
        for (std::size_t i = 0; i < readerPeriod; ++i) {
            const int v = block[2 * i];
            EXPECT_EQ(block[2 * i + 1], -v);
            if (havePrevious)
                run.largestStep = std::max(run.largestStep, std::abs(v - previous));
            previous = v;
            havePrevious = true;
        }
    }
    run.finalFill = static_cast<double>(ring.Written()) - ring.ReadPosition();
    return run;
}

} // namespace

TEST(MonitorRing, HoldsTheDelayBetweenTwoClocks) {
    struct Case {
        const char* what;
        std::size_t writer;
        std::size_t reader;
        double ppm;
    };
    const Case cases[] = {
        {"same clock, same period", 256, 256, 0},    {"monitor 300 ppm fast", 256, 512, 300},
        {"monitor 300 ppm slow", 512, 256, -300},    {"odd periods, 1000 ppm", 441, 300, 1000},
        {"odd periods, -1000 ppm", 300, 441, -1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Ten minutes: a fixed offset would have drifted by up to 600 ms (13000 frames).
        const RingRun run = Simulate(c.writer, c.reader, c.ppm, 600);
        const double target = 2.0 * static_cast<double>(c.writer + c.reader);
        EXPECT_LT(run.worstAfterSettling, target * 0.75);
        EXPECT_EQ(run.underrunsAfterSettling, 0u);
        EXPECT_LE(run.largestStep, 2); // continuous: no skipped or repeated stretch
    }
}

TEST(MonitorRing, ComesBackToTheTargetAfterEitherSideStalls) {
    struct Case {
        const char* what;
        double readerStall;
        double writerStall;
    };
    const Case cases[] = {{"monitor stalls 2 s", 60, -1}, {"main stalls 0.5 s", -1, 60}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RingRun run = Simulate(256, 512, 200, 150, c.readerStall, c.writerStall,
                                     c.readerStall >= 0 ? 2.0 : 0.5);
        EXPECT_LT(run.worstAfterSettling, 2.0 * (256 + 512) * 0.75);
        EXPECT_EQ(run.underrunsAfterSettling, 0u);
        EXPECT_LE(run.largestStep, 2);
    }
}

TEST(MonitorRing, ConvertsOutputFormatsToStereo16) {
    const std::uint8_t u8Mono[] = {0x80, 0xFF, 0x00};
    const std::int16_t s16Stereo[] = {100, -100, 32767, -32768};
    std::int16_t out[6];
    ToStereo16(u8Mono, 3, OutputFormat{22050, 1, 8}, out);
    EXPECT_EQ(std::vector<std::int16_t>(out, out + 6),
              (std::vector<std::int16_t>{0, 0, 127 * 256, 127 * 256, -32768, -32768}));
    ToStereo16(s16Stereo, 2, OutputFormat{22050, 2, 16}, out);
    EXPECT_EQ(std::vector<std::int16_t>(out, out + 4),
              (std::vector<std::int16_t>{100, -100, 32767, -32768}));
}
