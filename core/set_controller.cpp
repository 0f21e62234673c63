// The set controller: start-up, shut-down and the commands that change the open set. Everything
// here runs on the window's thread; workers reach back only through the post target.
#include "core/set_controller.h"

#include "base/message.h"
#include "base/text.h"
#include "core/set_file.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

struct CSetController::PostTarget {
    std::mutex mutex;
    IMixerView* pView = nullptr;
};

namespace {

const std::string& TextCannotLoad() {
    static const std::string k = Cp932FromUtf8("が読み込めませんでした。");
    return k;
}
const std::string& TextAskDelete() {
    static const std::string k = Cp932FromUtf8("を削除してよろしいですか？");
    return k;
}
const std::string& TextPlayingNoDelete() {
    static const std::string k = Cp932FromUtf8("再生中のWAVEファイルは削除出来ません。");
    return k;
}
const std::string& TextAskNewSet() {
    static const std::string k = Cp932FromUtf8("新規音源ファイルを作成しますか？");
    return k;
}
const std::string& TextAskOverwrite() {
    static const std::string k = Cp932FromUtf8("は既に存在します。上書きしますか？");
    return k;
}
const std::string& TextBadSetFileName() {
    static const std::string k = Cp932FromUtf8(
        "音源ファイル名が正しくありません。フォルダを含まないファイル名を指定して下さい。");
    return k;
}

const std::string& TextNoComma() {
    static const std::string k =
        Cp932FromUtf8("効果音の名前とWAVEファイルのパスにはカンマ(,)を使えません。");
    return k;
}

// The set file separates its fields with commas and has no escape: a comma in a name or path
// would shift every later field of the line when it is read back.
bool FitsTheSetFile(const EffectEditorValues& values) {
    if (IsStorableFieldText(values.strName) && IsStorableFieldText(values.strWavePath))
        return true;
    AfxMessageBox(TextNoComma());
    return false;
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

bool EndsWithTxt(const std::string& name) {
    static const std::string kExt = ".txt";
    return name.size() >= kExt.size() &&
           name.compare(name.size() - kExt.size(), kExt.size(), kExt) == 0;
}

} // namespace

CSetController::CSetController(IMixerView& view, std::string executablePath)
    : m_view(view), m_pPostTarget(std::make_shared<PostTarget>()),
      m_strExecutablePath(std::move(executablePath)) {
    m_pPostTarget->pView = &m_view;
}

CSetController::~CSetController() {
    // Workers still listed post while they end; stop them while the view is still reachable,
    // then cut the path for any that had to be left running.
    m_playbacks.StopAll();
    std::lock_guard lock(m_pPostTarget->mutex);
    m_pPostTarget->pView = nullptr;
}

bool CSetController::OnInitDialog() {
    if (m_strExecutablePath.empty())
        m_settings.LocateFiles();
    else
        m_settings.LocateFilesFrom(m_strExecutablePath);
    m_settings.LoadSettings();

    SetCurrentDirectoryA(m_settings.m_strExeDir);
    m_view.SetUpLists();

    // Without sound the program still runs: the results are not looked at.
    m_device.Open(m_view.WindowHandle(), 2, 22050, 16);
    m_device.LoadStartupSound(m_pJingle, IDR_WAVE_JINGLE);
    m_device.PlayFromStart(m_pJingle);

    m_hKeyLayout = LoadKeyLayout(m_view.KeyboardLayoutHint());

    m_strSetFilePath = m_settings.m_strExeDir + m_settings.m_strSoundsFile;
    ReadCurrentSet();
    FillSetSelector();
    m_view.LoadPopupMenus();
    return true;
}

void CSetController::DestroyWindow() {
    CloseSet();
    CSoundDevice::ReleaseBuffer(m_pJingle);
}

bool CSetController::ReadCurrentSet() {
    const bool ok = ReadSetFile(m_strSetFilePath, m_effects, m_strWaveDir,
                                [this](const std::string& fullPath, SoundBufferSlot& slot) {
                                    return m_device.LoadWaveFile(fullPath, slot);
                                });
    m_view.FillEffectList(m_effects, m_hKeyLayout);
    return ok;
}

void CSetController::PlaySelected() {
    const int mark = m_view.GetEffectSelectionMark();
    if (mark < 0 || mark >= m_effects.GetSize())
        return;
    StartPlayback(m_effects.GetPtrAt(mark));
}

void CSetController::AddEffect() {
    EffectEditorValues values; // empty path and name, no hotkey, centre, full, once, no gap
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
        AfxMessageBox(fullPath + TextCannotLoad());
        return;
    }
    EffectEntry entry;
    entry.dwDataLength = m_device.LoadWaveFile(fullPath, entry.pBuffer);
    if (entry.dwDataLength == 0) {
        // The loader has said why; an entry that can never sound is not worth a row.
        CSoundDevice::ReleaseBuffer(entry.pBuffer);
        return;
    }
    entry.strName = values.strName;
    entry.strWavePath = storedPath;
    entry.nModifiers = values.wModifiers;
    entry.nKey = values.wKey;
    entry.nPan = values.nPan;
    entry.nVolume = values.nVolume;
    entry.nRepeat = values.nRepeat;
    entry.nInterval = values.nInterval;
    m_effects.Add(entry);

    m_view.FillEffectList(m_effects, m_hKeyLayout);
    WriteSetFile(m_strSetFilePath, m_strWaveDir, m_effects);
}

void CSetController::EditEffect() {
    const int mark = m_view.GetEffectSelectionMark();
    if (mark < 0 || mark >= m_effects.GetSize())
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
    int result;
    {
        CurrentDirectoryKeeper keep;
        result = m_view.RunEffectEditor(m_strWaveDir, values);
    }
    if (result != IDOK || !FitsTheSetFile(values))
        return;

    // The sound stays as loaded: a new path is used the next time the set is read.
    entry.nKey = values.wKey;
    entry.nModifiers = values.wModifiers;
    entry.strWavePath = ToStoredPath(values.strWavePath);
    entry.strName = values.strName;
    entry.nVolume = values.nVolume;
    entry.nPan = values.nPan;
    entry.nInterval = values.nInterval;
    entry.nRepeat = values.nRepeat;
    if (entry.pBuffer) {
        entry.pBuffer->SetPan(values.nPan);
        entry.pBuffer->SetVolume(values.nVolume);
    }

    m_view.FillEffectList(m_effects, m_hKeyLayout);
    m_view.FillPlayList(m_playbacks);
    m_view.SelectEffectRow(mark);
    WriteSetFile(m_strSetFilePath, m_strWaveDir, m_effects);
}

void CSetController::DeleteEffect() {
    const int mark = m_view.GetEffectSelectionMark();
    if (mark < 0 || mark >= m_effects.GetSize())
        return;
    const EffectEntryPtr entry = m_effects.GetPtrAt(mark);
    if (!Ask(entry->strName + TextAskDelete()))
        return;
    if (m_playbacks.IsPlaying(entry.get())) {
        AfxMessageBox(TextPlayingNoDelete());
        return;
    }
    CSoundDevice::ReleaseBuffer(entry->pBuffer);
    m_effects.RemoveAt(mark);
    m_view.FillEffectList(m_effects, m_hKeyLayout);
    WriteSetFile(m_strSetFilePath, m_strWaveDir, m_effects);
}

void CSetController::SwitchSet() {
    const int index = m_view.GetSetSelectorCurSel();
    if (index < 0)
        return;
    const std::string fileName = m_view.GetSetSelectorText(index);
    const std::string newPath = m_settings.m_strExeDir + fileName;
    if (newPath == m_strSetFilePath)
        return;

    CloseSet();
    m_strSetFilePath = newPath;
    m_settings.m_strSoundsFile = fileName;
    m_settings.SaveSettings();
    ReadCurrentSet();
}

bool CSetController::IsUsableSetFileName(const std::string& fileName) const {
    if (fileName.empty() || fileName == "." || fileName == "..")
        return false;
    // '/' is never the second byte of a two-byte character; a backslash may be.
    if (fileName.find('/') != std::string::npos || FindBackslash(fileName) != std::string::npos)
        return false;
    std::error_code ec;
    return !std::filesystem::is_directory(ToOsPath(m_settings.m_strExeDir + fileName), ec);
}

void CSetController::NewSet() {
    if (!Ask(TextAskNewSet()))
        return;
    NewSetValues values;
    if (m_view.RunNewSetDialog(m_settings.m_strExeDir, values) != IDOK)
        return;

    // Both checks come before anything is closed, so a refusal leaves the open set as it was.
    if (!IsUsableSetFileName(values.strFileName)) {
        AfxMessageBox(TextBadSetFileName());
        return;
    }
    const std::string newPath = m_settings.m_strExeDir + values.strFileName;
    if (FileExists(newPath) && !Ask(values.strFileName + TextAskOverwrite()))
        return;

    CloseSet();
    SetCurrentDirectoryA(m_settings.m_strExeDir);
    m_strWaveDir = values.strWavePath;
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
    StopAll();
    for (int i = 0; i < m_effects.GetSize(); ++i)
        CSoundDevice::ReleaseBuffer(m_effects.GetAt(i).pBuffer);
    m_effects.RemoveAll();
}

void CSetController::FillSetSelector() {
    m_view.ResetSetSelector();

    // The host lists a directory in no particular order; sorted names keep the selector stable.
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(ToOsPath(m_settings.m_strExeDir), ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc))
            continue;
        std::string name = Cp932FromUtf8(it->path().filename().string());
        if (EndsWithTxt(name))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        const int index = m_view.AddSetSelectorItem(name);
        if (name == m_settings.m_strSoundsFile)
            m_view.SetSetSelectorCurSel(index);
    }
}

void CSetController::SetGlobalHotkeys(bool on) {
    m_settings.m_bGlobalHotkeys = on;
    m_settings.SaveGlobalHotkeys();
}

void CSetController::StartPlayback(const EffectEntryPtr& entry) {
    if (!entry || !entry->IsAvailable())
        return;
    std::shared_ptr<PostTarget> target = m_pPostTarget;
    const bool listed = m_playbacks.StartPlayback(entry, [target](PlayJobPtr job) {
        std::lock_guard lock(target->mutex);
        if (target->pView)
            target->pView->PostPlayDone(std::move(job));
    });
    if (listed)
        m_view.FillPlayList(m_playbacks);
}

void CSetController::StopSelected() {
    const int mark = m_view.GetPlaySelectionMark();
    if (mark < 0 || mark >= m_playbacks.GetSize())
        return;
    m_playbacks.StopSelected(mark);
}

void CSetController::StopAll() {
    m_playbacks.StopAll();
    // The jobs are gone now; their rows must not wait for the workers' reports.
    m_view.FillPlayList(m_playbacks);
}

void CSetController::OnPlayDone(const PlayJobPtr& job) {
    m_playbacks.OnPlayDone(job.get());
    m_view.FillPlayList(m_playbacks);
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
