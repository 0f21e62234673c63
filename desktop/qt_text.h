// SPDX-License-Identifier: GPL-3.0-or-later
// The border between the program's CP932 byte strings and the widgets' QString. Every ui file
// converts through these two functions, which go through the one converter in base/text.h.
#pragma once

#include <QString>

#include <string>
#include <string_view>

QString QStringFromCp932(std::string_view cp932);
std::string Cp932FromQString(const QString& text);
// Strict: false when CP932 cannot hold every character of the text (see TryCp932FromUtf8).
bool TryCp932FromQString(const QString& text, std::string& cp932);

// A UTF-8 literal of the program's own texts as a QString ("&" mnemonics kept).
inline QString QStringFromUtf8(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
