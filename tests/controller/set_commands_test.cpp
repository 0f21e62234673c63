// SPDX-License-Identifier: GPL-3.0-or-later
// Switching and creating sets: what is closed, read, remembered and listed, and the refusals
// that keep the open set open.
#include "tests/controller/controller_fixture.h"

#include <algorithm>

class SetCommandsTest : public ControllerTest {
protected:
    // "a.txt" (open, one endless effect playing) and "b.txt" (one effect) beside the executable.
    CSetController& StartPlayingA() {
        MakeWave("one.wav");
        MakeWave("two.wav", 882);
        MakeSet("a.txt", ExeDir(), {kLineA});
        MakeSet("b.txt", "", {EffectLine("two.wav", "乙", 0, 66, 0, 0, 1, 0)});
        Remember("a.txt");
        CSetController& ctl = Start();
        EXPECT_EQ(ctl.Effects().GetSize(), 1);
        m_view.m_nEffectMark = 0;
        ctl.PlaySelected();
        EXPECT_EQ(ctl.Playbacks().GetSize(), 1);
        m_view.m_nEffectMark = -1;
        m_view.ClearCalls();
        return ctl;
    }
    // The open set is still "a.txt", untouched, its effect still playing.
    void ExpectAStillOpen(const EffectEntryPtr& entry) {
        EXPECT_EQ(m_ctl->SetFilePath(), ExeDir() + "a.txt");
        ASSERT_EQ(m_ctl->Effects().GetSize(), 1);
        EXPECT_EQ(m_ctl->Effects().GetPtrAt(0), entry);
        EXPECT_TRUE(entry->IsAvailable());
        EXPECT_EQ(m_ctl->Playbacks().GetSize(), 1);
        EXPECT_EQ(m_view.CountCalls("FillEffectList"), 0);
        EXPECT_TRUE(IniRemembers("a.txt"));
        EXPECT_EQ(FileText("a.txt"), SetText(ExeDir(), {kLineA}));
    }
    static FakeMixerView::NewSetAnswer NewSetOk(const std::string& waveDir,
                                                const std::string& fileName) {
        FakeMixerView::NewSetAnswer a;
        a.values.strWavePath = waveDir;
        a.values.strFileName = fileName;
        return a;
    }
    const std::string kLineA = EffectLine("one.wav", "甲", 0, 65, 0, 0, 0, 0);
};

// --- Switch

TEST_F(SetCommandsTest, SwitchWithoutAChoiceDoesNothing) {
    CSetController& ctl = StartPlayingA();
    const EffectEntryPtr entry = ctl.Effects().GetPtrAt(0);
    m_view.ChooseSet("none.txt"); // no item: -1
    ctl.SwitchSet();
    ExpectAStillOpen(entry);
    ctl.StopAll();
}

TEST_F(SetCommandsTest, SwitchToTheOpenSetDoesNotEvenReload) {
    CSetController& ctl = StartPlayingA();
    const EffectEntryPtr entry = ctl.Effects().GetPtrAt(0);
    ASSERT_EQ(m_view.SelectorCurSel(), 0); // a.txt
    ctl.SwitchSet();
    ExpectAStillOpen(entry);
    EXPECT_TRUE(m_messages.Messages().empty());
    ctl.StopAll();
}

TEST_F(SetCommandsTest, SwitchClosesReadsAndRemembers) {
    CSetController& ctl = StartPlayingA();
    const EffectEntryPtr old = ctl.Effects().GetPtrAt(0);
    const PlayJobPtr job = ctl.Playbacks().GetAt(0);
    m_view.ChooseSet("b.txt");
    ctl.SwitchSet();

    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    EXPECT_EQ(job->bActive.load(), 0);
    EXPECT_EQ(old->pBuffer, nullptr);
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "b.txt");
    EXPECT_EQ(ctl.Settings().m_strSoundsFile, "b.txt");
    EXPECT_TRUE(IniRemembers("b.txt"));
    EXPECT_EQ(ctl.WaveDirectory(), "");
    ASSERT_EQ(ctl.Effects().GetSize(), 1);
    EXPECT_EQ(ctl.Effects().GetAt(0).strName, Sj("乙"));
    EXPECT_TRUE(ctl.Effects().GetAt(0).IsAvailable());
    ASSERT_EQ(m_view.EffectRows().size(), 1u);
    EXPECT_EQ(m_view.EffectRows()[0], ctl.Effects().GetPtrAt(0));
    EXPECT_TRUE(m_view.PlayRows().empty());
    // The old job's late report finds nothing.
    DrainPlayDone();
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
}

TEST_F(SetCommandsTest, SwitchToAnUnreadableSetEmptiesTheListAndStillRemembers) {
    CSetController& ctl = StartPlayingA();
    ASSERT_TRUE(WriteText(HostPath("broken.txt"), "MOK_FILE"));
    ctl.FillSetSelector();
    m_view.ChooseSet("broken.txt");
    ctl.SwitchSet();

    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_EQ(MessageTexts()[0], ExeDir() + "broken.txt" + Sj("にパス定義がありません。"));
    EXPECT_EQ(ctl.Effects().GetSize(), 0);
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    EXPECT_EQ(m_view.CountCalls("FillEffectList"), 1);
    EXPECT_TRUE(m_view.EffectRows().empty());
    EXPECT_TRUE(IniRemembers("broken.txt"));
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "broken.txt");
}

// --- New

TEST_F(SetCommandsTest, NewStopsOnNoAndOnCancel) {
    CSetController& ctl = StartPlayingA();
    const EffectEntryPtr entry = ctl.Effects().GetPtrAt(0);
    m_messages.Answer(IDNO);
    ctl.NewSet();
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_EQ(m_messages.Messages()[0].text, Sj("新規音源ファイルを作成しますか？"));
    EXPECT_EQ(m_messages.Messages()[0].caption, "Otomaru");
    EXPECT_EQ(m_messages.Messages()[0].type, MB_YESNO | MB_ICONEXCLAMATION);
    EXPECT_EQ(m_view.CountCalls("RunNewSetDialog"), 0);
    ExpectAStillOpen(entry);

    m_messages.Answer(IDYES);
    FakeMixerView::NewSetAnswer cancel = NewSetOk("", "cancelled.txt");
    cancel.result = IDCANCEL;
    m_view.QueueNewSet(cancel);
    ctl.NewSet();
    EXPECT_EQ(m_view.CountCalls("RunNewSetDialog"), 1);
    EXPECT_FALSE(Exists("cancelled.txt"));
    ExpectAStillOpen(entry);
    ctl.StopAll();
}

TEST_F(SetCommandsTest, NewCreatesAnEmptySetAndOpensIt) {
    CSetController& ctl = StartPlayingA();
    const EffectEntryPtr old = ctl.Effects().GetPtrAt(0);
    std::filesystem::create_directory(HostPath("elsewhere"));
    std::filesystem::current_path(HostPath("elsewhere"));
    m_messages.Answer(IDYES);
    m_view.QueueNewSet(NewSetOk("/snd/", "new.txt"));
    ctl.NewSet();

    ASSERT_EQ(m_view.NewSetFolders().size(), 1u);
    EXPECT_EQ(m_view.NewSetFolders()[0], ExeDir());
    EXPECT_EQ(MessageTexts().size(), 1u); // only the question
    // Stored with backslashes, as every path in a set file.
    EXPECT_EQ(FileText("new.txt"), SetText("\\snd\\", {}));
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "new.txt");
    EXPECT_EQ(ctl.WaveDirectory(), "\\snd\\");
    EXPECT_EQ(ctl.Effects().GetSize(), 0);
    EXPECT_TRUE(m_view.EffectRows().empty());
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    EXPECT_EQ(old->pBuffer, nullptr);
    EXPECT_TRUE(IniRemembers("new.txt"));
    EXPECT_EQ(ctl.Settings().m_strSoundsFile, "new.txt");
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(m_dir.Path()).parent_path());
    // Listed, while the choice stays on the set open before.
    EXPECT_EQ(m_view.SelectorItems(), (std::vector<std::string>{"a.txt", "b.txt", "new.txt"}));
    EXPECT_EQ(m_view.SelectorCurSel(), 0);
    EXPECT_EQ(FileText("a.txt"), SetText(ExeDir(), {kLineA}));
}

TEST_F(SetCommandsTest, NewSetWithoutTxtIsCreatedButNotListed) {
    CSetController& ctl = StartPlayingA();
    m_messages.Answer(IDYES);
    m_view.QueueNewSet(NewSetOk("", "plain"));
    ctl.NewSet();
    EXPECT_EQ(FileText("plain"), SetText("", {}));
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "plain");
    EXPECT_TRUE(IniRemembers("plain"));
    EXPECT_EQ(m_view.SelectorItems(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(SetCommandsTest, NewOverAnExistingFileAsksAndKeepsItOnNo) {
    CSetController& ctl = StartPlayingA();
    const EffectEntryPtr entry = ctl.Effects().GetPtrAt(0);
    const std::string bBefore = FileText("b.txt");
    m_messages.Answer(IDYES);
    m_messages.Answer(IDNO);
    m_view.QueueNewSet(NewSetOk("", "b.txt"));
    ctl.NewSet();

    ASSERT_EQ(m_messages.Messages().size(), 2u);
    EXPECT_EQ(m_messages.Messages()[1].text, Sj("b.txtは既に存在します。上書きしますか？"));
    EXPECT_EQ(m_messages.Messages()[1].caption, "Otomaru");
    EXPECT_EQ(m_messages.Messages()[1].type, MB_YESNO | MB_ICONEXCLAMATION);
    EXPECT_EQ(FileText("b.txt"), bBefore);
    ExpectAStillOpen(entry);
    ctl.StopAll();
}

TEST_F(SetCommandsTest, NewOverAnExistingFileReplacesItOnYes) {
    CSetController& ctl = StartPlayingA();
    m_messages.Answer(IDYES);
    m_messages.Answer(IDYES);
    m_view.QueueNewSet(NewSetOk("/w/", "b.txt"));
    ctl.NewSet();
    EXPECT_EQ(m_messages.Messages().size(), 2u);
    EXPECT_EQ(FileText("b.txt"), SetText("\\w\\", {}));
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "b.txt");
    EXPECT_EQ(ctl.Effects().GetSize(), 0);
    EXPECT_TRUE(IniRemembers("b.txt"));
}

// File names that would land outside the executable directory, or nowhere, are refused before
// anything is closed.
class NewSetNameTest : public SetCommandsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NewSetNameTest, RefusedAndTheOpenSetStaysOpen) {
    CSetController& ctl = StartPlayingA();
    std::filesystem::create_directory(HostPath("dir"));
    const EffectEntryPtr entry = ctl.Effects().GetPtrAt(0);
    const auto listingBefore = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(m_dir.Path()))
            names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listingBefore();
    m_messages.Answer(IDYES);
    m_view.QueueNewSet(NewSetOk("", GetParam()));
    ctl.NewSet();

    ASSERT_EQ(MessageTexts().size(), 2u);
    EXPECT_EQ(
        MessageTexts()[1],
        Sj("音源ファイル名が正しくありません。フォルダーを含まないファイル名を指定してください。"));
    EXPECT_EQ(listingBefore(), before);
    ExpectAStillOpen(entry);
    ctl.StopAll();
}

INSTANTIATE_TEST_SUITE_P(BadNames, NewSetNameTest,
                         ::testing::Values("", "sub/x.txt", "/tmp/x.txt", "..\\x.txt", "a\\b.txt",
                                           ".", "..", "dir"));

TEST_F(SetCommandsTest, NewSetNameWithATrailByteLikeABackslashIsAccepted) {
    CSetController& ctl = StartPlayingA();
    const std::string name = Sj("ソ.txt"); // 0x83 0x5C: one character, no separator
    ASSERT_EQ(name[1], '\\');
    m_messages.Answer(IDYES);
    m_view.QueueNewSet(NewSetOk("", name));
    ctl.NewSet();
    EXPECT_EQ(MessageTexts().size(), 1u);
    EXPECT_EQ(FileText("ソ.txt"), SetText("", {}));
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "ソ.txt");
}

// A set file named with a character CP932 has no form for is listed and tells why it does not
// open; one named with the input methods' 〜 opens and is remembered in CP932.
TEST_F(SetCommandsTest, SetFileNamesOutsideCp932AreExplainedNotLost) {
    CSetController& ctl = StartPlayingA();
    const EffectEntryPtr entry = ctl.Effects().GetPtrAt(0);
    MakeSet("café.txt", "", {});
    MakeSet("効果 〜.txt", "", {}); // U+301C
    ctl.FillSetSelector();
    m_view.ChooseSet(Sj("caf?.txt"));
    ASSERT_GE(m_view.GetSetSelectorCurSel(), 0);
    ctl.SwitchSet();
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_NE(MessageTexts()[0].find(Sj("CP932（Shift-JIS）で表せない文字")), std::string::npos);
    EXPECT_EQ(m_view.SelectorItems()[m_view.SelectorCurSel()], "a.txt");
    ExpectAStillOpen(entry);

    m_view.ChooseSet(Sj("効果 〜.txt"));
    ctl.SwitchSet();
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "効果 〜.txt");
    EXPECT_TRUE(IniRemembers(Sj("効果 〜.txt")));
    EXPECT_EQ(MessageTexts().size(), 1u);

    // A set really named "caf?.txt" is listed first of the two rows that read so, and opens.
    MakeSet("caf?.txt", "", {});
    ctl.FillSetSelector();
    m_view.ChooseSet("caf?.txt");
    ctl.SwitchSet();
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "caf?.txt");
    EXPECT_EQ(MessageTexts().size(), 1u);
}
