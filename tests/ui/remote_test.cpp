// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line remote end to end: the real executable sends its commands to a window of
// this process on a private bus, and over the socket where it finds no bus.
#include "dialog_test_app.h"
#include "private_bus.h"

#include "core/remote_command.h"
#include "desktop/remote.h"
#include "tests/support/test_support.h"
#include "ui/mixer_dlg.h"

#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace {

struct ProcessRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateBus::Start())
            GTEST_SKIP() << "no dbus-daemon";
        EnsureDialogTestApp();
        // Both sound until stopped: a loaded machine may take seconds between two remote runs.
        WriteBytes(m_dir.Path() + "a.wav",
                   MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050 * 4, 1000)));
        WriteText(m_dir.Path() + "音源.txt",
                  "MOK_FILE\r\n" + m_dir.Cp932() + "\r\na.wav," + Sj("長い音") +
                      ",2,112,0,0,0,0\r\na.wav,B,0,0,0,0,0,0\r\nnone.wav,C,0,50,0,0,1,0\r\n");
        m_dlg = std::make_unique<CMixerDlg>(m_dir.Cp932("otomaru"));
        m_dlg->Create();
    }
    void TearDown() override {
        m_server.reset();
        m_dlg.reset();
        std::filesystem::current_path(m_savedDirectory);
    }
    // The instance answering for the folder the executable uses.
    void Serve() {
        m_server = std::make_unique<CRemoteServer>(ExeFolder());
        ASSERT_TRUE(m_server->Listen());
        m_server->SetHandler([this](const RemoteRequest& r) {
            m_requests.push_back(r.verb);
            return r.verb == RemoteVerb::Activate ? RemoteReply{}
                                                  : RunRemoteRequest(r, m_dlg->Controller());
        });
    }
    static std::string ExeFolder() {
        return std::filesystem::path(OTOMARU_EXE).parent_path().string() + "/";
    }
    // The executable runs while this process's event loop answers it.
    ProcessRun Otomaru(const QStringList& args, bool bus = true) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS",
                   bus ? QString::fromLatin1(PrivateBus::Address()) : "unix:path=/nonexistent");
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(OTOMARU_EXE), args);
        EXPECT_TRUE(SpinUntil([&] { return process.state() == QProcess::NotRunning; }));
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    int Playing() { return m_dlg->Controller().Playbacks().GetSize(); }

    const std::filesystem::path m_savedDirectory = std::filesystem::current_path();
    TempDir m_dir;
    MessageRecorder m_messages;
    std::unique_ptr<CMixerDlg> m_dlg;
    std::unique_ptr<CRemoteServer> m_server;
    std::vector<RemoteVerb> m_requests;
};

TEST_F(RemoteTest, EachCommandOverTheBusAndOverTheSocket) {
    Serve();
    EXPECT_TRUE(m_server->OnBus());
    EXPECT_TRUE(m_server->OnSocket());
    for (bool bus : {true, false}) {
        SCOPED_TRACE(bus ? "bus" : "socket");
        const ProcessRun list = Otomaru({"--list"}, bus);
        EXPECT_EQ(list.exitCode, 0);
        EXPECT_EQ(list.out.toStdString(), "長い音\tCtrl + F1\nB\t\nC\t2\n");

        struct Case {
            QStringList args;
            int exitCode;
            int playing; // playbacks afterwards
            const char* err;
        };
        const Case cases[] = {
            {{"--play", "長い音"}, 0, 1, ""},
            {{"--play-key", "ctrl+f1"}, 0, 2, ""},
            {{"--stop-all"}, 0, 0, ""},
            {{"--play", "B"}, 0, 1, ""},
            {{"--play", "無い"}, 1, 1, "otomaru: 「無い」という効果音はありません。\n"},
            {{"--play-key", "Alt + F1"},
             1,
             1,
             "otomaru: ホットキー「Alt + F1」の効果音はありません。\n"},
            {{"--play", "C"}, 1, 1, "otomaru: 「C」の音が読み込まれていません。\n"},
            {{"--stop", "無い"}, 1, 1, "otomaru: 「無い」という効果音はありません。\n"},
            {{"--stop-all"}, 0, 0, ""},
        };
        for (const Case& c : cases) {
            const ProcessRun run = Otomaru(c.args, bus);
            EXPECT_EQ(run.exitCode, c.exitCode) << c.args.join(' ').toStdString();
            EXPECT_EQ(run.err.toStdString(), c.err);
            EXPECT_EQ(Playing(), c.playing) << c.args.join(' ').toStdString();
        }
    }
}

TEST_F(RemoteTest, NoInstanceAndOneInstancePerFolder) {
    for (bool bus : {true, false}) {
        const ProcessRun none = Otomaru({"--list"}, bus);
        EXPECT_EQ(none.exitCode, 1);
        EXPECT_EQ(none.err.toStdString(), "otomaru: このフォルダーのOtomaruは起動していません。\n");
    }
    Serve();
    // A plain start of the executable on the same folder brings the running window forward and
    // ends; another folder is free.
    CRemoteServer elsewhere(m_dir.Path());
    EXPECT_TRUE(elsewhere.Listen());
    for (bool bus : {true, false})
        EXPECT_EQ(Otomaru({}, bus).exitCode, 0) << bus;
    EXPECT_EQ(m_requests, (std::vector<RemoteVerb>{RemoteVerb::Activate, RemoteVerb::Activate}));
}

// Answered without a window; a mistyped option starts nothing, not even an Activate.
TEST_F(RemoteTest, HelpVersionAndBadOptions) {
    Serve();
    const struct {
        QStringList args;
        int exitCode;
        const char* out; // a part of standard output
        const char* err; // a part of standard error
    } cases[] = {
        {{"--help"}, 0, "--play-key", ""},
        {{"-h"}, 0, "終了コード", ""},
        {{"--version"}, 0, "Otomaru " OTOMARU_VERSION "\n", ""},
        {{"--bogus"}, 2, "", "bogus"},
        {{"--paly", "Beta"}, 2, "", "paly"},
        {{"--list", "extra"}, 2, "", "extra"},
        {{"--play"}, 2, "", "--play"},
    };
    for (const auto& c : cases) {
        const ProcessRun run = Otomaru(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(run.out.contains(QString::fromUtf8(c.out))) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.err))) << run.err.toStdString();
        EXPECT_EQ(run.out.isEmpty(), c.exitCode != 0) << c.args.join(' ').toStdString();
    }
    EXPECT_TRUE(m_requests.empty());
}

// Of two instances started at once, the one that took the lock first listens, however far it
// got; a socket that cannot be opened is said, and the bus still serves.
// A logout's SIGTERM ends the program as File → Exit does, closing a box still open on the way:
// the exit is the program's own, not the signal's, so the global hotkeys are given back.
TEST_F(RemoteTest, ASignalToQuitEndsTheProgramAsExitDoes) {
    // A copy of its own makes this folder its data folder.
    const QString exe = QString::fromStdString(m_dir.Path() + "otomaru");
    ASSERT_TRUE(QFile::copy(QStringLiteral(OTOMARU_EXE), exe));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromLatin1(PrivateBus::Address()));
    QProcess window;
    window.setProcessEnvironment(env);
    window.start(exe, {});
    const auto answers = [&] {
        QProcess list;
        list.setProcessEnvironment(env);
        list.start(exe, {"--list"});
        return list.waitForFinished(5000) && list.exitCode() == 0;
    };
    ASSERT_TRUE(SpinUntil(answers, 20000));
    kill(static_cast<pid_t>(window.processId()), SIGTERM);
    ASSERT_TRUE(SpinUntil([&] { return window.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 0);
}

TEST_F(RemoteTest, TheLockDecidesAndAFailedListenIsReported) {
    QLockFile first(RemoteSocketPath(m_dir.Path()) + ".lock");
    ASSERT_TRUE(first.tryLock(0));
    EXPECT_FALSE(CRemoteServer(m_dir.Path()).Listen());
    first.unlock();

    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const std::string tooLong = m_dir.Path() + std::string(120, 'x');
    std::filesystem::create_directory(tooLong);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(tooLong));
    CRemoteServer server(m_dir.Path());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(server.Listen());
    const std::string err = testing::internal::GetCapturedStderr();
    qputenv("XDG_RUNTIME_DIR", runtime);
    EXPECT_NE(err.find("待ち受けできません"), std::string::npos) << err;
    EXPECT_FALSE(server.OnSocket());
    EXPECT_TRUE(server.OnBus());
}

TEST(RemoteProtocolTest, MessagesReadBackAndBadOnesAreRefused) {
    const RemoteRequest requests[] = {{RemoteVerb::Play, "名前 with spaces"},
                                      {RemoteVerb::PlayKey, "Ctrl + F1"},
                                      {RemoteVerb::Stop, "名前"},
                                      {RemoteVerb::StopAll, ""},
                                      {RemoteVerb::List, ""}};
    for (const RemoteRequest& r : requests) {
        std::string wire = FormatRemoteRequest(r) + "List\n";
        RemoteRequest back;
        ASSERT_EQ(TakeRemoteRequest(wire, back), RemoteParse::Done);
        EXPECT_EQ(back, r);
        EXPECT_EQ(wire, "List\n"); // only the one message was taken
    }
    const std::pair<std::string, RemoteParse> lines[] = {
        {"Play", RemoteParse::Incomplete},
        {"Play\n", RemoteParse::Bad},
        {"List x\n", RemoteParse::Bad},
        {"Shutdown\n", RemoteParse::Bad},
        {"play x\n", RemoteParse::Bad},
        {std::string("Play a\0b\n", 9), RemoteParse::Bad},
        {std::string(kMaxRemoteMessage + 1, 'x'), RemoteParse::Bad},
    };
    for (const auto& [line, expected] : lines) {
        std::string wire = line;
        RemoteRequest r;
        EXPECT_EQ(TakeRemoteRequest(wire, r), expected) << line.substr(0, 20);
    }
    const std::pair<std::string, RemoteParse> replies[] = {
        {"0 3\nab", RemoteParse::Incomplete},  {"0 3\nabc", RemoteParse::Done},
        {"2 0\n", RemoteParse::Bad},           {"0 -1\n", RemoteParse::Bad},
        {"0 99999999999\n", RemoteParse::Bad}, {"0\n", RemoteParse::Bad},
    };
    for (const auto& [text, expected] : replies) {
        std::string wire = text;
        RemoteReply r;
        EXPECT_EQ(TakeRemoteReply(wire, r), expected) << text;
    }
}

} // namespace
