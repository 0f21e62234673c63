// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's controls: template 102, how each follows the window's size, and their
// wiring to the routing table.
#include "ui/mixer_dlg.h"

#include "ui/dialog_template.h"
#include "ui/effect_list_ctrl.h"
#include "ui/mixer_resource.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>

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
constexpr float kEffectShare = 0.6f;
const DlgAnchor kMixerAnchors[] = {
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

} // namespace

void CMixerDlg::BuildControls() {
    BuildFromTemplate(MixerTemplate(), [](const DlgItem& item, QWidget* p) -> QWidget* {
        if (item.cls == DlgClass::ListView)
            return new CEffectListCtrl(kEffectListTint, p);
        return nullptr;
    });
    m_pSetSelector = Item<QComboBox>(IDC_SOUNDFILES);
    m_pPlayList = Item<CEffectListCtrl>(IDC_PLAYLIST);
    m_pEffectList = Item<CEffectListCtrl>(IDC_EFFECTLIST);
    Q_ASSERT(m_pSetSelector && m_pPlayList && m_pEffectList);
    // An input method in kana mode would take the letters of hotkeys and commit text at Enter.
    for (QWidget* w : {static_cast<QWidget*>(m_pSetSelector), static_cast<QWidget*>(m_pPlayList),
                       static_cast<QWidget*>(m_pEffectList)})
        w->setAttribute(Qt::WA_InputMethodEnabled, false);

    // No default button: Enter must never press one.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    for (const auto& [id, widget] : Items()) {
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            const int commandId = id;
            connect(button, &QPushButton::clicked, this,
                    [this, commandId] { OnMessage(Msg::Command, commandId); });
        }
    }
    for (CEffectListCtrl* list : {m_pEffectList, m_pPlayList}) {
        const int id = list == m_pEffectList ? IDC_EFFECTLIST : IDC_PLAYLIST;
        connect(list, &CEffectListCtrl::Click, this, [this, id] { OnMessage(Msg::Click, id); });
        connect(list, &CEffectListCtrl::DblClick, this, [this, id] { OnMessage(Msg::DblClk, id); });
        connect(list, &CEffectListCtrl::RClick, this, [this, id] { OnMessage(Msg::RClick, id); });
    }
    // + and - on the play list change the selected playback's level (eventFilter).
    m_pPlayList->installEventFilter(this);
}

bool CMixerDlg::OnPlayListKey(const QKeyEvent& key) {
    switch (key.key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: // + without Shift on keyboards that put it there
        return OnMessage(Msg::Command, ID_PLAY_LOUDER);
    case Qt::Key_Minus:
        return OnMessage(Msg::Command, ID_PLAY_QUIETER);
    default:
        return false;
    }
}

void CMixerDlg::PlaceControlsBelowMenuBar() {
    // The window grows by the menu bar's height.
    const QSize client = DluToPixels(MixerTemplate().size, font());
    const int barHeight = m_pMenuBar->sizeHint().height();
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != m_pMenuBar && !child->isWindow())
            child->move(child->x(), child->y() + barHeight);
    }
    m_pMenuBar->setGeometry(0, 0, client.width(), barHeight);
    AnchorControls(kMixerAnchors, QSize(client.width(), client.height() + barHeight));
    // The names take the room a grown window gives the lists.
    for (CEffectListCtrl* list : {m_pEffectList, m_pPlayList})
        list->StretchFirstColumn(list->width());
}

void CMixerDlg::resizeEvent(QResizeEvent* event) {
    CTemplateDlg::resizeEvent(event);
    if (!DesignedSize().isEmpty())
        m_pMenuBar->setGeometry(0, 0, width(), m_pMenuBar->height());
}
