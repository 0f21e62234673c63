// SPDX-License-Identifier: GPL-3.0-or-later
// The web remote as its users meet it: the real page in headless Chromium, driven over the
// DevTools protocol, and a flood of malformed requests. Loopback only.
#include "dialog_test_app.h"

#include "desktop/web_remote.h"
#include "tests/support/spin_until.h"
#include "tests/support/test_support.h"
#include "ui/mixer_dlg.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

const std::string kToken = "00112233445566778899aabbccddeeff";

class WebRemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureDialogTestApp();
        WriteBytes(m_dir.Path() + "a.wav",
                   MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050 * 4, 1000)));
        WriteText(m_dir.Path() + "音源.txt", "MOK_FILE\r\n" + m_dir.Cp932() + "\r\na.wav," +
                                                 Sj("長い音") + ",2,112,0,0,0,0\r\n");
        WriteText(m_dir.Path() + "b.txt",
                  "MOK_FILE\r\n" + m_dir.Cp932() + "\r\na.wav,B,0,0,0,0,0,0\r\n");
        m_dlg = std::make_unique<CMixerDlg>(m_dir.Cp932("otomaru"));
        m_dlg->Create();
        QString error;
        ASSERT_TRUE(m_dlg->WebRemote().Start(0, {}, kToken, &error)) << error.toStdString();
        m_base = QStringLiteral("127.0.0.1:%1").arg(m_dlg->WebRemote().Port());
    }
    void TearDown() override {
        m_dlg.reset();
        std::filesystem::current_path(m_savedDirectory);
    }
    // One exchange on a connection of its own: what came back before the server closed it.
    QByteArray Exchange(const QByteArray& bytes) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_dlg->WebRemote().Port());
        EXPECT_TRUE(SpinUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
        socket.write(bytes);
        QByteArray answer;
        SpinUntil([&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState ||
                   answer.contains("\r\n\r\n{");
        });
        return answer + socket.readAll();
    }
    QByteArray Post(const QByteArray& path, const QByteArray& body) {
        return Exchange("POST " + path + " HTTP/1.1\r\nAuthorization: Bearer " +
                        QByteArray::fromStdString(kToken) + "\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }
    int Playing() { return m_dlg->Controller().Playbacks().GetSize(); }

    const std::filesystem::path m_savedDirectory = std::filesystem::current_path();
    TempDir m_dir;
    MessageRecorder m_messages;
    std::unique_ptr<CMixerDlg> m_dlg;
    QString m_base;
};

// Chromium's DevTools protocol over one WebSocket: a call waits for its own answer.
class DevTools {
public:
    bool Open(const QString& url) {
        m_socket.open(QUrl(url));
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains("id"))
                m_answers[message["id"].toInt()] = message;
        });
        return SpinUntil([&] { return m_socket.state() == QAbstractSocket::ConnectedState; });
    }
    QJsonObject Call(const QString& method, const QJsonObject& params) {
        const int id = ++m_nLastId;
        QJsonObject call{{"id", id}, {"method", method}, {"params", params}};
        if (!m_strSession.isEmpty())
            call["sessionId"] = m_strSession;
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(call).toJson()));
        SpinUntil([&] { return m_answers.count(id) > 0; });
        return m_answers[id]["result"].toObject();
    }
    QJsonValue Evaluate(const QString& expression) {
        return Call("Runtime.evaluate", {{"expression", expression},
                                         {"returnByValue", true},
                                         {"awaitPromise", true}})["result"]
            .toObject()["value"];
    }
    QString m_strSession;

private:
    QWebSocket m_socket;
    std::map<int, QJsonObject> m_answers;
    int m_nLastId = 0;
};

TEST_F(WebRemoteTest, ThePageInChromiumPlaysShowsTheRowAndStopsAll) {
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    TempDir profile;
    QProcess browser;
    browser.start(chromium, {"--headless=new", "--no-sandbox", "--remote-debugging-port=0",
                             "--user-data-dir=" + QString::fromStdString(profile.Path()),
                             "http://" + m_base + "/?token=" + QString::fromStdString(kToken)});
    const std::string portFile = profile.Path() + "DevToolsActivePort";
    ASSERT_TRUE(SpinUntil([&] { return std::filesystem::exists(portFile); }, 30000));
    std::string port, path;
    ASSERT_TRUE(SpinUntil([&] {
        std::ifstream in(portFile);
        return std::getline(in, port) && std::getline(in, path) && !path.empty();
    }));
    DevTools tools;
    ASSERT_TRUE(tools.Open(QString::fromStdString("ws://127.0.0.1:" + port + path)));
    QString target;
    for (const QJsonValue info : tools.Call("Target.getTargets", {})["targetInfos"].toArray())
        if (info["type"].toString() == "page")
            target = info["targetId"].toString();
    tools.m_strSession =
        tools.Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"]
            .toString();
    ASSERT_TRUE(SpinUntil([&] {
        return tools.Evaluate("document.querySelectorAll('#effects button').length").toInt() == 1;
    }));
    EXPECT_EQ(tools.Evaluate("document.querySelector('#effects button').innerText").toString(),
              "長い音\nCtrl + F1");

    // Measured in the page: from the click to its row in the play list.
    const double ms = tools
                          .Evaluate(R"(new Promise((done) => {
        const list = document.getElementById('playing'), start = performance.now();
        new MutationObserver(() => { if (list.children.length) done(performance.now() - start); })
            .observe(list, {childList: true});
        document.querySelector('#effects button').click(); }))")
                          .toDouble();
    EXPECT_GT(ms, 0.0);
    EXPECT_LT(ms, 200.0);
    EXPECT_EQ(Playing(), 1);
    EXPECT_EQ(tools.Evaluate("document.querySelector('#playing li span').textContent").toString(),
              "長い音");

    tools.Evaluate("document.getElementById('stopAll').click()");
    EXPECT_TRUE(SpinUntil([&] {
        return Playing() == 0 &&
               tools.Evaluate("document.getElementById('playing').children.length").toInt() == 0;
    }));
    tools.m_strSession.clear();
    tools.Call("Browser.close", {});
    if (!browser.waitForFinished(5000))
        browser.kill(); // by its own pid
    browser.waitForFinished(5000);
}

TEST_F(WebRemoteTest, RowsSetsAndTwoThousandMalformedRequests) {
    // The commands only the page sends: a set by name, one row stopped by its id.
    EXPECT_TRUE(Post("/api/play", R"({"index":0})").startsWith("HTTP/1.1 200"));
    const QByteArray id =
        QByteArray::number(qulonglong(m_dlg->Controller().Playbacks().GetAt(0)->nId));
    EXPECT_TRUE(Post("/api/stop", "{\"id\":" + id + "}").startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(SpinUntil([&] { return Playing() == 0; }));
    EXPECT_TRUE(Post("/api/stop", "{\"id\":" + id + "}").startsWith("HTTP/1.1 422"));
    EXPECT_TRUE(Post("/api/set", R"({"name":"b.txt"})").startsWith("HTTP/1.1 200"));
    EXPECT_EQ(m_dlg->Controller().Settings().m_strSoundsFile, "b.txt");
    EXPECT_TRUE(Post("/api/set", R"({"name":"../b.txt"})").startsWith("HTTP/1.1 422"));

    const QByteArray auth = "Authorization: Bearer " + QByteArray::fromStdString(kToken) + "\r\n";
    const QByteArray bad[] = {
        "\x16\x03\x01\x02\x01\x01\xfc\x03\x03\r\n\r\n",
        "GET / HTTP/1.1\r\nX: " + QByteArray(9000, 'a') + "\r\n\r\n",
        "POST /api/play HTTP/1.1\r\n" + auth + "Content-Length: 99999\r\n\r\n",
        "POST /api/play HTTP/1.1\r\n" + auth + "Content-Length: 5\r\n\r\n{\"na\"",
        "POST /api/play HTTP/1.1\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
        "GET /api/events HTTP/1.1\r\n" + auth + "Upgrade: websocket\r\nOrigin: http://x\r\n\r\n",
        "GET /%2e%2e/etc/passwd HTTP/1.1\r\n" + auth + "\r\n",
    };
    // Refused late, but refused.
    EXPECT_TRUE(Exchange("GET /?token=0 HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 401"));
    [[maybe_unused]] const long start = ResidentKb();
    for (int i = 0; i < SoakRounds(2000); ++i) {
        const QByteArray answer = Exchange(bad[i % std::size(bad)]);
        ASSERT_TRUE(answer.startsWith("HTTP/1.1 4") || answer.startsWith("HTTP/1.1 5")) << i;
    }
    EXPECT_TRUE(Post("/api/play", R"({"name":"B"})").startsWith("HTTP/1.1 200"));
    // Connections that never finish a request do not lock the page out.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < CWebRemote::kMaxConnections; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, m_dlg->WebRemote().Port());
        idle.back()->write("GET / HTTP/1.1\r\n");
    }
    SpinUntil([&] { return idle.back()->state() == QAbstractSocket::ConnectedState; });
    EXPECT_TRUE(Post("/api/stop-all", "").startsWith("HTTP/1.1 200"));
    // Flat: the kilobytes a request could leave behind would add up to megabytes. A sanitizer
    // holds freed memory back on purpose.
#ifndef OTOMARU_TEST_SANITIZED
    EXPECT_LT(ResidentKb() - start, 4 * 1024);
#endif
}

TEST_F(WebRemoteTest, APortInUseIsToldOnceAndTheWindowGoesOn) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost));
    WriteText(m_dir.Path() + "Otomaru.ini", "[Environment]\r\nWebRemote=\"1\"\r\nWebRemotePort=\"" +
                                                std::to_string(holder.serverPort()) + "\"\r\n");
    m_dlg = std::make_unique<CMixerDlg>(m_dir.Cp932("otomaru"));
    m_messages.Clear();
    m_dlg->Create();
    EXPECT_FALSE(m_dlg->WebRemote().IsListening());
    EXPECT_TRUE(m_dlg->WebRemoteAddress().isEmpty());
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_NE(m_messages.Messages()[0].text.find(std::to_string(holder.serverPort())),
              std::string::npos);
    // The token was made all the same, for when the port is free.
    EXPECT_NE(ReadText(m_dir.Path() + "Otomaru.ini").find("WebRemoteToken=\""), std::string::npos);
}

} // namespace
