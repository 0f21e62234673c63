// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/global_hotkeys.h"
#include "desktop/texts.h"

#include "base/message.h"
#include "base/text.h"
#include "desktop/gnome_keybindings.h"
#include "desktop/kglobalaccel_shortcuts.h"
#include "desktop/play_key_command.h"
#include "desktop/portal_shortcuts.h"
#include "desktop/sway_bindings.h"
#include "desktop/x11_hotkey_grabber.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>

#include <algorithm>
#include <utility>

namespace {

constexpr std::pair<std::string_view, HotkeyWayKind> kForced[] = {
    {"x11", HotkeyWayKind::X11},       {"kglobalaccel", HotkeyWayKind::KGlobalAccel},
    {"portal", HotkeyWayKind::Portal}, {"gnome", HotkeyWayKind::Gnome},
    {"sway", HotkeyWayKind::Sway},     {"hyprland", HotkeyWayKind::Hyprland},
};

bool Forced(const SessionFacts& facts) {
    return std::any_of(std::begin(kForced), std::end(kForced),
                       [&](const auto& forced) { return facts.forced == forced.first; });
}

// On a Wayland session an X11 grab sees only other X11 programs' keys.
bool Wayland(const SessionFacts& facts) {
    return facts.platform.rfind("wayland", 0) == 0 || facts.sessionType == "wayland" ||
           facts.waylandDisplay;
}

// $XDG_CURRENT_DESKTOP is a list ("ubuntu:GNOME"); names are matched whatever their case.
bool OnDesktop(const SessionFacts& facts, std::string_view name) {
    const QStringList names = QString::fromStdString(facts.currentDesktop).split(QLatin1Char(':'));
    return names.contains(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())),
                          Qt::CaseInsensitive);
}

bool SwayOrHyprland(const SessionFacts& facts) {
    return facts.swaySock || facts.hyprland || OnDesktop(facts, "sway") ||
           OnDesktop(facts, "Hyprland");
}

SessionFacts FactsOfEnvironment() {
    SessionFacts facts;
    facts.platform = QGuiApplication::platformName().toStdString();
    facts.sessionType = qEnvironmentVariable("XDG_SESSION_TYPE").toStdString();
    facts.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toStdString();
    facts.forced = qEnvironmentVariable("OTOMARU_GLOBAL_HOTKEYS").toStdString();
    facts.waylandDisplay = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    facts.swaySock = !qEnvironmentVariableIsEmpty("SWAYSOCK");
    facts.hyprland = !qEnvironmentVariableIsEmpty("HYPRLAND_INSTANCE_SIGNATURE");
    return facts;
}

std::string NamesOf(const std::vector<GlobalHotkey>& hotkeys, HKL layout) {
    std::string names;
    for (const GlobalHotkey& hotkey : hotkeys)
        names += "\n" + HotkeyText(hotkey.nModifiers, hotkey.nKey, layout);
    return names;
}

// Shown once the command at hand has finished: a box is no place to wait in for the user.
void QueueBox(QObject* context, std::string text, unsigned type) {
    QMetaObject::invokeMethod(
        context, [text = std::move(text), type] { AfxMessageBox(text, type); },
        Qt::QueuedConnection);
}

} // namespace

HotkeyWayKind CGlobalHotkeys::ChooseWay(const SessionFacts& facts) {
    for (const auto& [name, kind] : kForced)
        if (facts.forced == name)
            return kind;
    if (!Wayland(facts))
        return facts.platform == "xcb" ? HotkeyWayKind::X11 : HotkeyWayKind::None;
    if (facts.swaySock || OnDesktop(facts, "sway"))
        return HotkeyWayKind::Sway;
    if (facts.hyprland || OnDesktop(facts, "Hyprland"))
        return HotkeyWayKind::Hyprland;
    // KDE's own service sets the keys at once; its portal leaves every key to the user.
    if (facts.kglobalaccel && OnDesktop(facts, "KDE"))
        return HotkeyWayKind::KGlobalAccel;
    if (facts.portalVersion > 0)
        return HotkeyWayKind::Portal;
    if (OnDesktop(facts, "GNOME"))
        return HotkeyWayKind::Gnome;
    return HotkeyWayKind::None;
}

bool CGlobalHotkeys::NeedsBus(const SessionFacts& facts) {
    return !Forced(facts) && Wayland(facts) && !SwayOrHyprland(facts);
}

CGlobalHotkeys::CGlobalHotkeys(CKeyFilter& keys, CKeyFilter::LayoutFn layout, QObject* parent)
    : QObject(parent), m_keys(keys), m_layout(std::move(layout)) {}

CGlobalHotkeys::~CGlobalHotkeys() = default;

CX11HotkeyGrabber* CGlobalHotkeys::Grabber() const {
    return qobject_cast<CX11HotkeyGrabber*>(m_pWay.get());
}

CPortalShortcuts* CGlobalHotkeys::Portal() const {
    return qobject_cast<CPortalShortcuts*>(m_pWay.get());
}

void CGlobalHotkeys::SetEnabled(bool on, bool tell) {
    if (on == m_bEnabled)
        return;
    m_bEnabled = on;
    ++m_nStart;
    m_reported.clear();
    m_pWay.reset();
    m_bProbed = false;
    if (!on)
        return;
    SessionFacts facts = FactsOfEnvironment();
    if (!NeedsBus(facts)) {
        const HotkeyWayKind kind = ChooseWay(facts);
        // A platform with no desktop (offscreen) has nothing to give and nothing to say.
        if (kind != HotkeyWayKind::None || Wayland(facts))
            Start(kind, tell);
        return;
    }
    // Two questions to the bus, asked together; the way is chosen once both are answered.
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage owner = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    owner << QStringLiteral("org.kde.kglobalaccel");
    struct Asking {
        SessionFacts facts;
        int pending = 2;
    };
    auto asking = std::make_shared<Asking>(Asking{std::move(facts)});
    const auto answered = [this, asking, start = m_nStart, tell] {
        if (--asking->pending == 0 && start == m_nStart)
            Start(ChooseWay(asking->facts), tell);
    };
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(owner), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, asking, answered] {
        watcher->deleteLater();
        const QDBusPendingReply<bool> reply = *watcher;
        asking->facts.kglobalaccel = !reply.isError() && reply.value();
        answered();
    });
    CPortalShortcuts::AskVersion(bus, this, [asking, answered](unsigned version) {
        asking->facts.portalVersion = version;
        answered();
    });
}

std::unique_ptr<CHotkeyWay> CGlobalHotkeys::MakeWay(HotkeyWayKind kind, bool tell) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    switch (kind) {
    case HotkeyWayKind::X11:
        if (CX11HotkeyGrabber::Available())
            return std::make_unique<CX11HotkeyGrabber>(m_keys, m_layout);
        return nullptr;
    case HotkeyWayKind::KGlobalAccel:
        return std::make_unique<CKGlobalAccelShortcuts>(m_keys, m_layout, bus);
    case HotkeyWayKind::Portal: {
        auto portal = std::make_unique<CPortalShortcuts>(
            m_keys, m_layout, bus, CPortalShortcuts::SessionTokenOf(m_strFolder));
        connect(portal.get(), &CPortalShortcuts::Bound, this, &CGlobalHotkeys::ReportUntriggered);
        return portal;
    }
    case HotkeyWayKind::Gnome: {
        // Asked once, when the user switches it on; at start the answer stands.
        CGnomeKeybindings::AskFn ask;
        if (tell)
            ask = [](const std::string& question) {
                return AfxMessageBox(Cp932FromUtf8(question), MB_YESNO) == IDYES;
            };
        return std::make_unique<CGnomeKeybindings>(RunningExecutable(), m_layout, std::move(ask));
    }
    case HotkeyWayKind::Sway:
        return std::make_unique<CSwayBindings>(CSwayBindings::Compositor::Sway, RunningExecutable(),
                                               m_layout);
    case HotkeyWayKind::Hyprland:
        return std::make_unique<CSwayBindings>(CSwayBindings::Compositor::Hyprland,
                                               RunningExecutable(), m_layout);
    case HotkeyWayKind::None:
        break;
    }
    return nullptr;
}

void CGlobalHotkeys::Start(HotkeyWayKind kind, bool tell) {
    m_kind = kind;
    m_pWay = MakeWay(kind, tell);
    if (!m_pWay) {
        GiveUp();
        return;
    }
    connect(m_pWay.get(), &CHotkeyWay::Taken, this, &CGlobalHotkeys::ReportTaken);
    m_pWay->Probe([this, start = m_nStart, tell](bool available) {
        if (start != m_nStart)
            return;
        if (!available) {
            const bool declined = m_pWay->Declined();
            // The answer's watcher belongs to the way: it goes once the answer is out.
            m_pWay.release()->deleteLater();
            GiveUp(declined);
            return;
        }
        m_bProbed = true;
        if (tell)
            QueueBox(this, Cp932FromUtf8(std::string(texts::kSwitchedOn) + m_pWay->Description()),
                     MB_OK);
        Apply();
    });
}

void CGlobalHotkeys::GiveUp(bool declined) {
    m_bEnabled = false;
    if (!declined)
        AfxMessageBox(Cp932FromUtf8(texts::kNoGlobalHotkeys), MB_ICONEXCLAMATION);
    emit Unavailable();
}

void CGlobalHotkeys::SetTable(const EffectTable& table) {
    m_hotkeys = WayHotkeysOf(table, m_layout ? m_layout() : nullptr);
    Apply();
}

void CGlobalHotkeys::Apply() {
    if (!m_bEnabled || !m_pWay || !m_bProbed)
        return;
    std::vector<WayHotkey> hotkeys;
    std::vector<GlobalHotkey> reserved;
    for (const WayHotkey& hotkey : m_hotkeys) {
        if (IsReservedHotkey(hotkey.key))
            reserved.push_back(hotkey.key);
        else
            hotkeys.push_back(hotkey);
    }
    ReportTaken(reserved);
    m_pWay->SetHotkeys(hotkeys);
}

void CGlobalHotkeys::ReportTaken(const std::vector<GlobalHotkey>& taken) {
    std::vector<GlobalHotkey> fresh;
    for (const GlobalHotkey& hotkey : taken)
        if (m_reported.insert(hotkey).second)
            fresh.push_back(hotkey);
    if (fresh.empty())
        return;
    // Every report of one change goes into one box.
    const bool queued = !m_strTakenNames.empty();
    m_strTakenNames += NamesOf(fresh, m_layout ? m_layout() : nullptr);
    if (queued)
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            const std::string text = Cp932FromUtf8(texts::kHotkeysTaken) + "\n" + m_strTakenNames;
            m_strTakenNames.clear();
            AfxMessageBox(text, MB_ICONEXCLAMATION);
        },
        Qt::QueuedConnection);
}

void CGlobalHotkeys::ReportUntriggered(const std::vector<GlobalHotkey>& untriggered) {
    if (untriggered.empty() || m_bToldUntriggered || !Portal())
        return;
    m_bToldUntriggered = true;
    QueueBox(this,
             Cp932FromUtf8(std::string(texts::kUntriggeredBefore) +
                           Portal()->SessionToken().toStdString() +
                           std::string(texts::kUntriggeredAfter)) +
                 NamesOf(untriggered, m_layout ? m_layout() : nullptr),
             MB_ICONEXCLAMATION);
}
