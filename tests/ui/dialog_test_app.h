// SPDX-License-Identifier: GPL-3.0-or-later
// What the widget tests share: one QApplication per process (whichever test runs first makes
// it), and a way to act on a modal dialog once its own event loop is running.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

inline void EnsureDialogTestApp() {
    if (QApplication::instance()) {
        return;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    // Kept until the process ends and never destroyed: at exit Qt's own globals are already gone
    // and tearing the application down after them crashes.
    static QApplication* app = std::make_unique<QApplication>(argc, argv).release();
    (void)app;
}

// Calls `action` with the topmost modal dialog once one of type T is on top. Should none come
// within a generous while, every modal dialog is rejected so the test fails instead of hanging.
template <class T> void WhenModal(std::function<void(T&)> action) {
    auto* timer = new QTimer;
    auto polls = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, polls, action = std::move(action)] {
        if (auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(*dlg);
            return;
        }
        if (++*polls > 3000) { // 30 s at 10 ms: only a hang guard, never a timing check
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected modal dialog never appeared";
            while (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                modal->reject();
            }
        }
    });
    timer->start(10);
}
