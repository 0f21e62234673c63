// SPDX-License-Identifier: GPL-3.0-or-later
// The web remote's address box: the address with its token, as text to copy and as a QR code
// for a phone's camera.
#pragma once

#include "ui/template_dlg.h"

#include <QImage>

class CWebRemoteDlg : public CTemplateDlg {
    Q_OBJECT
public:
    CWebRemoteDlg(const QString& url, QWidget* parent = nullptr);
};

// The QR code of the text, `scale` pixels a module with the four-module quiet zone; null when the
// text does not fit in one.
QImage DrawQrCode(const QByteArray& text, int scale);
