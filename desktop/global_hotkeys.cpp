// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/global_hotkeys.h"
#include "desktop/texts.h"

#include "base/message.h"
#include "base/text.h"
#include "desktop/portal_shortcuts.h"
#include "desktop/x11_hotkey_grabber.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace {

std::string TextUntriggered(const QString& component) {
    return Cp932FromUtf8(std::string(texts::kUntriggeredBefore) + component.toStdString() +
                         std::string(texts::kUntriggeredAfter));
}

} // namespace

CGlobalHotkeys::Desktop CGlobalHotkeys::DesktopOf(const std::string& platform,
                                                  const std::string& sessionType,
                                                  bool waylandDisplay, bool portalChosen) {
    // On a Wayland session an X11 grab sees only other X11 programs' keys: the portal is the way.
    const bool wayland =
        platform.rfind("wayland", 0) == 0 || sessionType == "wayland" || waylandDisplay;
    if (wayland || portalChosen)
        return Desktop::Portal;
    if (platform == "xcb")
        return Desktop::X11;
    return Desktop::Other;
}

CGlobalHotkeys::CGlobalHotkeys(CKeyFilter& keys, CKeyFilter::LayoutFn layout, QObject* parent)
    : QObject(parent), m_keys(keys), m_layout(std::move(layout)),
      m_bPortalChosen(qEnvironmentVariable("OTOMARU_GLOBAL_HOTKEYS") == QLatin1String("portal")) {}

CGlobalHotkeys::~CGlobalHotkeys() = default;

void CGlobalHotkeys::SetEnabled(bool on) {
    if (on == m_bEnabled)
        return;
    m_bEnabled = on;
    m_reported.clear();
    if (!on) {
        m_pGrabber.reset();
        m_pPortal.reset();
        m_bPortalProbed = false;
        return;
    }
    const Desktop desktop =
        DesktopOf(QGuiApplication::platformName().toStdString(),
                  qEnvironmentVariable("XDG_SESSION_TYPE").toStdString(),
                  !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"), m_bPortalChosen);
    if (desktop == Desktop::X11 && CX11HotkeyGrabber::Available()) {
        m_pGrabber = std::make_unique<CX11HotkeyGrabber>(m_keys, m_layout);
    } else if (desktop == Desktop::Portal) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        m_pPortal = std::make_unique<CPortalShortcuts>(
            m_keys, m_layout, bus, CPortalShortcuts::SessionTokenOf(m_strFolder));
        connect(m_pPortal.get(), &CPortalShortcuts::Bound, this,
                &CGlobalHotkeys::ReportUntriggered);
        m_pPortal->Probe([this](bool available) {
            m_bPortalProbed = true;
            if (!available) {
                // The answer's watcher belongs to the portal object: it goes once the answer is
                // out.
                m_pPortal.release()->deleteLater();
                m_bEnabled = false;
                AfxMessageBox(Cp932FromUtf8(texts::kNoGlobalHotkeys), MB_ICONEXCLAMATION);
                emit Unavailable();
                return;
            }
            Apply();
        });
        return;
    }
    Apply();
}

void CGlobalHotkeys::SetTable(const EffectTable& table) {
    m_hotkeys = GlobalHotkeysOf(table);
    Apply();
}

void CGlobalHotkeys::Apply() {
    if (!m_bEnabled)
        return;
    if (m_pGrabber) {
        std::vector<GlobalHotkey> taken = m_pGrabber->SetHotkeys(m_hotkeys);
        for (const GlobalHotkey& hotkey : m_hotkeys)
            if (IsReservedHotkey(hotkey))
                taken.push_back(hotkey);
        ReportTaken(taken);
    } else if (m_pPortal && m_bPortalProbed) {
        m_pPortal->SetHotkeys(m_hotkeys);
    }
}

void CGlobalHotkeys::ReportTaken(const std::vector<GlobalHotkey>& taken) {
    std::string names;
    const HKL layout = m_layout ? m_layout() : nullptr;
    for (const GlobalHotkey& hotkey : taken) {
        if (!m_reported.insert(hotkey).second)
            continue;
        names += "\n" + HotkeyText(hotkey.nModifiers, hotkey.nKey, layout);
    }
    if (names.empty())
        return;
    // Shown once the command that changed the table has finished.
    QMetaObject::invokeMethod(
        this,
        [text = Cp932FromUtf8(texts::kHotkeysTaken) + "\n" + names] {
            AfxMessageBox(text, MB_ICONEXCLAMATION);
        },
        Qt::QueuedConnection);
}

void CGlobalHotkeys::ReportUntriggered(const std::vector<GlobalHotkey>& untriggered) {
    if (untriggered.empty() || m_bToldUntriggered || !m_pPortal)
        return;
    m_bToldUntriggered = true;
    std::string names;
    const HKL layout = m_layout ? m_layout() : nullptr;
    for (const GlobalHotkey& hotkey : untriggered)
        names += "\n" + HotkeyText(hotkey.nModifiers, hotkey.nKey, layout);
    // The portal's answer is no place to wait for the user.
    QMetaObject::invokeMethod(
        this,
        [text = TextUntriggered(m_pPortal->SessionToken()) + names] {
            AfxMessageBox(text, MB_ICONEXCLAMATION);
        },
        Qt::QueuedConnection);
}
