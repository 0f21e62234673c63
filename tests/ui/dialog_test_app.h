// The widget tests need one QApplication per process; whichever test runs first makes it, and a
// suite that already has one keeps it.
#pragma once

#include <QApplication>

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
    static std::unique_ptr<QApplication> app = std::make_unique<QApplication>(argc, argv);
}
