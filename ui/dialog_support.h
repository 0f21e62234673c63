// SPDX-License-Identifier: GPL-3.0-or-later
// What the program's own dialogs share: the CP932 <-> QString border and the handling of a field
// whose text is refused (message, focus, whole text selected).
#pragma once

#include "base/message.h"
#include "base/text.h"
#include "core/set_file.h"

#include <QLineEdit>
#include <QString>

#include <string>
#include <string_view>

#if __has_include("desktop/qt_text.h")
#include "desktop/qt_text.h"
#else
// Stand-ins until the shared widget text helpers are in the tree.
inline QString QStringFromCp932(std::string_view cp932) {
    return QString::fromStdString(Utf8FromCp932(cp932));
}
inline std::string Cp932FromQString(const QString& text) {
    return Cp932FromUtf8(text.toStdString());
}
#endif

// Reports a refused field the way the dialogs always have: an exclamation box captioned with
// the program's title, then the field focused with its whole text selected for retyping.
inline void RefuseField(QLineEdit* field, const std::string& cp932Message) {
    AfxMessageBox(cp932Message, MB_OK | MB_ICONEXCLAMATION);
    if (field) {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
    }
}
