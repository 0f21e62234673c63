// SPDX-License-Identifier: GPL-3.0-or-later
// OSC control end to end: liblo's own oscsend fires an effect of a window of this process, a
// subscriber hears the play list, and bad datagrams are dropped without cost.
#include "dialog_test_app.h"

#include "desktop/osc_remote.h"
#include "tests/support/spin_until.h"
#include "tests/support/test_support.h"
#include "ui/mixer_dlg.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <unistd.h>

namespace {

std::string Padded(std::string s) {
    s.resize((s.size() + 4) / 4 * 4, '\0');
    return s;
}
std::string Osc(const std::string& path, const std::string& types = "",
                const std::vector<std::string>& strings = {}) {
    std::string message = Padded(path) + Padded("," + types);
    for (const std::string& s : strings)
        message += Padded(s);
    return message;
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// Binds the socket on loopback (port 0: a free one) and returns its port.
std::uint16_t Bind(int fd, std::uint16_t port = 0) {
    sockaddr_in address = Loopback(port);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

#ifdef OTOMARU_TEST_SANITIZED
constexpr long kRssSlackKb = 16 * 1024; // AddressSanitizer holds freed memory back a while
#else
constexpr long kRssSlackKb = 1024;
#endif

class OscRemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureDialogTestApp();
        WriteBytes(m_dir.Path() + "a.wav",
                   MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050 * 4, 1000)));
        WriteText(m_dir.Path() + "音源.txt", "MOK_FILE\r\n" + m_dir.Cp932() + "\r\na.wav," +
                                                 Sj("長い音") + ",2,112,0,0,0,0\r\n");
        m_nPeerPort = Bind(m_peer);
    }
    void TearDown() override {
        m_osc.reset();
        m_dlg.reset();
        close(m_peer);
        std::filesystem::current_path(m_savedDirectory);
    }
    // The window and its OSC as the program starts them; the peer then talks to that port only.
    void Start(std::uint16_t port) {
        WriteText(m_dir.Path() + "Otomaru.ini",
                  "[Environment]\r\nOscPort=\"" + std::to_string(port) + "\"\r\n");
        m_dlg = std::make_unique<CMixerDlg>(m_dir.Cp932("otomaru"));
        m_dlg->Create();
        m_osc = StartOscRemote(m_dlg->Controller());
        const sockaddr_in to = Loopback(m_osc ? m_osc->Port() : 0);
        connect(m_peer, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    void Send(const std::string& datagram) { send(m_peer, datagram.data(), datagram.size(), 0); }
    // What came back, until `count` datagrams have.
    std::vector<std::string> Heard(std::size_t count) {
        std::vector<std::string> heard;
        char buffer[1024];
        SpinUntil([&] {
            for (ssize_t n; (n = recv(m_peer, buffer, sizeof buffer, 0)) > 0;)
                heard.emplace_back(buffer, static_cast<std::size_t>(n));
            return heard.size() >= count;
        });
        return heard;
    }
    static std::uint16_t FreePort() { // nobody's when asked
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const std::uint16_t port = Bind(fd);
        close(fd);
        return port;
    }
    int Playing() { return m_dlg->Controller().Playbacks().GetSize(); }

    const std::filesystem::path m_savedDirectory = std::filesystem::current_path();
    TempDir m_dir;
    MessageRecorder m_messages;
    std::unique_ptr<CMixerDlg> m_dlg;
    std::unique_ptr<COscRemote> m_osc;
    int m_peer = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    std::uint16_t m_nPeerPort = 0;
};

TEST_F(OscRemoteTest, OscsendPlaysAndASubscriberHearsThePlayList) {
    Start(FreePort());
    ASSERT_TRUE(m_osc);

    Send(Osc("/otomaru/subscribe"));
    ASSERT_TRUE(SpinUntil([&] { return m_osc->Subscribers() == 1; }));
    QProcess oscsend;
    oscsend.start("oscsend",
                  {"127.0.0.1", QString::number(m_osc->Port()), "/otomaru/play", "s", "長い音"});
    ASSERT_TRUE(SpinUntil([&] { return oscsend.state() == QProcess::NotRunning; }));
    ASSERT_TRUE(SpinUntil([&] { return Playing() == 1; }));
    Send(Osc("/otomaru/play_key", "s", {"ctrl+f1"}));
    ASSERT_TRUE(SpinUntil([&] { return Playing() == 2; }));
    Send(Osc("/otomaru/stop", "s", {"長い音"}));
    ASSERT_TRUE(SpinUntil([&] { return Playing() == 0; }));
    Send(Osc("/otomaru/play", "s", {"無い"}));
    const std::string playing = Osc("/otomaru/playing", "s", {"長い音"});
    const std::string stopped = Osc("/otomaru/stopped", "s", {"長い音"});
    const std::string none = Osc("/otomaru/error", "s", {"「無い」という効果音はありません。"});
    EXPECT_EQ(Heard(5), (std::vector<std::string>{playing, playing, stopped, stopped, none}));

    // Gone from the list, the peer hears only the answers to what it sends itself.
    Send(Osc("/otomaru/unsubscribe"));
    Send(Osc("/otomaru/play", "s", {"長い音"}));
    Send(Osc("/otomaru/stop_all"));
    Send(Osc("/otomaru/play", "s", {"無い"}));
    EXPECT_EQ(Heard(1), std::vector<std::string>{none});
}

TEST_F(OscRemoteTest, BadDatagramsAreDroppedWithoutCost) {
    Start(m_nPeerPort); // taken: said once, and the window goes on
    EXPECT_FALSE(m_osc);
    ASSERT_EQ(m_messages.Texts().size(), 1u);
    EXPECT_NE(m_messages.Texts()[0].find(std::to_string(m_nPeerPort)), std::string::npos);
    m_dlg.reset();
    Start(FreePort());
    ASSERT_TRUE(m_osc);

    const std::string valid = Osc("/otomaru/play", "s", {"長い音"});
    const std::string bad[] = {Osc("/otomaru/play", "i", {"\1\2\3\4"}),
                               Osc("/otomaru/play", "ss", {"長い音", "x"}),
                               Osc("/otomaru/play"),
                               Osc("/otomaru/stop_all", "s", {"x"}),
                               Osc("/otomaru/plays", "s", {"長い音"}),
                               Osc("/otomaru/play", "s", {"\xFF\xFE"}),
                               Padded("/otomaru/play") + Padded("長い音"),
                               "#bundle" + std::string(9, '\0') + valid,
                               std::string(9000, '/'),
                               ""};
    std::mt19937 random(36);
    const auto flood = [&](int count) {
        for (int i = 0; i < count; ++i) {
            std::string datagram = bad[i % std::size(bad)];
            if (i % 3 == 1) // cut anywhere
                datagram = valid.substr(0, random() % valid.size());
            else if (i % 3 == 2) // noise after a slash
                for (std::size_t k = 1; k < datagram.size(); k += 1 + random() % 7)
                    datagram[k] = static_cast<char>(random());
            Send(datagram);
            // A marker answered after each hundred: the socket's buffer never overflows.
            if (i % 100 == 99) {
                Send(Osc("/otomaru/play", "s", {"無い"}));
                ASSERT_EQ(Heard(1).size(), 1u);
            }
        }
    };
    flood(200);
    const long before = ResidentKb();
    flood(2000);
    EXPECT_LE(ResidentKb() - before, kRssSlackKb) << "kB";
    EXPECT_EQ(Playing(), 0);
    Send(valid);
    EXPECT_TRUE(SpinUntil([&] { return Playing() == 1; }));
}

} // namespace
