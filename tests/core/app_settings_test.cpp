// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file as a user's editor and the program both leave it: first start, hand edits,
// other sections kept, names in any case, and directories whose names hold a 0x5C trail byte.
#include "base/text.h"
#include "core/app_settings.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

struct AppSettingsFixture : ::testing::Test {
    TempDir dir;
    AppSettings settings;
    void SetUp() override { settings.LocateFilesFrom(dir.Cp932("otomaru")); }
    std::string Ini() const { return ReadText(dir.Path() + "Otomaru.ini"); }
    void WriteIni(std::string_view text) {
        ASSERT_TRUE(WriteText(dir.Path() + "Otomaru.ini", text));
    }
};

TEST(AppSettingsTest, ExecutableDirectoryIsCutAtTheRealLastSeparator) {
    struct Row {
        std::string exe;
        std::string dir;
    };
    const Row rows[] = {
        {"/opt/otomaru/otomaru", "/opt/otomaru/"},
        {"/home/a/é\\ü/otomaru", "/home/a/é\\ü/"}, // a backslash is a name's character here
        {"otomaru", ""},
    };
    for (const Row& r : rows) {
        AppSettings s;
        s.LocateFilesFrom(r.exe);
        EXPECT_EQ(s.m_strExeDir, r.dir) << r.exe;
        EXPECT_EQ(s.m_strIniPath, r.dir.empty() ? "" : r.dir + "Otomaru.ini");
    }
}

TEST(AppSettingsTest, RunningExecutableDirectoryEndsWithSlash) {
    AppSettings s;
    s.LocateFiles();
    ASSERT_FALSE(s.m_strExeDir.empty());
    EXPECT_EQ(s.m_strExeDir.back(), '/');
    EXPECT_EQ(s.m_strIniPath, s.m_strExeDir + "Otomaru.ini");
    EXPECT_EQ(s.m_strExeDir, ExecutableDirectory());
}

TEST_F(AppSettingsFixture, FirstStartCreatesTheFileWithTheDefault) {
    settings.LoadSettings();
    EXPECT_EQ(settings.m_strSoundsFile, Sj("音源.txt"));
    EXPECT_EQ(Ini(), "[Environment]\r\nSoundsFile=\"" + Sj("音源.txt") + "\"\r\n");
}

TEST_F(AppSettingsFixture, EmptyValuesCountAsMissing) {
    struct Row {
        std::string before;
        std::string after;
    };
    const std::string def = "\"" + Sj("音源.txt") + "\"";
    const Row rows[] = {
        {"[Environment]\r\nSoundsFile=\r\n", "[Environment]\r\nSoundsFile=" + def + "\r\n"},
        {"[Environment]\r\nSoundsFile=\"\"\r\n", "[Environment]\r\nSoundsFile=" + def + "\r\n"},
        {"[Environment]\r\nSoundsFile=   \r\n", "[Environment]\r\nSoundsFile=" + def + "\r\n"},
        {"[Environment]\r\n", "[Environment]\r\nSoundsFile=" + def + "\r\n"},
        {"[Other]\r\nSoundsFile=\"x.txt\"\r\n",
         "[Other]\r\nSoundsFile=\"x.txt\"\r\n[Environment]\r\nSoundsFile=" + def + "\r\n"},
        {"; note", "; note\r\n[Environment]\r\nSoundsFile=" + def + "\r\n"},
        {"[Environment]\nSoundsFile=\n", "[Environment]\nSoundsFile=" + def + "\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.before);
        WriteIni(r.before);
        settings.m_strSoundsFile = "stale";
        settings.LoadSettings();
        EXPECT_EQ(settings.m_strSoundsFile, Sj("音源.txt"));
        EXPECT_EQ(Ini(), r.after);
    }
}

TEST_F(AppSettingsFixture, ValuesAreReadWithoutTheirQuotes) {
    struct Row {
        std::string file;
        std::string value;
    };
    const Row rows[] = {
        {"[Environment]\r\nSoundsFile=\"a.txt\"\r\n", "a.txt"},
        {"[Environment]\r\nSoundsFile=" + Sj("手書き.txt") + "\r\n", Sj("手書き.txt")},
        {"[Environment]\r\nSoundsFile = \"a b.txt\" \r\n", "a b.txt"},
        {"[environment]\r\nsoundsfile=\"c.txt\"\r\n", "c.txt"},
        {"[ENVIRONMENT]\r\nSOUNDSFILE=d.txt", "d.txt"},
        {"[Environment]\r\nSoundsFile=\"half.txt\r\n", "\"half.txt"},
        {"[Environment]\r\nSoundsFileX=no\r\nSoundsFile=e.txt\r\n", "e.txt"},
        {"[Other]\r\nSoundsFile=no\r\n[Environment]\r\nSoundsFile=f.txt\r\n", "f.txt"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        WriteIni(r.file);
        settings.LoadSettings();
        EXPECT_EQ(settings.m_strSoundsFile, r.value);
        EXPECT_EQ(Ini(), r.file); // a value that was found is not written back
    }
}

TEST_F(AppSettingsFixture, MixRateIsReadAsARateAndNeverWritten) {
    struct Row {
        std::string value; // the line's value; empty = no MixRate line
        std::uint32_t rate;
    };
    const Row rows[] = {
        {"", 0},
        {"\"22050\"", 22050},
        {"48000", 48000},
        {"\"8000\"", 8000},
        {"192000", 192000},
        {"7999", 0},
        {"192001", 0},
        {"\"\"", 0},
        {"44.1k", 0},
        {"-22050", 0},
        {"99999999999999", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.value);
        const std::string file = "[Environment]\r\nSoundsFile=\"a.txt\"\r\n" +
                                 (r.value.empty() ? "" : "MixRate=" + r.value + "\r\n");
        WriteIni(file);
        settings.m_nMixRate = 1;
        settings.LoadSettings();
        settings.LoadDeviceSettings();
        EXPECT_EQ(settings.m_nMixRate, r.rate);
        EXPECT_EQ(Ini(), file);
    }
}

TEST_F(AppSettingsFixture, OscPortTurnsOscOnOnlyWithAPort) {
    const std::pair<std::string, std::uint16_t> rows[] = {
        {"", 0},      {"\"9000\"", 9000}, {"1", 1},  {"65535", 65535}, {"0", 0},
        {"65536", 0}, {"-1", 0},          {"+9", 0}, {"90a", 0},       {"\"\"", 0}};
    for (const auto& [value, port] : rows) {
        WriteIni("[Environment]\r\n" + (value.empty() ? "" : "OscPort=" + value + "\r\n") +
                 (port == 1 ? "OscAddress=\"::1\"\r\n" : ""));
        settings.m_nOscPort = 7;
        settings.LoadSettings();
        EXPECT_EQ(settings.m_nOscPort, port) << value;
        EXPECT_EQ(settings.m_strOscAddress, port == 1 ? "::1" : "127.0.0.1") << value;
    }
}

TEST_F(AppSettingsFixture, LongValueIsCutAt1023BytesWithoutSplittingACharacter) {
    std::string longName(1022, 'a');
    longName += Sj("音"); // would end at byte 1024
    WriteIni("[Environment]\r\nSoundsFile=" + longName + "\r\n");
    settings.LoadSettings();
    EXPECT_EQ(settings.m_strSoundsFile, std::string(1022, 'a'));
}

TEST_F(AppSettingsFixture, SavingChangesOnlyTheOneValue) {
    const std::string before = "; my notes\r\n"
                               "[General]\r\n"
                               "Volume=3\r\n"
                               "\r\n"
                               "[environment]\r\n"
                               "Other = keep me\r\n"
                               "soundsfile = old.txt\r\n"
                               "Last=1\r\n"
                               "\r\n"
                               "[Tail]\r\n"
                               "x=y";
    WriteIni(before);
    settings.m_strSoundsFile = Sj("新しい.txt");
    settings.SaveSettings();
    std::string expected = before;
    expected.replace(expected.find("old.txt"), 7, "\"" + Sj("新しい.txt") + "\"");
    EXPECT_EQ(Ini(), expected);

    settings.m_strSoundsFile.clear();
    settings.LoadSettings();
    EXPECT_EQ(settings.m_strSoundsFile, Sj("新しい.txt"));
}

TEST_F(AppSettingsFixture, MissingKeyIsAddedAtTheEndOfItsSection) {
    WriteIni("[Environment]\nA=1\n\n[Next]\nB=2\n");
    settings.m_strSoundsFile = "s.txt";
    settings.SaveSettings();
    EXPECT_EQ(Ini(), "[Environment]\nA=1\nSoundsFile=\"s.txt\"\n\n[Next]\nB=2\n");

    WriteIni("[Environment]\r\nA=1");
    settings.SaveSettings();
    EXPECT_EQ(Ini(), "[Environment]\r\nA=1\r\nSoundsFile=\"s.txt\"\r\n");
}

TEST_F(AppSettingsFixture, UnquotedHandWrittenValueIsSavedBackQuoted) {
    WriteIni("[Environment]\r\nSoundsFile=hand.txt\r\n");
    settings.LoadSettings();
    ASSERT_EQ(settings.m_strSoundsFile, "hand.txt");
    settings.SaveSettings();
    EXPECT_EQ(Ini(), "[Environment]\r\nSoundsFile=\"hand.txt\"\r\n");
}

// A set named with a line break (a file name may hold one) would break the file: it stays in
// memory and the file keeps every byte.
TEST_F(AppSettingsFixture, ValueWithALineBreakIsNeverWritten) {
    const std::string before = "[Environment]\r\nSoundsFile=\"a.txt\"\r\n";
    for (const char* name : {"a\nb.txt", "a\rb.txt", "a\r\n[Other]\r\nb.txt", "\n"}) {
        WriteIni(before);
        settings.m_strSoundsFile = name;
        settings.SaveSettings();
        EXPECT_FALSE(settings.WriteValue("Environment", "SoundsFile", name));
        EXPECT_EQ(Ini(), before);
        EXPECT_EQ(settings.m_strSoundsFile, name);
    }
}

TEST(AppSettingsTest, DirectoryNamedWithSoWorksEndToEnd) {
    TempDir dir;
    ASSERT_TRUE(std::filesystem::create_directory(dir.Path() + "ソ"));
    AppSettings s;
    s.LocateFilesFrom(dir.Path() + "ソ/otomaru");
    EXPECT_EQ(s.m_strExeDir, dir.Path() + "ソ/");
    s.LoadSettings();
    EXPECT_EQ(s.m_strSoundsFile, Sj("音源.txt"));
    EXPECT_EQ(ReadText(dir.Path() + "ソ/Otomaru.ini"),
              "[Environment]\r\nSoundsFile=\"" + Sj("音源.txt") + "\"\r\n");
}

TEST(AppSettingsTest, WithoutAPathNothingIsReadOrWritten) {
    AppSettings s;
    s.m_strSoundsFile = "kept.txt";
    s.LoadSettings();
    s.SaveSettings();
    EXPECT_EQ(s.m_strSoundsFile, "kept.txt");
    EXPECT_FALSE(s.WriteValue("Environment", "SoundsFile", "x"));
}

} // namespace

TEST_F(AppSettingsFixture, WebRemoteTokenIsMadeOnceAndAWeakOneReplaced) {
    const std::string weak = "abc";
    for (const std::string& stored : {std::string(), weak}) {
        WriteIni("[Environment]\r\nWebRemotePort=\"70000\"\r\nWebRemoteToken=\"" + stored +
                 "\"\r\n");
        settings.LoadSettings();
        EXPECT_EQ(settings.m_nWebRemotePort, AppSettings::kDefaultWebRemotePort);
        settings.m_bWebRemote = true;
        ASSERT_TRUE(settings.SaveWebRemote());
        const std::string made = settings.m_strWebRemoteToken;
        EXPECT_TRUE(IsWebRemoteToken(made)) << made;
        // Kept from then on, through a switch-off and a restart.
        settings.m_bWebRemote = false;
        settings.SaveWebRemote();
        settings.LoadSettings();
        settings.m_bWebRemote = true;
        settings.SaveWebRemote();
        EXPECT_EQ(settings.m_strWebRemoteToken, made);
        EXPECT_NE(Ini().find("WebRemoteToken=\"" + made + "\""), std::string::npos);
    }
    EXPECT_NE(MakeWebRemoteToken(), MakeWebRemoteToken());
}
