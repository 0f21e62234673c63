// SPDX-License-Identifier: GPL-3.0-or-later
// The menu "出力デバイス": the system default and every playback device the sound system lists,
// and under "モニター出力" the second device that plays the same mix. The list is read afresh
// each time the menu opens, from what the output last saw (it never asks the sound server).
// Below them the virtual microphone: kept on the server while chosen, made again whenever the
// server comes back, with the real microphone chosen under "マイク入力" passed into it.
#pragma once

#include "desktop/virtual_microphone.h"

#include <QMenu>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CSetController;
class QActionGroup;

class CDeviceMenu : public QMenu {
    Q_OBJECT
public:
    CDeviceMenu(CSetController& controller, QWidget* parent);

    // Rebuilds the items from the controller's device list and route (also done on opening).
    void Rebuild();

    // "仮想マイクを使う": on, makes sure the microphone exists and sends the effects to it; off,
    // sends them to the system default and leaves the microphone to the call that has it.
    // `done` gets whether it worked; a failure has shown its box.
    void UseVirtualMicrophone(bool on, std::function<void(bool)> done = {});
    // "マイク入力": the real microphone's source name, empty for none.
    void ChooseMicrophone(const std::string& name, std::function<void(bool)> done = {});
    // "仮想マイクを削除".
    void RemoveVirtualMicrophone(std::function<void(bool)> done = {});

private:
    void RebuildMicrophones();
    // Again after every server restart, quietly: the next restart tries once more.
    void KeepMicrophone();

    CSetController& m_controller;
    CVirtualMicrophone* m_pMicrophone;
    // Made once: every opening only refills them.
    QMenu* m_pMonitorMenu;
    QMenu* m_pMicrophoneMenu;
    QActionGroup* m_pMainGroup;
    QActionGroup* m_pMonitorGroup;
    QActionGroup* m_pMicrophoneGroup;
    std::vector<CaptureDevice> m_captureDevices;
    std::uint64_t m_nServerReturns = 0;
    bool m_bListing = false;
};
