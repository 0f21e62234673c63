// SPDX-License-Identifier: GPL-3.0-or-later
// sway's and Hyprland's bindings: the commands against a stand-in tool that records them, then a
// headless sway where a key pressed with wtype must run the bound command with its words intact.
#include "dialog_test_app.h"

#include "desktop/sway_bindings.h"
#include "tests/support/spin_until.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <unistd.h>

namespace {

using Compositor = CSwayBindings::Compositor;

void WriteScript(const std::string& path, const std::string& body) {
    WriteText(path, "#!/bin/sh\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::all);
}

QStringList Lines(const std::string& path) {
    return QString::fromStdString(ReadText(path)).split('\n', Qt::SkipEmptyParts);
}

TEST(SwayBindings, BindsFollowTheTableAndGoAtTheEnd) {
    EnsureDialogTestApp();
    TempDir dir;
    const std::string tool = dir.Path() + "tool", log = dir.Path() + "log";
    // Words joined by |; F2 refused, by swaymsg's exit code or by hyprctl's answer.
    WriteScript(tool,
                "IFS='|'; echo \"$*\" >> '" + log +
                    "'\ncase \"$*\" in *F2*) echo no; [ $1 = keyword ]; exit;; esac\necho ok\n");
    const WayHotkey f1{{0x70, MOD_CODE_CTRL}, "Ctrl + F1", "a"}, f2{{0x71, 0}, "F2", "b"},
        f3{{0x72, MOD_CODE_SHIFT | MOD_CODE_ALT}, "Alt + Shift + F3", "c"},
        none{{0xFF, 0}, "?", ""};
    const std::vector<std::array<QString, 3>> cases{
        {"--|bindsym|--no-repeat|Ctrl+F1|exec|/'o'|--play-key='Ctrl + F1'",
         "--|unbindsym|--no-repeat|Ctrl+F1", "--|unbindsym|--no-repeat|Alt+Shift+F3"},
        {"keyword|bind|CTRL,F1,exec,'/o' --play-key 'Ctrl + F1'", "keyword|unbind|CTRL,F1",
         "keyword|unbind|ALT SHIFT,F3"}};
    for (const auto& [bind, unbind, atEnd] : cases) {
        std::filesystem::remove(log);
        std::vector<GlobalHotkey> taken;
        {
            CSwayBindings way(bind.startsWith("--") ? Compositor::Sway : Compositor::Hyprland, "/o",
                              nullptr, nullptr, QString::fromStdString(tool));
            QObject::connect(&way, &CHotkeyWay::Taken, [&](const auto& keys) {
                taken.insert(taken.end(), keys.begin(), keys.end());
            });
            way.SetHotkeys({f1, f2, f3, none});
            ASSERT_TRUE(SpinUntil([&] { return taken.size() == 2; }));
            EXPECT_EQ(taken, (std::vector<GlobalHotkey>{none.key, f2.key}));
            EXPECT_EQ(Lines(log).value(0), bind);
            way.SetHotkeys({f3});
            ASSERT_TRUE(SpinUntil([&] { return Lines(log).size() == 4; }));
            EXPECT_EQ(Lines(log).value(3), unbind);
        }
        // After the removal that was under way, given again since it was cut short.
        EXPECT_TRUE(SpinUntil([&, atEnd = atEnd] { return Lines(log).indexOf(atEnd) >= 4; }));
    }
    for (const bool present : {false, true}) {
        CSwayBindings way(Compositor::Sway, "/o", nullptr, nullptr,
                          QString::fromStdString(present ? tool : dir.Path() + "none"));
        std::optional<bool> available;
        way.Probe([&](bool ok) { available = ok; });
        ASSERT_TRUE(SpinUntil([&] { return available.has_value(); }));
        EXPECT_EQ(*available, present);
    }
}

// sway will not run as root: there it runs as nobody, in folders nobody may use.
TEST(SwayBindings, HeadlessSwayRunsTheCommandWithItsWordsIntact) {
    EnsureDialogTestApp();
    TempDir dir;
    const std::string run = dir.Path() + "run", bin = dir.Path() + "it's \"a\" $HOME;, x\\y";
    for (const std::string& d : {run, bin})
        std::filesystem::create_directories(d);
    for (const std::string& d : {dir.Path(), bin})
        std::filesystem::permissions(d, std::filesystem::perms::all);
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || chown(run.c_str(), 65534, 65534) == 0);
    WriteScript(bin + "/rec", "for a in \"$@\"; do echo \"$a\"; done >> '" + dir.Path() + "out'\n");
    const QString runtime = "XDG_RUNTIME_DIR=" + QString::fromStdString(run);
    QProcess sway, wtype;
    sway.setStandardErrorFile(QProcess::nullDevice());
    sway.start(root ? "setpriv" : "env",
               (root ? QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "env"}
                     : QStringList{}) +
                   QStringList{runtime, "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
                               "WLR_RENDERER=pixman", "sway", "-c", "/dev/null"});
    QStringList sockets;
    ASSERT_TRUE(SpinUntil([&] {
        sockets =
            QDir(QString::fromStdString(run)).entryList({"sway-ipc.*", "wayland-1"}, QDir::System);
        return sockets.size() == 2;
    }));
    qputenv("SWAYSOCK",
            (QString::fromStdString(run) + '/' + sockets.filter("sway-ipc")[0]).toUtf8());
    const std::string text = "Ctrl + ;'\"$HOME\\ ,x";
    {
        CSwayBindings way(Compositor::Sway, bin + "/rec", [] { return UsKeyLayout(); });
        way.SetHotkeys({{{0x70, MOD_CODE_CTRL}, text, "a"}});
        // Pressed until the binding, made meanwhile, answers.
        EXPECT_TRUE(SpinUntil([&] {
            if (wtype.state() == QProcess::NotRunning)
                wtype.start("env", {runtime, "WAYLAND_DISPLAY=wayland-1", "wtype", "-M", "ctrl",
                                    "-k", "F1", "-m", "ctrl"});
            return ReadText(dir.Path() + "out").find('\n') != std::string::npos;
        }));
        wtype.waitForFinished();
        // The first run's words, one a line.
        EXPECT_TRUE(ReadText(dir.Path() + "out").starts_with("--play-key=" + text + "\n"));
    }
    qunsetenv("SWAYSOCK");
    sway.kill();
    sway.waitForFinished();
}

} // namespace
