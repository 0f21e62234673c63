// SPDX-License-Identifier: GPL-3.0-or-later
// An Xvfb of the test program's own, with the application on it, for the whole program; the
// server is ended by its id.
#pragma once

#include "tests/support/spin_until.h"

#include <QApplication>
#include <QProcess>
#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

inline void Settle(int ms) {
    SpinUntil([] { return false; }, ms);
}

class XServer {
public:
    static bool Start() { return Instance().m_pid > 0; }

private:
    XServer() {
        if (system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0)
            return;
        // A display number given to this run, else the first free one from 200.
        int number = qEnvironmentVariableIntValue("OTOMARU_TEST_DISPLAY");
        for (int n = 200; number == 0 && n < 300; ++n) {
            struct stat st;
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
            if (stat(lock.c_str(), &st) != 0 && stat(sock.c_str(), &st) != 0)
                number = n;
        }
        const std::string display = ":" + std::to_string(number);
        m_pid = fork();
        if (m_pid == 0) {
            // The server ends with the test program, however that ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "800x600x24", "-noreset",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("XDG_SESSION_TYPE");
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            usleep(50000);
            xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
            up = !xcb_connection_has_error(c);
            xcb_disconnect(c);
        }
        if (!up) {
            kill(m_pid, SIGTERM);
            m_pid = 0;
            return;
        }
        static int argc = 1;
        static char name[] = "x11_tests";
        static char* argv[] = {name, nullptr};
        m_app = new QApplication(argc, argv); // kept until exit, as Qt's globals need
    }
    ~XServer() {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
    }
    static XServer& Instance() {
        static XServer server;
        return server;
    }
    pid_t m_pid = 0;
    QApplication* m_app = nullptr;
};

// xdotool's events are in the server once it has ended; a round trip on Qt's connection puts
// them in our queue, and a short spin lets Qt hand them out.
inline void Xdotool(const QStringList& args) {
    QProcess::execute(QStringLiteral("xdotool"), args);
    xcb_connection_t* c = qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    Settle(100);
}
