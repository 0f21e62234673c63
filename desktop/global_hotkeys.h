// SPDX-License-Identifier: GPL-3.0-or-later
// The global-hotkey switch at work: while it is on, the open set's hotkeys are taken from the
// desktop (X11 grabs, or the Wayland portal) and grabbed again whenever the table changes.
#pragma once

#include "desktop/global_hotkey.h"
#include "desktop/key_filter.h"

#include <QObject>

#include <memory>
#include <set>
#include <string>
#include <vector>

class CX11HotkeyGrabber;
class CPortalShortcuts;

class CGlobalHotkeys : public QObject {
    Q_OBJECT
public:
    enum class Desktop { X11, Portal, Other };
    // Which way this session offers. `platform` is Qt's platform name, `sessionType` is
    // $XDG_SESSION_TYPE, `waylandDisplay` whether $WAYLAND_DISPLAY is set and `portalChosen`
    // whether $OTOMARU_GLOBAL_HOTKEYS is "portal" (the portal even on X11).
    static Desktop DesktopOf(const std::string& platform, const std::string& sessionType,
                             bool waylandDisplay, bool portalChosen);

    // Presses from outside go into `keys`, the window's own table and matching.
    CGlobalHotkeys(CKeyFilter& keys, CKeyFilter::LayoutFn layout, QObject* parent = nullptr);
    ~CGlobalHotkeys() override;

    void SetEnabled(bool on);
    bool Enabled() const { return m_bEnabled; }
    // The folder of the sets and Otomaru.ini: the desktop keeps the portal's keys per folder.
    void SetFolder(std::string folder) { m_strFolder = std::move(folder); }
    // The table changed (read, add, edit, delete, switch, new set).
    void SetTable(const EffectTable& table);

    CX11HotkeyGrabber* Grabber() const { return m_pGrabber.get(); }
    CPortalShortcuts* Portal() const { return m_pPortal.get(); }

signals:
    // The desktop gives no global hotkeys (the user has been told): the switch goes back off.
    void Unavailable();

private:
    void Apply();
    void ReportTaken(const std::vector<GlobalHotkey>& taken);
    void ReportUntriggered(const std::vector<GlobalHotkey>& untriggered);

    CKeyFilter& m_keys;
    CKeyFilter::LayoutFn m_layout;
    bool m_bEnabled = false;
    std::vector<GlobalHotkey> m_hotkeys;
    std::set<GlobalHotkey> m_reported; // named once, whatever grabs follow
    std::unique_ptr<CX11HotkeyGrabber> m_pGrabber;
    std::unique_ptr<CPortalShortcuts> m_pPortal;
    bool m_bPortalProbed = false;
    const bool m_bPortalChosen;
    std::string m_strFolder;
    bool m_bToldUntriggered = false; // once while the program runs
};
