// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys through KDE's kglobalaccel, as KDE's own programs get theirs: one component,
// one action per distinct hotkey with its key set at once. Presses and releases of an action are
// fed through the same key-state table and matching as a focused press and release.
#pragma once

#include "desktop/hotkey_way.h"
#include "desktop/key_filter.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <map>

class CKGlobalAccelShortcuts : public CHotkeyWay {
    Q_OBJECT
public:
    CKGlobalAccelShortcuts(CKeyFilter& keys, CKeyFilter::LayoutFn layout,
                           const QDBusConnection& bus, QObject* parent = nullptr);
    // Removes every action of ours: the keys go back to the desktop.
    ~CKGlobalAccelShortcuts() override;

    // Whether kglobalaccel answers; actions an earlier run left behind are taken over, to go.
    void Probe(std::function<void(bool available)> done) override;
    void SetHotkeys(const std::vector<WayHotkey>& hotkeys) override;
    std::string Description() const override;

    // The Qt key code, modifiers included, kglobalaccel takes for a hotkey (0 = none).
    static int KeyCodeOf(const GlobalHotkey& hotkey, HKL layout);

private slots:
    void OnPressed(const QDBusMessage& signal);
    void OnReleased(const QDBusMessage& signal);

private:
    void Feed(const QDBusMessage& signal, bool press);
    void Unregister(const QString& id);

    QDBusConnection m_bus;
    CKeyFilter& m_keys;
    CKeyFilter::LayoutFn m_layout;
    std::map<QString, GlobalHotkey> m_held; // by action id
};
