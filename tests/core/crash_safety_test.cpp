// SPDX-License-Identifier: GPL-3.0-or-later
// A writer killed at any moment (power cut, kill -9, crash) must leave the set file and the
// settings file whole: byte for byte the old or the new content, never a mix, never empty. A
// temporary file it leaves behind must never be offered as a set.
#include "base/atomic_file.h"
#include "base/text.h"
#include "core/app_settings.h"
#include "core/set_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// Two sets of clearly different sizes, both longer than one write chunk, so that a file cut
// short or spliced from both can never pass for either.
EffectTable MakeTable(const std::string& tag, int count) {
    EffectTable table;
    for (int i = 0; i < count; ++i) {
        EffectEntry e;
        e.strWavePath = tag + "\\sound" + std::to_string(i) + ".wav";
        e.strName = Sj("効果音") + tag + std::to_string(i);
        e.nKey = 0x30 + i % 10;
        e.nVolume = -(i % 10000);
        e.nRepeat = 1 + i % 5;
        table.Add(e);
    }
    return table;
}

// What a set selector built from "*.txt" would list (the wildcard ignores case).
bool ListedAsSet(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".txt";
}

// Names in the directory other than the ones the test itself made.
std::vector<std::string> Leftovers(const std::string& dir, const std::vector<std::string>& known) {
    std::vector<std::string> names;
    for (auto& f : std::filesystem::directory_iterator(dir)) {
        std::string name = f.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end())
            names.push_back(name);
    }
    return names;
}

void RemoveLeftovers(const std::string& dir, const std::vector<std::string>& names) {
    for (const std::string& n : names)
        std::filesystem::remove(dir + n);
}

struct Contents {
    std::string setA, setB, iniA, iniB;
};

class CrashSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_setPath = m_dir.Cp932("set.txt");
        m_settings.LocateFilesFrom(m_dir.Cp932("otomaru"));
        // Both contents as the real writers produce them, then the starting state: A.
        ASSERT_TRUE(WriteSetFile(m_setPath, "B\\", m_tableB));
        m_expected.setB = ReadText(m_dir.Path() + "set.txt");
        ASSERT_TRUE(WriteSetFile(m_setPath, "A\\", m_tableA));
        m_expected.setA = ReadText(m_dir.Path() + "set.txt");
        m_settings.m_strSoundsFile = "b.txt";
        m_settings.SaveSettings();
        m_expected.iniB = ReadText(m_dir.Path() + "Otomaru.ini");
        m_settings.m_strSoundsFile = "a.txt";
        m_settings.SaveSettings();
        m_expected.iniA = ReadText(m_dir.Path() + "Otomaru.ini");
        ASSERT_NE(m_expected.setA, m_expected.setB);
        ASSERT_NE(m_expected.iniA, m_expected.iniB);
        ASSERT_GT(m_expected.setB.size(), 64u * 1024u); // more than one write chunk
    }

    // The writer process: alternates both files between their two contents until killed.
    // Writes one byte to progressFd after each set file write, so that the kills can be spread
    // over both contents without guessing how long a write takes.
    [[noreturn]] void RunWriter(int progressFd) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (long i = 1; i < 1000000; ++i) {
            const bool b = i % 2 == 1;
            WriteSetFile(m_setPath, b ? "B\\" : "A\\", b ? m_tableB : m_tableA);
            const char one = 1;
            (void)!write(progressFd, &one, 1);
            m_settings.m_strSoundsFile = b ? "b.txt" : "a.txt";
            m_settings.SaveSettings();
        }
        _exit(0);
    }

    // Both files must each be one of their two whole contents.
    void ExpectWholeFiles(const char* when) {
        SCOPED_TRACE(when);
        const std::string set = ReadText(m_dir.Path() + "set.txt");
        EXPECT_TRUE(set == m_expected.setA || set == m_expected.setB)
            << "set file of " << set.size() << " bytes is neither content";
        const std::string ini = ReadText(m_dir.Path() + "Otomaru.ini");
        EXPECT_TRUE(ini == m_expected.iniA || ini == m_expected.iniB)
            << "settings file is neither content: " << ini;
        // The file still reads as a set, with every effect line.
        EffectTable table;
        std::string waveDir;
        MessageRecorder messages;
        ASSERT_TRUE(ReadSetFile(m_setPath, table, waveDir, nullptr));
        EXPECT_TRUE(table.GetSize() == m_tableA.GetSize() || table.GetSize() == m_tableB.GetSize());
        EXPECT_TRUE(messages.Messages().empty());
    }

    TempDir m_dir;
    std::string m_setPath;
    AppSettings m_settings;
    const EffectTable m_tableA = MakeTable("A", 600);
    const EffectTable m_tableB = MakeTable("B", 1500);
    Contents m_expected;
    const std::vector<std::string> m_known = {"set.txt", "Otomaru.ini"};
};

TEST_F(CrashSafetyTest, KilledAtRandomMomentsLeavesOldOrNewContent) {
    constexpr int kKills = SoakRounds(200);
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> writesFirst(1, 2);
    std::uniform_int_distribution<long> delayUs(0, 8000);
    int killsAfterA = 0;
    int killsAfterB = 0;
    int killsMidWrite = 0; // a temporary file was left: the kill cut a write short
    int kills = 0;
    for (int k = 0; k < kKills; ++k) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            RunWriter(ready[1]);
        }
        close(ready[1]);
        for (int n = writesFirst(random); n > 0; --n) {
            char byte = 0;
            ASSERT_EQ(read(ready[0], &byte, 1), 1) << "writer ended on its own";
        }
        const timespec delay{0, delayUs(random) * 1000};
        nanosleep(&delay, nullptr);
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        close(ready[0]);
        // Killed while writing, not ended or crashed on its own.
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "kill " << k;
        ++kills;

        const std::string when = "after kill " + std::to_string(k);
        ExpectWholeFiles(when.c_str());
        (ReadText(m_dir.Path() + "set.txt") == m_expected.setA ? killsAfterA : killsAfterB)++;
        const std::vector<std::string> left = Leftovers(m_dir.Path(), m_known);
        for (const std::string& name : left)
            EXPECT_FALSE(ListedAsSet(name)) << when << ": temporary " << name;
        killsMidWrite += left.empty() ? 0 : 1;
        RemoveLeftovers(m_dir.Path(), left);
        if (HasFailure())
            break;
    }
    std::printf("[ figures ] %d kills: set file A after %d, B after %d; %d cut a write short\n",
                kills, killsAfterA, killsAfterB, killsMidWrite);
}

// The kill placed exactly before each step of a replacement, deterministically, for both files.
TEST_F(CrashSafetyTest, KilledBeforeEachStepLeavesTheOldContent) {
    struct Row {
        const char* what;
        AtomicWriteStep step;
        int atCall; // the n-th time that step comes
        bool leavesTemporary;
    };
    const Row rows[] = {
        {"before create", AtomicWriteStep::Create, 1, false},
        {"before the first chunk", AtomicWriteStep::Write, 1, true},
        {"between chunks", AtomicWriteStep::Write, 2, true},
        {"before sync", AtomicWriteStep::Sync, 1, true},
        {"before close", AtomicWriteStep::Close, 1, true},
        {"before rename", AtomicWriteStep::Rename, 1, true},
    };
    for (const bool settingsFile : {false, true}) {
        for (const Row& r : rows) {
            if (settingsFile && r.step == AtomicWriteStep::Write && r.atCall > 1)
                continue; // the settings file is one chunk
            SCOPED_TRACE(std::string(settingsFile ? "settings, " : "set, ") + r.what);
            ASSERT_TRUE(KilledAtWriteStep(r.step, r.atCall, [&] {
                if (settingsFile) {
                    m_settings.m_strSoundsFile = "b.txt";
                    m_settings.SaveSettings();
                } else {
                    WriteSetFile(m_setPath, "B\\", m_tableB);
                }
            }));

            EXPECT_EQ(ReadText(m_dir.Path() + "set.txt"), m_expected.setA);
            EXPECT_EQ(ReadText(m_dir.Path() + "Otomaru.ini"), m_expected.iniA);
            const std::vector<std::string> left = Leftovers(m_dir.Path(), m_known);
            EXPECT_EQ(left.empty(), !r.leavesTemporary);
            for (const std::string& name : left)
                EXPECT_FALSE(ListedAsSet(name)) << "temporary " << name;
            RemoveLeftovers(m_dir.Path(), left);
        }
    }
}

// After a crash, the next run must be able to write again over whatever was left behind.
TEST_F(CrashSafetyTest, WritingAfterAKillSucceedsAndReadsBack) {
    ASSERT_TRUE(KilledAtWriteStep(AtomicWriteStep::Rename, 1,
                                  [&] { WriteSetFile(m_setPath, "B\\", m_tableB); }));
    ASSERT_FALSE(Leftovers(m_dir.Path(), m_known).empty());

    MessageRecorder messages;
    ASSERT_TRUE(WriteSetFile(m_setPath, "B\\", m_tableB));
    EXPECT_EQ(ReadText(m_dir.Path() + "set.txt"), m_expected.setB);
    EXPECT_TRUE(messages.Messages().empty());
}

} // namespace
