// The main window with a real set controller on a set in a temporary folder: its layout, the
// routing of every button, menu command, list notification and key, and its shut-down.
#include "dialog_test_app.h"
#include "ui/mixer_dlg.h"

#include "core/remote_command.h"
#include "core/row_text.h"
#include "desktop/virtual_microphone.h"
#include "tests/support/test_support.h"
#include "ui/about_dlg.h"
#include "ui/device_menu.h"
#include "ui/effect_dlg.h"
#include "ui/effect_list_ctrl.h"
#include "ui/mixer_resource.h"

#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Waits for a condition that a worker thread brings about; generous, never a timing check.
bool WaitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Closes the next modal window once it is up, after letting `inspect` look at it.
class ModalCloser {
public:
    explicit ModalCloser(std::function<void(QWidget*)> inspect = {})
        : m_inspect(std::move(inspect)) {
        QTimer::singleShot(0, &m_context, [this] { Close(); });
    }
    QWidget* Seen() const { return m_seen; }
    QString SeenTitle() const { return m_title; }

private:
    void Close() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            if (++m_tries < 200)
                QTimer::singleShot(10, &m_context, [this] { Close(); });
            return;
        }
        m_seen = modal;
        m_title = modal->windowTitle();
        if (m_inspect)
            m_inspect(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
    QObject m_context; // a closer that goes first takes its timers with it
    std::function<void(QWidget*)> m_inspect;
    QWidget* m_seen = nullptr;
    QString m_title;
    int m_tries = 0;
};

class MixerDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureDialogTestApp();
        // A short sound and a long one (4 s), so that a playback can be caught running.
        WriteBytes(m_dir.Path() + "short.wav",
                   MakePcm16Wave(1, 22050, std::vector<std::int16_t>(200, 1000)));
        WriteBytes(m_dir.Path() + "long.wav",
                   MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050 * 4, 1000)));
        WriteSet("音源.txt", {"short.wav," + Sj("短い") + ",0,49,0,0,1,0",
                              "long.wav," + Sj("長い") + ",6,50,0,-1,0,0",
                              "missing.wav," + Sj("無い") + ",0,51,0,-10000,3,500"});
        WriteSet("b.txt", {"short.wav,B,0,52,0,0,1,0"});
        m_dlg = std::make_unique<CMixerDlg>(m_dir.Path() + "otomaru");
        m_dlg->Create();
        m_dlg->show();
        QApplication::processEvents();
    }
    // The window makes its executable's folder the current directory; the next test must not
    // start in a folder that has been removed.
    void TearDown() override {
        m_dlg.reset();
        std::filesystem::current_path(m_savedDirectory);
    }

    void WriteSet(const char* utf8Name, const std::vector<std::string>& lines) {
        std::string text = "MOK_FILE\r\n" + m_dir.Cp932() + "\r\n";
        for (const std::string& line : lines)
            text += line + "\r\n";
        WriteText(m_dir.Path() + utf8Name, text);
    }

    QPushButton* Button(int id) { return qobject_cast<QPushButton*>(m_dlg->GetDlgItem(id)); }
    int PlayRows() { return m_dlg->PlayList().GetItemCount(); }
    void SelectEffect(int row) {
        QTest::mouseClick(
            m_dlg->EffectList().viewport(), Qt::LeftButton, {},
            m_dlg->EffectList().visualRect(m_dlg->EffectList().model()->index(row, 0)).center());
    }
    bool SendKey(QEvent::Type type, int key, Qt::KeyboardModifiers mods = {}) {
        QKeyEvent e(type, key, mods, QString());
        e.setTimestamp(++m_clock);
        QWidget* to = QApplication::focusWidget() ? QApplication::focusWidget() : m_dlg.get();
        QApplication::sendEvent(to, &e);
        QCoreApplication::processEvents();
        return e.isAccepted();
    }

    const std::filesystem::path m_savedDirectory = std::filesystem::current_path();
    TempDir m_dir;
    MessageRecorder m_messages;
    std::unique_ptr<CMixerDlg> m_dlg;
    quint64 m_clock = 1000;
};

TEST_F(MixerDlgTest, WindowFollowsTheTemplate) {
    EXPECT_EQ(m_dlg->windowTitle(), QString("Otomaru Ver " OTOMARU_VERSION));
    EXPECT_EQ(m_dlg->minimumSize(), m_dlg->size()); // the designed size is the smallest
    EXPECT_TRUE(m_dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(m_dlg->windowFlags() & Qt::WindowMinimizeButtonHint);

    struct ButtonCase {
        int id;
        const char* text;
    };
    const ButtonCase buttons[] = {{IDC_EDIT, "編集(&E)"},   {IDC_PLAY, "再生(&P)"},
                                  {IDC_STOP, "停止(&S)"},   {IDC_STOPALL, "全て停止(&A)"},
                                  {IDC_SWITCH, "切替(&C)"}, {IDC_NEW, "新規(&N)"}};
    const int barBottom = m_dlg->MenuBar().geometry().bottom();
    for (const ButtonCase& b : buttons) {
        QPushButton* button = Button(b.id);
        ASSERT_NE(button, nullptr) << b.id;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.text));
        // No button is, or becomes, the default: Enter must never press one.
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << b.id;
        EXPECT_GT(button->y(), barBottom) << b.id;
    }
    // Left and right edges line up as the template's columns do.
    EXPECT_EQ(Button(IDC_EDIT)->x(), m_dlg->EffectList().x());
    EXPECT_EQ(Button(IDC_STOPALL)->geometry().right(), m_dlg->PlayList().geometry().right());
    EXPECT_LT(m_dlg->EffectList().geometry().right(), m_dlg->PlayList().x());

    // Tab order: the set selector first and holding the focus, then the lists, then the buttons.
    EXPECT_EQ(QApplication::focusWidget(), &m_dlg->SetSelector());
    std::vector<QWidget*> chain;
    for (QWidget* w = m_dlg->SetSelector().nextInFocusChain();
         w != &m_dlg->SetSelector() && chain.size() < 40; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            chain.push_back(w);
    const std::vector<QWidget*> expected = {
        &m_dlg->EffectList(), &m_dlg->PlayList(),  Button(IDC_EDIT),   Button(IDC_PLAY),
        Button(IDC_STOP),     Button(IDC_STOPALL), Button(IDC_SWITCH), Button(IDC_NEW)};
    EXPECT_EQ(chain, expected);

    // Menu bar 128.
    QStringList titles;
    for (QAction* a : m_dlg->MenuBar().actions())
        titles << a->text();
    EXPECT_EQ(titles,
              QStringList({QString::fromUtf8("ファイル(&F)"), QString::fromUtf8("効果音リスト(&P)"),
                           QString::fromUtf8("再生リスト"), QString::fromUtf8("出力デバイス(&D)"),
                           QString::fromUtf8("オプション(&O)"), QString::fromUtf8("ヘルプ(&H)")}));
    EXPECT_EQ(m_dlg->GetMenuAction(ID_HELP_ABOUT)->text(),
              QString::fromUtf8("Otomaruについて(&A)"));
    EXPECT_EQ(m_dlg->GetMenuAction(ID_PLAY_STOP)->text(), QString::fromUtf8("選択WAVEを停止"));
}

// Extra room goes to the lists, the effect list the larger share; the buttons keep their size,
// their side and their order, the selector widens.
TEST_F(MixerDlgTest, ListsTakeTheRoomAndButtonsKeepTheirSides) {
    const QSize designed = m_dlg->size();
    auto rect = [&](int id) { return m_dlg->GetDlgItem(id)->geometry(); };
    std::map<int, QRect> before;
    for (int id : {IDC_EFFECTLIST, IDC_PLAYLIST, IDC_SOUNDFILES, IDC_EDIT, IDC_PLAY, IDC_STOP,
                   IDC_STOPALL, IDC_SWITCH, IDC_NEW})
        before[id] = rect(id);
    for (const QSize grown : {QSize(0, 0), QSize(500, 300)}) {
        m_dlg->resize(designed + grown);
        QApplication::processEvents();
        const int dx = grown.width(), dy = grown.height();
        const QRect effects = rect(IDC_EFFECTLIST), plays = rect(IDC_PLAYLIST);
        EXPECT_EQ(effects.width() + plays.width(),
                  before[IDC_EFFECTLIST].width() + before[IDC_PLAYLIST].width() + dx);
        EXPECT_GE(effects.width() - before[IDC_EFFECTLIST].width(),
                  plays.width() - before[IDC_PLAYLIST].width());
        EXPECT_EQ(effects.height(), before[IDC_EFFECTLIST].height() + dy);
        EXPECT_EQ(plays.x() - effects.right(),
                  before[IDC_PLAYLIST].x() - before[IDC_EFFECTLIST].right());
        EXPECT_EQ(rect(IDC_SOUNDFILES).width(), before[IDC_SOUNDFILES].width() + dx);
        // Left buttons keep the left edge, right ones the right edge; all keep the bottom.
        EXPECT_EQ(rect(IDC_EDIT), before[IDC_EDIT].translated(0, dy));
        EXPECT_EQ(rect(IDC_PLAY).right() - effects.right(),
                  before[IDC_PLAY].right() - before[IDC_EFFECTLIST].right());
        EXPECT_EQ(rect(IDC_STOP).x() - plays.x(), before[IDC_STOP].x() - before[IDC_PLAYLIST].x());
        for (int id : {IDC_STOPALL, IDC_SWITCH, IDC_NEW})
            EXPECT_EQ(rect(id), before[id].translated(dx, id == IDC_STOPALL ? dy : 0)) << id;
        EXPECT_LT(rect(IDC_PLAY).right(), rect(IDC_STOP).left());
    }
    m_dlg->resize(designed / 2);
    EXPECT_EQ(m_dlg->size(), designed);
}

TEST_F(MixerDlgTest, ListsShowTheSetWithTheirColumns) {
    CEffectListCtrl& effects = m_dlg->EffectList();
    CEffectListCtrl& plays = m_dlg->PlayList();
    const std::pair<const char*, int> effectColumns[] = {
        {"音源名", 100}, {"ホットキー", 65}, {"リピート", 65}, {"Vol", 40}};
    const std::pair<const char*, int> playColumns[] = {
        {"音源名", 80}, {"Loop", 40}, {"Wait", 40}, {"Vol", 40}};
    // Widths keep their designed proportions, scaled with the dialog font.
    const double scale = effects.header()->sectionSize(0) / 100.0;
    EXPECT_GE(scale, 1.0);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(effects.model()->headerData(c, Qt::Horizontal).toString(),
                  QString::fromUtf8(effectColumns[c].first));
        EXPECT_NEAR(effects.header()->sectionSize(c), effectColumns[c].second * scale, 1.0) << c;
        EXPECT_EQ(plays.model()->headerData(c, Qt::Horizontal).toString(),
                  QString::fromUtf8(playColumns[c].first));
        EXPECT_NEAR(plays.header()->sectionSize(c), playColumns[c].second * scale, 1.0) << c;
    }
    // The widest volume text fits its column whole, with the cell margin of 12.
    EXPECT_LE(effects.fontMetrics().horizontalAdvance("100%") + 12,
              effects.header()->sectionSize(3));
    EXPECT_EQ(effects.m_clrTint, kEffectListTint);
    EXPECT_EQ(plays.m_clrTint, kPlayListTint);

    ASSERT_EQ(effects.GetItemCount(), 3);
    EXPECT_EQ(effects.GetItemText(1, 0), QString::fromUtf8("長い"));
    EXPECT_EQ(effects.GetItemText(1, 1), QString("Ctrl + Shift + 2"));
    EXPECT_EQ(effects.GetItemText(1, 2), QString("0:0"));
    EXPECT_EQ(effects.GetItemText(1, 3), QString("99%"));
    EXPECT_EQ(effects.GetItemText(2, 2), QString("3:500"));
    EXPECT_EQ(effects.GetItemText(2, 3), QString("0%"));
    // Each row keeps its entry.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(effects.GetRow(i)->pEntry, m_dlg->Controller().Effects().GetPtrAt(i));
    EXPECT_EQ(effects.GetSelectionMark(), -1);

    // The set selector lists the sets and selects the open one.
    QComboBox& sets = m_dlg->SetSelector();
    EXPECT_EQ(sets.count(), 2);
    EXPECT_EQ(sets.currentText(), QString::fromUtf8("音源.txt"));
}

TEST_F(MixerDlgTest, ButtonsAndMenuCommandsReachTheController) {
    // Play with no row ever selected does nothing.
    Button(IDC_PLAY)->click();
    EXPECT_EQ(PlayRows(), 0);
    SelectEffect(1);
    Button(IDC_PLAY)->click();
    EXPECT_EQ(PlayRows(), 1);
    m_dlg->GetMenuAction(ID_EFFECT_PLAY)->trigger();
    ASSERT_EQ(PlayRows(), 2);
    // Two rows with the same name, each with its own job.
    EXPECT_EQ(m_dlg->PlayList().GetItemText(0, 0), m_dlg->PlayList().GetItemText(1, 0));
    EXPECT_NE(m_dlg->PlayList().GetRow(0)->pJob, m_dlg->PlayList().GetRow(1)->pJob);
    EXPECT_EQ(m_dlg->PlayList().GetItemText(0, 1), QString("0"));

    // Stop the selected playback: its worker ends and reports back on the window's thread.
    m_dlg->PlayList().SetItemSelected(0);
    Button(IDC_STOP)->click();
    EXPECT_TRUE(WaitFor([&] { return PlayRows() == 1; }));
    m_dlg->PlayList().SetItemSelected(0);
    m_dlg->GetMenuAction(ID_PLAY_STOP)->trigger();
    EXPECT_TRUE(WaitFor([&] { return PlayRows() == 0; }));

    Button(IDC_PLAY)->click();
    Button(IDC_PLAY)->click();
    Button(IDC_STOPALL)->click();
    EXPECT_EQ(PlayRows(), 0);

    // Delete asks first; No keeps the effect, Yes removes it.
    SelectEffect(0);
    m_messages.Answer(IDNO);
    m_dlg->GetMenuAction(ID_EFFECT_DELETE)->trigger();
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_EQ(m_messages.Messages()[0].text, Sj("短い") + Sj("を削除してよろしいですか？"));
    EXPECT_EQ(m_dlg->EffectList().GetItemCount(), 3);
    m_messages.Answer(IDYES);
    m_dlg->GetMenuAction(ID_EFFECT_DELETE)->trigger();
    EXPECT_EQ(m_dlg->EffectList().GetItemCount(), 2);

    // New set: the question comes first; No stops there.
    m_messages.Clear();
    m_messages.Answer(IDNO);
    m_dlg->GetMenuAction(ID_FILE_NEW)->trigger();
    Button(IDC_NEW)->click();
    EXPECT_EQ(m_messages.Texts(),
              (std::vector<std::string>{Sj("新規音源ファイルを作成しますか？"),
                                        Sj("新規音源ファイルを作成しますか？")}));

    // Switch opens the set chosen in the selector.
    m_dlg->SetSelector().setCurrentIndex(m_dlg->SetSelector().findText("b.txt"));
    Button(IDC_SWITCH)->click();
    ASSERT_EQ(m_dlg->EffectList().GetItemCount(), 1);
    EXPECT_EQ(m_dlg->EffectList().GetItemText(0, 0), QString("B"));
}

TEST_F(MixerDlgTest, EditorOpensFromButtonMenuAndShiftDoubleClick) {
    // Add opens the editor even without a selection.
    ModalCloser add;
    m_dlg->GetMenuAction(ID_EFFECT_ADD)->trigger();
    ASSERT_NE(add.Seen(), nullptr);
    EXPECT_EQ(m_dlg->EffectList().GetItemCount(), 3);

    SelectEffect(0);
    ModalCloser button;
    Button(IDC_EDIT)->click();
    EXPECT_NE(button.Seen(), nullptr);
    ModalCloser menu;
    m_dlg->GetMenuAction(ID_EFFECT_EDIT)->trigger();
    EXPECT_NE(menu.Seen(), nullptr);

    ModalCloser shiftDouble;
    QTest::mouseDClick(
        m_dlg->EffectList().viewport(), Qt::LeftButton, Qt::ShiftModifier,
        m_dlg->EffectList().visualRect(m_dlg->EffectList().model()->index(0, 0)).center());
    EXPECT_NE(shiftDouble.Seen(), nullptr);
    EXPECT_EQ(PlayRows(), 0);
    QApplication::processEvents();
}

TEST_F(MixerDlgTest, ListClicksPlayAsTheirModifiersSay) {
    SelectEffect(1);
    EXPECT_EQ(PlayRows(), 0); // a plain click plays nothing
    const QPoint row1 =
        m_dlg->EffectList().visualRect(m_dlg->EffectList().model()->index(1, 0)).center();
    QTest::mouseClick(m_dlg->EffectList().viewport(), Qt::LeftButton, Qt::ControlModifier, row1);
    EXPECT_EQ(PlayRows(), 1);
    QTest::mouseDClick(m_dlg->EffectList().viewport(), Qt::LeftButton, {}, row1);
    EXPECT_EQ(PlayRows(), 2);
    // A double-click on the play list stops the playback at its selection mark.
    const QPoint play0 =
        m_dlg->PlayList().visualRect(m_dlg->PlayList().model()->index(0, 0)).center();
    QTest::mouseClick(m_dlg->PlayList().viewport(), Qt::LeftButton, {}, play0);
    QTest::mouseDClick(m_dlg->PlayList().viewport(), Qt::LeftButton, {}, play0);
    EXPECT_TRUE(WaitFor([&] { return PlayRows() == 1; }));
}

TEST_F(MixerDlgTest, RightClicksOpenTheListMenusAlsoOnEmptyParts) {
    QTest::mouseClick(m_dlg->PlayList().viewport(), Qt::RightButton, {}, QPoint(20, 100));
    QMenu* play = m_dlg->GetPopupMenu(IDR_PLAY_MENU);
    ASSERT_NE(play, nullptr);
    EXPECT_TRUE(play->isVisible());
    ASSERT_EQ(play->actions().size(), 1);
    EXPECT_EQ(play->actions()[0]->text(), QString::fromUtf8("停止(&S)"));
    play->actions()[0]->trigger(); // stops nothing, and nothing breaks
    play->hide();
    EXPECT_EQ(PlayRows(), 0);

    QTest::mouseClick(m_dlg->EffectList().viewport(), Qt::RightButton, {}, QPoint(20, 150));
    QMenu* effect = m_dlg->GetPopupMenu(IDR_EFFECT_MENU);
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->isVisible());
    QStringList texts;
    for (QAction* a : effect->actions())
        texts << (a->isSeparator() ? QString("-") : a->text());
    EXPECT_EQ(texts,
              QStringList({QString::fromUtf8("再生(&P)"), "-", QString::fromUtf8("編集(&E)"),
                           QString::fromUtf8("追加(&A)"), "-", QString::fromUtf8("削除(&D)")}));
    effect->hide();

    // The play command of the popup acts on the selection mark.
    SelectEffect(0);
    effect->actions()[0]->trigger();
    EXPECT_EQ(PlayRows(), 1);
}

TEST_F(MixerDlgTest, AboutBoxFromTheHelpMenuAndTheWindowMenu) {
    QString text;
    ModalCloser help([&](QWidget* w) {
        for (QLabel* l : w->findChildren<QLabel*>())
            text += l->text();
    });
    m_dlg->GetMenuAction(ID_HELP_ABOUT)->trigger();
    ASSERT_NE(help.Seen(), nullptr);
    EXPECT_EQ(help.SeenTitle(), QString("About Otomaru"));
    EXPECT_TRUE(text.contains("Otomaru")) << text.toStdString();
    EXPECT_TRUE(text.contains(OTOMARU_VERSION)) << text.toStdString();

    ModalCloser window;
    ASSERT_EQ(m_dlg->GetSystemMenu()->actions().size(), 1);
    EXPECT_EQ(m_dlg->GetSystemMenu()->actions()[0]->text(),
              QString::fromUtf8("MOK のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    m_dlg->GetSystemMenu()->actions()[0]->trigger();
    EXPECT_EQ(window.SeenTitle(), QString("About Otomaru"));
}

TEST_F(MixerDlgTest, KeysFireHotkeysEnterPlaysAndNeitherCloses) {
    m_dlg->EffectList().setFocus();
    SelectEffect(0);
    // '2' with Ctrl+Shift is the long effect's hotkey.
    SendKey(QEvent::KeyPress, Qt::Key_Control);
    SendKey(QEvent::KeyPress, Qt::Key_Shift, Qt::ControlModifier);
    SendKey(QEvent::KeyPress, Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(PlayRows(), 1);
    EXPECT_EQ(m_dlg->PlayList().GetItemText(0, 0), QString::fromUtf8("長い"));
    SendKey(QEvent::KeyRelease, Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier);
    SendKey(QEvent::KeyRelease, Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier);
    SendKey(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier);

    SendKey(QEvent::KeyPress, Qt::Key_Return);
    SendKey(QEvent::KeyRelease, Qt::Key_Return);
    EXPECT_EQ(PlayRows(), 2);
    EXPECT_TRUE(m_dlg->isVisible());

    Button(IDC_STOPALL)->click();
    SendKey(QEvent::KeyPress, Qt::Key_Escape);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), IDCANCEL);
}

TEST_F(MixerDlgTest, HotkeysAreDeadWhileTheAboutBoxIsOpen) {
    m_dlg->EffectList().setFocus();
    ModalCloser about([&](QWidget*) {
        // Sent to the main window's list, as a click back onto it would route the keyboard.
        QKeyEvent press(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QString());
        press.setTimestamp(++m_clock);
        QApplication::sendEvent(&m_dlg->EffectList(), &press);
    });
    m_dlg->GetMenuAction(ID_HELP_ABOUT)->trigger();
    ASSERT_NE(about.Seen(), nullptr);
    EXPECT_EQ(PlayRows(), 0);
    // Once it is closed the same key fires.
    SendKey(QEvent::KeyRelease, Qt::Key_1);
    SendKey(QEvent::KeyPress, Qt::Key_1);
    EXPECT_EQ(PlayRows(), 1);
}

TEST_F(MixerDlgTest, ExitEndsWithOkAndShutsDownOnce) {
    SelectEffect(1);
    Button(IDC_PLAY)->click();
    ASSERT_EQ(PlayRows(), 1);
    m_dlg->GetMenuAction(ID_FILE_EXIT)->trigger();
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), IDOK);
    // The shut-down closed the set: no playback and no effect is left.
    EXPECT_EQ(m_dlg->Controller().Playbacks().GetSize(), 0);
    EXPECT_EQ(m_dlg->Controller().Effects().GetSize(), 0);
    m_dlg->close(); // a second end runs no second shut-down and breaks nothing
    m_dlg.reset();
}

TEST_F(MixerDlgTest, FinishedPlaybackLeavesThePlayList) {
    SelectEffect(0); // the short sound, played once
    Button(IDC_PLAY)->click();
    ASSERT_EQ(PlayRows(), 1);
    EXPECT_TRUE(WaitFor([&] { return PlayRows() == 0; }));
    EXPECT_EQ(m_dlg->Controller().Playbacks().GetSize(), 0);
}

// A close asked for while a set loads (before the progress box blocks the window) must not shut
// the window down under the command that is loading: it comes once the load is done.
TEST_F(MixerDlgTest, ACloseWhileASetLoadsComesAfterTheLoad) {
    EffectTable table;
    table.Add(EffectEntry{});
    table.GetAt(0).strWavePath = "short.wav";
    std::atomic<bool> release{false};
    CSetSoundLoad load(
        table, m_dir.Cp932(),
        [&release](const std::string&, SoundBufferSlot&) -> std::uint32_t {
            for (int i = 0; i < 30000 && !release; ++i) // a hang guard only
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 0;
        },
        1);
    bool closedAtOnce = true;
    QTimer::singleShot(50, m_dlg.get(), [&] {
        m_dlg->close();
        closedAtOnce = !m_dlg->isVisible();
        release = true;
    });
    m_dlg->WaitForSetLoad(load);
    EXPECT_FALSE(closedAtOnce);
    EXPECT_TRUE(m_dlg->isVisible());
    QApplication::processEvents();
    EXPECT_FALSE(m_dlg->isVisible());
}

} // namespace

namespace {

// The window's own mnemonics go before the menu bar's: Alt+P presses 再生(&P) every time, never
// the menu 効果音リスト(&P); a letter only the menu bar has opens its menu.
TEST_F(MixerDlgTest, ButtonMnemonicsGoBeforeTheMenuBar) {
    m_dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    m_dlg->EffectList().setFocus();
    SelectEffect(1); // sounds until stopped: the rows cannot end by themselves
    const std::pair<Qt::Key, int> presses[] = {
        {Qt::Key_P, 1}, {Qt::Key_P, 2}, {Qt::Key_P, 3}, {Qt::Key_A, 0}}; // 全て停止(&A)
    for (const auto& [key, rows] : presses) {
        QTest::keyClick(m_dlg->focusWidget(), key, Qt::AltModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << rows;
        EXPECT_EQ(PlayRows(), rows);
    }
    QTest::keyClick(m_dlg->focusWidget(), Qt::Key_H, Qt::AltModifier); // ヘルプ(&H)
    QCoreApplication::processEvents();
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QString::fromUtf8("ヘルプ(&H)"));
    menu->close();
}

// When the open set is not among the listed files, no item looks chosen and Switch does nothing.
TEST_F(MixerDlgTest, SelectorChoosesNothingWhenTheOpenSetIsNotListed) {
    WriteSet("set.dat", {"short.wav,D,0,53,0,0,1,0"});
    for (const char* remembered : {"gone.txt", "set.dat"}) {
        WriteText(m_dir.Path() + "Otomaru.ini",
                  std::string("[Environment]\r\nSoundsFile=") + remembered + "\r\n");
        m_dlg.reset();
        m_dlg = std::make_unique<CMixerDlg>(m_dir.Cp932("otomaru"));
        m_dlg->Create();
        m_dlg->show();
        QComboBox& selector = m_dlg->SetSelector();
        EXPECT_EQ(selector.count(), 2) << remembered;
        EXPECT_EQ(selector.currentIndex(), -1) << remembered;
        EXPECT_EQ(selector.currentText(), QString()) << remembered;
        const int rows = m_dlg->EffectList().GetItemCount();
        Button(IDC_SWITCH)->click();
        EXPECT_EQ(m_dlg->EffectList().GetItemCount(), rows) << remembered;
    }
}

} // namespace

// The device menu: choices take effect, are remembered only once made, and a chosen device that
// is missing shows as one line in the title while the default plays.
TEST_F(MixerDlgTest, DeviceMenuChoosesAndRemembersTheOutputs) {
    const std::string ini = m_dir.Path() + "Otomaru.ini";
    EXPECT_EQ(ReadText(ini).find("OutputDevice"), std::string::npos);
    QMenu* menu = m_dlg->MenuBar().findChild<CDeviceMenu*>();
    ASSERT_NE(menu, nullptr);
    auto item = [](QMenu* in, const char* text) -> QAction* {
        for (QAction* a : in->actions())
            if (a->text() == QString::fromUtf8(text))
                return a;
        return nullptr;
    };
    emit menu->aboutToShow();
    ASSERT_NE(item(menu, "既定のデバイス(&D)"), nullptr);
    EXPECT_TRUE(item(menu, "既定のデバイス(&D)")->isChecked());
    QMenu* monitor = item(menu, "モニター出力(&M)")->menu();
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(item(monitor, "なし(&N)")->isChecked());

    item(monitor, "既定のデバイス(&D)")->trigger();
    EXPECT_TRUE(m_dlg->Controller().Route().bMonitor);
    EXPECT_NE(ReadText(ini).find("MonitorDevice=\"*\""), std::string::npos);
    emit menu->aboutToShow();
    monitor = item(menu, "モニター出力(&M)")->menu();
    EXPECT_TRUE(item(monitor, "既定のデバイス(&D)")->isChecked());
    item(monitor, "なし(&N)")->trigger();
    EXPECT_FALSE(m_dlg->Controller().Route().bMonitor);
    EXPECT_NE(ReadText(ini).find("MonitorDevice=\"\""), std::string::npos);

    m_dlg->Controller().ChooseOutputDevice("Gone");
    EXPECT_NE(ReadText(ini).find("OutputDevice=\"Gone\""), std::string::npos);
    EXPECT_TRUE(WaitFor(
        [&] { return m_dlg->windowTitle().contains(QString::fromUtf8("見つかりません")); }));
    emit menu->aboutToShow();
    ASSERT_NE(item(menu, "Gone"), nullptr);
    EXPECT_TRUE(item(menu, "Gone")->isChecked());
    item(menu, "既定のデバイス(&D)")->trigger();
    EXPECT_TRUE(
        WaitFor([&] { return m_dlg->windowTitle() == QString("Otomaru Ver " OTOMARU_VERSION); }));
}

// The virtual microphone, against a stand-in pactl that logs its arguments: the commands, the
// device chosen as the output, and a refused module leaving nothing behind.
TEST_F(MixerDlgTest, VirtualMicrophoneIsMadeWithPactl) {
    struct Case {
        const char* refuse; // the module the stand-in refuses, if any
        const char* log;
        bool made;
    };
    const Case cases[] = {
        {"",
         "list short modules\nload-module module-null-sink sink_name=otomaru_mix rate=48000 "
         "sink_properties=device.description=OtomaruMic\nload-module module-remap-source "
         "master=otomaru_mix.monitor source_name=otomaru_mic rate=48000 "
         "source_properties=device.description=OtomaruMicrophone\n",
         true},
        {"module-remap-source",
         "list short modules\nload-module module-null-sink sink_name=otomaru_mix rate=48000 "
         "sink_properties=device.description=OtomaruMic\nload-module module-remap-source "
         "master=otomaru_mix.monitor source_name=otomaru_mic rate=48000 "
         "source_properties=device.description=OtomaruMicrophone\nunload-module 7\n",
         false},
    };
    const QByteArray savedPath = qgetenv("PATH");
    WriteText(m_dir.Path() + "pactl", "#!/bin/sh\necho \"$@\" >> \"$PACTL_LOG\"\n"
                                      "[ \"$2\" = \"${PACTL_REFUSE:--}\" ] && exit 1\n"
                                      "[ \"$1\" = load-module ] && echo 7\n"
                                      "exit 0\n");
    std::filesystem::permissions(m_dir.Path() + "pactl", std::filesystem::perms::owner_all);
    qputenv("PATH", QByteArray::fromStdString(m_dir.Path()) + ":" + savedPath);
    auto* menu = m_dlg->MenuBar().findChild<CDeviceMenu*>();
    ASSERT_NE(menu, nullptr);
    std::vector<std::string> boxes;
    ScopedMessageFunction record([&](const std::string& text, const std::string&, unsigned type) {
        EXPECT_NE(type & MB_ICONEXCLAMATION, 0u);
        boxes.push_back(text);
        return IDOK;
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refuse);
        const std::string log = m_dir.Path() + "pactl.log";
        std::filesystem::remove(log);
        qputenv("PACTL_LOG", QByteArray::fromStdString(log));
        qputenv("PACTL_REFUSE", c.refuse);
        boxes.clear();
        int result = -1;
        menu->UseVirtualMicrophone(true, [&](bool ok) { result = ok; });
        EXPECT_TRUE(WaitFor([&] { return result != -1; }));
        EXPECT_EQ(result, c.made);
        EXPECT_EQ(ReadText(log), c.log);
        EXPECT_EQ(boxes.size(), c.made ? 0u : 1u);
        EXPECT_EQ(m_dlg->Controller().Route().strMain, c.made ? kVirtualMicName : "");
        EXPECT_EQ(m_dlg->Controller().Output().VirtualMicrophone(), c.made);
        menu->UseVirtualMicrophone(false);
        EXPECT_EQ(m_dlg->Controller().Route().strMain, "");
    }
    qputenv("PATH", savedPath);
}

TEST_F(MixerDlgTest, OpeningTheDeviceMenuLeavesNothingBehind) {
    auto* menu = m_dlg->MenuBar().findChild<CDeviceMenu*>();
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    const qsizetype objects = menu->findChildren<QObject*>().size();
    for (int i = 0; i < 1000; ++i)
        emit menu->aboutToShow();
    EXPECT_EQ(menu->findChildren<QObject*>().size(), objects);
}

TEST_F(MixerDlgTest, GlobalHotkeySwitchIsOffUntilChosenAndRemembered) {
    QAction* item = m_dlg->GetMenuAction(ID_FILE_GLOBAL_HOTKEYS);
    ASSERT_NE(item, nullptr);
    // Exit still ends the file menu; the switch has a menu of its own before Help.
    QMenu* fileMenu = m_dlg->MenuBar().actions().front()->menu();
    EXPECT_EQ(fileMenu->actions().back(), m_dlg->GetMenuAction(ID_FILE_EXIT));
    const QList<QAction*> bar = m_dlg->MenuBar().actions();
    EXPECT_EQ(bar[bar.size() - 2]->menu()->actions(),
              (QList<QAction*>{item, m_dlg->GetMenuAction(ID_OPTION_EQUAL_LOUDNESS)}));
    EXPECT_EQ(item->text(), QString::fromUtf8("グローバルホットキー(&G)"));
    EXPECT_TRUE(item->isCheckable());
    EXPECT_FALSE(item->isChecked());

    const std::string ini = m_dir.Path() + "Otomaru.ini";
    const std::string before = ReadText(ini);
    EXPECT_EQ(before.find("GlobalHotkeys"), std::string::npos); // absent is off, and stays absent
    for (const char* expected : {"GlobalHotkeys=\"1\"", "GlobalHotkeys=\"0\""}) {
        item->trigger();
        const std::string after = ReadText(ini);
        // Only the one line was added or changed.
        EXPECT_EQ(after.substr(0, before.size()), before);
        EXPECT_EQ(after.substr(before.size()), std::string(expected) + "\r\n");
    }
    item->trigger();
    m_dlg.reset();
    m_dlg = std::make_unique<CMixerDlg>(m_dir.Cp932("otomaru"));
    m_dlg->Create();
    EXPECT_TRUE(m_dlg->GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->isChecked());
}

TEST_F(MixerDlgTest, EqualLoudnessWritesItsTargetAndOffRemovesIt) {
    QAction* item = m_dlg->GetMenuAction(ID_OPTION_EQUAL_LOUDNESS);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QString::fromUtf8("音量を揃える(&L)"));
    EXPECT_FALSE(item->isChecked());
    const std::string ini = m_dir.Path() + "Otomaru.ini";
    const std::string before = ReadText(ini);
    item->trigger();
    EXPECT_EQ(ReadText(ini), before + "LoudnessTarget=\"-16\"\r\n");
    item->trigger();
    EXPECT_EQ(ReadText(ini), before);
}

// Place, size and the column widths the user changed come back at the next start; a run that
// changes none of them writes nothing, and a place off every screen is not taken.
TEST_F(MixerDlgTest, WindowLayoutIsRememberedAtShutDown) {
    const std::string ini = m_dir.Path() + "Otomaru.ini";
    const QRect placed(30, 40, m_dlg->width() + 60, m_dlg->height() + 20);
    m_dlg->setGeometry(placed);
    m_dlg->EffectList().header()->resizeSection(0, 150);
    QApplication::processEvents();
    m_dlg.reset();
    const std::string written = ReadText(ini);
    EXPECT_NE(written.find("WindowRect=\"30,40," + std::to_string(placed.width()) + "," +
                           std::to_string(placed.height()) + "\""),
              std::string::npos);
    EXPECT_EQ(written.find("PlayColumns"), std::string::npos);

    const std::string offScreen = "[Environment]\r\nSoundsFile=\"" + Sj("音源.txt") +
                                  "\"\r\nWindowRect=\"-5000,-5000,900,700\"\r\n";
    for (const std::string& text : {written, offScreen}) {
        WriteText(ini, text);
        m_dlg = std::make_unique<CMixerDlg>(m_dir.Cp932("otomaru"));
        m_dlg->Create();
        m_dlg->show();
        QApplication::processEvents();
        if (text == written) {
            EXPECT_EQ(m_dlg->geometry(), placed);
            EXPECT_EQ(m_dlg->EffectList().header()->sectionSize(0), 150);
        } else {
            EXPECT_TRUE(m_dlg->screen()->availableGeometry().intersects(m_dlg->geometry()));
        }
        m_dlg.reset();
        EXPECT_EQ(ReadText(ini), text);
    }
}

// Drops files of `dir` on the window's effect list, as a file manager does; true when taken.
static bool DropFiles(CMixerDlg& dlg, const std::string& dir,
                      const std::vector<const char*>& names) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const char* name : names)
        urls << QUrl::fromLocalFile(QString::fromStdString(dir + name));
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QDropEvent event(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(dlg.EffectList().viewport(), &enter);
    QApplication::sendEvent(dlg.EffectList().viewport(), &event);
    return enter.isAccepted() && event.isAccepted();
}

// Files dropped from a file manager: one opens the editor filled in from it, several are added
// at once.
TEST_F(MixerDlgTest, DroppedFilesAreAdded) {
    QStringList shown;
    WhenModal<CEffectDlg>([&](CEffectDlg& dlg) {
        for (int id : {IDC_EFFECT_FILE, IDC_EFFECT_NAME})
            shown << qobject_cast<QLineEdit*>(dlg.GetDlgItem(id))->text();
        qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->click();
    });
    EXPECT_TRUE(DropFiles(*m_dlg, m_dir.Path(), {"long.wav"}));
    ASSERT_TRUE(WaitFor([&] { return m_dlg->EffectList().GetItemCount() == 4; }));
    EXPECT_EQ(shown, QStringList({"long.wav", "long"}));

    EXPECT_TRUE(DropFiles(*m_dlg, m_dir.Path(), {"short.wav", "long.wav"}));
    ASSERT_TRUE(WaitFor([&] { return m_dlg->EffectList().GetItemCount() == 6; }));
    EXPECT_EQ(m_dlg->EffectList().GetItemText(4, 0), "short");
    EXPECT_EQ(m_dlg->EffectList().GetItemText(5, 0), "long");
    EXPECT_EQ(shown.size(), 2); // no second editor
}

namespace {

// A slow load: the first runs `m_whileLoading` before its sounds are waited for.
class SlowLoadDlg : public CMixerDlg {
public:
    using CMixerDlg::CMixerDlg;
    std::function<void()> m_whileLoading;
    void WaitForSetLoad(CSetSoundLoad& load) override {
        std::exchange(m_whileLoading, [] {})();
        CMixerDlg::WaitForSetLoad(load);
    }
};

// While a set loads nothing writes it: a drop, whose posted work the load's loop runs, waits and
// is added to the whole set; the controller refuses a write the window would not let through;
// the remote says it is loading rather than listing an empty set.
TEST_F(MixerDlgTest, NothingWritesASetWhileItLoadsAndDropsWaitForIt) {
    m_dlg.reset();
    const std::string set = m_dir.Path() + "音源.txt";
    auto slow = std::make_unique<SlowLoadDlg>(m_dir.Path() + "otomaru");
    slow->m_whileLoading = [&dlg = *slow, this, set, before = ReadText(set)] {
        EXPECT_TRUE(DropFiles(dlg, m_dir.Path(), {"short.wav", "long.wav"}));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        dlg.Controller().AddDroppedFiles({m_dir.Path() + "long.wav", m_dir.Path() + "long.wav"});
        EXPECT_EQ(RunRemoteRequest({RemoteVerb::List, {}}, dlg.Controller()).nStatus, 1);
        EXPECT_EQ(ReadText(set), before);
    };
    m_dlg = std::move(slow);
    m_dlg->Create();
    EXPECT_TRUE(WaitFor([&] { return m_dlg->EffectList().GetItemCount() == 5; }));
    EXPECT_NE(ReadText(set).find(Sj("無い") + ",0,51"), std::string::npos);
}

} // namespace
