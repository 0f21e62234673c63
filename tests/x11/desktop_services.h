// SPDX-License-Identifier: GPL-3.0-or-later
// Programs of a desktop (kglobalaccel, portals) started on the test's own bus and Xvfb, their
// settings in a folder of the test's own, never the user's, and ended by their ids.
#pragma once

#include "tests/support/spin_until.h"
#include "tests/support/test_support.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

inline const char* const kGlobalAccel = "/usr/bin/kglobalaccel5";

class DesktopServices {
public:
    ~DesktopServices() {
        for (auto pid = m_pids.rbegin(); pid != m_pids.rend(); ++pid) {
            kill(*pid, SIGTERM);
            waitpid(*pid, nullptr, 0);
        }
    }
    const std::string& Folder() const { return m_dir.Path(); }
    void SetPathFirst(const std::string& folder) { m_strPathFirst = folder; }

    // Starts `program` and waits until it owns `name` on the bus.
    bool Run(const char* program, const char* name) {
        // The environment is made before fork, as the child of a threaded process may not
        // allocate.
        std::string path = "PATH=" + qEnvironmentVariable("PATH").toStdString();
        if (!m_strPathFirst.empty())
            path.insert(5, m_strPathFirst + ":");
        std::vector<std::string> env{"XDG_CURRENT_DESKTOP=KDE", "XDG_CONFIG_HOME=" + m_dir.Path(),
                                     "XDG_DATA_HOME=" + m_dir.Path(),
                                     "XDG_CACHE_HOME=" + m_dir.Path(), path};
        for (char** e = environ; *e; ++e)
            if (!std::string_view(*e).starts_with("XDG_C") &&
                !std::string_view(*e).starts_with("XDG_DATA_HOME=") &&
                !std::string_view(*e).starts_with("PATH="))
                env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            execle(program, program, static_cast<char*>(nullptr), envp.data());
            _exit(127);
        }
        if (pid < 0)
            return false;
        m_pids.push_back(pid);
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        return SpinUntil([&] { return bus->isServiceRegistered(QString::fromLatin1(name)); }, 5000);
    }

private:
    TempDir m_dir;
    std::string m_strPathFirst;
    std::vector<pid_t> m_pids;
};
