// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

bool LoadQtTranslations(QCoreApplication& app) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    // Owned by the application, so it lives as long as the windows it translates.
    translator->setParent(&app);
    return QCoreApplication::installTranslator(translator.release());
}
