#include "desktop/virtual_microphone.h"

#include <QProcess>

void RunPactl(QObject* owner, const QStringList& args,
              std::function<void(bool, const QString&)> next) {
    auto* process = new QProcess(owner);
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

void CreateVirtualMicrophone(QObject* owner, std::function<void(bool)> done) {
    const QString description =
        QStringLiteral("sink_properties=device.description=") + kVirtualMicName;
    RunPactl(owner, {QStringLiteral("info")},
             [owner, done, description](bool ok, const QString& info) {
                 if (!ok) {
                     done(false);
                     return;
                 }
                 if (info.contains(QStringLiteral("PipeWire"))) {
                     // One node: a playback device for us and a microphone for everyone else.
                     RunPactl(owner,
                              {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                               QStringLiteral("media.class=Audio/Source/Virtual"),
                               QStringLiteral("sink_name=otomaru_mic"), description},
                              [done](bool loaded, const QString&) { done(loaded); });
                     return;
                 }
                 RunPactl(owner,
                          {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                           QStringLiteral("sink_name=otomaru_mic"), description},
                          [owner, done](bool loaded, const QString&) {
                              if (!loaded) {
                                  done(false);
                                  return;
                              }
                              RunPactl(owner,
                                       {QStringLiteral("load-module"),
                                        QStringLiteral("module-remap-source"),
                                        QStringLiteral("master=otomaru_mic.monitor"),
                                        QStringLiteral("source_name=otomaru_mic_in"),
                                        QStringLiteral("source_properties=device.description=") +
                                            kVirtualMicName + QStringLiteral("In")},
                                       [done](bool remapped, const QString&) { done(remapped); });
                          });
             });
}
