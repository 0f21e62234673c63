// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's options: carried through the editor on OK and dropped on Cancel, the fades'
// range, the marks dragged on the waveform, and the sound read off the window's thread.
#include "base/text.h"
#include "dialog_test_app.h"
#include "tests/support/test_support.h"
#include "ui/effect_dlg.h"
#include "ui/effect_options_dlg.h"
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
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

class EffectOptionsDlgTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureDialogTestApp(); }

    template <class T> static T* Item(QDialog& dlg, int id) {
        if (auto* editor = qobject_cast<CEffectDlg*>(&dlg))
            return qobject_cast<T*>(editor->GetDlgItem(id));
        return qobject_cast<T*>(static_cast<CEffectOptionsDlg&>(dlg).GetDlgItem(id));
    }
    static void Click(QDialog& dlg, int id) {
        QTest::mouseClick(Item<QPushButton>(dlg, id), Qt::LeftButton);
    }
    // Opens 詳細 from the editor, sets every option and presses `button` there.
    static void SetOptions(CEffectDlg& editor, int button) {
        WhenModal<CEffectOptionsDlg>([button](CEffectOptionsDlg& dlg) {
            Item<QComboBox>(dlg, IDC_OPTIONS_RETRIGGER)->setCurrentIndex(2); // 停止
            Item<QComboBox>(dlg, IDC_OPTIONS_CHOKE)->setCurrentIndex(3);
            Item<QLineEdit>(dlg, IDC_OPTIONS_FADEIN)->setText(QStringLiteral("250"));
            Item<QLineEdit>(dlg, IDC_OPTIONS_FADEOUT)->setText(QStringLiteral("10000"));
            Click(dlg, button);
        });
        Click(editor, IDC_EFFECT_DETAILS);
    }
    // A sound of `ms` milliseconds as the decoder gives it, without reading a file.
    static std::shared_ptr<PreviewSound> SoundOf(std::uint32_t ms) {
        auto sound = std::make_shared<PreviewSound>();
        sound->nLengthMs = ms;
        sound->peaks.assign(100, {-0.5f, 0.5f});
        return sound;
    }
};

TEST_F(EffectOptionsDlgTest, OptionsComeBackOnTheEditorsOkOnly) {
    EffectEditorValues values;
    values.options = ParseEffectOptions({"retrigger=restart", "future=7", "start=40"});
    const EffectOptions opened = values.options;

    struct Case {
        int optionsButton;
        int editorButton;
        bool changed;
    } cases[] = {{IDOK, IDOK, true}, {IDOK, IDCANCEL, false}, {IDCANCEL, IDOK, false}};
    for (const Case& c : cases) {
        values.options = opened;
        WhenModal<CEffectDlg>([&c](CEffectDlg& editor) {
            SetOptions(editor, c.optionsButton);
            Click(editor, c.editorButton);
        });
        RunEffectEditor(nullptr, "", values);
        EffectOptions expected = opened;
        if (c.changed) {
            expected.retrigger = EffectOptions::Retrigger::Toggle;
            expected.nChoke = 3;
            expected.nFadeInMs = 250;
            expected.nFadeOutMs = 10000;
        }
        EXPECT_EQ(values.options, expected) << c.optionsButton << " then " << c.editorButton;
    }
    EXPECT_EQ(FormatEffectOptions(values.options),
              (std::vector<std::string>{"retrigger=restart", "future=7", "start=40"}));
}

TEST_F(EffectOptionsDlgTest, FadesOutsideTheirRangeAreRefused) {
    CPreviewDecoder decoder;
    for (const char* text : {"-1", "10001", "x", ""}) {
        MessageRecorder messages;
        CEffectOptionsDlg dlg(decoder, nullptr);
        dlg.OnInitDialog();
        dlg.show();
        Item<QLineEdit>(dlg, IDC_OPTIONS_FADEOUT)->setText(QString::fromUtf8(text));
        Click(dlg, IDOK);
        EXPECT_TRUE(dlg.isVisible()) << text;
        ASSERT_EQ(messages.Messages().size(), 1u) << text;
        EXPECT_EQ(Utf8FromCp932(messages.Messages()[0].text),
                  "0 から 10000 までの整数を入力してください。");
        EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(IDC_OPTIONS_FADEOUT));
    }
}

// 1000 ms over 201 columns: 5 ms a column.
TEST_F(EffectOptionsDlgTest, DraggedMarksGiveTheirTimes) {
    struct Case {
        int fromMs;
        int toMs;
        int start;
        int end;
    } cases[] = {
        {0, 200, 200, 0},    // the start mark
        {1000, 900, 0, 900}, // the end mark; the widget's end is the sound's end
        {0, 1000, 999, 0},   // the start stops a millisecond before the end
        {1000, 0, 0, 1},     // and the end a millisecond after the start
        {400, 300, 300, 0},  // a press away from both marks moves the nearer one there
    };
    for (const Case& c : cases) {
        CWaveformCtrl waveform;
        waveform.resize(203, 60);
        waveform.SetSound(SoundOf(1000));
        waveform.show();
        const int y = 30;
        QTest::mousePress(&waveform, Qt::LeftButton, {}, QPoint(waveform.XOfMs(c.fromMs), y));
        QTest::mouseMove(&waveform, QPoint(waveform.XOfMs(c.toMs), y));
        QTest::mouseRelease(&waveform, Qt::LeftButton, {}, QPoint(waveform.XOfMs(c.toMs), y));
        EXPECT_EQ(waveform.StartMs(), c.start) << c.fromMs << " to " << c.toMs;
        EXPECT_EQ(waveform.EndMs(), c.end) << c.fromMs << " to " << c.toMs;
    }
}

TEST_F(EffectOptionsDlgTest, ArrowKeysMoveTheActiveMark) {
    CWaveformCtrl waveform;
    waveform.resize(203, 60);
    waveform.SetSound(SoundOf(1000));
    waveform.SetMarks(100, 0);
    QTest::keyClick(&waveform, Qt::Key_Right);
    QTest::keyClick(&waveform, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(waveform.StartMs(), 10);
    QTest::keyClick(&waveform, Qt::Key_Space);
    QTest::keyClick(&waveform, Qt::Key_Left);
    EXPECT_EQ(waveform.EndMs(), 990);
}

TEST_F(EffectOptionsDlgTest, TheSoundIsReadOffTheWindowsThreadAndShown) {
    TempDir dir;
    // Half a second at 22050 Hz of a sine at -6 dBFS, 22 samples a period (1002 Hz).
    std::vector<std::int16_t> samples(11025);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(16384 * std::sin(i * M_PI / 11)));
    ASSERT_TRUE(WriteBytes(dir.Path() + "sine.wav", MakePcm16Wave(1, 22050, samples)));

    CEffectDlg editor(dir.Path());
    editor.m_strFile = "sine.wav";
    editor.m_options.nStartMs = 100;
    editor.OnInitDialog();
    QTRY_VERIFY(!editor.Decoder().IsPending());
    const std::shared_ptr<const PreviewSound>& sound = editor.Decoder().Sound();
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->nLengthMs, 500u);
    EXPECT_EQ(sound->samples, samples);
    ASSERT_EQ(sound->peaks.size(), kPreviewPeakSlices);
    float lo = 0;
    float hi = 0;
    for (const PreviewSound::Peak& p : sound->peaks) {
        lo = std::min(lo, p.lo);
        hi = std::max(hi, p.hi);
    }
    EXPECT_NEAR(hi, 0.5f, 0.01f);
    EXPECT_NEAR(lo, -0.5f, 0.01f);
    // A 1 kHz sine heard on both sides measures its level in dBFS.
    ASSERT_TRUE(sound->loudness.has_value());
    EXPECT_NEAR(sound->loudness->dIntegratedLufs, -6.02, 0.1);

    CEffectOptionsDlg dlg(editor.Decoder(), nullptr);
    dlg.m_options = editor.m_options;
    dlg.OnInitDialog();
    EXPECT_EQ(Item<QLabel>(dlg, IDC_OPTIONS_RANGE)->text(),
              QString::fromUtf8("再生する区間: 100～500 ms（全体 500 ms）"));
    EXPECT_TRUE(Item<QLabel>(dlg, IDC_OPTIONS_LOUDNESS)->text().endsWith(" dBTP）"));
    EXPECT_FALSE(dlg.GetDlgItem(IDC_OPTIONS_PLAY)->isEnabled()); // no output to play on

    // A file that is not there shows no sound, and the loudness as not measured.
    editor.Decoder().Request(dir.Path() + "none.wav");
    QTRY_VERIFY(!editor.Decoder().IsPending());
    EXPECT_EQ(editor.Decoder().Sound(), nullptr);
    EXPECT_EQ(Item<QLabel>(dlg, IDC_OPTIONS_LOUDNESS)->text(), QString::fromUtf8("ラウドネス: —"));
}

TEST_F(EffectOptionsDlgTest, TabOrderFollowsTheTemplate) {
    CPreviewDecoder decoder;
    CEffectOptionsDlg dlg(decoder, nullptr);
    const int order[] = {IDC_OPTIONS_RETRIGGER,
                         IDC_OPTIONS_CHOKE,
                         IDC_OPTIONS_FADEIN,
                         IDC_OPTIONS_FADEOUT,
                         IDC_OPTIONS_WAVEFORM,
                         IDC_OPTIONS_PLAY,
                         IDC_OPTIONS_GAIN,
                         IDC_OPTIONS_SEND,
                         IDC_OPTIONS_FILES,
                         IDC_OPTIONS_ADD,
                         IDC_OPTIONS_REMOVE,
                         IDC_OPTIONS_UP,
                         IDC_OPTIONS_DOWN,
                         IDC_OPTIONS_PICK,
                         IDOK,
                         IDCANCEL,
                         IDC_OPTIONS_RETRIGGER};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget* next = dlg.GetDlgItem(order[i])->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, dlg.GetDlgItem(order[i + 1])) << "after " << order[i];
    }
}

// Files come from the chooser named as the effect's own file is, and are removed and reordered
// in the list; a gain outside -60..12 is refused.
TEST_F(EffectOptionsDlgTest, AddedFilesPickGainAndSendComeBackAsSet) {
    TempDir dir;
    for (const char* name : {"waves/b.wav", "elsewhere/c.wav"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(QString::fromStdString(dir.Path() + name)).path()));
        ASSERT_TRUE(WriteBytes(dir.Path() + name, MakePcm16Wave(1, 8000, {0, 1})));
    }
    CPreviewDecoder decoder;
    CEffectOptionsDlg dlg(decoder, nullptr);
    dlg.m_strWaveDir = dir.Cp932("waves/");
    dlg.m_options = ParseEffectOptions({"files=old.wav", "gain=-6"});
    dlg.OnInitDialog();
    dlg.show();
    for (const char* name : {"waves/b.wav", "elsewhere/c.wav"}) {
        // Typed rather than selected: selectFile leaves a focused name field as it was.
        WhenModal<QFileDialog>([&](QFileDialog& chooser) {
            auto* typed = chooser.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(typed, nullptr);
            typed->setText(QString::fromStdString(dir.Path() + name));
            static_cast<QDialog&>(chooser).done(QDialog::Accepted);
        });
        Click(dlg, IDC_OPTIONS_ADD);
    }
    auto* files = Item<QListWidget>(dlg, IDC_OPTIONS_FILES);
    ASSERT_EQ(files->count(), 3);
    Click(dlg, IDC_OPTIONS_UP); // c.wav, chosen last, above b.wav
    files->setCurrentRow(0);
    Click(dlg, IDC_OPTIONS_UP);   // already first
    Click(dlg, IDC_OPTIONS_DOWN); // old.wav below c.wav
    Click(dlg, IDC_OPTIONS_DOWN);
    Click(dlg, IDC_OPTIONS_REMOVE);
    Item<QComboBox>(dlg, IDC_OPTIONS_RETRIGGER)->setCurrentIndex(3);
    Item<QComboBox>(dlg, IDC_OPTIONS_PICK)->setCurrentIndex(1);
    Item<QComboBox>(dlg, IDC_OPTIONS_SEND)->setCurrentIndex(2);
    for (const char* gain : {"13", "-61", "-60"}) {
        MessageRecorder messages;
        Item<QLineEdit>(dlg, IDC_OPTIONS_GAIN)->setText(QString::fromUtf8(gain));
        Click(dlg, IDOK);
        EXPECT_EQ(messages.Messages().size(), dlg.isVisible() ? 1u : 0u) << gain;
    }
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(
        FormatEffectOptions(dlg.m_options),
        (std::vector<std::string>{"files=" + dir.Cp932("elsewhere/c.wav") + "|b.wav", "gain=-60",
                                  "retrigger=hold", "pick=random", "send=monitor"}));
}

} // namespace
