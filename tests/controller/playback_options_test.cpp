// SPDX-License-Identifier: GPL-3.0-or-later
// Retrigger modes, choke groups and the fade-out of a stop by command, whichever way a press
// arrives: the Play button, a hotkey (as the window or a global grab delivers it), the remote.
#include "core/remote_command.h"
#include "tests/controller/controller_fixture.h"

#include <algorithm>
#include <set>

namespace {

// Key: pressed and released; KeyDown and KeyUp: one half, the other keys staying as they are.
enum class Via { Button, Key, Remote, KeyDown, KeyUp };
struct Press {
    int effect;
    Via via;
};

} // namespace

class PlaybackOptionsTest : public ControllerTest {
protected:
    // Effects e0..e11 on keys A..L, endless, 10000 throughout (the added d.wav 2000, e.wav
    // 3000); e4 silent. 10 ms is 221 frames.
    CSetController& StartWithOptions() {
        const char* options[] = {"",
                                 "retrigger=restart",
                                 "retrigger=toggle,fadeout=10",
                                 "choke=1,retrigger=bad,fadeout=10",
                                 "choke=1",
                                 "choke=2",
                                 "fadeout=10",
                                 "retrigger=hold,fadeout=10",
                                 "retrigger=hold",
                                 "retrigger=restart,files=d.wav|e.wav",
                                 "retrigger=restart,files=d.wav|e.wav,pick=random",
                                 "files=d.wav|missing.wav"};
        for (const auto& [name, level] :
             {std::pair{"c.wav", 10000}, {"d.wav", 2000}, {"e.wav", 3000}})
            EXPECT_TRUE(WriteBytes(
                HostPath(name), MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050, level))));
        std::vector<std::string> lines;
        for (int i = 0; i < static_cast<int>(std::size(options)); ++i)
            lines.push_back(EffectLine("c.wav", "e" + std::to_string(i), 0, 65 + i, 0,
                                       i == 4 ? -10000 : 0, 0, 0) +
                            (*options[i] ? "," : "") + options[i]);
        MakeSet("s.txt", ExeDir(), lines);
        Remember("s.txt");
        return Start();
    }
    void Do(CSetController& ctl, const Press& p) {
        std::uint8_t* key = &m_keys[65 + p.effect];
        if (p.via == Via::Button) {
            m_view.m_nEffectMark = p.effect;
            ctl.PlaySelected();
        } else if (p.via == Via::Key || p.via == Via::KeyDown || p.via == Via::KeyUp) {
            if (p.via != Via::KeyUp) {
                *key = 0x80;
                ctl.TranslateKeyMessage(WM_KEYDOWN, m_keys);
            }
            if (p.via != Via::KeyDown) {
                *key = 0;
                ctl.TranslateKeyMessage(WM_KEYUP, m_keys);
            }
        } else {
            const RemoteRequest play{RemoteVerb::Play, "e" + std::to_string(p.effect)};
            EXPECT_EQ(RunRemoteRequest(play, ctl).nStatus, 0);
        }
    }
    // Renders until the start-up jingle has ended.
    void PassTheJingle() {
        SoundOutputInfo info;
        do
            m_output.Render(512);
        while (GetSoundOutputInfo(m_output.Device(), &info) && info.nActiveVoices != 0);
    }
    std::uint8_t m_keys[256] = {};
};

TEST_F(PlaybackOptionsTest, PressesGiveTheRunningJobsEachModeAsks) {
    const struct Row {
        const char* name;
        std::vector<Press> presses;
        std::vector<int> running; // effects of the jobs not asked to stop, in start order
    } rows[] = {
        {"designed: every press adds a job", {{0, Via::Button}, {0, Via::Key}}, {0, 0}},
        {"restart: one fresh job", {{1, Via::Button}, {1, Via::Remote}, {1, Via::Key}}, {1}},
        {"toggle: a second press stops", {{2, Via::Key}, {2, Via::Key}}, {}},
        {"toggle: a third starts", {{2, Via::Remote}, {2, Via::Button}, {2, Via::Remote}}, {2}},
        {"choke: another of the group stops", {{3, Via::Button}, {4, Via::Remote}}, {4}},
        {"choke: not the effect itself", {{4, Via::Key}, {4, Via::Key}}, {4, 4}},
        {"choke: others stay",
         {{0, Via::Key}, {3, Via::Key}, {5, Via::Remote}, {4, Via::Button}},
         {0, 5, 4}},
        {"hold: sounds while held", {{7, Via::KeyDown}, {0, Via::Key}, {7, Via::KeyDown}}, {7, 0}},
        {"hold: the release stops", {{7, Via::KeyDown}, {8, Via::Key}, {7, Via::KeyUp}}, {}},
        {"hold: no release restarts",
         {{7, Via::Button}, {7, Via::Remote}, {8, Via::Button}},
         {7, 8}},
    };
    CSetController& ctl = StartWithOptions();
    ASSERT_EQ(ctl.Effects().GetSize(), 12);
    for (const Row& r : rows) {
        for (const Press& p : r.presses)
            Do(ctl, p);
        std::vector<int> running;
        for (int i = 0; i < ctl.Playbacks().GetSize(); ++i)
            if (const PlayJobPtr& job = ctl.Playbacks().GetAt(i); job->bRun.load() != 0)
                running.push_back(ctl.Effects().IndexOf(job->pEntry.get()));
        EXPECT_EQ(running, r.running) << r.name;
        ctl.StopAll();
        std::fill(std::begin(m_keys), std::end(m_keys), 0);
        ctl.TranslateKeyMessage(WM_KEYUP, m_keys);
    }
}

// The play list's 停止, a toggle, a choke and a hold's release fade out from the next block on the
// half-cosine; a release without a fade-out is silent from that block.
TEST_F(PlaybackOptionsTest, AStopByCommandFadesOutFromTheNextBlock) {
    CSetController& ctl = StartWithOptions();
    PassTheJingle();
    using Frames = std::vector<std::pair<int, int>>;
    const Frames fade{{0, 10000}, {110, 5036}, {220, 1}, {221, 0}};
    const struct {
        Press start, stop;
        Frames frames;
    } rows[] = {
        {{6, Via::Button}, {-1, Via::Button}, fade},    {{2, Via::Button}, {2, Via::Key}, fade},
        {{3, Via::Button}, {4, Via::Remote}, fade},     {{7, Via::KeyDown}, {7, Via::KeyUp}, fade},
        {{8, Via::KeyDown}, {8, Via::KeyUp}, {{0, 0}}},
    };
    for (const auto& r : rows) {
        Do(ctl, r.start);
        std::vector<std::int16_t> mix = m_output.Render(512); // left, right, left, ...
        ASSERT_EQ(mix[0], 10000) << r.start.effect;
        m_view.m_nPlayMark = 0;
        r.stop.effect < 0 ? ctl.StopSelected() : Do(ctl, r.stop);
        mix = m_output.Render(512);
        for (const auto& [frame, value] : r.frames)
            EXPECT_NEAR(mix[2 * static_cast<std::size_t>(frame)], value, 1)
                << r.start.effect << "@" << frame;
        EXPECT_EQ(*std::max_element(mix.begin() + 442, mix.end()), 0) << r.start.effect;
        ctl.StopAll();
        DrainPlayDone();
    }
}

// Each start plays the file its pick gives, heard at the next block: cycle goes round from the
// effect's own file; random never takes the same one twice running. A file that is not there
// greys the effect.
TEST_F(PlaybackOptionsTest, AddedFilesPlayInTurnOrAtRandom) {
    CSetController& ctl = StartWithOptions();
    PassTheJingle();
    EXPECT_FALSE(ctl.Effects().GetAt(11).IsAvailable());
    auto heard = [&](int effect, int presses) {
        std::vector<int> levels;
        for (int i = 0; i < presses; ++i) {
            Do(ctl, {effect, i % 2 ? Via::Key : Via::Remote});
            levels.push_back(m_output.Render(512)[0]);
        }
        ctl.StopAll();
        DrainPlayDone();
        return levels;
    };
    EXPECT_EQ(heard(9, 5), (std::vector<int>{10000, 2000, 3000, 10000, 2000}));
    const std::vector<int> random = heard(10, 40);
    EXPECT_EQ(std::adjacent_find(random.begin(), random.end()), random.end());
    std::set<int> levels(random.begin(), random.end());
    EXPECT_EQ(levels, (std::set<int>{2000, 3000, 10000}));
}

// An edit loads the added files at once: one that stays keeps its sound, a path is stored with
// backslashes, and a file that is not there is named and greys the effect.
TEST_F(PlaybackOptionsTest, EditedFilesLoadAtOnceAndKeepTheSoundsThatStay) {
    CSetController& ctl = StartWithOptions();
    const EffectEntryPtr entry = ctl.Effects().GetPtrAt(9);
    const SoundBufferPtr kept = entry->extraSounds.at(1).pBuffer;
    FakeMixerView::EditorAnswer answer;
    answer.values.strWavePath = entry->strWavePath;
    answer.values.options = entry->options;
    answer.values.options.files = {"e.wav", "./d.wav", "gone.wav"};
    m_view.QueueEditor(answer);
    m_view.m_nEffectMark = 9;
    ctl.EditEffect();
    EXPECT_EQ(entry->extraSounds.at(0).pBuffer, kept);
    EXPECT_NE(entry->extraSounds.at(1).pBuffer, nullptr);
    EXPECT_NE(FileText("s.txt").find("files=e.wav|.\\d.wav|gone.wav"), std::string::npos);
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{ExeDir() + "gone.wav" + Sj("が読み込めませんでした。")});
    EXPECT_FALSE(entry->IsAvailable());
}
