// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's web remote: its menu items, its address box, and the page's news of the set.
#include "ui/mixer_dlg.h"

#include "base/message.h"
#include "base/text.h"
#include "desktop/web_remote.h"
#include "ui/mixer_resource.h"
#include "ui/texts.h"
#include "ui/web_remote_dlg.h"

#include <QAction>
#include <QHostAddress>

QString CMixerDlg::WebRemoteAddress() const {
    if (!m_pWebRemote->IsListening())
        return {};
    const AppSettings& settings = m_controller.Settings();
    return WebRemoteUrl(m_pWebRemote->Port(), settings.m_strWebRemoteAddress,
                        settings.m_strWebRemoteToken);
}

void CMixerDlg::ApplyWebRemote() {
    const AppSettings& settings = m_controller.Settings();
    GetMenuAction(ID_OPTION_WEB_REMOTE)->setChecked(settings.m_bWebRemote);
    const std::string& address = settings.m_strWebRemoteAddress;
    GetMenuAction(ID_OPTION_WEB_LAN)
        ->setChecked(!address.empty() &&
                     !QHostAddress(QString::fromStdString(address)).isLoopback());
    if (!settings.m_bWebRemote) {
        m_pWebRemote->Stop();
        return;
    }
    // A token written by hand that is too weak is replaced before anything listens.
    if (!IsWebRemoteToken(settings.m_strWebRemoteToken) && !m_controller.SetWebRemote(true)) {
        GetMenuAction(ID_OPTION_WEB_REMOTE)->setChecked(false);
        AfxMessageBox(Cp932FromUtf8(texts::kWebNoToken), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    QString error;
    if (m_pWebRemote->Start(settings.m_nWebRemotePort, settings.m_strWebRemoteAddress,
                            settings.m_strWebRemoteToken, &error))
        return;
    // Told once: the program goes on without it, and the switch stays as the user left it.
    if (m_bWebPortTold)
        return;
    m_bWebPortTold = true;
    AfxMessageBox(Cp932FromUtf8(std::string(texts::kWebPortBefore) +
                                std::to_string(settings.m_nWebRemotePort) +
                                std::string(texts::kWebPortAfter) + error.toStdString()),
                  MB_OK | MB_ICONEXCLAMATION);
}

void CMixerDlg::OnWebRemote() {
    // The action has already flipped its check mark.
    if (!m_controller.SetWebRemote(GetMenuAction(ID_OPTION_WEB_REMOTE)->isChecked())) {
        GetMenuAction(ID_OPTION_WEB_REMOTE)->setChecked(false);
        AfxMessageBox(Cp932FromUtf8(texts::kWebNoToken), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_bWebPortTold = false;
    ApplyWebRemote();
}

void CMixerDlg::OnWebRemoteLan() {
    const bool on = GetMenuAction(ID_OPTION_WEB_LAN)->isChecked();
    if (on && AfxMessageBox(Cp932FromUtf8(texts::kWebLanWarning), MB_YESNO | MB_ICONEXCLAMATION) !=
                  IDYES) {
        GetMenuAction(ID_OPTION_WEB_LAN)->setChecked(false);
        return;
    }
    m_controller.SetWebRemoteEveryAddress(on);
    m_bWebPortTold = false;
    ApplyWebRemote();
}

void CMixerDlg::OnWebRemoteAddress() {
    const QString url = WebRemoteAddress();
    if (url.isEmpty()) {
        AfxMessageBox(Cp932FromUtf8(texts::kWebRemoteOff), MB_OK);
        return;
    }
    CWebRemoteDlg dlg(url, this);
    dlg.exec();
}
