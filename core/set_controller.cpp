// SPDX-License-Identifier: GPL-3.0-or-later
// The set controller: start-up, shut-down and the commands that change the open set. Everything
// here runs on the window's thread; workers reach back only through the post target.
#include "core/set_controller.h"

#include "audio/loudness.h"
#include "base/message.h"
#include "base/text.h"
#include "core/set_file.h"
#include "core/texts.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

// Every OK box of the file, set and command family carries the exclamation icon.
void Tell(const std::string& text) {
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

// The set file separates its fields with commas and its lines with line breaks, and has no
// escape: either in a name or path would shift or split the line when it is read back.
bool FitsTheSetFile(const EffectEditorValues& values) {
    if (!IsStorableFieldText(values.strName) || !IsStorableFieldText(values.strWavePath)) {
        Tell(Cp932FromUtf8(texts::kNoCommaOrLineBreak));
        return false;
    }
    for (const std::string& file : values.options.files) {
        if (!IsStorableFieldText(file) || !FitsFileList(file)) {
            Tell(Cp932FromUtf8(texts::kNoCommaBarOrLineBreakInFiles));
            return false;
        }
    }
    return true;
}

// Every sound an entry holds goes; a job still playing one keeps it until it ends.
void ReleaseSounds(EffectEntry& entry) {
    CSoundDevice::ReleaseBuffer(entry.pBuffer);
    for (EffectSound& sound : entry.extraSounds)
        CSoundDevice::ReleaseBuffer(sound.pBuffer);
    entry.extraSounds.clear();
}

// Everything the editor gives but the path, whose stored form each caller decides.
void TakeEditorValues(EffectEntry& entry, EffectEditorValues&& values) {
    entry.strName = std::move(values.strName);
    entry.nModifiers = values.wModifiers;
    entry.nKey = values.wKey;
    entry.nPan = values.nPan;
    entry.nVolume = values.nVolume;
    entry.nRepeat = values.nRepeat;
    entry.nInterval = values.nInterval;
    entry.options = std::move(values.options);
    // The paths of added files are stored as the main path is.
    for (std::string& file : entry.options.files)
        file = ToStoredPath(file);
}

bool Ask(const std::string& text) {
    return AfxMessageBox(text, MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

// The current directory comes back however the dialog ends: its file chooser may move it, and
// relative WAVE paths are resolved against it.
class CurrentDirectoryKeeper {
public:
    CurrentDirectoryKeeper() : m_strSaved(GetCurrentDirectoryA()) {}
    ~CurrentDirectoryKeeper() {
        if (!m_strSaved.empty())
            SetCurrentDirectoryA(m_strSaved);
    }
    CurrentDirectoryKeeper(const CurrentDirectoryKeeper&) = delete;
    CurrentDirectoryKeeper& operator=(const CurrentDirectoryKeeper&) = delete;

private:
    std::string m_strSaved;
};

// The "*.txt" search of the platform the sets come from ignores letter case: "SET.TXT" is a set.
bool EndsWithTxt(const std::string& name) {
    static const std::string kExt = ".txt";
    if (name.size() < kExt.size())
        return false;
    const std::string_view tail = std::string_view(name).substr(name.size() - kExt.size());
    for (std::size_t i = 0; i < kExt.size(); ++i) {
        const char c = tail[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != kExt[i])
            return false;
    }
    return true;
}

} // namespace

CSetController::CSetController(IMixerView& view, std::string executablePath)
    : m_view(view), m_pPlayDone(std::make_shared<PlayDoneRelay>(
                        [&view](PlayJobPtr job) { view.PostPlayDone(std::move(job)); })),
      m_strExecutablePath(std::move(executablePath)) {}

CSetController::~CSetController() {
    // Workers still listed post while they end; stop them while the view is still reachable,
    // then cut the path for any that had to be left running.
    m_playbacks.StopAll();
    m_pPlayDone->Cut();
}

bool CSetController::OnInitDialog() {
    if (m_strExecutablePath.empty())
        m_settings.LocateFiles();
    else
        m_settings.LocateFilesFrom(m_strExecutablePath);
    m_settings.LoadSettings();

    SetCurrentDirectoryA(m_settings.m_strExeDir);
    m_view.SetUpLists();

    // The output starts on the remembered devices, so that the jingle already plays there.
    m_output.LoadRemembered();

    // Without sound the program still runs: the results are not looked at.
    m_device.Open(m_view.WindowHandle(), 2, 22050, 16, m_output.Config());
    m_device.LoadStartupSound(m_pJingle, IDR_WAVE_JINGLE);
    m_device.PlayFromStart(m_pJingle);

    m_hKeyLayout = LoadKeyLayout(m_view.KeyboardLayoutHint());

    m_strSetFilePath = JoinOsPath(m_settings.m_strExeDir, m_settings.m_strSoundsFile);
    ReadCurrentSet();
    FillSetSelector();
    m_view.LoadPopupMenus();
    return true;
}

std::vector<std::string> CSetController::OutputDeviceNames() const {
    return m_device.OutputDeviceNames();
}

void CSetController::DestroyWindow() {
    CloseSet();
    CSoundDevice::ReleaseBuffer(m_pJingle);
}

bool CSetController::ReadCurrentSet() {
    std::string shown;
    // The set is read whole first and its sounds loaded after, on every core; the table stays
    // empty until then, so nothing the window's loop runs meanwhile meets a half-loaded set.
    EffectTable table;
    const bool ok = ReadSetFile(m_strSetFilePath, table, m_strWaveDir, nullptr, &shown);
    // A missing set may be made by the first Add; one that is there but was not read whole
    // (not a set, unreadable, cut by an I/O error) would be lost under a write.
    m_strSetNotRead = ok || !OsPathExists(m_strSetFilePath) ? std::string() : shown;
    if (table.GetSize() > 0) {
        // Loudness is measured where the sound was decoded, on every core; the window's thread
        // then only reads what each buffer keeps.
        CSetSoundLoad load(table, m_strWaveDir,
                           [&device = m_device, measure = m_settings.m_bEqualLoudness](
                               const std::string& fullPath, SoundBufferSlot& slot) {
                               const std::uint32_t length = device.LoadWaveFile(fullPath, slot);
                               double lufs = 0;
                               double peak = 0;
                               if (ISoundBufferShape* shape = QueryBufferShape(slot.get());
                                   measure && shape != nullptr)
                                   shape->MeasurePlayedLoudness(&lufs, &peak);
                               return length;
                           });
        m_view.WaitForSetLoad(load);
        load.Finish();
    }
    m_effects = std::move(table);
    m_bSetOpen = true;
    MeasureLoudness();
    m_view.FillEffectList(m_effects, m_hKeyLayout);
    return ok;
}

bool CSetController::MayWriteSet() const {
    // Between a close and the end of the next read the table does not hold the set; the window
    // lets no command through then, and a write would leave only what was added.
    if (!m_bSetOpen)
        return false;
    if (m_strSetNotRead.empty())
        return true;
    Tell(m_strSetNotRead);
    return false;
}

WaveLoader CSetController::Loader() {
    return [&device = m_device](const std::string& fullPath, SoundBufferSlot& slot) {
        return device.LoadWaveFile(fullPath, slot);
    };
}

void CSetController::LoadSound(EffectEntry& entry) {
    EffectSound own = LoadEffectSound(Loader(), ResolveWavePath(m_strWaveDir, entry.strWavePath));
    if (!own.pBuffer)
        return;
    // No job can hold an entry without a sound, so the window's thread may give it one.
    entry.pBuffer = std::move(own.pBuffer);
    entry.dwDataLength = own.dwDataLength;
    entry.loudness.reset();
}

void CSetController::LoadAddedSounds(EffectEntry& entry, const std::vector<std::string>& before) {
    std::vector<EffectSound> sounds;
    for (const std::string& file : entry.options.files) {
        // A file that stays keeps its sound; a job may be playing it.
        const auto kept = std::find(before.begin(), before.end(), file);
        const auto k = static_cast<std::size_t>(kept - before.begin());
        if (kept != before.end() && k < entry.extraSounds.size() && entry.extraSounds[k].pBuffer) {
            sounds.push_back(std::move(entry.extraSounds[k]));
            continue;
        }
        const std::string fullPath = ResolveWavePath(m_strWaveDir, file);
        if (!FileExists(fullPath))
            Tell(fullPath + Cp932FromUtf8(texts::kCannotLoad));
        sounds.push_back(LoadEffectSound(Loader(), fullPath));
    }
    for (EffectSound& gone : entry.extraSounds)
        CSoundDevice::ReleaseBuffer(gone.pBuffer);
    entry.extraSounds = std::move(sounds);
    if (entry.options.files != before)
        entry.nLastPick = -1;
}

void CSetController::MeasureLoudness() {
    if (!m_settings.m_bEqualLoudness)
        return;
    auto measure = [](const SoundBufferPtr& buffer, std::optional<Loudness>& loudness) {
        ISoundBufferShape* shape = QueryBufferShape(buffer.get());
        Loudness measured{};
        if (loudness || !shape ||
            !shape->MeasurePlayedLoudness(&measured.dIntegratedLufs, &measured.dTruePeakDb))
            return;
        loudness = measured;
    };
    for (int i = 0; i < m_effects.GetSize(); ++i) {
        EffectEntry& entry = m_effects.GetAt(i);
        measure(entry.pBuffer, entry.loudness);
        for (EffectSound& sound : entry.extraSounds)
            measure(sound.pBuffer, sound.loudness);
    }
}

void CSetController::PlaySelected() {
    const int mark = m_view.GetEffectSelectionMark();
    if (mark < 0 || mark >= m_effects.GetSize())
        return;
    StartPlayback(m_effects.GetPtrAt(mark));
}

void CSetController::AddEffect() {
    if (!MayWriteSet())
        return;
    AddFromEditor({}); // empty path and name, no hotkey, centre, full, once, no gap
}

void CSetController::AddFromEditor(EffectEditorValues values) {
    int result;
    {
        CurrentDirectoryKeeper keep;
        result = m_view.RunEffectEditor(m_strWaveDir, values);
    }
    if (result != IDOK || !FitsTheSetFile(values))
        return;

    const std::string storedPath = ToStoredPath(values.strWavePath);
    const std::string fullPath = ResolveWavePath(m_strWaveDir, storedPath);
    if (!FileExists(fullPath)) {
        Tell(fullPath + Cp932FromUtf8(texts::kCannotLoad));
        return;
    }
    // A file that does not load (the loader has said why) or a closed device still gives an
    // entry, without a sound: it is kept in the set like one read from the file, and sounds once
    // the set is read again with a file and a device that work.
    EffectEntry entry;
    entry.strWavePath = storedPath;
    TakeEditorValues(entry, std::move(values));
    LoadSound(entry);
    LoadAddedSounds(entry, {});
    m_effects.Add(entry);
    MeasureLoudness();

    m_view.FillEffectList(m_effects, m_hKeyLayout);
    WriteSetFile(m_strSetFilePath, m_strWaveDir, m_effects);
}

bool CSetController::DroppedFileValues(const std::string& osPath,
                                       EffectEditorValues& values) const {
    namespace fs = std::filesystem;
    const fs::path file(osPath);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        Tell(Cp932FromUtf8(osPath) + Cp932FromUtf8(texts::kCannotLoad));
        return false;
    }
    const std::string unholdable =
        Cp932FromUtf8(osPath) + "\n" + Cp932FromUtf8(texts::kUnholdableText);
    std::string fileName;
    values = {};
    if (!TryCp932FromUtf8(file.filename().string(), fileName) ||
        !TryCp932FromUtf8(file.stem().string(), values.strName)) {
        Tell(unholdable);
        return false;
    }
    // The text that names the file the way the set reads it: its bare name where the WAVE
    // directory is its folder, a path through the WAVE directory below it, else the full path.
    if (fs::equivalent(ToOsPath(ResolveWavePath(m_strWaveDir, fileName)), file, ec)) {
        values.strWavePath = fileName;
        return true;
    }
    // A directory written by hand may end in '/'; one entered here ends in a backslash.
    const std::size_t last = FindLastBackslash(m_strWaveDir);
    if ((last != std::string::npos && last + 1 == m_strWaveDir.size()) ||
        (!m_strWaveDir.empty() && m_strWaveDir.back() == '/')) {
        std::error_code belowEc;
        const fs::path below =
            fs::weakly_canonical(file, belowEc)
                .lexically_relative(fs::weakly_canonical(ToOsPath(m_strWaveDir), belowEc));
        std::string relative;
        if (!belowEc && !below.empty() && *below.begin() != ".." &&
            TryCp932FromUtf8(below.string(), relative)) {
            values.strWavePath = m_strWaveDir + ToStoredPath(relative);
            return true;
        }
    }
    std::string absolute;
    if (!TryCp932FromUtf8(fs::absolute(file, ec).lexically_normal().string(), absolute)) {
        Tell(unholdable);
        return false;
    }
    values.strWavePath = ToStoredPath(absolute);
    return true;
}

void CSetController::AddDroppedFiles(const std::vector<std::string>& osPaths) {
    if (osPaths.empty() || !MayWriteSet())
        return;
    if (osPaths.size() == 1) {
        EffectEditorValues values;
        if (DroppedFileValues(osPaths.front(), values))
            AddFromEditor(std::move(values));
        return;
    }
    bool added = false;
    for (const std::string& osPath : osPaths) {
        EffectEditorValues values;
        if (!DroppedFileValues(osPath, values))
            continue;
        if (!IsStorableFieldText(values.strName) || !IsStorableFieldText(values.strWavePath)) {
            Tell(Cp932FromUtf8(osPath) + "\n" + Cp932FromUtf8(texts::kNoCommaOrLineBreak));
            continue;
        }
        EffectEntry entry;
        entry.strWavePath = values.strWavePath;
        TakeEditorValues(entry, std::move(values));
        LoadSound(entry); // one that does not load is kept greyed, as Add keeps it
        m_effects.Add(entry);
        added = true;
    }
    if (!added)
        return;
    MeasureLoudness();
    m_view.FillEffectList(m_effects, m_hKeyLayout);
    WriteSetFile(m_strSetFilePath, m_strWaveDir, m_effects);
}

void CSetController::EditEffect() {
    const int mark = m_view.GetEffectSelectionMark();
    if (mark < 0 || mark >= m_effects.GetSize() || !MayWriteSet())
        return;
    EffectEntry& entry = m_effects.GetAt(mark);

    EffectEditorValues values;
    values.strWavePath = entry.strWavePath;
    values.strName = entry.strName;
    values.wKey = static_cast<std::uint16_t>(entry.nKey.load() & 0xFFFF);
    values.wModifiers = static_cast<std::uint16_t>(entry.nModifiers.load() & 0xFFFF);
    values.nPan = entry.nPan;
    values.nVolume = entry.nVolume;
    values.nRepeat = entry.nRepeat;
    values.nInterval = entry.nInterval;
    values.options = entry.options;
    int result;
    {
        CurrentDirectoryKeeper keep;
        result = m_view.RunEffectEditor(m_strWaveDir, values);
    }
    if (result != IDOK || !FitsTheSetFile(values))
        return;

    // A sound stays as loaded: a new path is used the next time the set is read. An unchanged
    // path stays as read: "sub/x.wav" is read from the WAVE folder, "sub\x.wav" from the
    // current one.
    if (values.strWavePath != entry.strWavePath)
        entry.strWavePath = ToStoredPath(values.strWavePath);
    const std::vector<std::string> filesBefore = entry.options.files;
    TakeEditorValues(entry, std::move(values));
    // An effect kept without a sound gets one as soon as its path names a file that loads;
    // added files are heard from the next start.
    if (!entry.pBuffer)
        LoadSound(entry);
    LoadAddedSounds(entry, filesBefore);
    MeasureLoudness();
    for (int k = 0; k <= static_cast<int>(entry.extraSounds.size()); ++k) {
        if (const SoundBufferPtr buffer = entry.SoundAt(k).pBuffer) {
            buffer->SetPan(entry.nPan);
            buffer->SetVolume(entry.nVolume);
        }
    }

    m_view.FillEffectList(m_effects, m_hKeyLayout);
    ShowPlayList();
    m_view.SelectEffectRow(mark);
    WriteSetFile(m_strSetFilePath, m_strWaveDir, m_effects);
}

void CSetController::DeleteEffect() {
    const int mark = m_view.GetEffectSelectionMark();
    if (mark < 0 || mark >= m_effects.GetSize() || !MayWriteSet())
        return;
    const EffectEntryPtr entry = m_effects.GetPtrAt(mark);
    if (!Ask(entry->strName + Cp932FromUtf8(texts::kAskDelete)))
        return;
    if (m_playbacks.IsPlaying(entry.get())) {
        Tell(Cp932FromUtf8(texts::kPlayingNoDelete));
        return;
    }
    ReleaseSounds(*entry);
    m_effects.RemoveAt(mark);
    m_view.FillEffectList(m_effects, m_hKeyLayout);
    WriteSetFile(m_strSetFilePath, m_strWaveDir, m_effects);
}

void CSetController::SwitchSet() {
    const int index = m_view.GetSetSelectorCurSel();
    if (index < 0)
        return;
    const std::string fileName = m_view.GetSetSelectorText(index);
    if (std::find(m_unstorableSetRows.begin(), m_unstorableSetRows.end(), index) !=
        m_unstorableSetRows.end()) {
        AfxMessageBox(fileName + Cp932FromUtf8(texts::kUnstorableSetName),
                      MB_OK | MB_ICONEXCLAMATION);
        FillSetSelector(); // back on the set that stays open
        return;
    }
    const std::string newPath = JoinOsPath(m_settings.m_strExeDir, fileName);
    if (newPath == m_strSetFilePath)
        return;

    CloseSet();
    m_strSetFilePath = newPath;
    m_settings.m_strSoundsFile = fileName;
    m_settings.SaveSettings();
    ReadCurrentSet();
}

bool CSetController::SwitchSetTo(const std::string& fileName) {
    const auto it = std::find(m_setNames.begin(), m_setNames.end(), fileName);
    if (it == m_setNames.end())
        return false;
    m_view.SetSetSelectorCurSel(static_cast<int>(it - m_setNames.begin()));
    SwitchSet();
    return true;
}

bool CSetController::IsUsableSetFileName(const std::string& fileName) const {
    if (fileName.empty() || fileName == "." || fileName == "..")
        return false;
    // '/' is never the second byte of a two-byte character; a backslash may be.
    if (fileName.find('/') != std::string::npos || FindBackslash(fileName) != std::string::npos)
        return false;
    std::error_code ec;
    return !std::filesystem::is_directory(JoinOsPath(m_settings.m_strExeDir, fileName), ec);
}

void CSetController::NewSet() {
    if (!Ask(Cp932FromUtf8(texts::kAskNewSet)))
        return;
    NewSetValues values;
    if (m_view.RunNewSetDialog(m_settings.m_strExeDir, values) != IDOK)
        return;

    // Both checks come before anything is closed, so a refusal leaves the open set as it was.
    if (!IsUsableSetFileName(values.strFileName)) {
        Tell(Cp932FromUtf8(texts::kBadSetFileName));
        return;
    }
    const std::string newPath = JoinOsPath(m_settings.m_strExeDir, values.strFileName);
    std::error_code existsEc;
    if (std::filesystem::exists(newPath, existsEc) &&
        !Ask(values.strFileName + Cp932FromUtf8(texts::kAskOverwrite)))
        return;

    CloseSet();
    SetCurrentDirectoryA(m_settings.m_strExeDir);
    m_strWaveDir = ToStoredPath(values.strWavePath);
    m_strSetFilePath = newPath;
    WriteSetFile(m_strSetFilePath, m_strWaveDir, m_effects);

    // The selector is filled while the previous name is still current, so its choice stays on
    // the set that was open before.
    FillSetSelector();
    m_settings.m_strSoundsFile = values.strFileName;
    m_settings.SaveSettings();
    ReadCurrentSet();
}

void CSetController::CloseSet() {
    m_bSetOpen = false;
    StopAll();
    for (int i = 0; i < m_effects.GetSize(); ++i)
        ReleaseSounds(m_effects.GetAt(i));
    m_effects.RemoveAll();
}

void CSetController::FillSetSelector() {
    m_view.ResetSetSelector();

    // The host lists a directory in no particular order; sorted names keep the selector stable.
    struct Name {
        std::string text;
        bool unstorable;
        auto operator<=>(const Name&) const = default;
    };
    std::vector<Name> names;
    m_unstorableSetRows.clear();
    std::error_code ec;
    std::filesystem::directory_iterator it(m_settings.m_strExeDir, ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc))
            continue;
        const std::string osName = it->path().filename().string();
        Name name{{}, false};
        // A name CP932 cannot hold could never be remembered: it is listed, so that choosing
        // it tells why it does not open.
        if (!TryCp932FromUtf8(osName, name.text)) {
            name.text = Cp932FromUtf8(osName);
            name.unstorable = true;
        }
        if (EndsWithTxt(name.text))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());

    m_setNames.clear();
    for (const Name& name : names) {
        m_setNames.push_back(name.text);
        const int index = m_view.AddSetSelectorItem(name.text);
        if (name.unstorable)
            m_unstorableSetRows.push_back(index);
        else if (name.text == m_settings.m_strSoundsFile)
            m_view.SetSetSelectorCurSel(index);
    }
}

void CSetController::SetGlobalHotkeys(bool on) {
    m_settings.m_bGlobalHotkeys = on;
    m_settings.SaveGlobalHotkeys();
}

void CSetController::SetEqualLoudness(bool on) {
    m_settings.m_bEqualLoudness = on;
    m_settings.SaveLoudnessTarget();
    MeasureLoudness();
}

bool CSetController::SetWebRemote(bool on) {
    m_settings.m_bWebRemote = on;
    m_settings.SaveWebRemote();
    return m_settings.m_bWebRemote == on;
}

void CSetController::SetWebRemoteEveryAddress(bool on) {
    m_settings.m_strWebRemoteAddress = on ? std::string(AppSettings::kEveryAddress) : "";
    m_settings.SaveWebRemote();
}

// Every press comes here: the window's keys and buttons, global hotkeys and the remote.
void CSetController::StartPlayback(const EffectEntryPtr& entry) {
    if (!entry || !entry->IsAvailable())
        return;
    const EffectOptions& options = entry->options;
    // Hold restarts: a trigger that brings no release plays it as restart does.
    if (options.retrigger != EffectOptions::Retrigger::Default &&
        m_playbacks.StopEffect(entry.get()) != 0 &&
        options.retrigger == EffectOptions::Retrigger::Toggle)
        return;
    if (options.nChoke != 0)
        m_playbacks.StopChokeGroup(options.nChoke, entry.get());
    const int pick = entry->PickSound();
    const std::optional<Loudness> loudness = entry->SoundAt(pick).loudness;
    const float gain = m_settings.m_bEqualLoudness && loudness
                           ? LoudnessGain(*loudness, m_settings.m_dLoudnessTarget)
                           : 1.0f;
    const bool listed = m_playbacks.StartPlayback(
        entry, [relay = m_pPlayDone](PlayJobPtr job) { relay->Post(std::move(job)); }, gain, pick);
    if (listed)
        ShowPlayList();
}

void CSetController::ReleasePlayback(const EffectEntryPtr& entry) {
    if (entry && entry->options.retrigger == EffectOptions::Retrigger::Hold)
        m_playbacks.StopEffect(entry.get());
}

void CSetController::StopSelected() {
    const int mark = m_view.GetPlaySelectionMark();
    if (mark < 0 || mark >= m_playbacks.GetSize())
        return;
    m_playbacks.StopSelected(mark);
}

void CSetController::StopEffect(const EffectEntry& entry) {
    m_playbacks.StopEffect(&entry);
}

bool CSetController::StopPlayback(std::uint64_t id) {
    for (int i = 0; i < m_playbacks.GetSize(); ++i) {
        if (m_playbacks.GetAt(i)->nId == id) {
            m_playbacks.StopSelected(i);
            return true;
        }
    }
    return false;
}

void CSetController::StepSelectedLevel(int stepDb) {
    const int mark = m_view.GetPlaySelectionMark();
    if (mark >= 0 && mark < m_playbacks.GetSize())
        m_playbacks.SetLevel(mark, m_playbacks.GetAt(mark)->nLiveDb + stepDb);
}

void CSetController::ResetSelectedLevel() {
    m_playbacks.SetLevel(m_view.GetPlaySelectionMark(), 0);
}

void CSetController::StopAll() {
    m_playbacks.StopAll();
    // The jobs are gone now; their rows must not wait for the workers' reports.
    ShowPlayList();
}

void CSetController::OnPlayDone(const PlayJobPtr& job) {
    m_playbacks.OnPlayDone(job.get());
    ShowPlayList();
}

int CSetController::AddPlayNewsListener(PlayNewsListener listener) {
    if (m_playListeners.empty()) {
        m_announced.clear();
        for (int i = 0; i < m_playbacks.GetSize(); ++i) {
            const PlayJob& job = *m_playbacks.GetAt(i);
            m_announced.push_back({true, job.nId, Utf8FromCp932(job.pEntry->strName)});
        }
    }
    m_playListeners.emplace_back(++m_nLastListener, std::move(listener));
    return m_nLastListener;
}

void CSetController::RemovePlayNewsListener(int handle) {
    std::erase_if(m_playListeners, [handle](const auto& l) { return l.first == handle; });
    if (m_playListeners.empty())
        m_announced = {};
}

void CSetController::ShowPlayList() {
    m_view.FillPlayList(m_playbacks);
    if (m_playListeners.empty())
        return;
    // Both lists are in start order, and ids grow with every start: one walk finds the changes.
    std::vector<PlayNews> news;
    std::vector<PlayNews> now;
    std::size_t old = 0;
    for (int i = 0; i < m_playbacks.GetSize(); ++i) {
        const PlayJob& job = *m_playbacks.GetAt(i);
        for (; old < m_announced.size() && m_announced[old].nId < job.nId; ++old)
            news.push_back({false, m_announced[old].nId, std::move(m_announced[old].strName)});
        if (old < m_announced.size() && m_announced[old].nId == job.nId) {
            now.push_back(std::move(m_announced[old++]));
            continue;
        }
        now.push_back({true, job.nId, Utf8FromCp932(job.pEntry->strName)});
        news.push_back(now.back());
    }
    for (; old < m_announced.size(); ++old)
        news.push_back({false, m_announced[old].nId, std::move(m_announced[old].strName)});
    m_announced = std::move(now);
    // A listener may add or remove listeners as it hears.
    const auto listeners = m_playListeners;
    for (const PlayNews& item : news)
        for (const auto& [handle, listener] : listeners)
            listener(item);
}

bool CSetController::TranslateKeyMessage(unsigned message, const std::uint8_t keyState[256]) {
    return ::TranslateKeyMessage(message, keyState, m_effects, *this);
}

void CSetController::OnClickEffectList(bool ctrlDown) {
    ::OnClickEffectList(ctrlDown, *this);
}

void CSetController::OnDblclkEffectList(bool shiftDown) {
    ::OnDblclkEffectList(shiftDown, *this);
}
