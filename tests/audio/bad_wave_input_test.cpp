// SPDX-License-Identifier: GPL-3.0-or-later
// WAVE files a set can point at on a real disk: empty, cut short, lying about their size, a
// directory with a .wav name, plain garbage. Reading the set gives one message per file that
// exists but does not load, none for a missing one, allocates nothing the file does not hold, and
// a write afterwards still holds every effect line.
#include "audio/offline_output.h"
#include "audio/sound_device.h"
#include "audio/sound_output.h"
#include "core/set_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class BadWaveInputTest : public ::testing::Test {
protected:
    OfflineSoundOutput m_output;
    TempDir m_dir;
};

TEST_F(BadWaveInputTest, SetReadSkipsBadSoundsWithTheirMessageAndKeepsEveryLine) {
    const std::vector<std::int16_t> samples(400, 1000);
    const std::vector<std::uint8_t> good = MakePcm16Wave(1, 22050, samples);
    // A data chunk claiming 1 GiB in front of four real bytes, inside a RIFF chunk that claims
    // to hold it all.
    const std::vector<std::uint8_t> claims1g = WaveBuilder()
                                                   .Fmt(1, 1, 8000, 8)
                                                   .Data({0x80, 0x90, 0xA0, 0xB0}, 1 << 30)
                                                   .Build((1 << 30) + 36);
    std::vector<std::uint8_t> cutInHeader(good.begin(), good.begin() + 30);
    std::vector<std::uint8_t> garbage(5000);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 7919 >> 3);

    struct Row {
        const char* file;
        std::vector<std::uint8_t> bytes; // written unless the row is a directory or missing
        enum { File, Directory, Missing } kind;
        bool opens;           // loads into a buffer
        std::uint32_t length; // its data length when it loads
    };
    const Row rows[] = {
        {"good.wav", good, Row::File, true, 800},
        {"empty.wav", {}, Row::File, false, 0},
        {"claims1g.wav", claims1g, Row::File, true, 4},
        {"dir.wav", {}, Row::Directory, false, 0},
        {"cut.wav", cutInHeader, Row::File, false, 0},
        {"garbage.wav", garbage, Row::File, false, 0},
        {"missing.wav", {}, Row::Missing, false, 0},
    };
    std::string text = "MOK_FILE\r\n" + m_dir.Cp932() + "\r\n";
    for (const Row& r : rows) {
        if (r.kind == Row::File) {
            ASSERT_TRUE(WriteBytes(m_dir.Path() + r.file, r.bytes));
        } else if (r.kind == Row::Directory) {
            ASSERT_TRUE(std::filesystem::create_directory(m_dir.Path() + r.file));
        }
        text += std::string(r.file) + "," + r.file + ",0,65,0,0,1,0\r\n";
    }
    ASSERT_TRUE(WriteText(m_dir.Path() + "set.txt", text));

    CSoundDevice device;
    ASSERT_TRUE(device.Open(nullptr, 2, 22050, 16, {{}, 0, m_output.Factory()}));
    MessageRecorder messages;
    EffectTable table;
    std::string waveDir;
    ASSERT_TRUE(ReadSetFile(m_dir.Cp932("set.txt"), table, waveDir,
                            [&](const std::string& path, SoundBufferSlot& slot) {
                                return device.LoadWaveFile(path, slot);
                            }));

    std::vector<std::string> expectedMessages;
    ASSERT_EQ(table.GetSize(), static_cast<int>(std::size(rows)));
    for (int i = 0; i < table.GetSize(); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.file);
        const EffectEntry& e = table.GetAt(i);
        EXPECT_EQ(e.strName, r.file);
        EXPECT_EQ(e.IsAvailable(), r.opens);
        EXPECT_EQ(e.dwDataLength, r.length);
        if (r.kind != Row::Missing && !r.opens)
            expectedMessages.push_back(Sj("Waveファイルのオープンに失敗"));
    }
    EXPECT_EQ(messages.Texts(), expectedMessages);
    for (const auto& m : messages.Messages())
        EXPECT_EQ(m.caption, "Error");

    // The bad sounds cost the set nothing: written back, the file is what it was.
    messages.Clear();
    ASSERT_TRUE(WriteSetFile(m_dir.Cp932("set.txt"), waveDir, table));
    EXPECT_EQ(ReadText(m_dir.Path() + "set.txt"), text);
    EXPECT_TRUE(messages.Messages().empty());

    for (int i = 0; i < table.GetSize(); ++i)
        CSoundDevice::ReleaseBuffer(table.GetAt(i).pBuffer);
}

} // namespace
