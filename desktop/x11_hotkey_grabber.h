// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys on X11: passive key grabs on the root window, and the events they bring fed
// into the key filter's table and matching, as focused presses are. A grab reports a key only
// while another program has the keyboard: with our own window focused, the event goes to that
// window (owner events) and the application's key filter handles it, so nothing fires twice.
#pragma once

#include "desktop/hotkey_way.h"
#include "desktop/key_filter.h"

#include <QAbstractNativeEventFilter>

#include <array>
#include <cstdint>
#include <set>
#include <vector>

struct xcb_connection_t;

class CX11HotkeyGrabber : public CHotkeyWay, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    CX11HotkeyGrabber(CKeyFilter& keys, CKeyFilter::LayoutFn layout, QObject* parent = nullptr);
    ~CX11HotkeyGrabber() override;

    // Whether the application runs on an X server.
    static bool Available();
    // Replaces the grabs with these; Taken names, at once, those another client holds or no key
    // of this keyboard gives.
    void SetHotkeys(const std::vector<WayHotkey>& hotkeys) override;
    std::string Description() const override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The key code a keycode gives with Shift and Num Lock as given (0 = none), as a focused
    // press of it would get.
    int VirtualKeyOf(std::uint8_t keycode, bool shift, bool numLock) const;

private:
    struct Grab {
        std::uint8_t keycode;
        std::uint16_t modifiers;
    };
    void LoadKeyboardMap();
    void UngrabAll();
    // Whether a key pressed under another key's grab and still down has a grab of its own.
    bool BorrowedGrabbed() const;
    // The grab in force ended with keys pressed under it still down: the keyboard stays ours
    // until they are up, else the repeat of one would start a grab of its own that looks like a
    // new press, and its release would go elsewhere.
    void Hold();
    // A key not the grab's own went up.
    void Released(std::uint8_t keycode);
    void EndHoldIfDone();

    xcb_connection_t* m_pConnection = nullptr;
    std::uint32_t m_root = 0;
    CKeyFilter& m_keys;
    CKeyFilter::LayoutFn m_layout;
    std::vector<Grab> m_grabs;
    // The key whose press activated the grab in force (0 = none), and the keys pressed during
    // another key's grab: their releases go to whoever has the focus once that grab ends, unless
    // a hold keeps the keyboard.
    std::uint8_t m_nGrabKey = 0;
    std::set<std::uint8_t> m_borrowed;
    bool m_bHolding = false; // the keyboard grabbed by Hold()
    // [keycode][Shift][Num Lock] -> virtual-key code.
    std::array<std::array<std::array<std::uint8_t, 2>, 2>, 256> m_keyMap{};
};
