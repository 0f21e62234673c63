// SPDX-License-Identifier: GPL-3.0-or-later
// One way of taking hotkeys from the desktop (X11 grabs, kglobalaccel, the portal, GNOME's
// custom shortcuts, sway's or Hyprland's bindings). The switch owns one at a time; its
// destructor gives back everything it took.
#pragma once

#include "desktop/global_hotkey.h"
#include "input/hotkey.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class HotkeyWayKind { X11, KGlobalAccel, Portal, Gnome, Sway, Hyprland, None };

struct WayHotkey {
    GlobalHotkey key;
    std::string strText; // as the hotkey column shows it, UTF-8 ("Ctrl + F1")
    std::string strName; // the first effect with it, UTF-8
    bool operator==(const WayHotkey&) const = default;
};

// Each distinct hotkey of the table once, in table order; effects without a hotkey have none.
std::vector<WayHotkey> WayHotkeysOf(const EffectTable& table, HKL layout);

// The name a desktop service knows a hotkey's shortcut by, and back.
QString ShortcutId(const GlobalHotkey& hotkey);
bool HotkeyOfShortcutId(const QString& id, GlobalHotkey& hotkey);
// The physical key the key filter is told a shortcut's press came from: one of its own, out of
// the X11 keycodes' range, so its release matches its press alone.
std::uint32_t ShortcutKeyCode(const GlobalHotkey& hotkey);

class CHotkeyWay : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Whether the way works here (it may ask the bus or the user); `done` is called once, now
    // or later, and not after the way is gone.
    virtual void Probe(std::function<void(bool available)> done) { done(true); }
    // After a Probe that answered false: the user said no, so there is nothing to explain.
    virtual bool Declined() const { return false; }
    // Takes exactly these, giving back what it took before that is not among them.
    virtual void SetHotkeys(const std::vector<WayHotkey>& hotkeys) = 0;
    // What the box at switch-on says of this way (UTF-8): where a key is seen or changed.
    virtual std::string Description() const = 0;

signals:
    // Hotkeys that do not work outside the window: refused, or held by another program.
    void Taken(const std::vector<GlobalHotkey>& hotkeys);
};
