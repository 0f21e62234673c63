// SPDX-License-Identifier: GPL-3.0-or-later
// The window's way of showing the program's message boxes: the process-wide message function
// (core/message.h) answered with a QMessageBox, with the buttons a Japanese desktop shows.
#pragma once

#include <string>

// text and caption are CP932; type holds MB_ buttons and icon. Returns IDOK, IDYES or IDNO.
int ShowQtMessageBox(const std::string& text, const std::string& caption, unsigned type);
