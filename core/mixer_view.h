// SPDX-License-Identifier: GPL-3.0-or-later
// What the set controller needs of its window. The Qt window implements it; tests implement it
// with a fake that records calls and answers dialogs and questions.
#pragma once

#include "core/set_sound_load.h"
#include "input/hotkey.h"
#include "model/effect_table.h"
#include "playback/active_play_list.h"

#include <cstdint>
#include <string>

// Values the effect editor is opened with and returns on OK (CP932 texts).
struct EffectEditorValues {
    std::string strWavePath;
    std::string strName;
    std::uint16_t wKey = 0;
    std::uint16_t wModifiers = 0;
    std::int32_t nPan = 0;
    std::int32_t nVolume = 0;
    std::int32_t nRepeat = 1;
    std::int32_t nInterval = 0;
    EffectOptions options; // with the fields this version does not know, to be written back
};

// Values the new-set dialog returns on OK (CP932 texts, as typed or picked).
struct NewSetValues {
    std::string strWavePath;
    std::string strFileName;
};

class IMixerView {
public:
    virtual ~IMixerView() = default;

    // The window handle the sound device is opened for (opaque).
    virtual void* WindowHandle() = 0;
    // Start-up step 4: list styles and columns; step 10: the popup menus.
    virtual void SetUpLists() = 0;
    virtual void LoadPopupMenus() = 0;
    // The keyboard layout the desktop reports ("jp", "us", a locale...), empty when unknown.
    virtual std::string KeyboardLayoutHint() = 0;

    // Both lists are always rebuilt whole; rows keep the entry / job they show.
    virtual void FillEffectList(const EffectTable& table, HKL layout) = 0;
    virtual void FillPlayList(const ActivePlayList& jobs) = 0;
    virtual int GetEffectSelectionMark() = 0; // -1 = none
    virtual int GetPlaySelectionMark() = 0;   // -1 = none
    // Gives the row the selected and focused states (after an edit).
    virtual void SelectEffectRow(int index) = 0;

    // The set selector (a drop-down list of file names, not sorted).
    virtual void ResetSetSelector() = 0;
    virtual int AddSetSelectorItem(const std::string& fileName) = 0; // returns its index
    virtual void SetSetSelectorCurSel(int index) = 0;
    virtual int GetSetSelectorCurSel() = 0; // -1 = none
    virtual std::string GetSetSelectorText(int index) = 0;

    // Modal dialogs: IDOK or IDCANCEL. `values` goes in and, on IDOK, comes back changed.
    virtual int RunEffectEditor(const std::string& waveDir, EffectEditorValues& values) = 0;
    virtual int RunNewSetDialog(const std::string& initialFolder, NewSetValues& values) = 0;

    // Returns once every sound of the set being opened has loaded on the loading threads. The
    // window keeps painting meanwhile and shows how far it got when it takes long; a window
    // without a loop of its own just waits.
    virtual void WaitForSetLoad(CSetSoundLoad& load) { load.Wait(); }

    // Hands a finished job to the window's thread; the window then calls
    // CSetController::OnPlayDone there. Called from worker threads.
    virtual void PostPlayDone(PlayJobPtr job) = 0;
};
