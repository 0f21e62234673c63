#include "ui/mixer_dlg.h"

#include "core/row_text.h"
#include "desktop/global_hotkeys.h"
#include "desktop/key_filter.h"
#include "desktop/qt_text.h"
#include "desktop/x11_keyboard.h"
#include "input/key_layout.h"
#include "ui/about_dlg.h"
#include "ui/device_menu.h"
#include "ui/dialog_template.h"
#include "ui/effect_dlg.h"
#include "ui/effect_list_ctrl.h"
#include "ui/icons.h"
#include "ui/load_progress_dlg.h"
#include "ui/mixer_resource.h"
#include "ui/new_source_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QInputDevice>
#include <QInputMethod>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

const DlgTemplate& MixerTemplate() {
    static const DlgTemplate tmpl = {
        IDD_MIXER_DIALOG,
        "Otomaru Ver " OTOMARU_VERSION,
        {319, 294},
        {
            {-1, DlgClass::Label, "音源ファイル", {7, 6, 38, 8}},
            {IDC_SOUNDFILES, DlgClass::ComboBox, "", {50, 4, 149, 289}},
            {-1, DlgClass::Label, "効果音リスト", {7, 21, 38, 8}},
            {-1, DlgClass::Label, "再生リスト", {178, 21, 31, 8}},
            {IDC_EFFECTLIST, DlgClass::ListView, "", {7, 32, 168, 237}},
            {IDC_PLAYLIST, DlgClass::ListView, "", {179, 32, 133, 237}},
            {IDC_EDIT, DlgClass::PushButton, "編集(&E)", {7, 276, 50, 14}},
            {IDC_PLAY, DlgClass::PushButton, "再生(&P)", {124, 276, 50, 14}},
            {IDC_STOP, DlgClass::PushButton, "停止(&S)", {180, 276, 50, 14}},
            {IDC_STOPALL, DlgClass::PushButton, "全て停止(&A)", {262, 276, 50, 14}},
            {IDC_SWITCH, DlgClass::PushButton, "切替(&C)", {202, 4, 50, 13}},
            {IDC_NEW, DlgClass::PushButton, "新規(&N)", {262, 4, 50, 13}},
        }};
    return tmpl;
}

// How far each edge of a control of the template follows the room the window has beyond its
// designed size, in template order: the lists take it all, the effect list the larger share;
// the buttons keep their sides, the selector widens.
struct Anchor {
    float left, top, right, bottom;
};
constexpr float kEffectShare = 0.6f;
const Anchor kMixerAnchors[] = {
    {0, 0, 0, 0},                       // 音源ファイル
    {0, 0, 1, 0},                       // set selector
    {0, 0, 0, 0},                       // 効果音リスト
    {kEffectShare, 0, kEffectShare, 0}, // 再生リスト
    {0, 0, kEffectShare, 1},            // effect list
    {kEffectShare, 0, 1, 1},            // play list
    {0, 1, 0, 1},                       // edit
    {kEffectShare, 1, kEffectShare, 1}, // play
    {kEffectShare, 1, kEffectShare, 1}, // stop
    {1, 1, 1, 1},                       // stop all
    {1, 0, 1, 0},                       // switch
    {1, 0, 1, 0},                       // new
};

std::vector<int> ColumnWidths(const CEffectListCtrl& list) {
    std::vector<int> widths;
    for (int c = 0; c < list.header()->count(); ++c)
        widths.push_back(list.header()->sectionSize(c));
    return widths;
}

void SetColumnWidths(CEffectListCtrl& list, const std::vector<int>& widths) {
    if (static_cast<int>(widths.size()) != list.header()->count())
        return;
    for (int c = 0; c < list.header()->count(); ++c)
        list.header()->resizeSection(c, widths[static_cast<std::size_t>(c)]);
}

} // namespace

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
};

CMixerDlg::CMixerDlg(std::string executablePath, QWidget* parent)
    : QDialog(parent), m_pPlayDone(std::make_shared<PlayDoneRelay>([this](PlayJobPtr job) {
          QMetaObject::invokeMethod(
              this, [this, job = std::move(job)] { m_controller.OnPlayDone(job); },
              Qt::QueuedConnection);
      })),
      m_controller(*this, std::move(executablePath)) {
    // Sizable from the designed size up; shown in the task bar.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);

    const DlgTemplate& tmpl = MixerTemplate();
    m_items = BuildDialog(*this, tmpl, [](const DlgItem& item, QWidget* p) -> QWidget* {
        if (item.cls == DlgClass::ListView)
            return new CEffectListCtrl(kEffectListTint, p);
        return nullptr;
    });
    m_pSetSelector = qobject_cast<QComboBox*>(GetDlgItem(IDC_SOUNDFILES));
    m_pPlayList = qobject_cast<CEffectListCtrl*>(GetDlgItem(IDC_PLAYLIST));
    m_pEffectList = qobject_cast<CEffectListCtrl*>(GetDlgItem(IDC_EFFECTLIST));
    Q_ASSERT(m_pSetSelector && m_pPlayList && m_pEffectList);
    // The builder made the controls as direct children, in template order.
    std::size_t next = 0;
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || next == std::size(kMixerAnchors))
            continue;
        const Anchor& a = kMixerAnchors[next++];
        m_placements.push_back({child, {}, a.left, a.top, a.right, a.bottom});
    }
    Q_ASSERT(next == tmpl.items.size() && next == std::size(kMixerAnchors));
    m_pEffectList->setAcceptDrops(true);
    m_pEffectList->viewport()->setAcceptDrops(true);
    m_pEffectList->viewport()->installEventFilter(this);
    // An input method in kana mode would take the letters of hotkeys and commit text at Enter.
    for (QWidget* w : {static_cast<QWidget*>(m_pSetSelector), static_cast<QWidget*>(m_pPlayList),
                       static_cast<QWidget*>(m_pEffectList)})
        w->setAttribute(Qt::WA_InputMethodEnabled, false);

    // No default button: Enter must never press one.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    for (const auto& [id, widget] : m_items) {
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            const int commandId = id;
            connect(button, &QPushButton::clicked, this,
                    [this, commandId] { OnMessage(Msg::Command, commandId); });
        }
    }
    connect(m_pEffectList, &CEffectListCtrl::Click, this,
            [this] { OnMessage(Msg::Click, IDC_EFFECTLIST); });
    connect(m_pEffectList, &CEffectListCtrl::DblClick, this,
            [this] { OnMessage(Msg::DblClk, IDC_EFFECTLIST); });
    connect(m_pEffectList, &CEffectListCtrl::RClick, this,
            [this] { OnMessage(Msg::RClick, IDC_EFFECTLIST); });
    connect(m_pPlayList, &CEffectListCtrl::Click, this,
            [this] { OnMessage(Msg::Click, IDC_PLAYLIST); });
    connect(m_pPlayList, &CEffectListCtrl::DblClick, this,
            [this] { OnMessage(Msg::DblClk, IDC_PLAYLIST); });
    connect(m_pPlayList, &CEffectListCtrl::RClick, this,
            [this] { OnMessage(Msg::RClick, IDC_PLAYLIST); });

    // Menu bar 128 above the template's client area: the window grows by its height.
    m_pMenuBar = new QMenuBar(this);
    for (const MenuData& menu : MainMenuBar())
        m_pMenuBar->addMenu(MakeMenu(menu, m_pMenuBar, true));
    // After the designed menus, before Options and Help, which stays the last menu.
    m_pDeviceMenu = new CDeviceMenu(m_controller, m_pMenuBar);
    const QList<QAction*> menus = m_pMenuBar->actions();
    m_pMenuBar->insertMenu(menus[menus.size() - 2], m_pDeviceMenu);
    const QSize client = DluToPixels(tmpl.size, font());
    const int barHeight = m_pMenuBar->sizeHint().height();
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != m_pMenuBar && !child->isWindow())
            child->move(child->x(), child->y() + barHeight);
    }
    m_pMenuBar->setGeometry(0, 0, client.width(), barHeight);
    GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->setCheckable(true);
    GetMenuAction(ID_OPTION_EQUAL_LOUDNESS)->setCheckable(true);
    m_designedSize = QSize(client.width(), client.height() + barHeight);
    for (Placement& p : m_placements)
        p.rcDesigned = p.pWidget->geometry();
    setMinimumSize(m_designedSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(m_designedSize);

    // The window menu cannot be extended here; its About item lives on this menu instead.
    m_pSystemMenu = new QMenu(this);
    QAction* about = m_pSystemMenu->addAction(QStringFromUtf8(AboutMenuText()));
    connect(about, &QAction::triggered, this, [this] { OnMessage(Msg::SysCommand, IDM_ABOUTBOX); });

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
}

CMixerDlg::~CMixerDlg() {
    m_pGlobalHotkeys->SetEnabled(false); // no grab may outlive the controller it fires
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
        if (ColumnWidths(*m_pEffectList) != m_effectColumnsAtStart)
            layout.effectColumns = ColumnWidths(*m_pEffectList);
        if (ColumnWidths(*m_pPlayList) != m_playColumnsAtStart)
            layout.playColumns = ColumnWidths(*m_pPlayList);
        m_controller.RememberWindowLayout(layout);
    }
    m_controller.DestroyWindow();
}

QMenu* CMixerDlg::MakeMenu(const MenuData& menuData, QWidget* parent, bool bar) {
    auto* menu = new QMenu(QStringFromUtf8(menuData.title), parent);
    for (const MenuItemData& item : menuData.items) {
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QStringFromUtf8(item.text));
        const int commandId = item.id;
        connect(action, &QAction::triggered, this,
                [this, commandId] { OnMessage(Msg::Command, commandId); });
        if (bar)
            m_menuActions[commandId] = action;
    }
    return menu;
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

QWidget* CMixerDlg::GetDlgItem(int id) const {
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QAction* CMixerDlg::GetMenuAction(int id) const {
    auto it = m_menuActions.find(id);
    return it == m_menuActions.end() ? nullptr : it->second;
}

QMenu* CMixerDlg::GetPopupMenu(int menuId) const {
    if (menuId == IDR_EFFECT_MENU)
        return m_pEffectMenu;
    if (menuId == IDR_PLAY_MENU)
        return m_pPlayMenu;
    return nullptr;
}

void CMixerDlg::contextMenuEvent(QContextMenuEvent* event) {
    // Only an empty part of the window (or a label) opens the window menu's stand-in.
    QWidget* child = childAt(event->pos());
    if (child && !qobject_cast<QLabel*>(child)) {
        event->ignore();
        return;
    }
    m_pSystemMenu->popup(event->globalPos());
}

void CMixerDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOutControls();
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

void CMixerDlg::LayOutControls() {
    if (m_designedSize.isEmpty()) // still being built
        return;
    const int dx = std::max(0, width() - m_designedSize.width());
    const int dy = std::max(0, height() - m_designedSize.height());
    for (const Placement& p : m_placements) {
        const QRect& r = p.rcDesigned;
        // Edges are moved, not sizes scaled, so neighbours that share a share keep their gap.
        const int left = r.x() + qRound(p.left * static_cast<float>(dx));
        const int top = r.y() + qRound(p.top * static_cast<float>(dy));
        const int right = r.x() + r.width() + qRound(p.right * static_cast<float>(dx));
        const int bottom = r.y() + r.height() + qRound(p.bottom * static_cast<float>(dy));
        p.pWidget->setGeometry(left, top, right - left, bottom - top);
    }
    m_pMenuBar->setGeometry(0, 0, width(), m_pMenuBar->height());
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

std::vector<std::string> CMixerDlg::DroppedPaths(const QMimeData* mime) {
    std::vector<std::string> paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return paths;
}

bool CMixerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_pEffectList->viewport())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (DroppedPaths(drag->mimeData()).empty()) {
            drag->ignore();
        } else {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        std::vector<std::string> paths = DroppedPaths(drop->mimeData());
        if (paths.empty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // The file manager waits for the drop to end: the editor opens after it has.
        QMetaObject::invokeMethod(
            this, [this, paths = std::move(paths)]() mutable { AddDroppedFiles(std::move(paths)); },
            Qt::QueuedConnection);
        return true;
    }
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void CMixerDlg::AddDroppedFiles(std::vector<std::string> paths) {
    if (m_bWindowDestroyed)
        return;
    // Posted work runs while a set's sounds load and the table is still empty: the drop waits,
    // as a drop made a moment later would, rather than being refused in the middle of a load.
    if (!m_controller.IsSetOpen()) {
        m_heldDrops.insert(m_heldDrops.end(), std::make_move_iterator(paths.begin()),
                           std::make_move_iterator(paths.end()));
        return;
    }
    m_controller.AddDroppedFiles(paths);
}

void CMixerDlg::ShowSoundStatus() {
    const std::string line = m_controller.SoundStatusLine();
    const QString title = line.empty()
                              ? m_strBaseTitle
                              : m_strBaseTitle + QStringLiteral(" - ") + QStringFromCp932(line);
    if (windowTitle() != title)
        setWindowTitle(title);
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
    m_pGlobalHotkeys->SetEnabled(on);
}
void CMixerDlg::OnEqualLoudness() {
    m_controller.SetEqualLoudness(GetMenuAction(ID_OPTION_EQUAL_LOUDNESS)->isChecked());
}

// --- IMixerView -------------------------------------------------------------------------------

void* CMixerDlg::WindowHandle() {
    return static_cast<QWidget*>(this);
}

void CMixerDlg::SetUpLists() {
    struct Column {
        const char* header;
        int width;
    };
    static const Column kEffectColumns[] = {
        {"音源名", 100}, {"ホットキー", 65}, {"リピート", 65}, {"Vol", 40}};
    static const Column kPlayColumns[] = {{"音源名", 80}, {"Loop", 40}, {"Wait", 40}, {"Vol", 40}};
    // The widths were chosen for a dialog font 6 pixels wide per 4 dialog units; they grow with
    // our font as the lists themselves do, so that "100%" still fits its column.
    const int baseWidth = DluToPixels(QRect(0, 0, 4, 8), font()).width();
    auto scaled = [baseWidth](int width) { return (width * baseWidth + 3) / 6; };
    if (m_pEffectList->model()->columnCount() == 0) {
        int n = 0;
        for (const Column& c : kEffectColumns)
            m_pEffectList->InsertColumn(n++, QStringFromUtf8(c.header), scaled(c.width));
    }
    m_pPlayList->m_clrTint = kPlayListTint;
    if (m_pPlayList->model()->columnCount() == 0) {
        int n = 0;
        for (const Column& c : kPlayColumns)
            m_pPlayList->InsertColumn(n++, QStringFromUtf8(c.header), scaled(c.width));
    }
    const WindowLayout& remembered = m_controller.Settings().m_windowLayout;
    SetColumnWidths(*m_pEffectList, remembered.effectColumns);
    SetColumnWidths(*m_pPlayList, remembered.playColumns);
    m_effectColumnsAtStart = ColumnWidths(*m_pEffectList);
    m_playColumnsAtStart = ColumnWidths(*m_pPlayList);
}

void CMixerDlg::LoadPopupMenus() {
    if (!m_pEffectMenu)
        m_pEffectMenu = MakeMenu(EffectListMenu(), this, false);
    if (!m_pPlayMenu)
        m_pPlayMenu = MakeMenu(PlayListMenu(), this, false);
}

std::string CMixerDlg::KeyboardLayoutHint() {
    // The X server knows the layout in use, and what each key types on it.
    if (std::optional<HostKeyLayout> host = QueryHostKeyLayout(); host && !host->strName.empty()) {
        const std::string name = "xkb:" + host->strName;
        RegisterKeyLayout(name, KeyLayoutFromHint(host->strName), host->characterNames);
        return name;
    }
    // The console keyboard setting names the physical layout ("jp", "us"); the input method's
    // locale is the fallback.
    QFile file(QStringLiteral("/etc/default/keyboard"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            if (!line.startsWith("XKBLAYOUT="))
                continue;
            QByteArray value = line.mid(10);
            value.replace('"', "");
            value = value.split(',').first().trimmed();
            if (!value.isEmpty())
                return value.toStdString();
        }
    }
    // Qt 6.4's Wayland plugin crashes asking a compositor that has no seat; no device, no seat.
    if (QInputDevice::devices().isEmpty())
        return {};
    if (QInputMethod* im = QGuiApplication::inputMethod())
        return im->locale().name().toStdString();
    return {};
}

void CMixerDlg::FillEffectList(const EffectTable& table, HKL layout) {
    m_pEffectList->SetRows(EffectListRows(table, layout));
    m_pGlobalHotkeys->SetTable(table);
    // Files held while the set was read go to it once the command that read it has finished.
    if (!m_heldDrops.empty() && m_controller.IsSetOpen())
        QMetaObject::invokeMethod(
            this,
            [this, paths = std::exchange(m_heldDrops, {})]() mutable {
                AddDroppedFiles(std::move(paths));
            },
            Qt::QueuedConnection);
}

void CMixerDlg::WaitForSetLoad(CSetSoundLoad& load) {
    // The closed set's rows go at once; the new ones come with their sounds.
    m_pEffectList->SetRows({});
    m_bLoading = true;
    ::WaitForSetLoad(load, this);
    m_bLoading = false;
    if (m_bCloseAfterLoad) {
        m_bCloseAfterLoad = false;
        // Once the command that opened the set has finished.
        QMetaObject::invokeMethod(
            this, [this] { done(IDCANCEL); }, Qt::QueuedConnection);
    }
}

void CMixerDlg::FillPlayList(const ActivePlayList& jobs) {
    m_pPlayList->SetRows(PlayListRows(jobs));
}

int CMixerDlg::GetEffectSelectionMark() {
    return m_pEffectList->GetSelectionMark();
}
int CMixerDlg::GetPlaySelectionMark() {
    return m_pPlayList->GetSelectionMark();
}
void CMixerDlg::SelectEffectRow(int index) {
    m_pEffectList->SetItemSelected(index);
}

void CMixerDlg::ResetSetSelector() {
    m_pSetSelector->clear();
}

int CMixerDlg::AddSetSelectorItem(const std::string& fileName) {
    // The bytes are kept beside the shown text: a name goes back to the controller exactly as
    // it came, whatever the conversion did to it.
    // Qt selects the first item added; only the open set may look chosen.
    const int selected = m_pSetSelector->currentIndex();
    m_pSetSelector->addItem(QStringFromCp932(fileName),
                            QByteArray(fileName.data(), static_cast<qsizetype>(fileName.size())));
    m_pSetSelector->setCurrentIndex(selected);
    return m_pSetSelector->count() - 1;
}

void CMixerDlg::SetSetSelectorCurSel(int index) {
    m_pSetSelector->setCurrentIndex(index);
}
int CMixerDlg::GetSetSelectorCurSel() {
    return m_pSetSelector->currentIndex();
}

std::string CMixerDlg::GetSetSelectorText(int index) {
    if (index < 0 || index >= m_pSetSelector->count())
        return {};
    const QByteArray bytes = m_pSetSelector->itemData(index).toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

int CMixerDlg::RunEffectEditor(const std::string& waveDir, EffectEditorValues& values) {
    return ::RunEffectEditor(this, waveDir, values, m_controller.KeyLayout(),
                             &m_controller.Device());
}

int CMixerDlg::RunNewSetDialog(const std::string& initialFolder, NewSetValues& values) {
    return ::RunNewSetDialog(this, initialFolder, values);
}

void CMixerDlg::PostPlayDone(PlayJobPtr job) {
    m_pPlayDone->Post(std::move(job));
}
