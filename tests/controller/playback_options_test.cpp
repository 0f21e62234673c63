// Retrigger modes and choke groups: which jobs run after a sequence of presses, whichever way
// the press arrives (the Play button, a hotkey as the window or a global grab delivers it, or the
// remote's --play).
#include "core/remote_command.h"
#include "tests/controller/controller_fixture.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace {

enum class Via { Button, Key, Remote };

struct Press {
    int effect;
    Via via;
};

} // namespace

class PlaybackOptionsTest : public ControllerTest {
protected:
    // Effects 0..5 on keys A..F, all endless so that a job runs until something stops it.
    static constexpr const char* kOptions[] = {
        "", "retrigger=restart", "retrigger=toggle", "choke=1,retrigger=bad", "choke=1", "choke=2",
    };
    CSetController& StartWithOptions() {
        MakeWave("a.wav");
        std::vector<std::string> lines;
        for (int i = 0; i < 6; ++i) {
            std::string line = EffectLine("a.wav", "e" + std::to_string(i), 0, 65 + i, 0, 0, 0, 0);
            if (*kOptions[i])
                line += std::string(",") + kOptions[i];
            lines.push_back(line);
        }
        MakeSet("s.txt", ExeDir(), lines);
        Remember("s.txt");
        return Start();
    }
    void Do(CSetController& ctl, const Press& p) {
        std::uint8_t keys[256] = {};
        switch (p.via) {
        case Via::Button:
            m_view.m_nEffectMark = p.effect;
            ctl.PlaySelected();
            break;
        case Via::Key:
            keys[65 + p.effect] = 0x80;
            ctl.TranslateKeyMessage(WM_KEYDOWN, keys);
            keys[65 + p.effect] = 0;
            ctl.TranslateKeyMessage(WM_KEYUP, keys);
            break;
        case Via::Remote:
            EXPECT_EQ(
                RunRemoteRequest({RemoteVerb::Play, "e" + std::to_string(p.effect)}, ctl).nStatus,
                0);
            break;
        }
    }
    // The effects of the jobs not asked to stop, in start order.
    std::vector<int> Running(const CSetController& ctl) const {
        std::vector<int> running;
        for (int i = 0; i < ctl.Playbacks().GetSize(); ++i) {
            const PlayJobPtr& job = ctl.Playbacks().GetAt(i);
            if (job->bRun.load() != 0)
                running.push_back(ctl.Effects().IndexOf(job->pEntry.get()));
        }
        return running;
    }
};

TEST_F(PlaybackOptionsTest, PressesGiveTheRunningJobsEachModeAsks) {
    struct Row {
        const char* name;
        std::vector<Press> presses;
        std::vector<int> running;
    };
    const Row rows[] = {
        {"designed: every press adds a job", {{0, Via::Button}, {0, Via::Key}}, {0, 0}},
        {"restart: one fresh job", {{1, Via::Button}, {1, Via::Remote}, {1, Via::Key}}, {1}},
        {"toggle: a second press stops", {{2, Via::Key}, {2, Via::Key}}, {}},
        {"toggle: a third starts again",
         {{2, Via::Remote}, {2, Via::Button}, {2, Via::Remote}},
         {2}},
        {"choke: another of the group stops", {{3, Via::Button}, {4, Via::Remote}}, {4}},
        {"choke: not the effect itself", {{4, Via::Key}, {4, Via::Key}}, {4, 4}},
        {"choke: other groups and none stay",
         {{0, Via::Key}, {3, Via::Key}, {5, Via::Remote}, {4, Via::Button}},
         {0, 5, 4}},
    };
    CSetController& ctl = StartWithOptions();
    ASSERT_EQ(ctl.Effects().GetSize(), 6);
    EXPECT_EQ(ctl.Effects().GetAt(3).options.retrigger, EffectOptions::Retrigger::Default);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        for (const Press& p : r.presses)
            Do(ctl, p);
        EXPECT_EQ(Running(ctl), r.running);
        ctl.StopAll();
    }
}

// A stop by command (the play list's 停止, a toggle, a choke) fades the sound out over its
// fadeout, from the next block, frame by frame on the half-cosine; a sound that ends by itself
// is not faded. 10 ms at 22050 Hz is 221 frames.
TEST_F(PlaybackOptionsTest, AStopByCommandFadesOutFromTheNextBlock) {
    ASSERT_TRUE(WriteBytes(HostPath("c.wav"),
                           MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050, 10000))));
    MakeSet("s.txt", ExeDir(),
            {EffectLine("c.wav", "e0", 0, 65, 0, 0, 0, 0) + ",fadeout=10",
             EffectLine("c.wav", "e1", 0, 66, 0, 0, 0, 0) + ",fadeout=10,retrigger=toggle",
             EffectLine("c.wav", "e2", 0, 67, 0, 0, 0, 0) + ",fadeout=10,choke=3",
             EffectLine("c.wav", "e3", 0, 68, 0, -10000, 1, 0) + ",choke=3"});
    Remember("s.txt");
    CSetController& ctl = Start();
    // The start-up jingle goes first.
    SoundOutputInfo info;
    for (int i = 0; i < 1000; ++i) {
        m_output.Render(512);
        if (GetSoundOutputInfo(m_output.Device(), &info) && info.nActiveVoices == 0)
            break;
    }
    ASSERT_EQ(info.nActiveVoices, 0u);
    const std::vector<Press> stops[] = {{}, {{1, Via::Key}}, {{3, Via::Remote}}};
    for (int effect = 0; effect < 3; ++effect) {
        SCOPED_TRACE(effect);
        Do(ctl, {effect, Via::Button});
        // Until the worker's first play has landed.
        std::vector<std::int16_t> block;
        for (int i = 0; i < 400 && (block.empty() || block[0] == 0); ++i) {
            block.clear();
            m_output.Render(256, block);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(block[0], 10000);
        if (effect == 0) {
            m_view.m_nPlayMark = 0;
            ctl.StopSelected();
        }
        for (const Press& p : stops[effect])
            Do(ctl, p);
        block.clear();
        m_output.Render(512, block);
        std::vector<std::int16_t> left;
        for (std::size_t i = 0; i < block.size(); i += 2)
            left.push_back(block[i]);
        for (const auto& [frame, value] :
             std::vector<std::pair<int, int>>{{0, 10000}, {110, 5036}, {220, 1}, {221, 0}})
            EXPECT_NEAR(left[static_cast<std::size_t>(frame)], value, 1) << frame;
        EXPECT_EQ(*std::max_element(left.begin() + 221, left.end()), 0);
        ctl.StopAll();
        DrainPlayDone();
    }
}
