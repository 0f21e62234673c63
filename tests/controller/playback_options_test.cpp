// SPDX-License-Identifier: GPL-3.0-or-later
// Retrigger modes, choke groups and the fade-out of a stop by command, whichever way a press
// arrives: the Play button, a hotkey (as the window or a global grab delivers it), the remote.
#include "core/remote_command.h"
#include "tests/controller/controller_fixture.h"

#include <algorithm>
#include <thread>

namespace {

enum class Via { Button, Key, Remote };
struct Press {
    int effect;
    Via via;
};

} // namespace

class PlaybackOptionsTest : public ControllerTest {
protected:
    // Effects e0..e6 on keys A..G, endless, 10000 throughout; e4 silent. 10 ms is 221 frames.
    CSetController& StartWithOptions() {
        const char* options[] = {"",
                                 "retrigger=restart",
                                 "retrigger=toggle,fadeout=10",
                                 "choke=1,retrigger=bad,fadeout=10",
                                 "choke=1",
                                 "choke=2",
                                 "fadeout=10"};
        EXPECT_TRUE(WriteBytes(HostPath("c.wav"),
                               MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050, 10000))));
        std::vector<std::string> lines;
        for (int i = 0; i < 7; ++i)
            lines.push_back(EffectLine("c.wav", "e" + std::to_string(i), 0, 65 + i, 0,
                                       i == 4 ? -10000 : 0, 0, 0) +
                            (*options[i] ? "," : "") + options[i]);
        MakeSet("s.txt", ExeDir(), lines);
        Remember("s.txt");
        return Start();
    }
    void Do(CSetController& ctl, const Press& p) {
        std::uint8_t keys[256] = {};
        if (p.via == Via::Button) {
            m_view.m_nEffectMark = p.effect;
            ctl.PlaySelected();
        } else if (p.via == Via::Key) {
            keys[65 + p.effect] = 0x80;
            ctl.TranslateKeyMessage(WM_KEYDOWN, keys);
            keys[65 + p.effect] = 0;
            ctl.TranslateKeyMessage(WM_KEYUP, keys);
        } else {
            const RemoteRequest play{RemoteVerb::Play, "e" + std::to_string(p.effect)};
            EXPECT_EQ(RunRemoteRequest(play, ctl).nStatus, 0);
        }
    }
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
    };
    CSetController& ctl = StartWithOptions();
    ASSERT_EQ(ctl.Effects().GetSize(), 7);
    for (const Row& r : rows) {
        for (const Press& p : r.presses)
            Do(ctl, p);
        std::vector<int> running;
        for (int i = 0; i < ctl.Playbacks().GetSize(); ++i)
            if (const PlayJobPtr& job = ctl.Playbacks().GetAt(i); job->bRun.load() != 0)
                running.push_back(ctl.Effects().IndexOf(job->pEntry.get()));
        EXPECT_EQ(running, r.running) << r.name;
        ctl.StopAll();
    }
}

// The play list's 停止, a toggle and a choke fade out from the next block on the half-cosine.
TEST_F(PlaybackOptionsTest, AStopByCommandFadesOutFromTheNextBlock) {
    CSetController& ctl = StartWithOptions();
    SoundOutputInfo info; // the start-up jingle goes first
    do
        m_output.Render(512);
    while (GetSoundOutputInfo(m_output.Device(), &info) && info.nActiveVoices != 0);
    for (const auto& [effect, stop] : {std::pair{6, Press{-1, Via::Button}},
                                       {2, Press{2, Via::Key}},
                                       {3, Press{4, Via::Remote}}}) {
        Do(ctl, {effect, Via::Button});
        std::vector<std::int16_t> mix = m_output.Render(512); // left, right, left, ...
        for (int i = 0; i < 400 && mix[0] == 0; ++i, mix = m_output.Render(512))
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // the worker's first play
        ASSERT_EQ(mix[0], 10000) << effect;
        m_view.m_nPlayMark = 0;
        stop.effect < 0 ? ctl.StopSelected() : Do(ctl, stop);
        mix = m_output.Render(512);
        for (const auto& [frame, value] : {std::pair{0, 10000}, {110, 5036}, {220, 1}, {221, 0}})
            EXPECT_NEAR(mix[2 * static_cast<std::size_t>(frame)], value, 1)
                << effect << "@" << frame;
        EXPECT_EQ(*std::max_element(mix.begin() + 442, mix.end()), 0) << effect;
        ctl.StopAll();
        DrainPlayDone();
    }
}
