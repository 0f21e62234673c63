// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's settings: output devices, the virtual microphone, global hotkeys, equal
// loudness, the remembered layout, and files dropped on it.
#include "mixer_dlg_fixture.h"

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
    EXPECT_EQ(bar[bar.size() - 2]->menu()->actions().mid(0, 2),
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
