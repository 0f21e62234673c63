// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys on GNOME without the GlobalShortcuts portal: one custom shortcut of GNOME's
// own per hotkey, at paths of ours, running this executable with --play-key. GNOME tells of no
// release, so these hotkeys act on the press alone.
#pragma once

#include "desktop/hotkey_way.h"
#include "input/hotkey.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct GnomeSettings;

class CGnomeKeybindings : public CHotkeyWay {
    Q_OBJECT
public:
    // Asks the user (UTF-8 question; true = go ahead) before anything is written; null when the
    // user agreed before (the switch was on at start).
    using AskFn = std::function<bool(const std::string& question)>;
    // Where the settings live; empty = the desktop's own. Tests give a folder of compiled
    // schemas and a key file.
    struct Store {
        std::string schemaDir;
        std::string keyFile;
    };

    CGnomeKeybindings(std::string executable, std::function<HKL()> layout, AskFn ask,
                      QObject* parent = nullptr, const Store& store = {});
    ~CGnomeKeybindings() override;

    void Probe(std::function<void(bool available)> done) override;
    void SetHotkeys(const std::vector<WayHotkey>& hotkeys) override;
    std::string Description() const override;
    bool Declined() const override { return m_pSettings && !m_bAgreed; }

    // GTK's accelerator syntax ("<Control>F1", "<Alt><Shift>a"); empty for a key without a name.
    static std::string Accelerator(const GlobalHotkey& hotkey, HKL layout);
    // Where ours live, below GNOME's own folder of custom shortcuts.
    static bool IsOurPath(const std::string& path);

private:
    void Write(const std::vector<std::string>& ours);

    std::string m_strExecutable;
    std::function<HKL()> m_layout;
    AskFn m_ask;
    std::unique_ptr<GnomeSettings> m_pSettings; // null: no such schema or no real store
    bool m_bAgreed = false;
    bool m_bWritten = false;
    std::vector<WayHotkey> m_hotkeys;
};
