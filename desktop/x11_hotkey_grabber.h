// Global hotkeys on X11: passive key grabs on the root window, and the events they bring fed
// through the same key-state table and matching as focused presses. A grab reports a key only
// while another program has the keyboard: with our own window focused, the event goes to that
// window (owner events) and the application's key filter handles it, so nothing fires twice.
#pragma once

#include "desktop/global_hotkey.h"
#include "desktop/key_filter.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <vector>

struct xcb_connection_t;

class CX11HotkeyGrabber : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    CX11HotkeyGrabber(CKeyFilter::TranslateFn translate, CKeyFilter::LayoutFn layout,
                      QObject* parent = nullptr);
    ~CX11HotkeyGrabber() override;

    // Whether the application runs on an X server.
    static bool Available();
    // Replaces the grabs with these. Returns the hotkeys another client already holds; the
    // others work.
    std::vector<GlobalHotkey> SetHotkeys(const std::vector<GlobalHotkey>& hotkeys);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The key code a keycode gives with Num Lock off and on (0 = none), from the keyboard's map.
    int VirtualKeyOf(std::uint8_t keycode, bool numLock) const;

private:
    struct Grab {
        std::uint8_t keycode;
        std::uint16_t modifiers;
    };
    void LoadKeyboardMap();
    void UngrabAll();
    void Act(bool press, int vk, std::uint16_t state);
    void FlushPendingRelease();

    xcb_connection_t* m_pConnection = nullptr;
    std::uint32_t m_root = 0;
    CKeyFilter::TranslateFn m_translate;
    CKeyFilter::LayoutFn m_layout;
    std::vector<Grab> m_grabs;
    // [keycode][Num Lock] -> virtual-key code.
    std::array<std::array<std::uint8_t, 2>, 256> m_keyMap{};
    CKeyState m_keyState;
    CKeyRepeatFilter m_repeat;
    std::uint16_t m_nPendingState = 0;
    QTimer m_flushTimer;
};
