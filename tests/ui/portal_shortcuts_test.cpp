// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys through the GlobalShortcuts portal, against a fake portal on a private bus that
// records what is bound and sends activations as the desktop would.
#include "dialog_test_app.h"
#include "private_bus.h"

#include "desktop/global_hotkeys.h"
#include "desktop/portal_shortcuts.h"
#include "input/hotkey.h"
#include "tests/support/test_support.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

#include <gtest/gtest.h>

#include <map>

using Shortcuts = QList<QPair<QString, QVariantMap>>;

// The registry of newer portals: which connections named their application.
class FakeRegistry : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.host.portal.Registry")
public:
    explicit FakeRegistry(QObject* portal) : QDBusAbstractAdaptor(portal) {}
    std::map<QString, QString> m_apps; // by connection
public slots:
    void Register(const QString& app, const QVariantMap&);
};

class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    // `registry`: a portal of 1.21 or later, which serves only a registered program.
    FakePortal(QDBusConnection bus, bool registry)
        : m_bus(bus), m_pRegistry(registry ? new FakeRegistry(this) : nullptr) {}
    uint version() const { return 1; }
    bool m_bRefuse = false; // as a portal the user or its policy says no through

    QStringList m_assigned; // what the user gave keys in the desktop's settings
    QStringList m_boundIds;
    QStringList m_triggers;
    QString m_session;
    int m_nSessions = 0;

    void Send(const char* name, const QString& id) {
        QDBusMessage signal = QDBusMessage::createSignal(
            "/org/freedesktop/portal/desktop", "org.freedesktop.portal.GlobalShortcuts", name);
        signal << QVariant::fromValue(QDBusObjectPath(m_session)) << id << qulonglong(1)
               << QVariantMap();
        m_bus.send(signal);
    }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options) {
        if (m_bRefuse ||
            (m_pRegistry && m_pRegistry->m_apps[message().service()] != "org.otomaru.Otomaru")) {
            sendErrorReply("org.freedesktop.portal.Error.NotAllowed", "An app id is required");
            return {};
        }
        const QString token = options.value("handle_token").toString();
        m_session = "/org/freedesktop/portal/desktop/session/x/" +
                    options.value("session_handle_token").toString();
        ++m_nSessions;
        const QString request = Respond(token, {{"session_handle", m_session}});
        return QDBusObjectPath(request);
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath&, const Shortcuts& shortcuts,
                                  const QString&, const QVariantMap& options) {
        m_boundIds.clear();
        m_triggers.clear();
        Shortcuts answer;
        for (const auto& [id, props] : shortcuts) {
            m_boundIds << id;
            m_triggers << props.value("preferred_trigger").toString();
            answer.append({id, {{"trigger_description", m_assigned.contains(id) ? "F9" : ""}}});
        }
        return QDBusObjectPath(Respond(options.value("handle_token").toString(),
                                       {{"shortcuts", QVariant::fromValue(answer)}}));
    }

private:
    QString Respond(const QString& token, const QVariantMap& results) {
        QString sender = message().service().mid(1).replace('.', '_');
        const QString path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
        QDBusMessage response =
            QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
        response << uint(0) << results;
        m_bus.send(response);
        return path;
    }
    QDBusConnection m_bus;

public:
    FakeRegistry* const m_pRegistry;
    // Qt gives the call's context to the object, not to its adaptor.
    QString Caller() const { return calledFromDBus() ? message().service() : QString(); }
};

void FakeRegistry::Register(const QString& app, const QVariantMap&) {
    m_apps[static_cast<FakePortal*>(parent())->Caller()] = app;
}

// The fake on a connection of its own, as the portal's service, while it lives.
struct PortalOnBus {
    explicit PortalOnBus(bool registry)
        : bus(QDBusConnection::connectToBus(QString::fromLatin1(PrivateBus::Address()),
                                            "fake-portal")),
          fake(bus, registry) {
        bus.registerObject("/org/freedesktop/portal/desktop", &fake,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                               QDBusConnection::ExportAdaptors);
        serving = bus.registerService("org.freedesktop.portal.Desktop");
    }
    ~PortalOnBus() {
        bus.unregisterService("org.freedesktop.portal.Desktop");
        bus.unregisterObject("/org/freedesktop/portal/desktop");
        QDBusConnection::disconnectFromBus("fake-portal");
    }
    QDBusConnection bus;
    FakePortal fake;
    bool serving = false;
};

std::vector<WayHotkey> WayOf(const std::vector<GlobalHotkey>& hotkeys) {
    std::vector<WayHotkey> way;
    for (const GlobalHotkey& hotkey : hotkeys)
        way.push_back({hotkey, "", ""});
    return way;
}

namespace {

class PortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateBus::Start())
            GTEST_SKIP() << "no dbus-daemon";
        EnsureDialogTestApp();
        qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
        qDBusRegisterMetaType<Shortcuts>();
        qRegisterMetaType<Shortcuts>("Shortcuts"); // the fake's slot names the type so
    }
    // Every press and release the matching would see: the message and the keys held.
    std::function<bool(unsigned, const std::uint8_t*)> Recorder() {
        return [this](unsigned message, const std::uint8_t* state) {
            std::string held;
            for (int k : {0x10, 0x11, 0x12, 0x31, 0x70})
                if (state[k] & 0x80)
                    held += std::to_string(k) + " ";
            m_seen.push_back((message == 0x0100 ? "down " : "up ") + held);
            return false;
        };
    }
    std::vector<std::string> m_seen;
};

TEST_F(PortalTest, BindsTheHotkeysAndFeedsActivationsToTheMatching) {
    PortalOnBus onBus(true);
    ASSERT_TRUE(onBus.serving);
    FakePortal& fake = onBus.fake;

    CKeyFilter keys(nullptr, Recorder(), {});
    CPortalShortcuts portal(keys, {}, QDBusConnection::sessionBus(), "otomaru_test");
    std::vector<std::vector<GlobalHotkey>> untriggered;
    QObject::connect(&portal, &CPortalShortcuts::Bound, &portal,
                     [&](const std::vector<GlobalHotkey>& u) { untriggered.push_back(u); });
    bool available = false, answered = false;
    portal.Probe([&](bool a) { available = a, answered = true; });
    ASSERT_TRUE(SpinUntil([&] { return answered; }));
    EXPECT_TRUE(available);

    const std::vector<GlobalHotkey> hotkeys = {{0x31, 0}, {0x70, MOD_CODE_CTRL | MOD_CODE_SHIFT}};
    fake.m_assigned = {ShortcutId(hotkeys[1])};
    portal.SetHotkeys(WayOf(hotkeys));
    ASSERT_TRUE(SpinUntil([&] { return untriggered.size() == 1; }));
    EXPECT_EQ(fake.m_boundIds.size(), 2);
    EXPECT_EQ(fake.m_triggers, QStringList({"1", "CTRL+SHIFT+F1"}));
    EXPECT_EQ(portal.SessionHandle(), fake.m_session);
    EXPECT_EQ(untriggered[0], std::vector<GlobalHotkey>{hotkeys[0]});

    // A press and a release of Ctrl+Shift+F1 on the desktop: the hotkey's keys down, then up.
    fake.Send("Activated", fake.m_boundIds[1]);
    fake.Send("Deactivated", fake.m_boundIds[1]);
    fake.Send("Activated", "not-ours");
    ASSERT_TRUE(SpinUntil([&] { return m_seen.size() >= 2; }));
    SpinUntil([] { return false; }, 100);
    EXPECT_EQ(m_seen, (std::vector<std::string>{"down 16 17 112 ", "up 16 17 "}));

    // The same hotkeys again bind nothing new; changed ones get a session of their own, under
    // the same token, so the desktop's record of the keys carries over.
    portal.SetHotkeys(WayOf(hotkeys));
    SpinUntil([] { return false; }, 100);
    EXPECT_EQ(fake.m_nSessions, 1);
    const QString session = fake.m_session;
    portal.SetHotkeys(WayOf({hotkeys[1]}));
    ASSERT_TRUE(SpinUntil([&] { return untriggered.size() == 2; }));
    EXPECT_EQ(fake.m_nSessions, 2);
    EXPECT_EQ(fake.m_session, session);
    EXPECT_TRUE(session.endsWith("/otomaru_test"));
    EXPECT_TRUE(untriggered[1].empty());

    // Rebinding leaves no match rules behind on the bus.
    const auto matchRules = [] {
        QDBusMessage call = QDBusMessage::createMethodCall(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Debug.Stats",
            "GetConnectionStats");
        call << QDBusConnection::sessionBus().baseService();
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return -1;
        return qdbus_cast<QVariantMap>(reply.arguments().value(0)).value("MatchRules").toInt();
    };
    const int rules = matchRules();
    ASSERT_GT(rules, 0);
    for (int i = 0; i < 1000; ++i) {
        portal.SetHotkeys(WayOf(i % 2 ? std::vector<GlobalHotkey>{{0x31, 0}} : hotkeys));
        ASSERT_TRUE(SpinUntil([&] { return fake.m_boundIds.size() == (i % 2 ? 1u : 2u); }));
    }
    SpinUntil([] { return false; }, 100); // the last answer in
    EXPECT_LE(matchRules(), rules);
    EXPECT_EQ(fake.m_pRegistry->m_apps.size(), 1u);
}

// A portal without the registry serves us all the same; a refused session names every hotkey.
TEST_F(PortalTest, OldPortalsBindAndRefusalsAreReported) {
    const std::vector<GlobalHotkey> hotkeys = {{0x31, 0}, {0x70, MOD_CODE_CTRL}};
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse);
        PortalOnBus onBus(false);
        ASSERT_TRUE(onBus.serving);
        onBus.fake.m_bRefuse = refuse;
        CKeyFilter keys(nullptr, Recorder(), {});
        CPortalShortcuts portal(keys, {}, QDBusConnection::sessionBus(), "otomaru_test");
        bool bound = false;
        std::vector<GlobalHotkey> taken;
        QObject::connect(&portal, &CPortalShortcuts::Bound, &portal, [&] { bound = true; });
        QObject::connect(&portal, &CHotkeyWay::Taken, &portal,
                         [&](const std::vector<GlobalHotkey>& t) { taken = t; });
        portal.SetHotkeys(WayOf(hotkeys));
        ASSERT_TRUE(SpinUntil([&] { return bound || !taken.empty(); }));
        EXPECT_EQ(bound, !refuse);
        EXPECT_EQ(taken, refuse ? hotkeys : std::vector<GlobalHotkey>{});
    }
}

// Nothing on the bus: Wayland with no way found, or a way asked for by name and missing.
TEST_F(PortalTest, WithoutTheServiceTheSwitchExplainsTheCommandAndGoesOff) {
    for (const char* forced : {"", "portal", "kglobalaccel"}) {
        SCOPED_TRACE(forced);
        MessageRecorder messages;
        qputenv("WAYLAND_DISPLAY", "wayland-test");
        qputenv("OTOMARU_GLOBAL_HOTKEYS", forced);
        CKeyFilter keys(nullptr, Recorder(), {});
        CGlobalHotkeys hotkeys(keys, {});
        bool off = false;
        QObject::connect(&hotkeys, &CGlobalHotkeys::Unavailable, [&] { off = true; });
        hotkeys.SetEnabled(true, true);
        ASSERT_TRUE(SpinUntil([&] { return off; }));
        qunsetenv("WAYLAND_DISPLAY");
        qunsetenv("OTOMARU_GLOBAL_HOTKEYS");
        EXPECT_FALSE(hotkeys.Enabled());
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_NE(messages.Messages()[0].text.find(Sj("otomaru --play")), std::string::npos);
    }
}

} // namespace

#include "portal_shortcuts_test.moc"
