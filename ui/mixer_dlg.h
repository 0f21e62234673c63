// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: template 102 with its menu bar, the two lists, the set selector and the
// buttons. It shows the open set and routes every button, menu command, list notification and
// key to the set controller it owns; the controller changes the set and calls back through
// IMixerView. Its rooms: mixer_dlg.cpp the window's life and the routing, mixer_controls.cpp
// the controls made from the template, mixer_menus.cpp the menus, mixer_drops.cpp files dropped
// on the effect list, mixer_view.cpp the view the controller talks to, mixer_web.cpp the web
// remote.
#pragma once

#include "core/mixer_view.h"
#include "core/set_controller.h"
#include "ui/template_dlg.h"

#include <QRect>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CDeviceMenu;
class CEffectListCtrl;
class CGlobalHotkeys;
class CKeyFilter;
class CWebRemote;
class QAction;
class QComboBox;
class QKeyEvent;
class QMenu;
class QMenuBar;

class CMixerDlg : public CTemplateDlg, public IMixerView {
    Q_OBJECT
public:
    // executablePath: empty = the running executable (tests give a file in a temporary folder).
    explicit CMixerDlg(std::string executablePath = {}, QWidget* parent = nullptr);
    ~CMixerDlg() override;

    // The start-up sequence; runs once, before the window is first shown (exec calls it).
    bool Create();
    int exec() override;
    // Ends the dialog: the shut-down sequence runs once, then the window goes.
    void done(int result) override;
    void reject() override; // close box and Escape: IDCANCEL

    // The messages the routing table knows.
    enum class Msg { SysCommand, Command, Click, DblClk, RClick };
    // Runs the first entry of the message map that matches; false when none does.
    bool OnMessage(Msg msg, int id);

    CSetController& Controller() { return m_controller; }
    CEffectListCtrl& EffectList() const { return *m_pEffectList; }
    CEffectListCtrl& PlayList() const { return *m_pPlayList; }
    QComboBox& SetSelector() const { return *m_pSetSelector; }
    QMenuBar& MenuBar() const { return *m_pMenuBar; }
    // The menu bar's item with this command id.
    QAction* GetMenuAction(int id) const;
    // The popup of menu 129 or 130; null until the popup menus are loaded.
    QMenu* GetPopupMenu(int menuId) const;
    // The stand-in for the window menu (right click on an empty part of the window).
    QMenu* GetSystemMenu() const { return m_pSystemMenu; }
    CGlobalHotkeys& GlobalHotkeys() const { return *m_pGlobalHotkeys; }
    CKeyFilter& KeyFilter() const { return *m_pKeyFilter; }
    CWebRemote& WebRemote() const { return *m_pWebRemote; }
    // The web remote's address with its token; empty while it does not serve.
    QString WebRemoteAddress() const;

    // IMixerView
    void* WindowHandle() override;
    void SetUpLists() override;
    void LoadPopupMenus() override;
    std::string KeyboardLayoutHint() override;
    void FillEffectList(const EffectTable& table, HKL layout) override;
    void FillPlayList(const ActivePlayList& jobs) override;
    int GetEffectSelectionMark() override;
    int GetPlaySelectionMark() override;
    void SelectEffectRow(int index) override;
    void ResetSetSelector() override;
    int AddSetSelectorItem(const std::string& fileName) override;
    void SetSetSelectorCurSel(int index) override;
    int GetSetSelectorCurSel() override;
    std::string GetSetSelectorText(int index) override;
    int RunEffectEditor(const std::string& waveDir, EffectEditorValues& values) override;
    int RunNewSetDialog(const std::string& initialFolder, NewSetValues& values) override;
    void WaitForSetLoad(CSetSoundLoad& load) override;
    void PostPlayDone(PlayJobPtr job) override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using Handler = void (CMixerDlg::*)();
    struct MessageMapEntry {
        Msg msg;
        int id;
        Handler pfn;
    };
    static const MessageMapEntry s_messageMap[];

    // Handlers of the message map.
    void OnAbout();
    void OnExit();
    void OnDblclkPlayList();
    void OnClickEffectList();
    void OnDblclkEffectList();
    void OnRclickEffectList();
    void OnRclickPlayList();
    void PlaySelected();
    void EditEffect();
    void AddEffect();
    void DeleteEffect();
    void StopSelected();
    void StopAll();
    void PlayLouder();
    void PlayQuieter();
    void ResetPlayLevel();
    void SwitchSet();
    void NewSet();
    void OnGlobalHotkeys();
    void OnEqualLoudness();
    void OnWebRemote();
    void OnWebRemoteLan();
    void OnWebRemoteAddress();
    // Serves or stops as the settings say; a port that cannot be had is told once.
    void ApplyWebRemote();

    // The controls of the template, wired to the routing table.
    void BuildControls();
    // A key on the play list; true when it was one of its commands.
    bool OnPlayListKey(const QKeyEvent& key);
    // The menu bar and the window menu's stand-in.
    void BuildMenus();
    // The controls move down by the menu bar's height and follow the window's size from there.
    void PlaceControlsBelowMenuBar();
    void AcceptDroppedFiles();
    QMenu* MakeMenu(const struct MenuData& menuData, QWidget* parent, bool bar);
    // The sound output's status line, appended to the title while something is wrong.
    void ShowSoundStatus();
    // Puts the window where it was left, unless that is off every screen.
    void RestoreWindowRect();
    // The shut-down: the layout is remembered while the controls are still there.
    void ShutDown();
    // The effect list accepts local files dragged from a file manager.
    static std::vector<std::string> DroppedPaths(const class QMimeData* mime);
    // Adds dropped files to the open set, or holds them while a set is being opened.
    void AddDroppedFiles(std::vector<std::string> paths);
    // Files held while a set was read go to it once the command that read it has finished.
    void ResumeHeldDrops();
    // The window's place and size, the unmaximized ones while it is maximized.
    QRect NormalRect() const;

    // Workers post "play done" from their own threads; once the window is gone they post
    // nothing. Declared before the controller, whose playbacks may still post while it goes.
    std::shared_ptr<PlayDoneRelay> m_pPlayDone;

    CSetController m_controller;
    QComboBox* m_pSetSelector = nullptr;
    CEffectListCtrl* m_pPlayList = nullptr;
    CEffectListCtrl* m_pEffectList = nullptr;
    QMenuBar* m_pMenuBar = nullptr;
    std::map<int, QAction*> m_menuActions;
    QMenu* m_pEffectMenu = nullptr;
    QMenu* m_pPlayMenu = nullptr;
    QMenu* m_pSystemMenu = nullptr;
    CKeyFilter* m_pKeyFilter = nullptr;
    CDeviceMenu* m_pDeviceMenu = nullptr;
    QString m_strBaseTitle;
    CGlobalHotkeys* m_pGlobalHotkeys = nullptr;
    CWebRemote* m_pWebRemote = nullptr;
    bool m_bWebPortTold = false;
    // The controller's news go to the pages only while one listens.
    int m_nWebNewsHandle = 0;
    // The column widths the lists started with, so that only widths the user changed are kept.
    std::vector<int> m_effectColumnsAtStart;
    std::vector<int> m_playColumnsAtStart;
    bool m_bCreated = false;
    bool m_bWindowDestroyed = false;
    // A set is loading: the controller waits inside a loop of ours, so a close asked for
    // meanwhile (the close box, before the progress box blocks it) waits for the load.
    bool m_bLoading = false;
    bool m_bCloseAfterLoad = false;
    // Files dropped while a set was being opened: they go to that set once it is read whole.
    std::vector<std::string> m_heldDrops;
    // Where the window manager put the window, known by its first paint: only a place or size
    // the user changed from it is remembered.
    std::optional<QRect> m_openedRect;
};
