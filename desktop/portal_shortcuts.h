// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys through the desktop portal's GlobalShortcuts interface (GNOME 48, Plasma 6 and
// others). Each distinct hotkey is one shortcut; its activation and deactivation are fed
// through the same key-state table and matching as a focused press and release.
#pragma once

#include "desktop/hotkey_way.h"
#include "desktop/key_filter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QObject>
#include <QVariantMap>

#include <functional>
#include <vector>

class CPortalShortcuts : public CHotkeyWay {
    Q_OBJECT
public:
    // `sessionToken` names the session, and so the desktop's record of the keys the user assigned.
    CPortalShortcuts(CKeyFilter& keys, CKeyFilter::LayoutFn layout, const QDBusConnection& bus,
                     QString sessionToken, QObject* parent = nullptr);
    ~CPortalShortcuts() override;

    // The version of the interface the portal on `bus` offers (0 = none), told to `answer`
    // later, unless `context` is gone by then.
    static void AskVersion(const QDBusConnection& bus, QObject* context,
                           std::function<void(unsigned version)> answer);
    // Asks the bus whether the portal offers the interface; `done` is called once, later.
    void Probe(std::function<void(bool available)> done) override;
    // Binds these in a session of their own (made at the first call, made anew when they
    // change: a session binds once). A refused session reports them all taken.
    void SetHotkeys(const std::vector<WayHotkey>& hotkeys) override;
    std::string Description() const override;
    const QString& SessionHandle() const { return m_strSession; }
    const QString& SessionToken() const { return m_strSessionToken; }

    // The session token of the installation in `folder`: the same at every start and edit.
    static QString SessionTokenOf(const std::string& folder);

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
    // Newer portals serve a program outside a sandbox only once it has named its desktop file.
    void Register();
    void CreateSession();
    void Refused();
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
    bool m_bRegistered = false;
    int m_nToken = 0;
};
