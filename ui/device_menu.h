// The menu "出力デバイス": the system default and every playback device the sound system lists,
// and under "モニター出力" the second device that plays the same mix. The list is read afresh
// each time the menu opens, from what the output last saw (it never asks the sound server).
#pragma once

#include <QMenu>
#include <QStringList>

#include <functional>

class CSetController;

class CDeviceMenu : public QMenu {
    Q_OBJECT
public:
    CDeviceMenu(CSetController& controller, QWidget* parent);

    // Rebuilds the items from the controller's device list and route (also done on opening).
    void Rebuild();

    // "仮想マイクを作成": makes a virtual microphone with pactl (PulseAudio: a null sink and a
    // source remapped from its monitor; PipeWire: one virtual source node) and chooses it as the
    // output. Runs pactl without waiting for it; `done` gets whether it worked.
    void CreateVirtualMicrophone(std::function<void(bool)> done = {});
    static constexpr const char* kVirtualMicName = "OtomaruMic";

private:
    // Runs pactl with the arguments; `next` gets whether it succeeded and what it printed.
    void RunPactl(const QStringList& args, std::function<void(bool, const QString&)> next);

    CSetController& m_controller;
};
