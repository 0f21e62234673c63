// A virtual microphone on the sound server, made with pactl so that other programs (a voice
// call) can take Otomaru's mix as their input. pactl runs without the caller waiting for it.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The playback device the effects are sent to; others record its monitor.
inline constexpr const char* kVirtualMicName = "OtomaruMic";

// Runs pactl with the arguments; `next` gets whether it succeeded and what it printed. The
// process belongs to `owner` and goes with it.
void RunPactl(QObject* owner, const QStringList& args,
              std::function<void(bool, const QString&)> next);

// PulseAudio: a null sink and a source remapped from its monitor; PipeWire: one virtual source
// node. `done` gets whether it worked.
void CreateVirtualMicrophone(QObject* owner, std::function<void(bool)> done);
