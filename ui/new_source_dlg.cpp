// SPDX-License-Identifier: GPL-3.0-or-later
// The new-set dialog and its folder button.
#include "ui/new_source_dlg.h"
#include "ui/texts.h"

#include "ui/dialog_support.h"
#include "ui/folder_dialog.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>

const DlgTemplate& NewSourceDlgTemplate() {
    static const DlgTemplate kTemplate = {
        135,
        "新規音源ファイル",
        QSize(211, 76),
        {
            {IDOK, DlgClass::DefPushButton, "OK(&O)", QRect(51, 55, 50, 14)},
            {IDCANCEL, DlgClass::PushButton, "ｷｬﾝｾﾙ(&C)", QRect(109, 55, 50, 14)},
            {-1, DlgClass::Label, "ファイル名", QRect(7, 10, 31, 8)},
            {-1, DlgClass::Label, "WAVEパス", QRect(7, 28, 32, 8)},
            {IDC_NEWSET_FILENAME, DlgClass::Edit, "", QRect(42, 7, 162, 14)},
            {IDC_NEWSET_WAVEPATH, DlgClass::Edit, "", QRect(42, 25, 121, 14)},
            {IDC_NEWSET_BROWSE, DlgClass::PushButton, "参照(&B)", QRect(166, 25, 38, 14)},
        }};
    return kTemplate;
}

CNewSourceDlg::CNewSourceDlg(std::string strInitialFolder, QWidget* pParent)
    : CTemplateDlg(pParent), m_strInitialFolder(std::move(strInitialFolder)) {
    BuildFromTemplate(NewSourceDlgTemplate());
    if (auto* browse = Item<QPushButton>(IDC_NEWSET_BROWSE)) {
        connect(browse, &QPushButton::clicked, this, &CNewSourceDlg::OnBrowseFolder);
    }
}

CNewSourceDlg::~CNewSourceDlg() = default;

int CNewSourceDlg::DoModal() {
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

bool CNewSourceDlg::OnInitDialog() {
    DoDataExchange(false);
    // OK is the first tab stop, so it has the focus and Enter at once accepts.
    if (QWidget* ok = GetDlgItem(IDOK)) {
        ok->setFocus(Qt::OtherFocusReason);
    }
    return true;
}

// A picked folder below a home folder CP932 cannot name (Ünïcode) can still be stored relative
// to the folder the sets live in, which is the current directory the WAVE folder is read from.
bool CNewSourceDlg::TryRelativeWavePath(const QString& text, std::string& member) const {
    if (!QDir::isAbsolutePath(text) || m_strInitialFolder.empty()) {
        return false;
    }
    QString relative = QDir(QStringFromUtf8(m_strInitialFolder)).relativeFilePath(text);
    if (text.endsWith('/') && !relative.endsWith('/')) {
        relative += '/';
    }
    return TryCp932FromQString(relative, member);
}

bool CNewSourceDlg::DoDataExchange(bool bSaveAndValidate) {
    auto exchange = [&](int id, std::string& member) {
        QLineEdit* edit = Edit(id);
        if (!edit) {
            return true;
        }
        if (!bSaveAndValidate) {
            edit->setText(QStringFromCp932(member));
            return true;
        }
        if (!TryCp932FromQString(edit->text(), member) &&
            !(id == IDC_NEWSET_WAVEPATH && TryRelativeWavePath(edit->text(), member))) {
            RefuseField(edit, UnholdableTextMessage());
            return false;
        }
        return true;
    };
    return exchange(IDC_NEWSET_WAVEPATH, m_strWavePath) &&
           exchange(IDC_NEWSET_FILENAME, m_strFileName);
}

void CNewSourceDlg::accept() {
    if (DoDataExchange(true)) {
        QDialog::accept();
    }
}

void CNewSourceDlg::OnBrowseFolder() {
    static const std::string kTitle = Cp932FromUtf8(texts::kChooseFolder);
    // The picker belongs to the main window, not to this dialog, which stays open beneath it.
    QWidget* owner = parentWidget() ? parentWidget()->window() : this;
    CFolderDialog picker(kTitle, owner);
    const int result = picker.DoModal(m_strInitialFolder);
    if (result != IDOK) {
        if (!picker.GetRefusal().empty()) {
            AfxMessageBox(picker.GetRefusal(), MB_OK | MB_ICONEXCLAMATION);
        }
        return;
    }
    // The system's path until OK stores it: nothing is lost on the way to the field.
    std::string path = picker.GetPathName();
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    if (QLineEdit* wavePath = Edit(IDC_NEWSET_WAVEPATH)) {
        wavePath->setText(QStringFromUtf8(path));
    }
}

int RunNewSetDialog(QWidget* owner, const std::string& initialFolder, NewSetValues& values) {
    CNewSourceDlg dlg(initialFolder, owner);
    const int result = dlg.DoModal();
    if (result == IDOK) {
        values.strWavePath = dlg.m_strWavePath;
        values.strFileName = dlg.m_strFileName;
    }
    return result;
}
