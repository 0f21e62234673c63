// SPDX-License-Identifier: GPL-3.0-or-later
// The audio device against the recording fake output: what it asks the output for, in which
// order, which failures it reports with which message, and what it leaves in the buffers.
#include "audio/offline_output.h"
#include "audio/sound_device.h"
#include "tests/support/fake_buffer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>

namespace {

using Calls = std::vector<std::string>;

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first = 1) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

const char* const kOpenCalls[] = {"DirectSoundCreate", "ds1.SetCooperativeLevel",
                                  "ds1.CreateSoundBuffer", "buf1.SetFormat"};

constexpr std::uint32_t kJingleFlags = DSBCAPS_STATIC | DSBCAPS_CTRL3D | DSBCAPS_CTRLPAN |
                                       DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2;
constexpr std::uint32_t kEffectFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN |
                                       DSBCAPS_CTRLVOLUME | DSBCAPS_GLOBALFOCUS |
                                       DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_LOCDEFER;

// The jingle's samples, after its 44-byte header.
std::vector<std::uint8_t> JingleData() {
    return std::vector<std::uint8_t>(JingleImage() + 44, JingleImage() + JingleImageSize());
}

std::vector<std::uint8_t> FormatBytes(const WAVEFORMATEX& format) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&format);
    return std::vector<std::uint8_t>(bytes, bytes + sizeof format);
}

// A resource image the tests choose, served under id 200.
std::vector<std::uint8_t>* g_resource = nullptr;
CSoundDevice::Resource TestLookup(int id) {
    if (id == 200 && g_resource)
        return {g_resource->data(), g_resource->size()};
    return {nullptr, 0};
}

class SoundDeviceTest : public ::testing::Test {
protected:
    ~SoundDeviceTest() override { g_resource = nullptr; }

    // Calls recorded from index `from` on, with their arguments or as "buf2.Lock" alone.
    Calls CallsFrom(std::size_t from, bool withArgs = true) const {
        Calls texts;
        const std::vector<FakeCall> all = fake->Calls();
        for (std::size_t i = from; i < all.size(); ++i) {
            FakeCall call = all[i];
            if (!withArgs)
                call.args.clear();
            texts.push_back(call.Text(true));
        }
        return texts;
    }
    Calls NamesFrom(std::size_t from) const { return CallsFrom(from, false); }
    void OpenDevice() {
        ASSERT_TRUE(device.Open(kOwner, 2, 22050, 16, output));
        // The open sequence is the rule: a device, its cooperation, the primary, its format.
        ASSERT_EQ(NamesFrom(0), Calls(std::begin(kOpenCalls), std::end(kOpenCalls)));
        EXPECT_EQ(
            fake->Calls()[1].args,
            (std::vector<std::int64_t>{reinterpret_cast<std::intptr_t>(kOwner), DSSCL_PRIORITY}));
        ASSERT_EQ(fake->Buffer("buf1")->Format(),
                  FormatBytes({WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0}));
    }
    // Every buffer but the primary was asked for with these flags and size.
    void ExpectSecondaries(std::uint32_t flags, std::uint32_t bytes) {
        for (const FakeBufferDesc& d : fake->Descriptions()) {
            if (d.dwFlags != DSBCAPS_PRIMARYBUFFER) {
                EXPECT_EQ(d.dwFlags, flags);
                EXPECT_EQ(d.dwBufferBytes, bytes);
            }
        }
    }
    std::string WriteWave(const std::vector<std::uint8_t>& image, const char* name = "e.wav") {
        EXPECT_TRUE(WriteBytes(dir.Path() + name, image));
        return dir.Cp932(name);
    }
    void ExpectOnlyErrorBoxes(const std::vector<std::string>& utf8Texts) {
        std::vector<std::string> expected;
        for (const std::string& t : utf8Texts)
            expected.push_back(Sj(t));
        EXPECT_EQ(messages.Texts(), expected);
        for (const auto& m : messages.Messages()) {
            EXPECT_EQ(m.caption, "Error");
            EXPECT_EQ(m.type, MB_OK);
        }
    }

    std::shared_ptr<FakeSound> fake = FakeSound::Create();
    const OutputConfig output{{}, 0, fake->Factory()};
    MessageRecorder messages;
    TempDir dir;
    CSoundDevice device;
    void* const kOwner = reinterpret_cast<void*>(0x1234);
};

struct OpenFailure {
    const char* name;
    std::function<void(FakeSound&)> arrange;
    Calls calls;         // what is tried and given back, in order
    const char* message; // UTF-8; null = no message
};
void PrintTo(const OpenFailure& row, std::ostream* os) {
    *os << row.name;
}

class SoundDeviceOpenFailure : public SoundDeviceTest,
                               public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(SoundDeviceOpenFailure, ReportsAndStaysClosed) {
    const OpenFailure& c = GetParam();
    c.arrange(*fake);
    EXPECT_FALSE(device.Open(kOwner, 2, 22050, 16, output));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(NamesFrom(0), c.calls);
    ExpectOnlyErrorBoxes(c.message ? std::vector<std::string>{c.message}
                                   : std::vector<std::string>{});

    // Nothing else is tried on a device that failed to open: no call, no message.
    const std::size_t before = fake->Calls().size();
    messages.Clear();
    SoundBufferSlot slot;
    EXPECT_FALSE(device.LoadStartupSound(slot, IDR_WAVE_JINGLE));
    EXPECT_FALSE(device.PlayFromStart(slot));
    EXPECT_EQ(device.LoadWaveFile(WriteWave(MakePcm16Wave(1, 8000, {1, 2, 3})), slot), 0u);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(fake->Calls().size(), before);
    EXPECT_TRUE(messages.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SoundDeviceOpenFailure,
    ::testing::Values(
        OpenFailure{"create_fails",
                    [](FakeSound& f) { f.QueueResult("DirectSoundCreate", DSERR_NODRIVER); },
                    {"DirectSoundCreate"},
                    "DirectSoundオブジェクトの作成に失敗"},
        OpenFailure{"cooperative_level_refused",
                    [](FakeSound& f) { f.QueueResult("SetCooperativeLevel", DSERR_GENERIC); },
                    {"DirectSoundCreate", "ds1.SetCooperativeLevel", "ds1.Release"},
                    "協調レベルの設定に失敗"},
        // Anything but 0 counts as refused.
        OpenFailure{"cooperative_level_other_success_code",
                    [](FakeSound& f) { f.QueueResult("SetCooperativeLevel", 1); },
                    {"DirectSoundCreate", "ds1.SetCooperativeLevel", "ds1.Release"},
                    "協調レベルの設定に失敗"},
        OpenFailure{"primary_buffer_fails",
                    [](FakeSound& f) { f.QueuePrimaryResult(DSERR_OUTOFMEMORY); },
                    {"DirectSoundCreate", "ds1.SetCooperativeLevel", "ds1.CreateSoundBuffer",
                     "ds1.Release"},
                    "プライマリ・バッファの作成に失敗"},
        // Primary buffer first, then the device object; silently.
        OpenFailure{"primary_format_refused",
                    [](FakeSound& f) { f.QueueResult("SetFormat", DSERR_BADFORMAT); },
                    {"DirectSoundCreate", "ds1.SetCooperativeLevel", "ds1.CreateSoundBuffer",
                     "buf1.SetFormat", "buf1.Release", "ds1.Release"},
                    nullptr}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SoundDeviceTest, OpenDescribesThePrimaryBuffer) {
    OpenDevice();
    const auto descs = fake->Descriptions();
    ASSERT_EQ(descs.size(), 1u);
    EXPECT_EQ(descs[0].dwSize, 36u);
    EXPECT_EQ(descs[0].dwFlags, DSBCAPS_PRIMARYBUFFER);
    EXPECT_EQ(descs[0].dwBufferBytes, 0u);
    EXPECT_EQ(descs[0].dwReserved, 0u);
    EXPECT_TRUE(descs[0].zeroGuid);
    EXPECT_TRUE(descs[0].format.empty());
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SoundDeviceTest, PrimaryFormatFollowsTheArguments) {
    struct Row {
        int channels, rate, bits;
        WAVEFORMATEX format;
    };
    for (const Row& r : {Row{1, 8000, 8, {WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0}},
                         Row{2, 44100, 24, {WAVE_FORMAT_PCM, 2, 44100, 264600, 6, 24, 0}},
                         Row{2, 48000, 12, {WAVE_FORMAT_PCM, 2, 48000, 96000, 2, 12, 0}}}) {
        auto local = FakeSound::Create();
        CSoundDevice d;
        ASSERT_TRUE(d.Open(kOwner, r.channels, r.rate, r.bits, {{}, 0, local->Factory()}));
        EXPECT_EQ(local->Calls().back().name, "SetFormat");
        EXPECT_EQ(local->Buffer("buf1")->Format(), FormatBytes(r.format)) << r.rate;
    }
}

TEST_F(SoundDeviceTest, OpenTwiceChangesNothing) {
    OpenDevice();
    EXPECT_FALSE(device.Open(nullptr, 1, 8000, 8, output));
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(fake->Calls().size(), std::size(kOpenCalls));
}

TEST_F(SoundDeviceTest, CloseStopsAndReleasesPrimaryBeforeTheDevice) {
    OpenDevice();
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    // The order is the rule: the primary is stopped and given back before the device.
    EXPECT_EQ(CallsFrom(4), (Calls{"buf1.Stop", "buf1.Release", "ds1.Release"}));
    device.Close();
    EXPECT_EQ(fake->Calls().size(), 7u);
    {
        CSoundDevice scoped;
        ASSERT_TRUE(scoped.Open(kOwner, 2, 22050, 16, output));
    }
    EXPECT_EQ(CallsFrom(11), (Calls{"buf2.Stop", "buf2.Release", "ds2.Release"}));
}

TEST_F(SoundDeviceTest, JingleLoadsIntoItsOwnBuffer) {
    OpenDevice();
    fake->SetLockSplit(10000); // the second region is filled too
    SoundBufferSlot slot;
    ASSERT_TRUE(device.LoadStartupSound(slot, IDR_WAVE_JINGLE));
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(NamesFrom(4), (Calls{"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Unlock"}));
    ExpectSecondaries(kJingleFlags, static_cast<std::uint32_t>(JingleData().size()));
    const auto desc = fake->Descriptions().back();
    EXPECT_EQ(desc.dwSize, 36u);
    EXPECT_EQ(desc.dwReserved, 0u);
    EXPECT_TRUE(desc.zeroGuid);
    // The jingle's 16-byte fmt body as an 18-byte record: nothing after the body is taken in.
    const std::vector<std::uint8_t> record(JingleImage() + 20, JingleImage() + 36);
    ASSERT_EQ(desc.format.size(), 18u);
    EXPECT_EQ(std::vector<std::uint8_t>(desc.format.begin(), desc.format.begin() + 16), record);
    EXPECT_EQ(desc.format[16] | desc.format[17] << 8, 0);
    EXPECT_EQ(fake->Buffer("buf2")->Bytes(), JingleData()); // both regions, as unlocked
    EXPECT_TRUE(messages.Texts().empty());

    // Played from its start, again and again: the order is the rule, a stop before the rewind.
    EXPECT_TRUE(device.PlayFromStart(slot));
    EXPECT_TRUE(device.PlayFromStart(slot));
    EXPECT_EQ(CallsFrom(7), (Calls{"buf2.Stop", "buf2.SetCurrentPosition(0)", "buf2.Play(0,0,0)",
                                   "buf2.Stop", "buf2.SetCurrentPosition(0)", "buf2.Play(0,0,0)"}));
    CSoundDevice::ReleaseBuffer(slot);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(fake->CallTexts().back(), "buf2.Release");
}

struct JingleFailure {
    const char* name;
    int id;
    std::function<void(FakeSound&)> arrange;
    Calls calls; // after the open: what is tried and given back, in order
    std::vector<std::string> messages;
};
void PrintTo(const JingleFailure& row, std::ostream* os) {
    *os << row.name;
}

class SoundDeviceJingleFailure : public SoundDeviceTest,
                                 public ::testing::WithParamInterface<JingleFailure> {};

// Every way the jingle can fail closes the device: the program then runs without sound.
TEST_P(SoundDeviceJingleFailure, ClosesTheDevice) {
    const JingleFailure& c = GetParam();
    OpenDevice();
    c.arrange(*fake);
    SoundBufferSlot slot;
    EXPECT_FALSE(device.LoadStartupSound(slot, c.id));
    EXPECT_EQ(slot, nullptr);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(NamesFrom(4), c.calls);
    ExpectSecondaries(kJingleFlags, static_cast<std::uint32_t>(JingleData().size()));
    ExpectOnlyErrorBoxes(c.messages);
    EXPECT_FALSE(device.PlayFromStart(slot));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SoundDeviceJingleFailure,
    ::testing::Values(
        JingleFailure{"missing_resource",
                      133,
                      [](FakeSound&) {},
                      {"buf1.Release", "ds1.Release"},
                      {"Waveデータの読み込みに失敗", "セカンダリ・バッファの作成に失敗"}},
        JingleFailure{"buffer_refused",
                      IDR_WAVE_JINGLE,
                      [](FakeSound& f) { f.QueueResult("CreateSoundBuffer", DSERR_OUTOFMEMORY); },
                      {"ds1.CreateSoundBuffer", "buf1.Release", "ds1.Release"},
                      {"セカンダリ・バッファの作成に失敗"}},
        // Only 0 is success for the jingle's buffer.
        JingleFailure{"buffer_other_success_code",
                      IDR_WAVE_JINGLE,
                      [](FakeSound& f) { f.QueueResult("CreateSoundBuffer", 1); },
                      {"ds1.CreateSoundBuffer", "buf2.Release", "buf1.Release", "ds1.Release"},
                      {"セカンダリ・バッファの作成に失敗"}},
        JingleFailure{
            "lock_fails",
            IDR_WAVE_JINGLE,
            [](FakeSound& f) { f.QueueResult("Lock", DSERR_GENERIC); },
            {"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Release", "buf1.Release", "ds1.Release"},
            {"セカンダリ・バッファの作成に失敗"}},
        JingleFailure{"lock_lost_twice",
                      IDR_WAVE_JINGLE,
                      [](FakeSound& f) {
                          f.QueueResult("Lock", DSERR_BUFFERLOST);
                          f.QueueResult("Lock", DSERR_BUFFERLOST);
                      },
                      {"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Restore", "buf2.Lock",
                       "buf2.Release", "buf1.Release", "ds1.Release"},
                      {"セカンダリ・バッファの作成に失敗"}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SoundDeviceTest, JingleLockLostOnceIsRestoredAndRetried) {
    OpenDevice();
    fake->QueueResult("Lock", DSERR_BUFFERLOST);
    SoundBufferSlot slot;
    ASSERT_TRUE(device.LoadStartupSound(slot, IDR_WAVE_JINGLE));
    EXPECT_EQ(NamesFrom(4), (Calls{"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Restore",
                                   "buf2.Lock", "buf2.Unlock"}));
    EXPECT_EQ(fake->Buffer("buf2")->Bytes(), JingleData());
    EXPECT_TRUE(device.IsOpen());
}

// A resource whose size fields lie: only bytes inside the image reach the buffer, and the
// format record handed on never claims bytes the fmt body lacks (ASan checks the reads).
TEST_F(SoundDeviceTest, ResourceWithLyingSizesStaysInsideTheImage) {
    device.SetResourceLookup(&TestLookup);
    std::vector<std::uint8_t> fmt = {
        3, 0, 1, 0, 0x40, 0x1F, 0,   0, 0,    0x7D,
        0, 0, 4, 0, 32,   0,    100, 0, 0xAB, 0xCD}; // float, cbSize 100 but 2 extra bytes
    std::vector<std::uint8_t> image =
        WaveBuilder().Chunk("fmt ", fmt).Data(Bytes(12), 5000).Build();
    g_resource = &image;
    OpenDevice();
    SoundBufferSlot slot;
    ASSERT_TRUE(device.LoadStartupSound(slot, 200));
    EXPECT_EQ(NamesFrom(4), (Calls{"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Unlock"}));
    ExpectSecondaries(kJingleFlags, 12);
    const auto desc = fake->Descriptions().back();
    ASSERT_EQ(desc.format.size(), 20u);
    EXPECT_EQ(desc.format[16] | desc.format[17] << 8, 2);
    EXPECT_EQ(desc.format[18], 0xAB);
    EXPECT_EQ(desc.format[19], 0xCD);
    EXPECT_EQ(fake->Buffer("buf2")->Bytes(), Bytes(12));

    // A 14-byte PCM body: the missing bits-per-sample and cbSize read as 0, not as the bytes
    // that follow the body.
    std::vector<std::uint8_t> shortFmt(fmt.begin(), fmt.begin() + 14);
    shortFmt[0] = 1;
    image = WaveBuilder().Chunk("fmt ", shortFmt).Data(Bytes(4, 0xFF)).Build();
    SoundBufferSlot second;
    ASSERT_TRUE(device.LoadStartupSound(second, 200));
    const auto desc2 = fake->Descriptions().back();
    ASSERT_EQ(desc2.format.size(), 18u);
    EXPECT_EQ(desc2.format[14] | desc2.format[15] << 8 | desc2.format[16] << 16 |
                  desc2.format[17] << 24,
              0);
}

TEST_F(SoundDeviceTest, EffectLoadsWithTheFilesOwnFormat) {
    OpenDevice();
    const std::vector<std::uint8_t> extra = Bytes(22, 50);
    std::vector<std::uint8_t> samples = Bytes(600, 3);
    struct Row {
        const char* name;
        std::vector<std::uint8_t> image;
        std::size_t recordSize;
    };
    const Row rows[] = {
        {"pcm.wav", WaveBuilder().Fmt(1, 2, 44100, 16, 0x55).Data(samples).Build(), 18},
        {"extensible.wav",
         WaveBuilder().Fmt(WAVE_FORMAT_EXTENSIBLE, 2, 48000, 24, 22, extra).Data(samples).Build(),
         40},
    };
    fake->SetLockSplit(100);
    for (const Row& r : rows) {
        const std::size_t before = fake->Calls().size();
        SoundBufferSlot slot;
        EXPECT_EQ(device.LoadWaveFile(WriteWave(r.image, r.name), slot), 600u) << r.name;
        ASSERT_NE(slot, nullptr);
        const auto desc = fake->Descriptions().back();
        EXPECT_EQ(desc.dwSize, 36u);
        EXPECT_EQ(desc.dwFlags, kEffectFlags);
        EXPECT_EQ(desc.dwBufferBytes, 600u);
        EXPECT_EQ(desc.dwReserved, 0u);
        EXPECT_TRUE(desc.zeroGuid);
        ASSERT_EQ(desc.format.size(), r.recordSize) << r.name;
        EXPECT_TRUE(
            std::equal(desc.format.begin(), desc.format.begin() + 16, r.image.begin() + 20));
        EXPECT_EQ(fake->Buffer(desc.object)->Bytes(), samples); // both regions, as unlocked
        EXPECT_EQ(NamesFrom(before),
                  (Calls{"ds1.CreateSoundBuffer", desc.object + ".Lock", desc.object + ".Unlock"}));
    }
    EXPECT_TRUE(messages.Texts().empty());
}

// A data chunk that claims 1 GB in a tiny file: the buffer is what the file holds, silently.
TEST_F(SoundDeviceTest, EffectClaimingMoreThanTheFileHoldsGetsWhatIsThere) {
    OpenDevice();
    SoundBufferSlot slot;
    const auto image = WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(40), 1u << 30).Build();
    EXPECT_EQ(device.LoadWaveFile(WriteWave(image), slot), 40u);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(fake->Descriptions().back().dwBufferBytes, 40u);
    EXPECT_EQ(fake->Buffer("buf2")->Bytes(), Bytes(40));
    EXPECT_TRUE(messages.Texts().empty());
}

struct EffectLockRow {
    const char* name;
    std::vector<HRESULT> createAndLock; // first the CreateSoundBuffer result, then Lock results
    std::uint32_t length;
    Calls calls; // what is tried and given back, in order
    std::vector<std::string> messages;
};
void PrintTo(const EffectLockRow& row, std::ostream* os) {
    *os << row.name;
}

class SoundDeviceEffectLoad : public SoundDeviceTest,
                              public ::testing::WithParamInterface<EffectLockRow> {};

TEST_P(SoundDeviceEffectLoad, CreateAndLockResults) {
    const EffectLockRow& c = GetParam();
    OpenDevice();
    fake->QueueResult("CreateSoundBuffer", c.createAndLock[0]);
    for (std::size_t i = 1; i < c.createAndLock.size(); ++i)
        fake->QueueResult("Lock", c.createAndLock[i]);
    SoundBufferSlot slot;
    const std::vector<std::int16_t> samples = {1, -1, 2, -2};
    EXPECT_EQ(device.LoadWaveFile(WriteWave(MakePcm16Wave(2, 22050, samples)), slot), c.length);
    EXPECT_EQ(slot != nullptr, c.length != 0);
    EXPECT_EQ(NamesFrom(4), c.calls);
    ExpectSecondaries(kEffectFlags, 8);
    if (slot) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
        EXPECT_EQ(fake->Buffer("buf2")->Bytes(), std::vector<std::uint8_t>(bytes, bytes + 8));
    }
    ExpectOnlyErrorBoxes(c.messages);
    EXPECT_TRUE(device.IsOpen());
}

const Calls kEffectLoaded = {"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Unlock"};
const Calls kEffectLostTwice = {"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Restore", "buf2.Lock",
                                "buf2.Release"};

INSTANTIATE_TEST_SUITE_P(
    Rows, SoundDeviceEffectLoad,
    ::testing::Values(
        EffectLockRow{"plain", {DS_OK}, 8, kEffectLoaded, {}},
        // Any success code will do for an effect buffer.
        EffectLockRow{"other_success_code", {1}, 8, kEffectLoaded, {}},
        EffectLockRow{"create_fails",
                      {DSERR_OUTOFMEMORY},
                      0,
                      {"ds1.CreateSoundBuffer"},
                      {"バッファの作成に失敗"}},
        EffectLockRow{
            "lost_once",
            {DS_OK, DSERR_BUFFERLOST},
            8,
            {"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Restore", "buf2.Lock", "buf2.Unlock"},
            {}},
        EffectLockRow{
            "lost_twice", {DS_OK, DSERR_BUFFERLOST, DSERR_BUFFERLOST}, 0, kEffectLostTwice, {}},
        EffectLockRow{"lock_fails",
                      {DS_OK, DSERR_INVALIDCALL},
                      0,
                      {"ds1.CreateSoundBuffer", "buf2.Lock", "buf2.Release"},
                      {}},
        EffectLockRow{"lost_then_other_failure",
                      {DS_OK, DSERR_BUFFERLOST, DSERR_GENERIC},
                      0,
                      kEffectLostTwice,
                      {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SoundDeviceTest, UnusableFilesGiveTheOpenMessage) {
    OpenDevice();
    std::vector<std::pair<const char*, std::vector<std::uint8_t>>> files = {
        {"empty.wav", {}},
        {"magic.wav", {'R', 'I', 'F', 'X', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}},
        {"huge.wav", WaveBuilder()
                         .Fmt(1, 1, 8000, 8, -1)
                         .Chunk("junk", {}, 0xFFFFFFF0)
                         .Data(Bytes(4))
                         .Build(0xFFFFFFFF)},
        {"random.wav", Bytes(300, 77)},
        {"fmt15.wav", WaveBuilder().Chunk("fmt ", Bytes(15)).Data(Bytes(4)).Build()},
    };
    std::filesystem::create_directory(dir.Path() + "dir.wav");
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files)
        paths.push_back(WriteWave(bytes, name));
    paths.push_back(dir.Cp932("dir.wav"));
    paths.push_back(dir.Cp932("missing.wav"));
    for (const std::string& path : paths) {
        messages.Clear();
        SoundBufferSlot slot = fake->MakeBuffer(4); // a stale value must not survive
        EXPECT_EQ(device.LoadWaveFile(path, slot), 0u) << path;
        EXPECT_EQ(slot, nullptr);
        ExpectOnlyErrorBoxes({"Waveファイルのオープンに失敗"});
    }
    for (const auto& d : fake->Descriptions())
        EXPECT_EQ(d.dwFlags, DSBCAPS_PRIMARYBUFFER) << "a buffer was made for an unusable file";
}

TEST_F(SoundDeviceTest, EmptySlotsAreLeftAlone) {
    OpenDevice();
    SoundBufferSlot slot;
    CSoundDevice::ReleaseBuffer(slot);
    EXPECT_EQ(slot, nullptr);
    EXPECT_FALSE(device.PlayFromStart(slot));
    EXPECT_EQ(fake->Calls().size(), std::size(kOpenCalls));
}

// Through the real offline output: the jingle is loaded, plays audibly from its start and ends
// by itself; an effect's samples come out as the file holds them.
double Goertzel(const std::vector<std::int16_t>& stereo, std::size_t from, std::size_t frames,
                double freq, double rate) {
    const double k = 2 * std::cos(2 * 3.14159265358979 * freq / rate);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double s = stereo[2 * (from + i)] + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

class SoundDeviceOffline : public ::testing::Test {
protected:
    bool Open() { return device.Open(nullptr, 2, 22050, 16, {{}, 0, output.Factory()}); }

    OfflineSoundOutput output{22050};
    MessageRecorder messages;
    CSoundDevice device;
};

TEST_F(SoundDeviceOffline, JingleSoundsFromItsStartAndEnds) {
    ASSERT_TRUE(Open());
    SoundBufferSlot jingle;
    ASSERT_TRUE(device.LoadStartupSound(jingle, IDR_WAVE_JINGLE));
    const auto before = output.Render(512);
    EXPECT_TRUE(std::all_of(before.begin(), before.end(), [](std::int16_t s) { return s == 0; }));

    ASSERT_TRUE(device.PlayFromStart(jingle));
    const std::size_t length = 22050 * JingleData().size() / 8000; // 8-bit mono at 8000 Hz
    const auto sound = output.Render(length + 2048);
    int peak = 0;
    for (std::size_t i = 0; i < length; ++i) {
        EXPECT_EQ(sound[2 * i], sound[2 * i + 1]) << "mono reaches both sides alike, frame " << i;
        peak = std::max(peak, std::abs(static_cast<int>(sound[2 * i])));
    }
    EXPECT_GT(peak, 8000) << "the jingle is too quiet to hear";
    // The first note is a C6 (1046.5 Hz): far stronger than a tone a fifth below.
    EXPECT_GT(Goertzel(sound, 200, 3000, 1046.5, 22050),
              20 * Goertzel(sound, 200, 3000, 698.5, 22050));
    // It stops by itself after its length.
    for (std::size_t i = length + 512; i < length + 2048; ++i)
        ASSERT_EQ(sound[2 * i], 0) << "still sounding at frame " << i;
    std::uint32_t status = 1;
    jingle->GetStatus(&status);
    EXPECT_EQ(status & DSBSTATUS_PLAYING, 0u);

    // Playing it while it sounds starts it again from the beginning.
    ASSERT_TRUE(device.PlayFromStart(jingle));
    const auto first = output.Render(4000);
    output.Render(3000);
    ASSERT_TRUE(device.PlayFromStart(jingle));
    const auto again = output.Render(4000);
    EXPECT_EQ(again, first);
    EXPECT_EQ(std::vector<std::int16_t>(sound.begin(), sound.begin() + 8000), first);
    EXPECT_TRUE(messages.Texts().empty());
    CSoundDevice::ReleaseBuffer(jingle);
}

TEST_F(SoundDeviceOffline, EffectSamplesComeOutAsTheFileHoldsThem) {
    ASSERT_TRUE(Open());
    TempDir dir;
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 600; ++i)
        samples.push_back(static_cast<std::int16_t>(i % 2 ? -37 * i : 41 * i));
    ASSERT_TRUE(WriteBytes(dir.Path() + "e.wav", MakePcm16Wave(2, 22050, samples)));
    SoundBufferSlot slot;
    ASSERT_EQ(device.LoadWaveFile(dir.Cp932("e.wav"), slot), 1200u);
    ASSERT_TRUE(device.PlayFromStart(slot));
    const auto out = output.Render(400);
    EXPECT_EQ(std::vector<std::int16_t>(out.begin(), out.begin() + 600), samples);
    EXPECT_TRUE(std::all_of(out.begin() + 600, out.end(), [](std::int16_t s) { return s == 0; }));
    EXPECT_TRUE(messages.Texts().empty());
}

} // namespace
