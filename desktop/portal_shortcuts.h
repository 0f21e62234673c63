// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys on Wayland through the desktop portal's GlobalShortcuts interface (KDE Plasma
// 5.27 and later). Each distinct hotkey is one shortcut; its activation and deactivation are fed
// through the same key-state table and matching as a focused press and release.
#pragma once

#include "desktop/global_hotkey.h"
#include "desktop/key_filter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QObject>
#include <QVariantMap>

#include <functional>
#include <vector>

class CPortalShortcuts : public QObject {
    Q_OBJECT
public:
    // `sessionToken` names the session, and so the desktop's record of the keys the user assigned.
    CPortalShortcuts(CKeyFilter& keys, CKeyFilter::LayoutFn layout, const QDBusConnection& bus,
                     QString sessionToken, QObject* parent = nullptr);
    ~CPortalShortcuts() override;

    // Asks the bus whether the portal offers the interface; `done` is called once, later.
    void Probe(std::function<void(bool available)> done);
    // Binds these in a session of their own (made at the first call, made anew when they
    // change: a session binds once).
    void SetHotkeys(const std::vector<GlobalHotkey>& hotkeys);
    const QString& SessionHandle() const { return m_strSession; }
    const QString& SessionToken() const { return m_strSessionToken; }

    // The session token of the installation in `folder`: the same at every start and edit.
    static QString SessionTokenOf(const std::string& folder);

    // The shortcut id of a hotkey, and back.
    static QString ShortcutId(const GlobalHotkey& hotkey);
    static bool HotkeyOfShortcutId(const QString& id, GlobalHotkey& hotkey);

signals:
    // The portal's answer to a bind: the hotkeys the desktop gave no trigger (maybe none).
    void Bound(const std::vector<GlobalHotkey>& untriggered);

private slots:
    void OnActivated(const QDBusMessage& signal);
    void OnDeactivated(const QDBusMessage& signal);
    void OnSessionResponse(uint response, const QVariantMap& results);
    void OnBindResponse(uint response, const QVariantMap& results);

private:
    // The hotkey of an activation of our session's shortcut.
    bool OurHotkey(const QDBusMessage& signal, GlobalHotkey& hotkey) const;
    QString RequestPath(const QString& token) const;
    QString NextToken();
    // An answer comes as a signal on its request's own path, listened to until it has come.
    void Await(QString& path, const QString& token, const char* slot);
    void StopAwaiting(QString& path, const char* slot);
    void CreateSession();
    void Bind();
    QDBusPendingCall CloseSession();

    QDBusConnection m_bus;
    CKeyFilter& m_keys;
    CKeyFilter::LayoutFn m_layout;
    std::vector<GlobalHotkey> m_hotkeys;
    QString m_strSessionToken;
    QString m_strSession;
    QString m_strSessionRequest;
    QString m_strBindRequest;
    bool m_bCreating = false; // from the old session's closing to the new one's answer
    int m_nToken = 0;
};
