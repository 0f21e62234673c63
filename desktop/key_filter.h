// SPDX-License-Identifier: GPL-3.0-or-later
// Hotkeys fire while the main window has the keyboard focus, before the focused control or the
// dialog's own keyboard handling sees the key. Installed on the application, this filter sees
// every key press and release, keeps the 256-byte key-state table, hands the key messages meant
// for the main window to the trigger matching, and swallows a key-down that fired. It also gives
// the main window the keyboard manners of the platform the program was designed on: its own
// buttons' mnemonics before the menu bar's, and F10 for the menu bar.
#pragma once

#include "desktop/x11_keyboard.h"
#include "input/hotkey.h"
#include "input/key_state.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

class QAbstractButton;
class QKeyEvent;

class CKeyFilter : public QObject {
    Q_OBJECT
public:
    // message (WM_KEYDOWN / WM_KEYUP) and the key-state snapshot -> whether the key-down fired.
    using TranslateFn = std::function<bool(unsigned message, const std::uint8_t keyState[256])>;
    // The keyboard layout that key codes are worked out in.
    using LayoutFn = std::function<HKL()>;
    // The keys physically down now, by X11 keycode; nothing when the host cannot tell.
    using KeymapFn = std::function<std::optional<HostKeymap>()>;

    CKeyFilter(QWidget* mainWindow, TranslateFn translate, LayoutFn layout,
               QObject* parent = nullptr);

    const std::uint8_t* KeyState() const { return m_keyState.Data(); }
    // Settles a release held back to see whether a press of the same moment follows.
    void FlushPendingRelease();
    // Tests stand in for the X server here.
    void SetKeymapSource(KeymapFn keymap) { m_keymap = std::move(keymap); }
    // Asks the server for repeats without releases (`on` false: with them, as a server that
    // refuses sends them); its answer decides how both paths tell a repeat.
    void SetDetectableRepeat(bool on) { m_bDetectableRepeat = UseDetectableAutoRepeat(on); }
    // Makes the table hold only keys that are physically down: releases that went to a window
    // that closed, or to no window of ours, are never seen. `except` keeps one key as it is (the
    // key whose own event is being handled). Without the host's keymap every key goes up.
    void SyncWithHost(std::uint32_t except = 0);
    // A key the desktop brought while another program has the keyboard: the same table and
    // rules as a focused key. `physical` is the X11 keycode (or a number of the caller's own
    // above 255), `modifiers` the modifier code live at that moment. `releaseMissed`: the key
    // went up where we could not see it since its last press, so this press is a new one.
    // `serverTime`: the X server's timestamp (0 = not from the X server, which alone repeats).
    void FeedGlobal(bool press, int vk, std::uint32_t physical, int modifiers,
                    bool releaseMissed = false, std::uint64_t serverTime = 0);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether key messages for this widget reach the trigger matching now.
    bool Examines(const QWidget* receiver) const;
    bool IsSystemKey(int vk) const;
    struct Pressed {
        int nKey = 0;
        bool bAltGr = false; // AltGr holds Left Ctrl with it, as on the designed platform
    };
    // Acts on one press or release that the repeat rule let through; true = consume it. The
    // global path has no window to examine and no system keys.
    bool Act(const CKeyRepeatFilter::Event& event, const Pressed& code, int modifiers,
             const QWidget* receiver, bool global = false);
    // Act, after the repeat rule where the server sends a release with every repeat.
    bool ActUnlessRepeat(const CKeyRepeatFilter::Event& event, const Pressed& code, int modifiers,
                         QWidget* receiver, bool global);
    void SyncModifiers(int modifiers);
    // The main window's own button whose mnemonic this Alt chord is, if any.
    QAbstractButton* MnemonicButton(const QKeyEvent& key) const;
    // F10: the menu bar takes the keyboard.
    void ActivateMenuBar();

    QWidget* m_pMainWindow;
    TranslateFn m_translate;
    LayoutFn m_layout;
    KeymapFn m_keymap = QueryHostKeymap;
    CKeyState m_keyState;
    CKeyRepeatFilter m_repeat;
    // The server sends no release for an auto-repeat: every release is real.
    bool m_bDetectableRepeat = false;
    // The code each physical key got at its press; its release goes up under the same code,
    // whatever Shift or Num Lock did in between.
    std::map<std::uint32_t, Pressed> m_pressedCodes;
    // Where the held-back release was going.
    QPointer<QWidget> m_pPendingReceiver;
    bool m_bPendingGlobal = false;

    // The key event last seen and where: Qt offers an unhandled key to each parent in turn, and
    // the filter sees every offer.
    const QEvent* m_pLastEvent = nullptr;
    int m_nLastType = 0;
    int m_nLastKey = 0;
    quint64 m_nLastTime = 0;
    QPointer<QWidget> m_pLastReceiver;
};
