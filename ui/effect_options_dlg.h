// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's "詳細" dialog: how a press retriggers the effect, its choke group, its fades, the
// part of the sound that plays, marked on its waveform and heard with a play button, its gain and
// outputs, and the files added to it. Like the editor it touches no entry: it exchanges
// EffectOptions with its controls.
#pragma once

#include "audio/sound_device.h"
#include "model/effect_table.h"
#include "ui/template_dlg.h"

#include <QStringList>

#include <string>

class CPreviewDecoder;
class CWaveformCtrl;

enum : int {
    IDC_OPTIONS_RETRIGGER = 1101,
    IDC_OPTIONS_CHOKE = 1102,
    IDC_OPTIONS_FADEIN = 1103,
    IDC_OPTIONS_FADEOUT = 1104,
    IDC_OPTIONS_WAVEFORM = 1105,
    IDC_OPTIONS_RANGE = 1106,
    IDC_OPTIONS_PLAY = 1107,
    IDC_OPTIONS_LOUDNESS = 1108,
    IDC_OPTIONS_GAIN = 1109,
    IDC_OPTIONS_SEND = 1110,
    IDC_OPTIONS_FILES = 1111,
    IDC_OPTIONS_ADD = 1112,
    IDC_OPTIONS_REMOVE = 1113,
    IDC_OPTIONS_UP = 1114,
    IDC_OPTIONS_DOWN = 1115,
    IDC_OPTIONS_PICK = 1116,
};

// Qt's own chooser of sound files, opened on the WAVE folder: the chosen paths (system's), none
// when cancelled. `several`: more than one may be chosen, all existing files.
QStringList ChooseSoundFiles(QWidget* owner, const std::string& waveDir, bool several);

const DlgTemplate& EffectOptionsDlgTemplate();

class CEffectOptionsDlg : public CTemplateDlg {
    Q_OBJECT
public:
    // `decoder` brings the sound (it may still be reading); `device` plays the preview at the
    // editor's volume and pan, and may be null (no preview).
    CEffectOptionsDlg(CPreviewDecoder& decoder, CSoundDevice* device, QWidget* parent = nullptr);
    ~CEffectOptionsDlg() override;

    int DoModal();
    bool OnInitDialog();

    EffectOptions m_options;
    std::int32_t m_nVolume = 0;
    std::int32_t m_nPan = 0;
    std::string m_strWaveDir; // CP932: where added files are chosen from, and named without it

public slots:
    void accept() override { OnOK(); }

protected:
    bool DoDataExchange(bool bSaveAndValidate);
    void OnOK();
    void OnPlay();
    void OnDecoded();
    void ShowRange();
    void OnAddFiles();
    void OnRemoveFile();
    // Moves the selected file one place up (-1) or down (1).
    void MoveFile(int step);

private:
    CPreviewDecoder& m_decoder;
    CSoundDevice* m_pDevice;
    CWaveformCtrl* m_pWaveform = nullptr;
    SoundBufferSlot m_pPreview; // made from the decoded sound at the first play
};
