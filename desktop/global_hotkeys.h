// SPDX-License-Identifier: GPL-3.0-or-later
// The global-hotkey switch at work: while it is on, the open set's hotkeys are taken from the
// desktop, the way the session offers (X11 grabs, kglobalaccel, the portal...), and taken again
// whenever the table changes.
#pragma once

#include "desktop/hotkey_way.h"
#include "desktop/key_filter.h"

#include <QObject>

#include <memory>
#include <set>
#include <string>
#include <vector>

class CX11HotkeyGrabber;
class CPortalShortcuts;

// What the way is chosen by: the environment, and what the session bus offers.
struct SessionFacts {
    std::string platform;       // Qt's platform name
    std::string sessionType;    // $XDG_SESSION_TYPE
    std::string currentDesktop; // $XDG_CURRENT_DESKTOP, names joined by ':'
    std::string forced;         // $OTOMARU_GLOBAL_HOTKEYS
    bool waylandDisplay = false;
    bool swaySock = false; // $SWAYSOCK set
    bool hyprland = false; // $HYPRLAND_INSTANCE_SIGNATURE set
    bool kglobalaccel = false;
    unsigned portalVersion = 0; // of GlobalShortcuts; 0 = not offered
};

class CGlobalHotkeys : public QObject {
    Q_OBJECT
public:
    static HotkeyWayKind ChooseWay(const SessionFacts& facts);
    // Whether the choice waits for the bus's answers (only a Wayland session's does).
    static bool NeedsBus(const SessionFacts& facts);

    // Presses from outside go into `keys`, the window's own table and matching.
    CGlobalHotkeys(CKeyFilter& keys, CKeyFilter::LayoutFn layout, QObject* parent = nullptr);
    ~CGlobalHotkeys() override;

    // `tell`: the user switched it on, and learns which way is used.
    void SetEnabled(bool on, bool tell = false);
    bool Enabled() const { return m_bEnabled; }
    // The folder of the sets and Otomaru.ini: the desktop keeps the portal's keys per folder.
    void SetFolder(std::string folder) { m_strFolder = std::move(folder); }
    // The table changed (read, add, edit, delete, switch, new set).
    void SetTable(const EffectTable& table);

    HotkeyWayKind WayKind() const { return m_pWay ? m_kind : HotkeyWayKind::None; }
    CHotkeyWay* Way() const { return m_pWay.get(); }
    CX11HotkeyGrabber* Grabber() const;
    CPortalShortcuts* Portal() const;

signals:
    // The desktop gives no global hotkeys (the user has been told): the switch goes back off.
    void Unavailable();

private:
    void Start(HotkeyWayKind kind, bool tell);
    // `tell`: the user is there to be asked.
    std::unique_ptr<CHotkeyWay> MakeWay(HotkeyWayKind kind, bool tell);
    // The switch goes back off; the user is told why unless they declined.
    void GiveUp(bool declined = false);
    void Apply();
    void ReportTaken(const std::vector<GlobalHotkey>& taken);
    void ReportUntriggered(const std::vector<GlobalHotkey>& untriggered);

    CKeyFilter& m_keys;
    CKeyFilter::LayoutFn m_layout;
    bool m_bEnabled = false;
    int m_nStart = 0; // answers to an earlier switching-on are late
    std::vector<WayHotkey> m_hotkeys;
    std::set<GlobalHotkey> m_reported; // named once, whatever grabs follow
    std::string m_strTakenNames;       // for the box to come
    HotkeyWayKind m_kind = HotkeyWayKind::None;
    std::unique_ptr<CHotkeyWay> m_pWay;
    bool m_bProbed = false;
    std::string m_strFolder;
    bool m_bToldUntriggered = false; // once while the program runs
};
