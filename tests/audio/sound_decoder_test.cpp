// SPDX-License-Identifier: GPL-3.0-or-later
// Compressed effects, written by libsndfile here: through the whole load path each format must
// sound like its WAVE original (frequency, length, level), channels must land in WAVE's places,
// overshoot must clip, and whatever is unreadable must get the WAVE reader's message.
#include "audio/offline_output.h"
#include "audio/sound_decoder.h"
#include "audio/sound_device.h"
#include "tests/support/encoded_sound.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>

namespace {

// Frequency (first to last rising zero crossing) and level in dB of one channel of interleaved
// stereo at 22050 Hz, frames [from, to).
std::pair<double, double> Measure(const std::vector<std::int16_t>& out, std::size_t channel,
                                  std::size_t from, std::size_t to) {
    double sum = 0, first = -1, last = -1;
    int rising = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double a = out[2 * i + channel], b = out[2 * i + 2 + channel];
        sum += a * a;
        if (a < 0 && b >= 0) {
            last = static_cast<double>(i) + a / (a - b);
            first = first < 0 ? last : first;
            ++rising;
        }
    }
    return {(rising - 1) * 22050.0 / (last - first),
            20 * std::log10(std::sqrt(sum / static_cast<double>(to - from)) / 32768.0)};
}

struct Golden {
    const char* ext;
    int channels;
    int rate;
};
void PrintTo(const Golden& g, std::ostream* os) {
    *os << g.ext << ' ' << g.channels << "ch " << g.rate;
}

class DecodeTest : public ::testing::TestWithParam<Golden> {
protected:
    DecodeTest() { EXPECT_TRUE(device.Open(nullptr, 2, 22050, 16, {{}, 0, output.Factory()})); }

    // Loads, plays alone and renders the whole sound and a little silence; the length and the
    // byte rate are what the worker's default wait is made of.
    std::vector<std::int16_t> LoadAndPlay(const std::string& name, std::uint32_t* length,
                                          std::uint32_t* byteRate) {
        SoundBufferSlot slot;
        *length = device.LoadWaveFile(dir.Cp932(name), slot);
        WAVEFORMATEX format{};
        if (!slot || slot->GetFormat(&format, sizeof format, nullptr) != DS_OK)
            return {};
        *byteRate = format.nAvgBytesPerSec;
        device.PlayFromStart(slot);
        return output.Render(*length / format.nBlockAlign * 22050 / format.nSamplesPerSec + 1024);
    }

    OfflineSoundOutput output{22050};
    MessageRecorder messages;
    TempDir dir;
    CSoundDevice device;
};

TEST_P(DecodeTest, SoundsLikeTheWaveOriginal) {
    const Golden& g = GetParam();
    const std::vector<double> hz = {750, 1250}, amplitude = {0.5, 0.25}; // swapped sides show
    const auto frames = static_cast<std::size_t>(g.rate * 2 / 5 + 37);
    const auto samples = Sines(g.rate, frames, {hz.begin(), hz.begin() + g.channels},
                               {amplitude.begin(), amplitude.begin() + g.channels});
    const std::string name = std::string("e.") + g.ext;
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + "e.wav", g.channels, g.rate, samples));
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + name, g.channels, g.rate, samples));

    std::uint32_t waveLength = 0, waveRate = 0, length = 0, byteRate = 0;
    const auto original = LoadAndPlay("e.wav", &waveLength, &waveRate);
    const auto decoded = LoadAndPlay(name, &length, &byteRate);
    EXPECT_TRUE(messages.Texts().empty());
    ASSERT_EQ(waveLength, frames * 2 * static_cast<std::size_t>(g.channels));
    EXPECT_EQ(length, waveLength);
    EXPECT_EQ(byteRate, waveRate);
    ASSERT_EQ(decoded.size(), original.size());
    const std::size_t out = frames * 22050 / static_cast<std::size_t>(g.rate);
    for (std::size_t side = 0; side < 2; ++side) {
        const std::size_t c = g.channels == 1 ? 0 : side;
        const auto [wantHz, wantDb] = Measure(original, side, out / 10, out * 9 / 10);
        const auto [gotHz, gotDb] = Measure(decoded, side, out / 10, out * 9 / 10);
        EXPECT_NEAR(wantHz, hz[c], hz[c] * 0.005);
        EXPECT_NEAR(gotHz, hz[c], hz[c] * 0.005) << side;
        EXPECT_NEAR(wantDb, 20 * std::log10(amplitude[c] / std::sqrt(2.0)), 0.1);
        EXPECT_NEAR(gotDb, wantDb, 0.5) << side;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DecodeTest,
                         ::testing::Values(Golden{"flac", 1, 22050}, Golden{"flac", 2, 44100},
                                           Golden{"ogg", 1, 22050}, Golden{"ogg", 2, 44100},
                                           Golden{"opus", 1, 24000}, Golden{"opus", 2, 48000},
                                           Golden{"mp3", 1, 22050}, Golden{"mp3", 2, 44100}));

using DecodedSamples = DecodeTest;

// Ogg keeps more than two channels in the Vorbis order, FLAC in WAVE's; a lossy codec overshoots
// a full-scale square wave, which must clip, never wrap round (libsndfile's 16-bit reads wrap).
TEST_F(DecodedSamples, SurroundOrderAndOvershoot) {
    const std::vector<double> amplitude = {0.05, 0.1, 0.15, 0.2, 0.25, 0.3};
    const auto six = Sines(22050, 4410, std::vector<double>(6, 500), amplitude);
    const std::pair<const char*, std::vector<std::size_t>> layouts[] = {
        {"six.ogg", {0, 2, 1, 4, 5, 3}}, {"six.flac", {0, 1, 2, 3, 4, 5}}};
    for (const auto& [name, place] : layouts) {
        DecodedSound sound;
        ASSERT_TRUE(WriteEncodedSound(dir.Path() + name, 6, 22050, six));
        ASSERT_EQ(DecodeSoundFile(dir.Cp932(name), &sound), S_OK);
        ASSERT_EQ(sound.format.nChannels, 6);
        for (std::size_t c = 0; c < 6; ++c) {
            double sum = 0;
            for (std::size_t i = 1000; i < 4000; ++i)
                sum += std::pow(sound.samples[i * 6 + place[c]] / 32768.0, 2);
            EXPECT_NEAR(std::sqrt(sum / 1500), amplitude[c], 0.01) << name << ' ' << c;
        }
    }
    std::vector<float> square(48000);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = i % 200 < 100 ? 0.999f : -0.999f;
    for (const char* name : {"loud.ogg", "loud.opus", "loud.mp3"}) {
        DecodedSound sound;
        ASSERT_TRUE(WriteEncodedSound(dir.Path() + name, 1, 48000, square));
        ASSERT_EQ(DecodeSoundFile(dir.Cp932(name), &sound), S_OK);
        ASSERT_GE(sound.samples.size(), 40000u);
        int wrong = 0;
        for (std::size_t i = 2000; i < 40000; ++i)
            wrong += (i % 200 > 30 && i % 200 < 70 && sound.samples[i] < 16384) ||
                     (i % 200 > 130 && i % 200 < 170 && sound.samples[i] > -16384);
        EXPECT_EQ(wrong, 0) << name;
    }
}

// Only what the extension names is decoded; a long sound is kept up to the limit and no further;
// a stream cut short keeps what was decoded before the cut.
TEST_F(DecodedSamples, ExtensionsLimitsAndCutStreams) {
    for (const char* yes : {"a.flac", "b.OGG", "c\\d.Opus", "e.mP3", "dir.x/f.ogg"})
        EXPECT_TRUE(IsDecodedSoundPath(yes)) << yes;
    for (const char* no : {"a.wav", "a.mp3.wav", "mp3", "a.flac/", "a.mp4", "a.oga", ""})
        EXPECT_FALSE(IsDecodedSoundPath(no)) << no;

    ASSERT_TRUE(WriteEncodedSound(dir.Path() + "a.flac", 2, 22050,
                                  Sines(22050, 22050, {440, 660}, {0.5, 0.5})));
    const std::vector<std::uint8_t> bytes = ReadBytes(dir.Path() + "a.flac");
    DecodedSound sound;
    ASSERT_EQ(DecodeSoundBytes(bytes.data(), bytes.size(), &sound), S_OK);
    EXPECT_EQ(sound.samples.size(), 2u * 22050);
    ASSERT_EQ(DecodeSoundBytes(bytes.data(), bytes.size(), &sound, 4 * 1000 + 3), S_OK);
    EXPECT_EQ(sound.samples.size(), 2u * 1000);
    ASSERT_EQ(DecodeSoundBytes(bytes.data(), bytes.size() / 2, &sound), S_OK);
    EXPECT_GT(sound.samples.size(), 2u * 4096);
    EXPECT_LT(sound.samples.size(), 2u * 22050);
}

// A load decodes straight into a buffer of the length the header gives and keeps exactly what the
// stream holds when the header is wrong: the same bytes, never a tail of silence or a lost end.
// (libsndfile stops at a header's count that is too small; a count of 0 means none was given.)
TEST_F(DecodedSamples, HeaderLengthIsCheckedAgainstTheStream) {
    ASSERT_TRUE(
        WriteEncodedSound(dir.Path() + "tone.flac", 1, 22050, Sines(22050, 22050, {440}, {0.5})));
    const std::vector<std::uint8_t> flac = ReadBytes(dir.Path() + "tone.flac");
    // FLAC's total sample count: the low 36 bits of the big-endian word at byte 18.
    const auto withCount = [&](std::uint64_t count) {
        std::vector<std::uint8_t> bytes = flac;
        for (int i = 0; i < 5; ++i)
            bytes[25 - i] = static_cast<std::uint8_t>(count >> (8 * i));
        bytes[21] = static_cast<std::uint8_t>((flac[21] & 0xF0) | ((count >> 32) & 0x0F));
        return bytes;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::size_t frames; // 0: fewer than the whole, more than the first block
    };
    const Case cases[] = {{"exact", withCount(22050), 22050},
                          {"too small", withCount(11025), 11025},
                          {"too large", withCount(44100), 22050},
                          {"none", withCount(0), 22050},
                          {"cut", {flac.begin(), flac.begin() + flac.size() / 2}, 0}};
    SoundBufferSlot reference;
    ASSERT_EQ(device.LoadWaveFile(dir.Cp932("tone.flac"), reference), 2u * 22050);
    void* whole = nullptr;
    std::uint32_t wholeBytes = 0;
    ASSERT_EQ(reference->Lock(0, 0, &whole, &wholeBytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER),
              DS_OK);
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(dir.Path() + "case.flac", c.bytes));
        SoundBufferSlot slot;
        const std::uint32_t bytes = device.LoadWaveFile(dir.Cp932("case.flac"), slot);
        if (c.frames != 0) {
            EXPECT_EQ(bytes, 2 * c.frames) << c.what;
        } else {
            EXPECT_GT(bytes, 2u * 4096) << c.what;
            EXPECT_LT(bytes, 2u * 22050) << c.what;
        }
        void* region = nullptr;
        std::uint32_t size = 0;
        ASSERT_TRUE(slot) << c.what;
        ASSERT_EQ(slot->Lock(0, 0, &region, &size, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
        ASSERT_EQ(size, bytes);
        EXPECT_EQ(std::memcmp(region, whole, size), 0) << c.what;
    }
    EXPECT_TRUE(messages.Texts().empty());
}

// Whatever cannot be decoded is reported as an unusable WAVE file is and leaves no buffer; a
// folder or a FIFO is never read, and the FIFO must not block.
TEST_F(DecodedSamples, UnreadableFilesGetTheWaveMessage) {
    const auto tone = Sines(22050, 2205, {440}, {0.5});
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + "real.wav", 1, 22050, tone));
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + "real.flac", 1, 22050, tone));
    const auto flac = ReadBytes(dir.Path() + "real.flac");
    const std::uint8_t sync[] = {0xFF, 0xF8}; // the first audio frame: a header and no audio
    const auto audio = std::search(flac.begin(), flac.end(), std::begin(sync), std::end(sync));
    const std::vector<std::vector<std::uint8_t>> bad = {{'t', 'e', 'x', 't'},
                                                        {},
                                                        ReadBytes(dir.Path() + "real.wav"),
                                                        {flac.begin(), flac.begin() + 40},
                                                        {flac.begin(), audio + 4},
                                                        {'O', 'g', 'g', 'S', 0, 2},
                                                        {0xFF, 0xFB, 0x90, 0x00, 1, 2, 3}};
    for (const std::string ext : {"flac", "ogg", "opus", "mp3"}) {
        for (std::size_t i = 0; i < bad.size(); ++i) {
            ASSERT_TRUE(WriteBytes(dir.Path() + "bad." + ext, bad[i]));
            messages.Clear();
            SoundBufferSlot slot;
            EXPECT_EQ(device.LoadWaveFile(dir.Cp932("bad." + ext), slot), 0u) << i << ext;
            EXPECT_FALSE(slot);
            EXPECT_EQ(messages.Texts(),
                      std::vector<std::string>{Sj("Waveファイルのオープンに失敗")});
        }
        ASSERT_EQ(mkdir((dir.Path() + "folder." + ext).c_str(), 0700), 0);
        ASSERT_EQ(mkfifo((dir.Path() + "fifo." + ext).c_str(), 0600), 0);
        DecodedSound sound;
        EXPECT_EQ(DecodeSoundFile(dir.Cp932("folder." + ext), &sound), E_FAIL);
        EXPECT_EQ(DecodeSoundFile(dir.Cp932("fifo." + ext), &sound), E_FAIL);
    }
}

} // namespace
