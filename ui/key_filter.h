// Hotkeys fire while the main window has the keyboard focus, before the focused control or the
// dialog's own keyboard handling sees the key. Installed on the application, this filter sees
// every key press and release, keeps the 256-byte key-state table, hands the key messages meant
// for the main window to the trigger matching, and swallows a key-down that fired.
#pragma once

#include "input/hotkey.h"
#include "input/key_state.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QKeyEvent;

class CKeyFilter : public QObject {
    Q_OBJECT
public:
    // message (WM_KEYDOWN / WM_KEYUP) and the key-state snapshot -> whether the key-down fired.
    using TranslateFn = std::function<bool(unsigned message, const std::uint8_t keyState[256])>;
    // The keyboard layout that key codes are worked out in.
    using LayoutFn = std::function<HKL()>;

    CKeyFilter(QWidget* mainWindow, TranslateFn translate, LayoutFn layout,
               QObject* parent = nullptr);

    const std::uint8_t* KeyState() const { return m_keyState.Data(); }
    // Settles a release held back to see whether a press of the same moment follows.
    void FlushPendingRelease();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether key messages for this widget reach the trigger matching now.
    bool Examines(const QWidget* receiver) const;
    bool IsSystemKey(int vk) const;
    // Acts on one press or release that the repeat rule let through; true = consume it.
    bool Act(const CKeyRepeatFilter::Event& event, const QWidget* receiver);

    QWidget* m_pMainWindow;
    TranslateFn m_translate;
    LayoutFn m_layout;
    CKeyState m_keyState;
    CKeyRepeatFilter m_repeat;
    // Where the held-back release was going.
    QPointer<QWidget> m_pPendingReceiver;

    // The key event last seen and where: Qt offers an unhandled key to each parent in turn, and
    // the filter sees every offer.
    const QEvent* m_pLastEvent = nullptr;
    int m_nLastType = 0;
    int m_nLastKey = 0;
    quint64 m_nLastTime = 0;
    QPointer<QWidget> m_pLastReceiver;
};
