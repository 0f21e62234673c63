// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/message_box.h"

#include "base/message.h"
#include "desktop/qt_text.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

int ShowQtMessageBox(const std::string& text, const std::string& caption, unsigned type) {
    // The sound device's messages have no owner; the others belong to the active window.
    QWidget* owner = caption == kErrorCaption ? nullptr : QApplication::activeWindow();
    QMessageBox box(owner);
    box.setWindowTitle(QStringFromCp932(caption));
    box.setText(QStringFromCp932(text));
    box.setTextFormat(Qt::PlainText);
    switch (type & MB_ICONMASK) {
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    if ((type & MB_BUTTONMASK) == MB_YESNO) {
        QPushButton* yes = box.addButton(QStringFromUtf8("はい(&Y)"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringFromUtf8("いいえ(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? IDYES : IDNO;
    }
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return IDOK;
}
