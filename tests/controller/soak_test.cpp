// SPDX-License-Identifier: GPL-3.0-or-later
// Thousands of random commands against the set controller, as a restless user would give them,
// with the window's invariants checked after every step: the lists show exactly the table and
// the running playbacks, no playback refers to a removed effect, and the files on disk read back
// to what is in memory. Then a clean shut-down: no job, no thread left.
#include "base/atomic_file.h"
#include "core/set_file.h"
#include "input/key_trigger.h"
#include "tests/controller/controller_fixture.h"
#include "tests/support/test_support.h"

#include <array>
#include <random>
#include <thread>

namespace {

enum class Command {
    Play,
    StopSelected,
    StopAll,
    Add,
    Edit,
    Delete,
    Switch,
    New,
    KeyDown,
    KeyUp,
    Click,
    DoubleClick,
    PlayDone,
    Count
};

// How often each command comes, out of the sum. Commands that write files (and sync them) are
// rarer, so that the run stays within a few seconds on a slow disk.
constexpr std::array<int, static_cast<int>(Command::Count)> kWeights = {14, 6,  2,  4, 4, 3, 3,
                                                                        2,  16, 14, 6, 4, 22};

const char* Name(Command c) {
    static const char* const names[] = {"play",   "stop selected", "stop all", "add",      "edit",
                                        "delete", "switch",        "new",      "key down", "key up",
                                        "click",  "double click",  "play done"};
    return names[static_cast<int>(c)];
}

class SoakTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        for (const char* name : {"w0.wav", "w1.wav", "w2.wav"})
            MakeWave(name);
        std::filesystem::create_directory(HostPath("sub"));
        MakeWave("sub/w3.wav", 2205);
        ASSERT_TRUE(WriteText(HostPath("bad.wav"), "RIFF but not a wave"));
        std::filesystem::create_directory(HostPath("dir.wav"));
        MakeSet("a.txt", ExeDir(),
                {EffectLine("w0.wav", "零", 0, '1', 0, 0, 1, 0),
                 EffectLine("w1.wav", "一", 2, '2', -3000, -600, 3, 20),
                 EffectLine("sub\\w3.wav", "三", 0, '3', 5000, 0, 0, 0),
                 EffectLine("missing.wav", "無", 0, '4', 0, 0, 1, 0)});
        MakeSet("b.txt", "", {EffectLine("w2.wav", "二", 4, '1', 0, -1200, 2, 0)});
        ASSERT_TRUE(WriteText(HostPath("garbage.txt"), "not a set\r\n"));
        Remember("a.txt");
    }

    // Questions are answered at random, except the first question of a new set, whose answer the
    // step decides beforehand so that a queued dialog answer is always used.
    int Answer(const std::string& text, unsigned type) {
        static const std::string kAskNew = Sj("新規音源ファイルを作成しますか？");
        ++m_nMessages;
        if ((type & MB_YESNO) == 0)
            return IDOK;
        if (text == kAskNew)
            return m_bNewSetYes ? IDYES : IDNO;
        return Pick(3) == 0 ? IDNO : IDYES;
    }

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    EffectEditorValues RandomEditorValues() {
        static const std::vector<std::string> paths = {
            "w0.wav",      "w1.wav",  "w2.wav",  "sub\\w3.wav",  "sub/w3.wav",
            "missing.wav", "bad.wav", "dir.wav", "w0.wav,comma", ""};
        EffectEditorValues v;
        v.strWavePath = paths[static_cast<std::size_t>(Pick(static_cast<int>(paths.size())))];
        v.strName = Pick(10) == 0 ? Sj("名前,カンマ") : Sj("効果") + std::to_string(Pick(100));
        v.wKey = static_cast<std::uint16_t>(Pick(4) == 0 ? 0 : '1' + Pick(5));
        v.wModifiers = static_cast<std::uint16_t>(Pick(8));
        v.nPan = Pick(20001) - 10000;
        v.nVolume = -Pick(10001);
        v.nRepeat = Pick(4);
        v.nInterval = Pick(3) * 15;
        return v;
    }

    void Step(Command c) {
        CSetController& ctl = *m_ctl;
        const int rows = ctl.Effects().GetSize();
        switch (c) {
        case Command::Play:
            m_view.m_nEffectMark = Pick(rows + 1) - 1;
            ctl.PlaySelected();
            break;
        case Command::StopSelected:
            m_view.m_nPlayMark = Pick(ctl.Playbacks().GetSize() + 1) - 1;
            ctl.StopSelected();
            break;
        case Command::StopAll:
            ctl.StopAll();
            break;
        case Command::Add: {
            // A set that is there but did not read (garbage.txt) is refused before the editor.
            const std::size_t opened = m_view.EditorCalls().size();
            const bool opens = ctl.SetMayBeWritten();
            if (opens)
                m_view.QueueEditor({Pick(5) == 0 ? IDCANCEL : IDOK, RandomEditorValues(), {}});
            ctl.AddEffect();
            ASSERT_EQ(m_view.EditorCalls().size(), opened + (opens ? 1 : 0));
            break;
        }
        case Command::Edit: {
            m_view.m_nEffectMark = Pick(rows + 1) - 1;
            const std::size_t opened = m_view.EditorCalls().size();
            const bool opens = m_view.m_nEffectMark >= 0;
            if (opens)
                m_view.QueueEditor({Pick(5) == 0 ? IDCANCEL : IDOK, RandomEditorValues(), {}});
            ctl.EditEffect();
            ASSERT_EQ(m_view.EditorCalls().size(), opened + (opens ? 1 : 0));
            break;
        }
        case Command::Delete:
            m_view.m_nEffectMark = Pick(rows + 1) - 1;
            ctl.DeleteEffect();
            break;
        case Command::Switch: {
            static const std::vector<std::string> names = {"a.txt", "b.txt", "garbage.txt", "c.txt",
                                                           "gone.txt"};
            m_view.ChooseSet(names[static_cast<std::size_t>(Pick(static_cast<int>(names.size())))]);
            ctl.SwitchSet();
            break;
        }
        case Command::New: {
            static const std::vector<std::string> names = {"c.txt", "b.txt", "noext",
                                                           "",      "sub",   "x/y.txt"};
            m_bNewSetYes = Pick(4) != 0;
            const std::size_t opened = m_view.NewSetFolders().size();
            if (m_bNewSetYes) {
                NewSetValues v;
                v.strFileName =
                    names[static_cast<std::size_t>(Pick(static_cast<int>(names.size())))];
                v.strWavePath = Pick(2) == 0 ? ExeDir() : std::string();
                m_view.QueueNewSet({Pick(5) == 0 ? IDCANCEL : IDOK, v});
            }
            ctl.NewSet();
            ASSERT_EQ(m_view.NewSetFolders().size(), opened + (m_bNewSetYes ? 1 : 0));
            if (m_bNewSetYes)
                ExpectSelectorListsTheSets();
            break;
        }
        case Command::KeyDown: {
            // A hotkey of the sets (or Enter) with random modifiers; a held key repeats.
            const int key = Pick(6) == 0 ? VK_RETURN : '1' + Pick(5);
            m_keys[static_cast<std::size_t>(key)] = 0x80;
            m_keys[VK_MENU] = Pick(4) == 0 ? 0x80 : 0;
            m_keys[VK_CONTROL] = Pick(4) == 0 ? 0x80 : 0;
            m_keys[VK_SHIFT] = Pick(4) == 0 ? 0x80 : 0;
            m_view.m_nEffectMark = Pick(rows + 1) - 1;
            ctl.TranslateKeyMessage(Pick(8) == 0 ? WM_SYSKEYDOWN : WM_KEYDOWN, m_keys.data());
            break;
        }
        case Command::KeyUp: {
            const int key = Pick(6) == 0 ? VK_RETURN : '1' + Pick(5);
            m_keys[static_cast<std::size_t>(key)] = 0;
            ctl.TranslateKeyMessage(WM_KEYUP, m_keys.data());
            break;
        }
        case Command::Click:
            m_view.m_nEffectMark = Pick(rows + 1) - 1;
            ctl.OnClickEffectList(Pick(2) == 0);
            break;
        case Command::DoubleClick: {
            m_view.m_nEffectMark = Pick(rows + 1) - 1;
            const bool shift = Pick(2) == 0;
            const std::size_t opened = m_view.EditorCalls().size();
            const bool opens = shift && m_view.m_nEffectMark >= 0;
            if (opens)
                m_view.QueueEditor({Pick(2) == 0 ? IDCANCEL : IDOK, RandomEditorValues(), {}});
            ctl.OnDblclkEffectList(shift);
            ASSERT_EQ(m_view.EditorCalls().size(), opened + (opens ? 1 : 0));
            break;
        }
        case Command::PlayDone:
            DrainPlayDone();
            break;
        case Command::Count:
            break;
        }
        // Endless repeats pile up: a user stops them now and then.
        if (ctl.Playbacks().GetSize() > 24)
            ctl.StopAll();
    }

    // The selector lists exactly the plain *.txt files of the executable directory.
    void ExpectSelectorListsTheSets() {
        std::vector<std::string> expected;
        for (const auto& f : std::filesystem::directory_iterator(m_dir.Path())) {
            const std::string name = f.path().filename().string();
            if (f.is_regular_file() && name.size() >= 4 && name.ends_with(".txt"))
                expected.push_back(Cp932FromUtf8(name));
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(m_view.SelectorItems(), expected);
    }

    void ExpectInvariants() {
        const CSetController& ctl = *m_ctl;
        // The effect list shows the table, row for row, entry for entry.
        const std::vector<EffectEntryPtr>& effectRows = m_view.EffectRows();
        ASSERT_EQ(static_cast<int>(effectRows.size()), ctl.Effects().GetSize());
        for (int i = 0; i < ctl.Effects().GetSize(); ++i)
            ASSERT_EQ(effectRows[static_cast<std::size_t>(i)], ctl.Effects().GetPtrAt(i)) << i;
        // The play list shows the running playbacks, and each plays an effect still in the set.
        const std::vector<PlayJobPtr>& playRows = m_view.PlayRows();
        ASSERT_EQ(static_cast<int>(playRows.size()), ctl.Playbacks().GetSize());
        for (int i = 0; i < ctl.Playbacks().GetSize(); ++i) {
            const PlayJobPtr& job = ctl.Playbacks().GetAt(i);
            ASSERT_EQ(playRows[static_cast<std::size_t>(i)], job) << i;
            ASSERT_GE(ctl.Effects().IndexOf(job->pEntry.get()), 0) << "job " << job->nId;
            ASSERT_TRUE(job->pEntry->IsAvailable());
        }
        // The set file reads back to the table; a set file that does not read leaves it empty.
        EffectTable onDisk;
        std::string waveDir;
        bool read;
        {
            ScopedMessageFunction quiet(
                [](const std::string&, const std::string&, unsigned) { return IDOK; });
            read = ReadSetFile(ctl.SetFilePath(), onDisk, waveDir, nullptr);
        }
        if (read) {
            ASSERT_EQ(TableRows(onDisk), TableRows(ctl.Effects()));
            ASSERT_EQ(waveDir, ctl.WaveDirectory());
        } else {
            ASSERT_EQ(ctl.Effects().GetSize(), 0);
        }
        // The settings file remembers the current set; what was not a set is never written over.
        ASSERT_TRUE(IniRemembers(ctl.Settings().m_strSoundsFile));
        ASSERT_EQ(FileText("garbage.txt"), "not a set\r\n");
    }

    std::mt19937 m_random{20261208};
    std::array<std::uint8_t, 256> m_keys{};
    bool m_bNewSetYes = true;
    int m_nMessages = 0;
};

TEST_F(SoakTest, RandomCommandsKeepListsTablesAndFilesInStep) {
    constexpr int kSteps = SoakRounds(5000);
    ScopedMessageFunction answer([this](const std::string& text, const std::string&,
                                        unsigned type) { return Answer(text, type); });
    const int baseThreads = ThreadCount();
    CSetController& ctl = Start();
    ASSERT_NO_FATAL_FAILURE(ExpectInvariants());

    std::discrete_distribution<int> command(kWeights.begin(), kWeights.end());
    std::array<int, static_cast<int>(Command::Count)> counts{};
    int maxPlaying = 0;
    int started = 0;
    int fileChanges = 0; // steps after which the open set's file held other bytes
    int maxEffects = 0;
    std::string lastFile = FileText("a.txt");
    for (int step = 0; step < kSteps; ++step) {
        const Command c = static_cast<Command>(command(m_random));
        ++counts[static_cast<std::size_t>(c)];
        const int before = ctl.Playbacks().GetSize();
        SCOPED_TRACE("step " + std::to_string(step) + ": " + Name(c));
        ASSERT_NO_FATAL_FAILURE(Step(c));
        ASSERT_NO_FATAL_FAILURE(ExpectInvariants());
        if (HasFailure())
            break;
        started += std::max(0, ctl.Playbacks().GetSize() - before);
        maxEffects = std::max(maxEffects, ctl.Effects().GetSize());
        const std::string file = ReadText(Utf8FromCp932(ctl.SetFilePath()));
        fileChanges += file != lastFile ? 1 : 0;
        lastFile = file;
        maxPlaying = std::max(maxPlaying, ctl.Playbacks().GetSize());
    }
    // A soak that never played or never changed the set proves nothing.
    EXPECT_GT(started, 100);
    EXPECT_GT(fileChanges, 50);

    ctl.DestroyWindow();
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    EXPECT_EQ(ctl.Effects().GetSize(), 0);
    m_ctl.reset();
    EXPECT_TRUE(ThreadCountReturnsTo(baseThreads))
        << ThreadCount() << " threads, " << baseThreads << " before start";
    std::printf("[ figures ] %d steps: %d playbacks started (at most %d at once), %d set file "
                "changes, up to %d effects, %d messages\n",
                kSteps, started, maxPlaying, fileChanges, maxEffects, m_nMessages);
}

// A set file write cut short by a kill leaves its temporary file beside the sets; the set
// selector must never offer it.
TEST_F(SoakTest, TemporaryLeftByAKilledWriteIsNeverListed) {
    auto FileCount = [this] {
        int n = 0;
        for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(m_dir.Path()))
            ++n;
        return n;
    };
    const int filesBefore = FileCount();
    ASSERT_TRUE(KilledAtWriteStep(AtomicWriteStep::Rename, 1, [this] {
        WriteSetFile(m_dir.Cp932("a.txt"), "x\\", EffectTable());
    }));
    ASSERT_EQ(FileCount(), filesBefore + 1); // the temporary is there
    Start();
    EXPECT_EQ(m_view.SelectorItems(), (std::vector<std::string>{"a.txt", "b.txt", "garbage.txt"}));
    EXPECT_EQ(m_ctl->Effects().GetSize(), 4); // the old a.txt, whole
}

} // namespace
