#include "ui/key_filter.h"

#include "input/key_trigger.h"
#include "ui/qt_key_map.h"

#include <QApplication>
#include <QKeyEvent>

namespace {
constexpr int VK_F10 = 0x79;
} // namespace

CKeyFilter::CKeyFilter(QWidget* mainWindow, TranslateFn translate, LayoutFn layout, QObject* parent)
    : QObject(parent), m_pMainWindow(mainWindow), m_translate(std::move(translate)),
      m_layout(std::move(layout)) {}

bool CKeyFilter::Examines(const QWidget* receiver) const {
    if (!receiver || !m_pMainWindow || receiver->window() != m_pMainWindow)
        return false;
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

bool CKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::ApplicationDeactivate) {
        // Keys released while another program has the keyboard are never seen: forget them.
        FlushPendingRelease();
        m_keyState.ReleaseAll();
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
    if (press) {
        m_keyState.SyncModifiers(key.modifiers() & Qt::ShiftModifier,
                                 key.modifiers() & Qt::ControlModifier,
                                 key.modifiers() & Qt::AltModifier);
    }
    const CKeyRepeatFilter::Event in{press,
                                     QtKeyToVirtualKey(key, m_layout ? m_layout() : nullptr).nKey,
                                     key.timestamp(), key.isAutoRepeat()};
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
    return consume;
}

void CKeyFilter::FlushPendingRelease() {
    if (std::optional<CKeyRepeatFilter::Event> release = m_repeat.Flush())
        Act(*release, m_pPendingReceiver);
}

bool CKeyFilter::Act(const CKeyRepeatFilter::Event& event, const QWidget* receiver) {
    if (event.bPress) {
        m_keyState.KeyDown(event.nKey);
        if (!Examines(receiver) || IsSystemKey(event.nKey) || !m_translate)
            return false;
        return m_translate(WM_KEYDOWN, m_keyState.Data());
    }
    const bool system = IsSystemKey(event.nKey);
    m_keyState.KeyUp(event.nKey);
    if (Examines(receiver) && !system && m_translate)
        m_translate(WM_KEYUP, m_keyState.Data());
    return false;
}
