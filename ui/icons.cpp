// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/icons.h"

#include "ui/mixer_resource.h"

#include <QPainter>
#include <QPainterPath>

QImage DrawIconImage(int iconId, int size) {
    QColor top, bottom, edge;
    if (iconId == IDR_MAINFRAME) {
        top = QColor(204, 238, 255);
        bottom = QColor(70, 150, 215);
        edge = QColor(30, 90, 150);
    } else if (iconId == IDI_ABOUT) {
        top = QColor(255, 214, 214);
        bottom = QColor(230, 110, 110);
        edge = QColor(150, 50, 50);
    } else {
        return {};
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0); // drawn on a 32-pixel grid

    QLinearGradient tile(0, 0, 0, 32);
    tile.setColorAt(0, top);
    tile.setColorAt(1, bottom);
    p.setPen(QPen(edge, 1.2));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);

    // Speaker: a box and a cone.
    QPainterPath speaker;
    speaker.moveTo(6, 12.5);
    speaker.lineTo(10.5, 12.5);
    speaker.lineTo(16.5, 7);
    speaker.lineTo(16.5, 25);
    speaker.lineTo(10.5, 19.5);
    speaker.lineTo(6, 19.5);
    speaker.closeSubpath();
    p.setPen(QPen(edge, 1.0));
    p.setBrush(Qt::white);
    p.drawPath(speaker);

    // Sound waves.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(13, 11, 10, 10), -50 * 16, 100 * 16);
    p.drawArc(QRectF(12, 7, 16, 18), -50 * 16, 100 * 16);
    return image;
}

QIcon LoadIcon(int iconId) {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image = DrawIconImage(iconId, size);
        if (image.isNull())
            return {};
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
