// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/web_remote_dlg.h"

#include "ui/dialog_template.h"

#include <QLabel>

#include <memory>
#include <qrencode.h>

namespace {
constexpr int IDD_WEB_REMOTE = 141;
constexpr int IDC_WEB_QR = 1120;
constexpr int IDC_WEB_URL = 1121;
constexpr int kQuietZone = 4;
} // namespace

QImage DrawQrCode(const QByteArray& text, int scale) {
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(text.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code)
        return {};
    const int side = (code->width + 2 * kQuietZone) * scale;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if ((code->data[y * code->width + x] & 1) == 0)
                continue;
            for (int dy = 0; dy < scale; ++dy) {
                uchar* line = image.scanLine((y + kQuietZone) * scale + dy);
                for (int dx = 0; dx < scale; ++dx)
                    line[(x + kQuietZone) * scale + dx] = 0;
            }
        }
    }
    return image;
}

CWebRemoteDlg::CWebRemoteDlg(const QString& url, QWidget* parent) : CTemplateDlg(parent) {
    static const DlgTemplate kTemplate = {
        IDD_WEB_REMOTE,
        "Webリモートのアドレス",
        {220, 214},
        {
            {IDC_WEB_QR, DlgClass::Label, "", {35, 7, 150, 150}, DS_NOPREFIX},
            {IDC_WEB_URL, DlgClass::Label, "", {7, 164, 206, 24}, DS_NOPREFIX},
            {1, DlgClass::DefPushButton, "OK", {85, 193, 50, 14}},
        }};
    BuildFromTemplate(kTemplate);
    if (QLabel* qr = Label(IDC_WEB_QR)) {
        const QImage image = DrawQrCode(url.toUtf8(), 4);
        qr->setPixmap(QPixmap::fromImage(image));
        qr->setAlignment(Qt::AlignCenter);
        qr->setScaledContents(false);
    }
    if (QLabel* text = Label(IDC_WEB_URL)) {
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        text->setText(url);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
}
