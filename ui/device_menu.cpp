// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/device_menu.h"
#include "ui/texts.h"

#include "base/message.h"
#include "base/text.h"
#include "core/set_controller.h"
#include "desktop/qt_text.h"
#include "desktop/virtual_microphone.h"

#include <QActionGroup>
#include <QTimer>

#include <algorithm>

namespace {

const char* const kDefaultDevice = "既定のデバイス(&D)";
const char* const kNoMonitor = "なし(&N)";
const char* const kUseVirtualMic = "仮想マイクを使う(&V)";
const char* const kMicrophoneInput = "マイク入力(&I)";
const char* const kRemoveVirtualMic = "仮想マイクを削除(&R)";

// A device name is shown as the sound system gives it: an '&' in it marks no mnemonic.
QString DeviceText(const std::string& name) {
    return QString::fromStdString(name).replace(u'&', QStringLiteral("&&"));
}

void ShowMicFailure(MicResult result) {
    std::string_view text;
    switch (result) {
    case MicResult::Done:
        return;
    case MicResult::NoPactl:
        text = texts::kNoPactl;
        break;
    case MicResult::Refused:
        text = texts::kModuleRefused;
        break;
    case MicResult::NoPassthrough:
        text = texts::kNoPassthrough;
        break;
    }
    AfxMessageBox(Cp932FromUtf8(text), MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

CDeviceMenu::CDeviceMenu(CSetController& controller, QWidget* parent)
    : QMenu(QStringFromUtf8("出力デバイス(&D)"), parent), m_controller(controller),
      m_pMicrophone(new CVirtualMicrophone(this)),
      m_pMonitorMenu(new QMenu(QStringFromUtf8("モニター出力(&M)"), this)),
      m_pMicrophoneMenu(new QMenu(QStringFromUtf8(kMicrophoneInput), this)),
      m_pMainGroup(new QActionGroup(this)), m_pMonitorGroup(new QActionGroup(m_pMonitorMenu)),
      m_pMicrophoneGroup(new QActionGroup(m_pMicrophoneMenu)),
      m_nServerReturns(controller.Output().ServerReturns()) {
    connect(this, &QMenu::aboutToShow, this, &CDeviceMenu::Rebuild);
    connect(this, &QMenu::aboutToShow, this, [this] {
        // One listing at a time; the submenu fills when it arrives.
        if (m_bListing)
            return;
        m_bListing = true;
        m_pMicrophone->ListCaptureDevices([this](std::vector<CaptureDevice> devices) {
            m_bListing = false;
            m_captureDevices = std::move(devices);
            RebuildMicrophones();
        });
    });
    Rebuild();
    auto* keeper = new QTimer(this);
    connect(keeper, &QTimer::timeout, this, &CDeviceMenu::KeepMicrophone);
    keeper->start(250);
    if (m_controller.Output().VirtualMicrophone())
        m_pMicrophone->Ensure(QString::fromStdString(m_controller.Output().MicrophoneDevice()),
                              m_controller.Output().Config().nForcedMixRate);
}

void CDeviceMenu::KeepMicrophone() {
    const std::uint64_t returns = m_controller.Output().ServerReturns();
    if (returns == m_nServerReturns)
        return;
    m_nServerReturns = returns;
    if (m_controller.Output().VirtualMicrophone())
        m_pMicrophone->Ensure(QString::fromStdString(m_controller.Output().MicrophoneDevice()),
                              m_controller.Output().Config().nForcedMixRate);
}

void CDeviceMenu::Rebuild() {
    // The actions go; the submenu and the groups, which the menu does not own, stay.
    clear();
    m_pMonitorMenu->clear();
    const std::vector<std::string> names = m_controller.OutputDeviceNames();
    const OutputRoute& route = m_controller.Route();

    auto addMain = [&](const QString& text, const std::string& name) {
        QAction* action = addAction(text);
        action->setCheckable(true);
        action->setChecked(route.strMain == name);
        m_pMainGroup->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, name] { m_controller.ChooseOutputDevice(name); });
    };
    addMain(QStringFromUtf8(kDefaultDevice), {});
    for (const std::string& name : names)
        addMain(DeviceText(name), name);
    // A chosen device that is missing now stays in the list, checked, so the choice is visible.
    if (!route.strMain.empty() &&
        std::find(names.begin(), names.end(), route.strMain) == names.end())
        addMain(DeviceText(route.strMain), route.strMain);

    addSeparator();
    addMenu(m_pMonitorMenu);
    auto addMonitor = [&](const QString& text, bool on, const std::string& name) {
        QAction* action = m_pMonitorMenu->addAction(text);
        action->setCheckable(true);
        action->setChecked(route.bMonitor == on && (!on || route.strMonitor == name));
        m_pMonitorGroup->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, on, name] { m_controller.ChooseMonitorDevice(on, name); });
    };
    addMonitor(QStringFromUtf8(kNoMonitor), false, {});
    addMonitor(QStringFromUtf8(kDefaultDevice), true, {});
    for (const std::string& name : names)
        addMonitor(DeviceText(name), true, name);
    if (route.bMonitor && !route.strMonitor.empty() &&
        std::find(names.begin(), names.end(), route.strMonitor) == names.end())
        addMonitor(DeviceText(route.strMonitor), true, route.strMonitor);

    addSeparator();
    QAction* use = addAction(QStringFromUtf8(kUseVirtualMic));
    use->setCheckable(true);
    use->setChecked(m_controller.Output().VirtualMicrophone());
    connect(use, &QAction::triggered, this, [this](bool on) { UseVirtualMicrophone(on); });
    addMenu(m_pMicrophoneMenu);
    connect(addAction(QStringFromUtf8(kRemoveVirtualMic)), &QAction::triggered, this,
            [this] { RemoveVirtualMicrophone(); });
    RebuildMicrophones();
}

void CDeviceMenu::RebuildMicrophones() {
    m_pMicrophoneMenu->clear();
    const std::string chosen = m_controller.Output().MicrophoneDevice();
    auto add = [&](const QString& text, const std::string& name) {
        QAction* action = m_pMicrophoneMenu->addAction(text);
        action->setCheckable(true);
        action->setChecked(chosen == name);
        m_pMicrophoneGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, name] { ChooseMicrophone(name); });
    };
    add(QStringFromUtf8(kNoMonitor), {});
    bool listed = chosen.empty();
    for (const CaptureDevice& device : m_captureDevices) {
        const std::string name = device.name.toStdString();
        listed = listed || name == chosen;
        add(DeviceText(device.description.isEmpty() ? name : device.description.toStdString()),
            name);
    }
    if (!listed)
        add(DeviceText(chosen), chosen);
}

void CDeviceMenu::UseVirtualMicrophone(bool on, std::function<void(bool)> done) {
    COutputChoice& output = m_controller.Output();
    if (!on) {
        output.SetVirtualMicrophone(false);
        if (m_controller.Route().strMain == kVirtualMicName)
            m_controller.ChooseOutputDevice({});
        if (done)
            done(true);
        return;
    }
    m_pMicrophone->Ensure(QString::fromStdString(output.MicrophoneDevice()),
                          output.Config().nForcedMixRate, [this, done](MicResult result) {
                              const bool made =
                                  result == MicResult::Done || result == MicResult::NoPassthrough;
                              if (made) {
                                  m_controller.Output().SetVirtualMicrophone(true);
                                  m_controller.ChooseOutputDevice(kVirtualMicName);
                              }
                              ShowMicFailure(result);
                              if (done)
                                  done(made);
                          });
}

void CDeviceMenu::ChooseMicrophone(const std::string& name, std::function<void(bool)> done) {
    COutputChoice& output = m_controller.Output();
    output.ChooseMicrophone(name);
    if (!output.VirtualMicrophone()) {
        if (done)
            done(true);
        return;
    }
    m_pMicrophone->Ensure(QString::fromStdString(name), output.Config().nForcedMixRate,
                          [done](MicResult result) {
                              ShowMicFailure(result);
                              if (done)
                                  done(result == MicResult::Done);
                          });
}

void CDeviceMenu::RemoveVirtualMicrophone(std::function<void(bool)> done) {
    m_pMicrophone->Remove([this, done](bool ok) {
        if (ok) {
            // Kept on, it would come back with the next server restart.
            if (m_controller.Output().VirtualMicrophone())
                m_controller.Output().SetVirtualMicrophone(false);
            if (m_controller.Route().strMain == kVirtualMicName)
                m_controller.ChooseOutputDevice({});
        } else {
            AfxMessageBox(Cp932FromUtf8(texts::kCannotRemoveMic), MB_OK | MB_ICONEXCLAMATION);
        }
        if (done)
            done(ok);
    });
}
