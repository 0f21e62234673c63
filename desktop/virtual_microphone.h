// SPDX-License-Identifier: GPL-3.0-or-later
// A virtual microphone on the sound server, made with pactl so that other programs (a voice
// call) take Otomaru's effects and the user's own voice as one input. It outlives Otomaru: a call
// keeps its device. pactl runs without the caller waiting for it.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// The playback device the effects are sent to (its description: SDL lists devices by it).
inline constexpr const char* kVirtualMicName = "OtomaruMic";
// The microphone others record, remapped from the monitor of a null sink of another name (so
// that the monitor is never taken for a second one). The same on PipeWire's pulse server: its
// Audio/Source/Virtual node is no sink, so neither SDL nor a loopback could play into it.
inline constexpr const char* kMicSource = "otomaru_mic";
inline constexpr const char* kMicSink = "otomaru_mix";
// The microphone's rate unless MixRate forces one: the one voice calls take, so that the effects
// keep their full band.
inline constexpr int kMicRate = 48000;
// The real microphone's way in: the server's own loopback, at this latency (measured in the
// user guide).
inline constexpr int kPassthroughLatencyMs = 20;

// Runs pactl with the arguments; `next` gets whether it succeeded and what it printed. The
// process belongs to `owner` and goes with it. Its texts are the untranslated ones we parse.
void RunPactl(QObject* owner, const QStringList& args,
              std::function<void(bool, const QString&)> next);

struct CaptureDevice {
    QString name;
    QString description;
};

enum class MicResult {
    Done,
    NoPactl,
    Refused,       // the server refused a module (or is not there): nothing of it is left
    NoPassthrough, // the microphone is there, the real one could not be passed into it
};

class CVirtualMicrophone : public QObject {
    Q_OBJECT
public:
    explicit CVirtualMicrophone(QObject* parent) : QObject(parent) {}

    // Makes sure exactly one virtual microphone exists, made when missing (at `forcedMixRate`,
    // the rate the output is forced to mix at, or kMicRate when 0), and that `microphone` (a
    // source name; empty = none) and only it passes into it.
    void Ensure(const QString& microphone, std::uint32_t forcedMixRate,
                std::function<void(MicResult)> done = {});
    // Unloads our modules, and nobody else's.
    void Remove(std::function<void(bool)> done = {});
    // The sources a voice comes from: no monitors, not ours.
    void ListCaptureDevices(std::function<void(std::vector<CaptureDevice>)> done);

private:
    // One operation at a time, in the order asked: each lists the modules before it loads.
    void Queue(std::function<void(std::function<void()>)> task);
    void Next();
    void RunEnsure(const QString& microphone, std::uint32_t forcedMixRate,
                   std::function<void(MicResult)> done, std::function<void()> finished);

    std::deque<std::function<void(std::function<void()>)>> m_tasks;
    bool m_bBusy = false;
};
