// SPDX-License-Identifier: GPL-3.0-or-later
// The effect editor: the modal dialog in which one effect's WAVE file, name, hotkey, repeat
// count and interval, volume and pan are entered, and behind "詳細" its options. It touches no
// entry or set file; it only exchanges values between its members and its controls, and reads
// the sound (off the window's thread) to show and preview it.
#pragma once

#include "core/mixer_view.h"
#include "core/set_file.h"
#include "input/hotkey.h"
#include "ui/template_dlg.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

class CHotKeyCtrl;
class CPreviewDecoder;
class CSoundDevice;

// Control ids of the editor.
enum : int {
    IDC_EFFECT_INTERVAL = 1005,
    IDC_EFFECT_REPEAT = 1006,
    IDC_EFFECT_FILE = 1007,
    IDC_EFFECT_BROWSE = 1008,
    IDC_EFFECT_HOTKEY = 1009,
    IDC_EFFECT_VOLUME = 1010,
    IDC_EFFECT_PAN = 1012,
    IDC_EFFECT_NAME = 1013,
    IDC_EFFECT_DETAILS = 1014,
};

const DlgTemplate& EffectDlgTemplate(); // template 131

class CEffectDlg : public CTemplateDlg {
    Q_OBJECT
public:
    explicit CEffectDlg(std::string strWaveDir, QWidget* pParent = nullptr);
    ~CEffectDlg() override;

    // IDOK or IDCANCEL.
    int DoModal();
    // Builds nothing new: loads the members into the controls and sets the sliders and the
    // hotkey field. DoModal runs it; tests call it to drive the dialog without a modal loop.
    bool OnInitDialog();

    void SetKeyLayout(HKL layout);
    // The output the options dialog previews on; none, no preview.
    void SetPreviewDevice(CSoundDevice* device) { m_pDevice = device; }
    CPreviewDecoder& Decoder() const { return *m_pDecoder; }

    std::uint16_t m_wKey = 0;
    std::uint16_t m_wModifiers = 0;
    std::string m_strWaveDir; // CP932
    CHotKeyCtrl* m_hotKey = nullptr;
    std::string m_strFile; // CP932
    std::string m_strName; // CP932
    std::int32_t m_nPan = 0;
    std::int32_t m_nInterval = 0;
    std::int32_t m_nRepeat = 0;
    std::int32_t m_nVolume = 0;
    EffectOptions m_options;

public slots:
    void accept() override { OnOK(); }

protected:
    // false when a field was refused (already reported and focused).
    bool DoDataExchange(bool bSaveAndValidate);
    void OnOK();
    void OnBrowse();
    void OnDetails();
    // Reads the sound the file field names, unless it is the one read last.
    void RequestPreview();

private:
    CSoundDevice* m_pDevice = nullptr;
    CPreviewDecoder* m_pDecoder; // child
};

// Runs the editor on `values` (CP932 texts); on IDOK the values come back as entered.
int RunEffectEditor(QWidget* owner, const std::string& waveDir, EffectEditorValues& values,
                    HKL layout = nullptr, CSoundDevice* previewDevice = nullptr);
