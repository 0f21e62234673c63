// Our hotkey field: key events become a virtual-key code and HOTKEYF_ flags, as the platform's
// hotkey control reported them, so the editor converts them exactly as before.
#include "ui/hotkey_edit.h"

#include "ui/dialog_support.h"

#include <QKeyEvent>

#if __has_include("ui/qt_key_map.h")
#include "ui/qt_key_map.h"
#else
namespace {
// Stand-in until the shared key map is in the tree: the keys a hotkey is usually made of.
int VirtualKeyFromQtEvent(const QKeyEvent& e) {
    const int key = e.key();
    const bool keypad = e.modifiers() & Qt::KeypadModifier;
    if (keypad && key >= Qt::Key_0 && key <= Qt::Key_9) {
        return 0x60 + (key - Qt::Key_0);
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return 0x41 + (key - Qt::Key_A);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return 0x30 + (key - Qt::Key_0);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return 0x70 + (key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Backspace:
        return 0x08;
    case Qt::Key_Tab:
        return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Shift:
        return 0x10;
    case Qt::Key_Control:
        return 0x11;
    case Qt::Key_Alt:
        return 0x12;
    case Qt::Key_Escape:
        return 0x1B;
    case Qt::Key_Space:
        return 0x20;
    case Qt::Key_PageUp:
        return 0x21;
    case Qt::Key_PageDown:
        return 0x22;
    case Qt::Key_End:
        return 0x23;
    case Qt::Key_Home:
        return 0x24;
    case Qt::Key_Left:
        return 0x25;
    case Qt::Key_Up:
        return 0x26;
    case Qt::Key_Right:
        return 0x27;
    case Qt::Key_Down:
        return 0x28;
    case Qt::Key_Insert:
        return 0x2D;
    case Qt::Key_Delete:
        return 0x2E;
    default:
        return 0;
    }
}
} // namespace
#endif

namespace {

bool IsModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
        return true;
    default:
        return false;
    }
}

// Keys the dialog keeps for itself: they move the focus, accept or cancel.
bool IsDialogKey(int key) {
    return key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
           key == Qt::Key_Enter || key == Qt::Key_Escape;
}

std::uint16_t FlagsOf(Qt::KeyboardModifiers mods) {
    std::uint16_t flags = 0;
    if (mods & Qt::ShiftModifier) {
        flags |= HOTKEYF_SHIFT;
    }
    if (mods & Qt::ControlModifier) {
        flags |= HOTKEYF_CONTROL;
    }
    if (mods & Qt::AltModifier) {
        flags |= HOTKEYF_ALT;
    }
    return flags;
}

// The modifiers a key event leaves held: a modifier's own press is not yet in modifiers() on
// every platform, and its release may still be.
std::uint16_t HeldFlags(const QKeyEvent& e, bool pressed) {
    std::uint16_t flags = FlagsOf(e.modifiers());
    std::uint16_t own = 0;
    switch (e.key()) {
    case Qt::Key_Shift:
        own = HOTKEYF_SHIFT;
        break;
    case Qt::Key_Control:
        own = HOTKEYF_CONTROL;
        break;
    case Qt::Key_Alt:
        own = HOTKEYF_ALT;
        break;
    default:
        break;
    }
    return pressed ? (flags | own) : (flags & ~own);
}

} // namespace

CHotKeyCtrl::CHotKeyCtrl(QWidget* parent) : QLineEdit(parent) {
    // The text is only a display of the value: no typing, pasting or dropping into it.
    setReadOnly(true);
    setAcceptDrops(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setFocusPolicy(Qt::StrongFocus);
    ShowText(0, 0);
}

void CHotKeyCtrl::SetHotKey(std::uint16_t wVirtualKeyCode, std::uint16_t wModifiers) {
    m_bKey = static_cast<std::uint8_t>(wVirtualKeyCode & 0xFF);
    m_bFlags = static_cast<std::uint8_t>(wModifiers & 0xFF);
    ShowText(m_bKey, m_bFlags);
}

void CHotKeyCtrl::GetHotKey(std::uint16_t& wVirtualKeyCode, std::uint16_t& wModifiers) const {
    wVirtualKeyCode = m_bKey;
    wModifiers = m_bFlags;
}

std::uint16_t CHotKeyCtrl::GetHotKey() const {
    return static_cast<std::uint16_t>(m_bKey | (m_bFlags << 8));
}

void CHotKeyCtrl::SetKeyLayout(HKL layout) {
    m_layout = layout;
    ShowText(m_bKey, m_bFlags);
}

void CHotKeyCtrl::ShowText(std::uint16_t key, std::uint16_t flags) {
    if (key == 0 && flags == 0) {
        static const QString kNone = QString::fromUtf8("なし");
        setText(kNone);
    } else {
        setText(QStringFromCp932(HotkeyText(HotkeyFlagsToModifiers(flags), key, m_layout)));
    }
}

// Every key but the dialog's own belongs to the field, so a button's Alt mnemonic cannot take
// a hotkey such as Alt+B away from it.
bool CHotKeyCtrl::event(QEvent* e) {
    if (e->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (!IsDialogKey(key->key())) {
            e->accept();
            return true;
        }
    }
    return QLineEdit::event(e);
}

void CHotKeyCtrl::keyPressEvent(QKeyEvent* e) {
    const int qtKey = e->key();
    if (IsDialogKey(qtKey)) {
        e->ignore();
        return;
    }
    e->accept();
    if (IsModifierKey(qtKey)) {
        // While only modifiers are held the field shows them; the value is kept until a key
        // completes the combination.
        m_bCaptured = false;
        ShowText(0, HeldFlags(*e, true));
        return;
    }
    const std::uint16_t flags = FlagsOf(e->modifiers());
    if (flags == 0 && (qtKey == Qt::Key_Backspace || qtKey == Qt::Key_Delete)) {
        SetHotKey(0, 0);
        emit hotKeyChanged();
        return;
    }
    const int vk = VirtualKeyFromQtEvent(*e);
    if (vk <= 0 || vk > 0xFF) {
        ShowText(m_bKey, m_bFlags);
        return;
    }
    SetHotKey(static_cast<std::uint16_t>(vk), flags);
    m_bCaptured = true;
    emit hotKeyChanged();
}

void CHotKeyCtrl::keyReleaseEvent(QKeyEvent* e) {
    if (IsDialogKey(e->key())) {
        e->ignore();
        return;
    }
    e->accept();
    if (IsModifierKey(e->key())) {
        // Letting go of the modifiers after a key leaves the captured hotkey on show.
        const std::uint16_t held = HeldFlags(*e, false);
        if (held != 0 && !m_bCaptured) {
            ShowText(0, held);
        } else {
            ShowText(m_bKey, m_bFlags);
        }
    }
}

void CHotKeyCtrl::inputMethodEvent(QInputMethodEvent* e) {
    e->ignore();
}

void CHotKeyCtrl::contextMenuEvent(QContextMenuEvent* e) {
    e->ignore();
}
