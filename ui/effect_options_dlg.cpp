// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's options, exchanged in tab order so the first faulty field is the one reported.
#include "ui/effect_options_dlg.h"
#include "ui/texts.h"

#include "audio/sound_device.h"
#include "base/int_text.h"
#include "base/text.h"
#include "core/set_file.h"
#include "core/texts.h"
#include "ui/dialog_support.h"
#include "ui/sound_preview.h"
#include "ui/waveform_ctrl.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxFadeMs = 10000;
constexpr int kChokeGroups = 9;
// The option's range: whole decibels within the voice's.
constexpr int kGainMinDb = static_cast<int>(kMinGainDb);
constexpr int kGainMaxDb = static_cast<int>(kMaxGainDb);

QString LoudnessText(const PreviewSound* sound) {
    if (!sound || !sound->loudness || !std::isfinite(sound->loudness->dIntegratedLufs))
        return QString::fromUtf8("ラウドネス: —");
    return QString::fromUtf8("ラウドネス: %1 LUFS（ピーク %2 dBTP）")
        .arg(sound->loudness->dIntegratedLufs, 0, 'f', 1)
        .arg(sound->loudness->dTruePeakDb, 0, 'f', 1);
}

} // namespace

const DlgTemplate& EffectOptionsDlgTemplate() {
    static const DlgTemplate kTemplate = {
        150,
        "詳細設定",
        QSize(260, 292),
        {
            {-1, DlgClass::Label, "再押下時(&R):", QRect(7, 9, 52, 8)},
            {IDC_OPTIONS_RETRIGGER, DlgClass::ComboBox, "", QRect(62, 7, 64, 14)},
            {-1, DlgClass::Label, "排他グループ(&G):", QRect(136, 9, 60, 8)},
            {IDC_OPTIONS_CHOKE, DlgClass::ComboBox, "", QRect(198, 7, 55, 14)},
            {-1, DlgClass::Label, "フェードイン(&I):", QRect(7, 28, 52, 8)},
            {IDC_OPTIONS_FADEIN, DlgClass::Edit, "", QRect(62, 25, 44, 14), DS_RIGHTALIGN},
            {-1, DlgClass::Label, "ms", QRect(109, 28, 12, 8)},
            {-1, DlgClass::Label, "フェードアウト(&O):", QRect(136, 28, 60, 8)},
            {IDC_OPTIONS_FADEOUT, DlgClass::Edit, "", QRect(198, 25, 44, 14), DS_RIGHTALIGN},
            {-1, DlgClass::Label, "ms", QRect(245, 28, 12, 8)},
            {-1, DlgClass::Label, "波形と再生する区間(&W):", QRect(7, 46, 120, 8)},
            {IDC_OPTIONS_WAVEFORM, DlgClass::Custom, "", QRect(7, 56, 246, 72)},
            {IDC_OPTIONS_RANGE, DlgClass::Label, "", QRect(7, 134, 190, 8), DS_NOPREFIX},
            {IDC_OPTIONS_PLAY, DlgClass::PushButton, "再生(&P)", QRect(203, 132, 50, 14)},
            {IDC_OPTIONS_LOUDNESS, DlgClass::Label, "", QRect(7, 150, 190, 8), DS_NOPREFIX},
            {-1, DlgClass::Label, "ゲイン(&N):", QRect(7, 168, 52, 8)},
            {IDC_OPTIONS_GAIN, DlgClass::Edit, "", QRect(62, 165, 44, 14), DS_RIGHTALIGN},
            {-1, DlgClass::Label, "dB", QRect(109, 168, 12, 8)},
            {-1, DlgClass::Label, "出力先(&T):", QRect(136, 168, 60, 8)},
            {IDC_OPTIONS_SEND, DlgClass::ComboBox, "", QRect(198, 165, 55, 14)},
            {-1, DlgClass::Label, "追加するファイル(&L):", QRect(7, 186, 120, 8)},
            {IDC_OPTIONS_FILES, DlgClass::Custom, "", QRect(7, 196, 190, 50)},
            {IDC_OPTIONS_ADD, DlgClass::PushButton, "追加(&A)...", QRect(203, 196, 50, 14)},
            {IDC_OPTIONS_REMOVE, DlgClass::PushButton, "削除(&E)", QRect(203, 214, 50, 14)},
            {IDC_OPTIONS_UP, DlgClass::PushButton, "↑(&U)", QRect(203, 232, 24, 14)},
            {IDC_OPTIONS_DOWN, DlgClass::PushButton, "↓(&J)", QRect(229, 232, 24, 14)},
            {-1, DlgClass::Label, "選び方(&K):", QRect(7, 254, 52, 8)},
            {IDC_OPTIONS_PICK, DlgClass::ComboBox, "", QRect(62, 251, 64, 14)},
            {IDOK, DlgClass::DefPushButton, "OK", QRect(148, 271, 50, 14)},
            {IDCANCEL, DlgClass::PushButton, "ｷｬﾝｾﾙ(&C)", QRect(203, 271, 50, 14)},
        }};
    return kTemplate;
}

CEffectOptionsDlg::CEffectOptionsDlg(CPreviewDecoder& decoder, CSoundDevice* device,
                                     QWidget* parent)
    : CTemplateDlg(parent), m_decoder(decoder), m_pDevice(device) {
    BuildFromTemplate(EffectOptionsDlgTemplate(), [](const DlgItem& item, QWidget* p) {
        if (item.id == IDC_OPTIONS_FILES)
            return static_cast<QWidget*>(new QListWidget(p));
        return static_cast<QWidget*>(new CWaveformCtrl(p));
    });
    m_pWaveform = Item<CWaveformCtrl>(IDC_OPTIONS_WAVEFORM);
    // In the order of the option's values.
    auto fill = [this](int id, std::initializer_list<const char*> words) {
        if (QComboBox* combo = Combo(id))
            for (const char* word : words)
                combo->addItem(QString::fromUtf8(word));
    };
    fill(IDC_OPTIONS_RETRIGGER, {"そのまま", "最初から", "停止", "押している間"});
    fill(IDC_OPTIONS_SEND, {"両方", "メイン", "モニター"});
    fill(IDC_OPTIONS_PICK, {"順番に", "ランダム"});
    for (const auto& [id, slot] : {std::pair{IDC_OPTIONS_ADD, &CEffectOptionsDlg::OnAddFiles},
                                   {IDC_OPTIONS_REMOVE, &CEffectOptionsDlg::OnRemoveFile}}) {
        if (auto* button = Item<QPushButton>(id))
            connect(button, &QPushButton::clicked, this, slot);
    }
    for (const auto& [id, step] : {std::pair{IDC_OPTIONS_UP, -1}, {IDC_OPTIONS_DOWN, 1}}) {
        if (auto* button = Item<QPushButton>(id))
            connect(button, &QPushButton::clicked, this, [this, s = step] { MoveFile(s); });
    }
    if (QComboBox* choke = Combo(IDC_OPTIONS_CHOKE)) {
        choke->addItem(QString::fromUtf8("なし"));
        for (int group = 1; group <= kChokeGroups; ++group)
            choke->addItem(QString::number(group));
    }
    if (auto* play = Item<QPushButton>(IDC_OPTIONS_PLAY))
        connect(play, &QPushButton::clicked, this, &CEffectOptionsDlg::OnPlay);
    if (m_pWaveform)
        connect(m_pWaveform, &CWaveformCtrl::MarksChanged, this, &CEffectOptionsDlg::ShowRange);
    connect(&m_decoder, &CPreviewDecoder::Decoded, this, &CEffectOptionsDlg::OnDecoded);
}

// The preview stops with the dialog.
CEffectOptionsDlg::~CEffectOptionsDlg() {
    CSoundDevice::ReleaseBuffer(m_pPreview);
}

int CEffectOptionsDlg::DoModal() {
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

bool CEffectOptionsDlg::OnInitDialog() {
    DoDataExchange(false);
    OnDecoded();
    if (QComboBox* retrigger = Combo(IDC_OPTIONS_RETRIGGER))
        retrigger->setFocus(Qt::OtherFocusReason);
    return true;
}

void CEffectOptionsDlg::OnDecoded() {
    const std::shared_ptr<const PreviewSound>& sound = m_decoder.Sound();
    if (m_pWaveform) {
        const char* message = m_decoder.IsPending() ? "読み込んでいます…"
                              : m_decoder.Path().empty() ? "ファイル名が入力されていません。"
                                                         : "このファイルは再生できません。";
        m_pWaveform->SetSound(sound, QString::fromUtf8(message));
    }
    if (QLabel* loudness = Label(IDC_OPTIONS_LOUDNESS))
        loudness->setText(LoudnessText(sound.get()));
    if (QWidget* play = GetDlgItem(IDC_OPTIONS_PLAY))
        play->setEnabled(sound && m_pDevice && m_pDevice->IsOpen());
    CSoundDevice::ReleaseBuffer(m_pPreview); // made again from this sound at the next play
    ShowRange();
}

void CEffectOptionsDlg::ShowRange() {
    QLabel* range = Label(IDC_OPTIONS_RANGE);
    if (!range || !m_pWaveform)
        return;
    const std::shared_ptr<const PreviewSound>& sound = m_decoder.Sound();
    const QString end = m_pWaveform->EndMs() != 0 ? QString::number(m_pWaveform->EndMs())
                        : sound                   ? QString::number(sound->nLengthMs)
                                                  : QString::fromUtf8("終わり");
    QString text =
        QString::fromUtf8("再生する区間: %1～%2 ms").arg(m_pWaveform->StartMs()).arg(end);
    if (sound)
        text += QString::fromUtf8("（全体 %1 ms）").arg(sound->nLengthMs);
    range->setText(text);
}

bool CEffectOptionsDlg::DoDataExchange(bool bSaveAndValidate) {
    auto exchangeCombo = [&](int id, int& index) {
        if (QComboBox* combo = Combo(id)) {
            if (bSaveAndValidate)
                index = combo->currentIndex();
            else
                combo->setCurrentIndex(index);
        }
    };
    auto exchangeInt = [&](int id, int& member, int minValue, int maxValue,
                           std::string_view refusal) {
        QLineEdit* edit = Edit(id);
        if (!edit)
            return true;
        if (!bSaveAndValidate) {
            edit->setText(QString::number(member));
            return true;
        }
        std::int32_t value = 0;
        if (!ParseIntText(Cp932FromQString(edit->text()), value) || value < minValue ||
            value > maxValue) {
            RefuseField(edit, Cp932FromUtf8(refusal));
            return false;
        }
        member = value;
        return true;
    };
    auto* files = Item<QListWidget>(IDC_OPTIONS_FILES);

    int retrigger = static_cast<int>(m_options.retrigger);
    int choke = m_options.nChoke;
    int send = static_cast<int>(m_options.send);
    int pick = static_cast<int>(m_options.pick);
    EffectOptions o = m_options;
    exchangeCombo(IDC_OPTIONS_RETRIGGER, retrigger);
    exchangeCombo(IDC_OPTIONS_CHOKE, choke);
    if (!exchangeInt(IDC_OPTIONS_FADEIN, o.nFadeInMs, 0, kMaxFadeMs, texts::kEnterFadeMs) ||
        !exchangeInt(IDC_OPTIONS_FADEOUT, o.nFadeOutMs, 0, kMaxFadeMs, texts::kEnterFadeMs) ||
        !exchangeInt(IDC_OPTIONS_GAIN, o.nGainDb, kGainMinDb, kGainMaxDb, texts::kEnterGainDb))
        return false;
    exchangeCombo(IDC_OPTIONS_SEND, send);
    exchangeCombo(IDC_OPTIONS_PICK, pick);
    if (files && bSaveAndValidate) {
        o.files.clear();
        for (int row = 0; row < files->count(); ++row)
            o.files.push_back(Cp932FromQString(files->item(row)->text()));
    } else if (files) {
        files->clear();
        for (const std::string& file : o.files)
            files->addItem(QStringFromCp932(file));
    }
    if (m_pWaveform && bSaveAndValidate) {
        o.nStartMs = m_pWaveform->StartMs();
        o.nEndMs = m_pWaveform->EndMs();
    } else if (m_pWaveform) {
        m_pWaveform->SetMarks(o.nStartMs, o.nEndMs);
    }
    if (bSaveAndValidate) {
        o.retrigger = static_cast<EffectOptions::Retrigger>(std::clamp(retrigger, 0, 3));
        o.nChoke = std::clamp(choke, 0, kChokeGroups);
        o.send = static_cast<EffectOptions::Send>(std::clamp(send, 0, 2));
        o.pick = static_cast<EffectOptions::Pick>(std::clamp(pick, 0, 1));
        m_options = std::move(o);
    }
    return true;
}

void CEffectOptionsDlg::OnOK() {
    if (DoDataExchange(true))
        QDialog::accept();
}

void CEffectOptionsDlg::OnPlay() {
    const std::shared_ptr<const PreviewSound>& sound = m_decoder.Sound();
    if (!sound || !m_pDevice || !m_pWaveform)
        return;
    if (!m_pPreview) {
        const auto size = static_cast<std::uint32_t>(sound->samples.size() * sizeof(std::int16_t));
        m_pDevice->CreateBufferFromMemory(
            sound->format, reinterpret_cast<const std::uint8_t*>(sound->samples.data()), size,
            m_pPreview);
    }
    ISoundBufferShape* shape = QueryBufferShape(m_pPreview.get());
    if (!shape)
        return;
    // Heard as the effect will be: the fades as typed so far, the editor's volume and pan.
    std::int32_t fadeIn = 0;
    std::int32_t fadeOut = 0;
    if (QLineEdit* edit = Edit(IDC_OPTIONS_FADEIN))
        ParseIntText(Cp932FromQString(edit->text()), fadeIn);
    if (QLineEdit* edit = Edit(IDC_OPTIONS_FADEOUT))
        ParseIntText(Cp932FromQString(edit->text()), fadeOut);
    m_pPreview->Stop();
    shape->SetShape(static_cast<std::uint32_t>(m_pWaveform->StartMs()),
                    static_cast<std::uint32_t>(m_pWaveform->EndMs()),
                    static_cast<std::uint32_t>(std::clamp(fadeIn, 0, kMaxFadeMs)),
                    static_cast<std::uint32_t>(std::clamp(fadeOut, 0, kMaxFadeMs)), 1.0f);
    m_pPreview->SetVolume(m_nVolume);
    m_pPreview->SetPan(m_nPan);
    m_pPreview->SetCurrentPosition(0);
    m_pPreview->Play(0, 0, 0);
}

QStringList ChooseSoundFiles(QWidget* owner, const std::string& waveDir, bool several) {
    // Compressed effects are decoded at load; WAVE alone stays one choice away.
    static const QString kFilter =
        QString::fromUtf8("音声ファイル(*.wav *.flac *.ogg *.opus *.mp3);;WAVEファイル(*.wav)");
    QFileDialog chooser(owner, QString(), QString::fromStdString(ToOsPath(waveDir)), kFilter);
    // Qt's own chooser, so it behaves the same on every desktop and tests can drive it.
    chooser.setOption(QFileDialog::DontUseNativeDialog, true);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(several ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
    chooser.setDefaultSuffix(QStringLiteral("wav"));
    if (chooser.exec() != QDialog::Accepted)
        return {};
    return chooser.selectedFiles();
}

void CEffectOptionsDlg::OnAddFiles() {
    auto* list = Item<QListWidget>(IDC_OPTIONS_FILES);
    if (!list)
        return;
    const QDir waveDir(QString::fromStdString(ToOsPath(m_strWaveDir)));
    for (const QString& path : ChooseSoundFiles(this, m_strWaveDir, true)) {
        const QFileInfo file(path);
        // Named as the effect's own file is: bare in the WAVE folder, else by its whole path.
        const QString text = !m_strWaveDir.empty() && file.dir() == waveDir
                                 ? file.fileName()
                                 : QDir::toNativeSeparators(file.absoluteFilePath());
        std::string cp932;
        if (!TryCp932FromQString(text, cp932)) {
            AfxMessageBox(UnholdableTextMessage(), MB_OK | MB_ICONEXCLAMATION);
            continue;
        }
        if (!IsStorableFieldText(cp932) || !FitsFileList(cp932)) {
            AfxMessageBox(Cp932FromUtf8(texts::kNoCommaBarOrLineBreakInFiles),
                          MB_OK | MB_ICONEXCLAMATION);
            continue;
        }
        list->addItem(text);
        list->setCurrentRow(list->count() - 1);
    }
}

void CEffectOptionsDlg::OnRemoveFile() {
    auto* list = Item<QListWidget>(IDC_OPTIONS_FILES);
    if (list && list->currentRow() >= 0)
        delete list->takeItem(list->currentRow());
}

void CEffectOptionsDlg::MoveFile(int step) {
    auto* list = Item<QListWidget>(IDC_OPTIONS_FILES);
    const int row = list ? list->currentRow() : -1;
    if (row < 0 || row + step < 0 || row + step >= list->count())
        return;
    list->insertItem(row + step, list->takeItem(row));
    list->setCurrentRow(row + step);
}
