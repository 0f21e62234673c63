// SPDX-License-Identifier: GPL-3.0-or-later
// The effect editor: its layout, the data exchange with its order and refusals, the sliders, the
// hotkey field and the file chooser.
#include "base/text.h"
#include "dialog_test_app.h"
#include "tests/support/test_support.h"
#include "ui/effect_dlg.h"
#include "ui/hotkey_edit.h"
#include "ui/sound_preview.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <cmath>

namespace {

QString QStringFromHotkey(int modifiers, int key) {
    return QString::fromStdString(Utf8FromCp932(HotkeyText(modifiers, key, nullptr)));
}

class EffectDlgTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureDialogTestApp(); }

    static QLineEdit* EditOf(CEffectDlg& dlg, int id) {
        return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id));
    }
    static QSlider* SliderOf(CEffectDlg& dlg, int id) {
        return qobject_cast<QSlider*>(dlg.GetDlgItem(id));
    }
    static void Open(CEffectDlg& dlg) {
        dlg.OnInitDialog();
        dlg.show();
    }
    static void PressOk(CEffectDlg& dlg) {
        auto* ok = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK));
        ASSERT_NE(ok, nullptr);
        QTest::mouseClick(ok, Qt::LeftButton);
    }
    static bool Accepted(CEffectDlg& dlg) {
        return !dlg.isVisible() && dlg.result() == QDialog::Accepted;
    }
};

TEST_F(EffectDlgTest, TemplateHasItsControlsInTabOrder) {
    CEffectDlg dlg("");
    EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("登録情報"));
    EXPECT_NE(dlg.m_hotKey, nullptr);
    EXPECT_EQ(dlg.GetDlgItem(IDC_EFFECT_HOTKEY), dlg.m_hotKey);
    EXPECT_EQ(EditOf(dlg, IDC_EFFECT_REPEAT)->alignment() & Qt::AlignRight, Qt::AlignRight);
    EXPECT_EQ(EditOf(dlg, IDC_EFFECT_INTERVAL)->alignment() & Qt::AlignRight, Qt::AlignRight);
    EXPECT_EQ(EditOf(dlg, IDC_EFFECT_NAME)->alignment() & Qt::AlignRight, 0);
    EXPECT_TRUE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->isDefault());
    EXPECT_EQ(dlg.GetDlgItem(IDC_EFFECT_PAN)->geometry(),
              DluToPixels(QRect(42, 115, 100, 15), DialogFont()));

    const int order[] = {IDC_EFFECT_FILE,   IDC_EFFECT_BROWSE,  IDC_EFFECT_NAME,
                         IDC_EFFECT_HOTKEY, IDC_EFFECT_REPEAT,  IDC_EFFECT_INTERVAL,
                         IDC_EFFECT_VOLUME, IDC_EFFECT_PAN,     IDOK,
                         IDCANCEL,          IDC_EFFECT_DETAILS, IDC_EFFECT_FILE};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget* next = dlg.GetDlgItem(order[i])->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus)) {
            next = next->nextInFocusChain();
        }
        EXPECT_EQ(next, dlg.GetDlgItem(order[i + 1])) << "after " << order[i];
    }
}

TEST_F(EffectDlgTest, ValuesGoInAndComeBackOnOk) {
    MessageRecorder messages;
    CEffectDlg dlg(Sj("音/"));
    // ソ carries 0x5C as its second byte. Bytes without a Unicode form (0x80, 0xA0, 0xFD, 0x8540,
    // a lone lead byte) and NEC's duplicates (0x8790, 0xED40) stay as given in unedited fields.
    const std::string file = Sj("sub\\ソ") + "\x80\x87\x90.wav";
    const std::string name = Sj("拍手") + "\xA0\xFD\x85\x40\xED\x40"
                                          "b\x81";
    dlg.m_strFile = file;
    dlg.m_strName = name;
    dlg.m_nPan = -2500;
    dlg.m_nVolume = -600;
    dlg.m_nRepeat = 3;
    dlg.m_nInterval = -40;
    dlg.m_wKey = 0x141; // only the low byte reaches the field
    dlg.m_wModifiers = MOD_CODE_CTRL | MOD_CODE_ALT;
    Open(dlg);
    EXPECT_EQ(EditOf(dlg, IDC_EFFECT_REPEAT)->text(), QStringLiteral("3"));
    EXPECT_EQ(EditOf(dlg, IDC_EFFECT_INTERVAL)->text(), QStringLiteral("-40"));
    EXPECT_EQ(SliderOf(dlg, IDC_EFFECT_VOLUME)->value(), -600);
    EXPECT_EQ(SliderOf(dlg, IDC_EFFECT_PAN)->value(), -2500);
    EXPECT_EQ(dlg.m_hotKey->GetHotKey(), 0x41 | ((HOTKEYF_CONTROL | HOTKEYF_ALT) << 8));
    EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(IDC_EFFECT_FILE));
    EXPECT_EQ(dlg.Decoder().Path(), file);

    PressOk(dlg);
    ASSERT_TRUE(Accepted(dlg));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(dlg.m_strFile, file);
    EXPECT_EQ(dlg.m_strName, name);
    EXPECT_EQ(dlg.m_nPan, -2500);
    EXPECT_EQ(dlg.m_nVolume, -600);
    EXPECT_EQ(dlg.m_nRepeat, 3);
    EXPECT_EQ(dlg.m_nInterval, -40);
    EXPECT_EQ(dlg.m_wKey, 0x41);
    EXPECT_EQ(dlg.m_wModifiers, MOD_CODE_CTRL | MOD_CODE_ALT);
}

TEST_F(EffectDlgTest, EditedFieldsAreTaken) {
    CEffectDlg dlg("");
    Open(dlg);
    EditOf(dlg, IDC_EFFECT_FILE)->setText(QStringLiteral("/home/a/x.wav"));
    EditOf(dlg, IDC_EFFECT_NAME)->setText(QString::fromUtf8("鐘"));
    EditOf(dlg, IDC_EFFECT_REPEAT)->setText(QStringLiteral(" 0 "));
    EditOf(dlg, IDC_EFFECT_INTERVAL)->setText(QStringLiteral("\t250"));
    SliderOf(dlg, IDC_EFFECT_VOLUME)->setValue(-20000); // held at the track's end
    SliderOf(dlg, IDC_EFFECT_PAN)->setValue(10000);
    PressOk(dlg);
    ASSERT_TRUE(Accepted(dlg));
    // A path typed with '/' reaches the opener as typed; storing it is the opener's business.
    EXPECT_EQ(dlg.m_strFile, "/home/a/x.wav");
    EXPECT_EQ(dlg.m_strName, Sj("鐘"));
    EXPECT_EQ(dlg.m_nRepeat, 0);
    EXPECT_EQ(dlg.m_nInterval, 250);
    EXPECT_EQ(dlg.m_nVolume, -10000);
    EXPECT_EQ(dlg.m_nPan, 10000);
}

// The interval is exchanged before the repeat count, so it is the one reported; the fields
// after a refused one are not read.
TEST_F(EffectDlgTest, FirstFaultyNumberIsReportedFocusedAndSelected) {
    MessageRecorder messages;
    CEffectDlg dlg("");
    dlg.m_nVolume = -100;
    dlg.m_nRepeat = 9;
    Open(dlg);
    EditOf(dlg, IDC_EFFECT_REPEAT)->setText(QStringLiteral("x"));
    EditOf(dlg, IDC_EFFECT_INTERVAL)->setText(QStringLiteral("1 0"));
    SliderOf(dlg, IDC_EFFECT_VOLUME)->setValue(-7000);

    PressOk(dlg);
    EXPECT_TRUE(dlg.isVisible());
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, Sj("整数を入力してください。"));
    EXPECT_EQ(messages.Messages()[0].caption, "Otomaru");
    EXPECT_EQ(messages.Messages()[0].type, MB_OK | MB_ICONEXCLAMATION);
    QLineEdit* interval = EditOf(dlg, IDC_EFFECT_INTERVAL);
    EXPECT_EQ(dlg.focusWidget(), interval);
    EXPECT_EQ(interval->selectedText(), QStringLiteral("1 0"));

    interval->setText(QStringLiteral("10"));
    messages.Clear();
    PressOk(dlg);
    EXPECT_TRUE(dlg.isVisible());
    ASSERT_EQ(messages.Messages().size(), 1u);
    QLineEdit* repeat = EditOf(dlg, IDC_EFFECT_REPEAT);
    EXPECT_EQ(dlg.focusWidget(), repeat);
    EXPECT_EQ(repeat->selectedText(), QStringLiteral("x"));
    EXPECT_EQ(dlg.m_nRepeat, 9);
    EXPECT_EQ(dlg.m_nVolume, -100); // exchanged after the repeat count: not read

    repeat->setText(QStringLiteral("2"));
    PressOk(dlg);
    ASSERT_TRUE(Accepted(dlg));
    EXPECT_EQ(dlg.m_nInterval, 10);
    EXPECT_EQ(dlg.m_nRepeat, 2);
    EXPECT_EQ(dlg.m_nVolume, -7000);
}

// A comma or a line break would split the effect's line in the set file; a character CP932
// cannot hold would be stored altered.
TEST_F(EffectDlgTest, UnstorableTextsAreRefusedWhereTheyAre) {
    const std::string comma = Sj("カンマ（,）と改行は使えません。");
    const std::string cp932 =
        Sj("CP932（Shift-JIS）で表せない文字は使えません。別の名前を使ってください。");
    struct Case {
        int id;
        QString text;
        const std::string& message;
    };
    const Case cases[] = {
        {IDC_EFFECT_FILE, QStringLiteral("a,b.wav"), comma},
        {IDC_EFFECT_NAME, QString::fromUtf8("ドン,カッ"), comma},
        {IDC_EFFECT_NAME, QStringLiteral("two\nlines"), comma},
        {IDC_EFFECT_FILE, QString::fromUtf8("café.wav"), cp932},
        {IDC_EFFECT_NAME, QString::fromUtf8("¥100"), cp932},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        MessageRecorder messages;
        CEffectDlg dlg("");
        dlg.m_strName = "before";
        Open(dlg);
        EditOf(dlg, c.id)->setText(c.text);
        PressOk(dlg);
        EXPECT_TRUE(dlg.isVisible());
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].text, c.message);
        EXPECT_EQ(messages.Messages()[0].caption, "Otomaru");
        EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(c.id));
        EXPECT_EQ(EditOf(dlg, c.id)->selectedText(), EditOf(dlg, c.id)->text());
        EXPECT_EQ(dlg.m_strName, "before");
    }
}

TEST_F(EffectDlgTest, StorableTextRuleWalksTwoByteCharacters) {
    EXPECT_TRUE(IsStorableFieldText(""));
    EXPECT_TRUE(IsStorableFieldText(Sj("ソ表\\a.wav")));
    EXPECT_FALSE(IsStorableFieldText(","));
    EXPECT_FALSE(IsStorableFieldText(Sj("表,")));
    EXPECT_FALSE(IsStorableFieldText("a\r"));
    // A lead byte before the comma does not hide it: a comma is never a trail byte.
    EXPECT_FALSE(IsStorableFieldText(std::string("\x83,", 2)));
}

// Left is the minimum on both tracks: a volume halfway to silence sits in the middle, a pan
// halfway to the left at a quarter of the track.
TEST_F(EffectDlgTest, SliderThumbsSitWhereTheValuesSay) {
    CEffectDlg dlg("");
    dlg.m_nVolume = -5000;
    dlg.m_nPan = -5000;
    Open(dlg);
    auto thumbFraction = [](QSlider* slider) {
        QStyleOptionSlider opt;
        opt.initFrom(slider);
        opt.orientation = slider->orientation();
        opt.minimum = slider->minimum();
        opt.maximum = slider->maximum();
        opt.sliderPosition = slider->sliderPosition();
        opt.sliderValue = slider->value();
        opt.upsideDown = slider->invertedAppearance();
        const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &opt,
                                                             QStyle::SC_SliderHandle, slider);
        const int span = slider->width() - handle.width();
        return static_cast<double>(handle.x()) / span;
    };
    QSlider* volume = SliderOf(dlg, IDC_EFFECT_VOLUME);
    QSlider* pan = SliderOf(dlg, IDC_EFFECT_PAN);
    EXPECT_EQ(volume->orientation(), Qt::Horizontal);
    EXPECT_EQ(volume->minimum(), -10000);
    EXPECT_EQ(volume->maximum(), 0);
    EXPECT_EQ(pan->minimum(), -10000);
    EXPECT_EQ(pan->maximum(), 10000);
    EXPECT_NEAR(thumbFraction(volume), 0.5, 0.02);
    EXPECT_NEAR(thumbFraction(pan), 0.25, 0.02);
}

TEST_F(EffectDlgTest, HotkeyFieldCapturesOneKeyWithModifiers) {
    struct Case {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        std::uint16_t wantKey;
        std::uint16_t wantModifiers;
    };
    const Case cases[] = {
        {"Ctrl+Shift+K", Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier, 0x4B, 6},
        {"Alt+B, not the browse button", Qt::Key_B, Qt::AltModifier, 0x42, 1},
        {"a digit alone", Qt::Key_1, Qt::NoModifier, 0x31, 0},
        {"an arrow key", Qt::Key_Left, Qt::NoModifier, 0x25, 0},
        {"Shift+F5", Qt::Key_F5, Qt::ShiftModifier, 0x74, 4},
        {"Backspace clears", Qt::Key_Backspace, Qt::NoModifier, 0, 0},
        {"Delete clears", Qt::Key_Delete, Qt::NoModifier, 0, 0},
        {"Ctrl+Delete is a hotkey", Qt::Key_Delete, Qt::ControlModifier, 0x2E, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CEffectDlg dlg("");
        dlg.m_wKey = 0x5A; // Z, so clearing shows
        dlg.m_wModifiers = MOD_CODE_ALT;
        Open(dlg);
        QTest::keyClick(dlg.m_hotKey, c.key, c.mods);
        EXPECT_TRUE(dlg.isVisible());
        // No button took the key as its mnemonic.
        EXPECT_FALSE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_EFFECT_BROWSE))->isDown());
        PressOk(dlg);
        ASSERT_TRUE(Accepted(dlg));
        EXPECT_EQ(dlg.m_wKey, c.wantKey);
        EXPECT_EQ(dlg.m_wModifiers, c.wantModifiers);
    }
}

TEST_F(EffectDlgTest, HotkeyFieldShowsTheHotkeyText) {
    CEffectDlg dlg("");
    Open(dlg);
    QTest::keyClick(dlg.m_hotKey, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(dlg.m_hotKey->text(), QStringFromHotkey(MOD_CODE_CTRL | MOD_CODE_SHIFT, 0x4B));
    // Modifiers alone show while held and leave the value as it was.
    QTest::keyPress(dlg.m_hotKey, Qt::Key_Alt, Qt::NoModifier);
    EXPECT_EQ(dlg.m_hotKey->text(), QStringFromHotkey(MOD_CODE_ALT, 0));
    QTest::keyRelease(dlg.m_hotKey, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_EQ(dlg.m_hotKey->text(), QStringFromHotkey(MOD_CODE_CTRL | MOD_CODE_SHIFT, 0x4B));
    EXPECT_EQ(dlg.m_hotKey->GetHotKey(), 0x4B | ((HOTKEYF_CONTROL | HOTKEYF_SHIFT) << 8));
    QTest::keyClick(dlg.m_hotKey, Qt::Key_Backspace);
    EXPECT_EQ(dlg.m_hotKey->text(), QString::fromUtf8("なし"));
}

// The field reports extended keys with HOTKEYF_EXT as the platform's control did; the editor
// never stores the flag.
TEST_F(EffectDlgTest, ExtendedFlagIsDroppedOnOk) {
    CEffectDlg dlg("");
    Open(dlg);
    dlg.m_hotKey->SetHotKey(0x26, HOTKEYF_EXT | HOTKEYF_SHIFT);
    PressOk(dlg);
    ASSERT_TRUE(Accepted(dlg));
    EXPECT_EQ(dlg.m_wKey, 0x26);
    EXPECT_EQ(dlg.m_wModifiers, MOD_CODE_SHIFT);
}

TEST_F(EffectDlgTest, ArrowKeyIsStoredWithoutTheExtendedFlag) {
    CEffectDlg dlg("");
    Open(dlg);
    QTest::keyClick(dlg.m_hotKey, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(dlg.m_hotKey->GetHotKey(), 0x25 | ((HOTKEYF_CONTROL | HOTKEYF_EXT) << 8));
    PressOk(dlg);
    ASSERT_TRUE(Accepted(dlg));
    EXPECT_EQ(dlg.m_wKey, 0x25);
    EXPECT_EQ(dlg.m_wModifiers, MOD_CODE_CTRL);
}

TEST_F(EffectDlgTest, BrowsePutsTheBareFileTitleIntoTheField) {
    TempDir dir;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.Path() + "waves")));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.Path() + "elsewhere")));
    ASSERT_TRUE(WriteBytes(dir.Path() + "elsewhere/ding.wav", MakePcm16Wave(1, 8000, {0, 1})));
    CEffectDlg dlg(dir.Cp932("waves"));
    Open(dlg);
    QStringList filters;
    QString startDir;
    WhenModal<QFileDialog>([&](QFileDialog& chooser) {
        filters = chooser.nameFilters();
        startDir = chooser.directory().absolutePath();
        chooser.selectFile(QString::fromStdString(dir.Path() + "elsewhere/ding.wav"));
        static_cast<QDialog&>(chooser).accept(); // QFileDialog keeps accept() protected
    });
    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_EFFECT_BROWSE)),
                      Qt::LeftButton);
    EXPECT_EQ(filters,
              (QStringList{QString::fromUtf8("音声ファイル(*.wav *.flac *.ogg *.opus *.mp3)"),
                           QString::fromUtf8("WAVEファイル(*.wav)")}));
    EXPECT_EQ(startDir, QString::fromStdString(dir.Path() + "waves"));
    EXPECT_EQ(EditOf(dlg, IDC_EFFECT_FILE)->text(), QStringLiteral("ding.wav"));

    // A cancelled chooser leaves the field alone.
    WhenModal<QFileDialog>([](QFileDialog& chooser) { chooser.reject(); });
    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_EFFECT_BROWSE)),
                      Qt::LeftButton);
    EXPECT_EQ(EditOf(dlg, IDC_EFFECT_FILE)->text(), QStringLiteral("ding.wav"));
}

TEST_F(EffectDlgTest, RunEffectEditorReturnsValuesOnlyOnOk) {
    EffectEditorValues values;
    values.strName = Sj("前");
    values.nRepeat = 1;
    values.nVolume = -300;
    WhenModal<CEffectDlg>([](CEffectDlg& dlg) {
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EFFECT_NAME))->setText(QString::fromUtf8("後"));
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EFFECT_REPEAT))->setText(QStringLiteral("4"));
        QTest::keyClick(dlg.m_hotKey, Qt::Key_Q, Qt::ControlModifier);
        QTest::keyClick(dlg.m_hotKey, Qt::Key_Return); // Enter presses OK
    });
    EXPECT_EQ(RunEffectEditor(nullptr, "", values), IDOK);
    EXPECT_EQ(values.strName, Sj("後"));
    EXPECT_EQ(values.nRepeat, 4);
    EXPECT_EQ(values.nVolume, -300);
    EXPECT_EQ(values.wKey, 0x51);
    EXPECT_EQ(values.wModifiers, MOD_CODE_CTRL);

    const EffectEditorValues before = values;
    WhenModal<CEffectDlg>([](CEffectDlg& dlg) {
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EFFECT_NAME))->setText(QStringLiteral("x"));
        QTest::keyClick(dlg.GetDlgItem(IDC_EFFECT_NAME), Qt::Key_Escape);
    });
    EXPECT_EQ(RunEffectEditor(nullptr, "", values), IDCANCEL);
    EXPECT_EQ(values.strName, before.strName);
    EXPECT_EQ(values.nRepeat, before.nRepeat);
}

} // namespace
