// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys through the portal stack Debian 12 ships: kglobalaccel5, the KDE portal backend
// and xdg-desktop-portal, started here on the test's own bus and Xvfb and ended by their ids.
#include "desktop/global_hotkeys.h"
#include "desktop/portal_shortcuts.h"
#include "input/hotkey.h"
#include "tests/support/test_support.h"
#include "tests/ui/private_bus.h"
#include "tests/x11/desktop_services.h"
#include "tests/x11/x_server.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const char* const kPortalKde = "/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde";
const char* const kPortal = "/usr/libexec/xdg-desktop-portal";

class DesktopStack {
public:
    // Each part waits for the one before it on the bus, lest the bus start a part of its own.
    bool Start() {
        // Where the backend sends the user, written down instead of opened.
        const std::string dir = m_services.Folder();
        const std::string bin = dir + "bin";
        if (mkdir(bin.c_str(), 0755) != 0 ||
            !WriteText(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" >> '" + dir + "opened'\n") ||
            chmod((bin + "/xdg-open").c_str(), 0755) != 0)
            return false;
        m_services.SetPathFirst(bin);
        return m_services.Run(kGlobalAccel, "org.kde.kglobalaccel") &&
               m_services.Run(kPortalKde, "org.freedesktop.impl.portal.desktop.kde") &&
               m_services.Run(kPortal, "org.freedesktop.portal.Desktop");
    }
    std::string Opened() const { return ReadText(m_services.Folder() + "opened"); }

private:
    DesktopServices m_services;
};

EffectTable TableOf(const std::vector<GlobalHotkey>& hotkeys) {
    EffectTable table;
    for (const GlobalHotkey& hotkey : hotkeys) {
        EffectEntry entry;
        entry.nKey = hotkey.nKey;
        entry.nModifiers = hotkey.nModifiers;
        table.Add(entry);
    }
    return table;
}

// Debian 12's backend binds nothing itself (the user assigns keys in the desktop's settings), so
// every answer is without triggers; what the desktop keeps per component is the fake's to show.
TEST(PortalStackTest, NamesTheKeylessOnceAndKeepsOneComponent) {
    for (const char* program : {kGlobalAccel, kPortalKde, kPortal})
        if (access(program, X_OK) != 0)
            GTEST_SKIP() << program << " missing: packages xdg-desktop-portal, "
                         << "xdg-desktop-portal-kde, libkf5globalaccel-bin";
    if (!PrivateBus::Start() || !XServer::Start())
        GTEST_SKIP() << "no dbus-daemon, Xvfb or xdotool";
    DesktopStack stack;
    ASSERT_TRUE(stack.Start());

    MessageRecorder messages;
    CKeyFilter keys(nullptr, [](unsigned, const std::uint8_t*) { return false; }, {});
    const GlobalHotkey one{0x31, 0}, ctrlShiftF1{0x70, MOD_CODE_CTRL | MOD_CODE_SHIFT}, f2{0x71, 0};
    TempDir folder;
    auto hotkeys = std::make_unique<CGlobalHotkeys>(keys, CKeyFilter::LayoutFn{});
    hotkeys->SetFolder(folder.Path());
    qputenv("OTOMARU_GLOBAL_HOTKEYS", "portal"); // the portal, though this is X11
    hotkeys->SetEnabled(true);
    qunsetenv("OTOMARU_GLOBAL_HOTKEYS");
    ASSERT_NE(hotkeys->Portal(), nullptr);

    std::vector<std::vector<GlobalHotkey>> answers;
    QElapsedTimer sinceTable;
    QObject::connect(hotkeys->Portal(), &CPortalShortcuts::Bound, hotkeys->Portal(),
                     [&](const std::vector<GlobalHotkey>& untriggered) {
                         std::printf("table to answer: %lld ms\n", sinceTable.elapsed());
                         answers.push_back(untriggered);
                     });
    const auto setTable = [&](const std::vector<GlobalHotkey>& table) {
        sinceTable.start();
        hotkeys->SetTable(TableOf(table));
        return SpinUntil([&, n = answers.size()] { return answers.size() > n; });
    };

    // A new component: nothing has a key; one box names both and says where to assign them.
    ASSERT_TRUE(setTable({one, ctrlShiftF1}));
    EXPECT_EQ(answers.back(), (std::vector<GlobalHotkey>{one, ctrlShiftF1}));
    ASSERT_TRUE(SpinUntil([&] { return !messages.Messages().empty(); }));
    const QString token = hotkeys->Portal()->SessionToken();
    EXPECT_EQ(token, CPortalShortcuts::SessionTokenOf(folder.Path()));
    EXPECT_EQ(messages.Messages()[0].type, unsigned(MB_ICONEXCLAMATION));
    EXPECT_NE(messages.Messages()[0].text.find(token.toStdString()), std::string::npos);
    EXPECT_NE(messages.Messages()[0].text.find(Sj("Ctrl + Shift + F1")), std::string::npos);

    // An edit makes a new session: its answer names the new hotkey too, and no second box comes.
    ASSERT_TRUE(setTable({one, ctrlShiftF1, f2}));
    EXPECT_EQ(answers.back(), (std::vector<GlobalHotkey>{one, ctrlShiftF1, f2}));
    Settle(200);
    EXPECT_EQ(messages.Messages().size(), 1u);

    // Each bind sent the user to the settings of one and the same component.
    const std::string page = "systemsettings://kcm_keys/" + token.toStdString() + "\n";
    EXPECT_TRUE(SpinUntil([&] { return stack.Opened() == page + page; }, 3000)) << stack.Opened();
}

} // namespace
