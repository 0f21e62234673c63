// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/about_dlg.h"

#include "ui/dialog_template.h"
#include "ui/icons.h"
#include "ui/mixer_resource.h"

#include <QLabel>

namespace {
constexpr int IDC_ABOUT_ICON = 1100;
constexpr int IDC_ABOUT_TEXT = 1101;
} // namespace

QString AboutText() {
    return QString::fromUtf8("効果音ミキシングセレクタ Otomaru Ver " OTOMARU_VERSION);
}

CAboutDlg::CAboutDlg(QWidget* parent) : CTemplateDlg(parent) {
    static const DlgTemplate kTemplate = {
        IDD_ABOUTBOX,
        "About Otomaru",
        {191, 61},
        {
            {IDC_ABOUT_ICON, DlgClass::Icon, "", {14, 19, 21, 20}, DS_NOTABSTOP},
            {IDC_ABOUT_TEXT, DlgClass::Label, "", {7, 7, 176, 8}, DS_NOPREFIX},
            {1, DlgClass::DefPushButton, "OK", {70, 40, 50, 14}},
        }};
    BuildFromTemplate(kTemplate);
    if (QLabel* icon = Label(IDC_ABOUT_ICON))
        icon->setPixmap(QPixmap::fromImage(DrawIconImage(IDI_ABOUT, 32)));
    if (QLabel* text = Label(IDC_ABOUT_TEXT)) {
        text->setTextFormat(Qt::PlainText);
        text->setText(AboutText());
    }
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
}
