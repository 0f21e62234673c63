// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys on a real X server: an Xvfb of the test's own, a window of another X client
// holding the focus, and xdotool pressing keys as a user would.
#include "desktop/global_hotkeys.h"
#include "desktop/key_filter.h"
#include "desktop/x11_hotkey_grabber.h"
#include "tests/support/spin_until.h"
#include "tests/support/test_support.h"
#include "tests/ui/private_bus.h"
#include "tests/x11/desktop_services.h"
#include "tests/x11/x_server.h"
#include "ui/mixer_dlg.h"
#include "ui/mixer_resource.h"

#include <QAbstractNativeEventFilter>
#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Another X client: its window takes the focus, and it may hold a key of its own.
class OtherClient {
public:
    OtherClient() : m_conn(xcb_connect(nullptr, nullptr)) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data;
        m_root = screen->root;
        m_window = xcb_generate_id(m_conn);
        xcb_create_window(m_conn, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(m_conn, m_window);
        xcb_flush(m_conn);
    }
    ~OtherClient() { xcb_disconnect(m_conn); }
    void TakeFocus() {
        xcb_set_input_focus(m_conn, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
        xcb_flush(m_conn);
        Settle(100);
    }
    void Hold(std::uint8_t keycode, std::uint16_t modifiers) {
        xcb_grab_key(m_conn, 1, m_root, modifiers, keycode, XCB_GRAB_MODE_ASYNC,
                     XCB_GRAB_MODE_ASYNC);
        free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
    }

private:
    xcb_connection_t* m_conn;
    xcb_window_t m_root = 0;
    xcb_window_t m_window = 0;
};

// Presses the X server sends to the root window (our grabs), by keycode, while it lives.
struct RootPresses : QAbstractNativeEventFilter {
    RootPresses() { qApp->installNativeEventFilter(this); }
    ~RootPresses() override { qApp->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override {
        const auto* e = static_cast<const xcb_key_press_event_t*>(message);
        if ((e->response_type & 0x7F) == XCB_KEY_PRESS && e->event == e->root)
            ++count[e->detail];
        return false;
    }
    std::array<int, 256> count{};
};

// Key events the application hands to its windows while it lives.
struct KeyCounter : QObject {
    KeyCounter() { qApp->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched->isWindowType()) {
            presses += e->type() == QEvent::KeyPress;
            releases += e->type() == QEvent::KeyRelease;
        }
        return false;
    }
    int presses = 0, releases = 0;
};

class X11HotkeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!XServer::Start())
            GTEST_SKIP() << "no Xvfb or xdotool";
        WriteBytes(m_dir.Path() + "long.wav",
                   MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050 * 10, 1000)));
        // 1; Shift+F1; F5 (held by the other client); Browser Stop (on no key of Xvfb's keyboard);
        // 2; Mute; 3, played while held.
        WriteText(m_dir.Path() + "音源.txt", "MOK_FILE\r\n" + m_dir.Cp932() +
                                                 "\r\nlong.wav,one,0,49,0,0,1,0\r\n"
                                                 "long.wav,sf1,4,112,0,0,1,0\r\n"
                                                 "long.wav,f5,0,116,0,0,1,0\r\n"
                                                 "long.wav,stop,0,169,0,0,1,0\r\n"
                                                 "long.wav,two,0,50,0,0,1,0\r\n"
                                                 "long.wav,mute,0,173,0,0,1,0\r\n"
                                                 "long.wav,hold,0,51,0,0,0,0,retrigger=hold\r\n");
        WriteText(m_dir.Path() + "Otomaru.ini",
                  "[Environment]\r\nSoundsFile=\"" + Sj("音源.txt") + "\"\r\n");
        m_other = std::make_unique<OtherClient>();
        m_other->Hold(71, 0); // F5 with no modifier
        m_dlg = std::make_unique<CMixerDlg>(m_dir.Cp932("otomaru"));
        m_dlg->Create();
        m_dlg->show();
        m_dlg->GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->trigger();
        Settle(100);
        m_other->TakeFocus();
    }
    void TearDown() override {
        m_dlg.reset();
        std::filesystem::current_path(m_savedDirectory);
    }
    int Playing() { return m_dlg->Controller().Playbacks().GetSize(); }
    // A loaded machine may take a while to deliver; more than expected must not come either.
    void ExpectPlaying(int n) {
        SpinUntil([&] { return Playing() >= n; }, 3000);
        Settle(100);
        EXPECT_EQ(Playing(), n);
    }

    const std::filesystem::path m_savedDirectory = std::filesystem::current_path();
    TempDir m_dir;
    MessageRecorder m_messages;
    std::unique_ptr<OtherClient> m_other;
    std::unique_ptr<CMixerDlg> m_dlg;
};

TEST_F(X11HotkeyTest, GrabbedKeysFireWhileAnotherProgramHasTheFocus) {
    ASSERT_TRUE(m_dlg->GlobalHotkeys().Grabber() != nullptr);
    // Switched on by the user: a box says the way. The key another client holds is named once,
    // in one box; the rest work.
    ASSERT_EQ(m_messages.Messages().size(), 2u);
    EXPECT_NE(m_messages.Messages()[0].text.find(Sj("X11")), std::string::npos);
    for (const char* name : {"F5", "Browser Stop"})
        EXPECT_NE(m_messages.Messages()[1].text.find(Sj(name)), std::string::npos)
            << m_messages.Messages()[1].text;
    EXPECT_EQ(m_messages.Messages()[1].text.find("Shift"), std::string::npos);

    // Held: once; released and pressed again: once more. Auto-repeat fires nothing.
    Xdotool({"keydown", "1"});
    Settle(900);
    ExpectPlaying(1);
    Xdotool({"keyup", "1"});
    Xdotool({"key", "1"});
    ExpectPlaying(2);

    // Exact modifiers: Shift+F1 fires, F1 and Ctrl+Shift+F1 do not.
    Xdotool({"key", "F1"});
    Xdotool({"key", "ctrl+shift+F1"});
    ExpectPlaying(2);
    Xdotool({"key", "shift+F1"});
    ExpectPlaying(3);
    Xdotool({"key", "F5"});
    ExpectPlaying(3);

    // The table changed: grabbed again, and the taken key is not named a second time.
    m_dlg->Controller().StopAll();
    m_dlg->FillEffectList(m_dlg->Controller().Effects(), m_dlg->Controller().KeyLayout());
    Settle(100);
    EXPECT_EQ(m_messages.Messages().size(), 2u);
    Xdotool({"key", "1"});
    ExpectPlaying(1);

    // With our own window focused the key goes the usual way, and fires once. The server sends
    // its repeats as presses alone: no release is there to be read late.
    m_dlg->activateWindow();
    ASSERT_TRUE(SpinUntil([&] { return QApplication::activeWindow() == m_dlg.get(); }));
    KeyCounter counter;
    Xdotool({"keydown", "1"});
    Settle(900);
    EXPECT_GT(counter.presses, 1);
    EXPECT_EQ(counter.releases, 0);
    Xdotool({"keyup", "1"});
    ExpectPlaying(2);

    // Switched off: nothing is grabbed any more.
    m_dlg->GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->trigger();
    m_other->TakeFocus();
    Xdotool({"key", "1"});
    ExpectPlaying(2);
}

// Keys get the codes a focused press of them gets, Shift and Num Lock together.
TEST_F(X11HotkeyTest, KeycodesMapAsInTheWindow) {
    const struct {
        std::uint8_t keycode;
        bool shift, numLock;
        int vk;
    } keys[] = {
        {83, false, false, 0x25},  {83, false, true, 0x64},   {83, true, true, 0x25},   // keypad 4
        {123, false, false, 0xAF}, {121, false, false, 0xAD}, {172, true, false, 0xB3}, // media
        {146, false, false, 0x2F}, {231, false, false, 0x03}, {150, false, false, 0x5F},
        {166, false, false, 0xA6}, {66, false, false, 0x14},  {38, true, false, 'A'},
    };
    const CX11HotkeyGrabber* grabber = m_dlg->GlobalHotkeys().Grabber();
    ASSERT_TRUE(grabber != nullptr);
    for (const auto& k : keys)
        EXPECT_EQ(grabber->VirtualKeyOf(k.keycode, k.shift, k.numLock), k.vk)
            << int(k.keycode) << " " << k.shift << k.numLock;
}

// A key pressed during another key's grab is released where the focus is: its next press
// starts again.
TEST_F(X11HotkeyTest, KeyReleasedOutsideAGrabFiresAgain) {
    Xdotool({"keydown", "1"});
    Xdotool({"keydown", "shift"});
    Xdotool({"keydown", "F1"});
    ExpectPlaying(2);
    Xdotool({"keyup", "1"});
    Xdotool({"keyup", "F1"});
    Xdotool({"keyup", "shift"});
    Xdotool({"key", "shift+F1"});
    ExpectPlaying(3);
}

// A held key fires once, whether the server sends its repeats as presses alone or, refusing,
// with releases. In a roll the held key's repeats come on after the grab of the key that started
// it ends: still the same press.
TEST_F(X11HotkeyTest, HeldKeysFireOnceThroughRepeatsAndRolls) {
    for (const bool detectable : {true, false}) {
        SCOPED_TRACE(detectable);
        m_dlg->KeyFilter().SetDetectableRepeat(detectable);
        m_dlg->Controller().StopAll();
        ASSERT_TRUE(SpinUntil([&] { return Playing() == 0; }));
        RootPresses presses;
        Xdotool({"keydown", "1"});
        EXPECT_TRUE(SpinUntil([&] { return presses.count[10] >= 3; }, 5000));
        Xdotool({"keyup", "1"});
        ExpectPlaying(1);

        Xdotool({"keydown", "1"});
        Xdotool({"keydown", "2"});
        Xdotool({"keyup", "1"});
        const int before = presses.count[11];
        EXPECT_TRUE(SpinUntil([&] { return presses.count[11] >= before + 2; }, 5000));
        Xdotool({"keyup", "2"});
        Xdotool({"key", "2"});
        ExpectPlaying(4);
    }
}

// The same table through KDE's real kglobalaccel, which grabs with X here. Another component
// holds 2 before we come, and a run that ended without giving back left an action of ours.
class KGlobalAccelTest : public X11HotkeyTest {
protected:
    void SetUp() override {
        if (access(kGlobalAccel, X_OK) != 0)
            GTEST_SKIP() << "no kglobalaccel5 (package libkf5globalaccel-bin)";
        if (!PrivateBus::Start() || !XServer::Start())
            GTEST_SKIP() << "no dbus-daemon, Xvfb or xdotool";
        ASSERT_TRUE(m_services.Run(kGlobalAccel, "org.kde.kglobalaccel"));
        const QStringList other{"other", "act", "Other", "Act"};
        ASSERT_EQ(Call("doRegister", {other}).type(), QDBusMessage::ReplyMessage);
        Call("setShortcut", {other, QVariant::fromValue(QList<int>{Qt::Key_2}), 6u});
        const QStringList left{"otomaru", "hotkey-0-57", "Otomaru", "left"};
        Call("doRegister", {left});
        Call("setShortcut", {left, QVariant::fromValue(QList<int>{Qt::Key_9}), 6u});
        qputenv("OTOMARU_GLOBAL_HOTKEYS", "kglobalaccel");
        X11HotkeyTest::SetUp();
        qunsetenv("OTOMARU_GLOBAL_HOTKEYS");
    }
    static QDBusMessage Call(const char* method, const QVariantList& args,
                             const QString& path = "/kglobalaccel",
                             const QString& interface = "org.kde.KGlobalAccel") {
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.kde.kglobalaccel", path, interface, method);
        call.setArguments(args);
        return QDBusConnection::sessionBus().call(call);
    }
    static QStringList OurActions() {
        return Call("shortcutNames", {}, "/component/otomaru", "org.kde.kglobalaccel.Component")
            .arguments()
            .value(0)
            .toStringList();
    }
    DesktopServices m_services;
};

TEST_F(KGlobalAccelTest, KeysWorkAtOnceAndGoAtSwitchOff) {
    ASSERT_EQ(m_dlg->GlobalHotkeys().WayKind(), HotkeyWayKind::KGlobalAccel);
    ASSERT_TRUE(SpinUntil([] { return OurActions().size() == 7; }))
        << OurActions().join(" ").toStdString();
    // The way is named; the key another component holds is, once.
    ASSERT_TRUE(SpinUntil([&] { return m_messages.Messages().size() == 2; }));
    EXPECT_NE(m_messages.Messages()[0].text.find("KDE"), std::string::npos);
    EXPECT_NE(m_messages.Messages()[1].text.find("\n2"), std::string::npos);
    EXPECT_EQ(m_messages.Messages()[1].text.find("Shift"), std::string::npos);

    // Pressed and released, twice: the release came, so the second press fires too.
    Xdotool({"key", "1"});
    Xdotool({"key", "1"});
    ExpectPlaying(2);
    Xdotool({"key", "shift+F1"});
    ExpectPlaying(3);
    Xdotool({"key", "2"});
    ExpectPlaying(3);

    m_dlg->GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->trigger();
    EXPECT_TRUE(SpinUntil([] { return OurActions().empty(); }))
        << OurActions().join(" ").toStdString();
    Xdotool({"key", "1"});
    ExpectPlaying(3);
}

// A hold key sounds through its repeats, however the server sends them, until its release.
TEST_F(X11HotkeyTest, GrabbedHoldKeySoundsUntilItsRelease) {
    for (const bool detectable : {true, false}) {
        SCOPED_TRACE(detectable);
        m_dlg->KeyFilter().SetDetectableRepeat(detectable);
        RootPresses presses;
        Xdotool({"keydown", "3"});
        ASSERT_TRUE(SpinUntil([&] { return Playing() == 1; }));
        const PlayJobPtr job = m_dlg->Controller().Playbacks().GetAt(0);
        EXPECT_TRUE(SpinUntil([&] { return presses.count[12] >= 3; }, 5000));
        ExpectPlaying(1);
        EXPECT_EQ(m_dlg->Controller().Playbacks().GetAt(0), job);
        EXPECT_NE(job->bRun.load(), 0);
        Xdotool({"keyup", "3"});
        EXPECT_TRUE(SpinUntil([&] { return Playing() == 0; }));
    }
}

TEST(GlobalHotkeyRulesTest, WaysAndReservedKeys) {
    using W = HotkeyWayKind;
    const auto wayland = [](const char* desktop) {
        return SessionFacts{.platform = "wayland",
                            .sessionType = "wayland",
                            .currentDesktop = desktop,
                            .waylandDisplay = true};
    };
    const auto with = [](SessionFacts facts, auto change) {
        change(facts);
        return facts;
    };
    SessionFacts kde = wayland("KDE");
    kde.kglobalaccel = true;
    kde.portalVersion = 1;
    const struct {
        SessionFacts facts;
        W expected;
        bool needsBus;
    } ways[] = {
        {{.platform = "xcb", .sessionType = "x11", .currentDesktop = "KDE"}, W::X11, false},
        {{.platform = "xcb"}, W::X11, false},
        {{.platform = "offscreen"}, W::None, false},
        {{.platform = "xcb", .forced = "portal"}, W::Portal, false},
        {{.platform = "xcb", .forced = "kglobalaccel"}, W::KGlobalAccel, false},
        {with(kde, [](auto& f) { f.forced = "x11"; }), W::X11, false},
        {with(kde, [](auto& f) { f.forced = "bogus"; }), W::KGlobalAccel, true},
        // XWayland: grabs would see X programs only.
        {{.platform = "xcb", .sessionType = "wayland", .waylandDisplay = true}, W::None, true},
        {kde, W::KGlobalAccel, true},
        {with(kde, [](auto& f) { f.kglobalaccel = false; }), W::Portal, true},
        {with(kde, [](auto& f) { f.kglobalaccel = false, f.portalVersion = 0; }), W::None, true},
        {with(wayland("ubuntu:GNOME"), [](auto& f) { f.portalVersion = 1; }), W::Portal, true},
        {wayland("ubuntu:GNOME"), W::Gnome, true},
        {with(wayland("GNOME"), [](auto& f) { f.kglobalaccel = true; }), W::Gnome, true},
        {with(wayland(""), [](auto& f) { f.portalVersion = 2; }), W::Portal, true},
        {with(wayland(""), [](auto& f) { f.swaySock = true, f.portalVersion = 1; }), W::Sway,
         false},
        {wayland("sway"), W::Sway, false},
        {with(wayland(""), [](auto& f) { f.hyprland = true; }), W::Hyprland, false},
        {wayland("Hyprland"), W::Hyprland, false},
    };
    for (const auto& w : ways) {
        EXPECT_EQ(CGlobalHotkeys::ChooseWay(w.facts), w.expected)
            << w.facts.platform << " " << w.facts.currentDesktop << " " << w.facts.forced;
        EXPECT_EQ(CGlobalHotkeys::NeedsBus(w.facts), w.needsBus)
            << w.facts.platform << " " << w.facts.currentDesktop << " " << w.facts.forced;
    }

    const struct {
        GlobalHotkey hotkey;
        bool reserved;
    } keys[] = {
        {{0x70, MOD_CODE_CTRL | MOD_CODE_ALT}, true},
        {{0x7B, MOD_CODE_CTRL | MOD_CODE_ALT}, true},
        {{0x08, MOD_CODE_CTRL | MOD_CODE_ALT}, true},
        {{0x7C, MOD_CODE_CTRL | MOD_CODE_ALT}, false},
        {{0x70, MOD_CODE_CTRL}, false},
        {{0x08, MOD_CODE_ALT}, false},
        {{0x70, MOD_CODE_CTRL | MOD_CODE_ALT | MOD_CODE_SHIFT}, true},
    };
    for (const auto& k : keys)
        EXPECT_EQ(IsReservedHotkey(k.hotkey), k.reserved)
            << k.hotkey.nKey << " " << k.hotkey.nModifiers;
}

} // namespace
