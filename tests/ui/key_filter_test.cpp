// SPDX-License-Identifier: GPL-3.0-or-later
// Keys through the application-wide filter into the real trigger matching: a hotkey fires once
// while held and its key-down is swallowed, releases always pass, Enter and Escape keep their
// meaning for the window, and nothing fires while another modal window has the keyboard.
#include "desktop/key_filter.h"
#include "dialog_test_app.h"

#include "input/key_trigger.h"

#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The focused control: records what reaches it.
class KeySink : public QWidget {
public:
    using QWidget::QWidget;
    std::vector<std::string> seen;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        seen.push_back("down " + std::to_string(e->key()));
        e->ignore(); // offered on to the dialog, as a list does with Enter and Escape
    }
    void keyReleaseEvent(QKeyEvent* e) override {
        seen.push_back("up " + std::to_string(e->key()));
        e->ignore();
    }
};

class Target : public IKeyTriggerTarget {
public:
    std::vector<std::string> calls;
    void PlaySelected() override { calls.push_back("PlaySelected"); }
    void StartPlayback(const EffectEntryPtr& entry) override {
        calls.push_back("Start " + entry->strName);
    }
    void ReleasePlayback(const EffectEntryPtr& entry) override {
        calls.push_back("Release " + entry->strName);
    }
    void EditEffect() override { calls.push_back("EditEffect"); }
};

class KeyFilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureDialogTestApp();
        m_dialog = std::make_unique<QDialog>();
        m_sink = new KeySink(m_dialog.get());
        m_sink->setFocusPolicy(Qt::StrongFocus);
        // A default button: the dialog's own Enter handling would press it and close.
        auto* ok = new QPushButton("OK", m_dialog.get());
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, m_dialog.get(), &QDialog::accept);
        m_filter = std::make_unique<CKeyFilter>(
            m_dialog.get(),
            [this](unsigned message, const std::uint8_t state[256]) {
                return TranslateKeyMessage(message, state, m_table, m_target);
            },
            [] { return UsKeyLayout(); });
        qApp->installEventFilter(m_filter.get());
        m_dialog->show();
        m_sink->setFocus();
    }
    void TearDown() override { qApp->removeEventFilter(m_filter.get()); }

    void AddEffect(const char* name, int key, int modifiers = 0) {
        EffectEntry e;
        e.strName = name;
        e.nKey = key;
        e.nModifiers = modifiers;
        m_table.Add(e);
    }

    // Sends one key event to a widget as the platform would, with its own timestamp.
    bool Send(QWidget* to, QEvent::Type type, int key, Qt::KeyboardModifiers mods = {},
              bool autoRepeat = false, quint64 time = 0) {
        QKeyEvent e(type, key, mods, QString(), autoRepeat);
        e.setTimestamp(time ? time : ++m_clock);
        QApplication::sendEvent(to, &e);
        return e.isAccepted();
    }
    void Press(int key, Qt::KeyboardModifiers mods = {}, bool repeat = false, quint64 time = 0) {
        Send(m_sink, QEvent::KeyPress, key, mods, repeat, time);
    }
    // A release, settled as the event loop would settle it.
    void Release(int key, Qt::KeyboardModifiers mods = {}, bool repeat = false, quint64 time = 0) {
        Send(m_sink, QEvent::KeyRelease, key, mods, repeat, time);
        QCoreApplication::sendPostedEvents(m_filter.get());
    }

    std::unique_ptr<QDialog> m_dialog;
    KeySink* m_sink = nullptr;
    std::unique_ptr<CKeyFilter> m_filter;
    EffectTable m_table;
    Target m_target;
    quint64 m_clock = 1000;
};

// The X server's keymap stands in for the host; keys carry their X11 keycodes.
class HostKeyTest : public KeyFilterTest {
protected:
    void SetUp() override {
        KeyFilterTest::SetUp();
        m_filter->SetKeymapSource([this] { return std::optional<HostKeymap>(m_host); });
    }
    void Key(QWidget* to, QEvent::Type type, int key, quint32 code, Qt::KeyboardModifiers m = {}) {
        m_host[code / 8] = static_cast<std::uint8_t>(type == QEvent::KeyPress
                                                         ? m_host[code / 8] | (1 << (code % 8))
                                                         : m_host[code / 8] & ~(1 << (code % 8)));
        QKeyEvent e(type, key, m, code, 0, 0);
        e.setTimestamp(++m_clock);
        QApplication::sendEvent(to, &e);
        QCoreApplication::sendPostedEvents(m_filter.get());
    }
    bool Held(int vk) const { return m_filter->KeyState()[vk] & 0x80; }
    HostKeymap m_host{};
};

// Enter closes a box at its press; its release, and that of a key held past a dialog, go to no
// window of ours.
TEST_F(HostKeyTest, KeysReleasedWhileAModalWindowClosedAreNotHeld) {
    WhenModal<QMessageBox>([this](QMessageBox& box) {
        Key(&box, QEvent::KeyPress, Qt::Key_Return, 36);
        m_host = {};
    });
    QMessageBox(QMessageBox::Warning, "Otomaru", "x", QMessageBox::Ok, m_dialog.get()).exec();
    AddEffect("a", 'A');
    QDialog modal(m_dialog.get());
    modal.setModal(true);
    modal.show();
    Key(&modal, QEvent::KeyPress, Qt::Key_A, 38);
    modal.hide();
    QCoreApplication::processEvents();
    m_host = {};
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(m_dialog.get(), &activate);
    EXPECT_FALSE(Held('A'));
    Key(m_sink, QEvent::KeyPress, Qt::Key_A, 38);
    Key(m_sink, QEvent::KeyRelease, Qt::Key_A, 38);
    Key(m_sink, QEvent::KeyPress, Qt::Key_Escape, 9); // not taken as Enter held
    EXPECT_EQ(m_target.calls, std::vector<std::string>{"Start a"});
    EXPECT_FALSE(m_dialog->isVisible());
}

// Shift and Num Lock change what a keypad key reports between its press and its release; the
// Japanese Caps key reports 英数 pressed and Caps Lock released.
TEST_F(HostKeyTest, ReleaseGoesUpUnderTheCodeOfThePress) {
    using M = Qt::KeyboardModifiers;
    const std::tuple<int, M, int, M, quint32, int> cases[] = {
        {Qt::Key_4, Qt::KeypadModifier, Qt::Key_Left, Qt::KeypadModifier | Qt::ShiftModifier, 83,
         0x64},
        {Qt::Key_Left, Qt::KeypadModifier, Qt::Key_4, Qt::KeypadModifier, 83, 0x25},
        {Qt::Key_Eisu_toggle, {}, Qt::Key_CapsLock, {}, 66, 0xF0},
    };
    for (const auto& [down, downMods, up, upMods, code, vk] : cases) {
        Key(m_sink, QEvent::KeyPress, down, code, downMods);
        EXPECT_TRUE(Held(vk)) << code;
        Key(m_sink, QEvent::KeyRelease, up, code, upMods);
        for (int k = 1; k < 256; ++k)
            EXPECT_FALSE(Held(k)) << code << " left " << k;
    }
}

// Right Alt is not Left Alt; AltGr is Ctrl+Alt, as on the designed platform.
TEST_F(HostKeyTest, RightAltAndAltGr) {
    AddEffect("q", 'Q');
    AddEffect("ctrl-alt-q", 'Q', MOD_CODE_CTRL | MOD_CODE_ALT);
    Key(m_sink, QEvent::KeyPress, Qt::Key_Alt, 108);
    EXPECT_FALSE(Held(VK_LMENU));
    Key(m_sink, QEvent::KeyRelease, Qt::Key_Alt, 108, Qt::AltModifier);
    EXPECT_FALSE(Held(VK_MENU));
    Key(m_sink, QEvent::KeyPress, Qt::Key_AltGr, 108);
    Key(m_sink, QEvent::KeyPress, Qt::Key_At, 24, Qt::GroupSwitchModifier);
    EXPECT_EQ(m_target.calls, std::vector<std::string>{"Start ctrl-alt-q"});
    Key(m_sink, QEvent::KeyRelease, Qt::Key_At, 24, Qt::GroupSwitchModifier);
    Key(m_sink, QEvent::KeyRelease, Qt::Key_AltGr, 108, Qt::GroupSwitchModifier);
    EXPECT_FALSE(Held(VK_CONTROL) || Held(VK_MENU));
}

TEST_F(KeyFilterTest, HotkeyFiresOnceWhileHeldAndIsSwallowed) {
    AddEffect("a", 'A');
    Press(Qt::Key_A);
    EXPECT_EQ(m_target.calls, std::vector<std::string>{"Start a"});
    // X11 repeats: a marked release and press pair, several times.
    for (int i = 0; i < 3; ++i) {
        const quint64 t = 2000 + i;
        Release(Qt::Key_A, {}, true, t);
        Press(Qt::Key_A, {}, true, t);
    }
    EXPECT_EQ(m_target.calls.size(), 1u);
    // Every key-down was swallowed; the repeat releases reached the control.
    for (const std::string& s : m_sink->seen)
        EXPECT_EQ(s.rfind("up ", 0), 0u) << s;
    Release(Qt::Key_A);
    EXPECT_EQ(m_sink->seen.back(), "up " + std::to_string(Qt::Key_A));
    Press(Qt::Key_A);
    EXPECT_EQ(m_target.calls, (std::vector<std::string>{"Start a", "Start a"}));
}

TEST_F(KeyFilterTest, UnmarkedReleaseAndPressOfOneMomentIsARepeat) {
    AddEffect("a", 'A');
    Press(Qt::Key_A);
    Send(m_sink, QEvent::KeyRelease, Qt::Key_A, {}, false, 5000);
    Send(m_sink, QEvent::KeyPress, Qt::Key_A, {}, false, 5000);
    QCoreApplication::sendPostedEvents(m_filter.get());
    EXPECT_EQ(m_target.calls.size(), 1u);
    // A release and a press at different moments are a new press.
    Send(m_sink, QEvent::KeyRelease, Qt::Key_A, {}, false, 6000);
    Send(m_sink, QEvent::KeyPress, Qt::Key_A, {}, false, 6100);
    EXPECT_EQ(m_target.calls.size(), 2u);
}

TEST_F(KeyFilterTest, UnregisteredKeysPassThrough) {
    AddEffect("a", 'A');
    Press(Qt::Key_B);
    Release(Qt::Key_B);
    EXPECT_TRUE(m_target.calls.empty());
    EXPECT_EQ(m_sink->seen, (std::vector<std::string>{"down " + std::to_string(Qt::Key_B),
                                                      "up " + std::to_string(Qt::Key_B)}));
}

TEST_F(KeyFilterTest, EnterPlaysTheSelectionAndNeverPressesTheDefaultButton) {
    Press(Qt::Key_Return);
    EXPECT_EQ(m_target.calls, std::vector<std::string>{"PlaySelected"});
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), 0);
    EXPECT_TRUE(m_sink->seen.empty());
}

TEST_F(KeyFilterTest, EscapeClosesUnlessAHotkeyTakesIt) {
    AddEffect("esc", VK_ESCAPE, MOD_CODE_SHIFT);
    // Shift+Escape is the hotkey: the window stays.
    Press(Qt::Key_Shift);
    Press(Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_EQ(m_target.calls, std::vector<std::string>{"Start esc"});
    EXPECT_TRUE(m_dialog->isVisible());
    Release(Qt::Key_Escape, Qt::ShiftModifier);
    Release(Qt::Key_Shift, Qt::ShiftModifier);
    // Escape alone is not: the dialog's cancel handling closes it.
    Press(Qt::Key_Escape);
    EXPECT_EQ(m_target.calls.size(), 1u);
    EXPECT_FALSE(m_dialog->isVisible());
}

TEST_F(KeyFilterTest, ModifiersMustMatchExactlyAndAltChordsAreTheSystems) {
    AddEffect("ctrl-a", 'A', MOD_CODE_CTRL);
    AddEffect("alt-a", 'A', MOD_CODE_ALT);
    AddEffect("ctrl-alt-a", 'A', MOD_CODE_CTRL | MOD_CODE_ALT);
    Press(Qt::Key_A);
    Release(Qt::Key_A);
    Press(Qt::Key_Alt);
    Press(Qt::Key_A, Qt::AltModifier); // a menu mnemonic, never a hotkey
    Release(Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(m_target.calls.empty());
    Press(Qt::Key_Control, Qt::AltModifier);
    Press(Qt::Key_A, Qt::AltModifier | Qt::ControlModifier);
    EXPECT_EQ(m_target.calls, std::vector<std::string>{"Start ctrl-alt-a"});
}

TEST_F(KeyFilterTest, NothingFiresWhileAnotherModalWindowIsOpen) {
    AddEffect("a", 'A');
    QDialog modal(m_dialog.get());
    auto* field = new KeySink(&modal);
    modal.setModal(true);
    modal.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &modal);
    Send(field, QEvent::KeyPress, Qt::Key_A);
    Send(m_sink, QEvent::KeyPress, Qt::Key_Return);
    EXPECT_TRUE(m_target.calls.empty());
    EXPECT_EQ(field->seen.size(), 1u);
    modal.hide();
    Release(Qt::Key_A);
    Release(Qt::Key_Return);
    Press(Qt::Key_A);
    EXPECT_EQ(m_target.calls, std::vector<std::string>{"Start a"});
}

TEST_F(KeyFilterTest, KeysOfOtherWindowsAreNotExamined) {
    AddEffect("a", 'A');
    QWidget other;
    auto* sink = new KeySink(&other);
    other.show();
    Send(sink, QEvent::KeyPress, Qt::Key_A);
    EXPECT_TRUE(m_target.calls.empty());
    EXPECT_EQ(sink->seen.size(), 1u);
}

} // namespace

namespace {

// A key sent straight to the dialog right after one that its child passed on to it.
TEST_F(KeyFilterTest, KeyForTheWindowItselfAfterAChildsKeyStillCounts) {
    AddEffect("b", 'B');
    Press(Qt::Key_A); // the sink passes it on to the dialog
    Send(m_dialog.get(), QEvent::KeyPress, Qt::Key_B);
    EXPECT_EQ(m_target.calls, std::vector<std::string>{"Start b"});
}

} // namespace
