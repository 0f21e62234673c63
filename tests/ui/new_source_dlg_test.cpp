// SPDX-License-Identifier: GPL-3.0-or-later
// The new-set dialog and its folder picker: results, focus, the picked folder's separator, and
// the picker's bounded texts.
#include "dialog_test_app.h"
#include "tests/support/test_support.h"
#include "ui/effect_dlg.h"
#include "ui/folder_dialog.h"
#include "ui/new_source_dlg.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

class NewSourceDlgTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureDialogTestApp(); }

    static QLineEdit* EditOf(CNewSourceDlg& dlg, int id) {
        return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id));
    }
    static void Type(CNewSourceDlg& dlg, const char* fileName, const char* wavePath) {
        EditOf(dlg, IDC_NEWSET_FILENAME)->setText(QString::fromUtf8(fileName));
        EditOf(dlg, IDC_NEWSET_WAVEPATH)->setText(QString::fromUtf8(wavePath));
    }
    static void Click(CNewSourceDlg& dlg, int id) {
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(id)), Qt::LeftButton);
    }
    // Presses the folder button and lets `pick` answer the chooser.
    static void PickFolder(CNewSourceDlg& dlg, std::function<void(QFileDialog&)> pick) {
        WhenModal<QFileDialog>(std::move(pick));
        Click(dlg, IDC_NEWSET_BROWSE);
    }
    static void Choose(QFileDialog& chooser, const QString& folder) {
        // Entering the folder is synchronous; selecting it by name waits on the chooser's
        // file-system model, which loads in the background.
        chooser.setDirectory(folder);
        chooser.selectFile(QString());
        static_cast<QDialog&>(chooser).accept(); // QFileDialog keeps accept() protected
    }
};

TEST_F(NewSourceDlgTest, OpensEmptyWithOkFocusedFirstInTabOrder) {
    CNewSourceDlg dlg("/tmp/");
    dlg.m_strWavePath = "left over";
    dlg.OnInitDialog();
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("新規音源ファイル"));
    EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(IDOK));
    EXPECT_EQ(EditOf(dlg, IDC_NEWSET_FILENAME)->text(), QString());
    EXPECT_EQ(dlg.GetDlgItem(IDOK)->nextInFocusChain(), dlg.GetDlgItem(IDCANCEL));
    EXPECT_TRUE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->isDefault());
}

TEST_F(NewSourceDlgTest, RunReturnsTheTextsOnOkOnly) {
    NewSetValues values;
    WhenModal<CNewSourceDlg>([](CNewSourceDlg& dlg) {
        Type(dlg, "効果音", "snd\\a");
        Click(dlg, IDOK);
    });
    EXPECT_EQ(RunNewSetDialog(nullptr, "/tmp/", values), IDOK);
    EXPECT_EQ(values.strFileName, Sj("効果音")); // no extension added
    EXPECT_EQ(values.strWavePath, "snd\\a");

    WhenModal<CNewSourceDlg>([](CNewSourceDlg& dlg) {
        Type(dlg, "other", "x");
        Click(dlg, IDCANCEL);
    });
    EXPECT_EQ(RunNewSetDialog(nullptr, "/tmp/", values), IDCANCEL);
    EXPECT_EQ(values.strFileName, Sj("効果音"));
    EXPECT_EQ(values.strWavePath, "snd\\a");

    WhenModal<CNewSourceDlg>([](CNewSourceDlg& dlg) {
        Type(dlg, "other", "x");
        QTest::keyClick(dlg.GetDlgItem(IDC_NEWSET_WAVEPATH), Qt::Key_Escape);
    });
    EXPECT_EQ(RunNewSetDialog(nullptr, "/tmp/", values), IDCANCEL);
    EXPECT_EQ(values.strFileName, Sj("効果音"));
}

TEST_F(NewSourceDlgTest, EnterAtOnceAcceptsBothFieldsEmpty) {
    NewSetValues values{"old", "old"};
    WhenModal<CNewSourceDlg>(
        [](CNewSourceDlg& dlg) { QTest::keyClick(dlg.focusWidget(), Qt::Key_Return); });
    EXPECT_EQ(RunNewSetDialog(nullptr, "/tmp/", values), IDOK);
    EXPECT_EQ(values.strFileName, "");
    EXPECT_EQ(values.strWavePath, "");
}

TEST_F(NewSourceDlgTest, PickedFolderFillsThePathWithOneTrailingSeparator) {
    TempDir dir;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.Path() + "音/sub")));
    CNewSourceDlg dlg(dir.Path());
    dlg.OnInitDialog();
    dlg.show();
    Type(dlg, "name", "typed");

    QString title;
    QString startDir;
    PickFolder(dlg, [&](QFileDialog& chooser) {
        title = chooser.windowTitle();
        startDir = chooser.directory().absolutePath() + '/';
        Choose(chooser, QString::fromStdString(dir.Path() + "音/sub"));
    });
    EXPECT_EQ(title, QString::fromUtf8("フォルダーを選んでください。"));
    EXPECT_EQ(startDir, QString::fromStdString(dir.Path()));
    // The system's path until OK; the set file gets backslashes when the set is made.
    EXPECT_EQ(EditOf(dlg, IDC_NEWSET_WAVEPATH)->text(),
              QString::fromStdString(dir.Path() + "音/sub/"));
    EXPECT_EQ(EditOf(dlg, IDC_NEWSET_FILENAME)->text(), QStringLiteral("name"));
    EXPECT_EQ(dlg.m_strWavePath, ""); // taken only on OK

    // The root already ends with the separator: it goes in unchanged.
    PickFolder(dlg, [](QFileDialog& chooser) { Choose(chooser, QStringLiteral("/")); });
    EXPECT_EQ(EditOf(dlg, IDC_NEWSET_WAVEPATH)->text(), QStringLiteral("/"));

    // A cancelled picker leaves the field as it was.
    EditOf(dlg, IDC_NEWSET_WAVEPATH)->setText(QStringLiteral("typed again"));
    PickFolder(dlg, [](QFileDialog& chooser) { chooser.reject(); });
    EXPECT_EQ(EditOf(dlg, IDC_NEWSET_WAVEPATH)->text(), QStringLiteral("typed again"));

    Click(dlg, IDOK);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_strWavePath, "typed again");
    EXPECT_EQ(dlg.m_strFileName, "name");
}

// A picked folder stays whole in the field; what CP932 cannot hold is refused on OK, the field
// focused, and 〜 as input methods type it is taken.
TEST_F(NewSourceDlgTest, TextCp932CannotHoldIsRefusedOnOk) {
    TempDir dir;
    const std::string folder = dir.Path() + "効果音 〜 é";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    CNewSourceDlg dlg(dir.Path());
    dlg.OnInitDialog();
    dlg.show();
    Type(dlg, "新 〜.txt", "");
    PickFolder(dlg, [&](QFileDialog& chooser) { Choose(chooser, QString::fromStdString(folder)); });
    EXPECT_EQ(EditOf(dlg, IDC_NEWSET_WAVEPATH)->text(), QString::fromStdString(folder + "/"));
    for (int field : {IDC_NEWSET_WAVEPATH, IDC_NEWSET_FILENAME}) {
        MessageRecorder messages;
        Click(dlg, IDOK);
        EXPECT_NE(dlg.result(), QDialog::Accepted);
        ASSERT_EQ(messages.Texts().size(), 1u);
        EXPECT_NE(messages.Texts()[0].find(Sj("CP932（Shift-JIS）で表せない")), std::string::npos);
        EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(field));
        EXPECT_EQ(dlg.m_strFileName, "");
        EditOf(dlg, IDC_NEWSET_WAVEPATH)->setText(QString::fromUtf8("効果音 〜\\"));
        EditOf(dlg, IDC_NEWSET_FILENAME)->setText(QString::fromUtf8("¥.txt"));
    }
    EditOf(dlg, IDC_NEWSET_FILENAME)->setText(QString::fromUtf8("新 〜.txt"));
    Click(dlg, IDOK);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_strFileName, Sj("新 〜.txt"));
    EXPECT_EQ(dlg.m_strWavePath, Sj("効果音 〜\\"));

    // Below a folder CP932 cannot name, a folder it can is taken relative to the sets' folder.
    CNewSourceDlg below(dir.Path() + "Ünï/.local/share/otomaru/");
    below.OnInitDialog();
    Type(below, "a.txt", (dir.Path() + "Ünï/効果音 〜/").c_str());
    Click(below, IDOK);
    EXPECT_EQ(below.result(), QDialog::Accepted);
    EXPECT_EQ(below.m_strWavePath, Sj("../../../効果音 〜/"));
}

// A folder whose path does not fit the picker's 259 bytes is not taken.
TEST_F(NewSourceDlgTest, FolderTooLongForThePathIsNotTaken) {
    TempDir dir;
    const std::string deep = dir.Path() + std::string(120, 'a') + "/" + std::string(120, 'b');
    ASSERT_GT(deep.size(), CFolderDialog::kPathMax);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(deep)));
    CFolderDialog picker("t");
    WhenModal<QFileDialog>(
        [&](QFileDialog& chooser) { Choose(chooser, QString::fromStdString(deep)); });
    EXPECT_EQ(picker.DoModal(dir.Path()), -1);
    EXPECT_EQ(picker.GetPathName(), "");

    CNewSourceDlg dlg(dir.Path());
    dlg.OnInitDialog();
    dlg.show();
    Type(dlg, "", "kept");
    MessageRecorder messages;
    PickFolder(dlg, [&](QFileDialog& chooser) { Choose(chooser, QString::fromStdString(deep)); });
    EXPECT_EQ(EditOf(dlg, IDC_NEWSET_WAVEPATH)->text(), QStringLiteral("kept"));
    // Said, not silently dropped.
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, Sj("フォルダーのパスが長すぎます。"));
}

TEST(FolderDialogTextTest, TextsAreCutOrRefusedToTheirRoom) {
    // Cutting never splits a two-byte character.
    const std::string kana = Sj("あ"); // two bytes
    std::string title;
    for (int i = 0; i < 200; ++i) {
        title += kana;
    }
    CFolderDialog longTitle(title);
    EXPECT_EQ(longTitle.GetTitle().size(), 254u);
    EXPECT_EQ(longTitle.GetTitle(), title.substr(0, 254));
    CFolderDialog asciiTitle(std::string(300, 'x'));
    EXPECT_EQ(asciiTitle.GetTitle(), std::string(255, 'x'));
}

TEST_F(NewSourceDlgTest, InitialPathIsPreselectedOnlyWhenItFits) {
    TempDir dir;
    CFolderDialog picker("t");
    const std::string fits = "/" + std::string(CFolderDialog::kPathMax - 1, 'p');
    const std::string tooLong = fits + "q";
    for (const std::string& initial : {fits, tooLong}) {
        WhenModal<QFileDialog>([](QFileDialog& chooser) { chooser.reject(); });
        EXPECT_EQ(picker.DoModal(initial), IDCANCEL);
        EXPECT_EQ(picker.GetInitialPath(),
                  initial.size() <= CFolderDialog::kPathMax ? initial : "");
    }
}

} // namespace

namespace {

// On the platform the dialogs were designed on, the focused push button is the default while it
// has the focus: Enter presses it (Cancel, Browse), and OK again once the focus is in a field.
template <class Dlg>
void EnterOnButtons(const std::function<int()>& run, int browseId, int editId) {
    for (const int focus : {IDCANCEL, browseId}) {
        bool chooserOpened = false;
        WhenModal<Dlg>([&](Dlg& dlg) {
            if (focus == browseId)
                WhenModal<QFileDialog>([&](QFileDialog& chooser) {
                    chooserOpened = true;
                    chooser.reject();
                });
            for (const int id : {focus, editId}) {
                if (!dlg.isVisible())
                    break;
                dlg.GetDlgItem(id)->setFocus(Qt::TabFocusReason);
                QTest::keyClick(dlg.focusWidget(), Qt::Key_Return);
            }
        });
        EXPECT_EQ(run(), focus == IDCANCEL ? IDCANCEL : IDOK) << focus;
        EXPECT_EQ(chooserOpened, focus == browseId) << focus;
    }
}

TEST(DefaultButtonTest, EnterPressesTheFocusedButton) {
    EnsureDialogTestApp();
    NewSetValues set;
    EnterOnButtons<CNewSourceDlg>([&] { return RunNewSetDialog(nullptr, "/tmp/", set); },
                                  IDC_NEWSET_BROWSE, IDC_NEWSET_FILENAME);
    EffectEditorValues effect;
    EnterOnButtons<CEffectDlg>([&] { return RunEffectEditor(nullptr, "/tmp/", effect); },
                               IDC_EFFECT_BROWSE, IDC_EFFECT_NAME);
}

} // namespace
