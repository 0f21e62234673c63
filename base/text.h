// SPDX-License-Identifier: GPL-3.0-or-later
// Text inside the program is CP932 bytes, as the files hold it. Conversion happens only at the
// borders: the operating system (UTF-8 paths) and the widgets (QString, see ui/). Paths the
// system gives us (the executable's or data folder, the current directory, what a chooser
// returns) stay in the system's encoding and are only ever joined to stored parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// True when text[pos] is a Shift-JIS lead byte (0x81-0x9F, 0xE0-0xFC) and the next byte a trail
// byte (0x40-0x7E, 0x80-0xFC): the two bytes are one character. Past the end: false.
bool IsLeadByte(std::string_view text, std::size_t pos);

// The longest start of the text of at most maxBytes bytes that ends between characters, so a
// cut never leaves half of a two-byte character.
std::string_view CutCp932(std::string_view text, std::size_t maxBytes);

// Position of the first / last backslash character, walking Shift-JIS characters, so that the
// second byte of a two-byte character (ソ is 0x83 0x5C) never counts. npos when there is none.
std::size_t FindBackslash(std::string_view text);
std::size_t FindLastBackslash(std::string_view text);

// The number at the start of a field, in the manner of atoi: leading white space, optional sign,
// decimal digits up to the first other byte. No digits give 0; values beyond the 32-bit range
// are held at its limits.
std::int32_t AtoI(std::string_view text);

// CP932 <-> UTF-8. A character without a form on the other side becomes '?' (to CP932) or
// U+FFFD (to UTF-8); nothing is dropped.
std::string Cp932FromUtf8(std::string_view utf8);
std::string Utf8FromCp932(std::string_view cp932);

// Strict UTF-8 -> CP932: false (and cp932 untouched) when a character has no CP932 form that
// reads back as itself or as its other reading (so "¥", which CP932 would store as the
// backslash, is refused too), or when the UTF-8 is broken.
bool TryCp932FromUtf8(std::string_view utf8, std::string& cp932);
// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool IsValidUtf8(std::string_view text);
// Whether the text holds a character whose CP932 bytes have two Unicode readings (〜/～,
// −/－, —/―, ‖/∥, ¢/￠, £/￡, ¬/￢).
bool HasTwoReadings(std::string_view cp932);

// A path as stored in a set file (backslash separators, CP932) -> the path to hand to the
// operating system (slash separators, UTF-8). A relative path stays relative to the current
// directory. Where the plain reading names nothing but a part of the path holds a character
// with two readings, the file existing under the other reading is named.
std::string ToOsPath(std::string_view cp932Path);
// The same, joined to a folder in the system's encoding (ending with '/'), which is never
// converted.
std::string JoinOsPath(std::string_view osDir, std::string_view cp932Path);

// A path entered on this host -> its stored form: every '/' becomes '\', so an absolute path can
// never read back as a comment line.
std::string ToStoredPath(std::string_view cp932Path);

// The running executable's directory (system encoding, ending with '/').
std::string ExecutableDirectory();

// The process's current directory (system encoding, ending without a separator) and its change.
std::string GetCurrentDirectoryA();
bool SetCurrentDirectoryA(const std::string& osPath);
