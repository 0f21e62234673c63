// SPDX-License-Identifier: GPL-3.0-or-later
// The non-visual half of the main window: owns every piece of state of the open set and carries
// out the start-up, the shut-down and every command that changes the set. Window thread only.
#pragma once

#include "audio/sound_device.h"
#include "core/app_settings.h"
#include "core/mixer_view.h"
#include "core/output_choice.h"
#include "input/hotkey.h"
#include "input/key_trigger.h"
#include "model/effect_table.h"
#include "playback/active_play_list.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A playback joined or left the play list, whatever started or stopped it.
struct PlayNews {
    bool bStarted = false; // false: it has left the list
    std::uint64_t nId = 0; // the playback's PlayJob::nId, never reused
    std::string strName;   // the effect's name as it started, UTF-8
    bool operator==(const PlayNews&) const = default;
};
using PlayNewsListener = std::function<void(const PlayNews&)>;

class CSetController : public IKeyTriggerTarget {
public:
    // executablePath: empty = the running executable (tests give a temporary directory's file).
    explicit CSetController(IMixerView& view, std::string executablePath = {});
    ~CSetController() override;
    CSetController(const CSetController&) = delete;
    CSetController& operator=(const CSetController&) = delete;

    // Start-up and shut-down sequences.
    bool OnInitDialog();
    void DestroyWindow();

    // Commands.
    void PlaySelected() override;
    void AddEffect();
    // Sound files dropped on the effect list (system paths, in drop order): one opens the editor
    // filled in from it; several are added as they are, without hotkeys, the set written once.
    void AddDroppedFiles(const std::vector<std::string>& osPaths);
    void EditEffect() override;
    void DeleteEffect();
    void SwitchSet();
    void NewSet();
    void CloseSet();
    void FillSetSelector();
    // The set files the selector lists (CP932), in its order; a switch to one of them by name,
    // as choosing its row would do. False when the selector lists no such set.
    const std::vector<std::string>& SetNames() const { return m_setNames; }
    bool SwitchSetTo(const std::string& fileName);
    // The global-hotkey switch, remembered in Otomaru.ini.
    void SetGlobalHotkeys(bool on);
    // Equal loudness, remembered in Otomaru.ini; heard from each effect's next start.
    void SetEqualLoudness(bool on);
    // The web remote's switch and its every-address switch, remembered in Otomaru.ini. The first
    // switch-on makes the token; false when none could be made (the remote stays off).
    bool SetWebRemote(bool on);
    void SetWebRemoteEveryAddress(bool on);

    // The main window's place, size and column widths, remembered at shut-down.
    void RememberWindowLayout(const WindowLayout& layout) { m_settings.SaveWindowLayout(layout); }

    // Playbacks.
    void StartPlayback(const EffectEntryPtr& entry) override;
    // A hold effect's key went up: its playback fades out as a stop by command does.
    void ReleasePlayback(const EffectEntryPtr& entry) override;
    void StopSelected();
    // Fades out every playback of the entry; each leaves the list when its worker reports.
    void StopEffect(const EffectEntry& entry);
    // The same for the one playback of that id; false when none is listed.
    bool StopPlayback(std::uint64_t id);

    // The selected playback's level `stepDb` up or down from where it is, or back to 0 dB.
    void StepSelectedLevel(int stepDb);
    void ResetSelectedLevel();
    void StopAll();
    void OnPlayDone(const PlayJobPtr& job);

    // Surfaces that push the play list hear of every change after the window's list shows it.
    // A listener added sees only what changes from then on. Returns a handle for Remove.
    int AddPlayNewsListener(PlayNewsListener listener);
    void RemovePlayNewsListener(int handle);

    // Output devices (names UTF-8, as the sound system gives them). A choice takes effect at
    // once, sounds already playing included, and is remembered in Otomaru.ini.
    std::vector<std::string> OutputDeviceNames() const;
    const OutputRoute& Route() const { return m_output.Route(); }
    void ChooseOutputDevice(const std::string& name) { m_output.ChooseMain(name); }
    void ChooseMonitorDevice(bool on, const std::string& name) { m_output.ChooseMonitor(on, name); }
    // One line about the sound output for the window's title (CP932); empty while all is well.
    std::string SoundStatusLine() const { return m_output.StatusLine(); }
    bool MonitorPlays() const { return m_output.MonitorPlays(); }
    // The virtual microphone's choices and the sign that the sound server came back.
    COutputChoice& Output() { return m_output; }

    // Keyboard and mouse triggers; true = the key-down is consumed.
    bool TranslateKeyMessage(unsigned message, const std::uint8_t keyState[256]);
    void OnClickEffectList(bool ctrlDown);
    void OnDblclkEffectList(bool shiftDown);

    // State, read by the window and tests.
    const EffectTable& Effects() const { return m_effects; }
    const ActivePlayList& Playbacks() const { return m_playbacks; }
    const AppSettings& Settings() const { return m_settings; }
    const std::string& WaveDirectory() const { return m_strWaveDir; }
    const std::string& SetFilePath() const { return m_strSetFilePath; }
    // False after a failed read of a set file that is there: Add, Edit and Delete refuse.
    bool SetMayBeWritten() const { return m_strSetNotRead.empty(); }
    // Whether the table holds the open set: false while one is being read (its sounds load with
    // the window's loop running) and once the window has closed it.
    bool IsSetOpen() const { return m_bSetOpen; }
    HKL KeyLayout() const { return m_hKeyLayout; }
    CSoundDevice& Device() { return m_device; }

private:
    // Reads the set file path into the table and rebuilds the effect list, also after a failed
    // read, so that no row is left showing an entry of the set that was closed.
    bool ReadCurrentSet();
    // Whether Add, Edit and Delete may write the set file; says why not when they may not.
    bool MayWriteSet() const;
    // Opens the editor on these values and appends what it returns.
    void AddFromEditor(EffectEditorValues values);
    // The editor values a dropped file starts from: its stored path and its name (CP932). Says
    // why and gives false when the file cannot be an effect.
    bool DroppedFileValues(const std::string& osPath, EffectEditorValues& values) const;
    // Gives an entry the sound its path names, when that file is there and loads.
    void LoadSound(EffectEntry& entry);
    // Gives an entry the sounds of its added files; those of `before` (the files it had) that
    // stay keep their sound, the rest are released.
    void LoadAddedSounds(EffectEntry& entry, const std::vector<std::string>& before);
    WaveLoader Loader();
    // Measures the loudness of every loaded sound not measured yet, while equal loudness is on.
    void MeasureLoudness();
    // Rebuilds the window's play list and tells the listeners what changed.
    void ShowPlayList();
    // Whether a new set's file name names a plain file in the executable directory.
    bool IsUsableSetFileName(const std::string& fileName) const;

    IMixerView& m_view;
    // Workers post "play done" through this; cut when the controller goes, so that a worker that
    // outlived its stop can never reach a view that is gone.
    std::shared_ptr<PlayDoneRelay> m_pPlayDone;
    std::string m_strExecutablePath;
    std::string m_strWaveDir;
    std::string m_strSetFilePath;
    // The message of the failed read of a set file that is there; empty when it may be written.
    std::string m_strSetNotRead;
    bool m_bSetOpen = false;
    EffectTable m_effects;
    ActivePlayList m_playbacks;
    AppSettings m_settings;
    HKL m_hKeyLayout = nullptr;
    CSoundDevice m_device;
    SoundBufferSlot m_pJingle;
    // Selector rows of set files whose names CP932 cannot hold (shown with '?'): rows, not
    // names, since a set may really be named like that '?' form.
    std::vector<int> m_unstorableSetRows;
    std::vector<std::string> m_setNames;
    COutputChoice m_output{m_device, m_settings};
    std::vector<std::pair<int, PlayNewsListener>> m_playListeners;
    int m_nLastListener = 0;
    // What the listeners were last told is listed, in start order (ids ascending); kept only
    // while there is a listener.
    std::vector<PlayNews> m_announced;
};
