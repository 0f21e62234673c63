// SPDX-License-Identifier: GPL-3.0-or-later
// The view the set controller talks to: its calls turned into the main window's lists, selector,
// menus and dialogs.
#include "ui/mixer_dlg.h"

#include "desktop/web_remote.h"

#include "core/row_text.h"
#include "desktop/global_hotkeys.h"
#include "desktop/qt_text.h"
#include "desktop/web_remote.h"
#include "desktop/x11_keyboard.h"
#include "input/key_layout.h"
#include "ui/dialog_template.h"
#include "ui/effect_dlg.h"
#include "ui/effect_list_ctrl.h"
#include "ui/load_progress_dlg.h"
#include "ui/mixer_resource.h"
#include "ui/new_source_dlg.h"

#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QInputDevice>
#include <QInputMethod>

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
    m_pEffectList->SetColumnWidths(remembered.effectColumns);
    m_pPlayList->SetColumnWidths(remembered.playColumns);
    m_effectColumnsAtStart = m_pEffectList->ColumnWidths();
    m_playColumnsAtStart = m_pPlayList->ColumnWidths();
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
    m_pWebRemote->BroadcastState();
    ResumeHeldDrops();
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
