// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/sway_bindings.h"

#include "desktop/play_key_command.h"
#include "desktop/texts.h"

#include <QProcess>

#include <algorithm>

namespace {

// sway reads a bound command twice before sh does, at bindsym and at the press: both times it
// splits on ; and , outside quotes and replaces $variables ($$ is one $); at bindsym it drops the
// quotes of a word that starts with one, and sway 1.7 honours backslashes at bindsym but not at
// the press. So each word starts outside quotes, holds no backslash inside quotes, and spells '
// and \ in double quotes.
std::string SwayQuoted(std::string_view word) {
    std::string quoted = "'";
    for (char c : word) {
        switch (c) {
        case '\'':
            quoted += "'\"'\"'";
            break;
        case '\\':
            quoted += "'\"\\\\\"'";
            break;
        case '$':
            quoted += "$$$$";
            break;
        default:
            quoted += c;
        }
    }
    return quoted + "'";
}

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

CSwayBindings::CSwayBindings(Compositor compositor, std::string executable,
                             std::function<HKL()> layout, QObject* parent, QString tool)
    : CHotkeyWay(parent), m_compositor(compositor), m_strExecutable(std::move(executable)),
      m_layout(std::move(layout)),
      m_strTool(!tool.isEmpty()                      ? std::move(tool)
                : compositor == Compositor::Hyprland ? QStringLiteral("hyprctl")
                                                     : QStringLiteral("swaymsg")) {}

CSwayBindings::~CSwayBindings() {
    // A command under way is cut short, so its removal may not have happened; the removals
    // start once it is gone and outlive the program.
    if (m_pRunning) {
        m_pRunning->disconnect(this);
        m_pRunning->kill();
        m_pRunning->waitForFinished(); // only the reaping of a killed child
    }
    const auto remove = [this](const QStringList& args) {
        QProcess process;
        process.setProgram(m_strTool);
        process.setArguments(args);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.startDetached();
    };
    for (const Command& command : m_queue)
        if (!command.bBind)
            remove(command.args);
    for (const auto& [key, args] : m_bound)
        remove(args);
}

QString CSwayBindings::Keys(const GlobalHotkey& hotkey, HKL layout) const {
    const QString name = Utf8(KeysymName(hotkey, layout));
    if (name.isEmpty())
        return {};
    const bool sway = m_compositor == Compositor::Sway;
    QStringList parts;
    if (hotkey.nModifiers & MOD_CODE_CTRL)
        parts << (sway ? QStringLiteral("Ctrl") : QStringLiteral("CTRL"));
    if (hotkey.nModifiers & MOD_CODE_ALT)
        parts << (sway ? QStringLiteral("Alt") : QStringLiteral("ALT"));
    if (hotkey.nModifiers & MOD_CODE_SHIFT)
        parts << (sway ? QStringLiteral("Shift") : QStringLiteral("SHIFT"));
    if (sway)
        return (parts << name).join(QLatin1Char('+'));
    return parts.join(QLatin1Char(' ')) + QLatin1Char(',') + name;
}

QStringList CSwayBindings::BindArgs(const WayHotkey& hotkey, HKL layout) const {
    const QString keys = Keys(hotkey.key, layout);
    if (keys.isEmpty())
        return {};
    if (m_compositor == Compositor::Hyprland)
        return {QStringLiteral("keyword"), QStringLiteral("bind"),
                keys + QStringLiteral(",exec,") +
                    Utf8(PlayKeyCommand(m_strExecutable, hotkey.strText))};
    const std::string_view exe = m_strExecutable;
    const bool absolute = exe.starts_with('/');
    // "--" ends swaymsg's own options.
    return {QStringLiteral("--"),
            QStringLiteral("bindsym"),
            QStringLiteral("--no-repeat"),
            keys,
            QStringLiteral("exec"),
            Utf8((absolute ? "/" : "") + SwayQuoted(exe.substr(absolute ? 1 : 0))),
            Utf8("--play-key=" + SwayQuoted(hotkey.strText))};
}

QStringList CSwayBindings::UnbindArgs(const GlobalHotkey& hotkey, HKL layout) const {
    const QString keys = Keys(hotkey, layout);
    if (keys.isEmpty())
        return {};
    if (m_compositor == Compositor::Hyprland)
        return {QStringLiteral("keyword"), QStringLiteral("unbind"), keys};
    return {QStringLiteral("--"), QStringLiteral("unbindsym"), QStringLiteral("--no-repeat"), keys};
}

std::string CSwayBindings::Description() const {
    return std::string(m_compositor == Compositor::Sway ? texts::kSwayWay : texts::kHyprlandWay);
}

void CSwayBindings::Probe(std::function<void(bool)> done) {
    auto* process = new QProcess(this);
    const auto answer = [this, process, done = std::move(done)](bool ok) {
        process->disconnect(this);
        process->deleteLater();
        done(ok);
    };
    connect(process, &QProcess::finished, this, [process, answer](int code) {
        answer(process->exitStatus() == QProcess::NormalExit && code == 0);
    });
    connect(process, &QProcess::errorOccurred, this, [answer](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            answer(false);
    });
    process->start(m_strTool, m_compositor == Compositor::Sway
                                  ? QStringList{QStringLiteral("-t"), QStringLiteral("get_version")}
                                  : QStringList{QStringLiteral("version")});
}

void CSwayBindings::SetHotkeys(const std::vector<WayHotkey>& hotkeys) {
    if (m_bSetOnce && hotkeys == m_hotkeys)
        return;
    m_bSetOnce = true;
    const HKL layout = m_layout ? m_layout() : nullptr;
    const auto has = [](const std::vector<WayHotkey>& list, const GlobalHotkey& key) {
        return std::any_of(list.begin(), list.end(),
                           [&](const WayHotkey& h) { return h.key == key; });
    };
    for (auto it = m_bound.begin(); it != m_bound.end();) {
        if (has(hotkeys, it->first)) {
            ++it;
            continue;
        }
        m_queue.push_back({it->second, it->first, false});
        it = m_bound.erase(it);
    }
    std::vector<GlobalHotkey> taken;
    for (const WayHotkey& hotkey : hotkeys) {
        // A binding of the same keys is replaced, so a changed text needs no removal first.
        if (m_bound.contains(hotkey.key) &&
            std::find(m_hotkeys.begin(), m_hotkeys.end(), hotkey) != m_hotkeys.end())
            continue;
        QStringList args = BindArgs(hotkey, layout);
        if (args.isEmpty()) {
            taken.push_back(hotkey.key);
            continue;
        }
        m_bound[hotkey.key] = UnbindArgs(hotkey.key, layout);
        m_queue.push_back({std::move(args), hotkey.key, true});
    }
    m_hotkeys = hotkeys;
    if (!taken.empty())
        emit Taken(taken);
    Next();
}

void CSwayBindings::Next() {
    if (m_pRunning || m_queue.empty())
        return;
    m_pRunning = new QProcess(this);
    connect(m_pRunning, &QProcess::finished, this, [this](int code) {
        // swaymsg answers a refused command with its exit code, hyprctl only in its output.
        const bool ok = m_pRunning->exitStatus() == QProcess::NormalExit && code == 0 &&
                        (m_compositor == Compositor::Sway ||
                         m_pRunning->readAllStandardOutput().trimmed() == "ok");
        Finished(ok);
    });
    connect(m_pRunning, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            Finished(false);
    });
    m_pRunning->start(m_strTool, m_queue.front().args);
}

void CSwayBindings::Finished(bool ok) {
    m_pRunning->disconnect(this);
    m_pRunning->deleteLater();
    m_pRunning = nullptr;
    const Command done = std::move(m_queue.front());
    m_queue.pop_front();
    if (done.bBind && !ok) {
        m_bound.erase(done.key);
        emit Taken({done.key});
    }
    Next();
}
