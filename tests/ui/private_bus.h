// SPDX-License-Identifier: GPL-3.0-or-later
// A session bus of the test process's own: a dbus-daemon started once, before Qt first looks at
// the bus, and ended by its process id when the tests end. Also a runtime folder of its own, for
// the remote's socket.
#pragma once

#include "tests/support/spin_until.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/prctl.h>
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
        int out[2];
        if (pipe(out) != 0)
            return;
        // No service folders: a name nobody owns stays unowned, and the bus starts no program
        // (an installed portal among them) that the tests would not end.
        const std::string config = m_dir + "/bus.conf";
        FILE* conf = std::fopen(config.c_str(), "w");
        if (!conf)
            return;
        std::fprintf(conf,
                     "<busconfig><type>session</type><listen>unix:path=%s/bus</listen>"
                     "<auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n",
                     m_dir.c_str());
        std::fclose(conf);
        const std::string configArg = "--config-file=" + config;
        m_pid = fork();
        if (m_pid == 0) {
            // The daemon ends with the test program, however that ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], 1);
            close(out[0]);
            execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), "--nofork", "--print-address=1",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        FILE* reader = fdopen(out[0], "r");
        char line[512] = {};
        if (m_pid < 0 || !reader || !std::fgets(line, sizeof line, reader)) {
            if (m_pid > 0)
                kill(m_pid, SIGTERM);
            m_pid = 0;
        } else {
            m_address = QByteArray(line).trimmed();
            setenv("DBUS_SESSION_BUS_ADDRESS", m_address.constData(), 1);
        }
        if (reader)
            fclose(reader);
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

// Before any test: Qt connects to the session bus once per process, and widgets may do so first.
inline const bool kPrivateBusStarted = PrivateBus::Start();
