// SPDX-License-Identifier: GPL-3.0-or-later
// sway's and Hyprland's bindings: the commands against a stand-in tool that records them, then a
// headless sway where a key pressed with wtype must run the bound command with its words intact.
#include "dialog_test_app.h"

#include "desktop/sway_bindings.h"
#include "tests/support/spin_until.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

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
    // Words joined by |; a key the compositor refuses, by exit code or (Hyprland) by answer.
    WriteScript(tool,
                "IFS='|'; echo \"$*\" >> '" + log +
                    "'\ncase \"$*\" in *F2*) exit 2;; *F3*) echo no; exit 0;; esac\necho ok\n");
    const WayHotkey f1{{0x70, MOD_CODE_CTRL}, "Ctrl + F1", "a"}, f2{{0x71, 0}, "F2", "b"},
        f3{{0x72, MOD_CODE_SHIFT | MOD_CODE_ALT}, "Alt + Shift + F3", "c"},
        none{{0xFF, 0}, "?", ""};
    struct Case {
        Compositor compositor;
        const char* bindF1;
        const char* unbindF1;
        std::vector<GlobalHotkey> taken;
        const char* atEnd;
    };
    const Case cases[] = {
        {Compositor::Sway,
         "--|bindsym|--no-repeat|Ctrl+F1|exec|/'o'|--play-key='Ctrl + F1'",
         "--|unbindsym|--no-repeat|Ctrl+F1",
         {none.key, f2.key},
         "--|unbindsym|--no-repeat|Alt+Shift+F3"},
        {Compositor::Hyprland,
         "keyword|bind|CTRL,F1,exec,'/o' --play-key 'Ctrl + F1'",
         "keyword|unbind|CTRL,F1",
         {none.key, f2.key, f3.key},
         nullptr},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(log);
        std::vector<GlobalHotkey> taken;
        {
            CSwayBindings way(c.compositor, "/o", nullptr, nullptr, QString::fromStdString(tool));
            QObject::connect(&way, &CHotkeyWay::Taken, [&](const auto& keys) {
                taken.insert(taken.end(), keys.begin(), keys.end());
            });
            way.SetHotkeys({f1, f2, f3, none});
            ASSERT_TRUE(SpinUntil([&] { return taken.size() == c.taken.size(); }));
            EXPECT_EQ(taken, c.taken);
            EXPECT_EQ(Lines(log).value(0), c.bindF1);
            way.SetHotkeys({f3});
            ASSERT_TRUE(SpinUntil([&] { return Lines(log).size() == 4; }));
            EXPECT_EQ(Lines(log).value(3), c.unbindF1);
        }
        if (c.atEnd) {
            // After the removal that was under way, given again since it was cut short.
            EXPECT_TRUE(SpinUntil([&] { return Lines(log).indexOf(c.atEnd) >= 4; }));
        }
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
    namespace fs = std::filesystem;
    const std::string run = dir.Path() + "run", bin = dir.Path() + "it's \"a\" $HOME;, x\\y";
    fs::create_directories(run);
    fs::create_directories(bin);
    for (const std::string& d : {dir.Path(), bin})
        fs::permissions(d, fs::perms::all);
    const bool root = geteuid() == 0;
    if (root)
        ASSERT_EQ(chown(run.c_str(), 65534, 65534), 0);
    WriteScript(bin + "/rec", "for a in \"$@\"; do echo \"$a\"; done > '" + dir.Path() + "out'\n");
    WriteText(dir.Path() + "config", "output HEADLESS-1 resolution 640x480\n");
    QProcessEnvironment env;
    for (const char* v : {"PATH=/usr/bin:/bin", "WLR_BACKENDS=headless",
                          "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"})
        env.insert(QString(v).section('=', 0, 0), QString(v).section('=', 1));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(run));
    QProcess sway;
    sway.setProcessEnvironment(env);
    sway.setStandardErrorFile(QProcess::nullDevice());
    const QStringList args{"sway", "-c", QString::fromStdString(dir.Path() + "config")};
    if (root)
        sway.start("setpriv",
                   QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + args);
    else
        sway.start(args[0], args.mid(1));
    QString socket;
    ASSERT_TRUE(SpinUntil([&] {
        const QStringList found =
            QDir(QString::fromStdString(run)).entryList({"sway-ipc.*.sock"}, QDir::System);
        socket = found.isEmpty() ? QString() : QString::fromStdString(run) + '/' + found[0];
        return !socket.isEmpty() && QFile::exists(QString::fromStdString(run) + "/wayland-1");
    }));
    qputenv("SWAYSOCK", socket.toUtf8());
    const std::string text = "Ctrl + ;'\"$HOME\\ ,x";
    {
        CSwayBindings way(Compositor::Sway, bin + "/rec", [] { return UsKeyLayout(); });
        way.SetHotkeys({{{0x70, MOD_CODE_CTRL}, text, "a"}});
        // Pressed until the binding, made meanwhile, answers.
        QProcess wtype;
        env.insert("WAYLAND_DISPLAY", "wayland-1");
        wtype.setProcessEnvironment(env);
        EXPECT_TRUE(SpinUntil([&] {
            if (wtype.state() == QProcess::NotRunning)
                wtype.start("wtype", {"-M", "ctrl", "-k", "F1", "-m", "ctrl"});
            return ReadText(dir.Path() + "out").ends_with(text + "\n");
        }));
        wtype.waitForFinished();
        EXPECT_EQ(ReadText(dir.Path() + "out"), "--play-key=" + text + "\n");
    }
    qunsetenv("SWAYSOCK");
    sway.kill();
    sway.waitForFinished();
}

} // namespace
