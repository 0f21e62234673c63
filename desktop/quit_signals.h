// SPDX-License-Identifier: GPL-3.0-or-later
// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in a terminal) end the program the way
// File → Exit does: destructors give back the desktop's global hotkeys and the exit writes what
// it writes. The handler only writes a byte to a pipe; the window's thread reads it.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

class CQuitSignals : public QObject {
    Q_OBJECT
public:
    // `quit` runs on this object's thread once per signal. One instance at a time.
    explicit CQuitSignals(std::function<void()> quit, QObject* parent = nullptr);
    ~CQuitSignals() override;

private:
    std::function<void()> m_quit;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
};
