// SPDX-License-Identifier: GPL-3.0-or-later
// Buffer formats, argument checks and the buffer memory: every sample encoding must reach the
// output with exact values, and every record the mixer cannot play must be refused.
#include "audio/offline_output.h"
#include "sound_output_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr std::uint32_t kRate = 1000; // tiny rate, no resampling: exact values

std::vector<std::uint8_t> Le(std::initializer_list<std::uint32_t> values, int bytesEach) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t v : values) {
        for (int b = 0; b < bytesEach; ++b) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
        }
    }
    return out;
}

std::vector<std::uint8_t> FloatBytes(std::initializer_list<float> values) {
    std::vector<std::uint8_t> out;
    for (float f : values) {
        std::uint8_t b[4];
        std::memcpy(b, &f, 4);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

struct ConversionCase {
    const char* name;
    FormatRecord format;
    std::vector<std::uint8_t> bytes;
    std::vector<std::int16_t> left; // expected output per frame
    std::vector<std::int16_t> right;
};

std::vector<ConversionCase> ConversionCases() {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return {
        {"u8 mono",
         PlainFormat(WAVE_FORMAT_PCM, 1, kRate, 8),
         {0, 1, 127, 128, 129, 255},
         {-32768, -32512, -256, 0, 256, 32512},
         {-32768, -32512, -256, 0, 256, 32512}},
        {"s16 mono",
         PlainFormat(WAVE_FORMAT_PCM, 1, kRate, 16),
         Le({0x8000, 0xFFFF, 0, 1, 0x1234, 0x7FFF}, 2),
         {-32768, -1, 0, 1, 0x1234, 32767},
         {-32768, -1, 0, 1, 0x1234, 32767}},
        {"s16 stereo",
         PlainFormat(WAVE_FORMAT_PCM, 2, kRate, 16),
         Le({100, 0xFF9C, 0x7FFF, 0x8000}, 2),
         {100, 32767},
         {-100, -32768}},
        {"s24 mono",
         PlainFormat(WAVE_FORMAT_PCM, 1, kRate, 24),
         Le({0x800000, 0xFFFF00, 0, 0x123456, 0x7FFFFF}, 3),
         {-32768, -1, 0, 4660, 32767},
         {-32768, -1, 0, 4660, 32767}},
        {"s32 mono",
         PlainFormat(WAVE_FORMAT_PCM, 1, kRate, 32),
         Le({0x80000000u, 0xFFFF0000u, 0, 0x12345678u, 0x7FFFFFFFu}, 4),
         {-32768, -1, 0, 4660, 32767},
         {-32768, -1, 0, 4660, 32767}},
        {"float mono",
         PlainFormat(WAVE_FORMAT_IEEE_FLOAT, 1, kRate, 32),
         FloatBytes({0.5f, -0.25f, -1.0f, 1.0f, 2.0f, nan}),
         {16384, -8192, -32768, 32767, 32767, 0},
         {16384, -8192, -32768, 32767, 32767, 0}},
        {"extensible s16 stereo",
         ExtensibleFormat(1, 2, kRate, 16, 16, 3),
         Le({1000, 0xFC18}, 2),
         {1000},
         {-1000}},
        {"extensible s24 in 32",
         ExtensibleFormat(1, 1, kRate, 32, 24, 4),
         Le({0x12345600u, 0x80000000u}, 4),
         {4660, -32768},
         {4660, -32768}},
        {"plain s24 in 32, stereo",
         [] {
             FormatRecord r = PlainFormat(WAVE_FORMAT_PCM, 2, kRate, 24);
             r.head.nBlockAlign = 8;
             return r;
         }(),
         Le({0x12345600u, 0x80000000u, 0xFFFF0000u, 0x7FFFFF00u}, 4),
         {4660, -1},
         {-32768, 32767}},
        {"extensible float",
         ExtensibleFormat(3, 1, kRate, 32, 32, 4),
         FloatBytes({0.125f, -0.5f}),
         {4096, -16384},
         {4096, -16384}},
        {"extensible u8, no valid bits",
         ExtensibleFormat(1, 1, kRate, 8, 0),
         {192, 64, 128, 0},
         {16384, -16384, 0, -32768},
         {16384, -16384, 0, -32768}},
    };
}

TEST(SoundOutputFormat, EveryEncodingReachesTheOutputExactly) {
    for (const ConversionCase& c : ConversionCases()) {
        SCOPED_TRACE(c.name);
        OfflineSoundOutput out(kRate);
        SoundBufferPtr b = MakeBuffer(out.Device(), c.format, c.bytes);
        ASSERT_TRUE(b);
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        auto frames = out.Render(c.left.size() + 2);
        auto left = Channel(frames, 0);
        auto right = Channel(frames, 1);
        std::vector<std::int16_t> wantL = c.left;
        std::vector<std::int16_t> wantR = c.right;
        wantL.insert(wantL.end(), {0, 0});
        wantR.insert(wantR.end(), {0, 0});
        EXPECT_EQ(left, wantL);
        EXPECT_EQ(right, wantR);
    }
}

// The fold-down keeps front and back/side channels on their side, centre at 0.7071 to both,
// LFE at 0.5 to both, all divided by the larger column sum (4 channels: 2; 5.1: 3.2071).
TEST(SoundOutputFormat, MoreThanTwoChannelsFoldToStereoWithoutClipping) {
    struct Case {
        const char* name;
        FormatRecord format;
        std::vector<std::uint32_t> samples; // one frame per channel count
        std::int16_t left;
        std::int16_t right;
    };
    const Case cases[] = {
        {"quad",
         PlainFormat(WAVE_FORMAT_PCM, 4, kRate, 16),
         {20000, 0xB1E0, 10000, 4000},
         15000,
         -8000},
        {"quad full scale",
         PlainFormat(WAVE_FORMAT_PCM, 4, kRate, 16),
         {0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF},
         32767,
         32767},
        {"quad negative full scale",
         PlainFormat(WAVE_FORMAT_PCM, 4, kRate, 16),
         {0x8000, 0x8000, 0x8000, 0x8000},
         -32768,
         -32768},
        {"5.1 front left only",
         PlainFormat(WAVE_FORMAT_PCM, 6, kRate, 16),
         {32000, 0, 0, 0, 0, 0},
         9978,
         0},
        {"5.1 centre only",
         PlainFormat(WAVE_FORMAT_PCM, 6, kRate, 16),
         {0, 0, 16000, 0, 0, 0},
         3528,
         3528},
        {"5.1 full scale",
         PlainFormat(WAVE_FORMAT_PCM, 6, kRate, 16),
         {0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF},
         32767,
         32767},
        // Mask FL|FR|FC|BC|SL|SR: the fourth channel is the back centre, not the LFE of the
        // plain layout; column sum 3.4142.
        {"extensible 6 with mask",
         ExtensibleFormat(1, 6, kRate, 16, 16, 0x707),
         {0, 0, 0, 30000, 0, 0},
         6213,
         6213},
        {"extensible 6 with mask, side right",
         ExtensibleFormat(1, 6, kRate, 16, 16, 0x707),
         {0, 0, 0, 0, 0, 30000},
         0,
         8787},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OfflineSoundOutput out(kRate);
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t s : c.samples) {
            bytes.push_back(static_cast<std::uint8_t>(s));
            bytes.push_back(static_cast<std::uint8_t>(s >> 8));
        }
        SoundBufferPtr b = MakeBuffer(out.Device(), c.format, bytes);
        ASSERT_TRUE(b);
        b->Play(0, 0, 0);
        auto frames = out.Render(1);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0], c.left);
        EXPECT_EQ(frames[1], c.right);
    }
}

TEST(SoundOutputFormat, RefusesRecordsTheMixerCannotPlay) {
    auto bad = [](FormatRecord r, auto change) {
        change(r);
        return r;
    };
    struct Case {
        const char* name;
        FormatRecord format;
    };
    const FormatRecord pcm = PlainFormat(WAVE_FORMAT_PCM, 1, 22050, 16);
    const FormatRecord ext = ExtensibleFormat(1, 2, 22050, 16, 16);
    const Case cases[] = {
        {"ADPCM", bad(pcm, [](FormatRecord& r) { r.head.wFormatTag = 2; })},
        {"12-bit PCM", PlainFormat(WAVE_FORMAT_PCM, 1, 22050, 12)},
        {"64-bit float", PlainFormat(WAVE_FORMAT_IEEE_FLOAT, 1, 22050, 64)},
        {"16-bit float", PlainFormat(WAVE_FORMAT_IEEE_FLOAT, 1, 22050, 16)},
        {"no channels", PlainFormat(WAVE_FORMAT_PCM, 0, 22050, 16)},
        {"nine channels", PlainFormat(WAVE_FORMAT_PCM, 9, 22050, 16)},
        {"rate 999", PlainFormat(WAVE_FORMAT_PCM, 1, 999, 16)},
        {"rate 384001", PlainFormat(WAVE_FORMAT_PCM, 1, 384001, 16)},
        {"block align", bad(pcm, [](FormatRecord& r) { r.head.nBlockAlign = 4; })},
        {"extensible short", bad(ext, [](FormatRecord& r) { r.head.cbSize = 21; })},
        {"extensible ADPCM", bad(ext, [](FormatRecord& r) { r.subFormat[0] = 2; })},
        {"extensible foreign GUID", bad(ext, [](FormatRecord& r) { r.subFormat[15] = 0; })},
        {"extensible valid > container",
         bad(ext, [](FormatRecord& r) { r.wValidBitsPerSample = 20; })},
    };
    OfflineSoundOutput out;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DSBUFFERDESC d = EffectDesc(c.format, 4096);
        SoundBufferPtr b;
        EXPECT_EQ(out.Device()->CreateSoundBuffer(&d, &b, nullptr), DSERR_BADFORMAT);
        EXPECT_FALSE(b);
    }
    for (std::uint32_t rate : {1000u, 384000u}) {
        FormatRecord r = PlainFormat(WAVE_FORMAT_PCM, 8, rate, 24);
        DSBUFFERDESC d = EffectDesc(r, 48);
        SoundBufferPtr b;
        EXPECT_EQ(out.Device()->CreateSoundBuffer(&d, &b, nullptr), DS_OK) << rate;
    }
}

TEST(SoundOutputFormat, RefusesBadDescriptions) {
    OfflineSoundOutput out;
    const FormatRecord pcm = PlainFormat(WAVE_FORMAT_PCM, 1, 22050, 16);
    struct Case {
        const char* name;
        DSBUFFERDESC desc;
    };
    auto with = [&](auto change) {
        DSBUFFERDESC d = EffectDesc(pcm, 100);
        change(d);
        return d;
    };
    const Case cases[] = {
        {"size 20", with([](DSBUFFERDESC& d) { d.dwSize = 20; })},
        {"size 40", with([](DSBUFFERDESC& d) { d.dwSize = 40; })},
        {"unknown flag", with([](DSBUFFERDESC& d) { d.dwFlags |= 0x100000; })},
        {"hardware and software", with([](DSBUFFERDESC& d) { d.dwFlags |= 0xC; })},
        {"no format", with([](DSBUFFERDESC& d) { d.lpwfxFormat = nullptr; })},
        {"3 bytes", with([](DSBUFFERDESC& d) { d.dwBufferBytes = 3; })},
        {"too big", with([](DSBUFFERDESC& d) { d.dwBufferBytes = DSBSIZE_MAX + 1; })},
        {"primary with bytes", with([](DSBUFFERDESC& d) {
             d.dwFlags = DSBCAPS_PRIMARYBUFFER;
             d.lpwfxFormat = nullptr;
         })},
        {"primary with format", with([](DSBUFFERDESC& d) {
             d.dwFlags = DSBCAPS_PRIMARYBUFFER;
             d.dwBufferBytes = 0;
         })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundBufferPtr b;
        EXPECT_EQ(out.Device()->CreateSoundBuffer(&c.desc, &b, nullptr), DSERR_INVALIDPARAM);
        EXPECT_FALSE(b);
    }
    DSBUFFERDESC ok = EffectDesc(pcm, 100);
    SoundBufferPtr b;
    EXPECT_EQ(out.Device()->CreateSoundBuffer(nullptr, &b, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(out.Device()->CreateSoundBuffer(&ok, nullptr, nullptr), DSERR_INVALIDPARAM);
    int outer = 0;
    EXPECT_EQ(out.Device()->CreateSoundBuffer(&ok, &b, &outer), DSERR_INVALIDPARAM);
    EXPECT_EQ(out.Device()->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DS_OK);
    EXPECT_EQ(out.Device()->SetCooperativeLevel(nullptr, DSSCL_NORMAL), DS_OK);
    EXPECT_EQ(out.Device()->SetCooperativeLevel(nullptr, 7), DSERR_INVALIDPARAM);
}

TEST(SoundOutputFormat, PrimaryBufferSetsTheOutputFormat) {
    OfflineSoundOutput out(22050);
    DSBUFFERDESC d;
    d.dwFlags = DSBCAPS_PRIMARYBUFFER;
    SoundBufferPtr primary;
    ASSERT_EQ(out.Device()->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);

    struct Case {
        const char* name;
        FormatRecord format;
        HRESULT result;
    };
    const Case cases[] = {
        {"stereo 16 44100", PlainFormat(WAVE_FORMAT_PCM, 2, 44100, 16), DS_OK},
        {"mono 8 8000", PlainFormat(WAVE_FORMAT_PCM, 1, 8000, 8), DS_OK},
        {"stereo 16 192000", PlainFormat(WAVE_FORMAT_PCM, 2, 192000, 16), DS_OK},
        {"three channels", PlainFormat(WAVE_FORMAT_PCM, 3, 22050, 16), DSERR_BADFORMAT},
        {"24 bits", PlainFormat(WAVE_FORMAT_PCM, 2, 22050, 24), DSERR_BADFORMAT},
        {"float", PlainFormat(WAVE_FORMAT_IEEE_FLOAT, 2, 22050, 32), DSERR_BADFORMAT},
        {"7999 Hz", PlainFormat(WAVE_FORMAT_PCM, 2, 7999, 16), DSERR_BADFORMAT},
        {"192001 Hz", PlainFormat(WAVE_FORMAT_PCM, 2, 192001, 16), DSERR_BADFORMAT},
        {"the program's own", PlainFormat(WAVE_FORMAT_PCM, 2, 22050, 16), DS_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(primary->SetFormat(&c.format.head), c.result);
    }
    WAVEFORMATEX got{};
    std::uint32_t written = 0;
    ASSERT_EQ(primary->GetFormat(&got, sizeof got, &written), DS_OK);
    EXPECT_EQ(written, 18u);
    EXPECT_EQ(got.nChannels, 2);
    EXPECT_EQ(got.nSamplesPerSec, 22050u);
    EXPECT_EQ(got.nBlockAlign, 4);
    EXPECT_EQ(got.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(primary->SetFormat(nullptr), DSERR_INVALIDPARAM);

    // Mono 8-bit output: the mix comes out with one sample per frame at 8-bit precision.
    FormatRecord mono8 = PlainFormat(WAVE_FORMAT_PCM, 1, 22050, 8);
    ASSERT_EQ(primary->SetFormat(&mono8.head), DS_OK);
    SoundBufferPtr b = MakeMono16(out.Device(), 22050, {1000, -1000, 0});
    ASSERT_TRUE(b);
    b->Play(0, 0, 0);
    EXPECT_EQ(out.Render(3), (std::vector<std::int16_t>{1024, -1024, 0}));
}

TEST(SoundOutputFormat, GetFormatCopiesOwnRecordCutToTheGivenSize) {
    OfflineSoundOutput out;
    FormatRecord ext = ExtensibleFormat(1, 2, 44100, 16, 16, 3);
    DSBUFFERDESC d = EffectDesc(ext, 400);
    SoundBufferPtr b;
    ASSERT_EQ(out.Device()->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    ext.head.nChannels = 1; // the buffer keeps its own copy

    FormatRecord got;
    std::uint32_t written = 0;
    ASSERT_EQ(b->GetFormat(&got.head, sizeof got, &written), DS_OK);
    EXPECT_EQ(written, 40u);
    EXPECT_EQ(got.head.nChannels, 2);
    EXPECT_EQ(got.head.cbSize, 22);
    EXPECT_EQ(got.dwChannelMask, 3u);

    std::uint8_t small[18 + 4];
    std::memset(small, 0xEE, sizeof small);
    ASSERT_EQ(b->GetFormat(reinterpret_cast<WAVEFORMATEX*>(small), 18, &written), DS_OK);
    EXPECT_EQ(written, 18u);
    EXPECT_EQ(small[18], 0xEE); // nothing beyond the given size

    EXPECT_EQ(b->GetFormat(nullptr, 0, &written), DS_OK);
    EXPECT_EQ(written, 40u);
    EXPECT_EQ(b->GetFormat(nullptr, 0, nullptr), DSERR_INVALIDPARAM);

    // A plain PCM record is kept as 18 bytes whatever its cbSize claims.
    FormatRecord pcm = PlainFormat(WAVE_FORMAT_PCM, 1, 22050, 16);
    pcm.head.cbSize = 500;
    d = EffectDesc(pcm, 400);
    ASSERT_EQ(out.Device()->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    ASSERT_EQ(b->GetFormat(&got.head, sizeof got, &written), DS_OK);
    EXPECT_EQ(written, 18u);
    EXPECT_EQ(got.head.cbSize, 0);
}

TEST(SoundOutputFormat, LockGivesOneRegionOrTwoWhenItWraps) {
    OfflineSoundOutput out;
    FormatRecord f = PlainFormat(WAVE_FORMAT_PCM, 1, 22050, 16);
    DSBUFFERDESC d = EffectDesc(f, 100);
    SoundBufferPtr b;
    ASSERT_EQ(out.Device()->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    struct Case {
        std::uint32_t offset, bytes, flags;
        HRESULT result;
        std::uint32_t n1, n2;
        std::ptrdiff_t at1; // offset of region 1 from the whole buffer's start
    };
    void* base = nullptr;
    std::uint32_t whole = 0;
    ASSERT_EQ(b->Lock(0, 100, &base, &whole, nullptr, nullptr, 0), DS_OK);
    EXPECT_EQ(whole, 100u);
    const Case cases[] = {
        {0, 100, 0, DS_OK, 100, 0, 0},
        {40, 30, 0, DS_OK, 30, 0, 40},
        {80, 50, 0, DS_OK, 20, 30, 80},
        {60, 0, DSBLOCK_ENTIREBUFFER, DS_OK, 100, 0, 0},
        {100, 10, 0, DSERR_INVALIDPARAM, 0, 0, 0},
        {0, 101, 0, DSERR_INVALIDPARAM, 0, 0, 0},
        {0, 0, 0, DSERR_INVALIDPARAM, 0, 0, 0},
        {0, 10, 0x80, DSERR_INVALIDPARAM, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << "+" << c.bytes);
        void* p1 = nullptr;
        void* p2 = nullptr;
        std::uint32_t n1 = 0;
        std::uint32_t n2 = 0;
        ASSERT_EQ(b->Lock(c.offset, c.bytes, &p1, &n1, &p2, &n2, c.flags), c.result);
        if (c.result != DS_OK) {
            continue;
        }
        EXPECT_EQ(n1, c.n1);
        EXPECT_EQ(n2, c.n2);
        EXPECT_EQ(static_cast<std::uint8_t*>(p1) - static_cast<std::uint8_t*>(base), c.at1);
        EXPECT_EQ(p2, c.n2 != 0 ? base : nullptr);
        EXPECT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    }
    // Regions that are not the buffer's own are refused.
    std::uint8_t foreign[8];
    EXPECT_EQ(b->Unlock(foreign, 8, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Unlock(base, 101, nullptr, 0), DSERR_INVALIDPARAM);

    // The lost-memory hook fails exactly one Lock; Restore succeeds.
    ASSERT_TRUE(SimulateBufferLost(b));
    void* p1 = nullptr;
    std::uint32_t n1 = 0;
    EXPECT_EQ(b->Lock(0, 100, &p1, &n1, nullptr, nullptr, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(b->Restore(), DS_OK);
    EXPECT_EQ(b->Lock(0, 100, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    EXPECT_EQ(b->SetFormat(&f.head), DSERR_INVALIDCALL);
}

TEST(SoundOutputFormat, VolumePanAndPositionAreRangeChecked) {
    OfflineSoundOutput out;
    SoundBufferPtr b = MakeMono16(out.Device(), 22050, std::vector<std::int16_t>(50, 0));
    ASSERT_TRUE(b);
    struct Case {
        bool pan;
        std::int32_t value;
        HRESULT result;
    };
    const Case cases[] = {
        {false, 0, DS_OK},
        {false, -10000, DS_OK},
        {false, 1, DSERR_INVALIDPARAM},
        {false, -10001, DSERR_INVALIDPARAM},
        {true, 10000, DS_OK},
        {true, -10000, DS_OK},
        {true, 10001, DSERR_INVALIDPARAM},
        {true, -10001, DSERR_INVALIDPARAM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.pan ? "pan " : "volume ") << c.value);
        b->SetPan(1234);
        b->SetVolume(-1234);
        HRESULT hr = c.pan ? b->SetPan(c.value) : b->SetVolume(c.value);
        EXPECT_EQ(hr, c.result);
        std::int32_t pan = 0;
        std::int32_t volume = 0;
        ASSERT_EQ(b->GetPan(&pan), DS_OK);
        ASSERT_EQ(b->GetVolume(&volume), DS_OK);
        const bool ok = c.result == DS_OK;
        EXPECT_EQ(pan, c.pan && ok ? c.value : 1234);
        EXPECT_EQ(volume, !c.pan && ok ? c.value : -1234);
    }
    EXPECT_EQ(b->SetCurrentPosition(100), DS_OK);
    EXPECT_EQ(b->SetCurrentPosition(101), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Play(1, 0, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->GetStatus(nullptr), DSERR_INVALIDPARAM);
}

} // namespace
