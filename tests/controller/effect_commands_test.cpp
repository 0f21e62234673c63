// SPDX-License-Identifier: GPL-3.0-or-later
// Play, add, edit and delete: each command's effect on the table, the lists, the set file on
// disk and the current directory, and each of its refusals.
#include "tests/controller/controller_fixture.h"

#include "core/remote_command.h"

#include <algorithm>
#include <sys/stat.h>

class EffectCommandsTest : public ControllerTest {
protected:
    // A set "s.txt" with WAVE directory = the executable directory and two effects.
    CSetController& StartWithTwoEffects() {
        MakeWave("one.wav");
        MakeWave("two.wav", 882);
        MakeSet("s.txt", ExeDir(),
                {EffectLine("one.wav", "一", 0, 65, 0, 0, 1, 0),
                 EffectLine("two.wav", "二", 4, 66, 100, -100, 0, 0)});
        Remember("s.txt");
        CSetController& ctl = Start();
        EXPECT_EQ(ctl.Effects().GetSize(), 2);
        m_view.ClearCalls();
        return ctl;
    }
    std::string SetOnDisk() const { return FileText("s.txt"); }
    std::string ExpectedSet(const std::vector<std::string>& lines) const {
        return SetText(ExeDir(), lines);
    }
    static FakeMixerView::EditorAnswer Ok(const std::string& path, const std::string& utf8Name,
                                          std::uint16_t modifiers = 0, std::uint16_t key = 0,
                                          int pan = 0, int volume = 0, int repeat = 1,
                                          int interval = 0) {
        FakeMixerView::EditorAnswer a;
        a.values.strWavePath = path;
        a.values.strName = Sj(utf8Name);
        a.values.wModifiers = modifiers;
        a.values.wKey = key;
        a.values.nPan = pan;
        a.values.nVolume = volume;
        a.values.nRepeat = repeat;
        a.values.nInterval = interval;
        return a;
    }
    const std::string kLineOne = EffectLine("one.wav", "一", 0, 65, 0, 0, 1, 0);
    const std::string kLineTwo = EffectLine("two.wav", "二", 4, 66, 100, -100, 0, 0);
};

// --- Play

TEST_F(EffectCommandsTest, PlayWithoutSelectionDoesNothing) {
    CSetController& ctl = StartWithTwoEffects();
    ctl.PlaySelected();
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    EXPECT_EQ(m_view.CountCalls("FillPlayList"), 0);
}

TEST_F(EffectCommandsTest, StartingAnEffectTwiceListsTwoJobs) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 1; // endless
    ctl.PlaySelected();
    ctl.PlaySelected();
    ASSERT_EQ(ctl.Playbacks().GetSize(), 2);
    EXPECT_NE(ctl.Playbacks().GetAt(0), ctl.Playbacks().GetAt(1));
    EXPECT_EQ(ctl.Playbacks().GetAt(0)->pEntry, ctl.Effects().GetPtrAt(1));
    EXPECT_EQ(ctl.Playbacks().GetAt(1)->pEntry, ctl.Effects().GetPtrAt(1));
    ASSERT_EQ(m_view.PlayRows().size(), 2u);
    EXPECT_EQ(m_view.PlayRows()[1], ctl.Playbacks().GetAt(1));
    ctl.StopAll();
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    EXPECT_TRUE(m_view.PlayRows().empty());
}

TEST_F(EffectCommandsTest, FinishedJobLeavesThePlayListWhenReported) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 0; // once, 20 ms
    ctl.PlaySelected();
    ASSERT_EQ(ctl.Playbacks().GetSize(), 1);
    const PlayJobPtr job = ctl.Playbacks().GetAt(0);

    ASSERT_TRUE(HandleNextPlayDone());
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    EXPECT_TRUE(m_view.PlayRows().empty());
    // A report for a job no longer listed still rebuilds the list, and changes nothing else.
    const int fills = m_view.CountCalls("FillPlayList");
    ctl.OnPlayDone(job);
    EXPECT_EQ(m_view.CountCalls("FillPlayList"), fills + 1);
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
}

TEST_F(EffectCommandsTest, StopSelectedStopsOnlyThatJob) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 1;
    ctl.PlaySelected();
    ctl.PlaySelected();
    const PlayJobPtr first = ctl.Playbacks().GetAt(0);

    ctl.StopSelected(); // no row chosen
    EXPECT_NE(first->bRun.load(), 0);

    m_view.m_nPlayMark = 0;
    ctl.StopSelected();
    ASSERT_TRUE(HandleNextPlayDone());
    ASSERT_EQ(ctl.Playbacks().GetSize(), 1);
    EXPECT_NE(ctl.Playbacks().GetAt(0), first);
    ctl.StopAll();
}

// Every start and every departure from the list is told once, whatever caused it; a stop by
// name reaches every playback of that name and nothing else.
TEST_F(EffectCommandsTest, PlayNewsAndStopsByNameAndById) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 1; // 二, endless
    ctl.PlaySelected();       // before anyone listens
    std::vector<PlayNews> heard;
    const int handle = ctl.AddPlayNewsListener([&](const PlayNews& n) { heard.push_back(n); });
    const auto id = [&](int row) { return ctl.Playbacks().GetAt(row)->nId; };
    const std::uint64_t before = id(0);
    EXPECT_EQ(RunRemoteRequest({RemoteVerb::Play, "二"}, ctl).nStatus, 0);
    std::uint8_t keys[256] = {};
    keys[65] = 0x80; // 一, once
    ctl.TranslateKeyMessage(WM_KEYDOWN, keys);
    const std::uint64_t remote = id(1), once = id(2);
    ASSERT_TRUE(HandleNextPlayDone()); // 一 ends by itself

    const struct {
        const char* name;
        RemoteReply reply;
    } stops[] = {{"無い", {1, "「無い」という効果音はありません。\n"}}, {"一", {}}, {"二", {}}};
    for (const auto& s : stops)
        EXPECT_EQ(RunRemoteRequest({RemoteVerb::Stop, s.name}, ctl), s.reply) << s.name;
    while (ctl.Playbacks().GetSize() != 0)
        ASSERT_TRUE(HandleNextPlayDone());
    m_view.m_nEffectMark = 1;
    ctl.PlaySelected();
    ctl.PlaySelected();
    const std::uint64_t byId = id(0), byAll = id(1);
    EXPECT_TRUE(ctl.StopPlayback(byId));
    EXPECT_FALSE(ctl.StopPlayback(once));
    ASSERT_TRUE(HandleNextPlayDone());
    ctl.StopAll();
    ctl.RemovePlayNewsListener(handle);
    ctl.PlaySelected();
    ctl.StopAll();

    std::sort(heard.begin(), heard.end(), [](const PlayNews& a, const PlayNews& b) {
        return std::pair(a.nId, !a.bStarted) < std::pair(b.nId, !b.bStarted);
    });
    const std::vector<PlayNews> expected = {
        {false, before, "二"}, {true, remote, "二"}, {false, remote, "二"},
        {true, once, "一"},    {false, once, "一"},  {true, byId, "二"},
        {false, byId, "二"},   {true, byAll, "二"},  {false, byAll, "二"}};
    EXPECT_EQ(heard, expected);
}

TEST_F(EffectCommandsTest, KeyAndClickTriggersReachTheCommands) {
    CSetController& ctl = StartWithTwoEffects();
    std::uint8_t keys[256] = {};
    keys[65] = 0x80; // A: effect one, no modifiers
    EXPECT_TRUE(ctl.TranslateKeyMessage(WM_KEYDOWN, keys));
    EXPECT_EQ(ctl.Playbacks().GetSize(), 1);
    EXPECT_TRUE(ctl.TranslateKeyMessage(WM_KEYDOWN, keys)); // held: latched
    EXPECT_EQ(ctl.Playbacks().GetSize(), 1);

    m_view.m_nEffectMark = 1;
    ctl.OnClickEffectList(false);
    EXPECT_EQ(ctl.Playbacks().GetSize(), 1);
    ctl.OnClickEffectList(true);
    EXPECT_EQ(ctl.Playbacks().GetSize(), 2);
    ctl.OnDblclkEffectList(true); // opens the editor, which is cancelled
    EXPECT_EQ(m_view.EditorCalls().size(), 1u);
    ctl.StopAll();
}

// --- Add

TEST_F(EffectCommandsTest, AddOpensAnEmptyEditorOnTheWaveDirectory) {
    CSetController& ctl = StartWithTwoEffects();
    ctl.AddEffect(); // no answer queued: cancelled
    ASSERT_EQ(m_view.EditorCalls().size(), 1u);
    const FakeMixerView::EditorCall& call = m_view.EditorCalls()[0];
    EXPECT_EQ(call.waveDir, ExeDir());
    EXPECT_EQ(call.values.strWavePath, "");
    EXPECT_EQ(call.values.strName, "");
    EXPECT_EQ(call.values.wKey, 0);
    EXPECT_EQ(call.values.wModifiers, 0);
    EXPECT_EQ(call.values.nPan, 0);
    EXPECT_EQ(call.values.nVolume, 0);
    EXPECT_EQ(call.values.nRepeat, 1);
    EXPECT_EQ(call.values.nInterval, 0);
    EXPECT_EQ(ctl.Effects().GetSize(), 2);
    EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineOne, kLineTwo}));
}

TEST_F(EffectCommandsTest, AddWithABareNameJoinsTheWaveDirectoryAndStoresTheName) {
    CSetController& ctl = StartWithTwoEffects();
    MakeWave("new.wav", 1000);
    m_view.QueueEditor(Ok("new.wav", "新", 2, 112, -300, -700, 3, 400));
    ctl.AddEffect();

    EXPECT_TRUE(m_messages.Messages().empty());
    ASSERT_EQ(ctl.Effects().GetSize(), 3);
    const EffectEntry& added = ctl.Effects().GetAt(2);
    EXPECT_EQ(added.strWavePath, "new.wav");
    EXPECT_EQ(added.dwDataLength, 2000u);
    EXPECT_EQ(added.bKeyHeld, 0);
    EXPECT_EQ(m_view.EffectRows().size(), 3u);
    EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineOne, kLineTwo,
                                        EffectLine("new.wav", "新", 2, 112, -300, -700, 3, 400)}));
}

// Entered on this host with '/' or '\': stored with '\', used without the WAVE directory.
struct SeparatorRow {
    const char* entered;
    const char* stored;
};
class AddPathTest : public EffectCommandsTest,
                    public ::testing::WithParamInterface<SeparatorRow> {};

TEST_P(AddPathTest, PathWithASeparatorIsUsedAsEntered) {
    MakeWave("x.wav");
    std::filesystem::create_directory(HostPath("sub"));
    MakeWave("sub/x.wav", 300);
    MakeSet("s.txt", "/nowhere/", {});
    Remember("s.txt");
    CSetController& ctl = Start();
    m_view.QueueEditor(Ok(GetParam().entered, "副"));
    ctl.AddEffect();
    EXPECT_TRUE(m_messages.Messages().empty());
    ASSERT_EQ(ctl.Effects().GetSize(), 1);
    EXPECT_EQ(ctl.Effects().GetAt(0).strWavePath, GetParam().stored);
    EXPECT_EQ(ctl.Effects().GetAt(0).dwDataLength, 600u); // sub/x.wav, not x.wav
    EXPECT_EQ(FileText("s.txt"),
              SetText("/nowhere/", {EffectLine(GetParam().stored, "副", 0, 0, 0, 0, 1, 0)}));
}

INSTANTIATE_TEST_SUITE_P(Separators, AddPathTest,
                         ::testing::Values(SeparatorRow{"sub/x.wav", "sub\\x.wav"},
                                           SeparatorRow{"sub\\x.wav", "sub\\x.wav"}));

TEST_F(EffectCommandsTest, AddWithAnAbsolutePathStoresItWithBackslashes) {
    CSetController& ctl = StartWithTwoEffects();
    MakeWave("abs.wav");
    const std::string entered = ExeDir() + "abs.wav"; // '/'-separated, from the file chooser
    std::string stored = entered;
    std::replace(stored.begin(), stored.end(), '/', '\\');
    m_view.QueueEditor(Ok(entered, "絶対"));
    ctl.AddEffect();
    ASSERT_EQ(ctl.Effects().GetSize(), 3);
    EXPECT_EQ(ctl.Effects().GetAt(2).strWavePath, stored);
    EXPECT_TRUE(ctl.Effects().GetAt(2).IsAvailable());
    EXPECT_NE(SetOnDisk().find("\r\n" + stored + ","), std::string::npos);
}

TEST_F(EffectCommandsTest, AddOfAMissingFileShowsTheFullPath) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.QueueEditor(Ok("nothing.wav", "無"));
    ctl.AddEffect();
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_EQ(m_messages.Messages()[0].text,
              ExeDir() + "nothing.wav" + Sj("が読み込めませんでした。"));
    EXPECT_EQ(m_messages.Messages()[0].caption, "Otomaru");
    EXPECT_EQ(ctl.Effects().GetSize(), 2);
    EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineOne, kLineTwo}));
}

// A file that is there but gives no sound (it does not decode, or the device is closed) still
// gives an entry: greyed, in the file, and sounding once the set is read with both working.
TEST_F(EffectCommandsTest, AddOfAFileThatGivesNoSoundKeepsItWithoutOne) {
    for (const bool closeDevice : {false, true}) {
        CSetController& ctl = StartWithTwoEffects();
        ASSERT_TRUE(WriteText(HostPath("new.wav"), "not a RIFF file"));
        if (closeDevice) {
            MakeWave("new.wav");
            ctl.Device().Close();
        }
        m_messages.Clear();
        m_view.QueueEditor(Ok("new.wav", "新", 0, 67));
        ctl.AddEffect();
        EXPECT_EQ(m_messages.Messages().size(), closeDevice ? 0u : 1u); // the loader's own
        ASSERT_EQ(ctl.Effects().GetSize(), 3);
        EXPECT_FALSE(ctl.Effects().GetAt(2).IsAvailable());
        EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineOne, kLineTwo,
                                            EffectLine("new.wav", "新", 0, 67, 0, 0, 1, 0)}));
        MakeWave("new.wav");
        m_ctl.reset();
        EXPECT_TRUE(Start().Effects().GetAt(2).IsAvailable());
    }
}

TEST_F(EffectCommandsTest, EditorKeepsTheCurrentDirectoryWhateverItsResult) {
    CSetController& ctl = StartWithTwoEffects();
    const auto cwd = std::filesystem::current_path();
    std::filesystem::create_directory(HostPath("elsewhere"));
    MakeWave("new.wav");

    FakeMixerView::EditorAnswer cancel;
    cancel.result = IDCANCEL;
    cancel.changeDirectoryTo = HostPath("elsewhere");
    m_view.QueueEditor(cancel);
    ctl.AddEffect();
    EXPECT_EQ(std::filesystem::current_path(), cwd);

    FakeMixerView::EditorAnswer ok = Ok("new.wav", "新");
    ok.changeDirectoryTo = HostPath("elsewhere");
    m_view.QueueEditor(ok);
    ctl.AddEffect();
    EXPECT_EQ(std::filesystem::current_path(), cwd);
    EXPECT_EQ(ctl.Effects().GetSize(), 3);

    m_view.m_nEffectMark = 0;
    cancel.changeDirectoryTo = HostPath("elsewhere");
    m_view.QueueEditor(cancel);
    ctl.EditEffect();
    EXPECT_EQ(std::filesystem::current_path(), cwd);
}

TEST_F(EffectCommandsTest, FailedWriteKeepsTheChangeInMemory) {
    CSetController& ctl = StartWithTwoEffects();
    // The set file's place is taken by a directory: the file cannot be written.
    std::filesystem::remove(HostPath("s.txt"));
    std::filesystem::create_directory(HostPath("s.txt"));
    WriteText(HostPath("s.txt/keep"), "x");
    MakeWave("new.wav");
    m_view.QueueEditor(Ok("new.wav", "新"));
    ctl.AddEffect();
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_EQ(MessageTexts()[0], ExeDir() + "s.txt" + Sj("に書き込み出来ません。"));
    EXPECT_EQ(ctl.Effects().GetSize(), 3);
}

// --- Edit

TEST_F(EffectCommandsTest, EditWithoutSelectionOpensNothing) {
    CSetController& ctl = StartWithTwoEffects();
    ctl.EditEffect();
    EXPECT_TRUE(m_view.EditorCalls().empty());
}

TEST_F(EffectCommandsTest, EditStoresTheValuesAndWritesAtOnce) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 1;
    const EffectEntryPtr entry = ctl.Effects().GetPtrAt(1);
    const SoundBufferPtr buffer = entry->pBuffer;
    ctl.PlaySelected(); // an endless job hears the change at once
    entry->bKeyHeld = 1;

    m_view.QueueEditor(Ok("one.wav", "改", 3, 67, -2000, -1500, 2, 300));
    ctl.EditEffect();

    // Opened with the entry's values.
    ASSERT_EQ(m_view.EditorCalls().size(), 1u);
    const EffectEditorValues& opened = m_view.EditorCalls()[0].values;
    EXPECT_EQ(opened.strWavePath, "two.wav");
    EXPECT_EQ(opened.strName, Sj("二"));
    EXPECT_EQ(opened.wModifiers, 4);
    EXPECT_EQ(opened.wKey, 66);
    EXPECT_EQ(opened.nPan, 100);
    EXPECT_EQ(opened.nVolume, -100);
    EXPECT_EQ(opened.nRepeat, 0);
    EXPECT_EQ(opened.nInterval, 0);

    // Same entry, same place; new values; old sound; latch untouched.
    ASSERT_EQ(ctl.Effects().GetPtrAt(1), entry);
    EXPECT_EQ(entry->strName, Sj("改"));
    EXPECT_EQ(entry->strWavePath, "one.wav");
    EXPECT_EQ(entry->nModifiers.load(), 3);
    EXPECT_EQ(entry->nKey.load(), 67);
    EXPECT_EQ(entry->nPan.load(), -2000);
    EXPECT_EQ(entry->nVolume.load(), -1500);
    EXPECT_EQ(entry->nRepeat.load(), 2);
    EXPECT_EQ(entry->nInterval.load(), 300);
    EXPECT_EQ(entry->bKeyHeld, 1);
    EXPECT_EQ(entry->pBuffer, buffer);
    EXPECT_EQ(entry->dwDataLength, 882u * 2);
    std::int32_t pan = 0, volume = 0;
    buffer->GetPan(&pan);
    buffer->GetVolume(&volume);
    EXPECT_EQ(pan, -2000);
    EXPECT_EQ(volume, -1500);

    // Lists rebuilt, then the row chosen again; the file holds the new values.
    const std::vector<std::string>& calls = m_view.Calls();
    const auto select = std::find(calls.begin(), calls.end(), "SelectEffectRow 1");
    ASSERT_NE(select, calls.end());
    EXPECT_NE(std::find(calls.begin(), select, "FillEffectList 2"), select);
    EXPECT_NE(std::find(calls.begin(), select, "FillPlayList 1"), select);
    EXPECT_EQ(SetOnDisk(),
              ExpectedSet({kLineOne, EffectLine("one.wav", "改", 3, 67, -2000, -1500, 2, 300)}));
    ctl.StopAll();
}

// The editor opens with the entry's options and its OK stores the changed ones, in place in the
// line; a field this version does not know goes back to the file as it was.
TEST_F(EffectCommandsTest, EditedOptionsReachTheEntryAndTheFile) {
    MakeWave("one.wav");
    const std::string line = EffectLine("one.wav", "一", 0, 65, 0, 0, 1, 0);
    MakeSet("s.txt", ExeDir(), {line + ",future=7,fadein=20"});
    Remember("s.txt");
    CSetController& ctl = Start();
    m_view.m_nEffectMark = 0;
    FakeMixerView::EditorAnswer answer = Ok("one.wav", "一", 0, 65, 0, 0, 1, 0);
    answer.values.options = ParseEffectOptions({"future=7", "fadein=20"});
    answer.values.options.retrigger = EffectOptions::Retrigger::Toggle;
    answer.values.options.nChoke = 2;
    answer.values.options.nFadeInMs = 300;
    answer.values.options.nEndMs = 15;
    m_view.QueueEditor(answer);
    ctl.EditEffect();

    ASSERT_EQ(m_view.EditorCalls().size(), 1u);
    EXPECT_EQ(m_view.EditorCalls()[0].values.options.nFadeInMs, 20);
    EXPECT_EQ(ctl.Effects().GetAt(0).options, answer.values.options);
    EXPECT_EQ(SetOnDisk(),
              ExpectedSet({line + ",future=7,fadein=300,retrigger=toggle,choke=2,end=15"}));

    // Cancel keeps them.
    m_view.QueueEditor({IDCANCEL, {}, {}});
    ctl.EditEffect();
    EXPECT_EQ(ctl.Effects().GetAt(0).options, answer.values.options);
}

TEST_F(EffectCommandsTest, EditedPathTakesEffectAtTheNextRead) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 0;
    m_view.QueueEditor(Ok("two.wav", "一"));
    ctl.EditEffect();
    EXPECT_EQ(ctl.Effects().GetAt(0).dwDataLength, 441u * 2); // still one.wav's sound

    // Away and back: the set is read again and the new path loads two.wav.
    MakeSet("other.txt", "", {});
    ctl.FillSetSelector();
    m_view.ChooseSet("other.txt");
    ctl.SwitchSet();
    m_view.ChooseSet("s.txt");
    ctl.SwitchSet();
    ASSERT_EQ(ctl.Effects().GetSize(), 2);
    EXPECT_EQ(ctl.Effects().GetAt(0).dwDataLength, 882u * 2);
}

// A path read with '/' and left as it was is written as it was read: with '\' it would name a
// file in the current folder rather than the WAVE folder.
TEST_F(EffectCommandsTest, EditWritesAnUnchangedPathAsRead) {
    std::filesystem::create_directory(HostPath("sub"));
    MakeWave("sub/x.wav", 300);
    const std::string line = EffectLine("sub/x.wav", "副", 0, 65, 0, 0, 1, 0);
    MakeSet("s.txt", ExeDir(), {line});
    Remember("s.txt");
    CSetController& ctl = Start();
    ASSERT_TRUE(ctl.Effects().GetAt(0).IsAvailable());
    m_view.m_nEffectMark = 0;
    m_view.QueueEditor(Ok("sub/x.wav", "副", 0, 65));
    ctl.EditEffect();
    EXPECT_EQ(FileText("s.txt"), SetText(ExeDir(), {line}));
}

// An effect kept without a sound gets one when an edit points it at a file that loads.
TEST_F(EffectCommandsTest, EditingAGreyedEffectsPathToALoadableFileLoadsIt) {
    MakeWave("one.wav");
    MakeSet("s.txt", ExeDir(), {EffectLine("gone.wav", "無", 0, 65, -200, 0, 1, 0)});
    Remember("s.txt");
    CSetController& ctl = Start();
    m_view.m_nEffectMark = 0;
    std::int32_t pan = 0;
    for (const char* path : {"still-gone.wav", "one.wav"}) {
        EXPECT_FALSE(ctl.Effects().GetAt(0).IsAvailable());
        m_view.QueueEditor(Ok(path, "無", 0, 65, -200));
        ctl.EditEffect();
    }
    ASSERT_TRUE(ctl.Effects().GetAt(0).IsAvailable());
    ctl.Effects().GetAt(0).pBuffer->GetPan(&pan);
    EXPECT_EQ(pan, -200);
    EXPECT_EQ(FileText("s.txt"),
              SetText(ExeDir(), {EffectLine("one.wav", "無", 0, 65, -200, 0, 1, 0)}));
}

TEST_F(EffectCommandsTest, EditCancelledChangesNothing) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 0;
    FakeMixerView::EditorAnswer cancel = Ok("two.wav", "変");
    cancel.result = IDCANCEL;
    m_view.QueueEditor(cancel);
    ctl.EditEffect();
    EXPECT_EQ(ctl.Effects().GetAt(0).strName, Sj("一"));
    EXPECT_EQ(m_view.CountCalls("FillEffectList"), 0);
    EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineOne, kLineTwo}));
}

// --- Delete

TEST_F(EffectCommandsTest, DeleteAsksFirstAndStopsOnNo) {
    CSetController& ctl = StartWithTwoEffects();
    ctl.DeleteEffect(); // no selection: no question
    EXPECT_TRUE(m_messages.Messages().empty());

    m_view.m_nEffectMark = 0;
    m_messages.Answer(IDNO);
    ctl.DeleteEffect();
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_EQ(m_messages.Messages()[0].text, Sj("一を削除してよろしいですか？"));
    EXPECT_EQ(m_messages.Messages()[0].caption, "Otomaru");
    EXPECT_EQ(m_messages.Messages()[0].type, MB_YESNO | MB_ICONEXCLAMATION);
    EXPECT_EQ(ctl.Effects().GetSize(), 2);
    EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineOne, kLineTwo}));
}

TEST_F(EffectCommandsTest, DeleteOnYesRemovesReleasesAndWrites) {
    CSetController& ctl = StartWithTwoEffects();
    const EffectEntryPtr first = ctl.Effects().GetPtrAt(0);
    const EffectEntryPtr second = ctl.Effects().GetPtrAt(1);
    m_view.m_nEffectMark = 0;
    m_messages.Answer(IDYES);
    ctl.DeleteEffect();
    ASSERT_EQ(ctl.Effects().GetSize(), 1);
    EXPECT_EQ(ctl.Effects().GetPtrAt(0), second);
    EXPECT_EQ(first->pBuffer, nullptr);
    ASSERT_EQ(m_view.EffectRows().size(), 1u);
    EXPECT_EQ(m_view.EffectRows()[0], second);
    EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineTwo}));
}

TEST_F(EffectCommandsTest, DeletingAPlayingEffectIsRefusedAfterYes) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 1; // endless
    ctl.PlaySelected();
    m_messages.Answer(IDYES);
    ctl.DeleteEffect();
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{Sj("二を削除してよろしいですか？"),
                                        Sj("再生中のWAVEファイルは削除出来ません。")}));
    EXPECT_EQ(ctl.Effects().GetSize(), 2);
    EXPECT_NE(ctl.Effects().GetAt(1).pBuffer, nullptr);
    EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineOne, kLineTwo}));

    // Once stopped it goes.
    ctl.StopAll();
    m_messages.Answer(IDYES);
    ctl.DeleteEffect();
    EXPECT_EQ(ctl.Effects().GetSize(), 1);
}

TEST_F(EffectCommandsTest, DeletingAnEarlierEntryLeavesAPlayingOneIntact) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.m_nEffectMark = 1;
    ctl.PlaySelected();
    const EffectEntryPtr playing = ctl.Effects().GetPtrAt(1);
    m_view.m_nEffectMark = 0;
    m_messages.Answer(IDYES);
    ctl.DeleteEffect();
    ASSERT_EQ(ctl.Effects().GetSize(), 1);
    EXPECT_EQ(ctl.Playbacks().GetAt(0)->pEntry, playing);
    EXPECT_EQ(ctl.Effects().GetPtrAt(0), playing);
    ctl.StopAll();
}

// --- Texts the set file cannot carry

struct CommaRow {
    const char* path;
    const char* utf8Name;
};
class CommaTest : public EffectCommandsTest, public ::testing::WithParamInterface<CommaRow> {};

TEST_P(CommaTest, AddAndEditRefuseACommaAndChangeNothing) {
    CSetController& ctl = StartWithTwoEffects();
    std::filesystem::copy_file(HostPath("one.wav"), HostPath("a,b.wav"));
    const std::string noComma = Sj("カンマ（,）と改行は使えません。");

    m_view.QueueEditor(Ok(GetParam().path, GetParam().utf8Name));
    ctl.AddEffect();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{noComma});
    EXPECT_EQ(ctl.Effects().GetSize(), 2);

    m_view.m_nEffectMark = 0;
    m_view.QueueEditor(Ok(GetParam().path, GetParam().utf8Name, 1, 70));
    ctl.EditEffect();
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{noComma, noComma}));
    EXPECT_EQ(ctl.Effects().GetAt(0).strName, Sj("一"));
    EXPECT_EQ(ctl.Effects().GetAt(0).nKey.load(), 65);
    EXPECT_EQ(m_view.CountCalls("FillEffectList"), 0);
    EXPECT_EQ(SetOnDisk(), ExpectedSet({kLineOne, kLineTwo}));
}

INSTANTIATE_TEST_SUITE_P(Commas, CommaTest,
                         ::testing::Values(CommaRow{"one.wav", "甲,乙"}, CommaRow{"a,b.wav", "甲"},
                                           CommaRow{"one.wav", ","}));

// --- A set file that is there but was not read whole is never written over

TEST_F(ControllerTest, AddRefusesToWriteOverWhatWasNotReadAsASet) {
    const struct Row {
        const char* name;
        std::string content; // "fifo": a FIFO
        const char* utf8Text;
    } rows[] = {{"notes.txt", "my notes\r\n", "は音源定義ファイルではありません。"},
                {"short.txt", "MOK_FILE\r\n", "にパス定義がありません。"},
                {"pipe.txt", "fifo", "が読み込めません。"}};
    for (const Row& row : rows) {
        if (row.content == "fifo")
            EXPECT_EQ(mkfifo(HostPath(row.name).c_str(), 0644), 0);
        else
            EXPECT_TRUE(WriteText(HostPath(row.name), row.content));
        Remember(row.name);
        m_messages.Clear();
        Start().AddEffect(); // no editor answer queued: it must not open
        const std::string said = ExeDir() + row.name + Sj(row.utf8Text);
        EXPECT_EQ(MessageTexts(), (std::vector<std::string>{said, said}));
        EXPECT_EQ(m_messages.Messages().back().type, MB_OK | MB_ICONEXCLAMATION);
        EXPECT_TRUE(m_view.EditorCalls().empty());
        EXPECT_EQ(std::filesystem::is_fifo(HostPath(row.name)) ? "fifo" : FileText(row.name),
                  row.content);
    }
}

// The command family's OK boxes carry the exclamation icon, like its questions.
TEST_F(EffectCommandsTest, OkBoxesOfTheCommandsCarryTheExclamationIcon) {
    CSetController& ctl = StartWithTwoEffects();
    m_view.QueueEditor(Ok("", "空")); // an empty path names the WAVE folder: no file
    ctl.AddEffect();
    m_view.QueueEditor(Ok("a,b.wav", "甲"));
    ctl.AddEffect();
    m_view.m_nEffectMark = 1;
    ctl.PlaySelected();
    m_messages.Answer(IDYES);
    ctl.DeleteEffect();
    ctl.StopAll();
    m_messages.Answer(IDYES);
    m_view.QueueNewSet({IDOK, {"", "a/b.txt"}});
    ctl.NewSet();
    std::vector<std::string> got;
    for (const auto& m : m_messages.Messages())
        got.push_back(Utf8FromCp932(m.text) + ((m.type & MB_ICONEXCLAMATION) ? " !" : "") +
                      (m.caption == "Otomaru" ? "" : " ?"));
    EXPECT_EQ(got,
              (std::vector<std::string>{
                  Utf8FromCp932(ExeDir()) + "が読み込めませんでした。 !",
                  "カンマ（,）と改行は使えません。 !", "二を削除してよろしいですか？ !",
                  "再生中のWAVEファイルは削除出来ません。 !", "新規音源ファイルを作成しますか？ !",
                  "音源ファイル名が正しくありません。フォルダーを含まないファイル名を指定して"
                  "ください。 !"}));
}
