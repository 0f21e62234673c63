// SPDX-License-Identifier: GPL-3.0-or-later
// How long an OSC message on loopback takes to reach the effect's Play call, and to come back to
// a subscriber as /otomaru/playing, median and 99th percentile over many triggers. The window,
// its OSC port and the client are those of the program; prints figures, asserts nothing.
//
//   ui_osc_trigger [triggers=1000]
#include "bench/trigger_watch.h"
#include "core/remote_command.h"
#include "desktop/osc_remote.h"
#include "ui/mixer_dlg.h"

#include <QApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string Padded(std::string s) {
    s.resize((s.size() + 4) / 4 * 4, '\0');
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const int triggers = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    char pattern[] = "/tmp/otomaru-bench-osc-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = std::string(pattern) + "/";
    QApplication app(argc, argv);

    WriteTone(dir + "tone.wav");
    {
        std::ofstream set(dir + "\xe9\x9f\xb3\xe6\xba\x90.txt", std::ios::binary); // 音源.txt
        set << "MOK_FILE\r\n" << dir << "\r\ntone.wav,tone,0,0,0,0,1,0\r\n";
        std::ofstream ini(dir + "Otomaru.ini", std::ios::binary);
        ini << "[Environment]\r\nOscPort=\"" << (20000 + getpid() % 20000) << "\"\r\n";
    }
    auto dlg = std::make_unique<CMixerDlg>(dir + "otomaru");
    dlg->Create();
    CSetController& controller = dlg->Controller();
    std::unique_ptr<COscRemote> osc = StartOscRemote(controller);
    if (!osc || controller.Effects().GetSize() != 1) {
        std::fprintf(stderr, "no OSC port, or the effect did not load\n");
        return 1;
    }
    PlayWatch watch(controller.Effects().GetAt(0).pBuffer);
    std::atomic<std::uint64_t> arrivedNs{0}, handledNs{0};
    osc->SetHandler([&](const RemoteRequest& r) {
        arrivedNs = NowNs();
        const RemoteReply reply = RunRemoteRequest(r, controller);
        handledNs = NowNs(); // the first play is with the mixer now (our own buffers)
        return reply;
    });

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(osc->Port());
    const auto send = [&](const std::string& datagram) {
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    };
    const std::string play = Padded("/otomaru/play") + Padded(",s") + Padded("tone");
    const std::string stopAll = Padded("/otomaru/stop_all") + Padded(",");
    const std::string playing = Padded("/otomaru/playing") + Padded(",s") + Padded("tone");
    const std::string stopped = Padded("/otomaru/stopped") + Padded(",s") + Padded("tone");
    send(Padded("/otomaru/subscribe") + Padded(","));

    std::vector<double> fromArrival, toHandled, toPlay, toNews;
    WhileServing([&] {
        char buffer[256];
        for (int i = 0; i < triggers; ++i) {
            watch.Arm();
            const std::uint64_t sent = NowNs();
            send(play);
            const auto hear = [&](const std::string& wanted) {
                for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 2000) == 1;) {
                    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                    if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == wanted)
                        return true;
                }
                return false;
            };
            // The news leaves before the command returns: heard before the watch is asked.
            if (hear(playing))
                toNews.push_back(static_cast<double>(NowNs() - sent) / 1000.0);
            const std::uint64_t played = watch.Wait();
            fromArrival.push_back(static_cast<double>(played - arrivedNs) / 1000.0);
            toHandled.push_back(static_cast<double>(handledNs - sent) / 1000.0);
            toPlay.push_back(static_cast<double>(played - sent) / 1000.0);
            // The next round arms the watch only once this sound has stopped.
            send(stopAll);
            hear(stopped);
        }
    });
    close(fd);
    Report("OSC: client sends -> Play handed to the mixer", toHandled);
    Report("OSC: message read -> Play seen by the watcher", fromArrival);
    Report("OSC: client sends -> Play seen by the watcher", toPlay);
    Report("OSC: client sends -> /otomaru/playing heard", toNews);
    return 0;
}
