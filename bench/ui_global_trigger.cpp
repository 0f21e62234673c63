// SPDX-License-Identifier: GPL-3.0-or-later
// How long a trigger from outside the window takes to reach the effect's Play call: a remote
// command's message (over the session bus, and over the local socket) and a grabbed key's X
// event, median and 99th percentile over many triggers; and the whole `otomaru --play` and
// `--play-key` processes.
// Prints figures; asserts nothing. Runs its own dbus-daemon; the X event part needs an X server
// (run it under Xvfb: DISPLAY=:N QT_QPA_PLATFORM=xcb).
//
//   ui_global_trigger [triggers=1000] [processes=50]
#include "bench/trigger_watch.h"
#include "core/remote_command.h"
#include "desktop/global_hotkeys.h"
#include "desktop/remote.h"
#include "desktop/x11_hotkey_grabber.h"
#include "ui/mixer_dlg.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QThread>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Our own session bus, ended with us.
pid_t StartBus(const std::string& dir) {
    int out[2];
    if (pipe(out) != 0)
        return 0;
    const std::string address = "--address=unix:path=" + dir + "/bus";
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], 1);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1",
               address.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char line[512] = {};
    FILE* reader = fdopen(out[0], "r");
    if (!reader || !std::fgets(line, sizeof line, reader)) {
        kill(pid, SIGTERM);
        return 0;
    }
    fclose(reader);
    std::string addr = line;
    addr.erase(addr.find_last_not_of("\r\n") + 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", addr.c_str(), 1);
    return pid;
}

} // namespace

int main(int argc, char** argv) {
    const int triggers = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int processes = argc > 2 ? std::atoi(argv[2]) : 50;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SDL_AUDIODRIVER", qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")
                                   ? QByteArray("dummy")
                                   : qgetenv("SDL_AUDIODRIVER"));
    char pattern[] = "/tmp/otomaru-bench-trigger-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = std::string(pattern) + "/";
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    const pid_t bus = StartBus(dir);
    QApplication app(argc, argv);

    WriteTone(dir + "tone.wav");
    {
        std::ofstream set(dir + "\xe9\x9f\xb3\xe6\xba\x90.txt", std::ios::binary); // 音源.txt
        set << "MOK_FILE\r\n" << dir << "\r\ntone.wav,tone,2,112,0,0,1,0\r\n";
    }
    auto dlg = std::make_unique<CMixerDlg>(dir + "otomaru");
    dlg->Create();
    CSetController& controller = dlg->Controller();
    if (controller.Effects().GetSize() != 1 || !controller.Effects().GetAt(0).IsAvailable()) {
        std::fprintf(stderr, "the effect did not load\n");
        return 1;
    }
    PlayWatch watch(controller.Effects().GetAt(0).pBuffer);
    auto stopAll = [&] {
        QMetaObject::invokeMethod(
            dlg.get(), [&] { controller.StopAll(); }, Qt::BlockingQueuedConnection);
    };

    // The instance answers for the folder the executable uses, so `otomaru --play` reaches it.
    const std::string exeFolder = std::filesystem::path(OTOMARU_EXE).parent_path().string() + "/";
    CRemoteServer server(exeFolder);
    if (!server.Listen()) {
        std::fprintf(stderr, "another instance holds %s\n", exeFolder.c_str());
        return 1;
    }
    std::atomic<std::uint64_t> arrivedNs{0};
    server.SetHandler([&](const RemoteRequest& r) {
        arrivedNs = NowNs();
        return RunRemoteRequest(r, controller);
    });
    std::printf("bus: %s, socket: %s, %d triggers\n", server.OnBus() ? "yes" : "no",
                server.OnSocket() ? "yes" : "no", triggers);

    // Over the bus: a client connection of its own, on a thread of its own.
    if (server.OnBus()) {
        std::vector<double> fromArrival, fromSend;
        WhileServing([&] {
            QDBusConnection client = QDBusConnection::connectToBus(
                QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), "bench-client");
            for (int i = 0; i < triggers; ++i) {
                stopAll();
                QDBusMessage call = QDBusMessage::createMethodCall(
                    RemoteServiceName(exeFolder), kRemoteObjectPath, kRemoteInterface, "Play");
                call << QStringLiteral("tone");
                watch.Arm();
                const std::uint64_t sent = NowNs();
                client.call(call);
                const std::uint64_t played = watch.Wait();
                fromArrival.push_back(static_cast<double>(played - arrivedNs) / 1000.0);
                fromSend.push_back(static_cast<double>(played - sent) / 1000.0);
            }
        });
        QDBusConnection::disconnectFromBus("bench-client");
        Report("bus: message arrives -> Play", fromArrival);
        Report("bus: client sends -> Play", fromSend);
    }

    // Over the socket.
    if (server.OnSocket()) {
        std::vector<double> fromArrival, fromSend;
        const std::string path = RemoteSocketPath(exeFolder).toStdString();
        WhileServing([&] {
            for (int i = 0; i < triggers; ++i) {
                stopAll();
                const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un addr{};
                addr.sun_family = AF_UNIX;
                std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
                watch.Arm();
                const std::uint64_t sent = NowNs();
                if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
                    write(fd, "Play tone\n", 10) != 10) {
                    close(fd);
                    break;
                }
                const std::uint64_t played = watch.Wait();
                char reply[64];
                while (read(fd, reply, sizeof reply) > 0) {
                }
                close(fd);
                fromArrival.push_back(static_cast<double>(played - arrivedNs) / 1000.0);
                fromSend.push_back(static_cast<double>(played - sent) / 1000.0);
            }
        });
        Report("socket: message arrives -> Play", fromArrival);
        Report("socket: client sends -> Play", fromSend);
    }

    // A grabbed key's X event, handed to the grabber as the X connection hands it over.
    dlg->GlobalHotkeys().SetEnabled(true);
    if (CX11HotkeyGrabber* grabber = dlg->GlobalHotkeys().Grabber()) {
        std::uint8_t keycode = 0;
        for (int kc = 8; kc < 256 && !keycode; ++kc)
            if (grabber->VirtualKeyOf(static_cast<std::uint8_t>(kc), false, false) == 0x70)
                keycode = static_cast<std::uint8_t>(kc);
        auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
        const xcb_window_t root =
            xcb_setup_roots_iterator(xcb_get_setup(x11->connection())).data->root;
        std::vector<double> fromEvent;
        for (int i = 0; i < triggers; ++i) {
            controller.StopAll();
            xcb_key_press_event_t event{};
            event.response_type = XCB_KEY_PRESS;
            event.detail = keycode;
            event.root = event.event = root;
            event.state = XCB_MOD_MASK_CONTROL;
            event.time = static_cast<xcb_timestamp_t>(2 * i + 1);
            watch.Arm();
            const std::uint64_t t0 = NowNs();
            grabber->nativeEventFilter("xcb_generic_event_t", &event, nullptr);
            fromEvent.push_back(static_cast<double>(watch.Wait() - t0) / 1000.0);
            event.response_type = XCB_KEY_RELEASE;
            event.time = static_cast<xcb_timestamp_t>(2 * i + 2);
            grabber->nativeEventFilter("xcb_generic_event_t", &event, nullptr);
            QCoreApplication::processEvents(); // settles the held-back release
        }
        Report("X11: grabbed key event -> Play", fromEvent);
    } else {
        std::printf("X11: no X server (run under Xvfb with QT_QPA_PLATFORM=xcb)\n");
    }

    // The whole command-line process, start to exit, answered by this instance: `--play-key` is
    // what GNOME's custom shortcuts and sway's bindings run at a press.
    const auto timeProcesses = [&](std::vector<std::string> command) {
        std::vector<char*> args;
        for (std::string& arg : command)
            args.push_back(arg.data());
        args.push_back(nullptr);
        std::vector<double> processMs;
        WhileServing([&] {
            for (int i = 0; i < processes; ++i) {
                stopAll();
                const std::uint64_t t0 = NowNs();
                pid_t child = 0;
                if (posix_spawn(&child, OTOMARU_EXE, nullptr, nullptr, args.data(), environ) != 0)
                    break;
                int status = 0;
                waitpid(child, &status, 0);
                if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                    std::printf("otomaru %s exited with %d\n", command[1].c_str(),
                                WEXITSTATUS(status));
                processMs.push_back(static_cast<double>(NowNs() - t0) / 1e6);
            }
        });
        std::sort(processMs.begin(), processMs.end());
        if (processMs.empty())
            return;
        const std::string what = "otomaru " + command[1] + " (whole process)";
        std::printf("%-52s n=%zu  median %8.1f ms  p99 %8.1f ms\n", what.c_str(), processMs.size(),
                    processMs[processMs.size() / 2],
                    processMs[std::min(processMs.size() - 1, processMs.size() * 99 / 100)]);
    };
    timeProcesses({"otomaru", "--play", "tone"});
    timeProcesses({"otomaru", "--play-key", "Ctrl + F1"});

    controller.StopAll();
    dlg.reset();
    if (bus > 0)
        kill(bus, SIGTERM);
    std::filesystem::remove_all(dir);
    return 0;
}
