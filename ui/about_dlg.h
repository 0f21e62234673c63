// SPDX-License-Identifier: GPL-3.0-or-later
// The About box (template 100): the program's icon, one line with its name and version, OK.
#pragma once

#include "ui/template_dlg.h"

class CAboutDlg : public CTemplateDlg {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The version line shown in the box (UTF-8).
QString AboutText();
