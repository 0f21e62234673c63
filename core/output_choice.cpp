// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/output_choice.h"

#include "base/text.h"
#include "core/texts.h"

void COutputChoice::LoadRemembered() {
    m_settings.LoadDeviceSettings();
    m_route.strMain = Utf8FromCp932(m_settings.m_strOutputDevice);
    m_route.bMonitor = !m_settings.m_strMonitorDevice.empty();
    if (m_settings.m_strMonitorDevice != AppSettings::kMonitorOnDefault)
        m_route.strMonitor = Utf8FromCp932(m_settings.m_strMonitorDevice);
    m_config.route = m_route;
    m_config.nForcedMixRate = m_settings.m_nMixRate;
}

void COutputChoice::ChooseMain(const std::string& name) {
    m_route.strMain = name;
    Apply();
}

void COutputChoice::ChooseMonitor(bool on, const std::string& name) {
    m_route.bMonitor = on;
    m_route.strMonitor = on ? name : std::string();
    Apply();
}

void COutputChoice::Apply() {
    m_device.SetOutputRoute(m_route);
    // A name the settings file cannot hold is used for this session only, never stored altered.
    auto storable = [](const std::string& utf8, std::string* cp932) {
        return TryCp932FromUtf8(utf8, *cp932);
    };
    std::string main;
    std::string monitor;
    if (!storable(m_route.strMain, &main))
        return;
    if (m_route.bMonitor && m_route.strMonitor.empty())
        monitor = std::string(AppSettings::kMonitorOnDefault);
    else if (m_route.bMonitor && !storable(m_route.strMonitor, &monitor))
        return;
    m_settings.m_strOutputDevice = main;
    m_settings.m_strMonitorDevice = monitor;
    m_settings.SaveDeviceSettings();
}

std::uint64_t COutputChoice::ServerReturns() const {
    OutputStatus status;
    return m_device.GetOutputStatus(&status) ? status.nReturns : 0;
}

void COutputChoice::SetVirtualMicrophone(bool on) {
    m_settings.m_bVirtualMicrophone = on;
    m_settings.SaveVirtualMicrophone();
}

std::string COutputChoice::MicrophoneDevice() const {
    return Utf8FromCp932(m_settings.m_strMicrophoneDevice);
}

void COutputChoice::ChooseMicrophone(const std::string& name) {
    // A name the settings file cannot hold would come back as another device: not kept.
    std::string cp932;
    if (!TryCp932FromUtf8(name, cp932))
        return;
    m_settings.m_strMicrophoneDevice = cp932;
    m_settings.SaveMicrophoneDevice();
}

bool COutputChoice::MonitorPlays() const {
    OutputStatus status;
    return m_device.GetOutputStatus(&status) && status.monitor == OutputState::Playing;
}

std::string COutputChoice::StatusLine() const {
    OutputStatus status;
    if (!m_device.GetOutputStatus(&status))
        return {};
    if (status.main == OutputState::Waiting)
        return Cp932FromUtf8(texts::kNoOutputDevice);
    if (status.main == OutputState::Fallback)
        return Cp932FromUtf8("「" + m_route.strMain + "」" + std::string(texts::kDeviceMissing));
    if (status.monitor == OutputState::Waiting)
        return Cp932FromUtf8(texts::kWaitingForMonitor);
    return {};
}
