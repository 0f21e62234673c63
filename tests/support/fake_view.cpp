// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/fake_view.h"

#include "base/text.h"

#include <algorithm>
#include <unistd.h>

int FakeMixerView::ChooseSet(const std::string& fileName) {
    const auto it = std::find(m_selectorItems.begin(), m_selectorItems.end(), fileName);
    m_nSelectorCurSel =
        it == m_selectorItems.end() ? -1 : static_cast<int>(it - m_selectorItems.begin());
    return m_nSelectorCurSel;
}

int FakeMixerView::CountCalls(const std::string& name) const {
    return static_cast<int>(
        std::count_if(m_calls.begin(), m_calls.end(), [&](const std::string& c) {
            return c == name || c.substr(0, c.find(' ')) == name;
        }));
}

std::optional<PlayJobPtr> FakeMixerView::WaitPlayDone(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_doneMutex);
    if (!m_doneCv.wait_for(lock, timeout, [this] { return !m_done.empty(); }))
        return std::nullopt;
    PlayJobPtr job = std::move(m_done.front());
    m_done.pop_front();
    return job;
}

std::vector<PlayJobPtr> FakeMixerView::TakePlayDone() {
    std::lock_guard lock(m_doneMutex);
    std::vector<PlayJobPtr> jobs(m_done.begin(), m_done.end());
    m_done.clear();
    return jobs;
}

std::vector<PlayJobPtr> FakeMixerView::ReportedJobs() const {
    std::lock_guard lock(m_doneMutex);
    return m_reported;
}

void* FakeMixerView::WindowHandle() {
    m_calls.push_back("WindowHandle");
    return this;
}

void FakeMixerView::SetUpLists() {
    m_calls.push_back("SetUpLists");
}

void FakeMixerView::LoadPopupMenus() {
    m_calls.push_back("LoadPopupMenus");
}

std::string FakeMixerView::KeyboardLayoutHint() {
    m_calls.push_back("KeyboardLayoutHint");
    return m_strLayoutHint;
}

void FakeMixerView::FillEffectList(const EffectTable& table, HKL layout) {
    m_calls.push_back("FillEffectList " + std::to_string(table.GetSize()));
    m_effectRows.clear();
    for (int i = 0; i < table.GetSize(); ++i)
        m_effectRows.push_back(table.GetPtrAt(i));
    m_lastLayout = layout;
}

void FakeMixerView::FillPlayList(const ActivePlayList& jobs) {
    m_calls.push_back("FillPlayList " + std::to_string(jobs.GetSize()));
    m_playRows.clear();
    for (int i = 0; i < jobs.GetSize(); ++i)
        m_playRows.push_back(jobs.GetAt(i));
}

int FakeMixerView::GetEffectSelectionMark() {
    m_calls.push_back("GetEffectSelectionMark");
    return m_nEffectMark;
}

int FakeMixerView::GetPlaySelectionMark() {
    m_calls.push_back("GetPlaySelectionMark");
    return m_nPlayMark;
}

void FakeMixerView::SelectEffectRow(int index) {
    m_calls.push_back("SelectEffectRow " + std::to_string(index));
    m_nEffectMark = index;
}

void FakeMixerView::ResetSetSelector() {
    m_calls.push_back("ResetSetSelector");
    m_selectorItems.clear();
    m_nSelectorCurSel = -1;
}

int FakeMixerView::AddSetSelectorItem(const std::string& fileName) {
    m_calls.push_back("AddSetSelectorItem");
    m_selectorItems.push_back(fileName);
    return static_cast<int>(m_selectorItems.size()) - 1;
}

void FakeMixerView::SetSetSelectorCurSel(int index) {
    m_calls.push_back("SetSetSelectorCurSel " + std::to_string(index));
    m_nSelectorCurSel = index;
}

int FakeMixerView::GetSetSelectorCurSel() {
    m_calls.push_back("GetSetSelectorCurSel");
    return m_nSelectorCurSel;
}

std::string FakeMixerView::GetSetSelectorText(int index) {
    m_calls.push_back("GetSetSelectorText");
    if (index < 0 || index >= static_cast<int>(m_selectorItems.size()))
        return {};
    return m_selectorItems[static_cast<size_t>(index)];
}

int FakeMixerView::RunEffectEditor(const std::string& waveDir, EffectEditorValues& values) {
    m_calls.push_back("RunEffectEditor");
    m_editorCalls.push_back({waveDir, values, GetCurrentDirectoryA()});
    if (m_editorAnswers.empty())
        return IDCANCEL;
    EditorAnswer answer = std::move(m_editorAnswers.front());
    m_editorAnswers.pop_front();
    if (!answer.changeDirectoryTo.empty() && chdir(answer.changeDirectoryTo.c_str()) != 0)
        return IDCANCEL;
    if (answer.result == IDOK)
        values = answer.values;
    return answer.result;
}

int FakeMixerView::RunNewSetDialog(const std::string& initialFolder, NewSetValues& values) {
    m_calls.push_back("RunNewSetDialog");
    m_newSetFolders.push_back(initialFolder);
    if (m_newSetAnswers.empty())
        return IDCANCEL;
    NewSetAnswer answer = std::move(m_newSetAnswers.front());
    m_newSetAnswers.pop_front();
    if (answer.result == IDOK)
        values = answer.values;
    return answer.result;
}

void FakeMixerView::PostPlayDone(PlayJobPtr job) {
    {
        std::lock_guard lock(m_doneMutex);
        m_reported.push_back(job);
        m_done.push_back(std::move(job));
    }
    m_doneCv.notify_all();
}
