// SPDX-License-Identifier: GPL-3.0-or-later
// A write that fails at any point (no room, no permission, a failing sync or rename) must leave
// the user's old file byte for byte, report the failure, and leave no temporary file behind.
#include "base/atomic_file.h"
#include "base/text.h"
#include "core/app_settings.h"
#include "core/set_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kOldSet = "MOK_FILE\r\nold\\\r\na.wav,old,0,65,0,0,1,0\r\n";

// A set whose file is more than one write chunk long, so a failure can hit its middle.
EffectTable BigTable() {
    EffectTable table;
    for (int i = 0; i < 4000; ++i) {
        EffectEntry e;
        e.strWavePath = "effect" + std::to_string(i) + ".wav";
        e.strName = Sj("効果音") + std::to_string(i);
        e.nKey = i % 256;
        table.Add(e);
    }
    return table;
}

std::vector<std::string> DirectoryNames(const std::string& dir) {
    std::vector<std::string> names;
    for (auto& f : std::filesystem::directory_iterator(dir))
        names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ScopedFault {
public:
    explicit ScopedFault(AtomicWriteFault f) : m_prev(SetAtomicWriteFault(std::move(f))) {}
    ~ScopedFault() { SetAtomicWriteFault(std::move(m_prev)); }

private:
    AtomicWriteFault m_prev;
};

TEST(AtomicWriteTest, FailureAtAnyStepKeepsTheOldSetFile) {
    struct Row {
        const char* what;
        AtomicWriteStep step;
        int failAtCall; // the n-th call for that step fails (1-based)
        int error;
    };
    const Row rows[] = {
        {"create", AtomicWriteStep::Create, 1, EACCES},
        {"first write", AtomicWriteStep::Write, 1, ENOSPC},
        {"write in the middle", AtomicWriteStep::Write, 2, ENOSPC},
        {"sync", AtomicWriteStep::Sync, 1, EIO},
        {"close", AtomicWriteStep::Close, 1, EIO},
        {"rename", AtomicWriteStep::Rename, 1, EXDEV},
    };
    const EffectTable table = BigTable();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TempDir dir;
        ASSERT_TRUE(WriteText(dir.Path() + "set.txt", kOldSet));
        int calls = 0;
        ScopedFault fault([&](AtomicWriteStep step) {
            return step == r.step && ++calls == r.failAtCall ? r.error : 0;
        });
        MessageRecorder messages;
        const std::string path = dir.Cp932("set.txt");
        EXPECT_FALSE(WriteSetFile(path, "new\\", table));
        EXPECT_EQ(calls, r.failAtCall); // the step was reached
        EXPECT_EQ(ReadText(dir.Path() + "set.txt"), kOldSet);
        EXPECT_EQ(DirectoryNames(dir.Path()), std::vector<std::string>({"set.txt"}));
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].text, path + Sj("に書き込み出来ません。"));
        EXPECT_EQ(messages.Messages()[0].caption, "Otomaru");
        EXPECT_EQ(table.GetSize(), 4000); // the change stays in memory
    }
}

TEST(AtomicWriteTest, FileSizeLimitHitMidWriteKeepsTheOldFile) {
    TempDir dir;
    ASSERT_TRUE(WriteText(dir.Path() + "set.txt", kOldSet));
    const EffectTable table = BigTable();
    MessageRecorder messages;

    // The kernel refuses to grow any file past the limit: the write stops part way.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 100 * 1024; // the set is about 150 KiB
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteSetFile(dir.Cp932("set.txt"), "new\\", table);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"), kOldSet);
    EXPECT_EQ(DirectoryNames(dir.Path()), std::vector<std::string>({"set.txt"}));
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>({dir.Cp932("set.txt") + Sj("に書き込み出来ません。")}));

    // Without the limit the same write goes through.
    ASSERT_TRUE(WriteSetFile(dir.Cp932("set.txt"), "new\\", table));
    EXPECT_GT(ReadText(dir.Path() + "set.txt").size(), small.rlim_cur);
}

TEST(AtomicWriteTest, ReadOnlyDirectoryKeepsTheOldFileAndSaysSo) {
    TempDir dir;
    const std::string sub = dir.Path() + "sets/";
    ASSERT_TRUE(std::filesystem::create_directory(sub));
    ASSERT_TRUE(WriteText(sub + "set.txt", kOldSet));
    ASSERT_EQ(chmod(sub.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string path = Cp932FromUtf8(sub + "set.txt");

    // Permissions do not bind the super-user, so the write runs in a child that gives them up.
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(10);
        MessageRecorder messages;
        EffectTable table;
        table.Add(EffectEntry{});
        const bool written = WriteSetFile(path, "new\\", table);
        if (written)
            _exit(11);
        if (messages.Texts() != std::vector<std::string>({path + Sj("に書き込み出来ません。")}))
            _exit(12);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 = could not drop privileges, 11 = write reported "
                                         "success, 12 = wrong or missing message";
    EXPECT_EQ(ReadText(sub + "set.txt"), kOldSet);
    EXPECT_EQ(DirectoryNames(sub), std::vector<std::string>({"set.txt"}));
}

TEST(AtomicWriteTest, ReplacementKeepsPermissionsAndLinks) {
    TempDir dir;
    ASSERT_TRUE(WriteText(dir.Path() + "real.txt", "old"));
    ASSERT_EQ(chmod((dir.Path() + "real.txt").c_str(), 0640), 0);
    std::filesystem::create_symlink(dir.Path() + "real.txt", dir.Path() + "link.txt");

    ASSERT_TRUE(WriteFileAtomically(dir.Path() + "link.txt", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() + "link.txt"));
    EXPECT_EQ(ReadText(dir.Path() + "real.txt"), "new");
    struct stat st {};
    ASSERT_EQ(stat((dir.Path() + "real.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Links of every kind stay links: the file they lead to is written in its own folder.
    std::filesystem::create_directory(dir.Path() + "sub");
    ASSERT_TRUE(WriteText(dir.Path() + "sub/far.txt", "old"));
    std::filesystem::create_symlink("sub/far.txt", dir.Path() + "relative.txt");
    std::filesystem::create_symlink("sub/none.txt", dir.Path() + "dangling.txt");
    std::filesystem::create_hard_link(dir.Path() + "sub/far.txt", dir.Path() + "hard.txt");
    struct Row {
        const char* written;
        const char* read;
    } rows[] = {{"relative.txt", "sub/far.txt"},
                {"dangling.txt", "sub/none.txt"},
                {"hard.txt", "sub/far.txt"}};
    for (const Row& row : rows) {
        ASSERT_TRUE(WriteFileAtomically(dir.Path() + row.written, row.written)) << row.written;
        EXPECT_EQ(ReadText(dir.Path() + row.read), row.written);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() + "relative.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() + "dangling.txt"));
    EXPECT_TRUE(std::filesystem::equivalent(dir.Path() + "hard.txt", dir.Path() + "sub/far.txt"));
    EXPECT_EQ(DirectoryNames(dir.Path() + "sub"),
              std::vector<std::string>({"far.txt", "none.txt"}));

    // A directory in the way is no file to replace.
    std::filesystem::create_directory(dir.Path() + "d");
    EXPECT_FALSE(WriteFileAtomically(dir.Path() + "d", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() + "d"));
}

// Read-only files are not replaced although their folder would allow it. Root may write any
// file, so the writes run as an unprivileged user.
TEST(AtomicWriteTest, FilesTheUserMayNotWriteAreLeftAlone) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    const std::string ini = "[Environment]\r\nSoundsFile=\"a.txt\"\r\n";
    ASSERT_TRUE(WriteText(dir.Path() + "set.txt", kOldSet));
    ASSERT_TRUE(WriteText(dir.Path() + "Otomaru.ini", ini));
    for (const char* name : {"set.txt", "Otomaru.ini"})
        ASSERT_EQ(chmod((dir.Path() + name).c_str(), 0444), 0);

    const std::string result = RunAsNobody([&] {
        MessageRecorder messages;
        EffectTable table;
        table.Add(EffectEntry{});
        std::string r = WriteSetFile(dir.Cp932("set.txt"), "new\\", table) ? "written" : "refused";
        AppSettings settings;
        settings.LocateFilesFrom(dir.Cp932("otomaru"));
        settings.m_strSoundsFile = "b.txt";
        settings.SaveSettings();
        r += settings.WriteValue("Environment", "SoundsFile", "b.txt") ? "|written" : "|refused";
        for (const std::string& t : messages.Texts())
            r += "|" + t;
        return r;
    });
    EXPECT_EQ(result, "refused|refused|" + dir.Cp932("set.txt") + Sj("に書き込み出来ません。"));
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"), kOldSet);
    EXPECT_EQ(ReadText(dir.Path() + "Otomaru.ini"), ini);
    EXPECT_EQ(DirectoryNames(dir.Path()), std::vector<std::string>({"Otomaru.ini", "set.txt"}));
}

TEST(AtomicWriteTest, FailedSettingsWriteKeepsTheOldFileSilently) {
    TempDir dir;
    const std::string old = "; mine\r\n[Environment]\r\nSoundsFile=\"a.txt\"\r\n";
    ASSERT_TRUE(WriteText(dir.Path() + "Otomaru.ini", old));
    AppSettings settings;
    settings.LocateFilesFrom(dir.Cp932("otomaru"));
    settings.m_strSoundsFile = "b.txt";
    MessageRecorder messages;
    {
        ScopedFault fault(
            [](AtomicWriteStep step) { return step == AtomicWriteStep::Rename ? ENOSPC : 0; });
        settings.SaveSettings();
        EXPECT_FALSE(settings.WriteValue("Environment", "SoundsFile", "b.txt"));
    }
    EXPECT_EQ(ReadText(dir.Path() + "Otomaru.ini"), old);
    EXPECT_EQ(DirectoryNames(dir.Path()), std::vector<std::string>({"Otomaru.ini"}));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(settings.m_strSoundsFile, "b.txt");
}

} // namespace
