// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: the order of the steps, what lands on disk, and how a missing or damaged set shows.
#include "tests/controller/controller_fixture.h"

#include "input/hotkey.h"

#include <algorithm>

namespace {

// Positions of the named calls in the fake's log; -1 when absent.
int Position(const std::vector<std::string>& calls, const std::string& name) {
    const auto it = std::find_if(calls.begin(), calls.end(), [&](const std::string& c) {
        return c == name || c.substr(0, c.find(' ')) == name;
    });
    return it == calls.end() ? -1 : static_cast<int>(it - calls.begin());
}

} // namespace

TEST_F(ControllerTest, FirstStartInAnEmptyDirectory) {
    CSetController& ctl = Start();

    // Settings created with the default, and the default set looked for beside the executable.
    EXPECT_TRUE(IniRemembers(Sj("音源.txt")));
    EXPECT_EQ(ctl.Settings().m_strSoundsFile, Sj("音源.txt"));
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "音源.txt");
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_EQ(m_messages.Messages()[0].text, ExeDir() + Sj("音源.txtが読み込めません。"));
    EXPECT_EQ(m_messages.Messages()[0].caption, "Otomaru");
    EXPECT_EQ(ctl.Effects().GetSize(), 0);
    EXPECT_TRUE(m_view.EffectRows().empty());

    // The executable directory is the current directory; Otomaru.ini is no set.
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(m_dir.Path()).parent_path());
    EXPECT_TRUE(m_view.SelectorItems().empty());
    EXPECT_EQ(m_view.SelectorCurSel(), -1);
    EXPECT_TRUE(ctl.Device().IsOpen());
    EXPECT_EQ(ctl.KeyLayout(), JapaneseKeyLayout());
}

TEST_F(ControllerTest, StartUpStepsRunInOrder) {
    MakeWave("a.wav");
    MakeSet("音源.txt", "", {EffectLine("a.wav", "あ", 0, 65, 0, 0, 1, 0)});
    Start();

    const std::vector<std::string>& calls = m_view.Calls();
    const std::vector<std::string> order = {
        "SetUpLists",       "WindowHandle",       "KeyboardLayoutHint", "FillEffectList",
        "ResetSetSelector", "AddSetSelectorItem", "LoadPopupMenus"};
    int last = -1;
    for (const std::string& name : order) {
        const int at = Position(calls, name);
        EXPECT_GT(at, last) << name << " out of order";
        last = at;
    }
    EXPECT_EQ(m_view.CountCalls("FillEffectList"), 1);
    EXPECT_EQ(m_view.LastLayout(), m_ctl->KeyLayout());
    EXPECT_TRUE(m_messages.Messages().empty());
}

TEST_F(ControllerTest, StartUpPlaysTheJingle) {
    Start();
    const std::vector<std::int16_t> mix = m_output.Render(11025);
    EXPECT_TRUE(std::any_of(mix.begin(), mix.end(), [](std::int16_t s) { return s != 0; }));
}

TEST_F(ControllerTest, KeyLayoutFollowsTheDesktopHint) {
    m_view.m_strLayoutHint = "us";
    Start();
    EXPECT_EQ(m_ctl->KeyLayout(), UsKeyLayout());
}

TEST_F(ControllerTest, StartUpOpensTheRememberedSetAndListsTheTxtFiles) {
    MakeWave("one.wav");
    MakeWave("two.wav");
    MakeSet("b.txt", ExeDir(),
            {EffectLine("one.wav", "一", 2, 112, -500, -600, 3, 250), "// a comment",
             EffectLine("two.wav", "二", 0, 66, 0, 0, 1, 0)});
    MakeSet("a.txt", ExeDir(), {});
    MakeSet("upper.TXT", ExeDir(), {});
    MakeSet("notes.md", ExeDir(), {});
    std::filesystem::create_directory(HostPath("folder.txt"));
    Remember("b.txt");

    CSetController& ctl = Start();

    EXPECT_TRUE(m_messages.Messages().empty());
    EXPECT_EQ(ctl.SetFilePath(), ExeDir() + "b.txt");
    EXPECT_EQ(ctl.WaveDirectory(), ExeDir());
    ASSERT_EQ(ctl.Effects().GetSize(), 2);
    const EffectEntry& first = ctl.Effects().GetAt(0);
    EXPECT_EQ(first.strName, Sj("一"));
    EXPECT_EQ(first.strWavePath, "one.wav");
    EXPECT_EQ(first.nModifiers.load(), 2);
    EXPECT_EQ(first.nKey.load(), 112);
    EXPECT_EQ(first.nPan.load(), -500);
    EXPECT_EQ(first.nVolume.load(), -600);
    EXPECT_EQ(first.nRepeat.load(), 3);
    EXPECT_EQ(first.nInterval.load(), 250);
    EXPECT_TRUE(first.IsAvailable());
    EXPECT_EQ(first.dwDataLength, 441u * 2);
    EXPECT_EQ(ctl.Effects().GetAt(1).strName, Sj("二"));

    // Rows in table order, each leading to its entry.
    ASSERT_EQ(m_view.EffectRows().size(), 2u);
    EXPECT_EQ(m_view.EffectRows()[0], ctl.Effects().GetPtrAt(0));
    EXPECT_EQ(m_view.EffectRows()[1], ctl.Effects().GetPtrAt(1));

    // Plain *.txt files only, in any letter case, sorted, the open one chosen.
    EXPECT_EQ(m_view.SelectorItems(), (std::vector<std::string>{"a.txt", "b.txt", "upper.TXT"}));
    EXPECT_EQ(m_view.SelectorCurSel(), 1);
}

TEST_F(ControllerTest, RememberedSetMissingIsReportedAndStillRemembered) {
    MakeSet("a.txt", "", {});
    Remember("gone.txt");
    CSetController& ctl = Start();

    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_EQ(MessageTexts()[0], ExeDir() + "gone.txt" + Sj("が読み込めません。"));
    EXPECT_EQ(ctl.Effects().GetSize(), 0);
    EXPECT_EQ(m_view.SelectorItems(), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(m_view.SelectorCurSel(), -1);
    EXPECT_TRUE(IniRemembers("gone.txt"));
}

TEST_F(ControllerTest, SetWithMissingWaveFilesKeepsThoseEntriesSilent) {
    MakeWave("here.wav");
    MakeSet("s.txt", ExeDir(),
            {EffectLine("missing.wav", "無", 0, 65, 0, 0, 1, 0),
             EffectLine("here.wav", "有", 0, 66, 0, 0, 1, 0)});
    Remember("s.txt");
    CSetController& ctl = Start();

    EXPECT_TRUE(m_messages.Messages().empty());
    ASSERT_EQ(ctl.Effects().GetSize(), 2);
    EXPECT_FALSE(ctl.Effects().GetAt(0).IsAvailable());
    EXPECT_TRUE(ctl.Effects().GetAt(1).IsAvailable());

    // Playing the silent one starts nothing; the other one plays.
    m_view.m_nEffectMark = 0;
    ctl.PlaySelected();
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    m_view.m_nEffectMark = 1;
    ctl.PlaySelected();
    EXPECT_EQ(ctl.Playbacks().GetSize(), 1);
}

TEST_F(ControllerTest, DamagedSetIsReportedAndLeavesNoRows) {
    ASSERT_TRUE(WriteText(HostPath("bad.txt"), "mok_file\r\n\r\n"));
    Remember("bad.txt");
    CSetController& ctl = Start();

    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_EQ(MessageTexts()[0], ExeDir() + "bad.txt" + Sj("は音源定義ファイルではありません。"));
    EXPECT_EQ(ctl.Effects().GetSize(), 0);
    EXPECT_TRUE(m_view.EffectRows().empty());
    EXPECT_EQ(m_view.SelectorCurSel(), 0);
}

// The remembered devices and mix rate are what the output opens with; nothing is written for
// them until the user chooses.
TEST_F(ControllerTest, StartUpOpensTheOutputOnTheRememberedDevicesAndRate) {
    struct Case {
        const char* what;
        std::string keys; // CP932 lines after SoundsFile
        OutputRoute route;
        std::uint32_t forcedRate;
    };
    const Case cases[] = {
        {"nothing remembered", "", {}, 0},
        {"a device and a monitor on the default",
         "OutputDevice=\"OtomaruB\"\r\nMonitorDevice=\"*\"\r\n",
         {"OtomaruB", true, {}},
         0},
        {"a monitor by a Japanese name",
         "MonitorDevice=\"" + Sj("ヘッドホン") + "\"\r\n",
         {{}, true, "ヘッドホン"},
         0},
        {"empty values and a forced rate",
         "OutputDevice=\"\"\r\nMonitorDevice=\"\"\r\nMixRate=\"22050\"\r\n",
         {},
         22050},
    };
    std::vector<OutputConfig> opened;
    m_factory = [&](const OutputConfig& config, SoundDevicePtr* device) {
        opened.push_back(config);
        return m_output.Factory()(config, device);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteText(HostPath("Otomaru.ini"),
                              "[Environment]\r\nSoundsFile=\"a.txt\"\r\n" + c.keys));
        opened.clear();
        CSetController& ctl = Start();
        EXPECT_EQ(ctl.Route(), c.route);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].route, c.route);
        EXPECT_EQ(opened[0].nForcedMixRate, c.forcedRate);
        EXPECT_EQ(FileText("Otomaru.ini").find("Device") == std::string::npos, c.keys.empty());
        m_ctl.reset();
    }
}
