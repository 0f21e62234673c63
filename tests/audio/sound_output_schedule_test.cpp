// SPDX-License-Identifier: GPL-3.0-or-later
// Starts on an exact output frame, rendered offline: inside a block, on a block edge, in the past,
// two in one block, a restart that cuts the sound, and a Stop that takes a waiting start back.
#include "audio/offline_output.h"
#include "sound_output_test_util.h"

#include "audio/mixer.h"
#include "audio/output_backend.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

constexpr std::uint32_t kRate = 1000;
constexpr std::size_t kBlock = 64;

// 40 frames reading 1, 2, 3, ...: a frame's value tells which sample of the sound it carries.
SoundBufferPtr Counting(const SoundDevicePtr& device) {
    std::vector<std::int16_t> samples(40);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(i + 1);
    return MakeBuffer(device, PlainFormat(WAVE_FORMAT_PCM, 1, kRate, 16), S16Bytes(samples));
}

// The left channel of `frames` frames rendered in blocks of kBlock.
std::vector<std::int16_t> RenderLeft(OfflineSoundOutput& out, std::size_t frames) {
    std::vector<std::int16_t> left;
    for (std::size_t done = 0; done < frames; done += kBlock) {
        const std::vector<std::int16_t> block = out.Render(kBlock);
        for (std::size_t i = 0; i < block.size(); i += 2)
            left.push_back(block[i]);
    }
    return left;
}

// What the left channel should read: each start plays the sound from its first sample, cutting
// whatever played before.
std::vector<std::int16_t> Expected(std::size_t from, std::size_t frames,
                                   const std::vector<std::uint64_t>& starts) {
    std::vector<std::int16_t> v(frames, 0);
    for (std::uint64_t s : starts)
        for (std::size_t i = 0; i < 40 && s + i < from + frames; ++i)
            if (s + i >= from)
                v[s + i - from] = static_cast<std::int16_t>(i + 1);
    return v;
}

TEST(SoundOutputSchedule, FirstSampleLandsOnTheAskedFrame) {
    struct Row {
        const char* name;
        std::size_t renderedBefore;
        std::vector<std::uint64_t> asked;
        std::vector<std::uint64_t> landed;
    } rows[] = {
        {"inside a block", 128, {150}, {150}},
        {"on a block edge", 128, {192}, {192}},
        {"the next block's first frame", 128, {128}, {128}},
        {"far ahead", 0, {1000}, {1000}},
        {"already mixed: the next block", 128, {30}, {128}},
        {"two in one block, the second cutting the first", 64, {70, 90}, {70, 90}},
        {"handed over out of order", 64, {200, 100}, {100, 200}},
    };
    for (const Row& row : rows) {
        OfflineSoundOutput out(kRate);
        SoundBufferPtr b = Counting(out.Device());
        ASSERT_TRUE(b);
        ISoundBufferSchedule* schedule = QueryBufferSchedule(b.get());
        ASSERT_NE(schedule, nullptr);
        RenderLeft(out, row.renderedBefore);
        for (std::uint64_t frame : row.asked)
            EXPECT_EQ(schedule->PlayAtFrame(frame, 0), DS_OK) << row.name;
        const std::size_t from = row.renderedBefore;
        EXPECT_EQ(RenderLeft(out, 1152), Expected(from, 1152, row.landed)) << row.name;
    }
}

TEST(SoundOutputSchedule, RestartsAPlayingBufferAndStopTakesWaitingStartsBack) {
    OfflineSoundOutput out(kRate);
    SoundBufferPtr b = Counting(out.Device());
    ISoundBufferSchedule* schedule = QueryBufferSchedule(b.get());
    ASSERT_NE(schedule, nullptr);
    EXPECT_EQ(QueryBufferSchedule(nullptr), nullptr);

    // Play as soon as possible: the frame it names is where the sound begins; a restart at a
    // frame inside the next block cuts it there.
    std::uint64_t first = 0;
    ASSERT_EQ(schedule->PlayAtNextBlock(&first, 0), DS_OK);
    EXPECT_EQ(first, 0u);
    ASSERT_EQ(schedule->PlayAtFrame(20, 0), DS_OK);
    ASSERT_EQ(schedule->PlayAtFrame(300, 0), DS_OK);
    ASSERT_EQ(schedule->PlayAtFrame(400, 0), DS_OK);
    EXPECT_EQ(RenderLeft(out, 128), Expected(0, 128, {0, 20}));
    // A Stop before its frame: neither waiting start sounds, and the voice leaves the mixer.
    b->Stop();
    EXPECT_EQ(RenderLeft(out, 512), std::vector<std::int16_t>(512, 0));
    SoundOutputInfo info;
    ASSERT_TRUE(GetSoundOutputInfo(out.Device(), &info));
    EXPECT_EQ(info.nActiveVoices, 0u);

    // Starts after the Stop sound again; sixteen may wait at once.
    for (std::uint64_t k = 0; k < MixerVoice::kStartSlots; ++k)
        ASSERT_EQ(schedule->PlayAtFrame(1024 + 50 * k, 0), DS_OK) << k;
    EXPECT_EQ(schedule->PlayAtFrame(2000, 0), DSERR_INVALIDCALL);
    RenderLeft(out, 1024 - 640);
    EXPECT_EQ(RenderLeft(out, 128), Expected(1024, 128, {1024, 1074, 1124}));
    std::uint32_t status = 0;
    b->GetStatus(&status);
    EXPECT_EQ(status, DSBSTATUS_PLAYING);
}

// A Stop, or the release of the last reference, that lands while the mixer begins a start: it
// must not sound after the call returned.
TEST(SoundOutputSchedule, AStopOrReleaseAsAStartBeginsSilencesIt) {
    struct Landing {
        SoundBufferPtr buffer;
        bool release;
        bool landed = false;
    };
    for (const bool release : {false, true}) {
        OfflineSoundOutput out(kRate);
        Landing landing{Counting(out.Device()), release};
        ASSERT_NE(landing.buffer, nullptr);
        MixerCore& core = *BackendOf(out.Device())->Core();
        core.SetCommitHook(
            [](void* context) {
                auto& l = *static_cast<Landing*>(context);
                if (std::exchange(l.landed, true))
                    return;
                if (l.release)
                    l.buffer.reset();
                else
                    l.buffer->Stop();
            },
            &landing);
        ASSERT_EQ(QueryBufferSchedule(landing.buffer.get())->PlayAtFrame(10, 0), DS_OK);
        EXPECT_EQ(RenderLeft(out, 128), std::vector<std::int16_t>(128, 0)) << release;
        EXPECT_TRUE(landing.landed);
        core.SetCommitHook(nullptr, nullptr);
    }
}

} // namespace
