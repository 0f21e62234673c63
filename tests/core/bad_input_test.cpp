// SPDX-License-Identifier: GPL-3.0-or-later
// Set and settings files at the edges a user's disk can produce: huge files, huge lines, a
// directory where a file should be, files we may not read. Each gives its message or is skipped,
// none takes pathological time, and a write after such a read loses no effect line.
#include "audio/wave_file.h"
#include "base/text.h"
#include "core/app_settings.h"
#include "core/set_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kMagic = "MOK_FILE\r\n";

std::string EffectLine(int i) {
    return "s" + std::to_string(i) + ".wav," + Sj("効果") + std::to_string(i) + "," +
           std::to_string(i % 8) + "," + std::to_string(i % 256) + "," +
           std::to_string(i % 20001 - 10000) + "," + std::to_string(-(i % 10001)) + "," +
           std::to_string(i % 7) + "," + std::to_string(i) + "\r\n";
}

// Every field of every entry, so that two tables compare in one expectation.

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct BadInputFixture : ::testing::Test {
    TempDir dir;
    MessageRecorder messages;
    EffectTable table;
    std::string waveDir = "unchanged";
    std::string SetPath() const { return dir.Cp932("set.txt"); }
    // Nothing loads: every effect stays in the table without a sound.
    bool Read(const std::string& path) { return ReadSetFile(path, table, waveDir, nullptr); }
};

TEST_F(BadInputFixture, HundredThousandEffectLinesReadAndWriteBackWhole) {
    constexpr int kLines = 100000;
    std::string text = kMagic + "snd\\\r\n";
    for (int i = 0; i < kLines; ++i)
        text += EffectLine(i);
    ASSERT_TRUE(WriteText(dir.Path() + "set.txt", text));

    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Read(SetPath()));
    const double readSeconds = SecondsSince(start);
    ASSERT_EQ(table.GetSize(), kLines);
    EXPECT_EQ(TableRows(table).back(), Sj("s99999.wav|効果99999|7|159|9995|-9990|4|99999"));

    start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WriteSetFile(SetPath(), waveDir, table));
    const double writeSeconds = SecondsSince(start);
    // Written back byte for byte: nothing lost, nothing reordered.
    EXPECT_TRUE(ReadText(dir.Path() + "set.txt") == text);
    EXPECT_TRUE(messages.Messages().empty());
    std::printf("[ figures ] %d effect lines: read %.3f s, write %.3f s\n", kLines, readSeconds,
                writeSeconds);
}

// A megabyte line is taken in 4095-byte pieces; the lines around it keep their meaning.
TEST_F(BadInputFixture, MegabyteLinesArePiecesAndTheirNeighboursSurvive) {
    const std::string mega(1024 * 1024, 'x');
    // A megabyte of valid-looking effect lines without one line end between them.
    std::string glued;
    while (glued.size() < 1024 * 1024)
        glued += "g.wav,glued,0,0,0,0,1,0;";
    struct Row {
        const char* what;
        std::string text;
        std::string waveDir;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"long name field",
         kMagic + "d\\\r\n" + EffectLine(1) + "a.wav," + mega + ",0,0,0,0,1,0\r\n" + EffectLine(2),
         "d\\",
         {Sj("効果1"), Sj("効果2")}},
        {"long comment", kMagic + "d\\\r\n/" + mega + "\r\n" + EffectLine(3), "d\\", {Sj("効果3")}},
        {"long WAVE directory",
         kMagic + mega + "\r\n" + EffectLine(4),
         std::string(4095, 'x'),
         {Sj("効果4")}},
        {"glued lines", kMagic + "d\\\r\n" + glued + "\r\n" + EffectLine(5), "d\\", {}},
        {"no line end at all", kMagic + "d\\\r\n" + mega, "d\\", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(WriteText(dir.Path() + "set.txt", r.text));
        ASSERT_TRUE(Read(SetPath()));
        EXPECT_EQ(waveDir, r.waveDir);
        std::vector<std::string> names;
        for (int i = 0; i < table.GetSize(); ++i)
            names.push_back(table.GetAt(i).strName);
        if (std::string(r.what) == "glued lines") {
            // Each 4095-byte piece is one line: its first eight fields make one effect.
            EXPECT_EQ(table.GetSize(), static_cast<int>((glued.size() + 4094) / 4095) + 1);
            EXPECT_EQ(names.back(), Sj("効果5"));
        } else {
            EXPECT_EQ(names, r.names);
        }
        // Whatever was read is written back and reads the same.
        const std::vector<std::string> before = TableRows(table);
        ASSERT_TRUE(WriteSetFile(SetPath(), waveDir, table));
        ASSERT_TRUE(Read(SetPath()));
        EXPECT_EQ(TableRows(table), before);
        EXPECT_TRUE(messages.Messages().empty());
    }
}

TEST_F(BadInputFixture, DirectoryInPlaceOfTheSetFileCannotBeReadOrWritten) {
    ASSERT_TRUE(std::filesystem::create_directory(dir.Path() + "set.txt"));
    EffectEntry kept;
    kept.strName = "kept";
    table.Add(kept);
    EXPECT_FALSE(Read(SetPath()));
    EXPECT_EQ(table.GetSize(), 0);
    EXPECT_EQ(waveDir, "unchanged");
    ASSERT_EQ(messages.Texts(), std::vector<std::string>{SetPath() + Sj("が読み込めません。")});
    messages.Clear();

    table.Add(kept);
    EXPECT_FALSE(WriteSetFile(SetPath(), "d\\", table));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{SetPath() + Sj("に書き込み出来ません。")});
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() + "set.txt"));
}

TEST_F(BadInputFixture, DirectoryInPlaceOfTheSettingsFileKeepsTheDefaultInMemory) {
    ASSERT_TRUE(std::filesystem::create_directory(dir.Path() + "Otomaru.ini"));
    AppSettings settings;
    settings.LocateFilesFrom(dir.Cp932("otomaru"));
    settings.LoadSettings();
    EXPECT_EQ(settings.m_strSoundsFile, DefaultSoundsFile());
    settings.m_strSoundsFile = "b.txt";
    settings.SaveSettings();
    EXPECT_EQ(settings.m_strSoundsFile, "b.txt");
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() + "Otomaru.ini"));
    EXPECT_TRUE(messages.Messages().empty()); // the settings never complain
}

// A FIFO or a device where a file belongs would block open() on the window's thread for ever
// (the alarm ends the test if one does): each is refused before a byte is read.
TEST_F(BadInputFixture, SpecialFilesAreRefusedWithoutBlocking) {
    ASSERT_EQ(mkfifo((dir.Path() + "fifo").c_str(), 0644), 0);
    std::filesystem::create_symlink("/dev/zero", dir.Path() + "device");
    alarm(60);
    for (const char* special : {"fifo", "device"}) {
        SCOPED_TRACE(special);
        messages.Clear();
        EXPECT_FALSE(Read(dir.Cp932(special)));
        EXPECT_EQ(messages.Texts(),
                  std::vector<std::string>{dir.Cp932(special) + Sj("が読み込めません。")});
        CWaveFile wave;
        EXPECT_EQ(wave.Open(dir.Cp932(special)), E_FAIL);

        std::filesystem::rename(dir.Path() + special, dir.Path() + "Otomaru.ini");
        AppSettings settings;
        settings.LocateFilesFrom(dir.Cp932("otomaru"));
        settings.LoadSettings();
        EXPECT_EQ(settings.m_strSoundsFile, DefaultSoundsFile());
        std::filesystem::rename(dir.Path() + "Otomaru.ini", dir.Path() + special);
    }
    alarm(0);
    EXPECT_TRUE(std::filesystem::is_fifo(dir.Path() + "fifo"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() + "device"));
}

TEST(BadInputTest, UnreadableFilesAreReportedOrDefaultedAndNeverOverwritten) {
    TempDir dir;
    // The unprivileged child must reach the directory and may write in it.
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    const std::string set = kMagic + "d\\\r\n" + EffectLine(1);
    const std::string ini = "[Environment]\r\nSoundsFile=\"mine.txt\"\r\n[Other]\r\nk=v\r\n";
    ASSERT_TRUE(WriteText(dir.Path() + "set.txt", set));
    ASSERT_TRUE(WriteText(dir.Path() + "Otomaru.ini", ini));
    ASSERT_EQ(chmod((dir.Path() + "set.txt").c_str(), 0), 0);
    ASSERT_EQ(chmod((dir.Path() + "Otomaru.ini").c_str(), 0), 0);

    const std::string result = RunAsNobody([&] {
        if (std::FILE* f = std::fopen((dir.Path() + "set.txt").c_str(), "rb")) {
            std::fclose(f);
            return std::string("the file is readable");
        }
        MessageRecorder messages;
        EffectTable table;
        table.Add(EffectEntry());
        std::string waveDir = "unchanged";
        const bool read = ReadSetFile(dir.Cp932("set.txt"), table, waveDir, nullptr);
        AppSettings settings;
        settings.LocateFilesFrom(dir.Cp932("otomaru"));
        settings.LoadSettings();
        const std::string loaded = settings.m_strSoundsFile;
        settings.m_strSoundsFile = "other.txt";
        settings.SaveSettings();
        std::string r = std::string(read ? "read" : "refused") + "|" +
                        std::to_string(table.GetSize()) + "|" + waveDir + "|" + loaded;
        for (const std::string& t : messages.Texts())
            r += "|" + t;
        return r;
    });
    EXPECT_EQ(result, "refused|0|unchanged|" + DefaultSoundsFile() + "|" + dir.Cp932("set.txt") +
                          Sj("が読み込めません。"));
    // The default was not written over a file that could not be read: its other keys live.
    ASSERT_EQ(chmod((dir.Path() + "Otomaru.ini").c_str(), 0644), 0);
    ASSERT_EQ(chmod((dir.Path() + "set.txt").c_str(), 0644), 0);
    EXPECT_EQ(ReadText(dir.Path() + "Otomaru.ini"), ini);
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"), set);
}

} // namespace
