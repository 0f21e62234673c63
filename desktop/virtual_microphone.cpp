// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/virtual_microphone.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <memory>

void RunPactl(QObject* owner, const QStringList& args,
              std::function<void(bool, const QString&)> next) {
    auto* process = new QProcess(owner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process->setProcessEnvironment(environment);
    QObject::connect(process, &QProcess::finished, owner,
                     [process, next](int code, QProcess::ExitStatus status) {
                         next(status == QProcess::NormalExit && code == 0,
                              QString::fromUtf8(process->readAllStandardOutput()));
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, owner,
                     [process, next](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart) {
                             next(false, {});
                             process->deleteLater();
                         }
                     });
    process->start(QStringLiteral("pactl"), args);
}

namespace {

struct Module {
    QString id;
    QString name;
    QStringList args;
    bool Is(const char* module, const QString& arg) const {
        return name == QLatin1String(module) && args.contains(arg);
    }
};

// `pactl list short modules`: index, name and arguments, tab-separated.
std::vector<Module> ParseModules(const QString& text) {
    std::vector<Module> modules;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() < 2)
            continue;
        modules.push_back(
            {fields[0], fields[1],
             fields.size() > 2 ? fields[2].split(u' ', Qt::SkipEmptyParts) : QStringList{}});
    }
    return modules;
}

QString Arg(const char* key, const QString& value) {
    return QLatin1String(key) + u'=' + value;
}

// Runs the commands one after another; `done` gets whether all succeeded and what those that
// did printed (a loaded module's index). With `stopOnFailure` nothing runs after a failure.
struct Turn {
    std::vector<QStringList> commands;
    std::size_t next = 0;
    bool ok = true;
    bool stopOnFailure = false;
    QStringList outputs;
    std::function<void(bool, const QStringList&)> done;
};

void Step(QObject* owner, const std::shared_ptr<Turn>& turn) {
    if (turn->next == turn->commands.size() || (!turn->ok && turn->stopOnFailure)) {
        turn->done(turn->ok, turn->outputs);
        return;
    }
    RunPactl(owner, turn->commands[turn->next++], [owner, turn](bool ok, const QString& out) {
        if (ok)
            turn->outputs << out.trimmed();
        turn->ok = turn->ok && ok;
        Step(owner, turn);
    });
}

void RunInTurn(QObject* owner, std::vector<QStringList> commands, bool stopOnFailure,
               std::function<void(bool, const QStringList&)> done) {
    auto turn = std::make_shared<Turn>();
    turn->commands = std::move(commands);
    turn->stopOnFailure = stopOnFailure;
    turn->done = std::move(done);
    Step(owner, turn);
}

QStringList Unload(const QString& id) {
    return {QStringLiteral("unload-module"), id};
}

} // namespace

void CVirtualMicrophone::Queue(std::function<void(std::function<void()>)> task) {
    m_tasks.push_back(std::move(task));
    if (!m_bBusy)
        Next();
}

void CVirtualMicrophone::Next() {
    m_bBusy = !m_tasks.empty();
    if (!m_bBusy)
        return;
    auto first = std::move(m_tasks.front());
    m_tasks.pop_front();
    first([this] { Next(); });
}

void CVirtualMicrophone::Ensure(const QString& microphone, std::uint32_t forcedMixRate,
                                std::function<void(MicResult)> done) {
    Queue([this, microphone, forcedMixRate, done](std::function<void()> finished) {
        RunEnsure(microphone, forcedMixRate, done, std::move(finished));
    });
}

void CVirtualMicrophone::RunEnsure(const QString& microphone, std::uint32_t forcedMixRate,
                                   std::function<void(MicResult)> done,
                                   std::function<void()> finished) {
    auto finish = [done, finished](MicResult result) {
        if (done)
            done(result);
        finished();
    };
    if (QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty()) {
        finish(MicResult::NoPactl);
        return;
    }
    const QString sink = QLatin1String(kMicSink);
    RunPactl(
        this, {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")},
        [this, microphone, forcedMixRate, finish, sink](bool listed, const QString& text) {
            if (!listed) {
                finish(MicResult::Refused);
                return;
            }
            std::vector<QStringList> unloads;
            std::vector<QStringList> loads;
            bool haveSink = false;
            bool haveSource = false;
            bool haveLoop = false;
            const QString latency = Arg("latency_msec", QString::number(kPassthroughLatencyMs));
            for (const Module& m : ParseModules(text)) {
                bool* have = nullptr;
                if (m.Is("module-null-sink", Arg("sink_name", sink)))
                    have = &haveSink;
                else if (m.Is("module-remap-source", Arg("source_name", kMicSource)))
                    have = &haveSource;
                else if (m.Is("module-loopback", Arg("sink", sink)))
                    have = m.args.contains(Arg("source", microphone)) && m.args.contains(latency)
                               ? &haveLoop
                               : nullptr;
                else if (!m.Is("module-null-sink", Arg("sink_name", kMicSource)))
                    continue; // an earlier version's sink would hold the microphone's name
                // Never a second one: what another start made twice goes, and so does a
                // passthrough of another microphone.
                if (have == nullptr || *have)
                    unloads.push_back(Unload(m.id));
                else
                    *have = true;
            }
            // At the rate Otomaru mixes at for it (the sink is its main output, so the mix
            // follows it unless MixRate forces one) rather than the server's default (44100 Hz
            // on PulseAudio): nothing is resampled on the way. One already there stays as it
            // is: a call may hold it.
            const QString rate =
                Arg("rate", QString::number(forcedMixRate != 0 ? forcedMixRate : kMicRate));
            if (!haveSink)
                loads.push_back(
                    {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                     Arg("sink_name", sink), rate,
                     QStringLiteral("sink_properties=device.description=") + kVirtualMicName});
            if (!haveSource)
                loads.push_back({QStringLiteral("load-module"),
                                 QStringLiteral("module-remap-source"),
                                 Arg("master", sink + QStringLiteral(".monitor")),
                                 Arg("source_name", kMicSource), rate,
                                 QStringLiteral("source_properties=device.description="
                                                "OtomaruMicrophone")});
            const bool wantLoop = !microphone.isEmpty() && !haveLoop;
            RunInTurn(this, std::move(unloads), false, [=, this](bool, const QStringList&) {
                RunInTurn(this, loads, true, [=, this](bool made, const QStringList& ids) {
                    if (!made) {
                        // Half a microphone is none: what this turn loaded goes.
                        std::vector<QStringList> undo;
                        for (auto id = ids.rbegin(); id != ids.rend(); ++id)
                            undo.push_back(Unload(*id));
                        RunInTurn(this, std::move(undo), false, [finish](bool, const QStringList&) {
                            finish(MicResult::Refused);
                        });
                        return;
                    }
                    if (!wantLoop) {
                        finish(MicResult::Done);
                        return;
                    }
                    RunPactl(this,
                             {QStringLiteral("load-module"), QStringLiteral("module-loopback"),
                              Arg("source", microphone), Arg("sink", sink), latency,
                              QStringLiteral("source_dont_move=true"),
                              QStringLiteral("sink_dont_move=true")},
                             [finish](bool looped, const QString&) {
                                 finish(looped ? MicResult::Done : MicResult::NoPassthrough);
                             });
                });
            });
        });
}

void CVirtualMicrophone::Remove(std::function<void(bool)> done) {
    Queue([this, done](std::function<void()> finished) {
        RunPactl(this, {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")},
                 [this, done, finished](bool listed, const QString& text) {
                     // The passthrough first and the sink last: each needs the next one.
                     std::vector<QStringList> loops;
                     std::vector<QStringList> sources;
                     std::vector<QStringList> sinks;
                     for (const Module& m : ParseModules(text)) {
                         for (const char* name : {kMicSink, kMicSource}) {
                             if (m.Is("module-loopback", Arg("sink", name)))
                                 loops.push_back(Unload(m.id));
                             else if (m.Is("module-remap-source", Arg("source_name", name)))
                                 sources.push_back(Unload(m.id));
                             else if (m.Is("module-null-sink", Arg("sink_name", name)))
                                 sinks.push_back(Unload(m.id));
                         }
                     }
                     loops.insert(loops.end(), sources.begin(), sources.end());
                     loops.insert(loops.end(), sinks.begin(), sinks.end());
                     RunInTurn(this, std::move(loops), false,
                               [listed, done, finished](bool ok, const QStringList&) {
                                   if (done)
                                       done(listed && ok);
                                   finished();
                               });
                 });
    });
}

void CVirtualMicrophone::ListCaptureDevices(std::function<void(std::vector<CaptureDevice>)> done) {
    RunPactl(this, {QStringLiteral("list"), QStringLiteral("sources")},
             [done](bool, const QString& text) {
                 std::vector<CaptureDevice> devices;
                 bool monitor = false;
                 auto close = [&] {
                     if (!devices.empty() &&
                         (monitor || devices.back().name.startsWith(QLatin1String(kMicSource))))
                         devices.pop_back();
                     monitor = false;
                 };
                 for (const QString& raw : text.split(u'\n')) {
                     const QString line = raw.trimmed();
                     if (line.startsWith(QLatin1String("Source #"))) {
                         close();
                         devices.emplace_back();
                     } else if (devices.empty()) {
                         continue;
                     } else if (line.startsWith(QLatin1String("Name: "))) {
                         devices.back().name = line.mid(6);
                     } else if (line.startsWith(QLatin1String("Description: "))) {
                         devices.back().description = line.mid(13);
                     } else if (line.startsWith(QLatin1String("Monitor of Sink: "))) {
                         monitor = line.mid(17) != QLatin1String("n/a");
                     }
                 }
                 close();
                 done(std::move(devices));
             });
}
