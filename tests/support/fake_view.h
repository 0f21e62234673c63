// SPDX-License-Identifier: GPL-3.0-or-later
// A window stand-in for the set controller's tests: records every call in order, answers the
// two dialogs from queues, keeps what the lists and the set selector were given, and queues
// "play done" reports from worker threads for the test thread to hand back.
#pragma once

#include "core/mixer_view.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class FakeMixerView : public IMixerView {
public:
    struct EditorAnswer {
        int result = IDOK;
        EffectEditorValues values;
        std::string changeDirectoryTo; // UTF-8; the dialog moves the current directory there
    };
    struct EditorCall {
        std::string waveDir;
        EffectEditorValues values;    // as the dialog was opened
        std::string currentDirectory; // system encoding, while it was open
    };
    struct NewSetAnswer {
        int result = IDOK;
        NewSetValues values;
    };

    // --- what the test sets up
    std::string m_strLayoutHint = "jp";
    int m_nEffectMark = -1;
    int m_nPlayMark = -1;
    void QueueEditor(EditorAnswer answer) { m_editorAnswers.push_back(std::move(answer)); }
    void QueueNewSet(NewSetAnswer answer) { m_newSetAnswers.push_back(std::move(answer)); }
    // Chooses the selector item with this text (-1 when none has it); returns the index.
    int ChooseSet(const std::string& fileName);

    // --- what the test reads
    // Every call, in order: the member's name, for FillEffectList/FillPlayList with the row count
    // ("FillEffectList 2"), for SelectEffectRow and SetSetSelectorCurSel with the index.
    const std::vector<std::string>& Calls() const { return m_calls; }
    void ClearCalls() { m_calls.clear(); }
    int CountCalls(const std::string& name) const; // exact text or the name before the space
    const std::vector<EffectEntryPtr>& EffectRows() const { return m_effectRows; }
    const std::vector<PlayJobPtr>& PlayRows() const { return m_playRows; }
    HKL LastLayout() const { return m_lastLayout; }
    const std::vector<std::string>& SelectorItems() const { return m_selectorItems; }
    int SelectorCurSel() const { return m_nSelectorCurSel; }
    const std::vector<EditorCall>& EditorCalls() const { return m_editorCalls; }
    const std::vector<std::string>& NewSetFolders() const { return m_newSetFolders; }

    // Reports posted by workers, waited for with a deadline (generous: the machine is shared).
    std::optional<PlayJobPtr> WaitPlayDone(std::chrono::milliseconds timeout);
    std::vector<PlayJobPtr> TakePlayDone();
    // Every job any worker has reported, kept for the test's later checks.
    std::vector<PlayJobPtr> ReportedJobs() const;

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
    void PostPlayDone(PlayJobPtr job) override;

private:
    std::vector<std::string> m_calls;
    std::vector<EffectEntryPtr> m_effectRows;
    std::vector<PlayJobPtr> m_playRows;
    HKL m_lastLayout = nullptr;
    std::vector<std::string> m_selectorItems;
    int m_nSelectorCurSel = -1;
    std::deque<EditorAnswer> m_editorAnswers;
    std::vector<EditorCall> m_editorCalls;
    std::deque<NewSetAnswer> m_newSetAnswers;
    std::vector<std::string> m_newSetFolders;

    mutable std::mutex m_doneMutex; // the only state worker threads touch
    std::condition_variable m_doneCv;
    std::deque<PlayJobPtr> m_done;
    std::vector<PlayJobPtr> m_reported;
};
