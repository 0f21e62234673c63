// SPDX-License-Identifier: GPL-3.0-or-later
// The web remote on loopback: from an HTTP POST /api/play sent by a client to the answer, and to
// the news of that play on a page's WebSocket, median and 99th percentile over many plays. The
// client runs on a thread of its own with plain sockets, the window's loop serves. Prints
// figures; asserts nothing.
//
//   ui_web_remote [plays=1000]
#include "bench/bench_timing.h"
#include "desktop/web_remote.h"
#include "ui/mixer_dlg.h"

#include <QApplication>
#include <QEventLoop>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string kToken = "0123456789abcdef0123456789abcdef";

int Connect(quint16 port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads until `until` is in what came; false when the peer closed first.
bool ReadUntil(int fd, std::string& got, const std::string& until) {
    char chunk[4096];
    while (got.find(until) == std::string::npos) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        got.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

std::string Post(const std::string& path, const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + kToken +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A whole answer off the front of `got`: its head and as many bytes as it says.
bool TakeAnswer(int fd, std::string& got) {
    if (!ReadUntil(fd, got, "\r\n\r\n"))
        return false;
    const std::size_t head = got.find("\r\n\r\n") + 4;
    const std::size_t at = got.find("Content-Length: ");
    const std::size_t length = std::strtoul(got.c_str() + at + 16, nullptr, 10);
    while (got.size() < head + length) {
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        got.append(chunk, static_cast<std::size_t>(n));
    }
    got.erase(0, head + length);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int plays = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);

    // The demo set that the build puts beside the executable, in a folder of our own.
    char pattern[] = "/tmp/otomaru-bench-web-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = std::string(pattern) + "/";
    const std::filesystem::path exeFolder = std::filesystem::path(OTOMARU_EXE).parent_path();
    std::filesystem::copy(exeFolder / "demo", dir + "demo");
    std::filesystem::copy(exeFolder / "\xe9\x9f\xb3\xe6\xba\x90.txt", dir); // 音源.txt
    auto dlg = std::make_unique<CMixerDlg>(dir + "otomaru");
    dlg->Create();
    QString error;
    if (!dlg->WebRemote().Start(0, {}, kToken, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const quint16 port = dlg->WebRemote().Port();

    std::vector<double> answered, told;
    QEventLoop loop;
    std::thread client([&] {
        const int api = Connect(port);
        const int events = Connect(port);
        const std::string upgrade =
            "GET /api/events?token=" + kToken +
            " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        std::string news;
        if (api >= 0 && events >= 0 &&
            write(events, upgrade.data(), upgrade.size()) == ssize_t(upgrade.size()) &&
            ReadUntil(events, news, "\"state\"")) {
            std::string got;
            const std::string play = Post("/api/play", R"({"index":0})");
            const std::string stop = Post("/api/stop-all", "");
            for (int i = 0; i < plays; ++i) {
                news.clear();
                const std::uint64_t start = NowNs();
                if (write(api, play.data(), play.size()) != ssize_t(play.size()) ||
                    !TakeAnswer(api, got))
                    break;
                answered.push_back(double(NowNs() - start) / 1000.0);
                if (!ReadUntil(events, news, "\"started\""))
                    break;
                told.push_back(double(NowNs() - start) / 1000.0);
                if (write(api, stop.data(), stop.size()) != ssize_t(stop.size()) ||
                    !TakeAnswer(api, got))
                    break;
            }
        }
        close(api);
        close(events);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    client.join();
    Report("HTTP POST /api/play -> its answer", answered);
    Report("HTTP POST /api/play -> the WebSocket's news", told);
    dlg.reset();
    std::filesystem::remove_all(dir);
    return answered.size() == static_cast<std::size_t>(plays) ? 0 : 1;
}
