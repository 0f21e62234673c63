// SPDX-License-Identifier: GPL-3.0-or-later
// Where the files live: beside a writable executable, otherwise the user's data folder, made at
// first start with the installed demo set.
#include "core/data_folder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(DataFolderTest, WritableExecutableFolderStaysPortableOtherwiseTheUsersDataFolder) {
    struct Row {
        bool writable;
        const char* xdg;
        const char* home;
        std::string expected;
    };
    const Row rows[] = {
        {true, "/x", "/h", "/opt/o/bin/"},
        {false, "/x/ü 〜", "/h", "/x/ü 〜/otomaru/"},
        {false, nullptr, "/tmp/Ünïcode 〜 home", "/tmp/Ünïcode 〜 home/.local/share/otomaru/"},
        {false, "", "/h", "/h/.local/share/otomaru/"},
        {false, "relative", "/h", "/h/.local/share/otomaru/"}, // invalid, ignored
        {false, nullptr, nullptr, ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ChooseDataFolder("/opt/o/bin/", r.writable, r.xdg, r.home), r.expected)
            << r.writable << " " << (r.xdg ? r.xdg : "-") << " " << (r.home ? r.home : "-");
    EXPECT_EQ(InstalledDataFolder("/usr/bin/"), "/usr/bin/../share/otomaru/");
}

TEST(DataFolderTest, FirstStartCopiesTheDemoSetOnceAndNeverOverAFile) {
    TempDir dir;
    const std::string installed = dir.Path() + "share/otomaru/";
    ASSERT_TRUE(std::filesystem::create_directories(installed + "demo"));
    ASSERT_TRUE(WriteText(installed + "音源.txt", "demo set"));
    ASSERT_TRUE(WriteText(installed + "demo/a.wav", "wave"));
    // Installed read-only: the user's copies must still be the user's to change.
    std::filesystem::permissions(installed + "demo/a.wav", std::filesystem::perms::owner_read);

    const std::string folder = dir.Path() + "home é/.local/share/otomaru/";
    ASSERT_TRUE(PrepareDataFolder(folder, installed));
    EXPECT_EQ(ReadText(folder + "音源.txt"), "demo set");
    EXPECT_EQ(ReadText(folder + "demo/a.wav"), "wave");
    EXPECT_NE(std::filesystem::status(folder + "demo/a.wav").permissions() &
                  std::filesystem::perms::owner_write,
              std::filesystem::perms::none);

    // Before the settings are first written, a start fills in what is missing only.
    ASSERT_TRUE(WriteText(folder + "音源.txt", "changed"));
    std::filesystem::remove(folder + "demo/a.wav");
    ASSERT_TRUE(PrepareDataFolder(folder, installed));
    EXPECT_EQ(ReadText(folder + "音源.txt"), "changed");
    EXPECT_EQ(ReadText(folder + "demo/a.wav"), "wave");

    // Once the program has run there, what the user removed stays removed.
    ASSERT_TRUE(WriteText(folder + "Otomaru.ini", ""));
    std::filesystem::remove(folder + "demo/a.wav");
    ASSERT_TRUE(PrepareDataFolder(folder, installed));
    EXPECT_FALSE(std::filesystem::exists(folder + "demo/a.wav"));

    // A folder that cannot be made (a file is in the way) is reported.
    ASSERT_TRUE(WriteText(dir.Path() + "file", ""));
    EXPECT_FALSE(PrepareDataFolder(dir.Path() + "file/otomaru/", installed));
}

} // namespace
