// The menu "出力デバイス": the system default and every playback device the sound system lists,
// and under "モニター出力" the second device that plays the same mix. The list is read afresh
// each time the menu opens, from what the output last saw (it never asks the sound server).
#pragma once

#include <QMenu>

#include <functional>

class CSetController;
class QActionGroup;

class CDeviceMenu : public QMenu {
    Q_OBJECT
public:
    CDeviceMenu(CSetController& controller, QWidget* parent);

    // Rebuilds the items from the controller's device list and route (also done on opening).
    void Rebuild();

    // "仮想マイクを作成": makes a virtual microphone and chooses it as the output; `done` gets
    // whether it worked.
    void CreateVirtualMicrophone(std::function<void(bool)> done = {});

private:
    CSetController& m_controller;
    // Made once: every opening only refills them.
    QMenu* m_pMonitorMenu;
    QActionGroup* m_pMainGroup;
    QActionGroup* m_pMonitorGroup;
};
