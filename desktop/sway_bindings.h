// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys on sway and Hyprland: bindings made at run time through the compositor's own
// command (swaymsg, hyprctl) that run this executable with --play-key. They go when the hotkey
// leaves, the switch goes off or the program ends, and are made again at the next start.
#pragma once

#include "desktop/hotkey_way.h"
#include "input/hotkey.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QProcess;

class CSwayBindings : public CHotkeyWay {
    Q_OBJECT
public:
    enum class Compositor { Sway, Hyprland };

    // `tool` is the program that carries the commands; empty = swaymsg or hyprctl from PATH.
    CSwayBindings(Compositor compositor, std::string executable, std::function<HKL()> layout,
                  QObject* parent = nullptr, QString tool = {});
    ~CSwayBindings() override;

    void Probe(std::function<void(bool available)> done) override;
    void SetHotkeys(const std::vector<WayHotkey>& hotkeys) override;
    std::string Description() const override;

    // The tool's arguments that bind the hotkey to `executable` --play-key and that remove it
    // again; empty for a key without a name.
    QStringList BindArgs(const WayHotkey& hotkey, HKL layout) const;
    QStringList UnbindArgs(const GlobalHotkey& hotkey, HKL layout) const;

private:
    struct Command {
        QStringList args;
        GlobalHotkey key;
        bool bBind = false;
    };
    QString Keys(const GlobalHotkey& hotkey, HKL layout) const;
    void Next();
    void Finished(bool ok);

    const Compositor m_compositor;
    const std::string m_strExecutable;
    const std::function<HKL()> m_layout;
    const QString m_strTool;
    std::vector<WayHotkey> m_hotkeys;
    // What may be bound, with the arguments that unbind it, as made when it was bound.
    std::map<GlobalHotkey, QStringList> m_bound;
    std::deque<Command> m_queue;
    QProcess* m_pRunning = nullptr; // one at a time: sway and Hyprland take them in order
    bool m_bSetOnce = false;
};
