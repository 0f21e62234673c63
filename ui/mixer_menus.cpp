// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menus: bar 128 with the device menu, the lists' popups 129 and 130, and the
// stand-in for the window menu; every item goes through the routing table.
#include "ui/mixer_dlg.h"

#include "desktop/qt_text.h"
#include "ui/device_menu.h"
#include "ui/mixer_resource.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

void CMixerDlg::BuildMenus() {
    m_pMenuBar = new QMenuBar(this);
    for (const MenuData& menu : MainMenuBar())
        m_pMenuBar->addMenu(MakeMenu(menu, m_pMenuBar, true));
    // After the designed menus, before Options and Help, which stays the last menu.
    m_pDeviceMenu = new CDeviceMenu(m_controller, m_pMenuBar);
    const QList<QAction*> menus = m_pMenuBar->actions();
    m_pMenuBar->insertMenu(menus[menus.size() - 2], m_pDeviceMenu);
    GetMenuAction(ID_FILE_GLOBAL_HOTKEYS)->setCheckable(true);
    GetMenuAction(ID_OPTION_EQUAL_LOUDNESS)->setCheckable(true);
    GetMenuAction(ID_OPTION_WEB_REMOTE)->setCheckable(true);
    GetMenuAction(ID_OPTION_WEB_LAN)->setCheckable(true);

    // The window menu cannot be extended here; its About item lives on this menu instead.
    m_pSystemMenu = new QMenu(this);
    QAction* about = m_pSystemMenu->addAction(QStringFromUtf8(AboutMenuText()));
    connect(about, &QAction::triggered, this, [this] { OnMessage(Msg::SysCommand, IDM_ABOUTBOX); });
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
