// SPDX-License-Identifier: GPL-3.0-or-later
// The effect editor and its data exchange: texts and numbers between members and controls in a
// fixed order, so the first faulty field is the one reported.
#include "ui/effect_dlg.h"
#include "ui/texts.h"

#include "base/int_text.h"
#include "base/text.h"
#include "core/set_file.h"
#include "core/texts.h"
#include "ui/dialog_support.h"
#include "ui/effect_options_dlg.h"
#include "ui/hotkey_edit.h"
#include "ui/sound_preview.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace {

constexpr int kVolumeMin = -10000;
constexpr int kVolumeMax = 0;
constexpr int kPanMin = -10000;
constexpr int kPanMax = 10000;

const std::string& IntegerMessage() {
    static const std::string k = Cp932FromUtf8(texts::kEnterInteger);
    return k;
}

// A sound-source line has comma-delimited fields and one line per effect: a comma or a line
// break in a name or path would split the effect when the set is read back.
const std::string& UnstorableMessage() {
    static const std::string k = Cp932FromUtf8(texts::kNoCommaOrLineBreak);
    return k;
}

// The field's text in CP932, false when it has no CP932 form. A field that still shows the text
// it was given keeps that text's bytes: bytes Unicode has no form for, or NEC's duplicates that
// would come back as other codes, were not typed and must not be refused or changed.
bool FieldCp932(const QLineEdit& edit, const std::string& given, std::string& cp932) {
    if (edit.text() == QStringFromCp932(given)) {
        cp932 = given;
        return true;
    }
    return TryCp932FromQString(edit.text(), cp932);
}

} // namespace

const DlgTemplate& EffectDlgTemplate() {
    static const DlgTemplate kTemplate = {
        131,
        "登録情報",
        QSize(227, 168),
        {
            {-1, DlgClass::Label, "ファイル名", QRect(7, 10, 31, 8)},
            {IDC_EFFECT_FILE, DlgClass::Edit, "", QRect(42, 7, 135, 14)},
            {IDC_EFFECT_BROWSE, DlgClass::PushButton, "参照(&B)", QRect(182, 7, 38, 14)},
            {-1, DlgClass::Label, "登録名", QRect(7, 28, 22, 8)},
            {IDC_EFFECT_NAME, DlgClass::Edit, "", QRect(42, 25, 135, 14)},
            {-1, DlgClass::Label, "ホットキー", QRect(7, 47, 31, 8)},
            {IDC_EFFECT_HOTKEY, DlgClass::HotKey, "", QRect(42, 44, 80, 14)},
            {-1, DlgClass::Label, "リピート", QRect(15, 72, 23, 8)},
            {-1, DlgClass::Label, "回数", QRect(42, 72, 15, 8)},
            {IDC_EFFECT_REPEAT, DlgClass::Edit, "", QRect(59, 69, 40, 14), DS_RIGHTALIGN},
            {-1, DlgClass::Label, "再生間隔", QRect(107, 72, 28, 8)},
            {IDC_EFFECT_INTERVAL, DlgClass::Edit, "", QRect(138, 69, 40, 14), DS_RIGHTALIGN},
            {-1, DlgClass::Label, "msec", QRect(180, 71, 16, 8)},
            {-1, DlgClass::Label, "ボリューム", QRect(7, 93, 32, 8)},
            {IDC_EFFECT_VOLUME, DlgClass::TrackBar, "", QRect(42, 89, 178, 15)},
            {-1, DlgClass::Label, "パン", QRect(24, 118, 14, 8)},
            {IDC_EFFECT_PAN, DlgClass::TrackBar, "", QRect(42, 115, 100, 15)},
            {IDOK, DlgClass::DefPushButton, "OK(&)", QRect(115, 147, 50, 14)},
            {IDCANCEL, DlgClass::PushButton, "ｷｬﾝｾﾙ(&C)", QRect(170, 147, 50, 14)},
            // Not designed: the options open from the free corner, last in the tab order.
            {IDC_EFFECT_DETAILS, DlgClass::PushButton, "詳細(&D)...", QRect(7, 147, 50, 14)},
        }};
    return kTemplate;
}

CEffectDlg::CEffectDlg(std::string strWaveDir, QWidget* pParent)
    : CTemplateDlg(pParent), m_strWaveDir(std::move(strWaveDir)),
      m_pDecoder(new CPreviewDecoder(this)) {
    BuildFromTemplate(EffectDlgTemplate(), [](const DlgItem&, QWidget* parent) {
        return static_cast<QWidget*>(new CHotKeyCtrl(parent));
    });
    m_hotKey = Item<CHotKeyCtrl>(IDC_EFFECT_HOTKEY);
    if (auto* browse = Item<QPushButton>(IDC_EFFECT_BROWSE)) {
        connect(browse, &QPushButton::clicked, this, &CEffectDlg::OnBrowse);
    }
    if (auto* details = Item<QPushButton>(IDC_EFFECT_DETAILS)) {
        connect(details, &QPushButton::clicked, this, &CEffectDlg::OnDetails);
    }
    if (QLineEdit* file = Edit(IDC_EFFECT_FILE)) {
        connect(file, &QLineEdit::editingFinished, this, &CEffectDlg::RequestPreview);
    }
}

CEffectDlg::~CEffectDlg() = default;

void CEffectDlg::SetKeyLayout(HKL layout) {
    if (m_hotKey) {
        m_hotKey->SetKeyLayout(layout);
    }
}

int CEffectDlg::DoModal() {
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

bool CEffectDlg::OnInitDialog() {
    DoDataExchange(false);
    // The sliders start with Qt's 0..99: the position is set again once the range is right.
    if (QSlider* volume = Slider(IDC_EFFECT_VOLUME)) {
        volume->setRange(kVolumeMin, kVolumeMax);
        volume->setPageStep((kVolumeMax - kVolumeMin) / 5);
        volume->setValue(m_nVolume);
    }
    if (QSlider* pan = Slider(IDC_EFFECT_PAN)) {
        pan->setRange(kPanMin, kPanMax);
        pan->setPageStep((kPanMax - kPanMin) / 5);
        pan->setValue(m_nPan);
    }
    if (m_hotKey) {
        m_hotKey->SetHotKey(m_wKey & 0xFF, ModifiersToHotkeyFlags(m_wModifiers));
    }
    if (QLineEdit* file = Edit(IDC_EFFECT_FILE)) {
        file->setFocus(Qt::OtherFocusReason);
    }
    RequestPreview();
    return true;
}

void CEffectDlg::RequestPreview() {
    QLineEdit* file = Edit(IDC_EFFECT_FILE);
    std::string text;
    if (!file || !FieldCp932(*file, m_strFile, text)) {
        return;
    }
    m_pDecoder->Request(text.empty() ? std::string()
                                     : ResolveWavePath(m_strWaveDir, ToStoredPath(text)));
}

void CEffectDlg::OnDetails() {
    RequestPreview();
    CEffectOptionsDlg dlg(*m_pDecoder, m_pDevice, this);
    dlg.m_options = m_options;
    dlg.m_strWaveDir = m_strWaveDir;
    // The preview sounds at the volume and pan the editor shows now.
    dlg.m_nVolume = Slider(IDC_EFFECT_VOLUME) ? Slider(IDC_EFFECT_VOLUME)->value() : m_nVolume;
    dlg.m_nPan = Slider(IDC_EFFECT_PAN) ? Slider(IDC_EFFECT_PAN)->value() : m_nPan;
    if (dlg.DoModal() == IDOK) {
        m_options = std::move(dlg.m_options);
    }
}

bool CEffectDlg::DoDataExchange(bool bSaveAndValidate) {
    // Texts: the whole field, refused only when the set file could not carry it.
    auto exchangeText = [&](int id, std::string& member) {
        QLineEdit* edit = Edit(id);
        if (!edit) {
            return true;
        }
        if (!bSaveAndValidate) {
            edit->setText(QStringFromCp932(member));
            return true;
        }
        std::string text;
        if (!FieldCp932(*edit, member, text)) {
            RefuseField(edit, UnholdableTextMessage());
            return false;
        }
        if (!IsStorableFieldText(text)) {
            RefuseField(edit, UnstorableMessage());
            return false;
        }
        member = std::move(text);
        return true;
    };
    auto exchangeInt = [&](int id, std::int32_t& member) {
        QLineEdit* edit = Edit(id);
        if (!edit) {
            return true;
        }
        if (!bSaveAndValidate) {
            edit->setText(QString::fromStdString(IntText(member)));
            return true;
        }
        std::int32_t value = 0;
        if (!ParseIntText(Cp932FromQString(edit->text()), value)) {
            RefuseField(edit, IntegerMessage());
            return false;
        }
        member = value;
        return true;
    };
    auto exchangeSlider = [&](int id, std::int32_t& member) {
        if (QSlider* slider = Slider(id)) {
            if (bSaveAndValidate) {
                member = slider->value();
            } else {
                slider->setValue(member);
            }
        }
        return true;
    };
    return exchangeText(IDC_EFFECT_FILE, m_strFile) && exchangeText(IDC_EFFECT_NAME, m_strName) &&
           exchangeSlider(IDC_EFFECT_PAN, m_nPan) &&
           exchangeInt(IDC_EFFECT_INTERVAL, m_nInterval) &&
           exchangeInt(IDC_EFFECT_REPEAT, m_nRepeat) &&
           exchangeSlider(IDC_EFFECT_VOLUME, m_nVolume);
}

void CEffectDlg::OnOK() {
    if (m_hotKey) {
        std::uint16_t key = 0;
        std::uint16_t flags = 0;
        m_hotKey->GetHotKey(key, flags);
        m_wKey = key & 0xFF;
        m_wModifiers = static_cast<std::uint16_t>(HotkeyFlagsToModifiers(flags));
    }
    if (!DoDataExchange(true)) {
        return;
    }
    QDialog::accept();
}

void CEffectDlg::OnBrowse() {
    const QStringList files = ChooseSoundFiles(this, m_strWaveDir, false);
    if (files.isEmpty()) {
        return;
    }
    if (QLineEdit* file = Edit(IDC_EFFECT_FILE)) {
        // Only the file's title: the opener looks for it in the WAVE directory.
        file->setText(QFileInfo(files.first()).fileName());
        RequestPreview();
    }
}

int RunEffectEditor(QWidget* owner, const std::string& waveDir, EffectEditorValues& values,
                    HKL layout, CSoundDevice* previewDevice) {
    CEffectDlg dlg(waveDir, owner);
    dlg.SetKeyLayout(layout);
    dlg.SetPreviewDevice(previewDevice);
    dlg.m_options = values.options;
    dlg.m_wKey = values.wKey;
    dlg.m_wModifiers = values.wModifiers;
    dlg.m_strFile = values.strWavePath;
    dlg.m_strName = values.strName;
    dlg.m_nPan = values.nPan;
    dlg.m_nVolume = values.nVolume;
    dlg.m_nRepeat = values.nRepeat;
    dlg.m_nInterval = values.nInterval;
    const int result = dlg.DoModal();
    if (result == IDOK) {
        values.wKey = dlg.m_wKey;
        values.wModifiers = dlg.m_wModifiers;
        values.strWavePath = dlg.m_strFile;
        values.strName = dlg.m_strName;
        values.nPan = dlg.m_nPan;
        values.nVolume = dlg.m_nVolume;
        values.nRepeat = dlg.m_nRepeat;
        values.nInterval = dlg.m_nInterval;
        values.options = std::move(dlg.m_options);
    }
    return result;
}
