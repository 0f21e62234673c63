// SPDX-License-Identifier: GPL-3.0-or-later
// The new-set dialog: asks for the new sound-source file's name and the set's WAVE directory,
// typed or picked with the folder picker. It refuses text that CP932 cannot hold and changes
// neither text otherwise.
#pragma once

#include "core/mixer_view.h"
#include "ui/template_dlg.h"

#include <string>

enum : int {
    IDC_NEWSET_BROWSE = 1008,
    IDC_NEWSET_FILENAME = 1015,
    IDC_NEWSET_WAVEPATH = 1016,
};

const DlgTemplate& NewSourceDlgTemplate(); // template 135

class CNewSourceDlg : public CTemplateDlg {
    Q_OBJECT
public:
    explicit CNewSourceDlg(std::string strInitialFolder, QWidget* pParent = nullptr);
    ~CNewSourceDlg() override;

    // IDOK or IDCANCEL.
    int DoModal();
    // Empties the fields and gives OK the focus; DoModal runs it.
    bool OnInitDialog();

    std::string m_strInitialFolder; // system encoding
    std::string m_strWavePath;      // CP932
    std::string m_strFileName;      // CP932

public slots:
    void accept() override;

protected:
    // false when a field holds text CP932 cannot hold (refused, focused).
    bool DoDataExchange(bool bSaveAndValidate);
    void OnBrowseFolder();
    bool TryRelativeWavePath(const QString& text, std::string& member) const;
};

// Runs the dialog; on IDOK `values` holds the texts as typed or picked.
int RunNewSetDialog(QWidget* owner, const std::string& initialFolder, NewSetValues& values);
