// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/qt_text.h"

#include "base/text.h"

QString QStringFromCp932(std::string_view cp932) {
    // Plain ASCII is the same in both; most cells (numbers, percentages) need no converter.
    bool ascii = true;
    for (char c : cp932) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(cp932.data(), static_cast<qsizetype>(cp932.size()));
    return QStringFromUtf8(Utf8FromCp932(cp932));
}

bool TryCp932FromQString(const QString& text, std::string& cp932) {
    QByteArray utf8 = text.toUtf8();
    return TryCp932FromUtf8(
        std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), cp932);
}

std::string Cp932FromQString(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    return Cp932FromUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}
