// SPDX-License-Identifier: GPL-3.0-or-later
// Our hotkey field: key events become a virtual-key code and HOTKEYF_ flags, as the platform's
// hotkey control reported them, so the editor converts them exactly as before.
#include "ui/hotkey_edit.h"

#include "desktop/qt_key_map.h"
#include "ui/dialog_support.h"

#include <QKeyEvent>

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
    const VirtualKey vk = QtKeyToVirtualKey(*e, m_layout);
    if (vk.nKey <= 0 || vk.nKey > 0xFF) {
        ShowText(m_bKey, m_bFlags);
        return;
    }
    // The extended flag comes along as the platform's control gave it; the editor drops it.
    SetHotKey(static_cast<std::uint16_t>(vk.nKey),
              static_cast<std::uint16_t>(flags | (vk.bExtended ? HOTKEYF_EXT : 0)));
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
