// SPDX-License-Identifier: GPL-3.0-or-later
// The folder picker over Qt's own directory chooser (not the desktop's, so it looks the same
// everywhere and tests can drive it).
#include "ui/folder_dialog.h"
#include "ui/texts.h"

#include "base/text.h"
#include "base/win_types.h"
#include "ui/dialog_support.h"

#include <QFileDialog>

CFolderDialog::CFolderDialog(std::string_view cp932Title, QWidget* pOwner)
    : m_pOwner(pOwner), m_szTitle(CutCp932(cp932Title, kTitleMax)) {}

void CFolderDialog::Reset() {
    m_szPath.clear();
    m_szInitialPath.clear();
    m_strRefusal.clear();
}

int CFolderDialog::DoModal(std::string_view osInitialPath) {
    Reset();
    // A cut path would name another folder: one that does not fit is not preselected at all.
    if (Cp932FromUtf8(osInitialPath).size() <= kPathMax) {
        m_szInitialPath = std::string(osInitialPath);
    }
    return Browse();
}

int CFolderDialog::Browse() {
    QFileDialog chooser(m_pOwner, QStringFromCp932(m_szTitle));
    chooser.setOption(QFileDialog::DontUseNativeDialog, true);
    chooser.setOption(QFileDialog::ShowDirsOnly, true);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    if (!m_szInitialPath.empty()) {
        chooser.setDirectory(QStringFromUtf8(m_szInitialPath));
    }
    if (chooser.exec() != QDialog::Accepted) {
        return IDCANCEL;
    }
    const QStringList chosen = chooser.selectedFiles();
    if (chosen.isEmpty()) {
        return IDCANCEL;
    }
    // The system's path: whether the set file can carry it is decided when the set is made.
    const std::string path = chosen.first().toStdString();
    if (path.empty() || Cp932FromUtf8(path).size() > kPathMax) {
        m_strRefusal = Cp932FromUtf8(texts::kFolderPathTooLong);
        return -1;
    }
    m_szPath = path;
    return IDOK;
}
