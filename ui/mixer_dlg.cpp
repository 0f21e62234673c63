// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's life (built, started, shut down), its place on the screen, the status line
// in its title, and the routing table that sends every command to the set controller.
#include "ui/mixer_dlg.h"

#include "core/remote_command.h"
#include "core/web_request.h"
#include "desktop/global_hotkeys.h"
#include "desktop/key_filter.h"
#include "desktop/qt_text.h"
#include "desktop/web_remote.h"
#include "ui/about_dlg.h"
#include "ui/effect_list_ctrl.h"
#include "ui/icons.h"
#include "ui/mixer_resource.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include <utility>

// The routing table, in the order its entries were designed; the first match runs.
const CMixerDlg::MessageMapEntry CMixerDlg::s_messageMap[] = {
    {Msg::SysCommand, IDM_ABOUTBOX, &CMixerDlg::OnAbout},
    {Msg::DblClk, IDC_PLAYLIST, &CMixerDlg::OnDblclkPlayList},
    {Msg::Command, IDC_EDIT, &CMixerDlg::EditEffect},
    {Msg::Command, IDC_PLAY, &CMixerDlg::PlaySelected},
    {Msg::Command, IDC_STOP, &CMixerDlg::StopSelected},
    {Msg::Command, IDC_STOPALL, &CMixerDlg::StopAll},
    {Msg::DblClk, IDC_EFFECTLIST, &CMixerDlg::OnDblclkEffectList},
    {Msg::Click, IDC_EFFECTLIST, &CMixerDlg::OnClickEffectList},
    {Msg::Command, ID_HELP_ABOUT, &CMixerDlg::OnAbout},
    {Msg::Command, ID_EFFECT_ADD, &CMixerDlg::AddEffect},
    {Msg::Command, ID_EFFECT_DELETE, &CMixerDlg::DeleteEffect},
    {Msg::Command, ID_FILE_EXIT, &CMixerDlg::OnExit},
    {Msg::Command, ID_FILE_NEW, &CMixerDlg::NewSet},
    {Msg::Command, IDC_SWITCH, &CMixerDlg::SwitchSet},
    {Msg::RClick, IDC_EFFECTLIST, &CMixerDlg::OnRclickEffectList},
    {Msg::Command, ID_EFFECT_EDIT, &CMixerDlg::EditEffect},
    {Msg::Command, ID_EFFECT_PLAY, &CMixerDlg::PlaySelected},
    {Msg::Command, ID_PLAY_STOP, &CMixerDlg::StopSelected},
    {Msg::Command, IDC_NEW, &CMixerDlg::NewSet},
    {Msg::RClick, IDC_PLAYLIST, &CMixerDlg::OnRclickPlayList},
    {Msg::Command, ID_FILE_GLOBAL_HOTKEYS, &CMixerDlg::OnGlobalHotkeys},
    {Msg::Command, ID_OPTION_EQUAL_LOUDNESS, &CMixerDlg::OnEqualLoudness},
    {Msg::Command, ID_OPTION_WEB_REMOTE, &CMixerDlg::OnWebRemote},
    {Msg::Command, ID_OPTION_WEB_LAN, &CMixerDlg::OnWebRemoteLan},
    {Msg::Command, ID_OPTION_WEB_ADDRESS, &CMixerDlg::OnWebRemoteAddress},
    {Msg::Command, ID_PLAY_LOUDER, &CMixerDlg::PlayLouder},
    {Msg::Command, ID_PLAY_QUIETER, &CMixerDlg::PlayQuieter},
    {Msg::Command, ID_PLAY_LEVEL_RESET, &CMixerDlg::ResetPlayLevel},
};

CMixerDlg::CMixerDlg(std::string executablePath, QWidget* parent)
    : CTemplateDlg(parent), m_pPlayDone(std::make_shared<PlayDoneRelay>([this](PlayJobPtr job) {
          QMetaObject::invokeMethod(
              this, [this, job = std::move(job)] { m_controller.OnPlayDone(job); },
              Qt::QueuedConnection);
      })),
      m_controller(*this, std::move(executablePath)) {
    // Sizable from the designed size up; shown in the task bar.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    BuildControls();
    AcceptDroppedFiles();
    BuildMenus();
    PlaceControlsBelowMenuBar();

    m_pKeyFilter = new CKeyFilter(
        this,
        [this](unsigned message, const std::uint8_t keyState[256]) {
            return m_controller.TranslateKeyMessage(message, keyState);
        },
        [this] { return m_controller.KeyLayout(); }, this);
    qApp->installEventFilter(m_pKeyFilter);

    // Presses from outside the window go through the same matching as the window's own.
    m_pGlobalHotkeys = new CGlobalHotkeys(
        *m_pKeyFilter, [this] { return m_controller.KeyLayout(); }, this);
    connect(m_pGlobalHotkeys, &CGlobalHotkeys::Unavailable, this, [this] {
        GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->setChecked(false);
        m_controller.SetGlobalHotkeys(false);
    });
    m_pWebRemote = new CWebRemote(
        [this](const RemoteRequest& request) { return RunRemoteRequest(request, m_controller); },
        this);
    connect(m_pWebRemote, &CWebRemote::ListenerCountChanged, this, [this](int count) {
        if (count > 0 && m_nWebNewsHandle == 0) {
            m_nWebNewsHandle = m_controller.AddPlayNewsListener([this](const PlayNews& news) {
                m_pWebRemote->Broadcast(PlayNewsJson(news.bStarted, news.nId, news.strName));
            });
        } else if (count == 0 && m_nWebNewsHandle != 0) {
            m_controller.RemovePlayNewsListener(std::exchange(m_nWebNewsHandle, 0));
        }
    });
}

CMixerDlg::~CMixerDlg() {
    m_pGlobalHotkeys->SetEnabled(false); // no grab may outlive the controller it fires
    m_pWebRemote->Stop();
    m_pPlayDone->Cut();
    ShutDown();
}

void CMixerDlg::ShutDown() {
    if (m_bWindowDestroyed)
        return;
    m_bWindowDestroyed = true;
    if (m_bCreated) {
        WindowLayout layout;
        // A window never shown has no place of its own to remember.
        if (const QRect rect = NormalRect(); isVisible() && m_openedRect && rect != *m_openedRect)
            layout.rect = {rect.x(), rect.y(), rect.width(), rect.height()};
        if (m_pEffectList->ColumnWidths() != m_effectColumnsAtStart)
            layout.effectColumns = m_pEffectList->ColumnWidths();
        if (m_pPlayList->ColumnWidths() != m_playColumnsAtStart)
            layout.playColumns = m_pPlayList->ColumnWidths();
        m_controller.RememberWindowLayout(layout);
    }
    m_controller.DestroyWindow();
}

bool CMixerDlg::Create() {
    if (m_bCreated)
        return true;
    m_bCreated = true;
    // Window part of the start-up: icons; the controller runs the rest and calls back.
    setWindowIcon(LoadIcon(IDR_MAINFRAME));
    const bool ok = m_controller.OnInitDialog();
    RestoreWindowRect();
    // How the sound output is doing: one line in the title, never a box.
    m_strBaseTitle = windowTitle();
    auto* statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, &CMixerDlg::ShowSoundStatus);
    statusTimer->start(250);
    ShowSoundStatus();
    GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->setChecked(m_controller.Settings().m_bGlobalHotkeys);
    GetMenuAction(ID_OPTION_EQUAL_LOUDNESS)->setChecked(m_controller.Settings().m_bEqualLoudness);
    m_pGlobalHotkeys->SetFolder(m_controller.Settings().m_strExeDir);
    m_pGlobalHotkeys->SetEnabled(m_controller.Settings().m_bGlobalHotkeys);
    ApplyWebRemote();
    // The first tab stop, the set selector, gets the focus.
    m_pSetSelector->setFocus(Qt::OtherFocusReason);
    return ok;
}

int CMixerDlg::exec() {
    Create();
    return QDialog::exec();
}

void CMixerDlg::done(int result) {
    if (m_bLoading) {
        m_bCloseAfterLoad = true;
        return;
    }
    m_pGlobalHotkeys->SetEnabled(false);
    m_pWebRemote->Stop();
    ShutDown();
    QDialog::done(result);
}

void CMixerDlg::reject() {
    done(IDCANCEL);
}

bool CMixerDlg::OnMessage(Msg msg, int id) {
    for (const MessageMapEntry& entry : s_messageMap) {
        const bool match = msg == Msg::SysCommand ? entry.msg == msg && (id & 0xFFF0) == entry.id
                                                  : entry.msg == msg && entry.id == id;
        if (match) {
            (this->*entry.pfn)();
            return true;
        }
    }
    return false;
}

void CMixerDlg::paintEvent(QPaintEvent* event) {
    if (!m_openedRect)
        m_openedRect = NormalRect();
    QDialog::paintEvent(event);
}

QRect CMixerDlg::NormalRect() const {
    return windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)
               ? normalGeometry()
               : geometry();
}

void CMixerDlg::RestoreWindowRect() {
    const std::vector<int>& r = m_controller.Settings().m_windowLayout.rect;
    if (r.size() != 4)
        return;
    const QRect rect(r[0], r[1], r[2], r[3]);
    for (const QScreen* screen : QGuiApplication::screens()) {
        // Enough of it on a screen to be taken by its title and moved back.
        const QRect seen = screen->availableGeometry().intersected(rect);
        if (seen.width() >= 48 && seen.height() >= 24) {
            setGeometry(rect);
            return;
        }
    }
}

void CMixerDlg::ShowSoundStatus() {
    const std::string line = m_controller.SoundStatusLine();
    const QString title = line.empty()
                              ? m_strBaseTitle
                              : m_strBaseTitle + QStringLiteral(" - ") + QStringFromCp932(line);
    if (windowTitle() != title)
        setWindowTitle(title);
    m_pEffectList->SetMonitorMissing(!m_controller.MonitorPlays());
}

// --- handlers ---------------------------------------------------------------------------------

void CMixerDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CMixerDlg::OnExit() {
    done(IDOK);
}
void CMixerDlg::OnDblclkPlayList() {
    m_controller.StopSelected();
}
void CMixerDlg::OnClickEffectList() {
    m_controller.OnClickEffectList(QGuiApplication::keyboardModifiers() & Qt::ControlModifier);
}
void CMixerDlg::OnDblclkEffectList() {
    m_controller.OnDblclkEffectList(QGuiApplication::keyboardModifiers() & Qt::ShiftModifier);
}
void CMixerDlg::OnRclickEffectList() {
    if (m_pEffectMenu)
        m_pEffectMenu->popup(QCursor::pos());
}
void CMixerDlg::OnRclickPlayList() {
    if (m_pPlayMenu)
        m_pPlayMenu->popup(QCursor::pos());
}
void CMixerDlg::PlaySelected() {
    m_controller.PlaySelected();
}
void CMixerDlg::EditEffect() {
    m_controller.EditEffect();
}
void CMixerDlg::AddEffect() {
    m_controller.AddEffect();
}
void CMixerDlg::DeleteEffect() {
    m_controller.DeleteEffect();
}
void CMixerDlg::StopSelected() {
    m_controller.StopSelected();
}
void CMixerDlg::StopAll() {
    m_controller.StopAll();
}
void CMixerDlg::PlayLouder() {
    m_controller.StepSelectedLevel(1);
}
void CMixerDlg::PlayQuieter() {
    m_controller.StepSelectedLevel(-1);
}
void CMixerDlg::ResetPlayLevel() {
    m_controller.ResetSelectedLevel();
}
void CMixerDlg::SwitchSet() {
    m_controller.SwitchSet();
}
void CMixerDlg::NewSet() {
    m_controller.NewSet();
}
void CMixerDlg::OnGlobalHotkeys() {
    // The action has already flipped its check mark.
    const bool on = GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->isChecked();
    m_controller.SetGlobalHotkeys(on);
    m_pGlobalHotkeys->SetEnabled(on, true);
}
void CMixerDlg::OnEqualLoudness() {
    m_controller.SetEqualLoudness(GetMenuAction(ID_OPTION_EQUAL_LOUDNESS)->isChecked());
}
