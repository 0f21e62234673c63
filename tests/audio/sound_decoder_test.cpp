// Compressed effects: each format, written by libsndfile here, must sound like its WAVE original
// through the whole load path (frequency, length, level), land its channels in WAVE's places,
// and anything unreadable must get the WAVE reader's message and leave the slot empty.
#include "audio/sound_decoder.h"
#include "audio/sound_device.h"
#include "tests/support/encoded_sound.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <ostream>

namespace {

struct Measured {
    double frequency = 0; // Hz, from the first to the last rising zero crossing
    double levelDb = -200;
};

// One channel of interleaved stereo output at 22050 Hz, frames [from, to).
Measured Measure(const std::vector<std::int16_t>& out, int channel, std::size_t from,
                 std::size_t to) {
    Measured m;
    double sum = 0;
    double first = -1;
    double last = -1;
    int rising = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double a = out[2 * i + static_cast<std::size_t>(channel)];
        const double b = out[2 * (i + 1) + static_cast<std::size_t>(channel)];
        sum += a * a;
        if (a < 0 && b >= 0) {
            const double at = static_cast<double>(i) + a / (a - b);
            if (first < 0)
                first = at;
            last = at;
            ++rising;
        }
    }
    if (rising > 1)
        m.frequency = (rising - 1) * 22050.0 / (last - first);
    const double rms = std::sqrt(sum / static_cast<double>(to - from)) / 32768.0;
    if (rms > 0)
        m.levelDb = 20 * std::log10(rms);
    return m;
}

struct Golden {
    const char* ext;
    int channels;
    int rate;
};
void PrintTo(const Golden& g, std::ostream* os) {
    *os << g.ext << ' ' << g.channels << "ch " << g.rate;
}

class DecodeTest : public ::testing::Test {
protected:
    DecodeTest() : m_prevFactory(SetSoundOutputFactory(output.Factory())) {
        EXPECT_TRUE(device.Open(nullptr, 2, 22050, 16));
    }
    ~DecodeTest() override { SetSoundOutputFactory(m_prevFactory); }

    // Loads, plays alone and renders the whole sound plus a little silence.
    std::vector<std::int16_t> LoadAndPlay(const std::string& name, std::uint32_t* length,
                                          std::uint32_t* byteRate) {
        SoundBufferSlot slot;
        *length = device.LoadWaveFile(dir.Cp932(name), slot);
        if (!slot)
            return {};
        WAVEFORMATEX format{};
        slot->GetFormat(&format, sizeof format, nullptr);
        *byteRate = format.nAvgBytesPerSec;
        device.PlayFromStart(slot);
        const auto seconds = static_cast<double>(*length) / format.nAvgBytesPerSec;
        return output.Render(static_cast<std::size_t>(seconds * 22050) + 1024);
    }

    OfflineSoundOutput output{22050};
    SoundOutputFactory m_prevFactory;
    MessageRecorder messages;
    TempDir dir;
    CSoundDevice device;
};

class GoldenDecode : public DecodeTest, public ::testing::WithParamInterface<Golden> {};

TEST_P(GoldenDecode, SoundsLikeTheWaveOriginal) {
    const Golden& g = GetParam();
    const std::vector<double> frequencies = {750, 1250};
    const std::vector<double> amplitudes = {0.5, 0.25}; // unequal, so swapped sides show
    const auto frames = static_cast<std::size_t>(g.rate * 2 / 5 + 37);
    const std::vector<float> samples =
        Sines(g.rate, frames, {frequencies.begin(), frequencies.begin() + g.channels},
              {amplitudes.begin(), amplitudes.begin() + g.channels});
    const std::string name = std::string("e.") + g.ext;
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + "e.wav", g.channels, g.rate, samples));
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + name, g.channels, g.rate, samples));

    std::uint32_t waveLength = 0, waveRate = 0, length = 0, byteRate = 0;
    const auto original = LoadAndPlay("e.wav", &waveLength, &waveRate);
    const auto decoded = LoadAndPlay(name, &length, &byteRate);
    EXPECT_TRUE(messages.Texts().empty());
    ASSERT_EQ(waveLength, frames * 2 * static_cast<std::size_t>(g.channels));
    EXPECT_EQ(length, waveLength) << "decoded length in bytes";
    EXPECT_EQ(byteRate, waveRate);
    ASSERT_EQ(decoded.size(), original.size());

    // The middle of the sound, clear of the codecs' edges.
    const std::size_t outFrames = frames * 22050 / static_cast<std::size_t>(g.rate);
    for (int side = 0; side < 2; ++side) {
        const int channel = g.channels == 1 ? 0 : side;
        const Measured want = Measure(original, side, outFrames / 10, outFrames * 9 / 10);
        const Measured got = Measure(decoded, side, outFrames / 10, outFrames * 9 / 10);
        EXPECT_NEAR(want.frequency, frequencies[channel], frequencies[channel] * 0.005);
        EXPECT_NEAR(got.frequency, frequencies[channel], frequencies[channel] * 0.005) << side;
        EXPECT_NEAR(got.levelDb, want.levelDb, 0.5) << side;
        EXPECT_NEAR(want.levelDb, 20 * std::log10(amplitudes[channel] / std::sqrt(2.0)), 0.1);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, GoldenDecode,
                         ::testing::Values(Golden{"flac", 1, 22050}, Golden{"flac", 2, 44100},
                                           Golden{"ogg", 1, 22050}, Golden{"ogg", 2, 44100},
                                           Golden{"opus", 1, 24000}, Golden{"opus", 2, 48000},
                                           Golden{"mp3", 1, 22050}, Golden{"mp3", 2, 44100}));

// Ogg keeps more than two channels in the Vorbis order; FLAC already in WAVE's.
TEST_F(DecodeTest, SurroundChannelsLandInTheirWavePlaces) {
    const std::vector<double> amplitudes = {0.05, 0.1, 0.15, 0.2, 0.25, 0.3};
    const std::vector<float> samples = Sines(22050, 4410, std::vector<double>(6, 500), amplitudes);
    struct Row {
        const char* name;
        std::vector<int> waveSlotOfFileChannel;
    };
    for (const Row& row :
         {Row{"six.ogg", {0, 2, 1, 4, 5, 3}}, Row{"six.flac", {0, 1, 2, 3, 4, 5}}}) {
        ASSERT_TRUE(WriteEncodedSound(dir.Path() + row.name, 6, 22050, samples));
        DecodedSound sound;
        ASSERT_EQ(DecodeSoundFile(dir.Cp932(row.name), &sound), S_OK) << row.name;
        ASSERT_EQ(sound.format.nChannels, 6);
        for (std::size_t c = 0; c < 6; ++c) {
            double sum = 0;
            for (std::size_t i = 1000; i < 4000; ++i) {
                const double v =
                    sound.samples[i * 6 + static_cast<std::size_t>(row.waveSlotOfFileChannel[c])] /
                    32768.0;
                sum += v * v;
            }
            EXPECT_NEAR(std::sqrt(sum / 3000) * std::sqrt(2.0), amplitudes[c], 0.01)
                << row.name << " channel " << c;
        }
    }
}

// Only what the extension names is decoded; a long sound is kept up to the limit and no further;
// a stream cut short keeps what was decoded before the cut.
TEST_F(DecodeTest, ExtensionsLimitsAndCutStreams) {
    for (const char* yes : {"a.flac", "b.OGG", "c\\d.Opus", "e.mP3", "dir.x/f.ogg"})
        EXPECT_TRUE(IsDecodedSoundPath(yes)) << yes;
    for (const char* no : {"a.wav", "a.mp3.wav", "mp3", "a.flac/", "a.mp4", "a.oga", ""})
        EXPECT_FALSE(IsDecodedSoundPath(no)) << no;

    const std::vector<float> samples = Sines(22050, 22050, {440, 660}, {0.5, 0.5});
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + "a.flac", 2, 22050, samples));
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

// A lossy codec overshoots a full-scale square wave; the overshoot must clip, never wrap round
// to the other sign (libsndfile's own 16-bit reads wrap it).
TEST_F(DecodeTest, LossyOvershootClipsInsteadOfWrapping) {
    std::vector<float> square(48000);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = i % 200 < 100 ? 0.999f : -0.999f;
    for (const char* name : {"loud.ogg", "loud.opus", "loud.mp3"}) {
        ASSERT_TRUE(WriteEncodedSound(dir.Path() + name, 1, 48000, square));
        DecodedSound sound;
        ASSERT_EQ(DecodeSoundFile(dir.Cp932(name), &sound), S_OK) << name;
        ASSERT_GE(sound.samples.size(), 40000u) << name;
        int wrong = 0;
        for (std::size_t i = 2000; i < 40000; ++i) {
            const std::size_t phase = i % 200;
            if (phase > 30 && phase < 70 && sound.samples[i] < 16384)
                ++wrong;
            if (phase > 130 && phase < 170 && sound.samples[i] > -16384)
                ++wrong;
        }
        EXPECT_EQ(wrong, 0) << name;
    }
}

// Whatever cannot be decoded is reported as an unusable WAVE file is, and leaves no buffer.
TEST_F(DecodeTest, UnreadableFilesOfEachExtensionGetTheWaveMessage) {
    const std::vector<float> samples = Sines(22050, 2205, {440}, {0.5});
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + "real.wav", 1, 22050, samples));
    ASSERT_TRUE(WriteEncodedSound(dir.Path() + "real.flac", 1, 22050, samples));
    const std::vector<std::uint8_t> wave = ReadBytes(dir.Path() + "real.wav");
    const std::vector<std::uint8_t> flac = ReadBytes(dir.Path() + "real.flac");
    const std::vector<std::uint8_t> text = {'n', 'o', 't', ' ', 's', 'o', 'u', 'n', 'd'};
    struct Bad {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Bad> bad = {
        {"text", text},
        {"empty", {}},
        {"wave inside", wave},
        {"header only", {flac.begin(), flac.begin() + 40}},
        {"ogg page of nothing", {'O', 'g', 'g', 'S', 0, 2, 0, 0}},
        {"mpeg sync of nothing", {0xFF, 0xFB, 0x90, 0x00, 1, 2, 3}},
    };
    for (const char* ext : {"flac", "ogg", "opus", "mp3"}) {
        for (const Bad& b : bad) {
            const std::string name = std::string("bad.") + ext;
            ASSERT_TRUE(WriteBytes(dir.Path() + name, b.bytes));
            messages.Clear();
            SoundBufferSlot slot;
            EXPECT_EQ(device.LoadWaveFile(dir.Cp932(name), slot), 0u) << b.what << ' ' << ext;
            EXPECT_FALSE(slot);
            ASSERT_EQ(messages.Texts(),
                      std::vector<std::string>{Sj("Waveファイルのオープンに失敗")})
                << b.what << ' ' << ext;
            EXPECT_EQ(messages.Messages()[0].caption, "Error");
        }
        // Neither a folder nor a FIFO is read; the FIFO must not block the loading thread.
        const std::string folder = std::string("folder.") + ext;
        const std::string fifo = std::string("fifo.") + ext;
        ASSERT_EQ(mkdir((dir.Path() + folder).c_str(), 0700), 0);
        ASSERT_EQ(mkfifo((dir.Path() + fifo).c_str(), 0600), 0);
        for (const std::string& name : {folder, fifo}) {
            DecodedSound sound;
            EXPECT_EQ(DecodeSoundFile(dir.Cp932(name), &sound), E_FAIL) << name;
        }
    }
}

} // namespace
