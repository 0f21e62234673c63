// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/key_filter.h"

#include "desktop/qt_key_map.h"
#include "input/key_trigger.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenuBar>
#include <QTimer>

#include <algorithm>

namespace {

// Events without a keycode (sent by other programs or by tests) are told apart by their key.
std::uint32_t PhysicalKeyOf(const QKeyEvent& key) {
    if (key.nativeScanCode() != 0)
        return key.nativeScanCode();
    return 0x40000000u | static_cast<std::uint32_t>(key.key());
}

int ModifierCode(Qt::KeyboardModifiers m) {
    return (m & Qt::ShiftModifier ? MOD_CODE_SHIFT : 0) |
           (m & Qt::ControlModifier ? MOD_CODE_CTRL : 0) | (m & Qt::AltModifier ? MOD_CODE_ALT : 0);
}

bool IsMenuOrModal(const QWidget* window) {
    return window->isModal() || window->windowType() == Qt::Popup;
}

} // namespace

CKeyFilter::CKeyFilter(QWidget* mainWindow, TranslateFn translate, LayoutFn layout, QObject* parent)
    : QObject(parent), m_pMainWindow(mainWindow), m_translate(std::move(translate)),
      m_layout(std::move(layout)), m_bDetectableRepeat(UseDetectableAutoRepeat()) {}

bool CKeyFilter::Examines(const QWidget* receiver) const {
    if (!receiver || !m_pMainWindow)
        return false;
    const QWidget* window = receiver->window();
    if (window != m_pMainWindow) {
        // The set selector's drop-down is a window of its own, but the selector keeps the main
        // window's keyboard while it is open.
        const auto* combo = window->windowType() == Qt::Popup
                                ? qobject_cast<const QComboBox*>(window->parentWidget())
                                : nullptr;
        if (!combo || combo->window() != m_pMainWindow)
            return false;
    }
    // The editor, the new-set dialog, a chooser or a message box has the keyboard.
    const QWidget* modal = QApplication::activeModalWidget();
    return !modal || modal == m_pMainWindow;
}

// Keys pressed while Alt is down without Ctrl, and F10, are the system's: they open menus and
// press mnemonics, and never fire effects nor clear latches.
bool CKeyFilter::IsSystemKey(int vk) const {
    const bool alt = m_keyState.At(VK_MENU) & CKeyState::kDown;
    const bool ctrl = m_keyState.At(VK_CONTROL) & CKeyState::kDown;
    return (alt && !ctrl) || vk == VK_F10;
}

void CKeyFilter::SyncWithHost(std::uint32_t except) {
    const std::optional<HostKeymap> keymap = m_keymap ? m_keymap() : std::nullopt;
    if (except != 0 && !keymap)
        return; // at a key event, without the host's word, the events are all we know
    if (except == 0)
        FlushPendingRelease();
    // Toggles stay; the modifiers come back from the next key event's modifier state.
    m_keyState.ReleaseAll();
    for (auto it = m_pressedCodes.begin(); it != m_pressedCodes.end();) {
        if (it->first == except || (keymap && IsKeycodeDown(*keymap, it->first))) {
            m_keyState.MarkDown(it->second.nKey);
            if (it->second.bAltGr)
                m_keyState.MarkDown(VK_LCONTROL);
            ++it;
        } else {
            it = m_pressedCodes.erase(it);
        }
    }
}

QAbstractButton* CKeyFilter::MnemonicButton(const QKeyEvent& key) const {
    if ((key.modifiers() & ~Qt::KeypadModifier) != Qt::AltModifier ||
        !Examines(qobject_cast<QWidget*>(QApplication::focusWidget())))
        return nullptr;
    const QKeySequence chord(key.key() | Qt::AltModifier);
    for (QAbstractButton* button : m_pMainWindow->findChildren<QAbstractButton*>()) {
        if (button->window() == m_pMainWindow && button->isVisible() && button->isEnabled() &&
            QKeySequence::mnemonic(button->text()) == chord)
            return button;
    }
    return nullptr;
}

void CKeyFilter::ActivateMenuBar() {
    auto* bar = m_pMainWindow->findChild<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly);
    if (!bar || bar->actions().isEmpty())
        return;
    // Qt's styles here have no menu bar that takes the keyboard without a menu open: the first
    // menu opens, and the arrow keys go on from there as they would.
    bar->setActiveAction(bar->actions().first());
}

bool CKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::ApplicationDeactivate) {
        // Keys released while another program has the keyboard are never seen: forget them.
        FlushPendingRelease();
        m_keyState.ReleaseAll();
        m_pressedCodes.clear();
        return false;
    }
    if (type == QEvent::WindowActivate && watched == m_pMainWindow) {
        SyncWithHost();
        return false;
    }
    if (type == QEvent::Hide) {
        // A modal window or a menu that closes took the releases of the keys that closed it.
        auto* window = qobject_cast<QWidget*>(watched);
        if (window && window->isWindow() && window != m_pMainWindow && IsMenuOrModal(window))
            QTimer::singleShot(0, this, [this] { SyncWithHost(); });
        return false;
    }
    if (type == QEvent::ShortcutOverride) {
        // The window's own mnemonic goes before the menu bar's shortcut of the same letter.
        if (MnemonicButton(static_cast<const QKeyEvent&>(*event))) {
            event->accept();
            return true;
        }
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    // A QWindow sees the key before its widgets do; only the widgets' offers count.
    auto* receiver = qobject_cast<QWidget*>(watched);
    if (!receiver)
        return false;
    const auto& key = static_cast<const QKeyEvent&>(*event);
    // Events live on the stack of whoever sends them, so one address serves many events: only
    // the same key at the same moment, offered to a parent of its last receiver, is a repeat
    // offer.
    if (event == m_pLastEvent && type == m_nLastType && key.key() == m_nLastKey &&
        key.timestamp() == m_nLastTime && m_pLastReceiver && receiver != m_pLastReceiver &&
        receiver->isAncestorOf(m_pLastReceiver))
        return false;
    m_pLastEvent = event;
    m_nLastType = type;
    m_nLastKey = key.key();
    m_nLastTime = key.timestamp();
    m_pLastReceiver = receiver;

    const bool press = type == QEvent::KeyPress;
    const std::uint32_t physical = PhysicalKeyOf(key);
    const int modifiers = ModifierCode(key.modifiers());
    if (press)
        SyncWithHost(physical);
    // A key keeps the code it was pressed with until it goes up.
    const auto pressed = m_pressedCodes.find(physical);
    const Pressed code = pressed != m_pressedCodes.end()
                             ? pressed->second
                             : Pressed{QtKeyToVirtualKey(key, m_layout ? m_layout() : nullptr).nKey,
                                       key.key() == Qt::Key_AltGr};
    const CKeyRepeatFilter::Event in{press, code.nKey, key.timestamp(), key.isAutoRepeat(),
                                     physical};
    bool consume = ActUnlessRepeat(in, code, modifiers, receiver, false);
    if (press && !consume && Examines(receiver)) {
        if (QAbstractButton* button = MnemonicButton(key)) {
            QTimer::singleShot(0, button, &QAbstractButton::click);
            consume = true;
        } else if (code.nKey == VK_F10 &&
                   !(key.modifiers() &
                     (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))) {
            ActivateMenuBar();
            consume = true;
        }
    }
    return consume;
}

bool CKeyFilter::ActUnlessRepeat(const CKeyRepeatFilter::Event& in, const Pressed& code,
                                 int modifiers, QWidget* receiver, bool global) {
    if (m_bDetectableRepeat)
        return Act(in, code, modifiers, receiver, global);
    // The marks and the timestamps decide. Not the server's keymap: under load it is often read
    // between a repeat's release and its press.
    bool consume = false;
    const QPointer<QWidget> pendingReceiver = m_pPendingReceiver;
    const bool pendingGlobal = m_bPendingGlobal;
    for (const CKeyRepeatFilter::Event& out : m_repeat.Feed(in)) {
        const bool current =
            out.bPress == in.bPress && out.nKey == in.nKey && out.nTime == in.nTime;
        if (current)
            consume = Act(out, code, modifiers, receiver, global);
        else // the release held back before this
            Act(out, {out.nKey}, 0, pendingReceiver, pendingGlobal);
    }
    if (m_repeat.HasPending()) {
        m_pPendingReceiver = receiver;
        m_bPendingGlobal = global;
        // Settled once the events queued with it have been seen.
        QMetaObject::invokeMethod(this, &CKeyFilter::FlushPendingRelease, Qt::QueuedConnection);
    }
    return consume;
}

void CKeyFilter::FlushPendingRelease() {
    const std::optional<CKeyRepeatFilter::Event> release = m_repeat.Flush();
    if (!release)
        return;
    // A grabbed key the server holds down again: the repeat's press is on its way to a grab.
    const std::optional<HostKeymap> keymap =
        m_bPendingGlobal && m_keymap ? m_keymap() : std::nullopt;
    if (keymap && IsKeycodeDown(*keymap, release->nPhysical))
        return;
    Act(*release, {release->nKey}, 0, m_pPendingReceiver, m_bPendingGlobal);
}

void CKeyFilter::FeedGlobal(bool press, int vk, std::uint32_t physical, int modifiers,
                            bool releaseMissed, std::uint64_t serverTime) {
    if (press && releaseMissed && m_pressedCodes.count(physical))
        Act({false, m_pressedCodes[physical].nKey, 0, false, physical}, {}, 0, nullptr, true);
    if (press)
        SyncWithHost(physical);
    const auto pressed = m_pressedCodes.find(physical);
    const Pressed code = pressed != m_pressedCodes.end() ? pressed->second : Pressed{vk};
    const CKeyRepeatFilter::Event in{press, code.nKey, serverTime, false, physical};
    // The portal's keys do not repeat; the X server's do, as it repeats the window's.
    if (serverTime == 0)
        Act(in, code, modifiers, nullptr, true);
    else
        ActUnlessRepeat(in, code, modifiers, nullptr, true);
}

void CKeyFilter::SyncModifiers(int modifiers) {
    // AltGr stands for Ctrl+Alt, whatever the event's own modifiers say.
    const bool altGr = std::any_of(m_pressedCodes.begin(), m_pressedCodes.end(),
                                   [](const auto& p) { return p.second.bAltGr; });
    m_keyState.SyncModifiers(modifiers & MOD_CODE_SHIFT, altGr || (modifiers & MOD_CODE_CTRL),
                             altGr || (modifiers & MOD_CODE_ALT));
}

bool CKeyFilter::Act(const CKeyRepeatFilter::Event& event, const Pressed& code, int modifiers,
                     const QWidget* receiver, bool global) {
    if (event.bPress) {
        if (event.nKey != 0)
            m_pressedCodes[event.nPhysical] = code;
        m_keyState.KeyDown(event.nKey);
        if (code.bAltGr)
            m_keyState.KeyDown(VK_LCONTROL);
        // After the key itself, so that a right-hand modifier is not taken for the left one.
        SyncModifiers(modifiers);
        if (!m_translate || (!global && (!Examines(receiver) || IsSystemKey(event.nKey))))
            return false;
        return m_translate(WM_KEYDOWN, m_keyState.Data());
    }
    const bool system = !global && IsSystemKey(event.nKey);
    const auto pressed = m_pressedCodes.find(event.nPhysical);
    if (pressed != m_pressedCodes.end() && pressed->second.bAltGr)
        m_keyState.KeyUp(VK_LCONTROL);
    if (pressed != m_pressedCodes.end())
        m_pressedCodes.erase(pressed);
    m_keyState.KeyUp(event.nKey);
    if (m_translate && (global || (Examines(receiver) && !system)))
        m_translate(WM_KEYUP, m_keyState.Data());
    return false;
}
