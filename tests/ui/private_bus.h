// A session bus of the test process's own: a dbus-daemon started once, before Qt first looks at
// the bus, and ended by its process id when the tests end. Also a runtime folder of its own, for
// the remote's socket.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/types.h>
#include <unistd.h>

class PrivateBus {
public:
    // The bus, started on first use; false when dbus-daemon is missing.
    static bool Start() { return Instance().m_pid > 0; }
    static QByteArray Address() { return Instance().m_address; }

private:
    PrivateBus() {
        char pattern[] = "/tmp/otomaru-bus-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        m_dir = pattern;
        setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
        const std::string command = "dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                                    "--address=unix:path=" +
                                    m_dir + "/bus 2>/dev/null";
        FILE* out = popen(command.c_str(), "r");
        if (!out)
            return;
        char address[512] = {};
        long pid = 0;
        if (std::fscanf(out, "%511s %ld", address, &pid) == 2) {
            m_address = address;
            m_pid = static_cast<pid_t>(pid);
            setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
        }
        pclose(out);
    }
    ~PrivateBus() {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
        if (!m_dir.empty())
            std::system(("rm -rf '" + m_dir + "'").c_str());
    }
    static PrivateBus& Instance() {
        static PrivateBus bus;
        return bus;
    }
    std::string m_dir;
    QByteArray m_address;
    pid_t m_pid = 0;
};

// Runs the event loop until the condition holds; generous, never a timing check.
inline bool SpinUntil(const std::function<bool()>& condition, int limitMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}
