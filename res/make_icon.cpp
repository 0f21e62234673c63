// Writes the main icon as a PNG for the desktop's menus (installed with the program); the
// window itself draws its icons at run time.
#include "ui/icons.h"
#include "ui/mixer_resource.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon OUTPUT.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return DrawIconImage(IDR_MAINFRAME, 256).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
