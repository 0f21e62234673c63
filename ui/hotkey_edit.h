// SPDX-License-Identifier: GPL-3.0-or-later
// The hotkey field of the effect editor. The desktop has no hotkey control, so this is our own:
// it captures one key together with Alt, Ctrl and Shift and holds it as the platform's hotkey
// control did, a virtual-key code (0-255) plus HOTKEYF_ flags; it shows the hotkey as the effect
// list does.
#pragma once

#include "input/hotkey.h"

#include <QLineEdit>

#include <cstdint>

class CHotKeyCtrl : public QLineEdit {
    Q_OBJECT
public:
    explicit CHotKeyCtrl(QWidget* parent = nullptr);

    // `flags` are HOTKEYF_ flags; only the key's low byte is kept.
    void SetHotKey(std::uint16_t wVirtualKeyCode, std::uint16_t wModifiers);
    void GetHotKey(std::uint16_t& wVirtualKeyCode, std::uint16_t& wModifiers) const;
    // The control's value: key code in the low byte, flags in the high byte.
    std::uint16_t GetHotKey() const;

    // The layout the keys are named in (null: the default naming).
    void SetKeyLayout(HKL layout);

signals:
    void hotKeyChanged();

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void ShowText(std::uint16_t key, std::uint16_t flags);

    std::uint8_t m_bKey = 0;
    std::uint8_t m_bFlags = 0;
    HKL m_layout = nullptr;
    bool m_bCaptured = false; // a key completed the combination since the modifiers went down
};
