// Retrigger modes and choke groups: which jobs run after a sequence of presses, whichever way
// the press arrives (the Play button, a hotkey as the window or a global grab delivers it, or the
// remote's --play).
#include "core/remote_command.h"
#include "tests/controller/controller_fixture.h"

#include <algorithm>

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
