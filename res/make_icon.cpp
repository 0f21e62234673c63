// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the main icon as PNGs for the desktop's menus (installed with the program), one per
// hicolor size under OUTPUT_DIR/<n>x<n>/apps/otomaru.png; the window itself draws its icons at
// run time.
#include "ui/icons.h"
#include "ui/mixer_resource.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon OUTPUT_DIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        if (!QDir().mkpath(dir) ||
            !DrawIconImage(IDR_MAINFRAME, size).save(dir + "/otomaru.png", "PNG"))
            return 1;
    }
    return 0;
}
