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

namespace {

// Events without a keycode (sent by other programs or by tests) are told apart by their key.
std::uint32_t PhysicalKeyOf(const QKeyEvent& key) {
    if (key.nativeScanCode() != 0)
        return key.nativeScanCode();
    return 0x40000000u | static_cast<std::uint32_t>(key.key());
}

bool IsMenuOrModal(const QWidget* window) {
    return window->isModal() || window->windowType() == Qt::Popup;
}

} // namespace

CKeyFilter::CKeyFilter(QWidget* mainWindow, TranslateFn translate, LayoutFn layout, QObject* parent)
    : QObject(parent), m_pMainWindow(mainWindow), m_translate(std::move(translate)),
      m_layout(std::move(layout)) {}

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
            m_keyState.MarkDown(it->second);
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
    if (press) {
        SyncWithHost(physical);
        m_keyState.SyncModifiers(key.modifiers() & Qt::ShiftModifier,
                                 key.modifiers() & Qt::ControlModifier,
                                 key.modifiers() & Qt::AltModifier);
    }
    // A key keeps the code it was pressed with until it goes up.
    const auto pressed = m_pressedCodes.find(physical);
    const int vk = pressed != m_pressedCodes.end()
                       ? pressed->second
                       : QtKeyToVirtualKey(key, m_layout ? m_layout() : nullptr).nKey;
    const CKeyRepeatFilter::Event in{press, vk, key.timestamp(), key.isAutoRepeat(), physical};
    const QPointer<QWidget> pendingReceiver = m_pPendingReceiver;
    bool consume = false;
    for (const CKeyRepeatFilter::Event& out : m_repeat.Feed(in)) {
        const bool current = out.bPress == press && out.nKey == in.nKey && out.nTime == in.nTime;
        if (current)
            consume = Act(out, receiver);
        else
            Act(out, pendingReceiver); // the release held back before this event
    }
    if (m_repeat.HasPending()) {
        m_pPendingReceiver = receiver;
        // Settled once the events queued with it have been seen.
        QMetaObject::invokeMethod(this, &CKeyFilter::FlushPendingRelease, Qt::QueuedConnection);
    }
    if (press && !consume && Examines(receiver)) {
        if (QAbstractButton* button = MnemonicButton(key)) {
            QTimer::singleShot(0, button, &QAbstractButton::click);
            consume = true;
        } else if (vk == VK_F10 && !(key.modifiers() &
                                     (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))) {
            ActivateMenuBar();
            consume = true;
        }
    }
    return consume;
}

void CKeyFilter::FlushPendingRelease() {
    if (std::optional<CKeyRepeatFilter::Event> release = m_repeat.Flush())
        Act(*release, m_pPendingReceiver);
}

bool CKeyFilter::Act(const CKeyRepeatFilter::Event& event, const QWidget* receiver) {
    if (event.bPress) {
        if (event.nKey != 0)
            m_pressedCodes[event.nPhysical] = event.nKey;
        m_keyState.KeyDown(event.nKey);
        if (!Examines(receiver) || IsSystemKey(event.nKey) || !m_translate)
            return false;
        return m_translate(WM_KEYDOWN, m_keyState.Data());
    }
    const bool system = IsSystemKey(event.nKey);
    m_pressedCodes.erase(event.nPhysical);
    m_keyState.KeyUp(event.nKey);
    if (Examines(receiver) && !system && m_translate)
        m_translate(WM_KEYUP, m_keyState.Data());
    return false;
}
