// SPDX-License-Identifier: GPL-3.0-or-later
// The main window with a real set controller on a set in a temporary folder: its layout, the
// routing of every button, menu command, list notification and key, and its shut-down.
#include "mixer_dlg_fixture.h"

#include "audio/mixer.h"

namespace {

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
    CEffectListCtrl* lists[] = {&m_dlg->EffectList(), &m_dlg->PlayList()};
    const std::vector<int> columns[] = {lists[0]->ColumnWidths(), lists[1]->ColumnWidths()};
    for (const QSize grown : {QSize(500, 300), QSize(0, 0)}) {
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
        // The names take the lists' growth; the widths kept for Otomaru.ini stay as designed.
        for (int i = 0; i < 2; ++i) {
            const int id = i == 0 ? IDC_EFFECTLIST : IDC_PLAYLIST;
            EXPECT_EQ(lists[i]->header()->sectionSize(0) - columns[i][0],
                      rect(id).width() - before[id].width());
            EXPECT_EQ(lists[i]->ColumnWidths(), columns[i]);
        }
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
    ASSERT_EQ(play->actions().size(), 5);
    EXPECT_EQ(play->actions()[0]->text(), QString::fromUtf8("停止(&S)"));
    EXPECT_EQ(play->actions()[4]->text(), QString::fromUtf8("音量を戻す(&R)"));
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

TEST_F(MixerDlgTest, PlayListKeysAndMenuSetTheSelectedPlaybacksLevel) {
    SelectEffect(1);
    Button(IDC_PLAY)->click();
    Button(IDC_PLAY)->click();
    ASSERT_EQ(PlayRows(), 2);
    const PlayJobPtr job = m_dlg->PlayList().GetRow(1)->pJob;
    MixerVoice* voice = QueryMixerVoice(job->pBuffer.get());
    ASSERT_TRUE(voice);
    const std::int32_t volume = job->pEntry->nVolume;
    m_dlg->PlayList().setFocus();
    m_dlg->PlayList().SetItemSelected(1);
    QMenu* menu = m_dlg->GetPopupMenu(IDR_PLAY_MENU);
    ASSERT_NE(menu, nullptr);
    auto key = [&](int k) { return [this, k] { SendKey(QEvent::KeyPress, k); }; };
    auto item = [&](int i) { return [menu, i] { menu->actions()[i]->trigger(); }; };
    const struct {
        std::function<void()> act;
        int times, level;
        const char* tip;
    } steps[] = {{key(Qt::Key_Plus), 2, 2, "+2"},     {key(Qt::Key_Minus), 1, 1, "+1"},
                 {key(Qt::Key_Equal), 20, 12, "+12"}, {item(4), 1, 0, "0"},
                 {item(3), 40, -30, "-30"},           {item(2), 1, -29, "-29"}};
    for (const auto& step : steps) {
        for (int i = 0; i < step.times; ++i)
            step.act();
        EXPECT_EQ(job->nLiveDb, step.level);
        EXPECT_EQ(voice->LiveDb(), static_cast<float>(step.level));
        EXPECT_TRUE(m_dlg->PlayList()
                        .model()
                        ->data(m_dlg->PlayList().model()->index(1, 0), Qt::ToolTipRole)
                        .toString()
                        .startsWith(QString::fromUtf8("再生音量 %1 dB").arg(step.tip)));
    }
    EXPECT_EQ(m_dlg->PlayList().GetRow(0)->pJob->nLiveDb, 0);
    EXPECT_EQ(job->pEntry->nVolume, volume);
    // A new playback of the effect starts at 0 dB.
    Button(IDC_PLAY)->click();
    EXPECT_EQ(voice->LiveDb(), 0.0f);
    Button(IDC_STOPALL)->click();
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
