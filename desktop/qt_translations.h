// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own windows (file and folder choosers, the edit menus of text fields) speak the
// interface's language, Japanese, whatever the desktop's locale.
#pragma once

class QCoreApplication;

// Installs Qt's Japanese translations when they are installed (Debian: qt6-translations-l10n);
// false when they are not, and Qt's windows stay English.
bool LoadQtTranslations(QCoreApplication& app);
