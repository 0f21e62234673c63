// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/portal_shortcuts.h"

#include "base/text.h"
#include "desktop/texts.h"
#include "input/key_trigger.h"

#include <QCryptographicHash>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <algorithm>
#include <set>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kRegistry = QStringLiteral("org.freedesktop.host.portal.Registry");
// The installed desktop file's name, by which a portal knows the program.
const QString kAppId = QStringLiteral("org.otomaru.Otomaru");

using Shortcuts = QList<QPair<QString, QVariantMap>>;

// The trigger the portal offers the user first, in the freedesktop shortcut notation; keys
// without a plain name are left for the user to choose.
QString PreferredTrigger(const GlobalHotkey& hotkey) {
    QString key;
    if ((hotkey.nKey >= '0' && hotkey.nKey <= '9'))
        key = QChar(hotkey.nKey);
    else if (hotkey.nKey >= 'A' && hotkey.nKey <= 'Z')
        key = QChar(hotkey.nKey + 32);
    else if (hotkey.nKey >= 0x70 && hotkey.nKey <= 0x87)
        key = QStringLiteral("F%1").arg(hotkey.nKey - 0x70 + 1);
    else
        return {};
    QString trigger;
    if (hotkey.nModifiers & MOD_CODE_CTRL)
        trigger += QStringLiteral("CTRL+");
    if (hotkey.nModifiers & MOD_CODE_ALT)
        trigger += QStringLiteral("ALT+");
    if (hotkey.nModifiers & MOD_CODE_SHIFT)
        trigger += QStringLiteral("SHIFT+");
    return trigger + key;
}

} // namespace

CPortalShortcuts::CPortalShortcuts(CKeyFilter& keys, CKeyFilter::LayoutFn layout,
                                   const QDBusConnection& bus, QString sessionToken,
                                   QObject* parent)
    : CHotkeyWay(parent), m_bus(bus), m_keys(keys), m_layout(std::move(layout)),
      m_strSessionToken(std::move(sessionToken)) {
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<Shortcuts>();
    // Taken as whole messages: Qt 6.4 never called the typed slots of these signals.
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                  SLOT(OnActivated(QDBusMessage)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("Deactivated"), this,
                  SLOT(OnDeactivated(QDBusMessage)));
}

CPortalShortcuts::~CPortalShortcuts() {
    CloseSession();
}

// Derived from the folder rather than stored in Otomaru.ini: nothing is written to learn it, it
// survives a lost or read-only ini, and two installations never share one.
QString CPortalShortcuts::SessionTokenOf(const std::string& folder) {
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha1);
    return QStringLiteral("otomaru_") + QString::fromLatin1(hash.toHex().left(16));
}

void CPortalShortcuts::AskVersion(const QDBusConnection& bus, QObject* context,
                                  std::function<void(unsigned)> answer) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection(bus).asyncCall(get), context);
    connect(watcher, &QDBusPendingCallWatcher::finished, context,
            [watcher, answer = std::move(answer)] {
                watcher->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *watcher;
                answer(reply.isError() ? 0u : std::max(1u, reply.value().variant().toUInt()));
            });
}

void CPortalShortcuts::Probe(std::function<void(bool)> done) {
    AskVersion(m_bus, this, [done = std::move(done)](unsigned version) { done(version > 0); });
}

QString CPortalShortcuts::NextToken() {
    return QStringLiteral("otomaru%1").arg(++m_nToken);
}

QString CPortalShortcuts::RequestPath(const QString& token) const {
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

std::string CPortalShortcuts::Description() const {
    return std::string(texts::kPortalWhereBefore) + m_strSessionToken.toStdString() +
           std::string(texts::kPortalWhereAfter);
}

void CPortalShortcuts::SetHotkeys(const std::vector<WayHotkey>& wayHotkeys) {
    std::vector<GlobalHotkey> hotkeys;
    for (const WayHotkey& hotkey : wayHotkeys)
        hotkeys.push_back(hotkey.key);
    if (hotkeys == m_hotkeys && (!m_strSession.isEmpty() || m_bCreating))
        return;
    m_hotkeys = hotkeys;
    if (m_bCreating)
        return; // the coming session binds these
    if (m_hotkeys.empty()) {
        CloseSession(); // a session of nothing would only send the user to the settings
        return;
    }
    m_bCreating = true;
    // A session binds its shortcuts once: changed ones need a session of their own. It has the
    // old one's path, so it is asked for once the old one is gone.
    if (m_strSession.isEmpty()) {
        Register();
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(CloseSession(), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        CreateSession();
    });
}

void CPortalShortcuts::Register() {
    if (m_bRegistered) {
        CreateSession();
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kRegistry, QStringLiteral("Register"));
    call << kAppId << QVariantMap();
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        // A portal without the registry (1.16 and older) serves us without it; any other
        // refusal shows in the session's answer.
        m_bRegistered = true;
        CreateSession();
    });
}

void CPortalShortcuts::CreateSession() {
    const QString token = NextToken();
    Await(m_strSessionRequest, token, SLOT(OnSessionResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("CreateSession"));
    call << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), m_strSessionToken}};
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        if (watcher->isError()) {
            StopAwaiting(m_strSessionRequest, SLOT(OnSessionResponse(uint, QVariantMap)));
            Refused();
        }
    });
}

void CPortalShortcuts::Refused() {
    m_bCreating = false;
    std::vector<GlobalHotkey> refused;
    for (const GlobalHotkey& hotkey : m_hotkeys)
        if (!IsReservedHotkey(hotkey))
            refused.push_back(hotkey);
    emit Taken(refused);
}

void CPortalShortcuts::Await(QString& path, const QString& token, const char* slot) {
    StopAwaiting(path, slot);
    path = RequestPath(token);
    // Listened to before asking: the answer may come before the call returns.
    m_bus.connect(kService, path, kRequest, QStringLiteral("Response"), this, slot);
}

void CPortalShortcuts::StopAwaiting(QString& path, const char* slot) {
    if (path.isEmpty())
        return;
    m_bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), this, slot);
    path.clear();
}

void CPortalShortcuts::OnSessionResponse(uint response, const QVariantMap& results) {
    StopAwaiting(m_strSessionRequest, SLOT(OnSessionResponse(uint, QVariantMap)));
    if (response != 0) {
        Refused();
        return;
    }
    m_bCreating = false;
    QVariant handle = results.value(QStringLiteral("session_handle"));
    m_strSession = handle.canConvert<QDBusObjectPath>() && handle.userType() != QMetaType::QString
                       ? handle.value<QDBusObjectPath>().path()
                       : handle.toString();
    Bind();
}

void CPortalShortcuts::Bind() {
    if (m_strSession.isEmpty())
        return;
    Shortcuts shortcuts;
    const HKL layout = m_layout ? m_layout() : nullptr;
    for (const GlobalHotkey& hotkey : m_hotkeys) {
        if (IsReservedHotkey(hotkey))
            continue;
        QVariantMap options{{QStringLiteral("description"),
                             QString::fromStdString(Utf8FromCp932(
                                 HotkeyText(hotkey.nModifiers, hotkey.nKey, layout)))}};
        const QString trigger = PreferredTrigger(hotkey);
        if (!trigger.isEmpty())
            options.insert(QStringLiteral("preferred_trigger"), trigger);
        shortcuts.append({ShortcutId(hotkey), options});
    }
    Await(m_strBindRequest, NextToken(), SLOT(OnBindResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(m_strSession)) << QVariant::fromValue(shortcuts)
         << QString()
         << QVariantMap{{QStringLiteral("handle_token"), m_strBindRequest.section('/', -1)}};
    m_bus.asyncCall(call);
}

void CPortalShortcuts::OnBindResponse(uint response, const QVariantMap& results) {
    StopAwaiting(m_strBindRequest, SLOT(OnBindResponse(uint, QVariantMap)));
    // The user may have chosen other triggers than ours; activations say what was pressed.
    std::set<QString> triggered;
    if (response == 0) {
        for (const auto& [id, props] :
             qdbus_cast<Shortcuts>(results.value(QStringLiteral("shortcuts"))))
            if (!props.value(QStringLiteral("trigger_description")).toString().isEmpty())
                triggered.insert(id);
    }
    std::vector<GlobalHotkey> untriggered;
    for (const GlobalHotkey& hotkey : m_hotkeys)
        if (!IsReservedHotkey(hotkey) && !triggered.count(ShortcutId(hotkey)))
            untriggered.push_back(hotkey);
    emit Bound(untriggered);
}

QDBusPendingCall CPortalShortcuts::CloseSession() {
    if (m_strSession.isEmpty())
        return QDBusPendingCall::fromCompletedCall(QDBusMessage());
    QDBusPendingCall closed = m_bus.asyncCall(QDBusMessage::createMethodCall(
        kService, m_strSession, QStringLiteral("org.freedesktop.portal.Session"),
        QStringLiteral("Close")));
    m_strSession.clear();
    return closed;
}

bool CPortalShortcuts::OurHotkey(const QDBusMessage& signal, GlobalHotkey& hotkey) const {
    const QVariantList args = signal.arguments();
    if (args.size() < 2 || m_strSession.isEmpty())
        return false;
    return args[0].value<QDBusObjectPath>().path() == m_strSession &&
           HotkeyOfShortcutId(args[1].toString(), hotkey);
}

void CPortalShortcuts::OnActivated(const QDBusMessage& signal) {
    GlobalHotkey hotkey;
    if (!OurHotkey(signal, hotkey))
        return;
    m_keys.FeedGlobal(true, hotkey.nKey, ShortcutKeyCode(hotkey), hotkey.nModifiers);
}

void CPortalShortcuts::OnDeactivated(const QDBusMessage& signal) {
    GlobalHotkey hotkey;
    if (!OurHotkey(signal, hotkey))
        return;
    m_keys.FeedGlobal(false, hotkey.nKey, ShortcutKeyCode(hotkey), hotkey.nModifiers);
}
