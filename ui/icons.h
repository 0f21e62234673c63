// SPDX-License-Identifier: GPL-3.0-or-later
// The program's two icons, drawn in code so that no image file has to travel with the binary:
// 128, the main window's (a speaker sending sound waves on a light-blue tile), and 134, the
// About box's (the same speaker on a pink tile, the play list's colour).
#pragma once

#include <QIcon>
#include <QImage>

// One size of an icon (128 or 134; any other id gives a null image).
QImage DrawIconImage(int iconId, int size);
// Every size a desktop asks for, 16 to 256 pixels.
QIcon LoadIcon(int iconId);
