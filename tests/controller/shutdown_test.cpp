// SPDX-License-Identifier: GPL-3.0-or-later
// Shut-down: every playback stopped, every buffer given back, no worker thread left behind.
#include "tests/controller/controller_fixture.h"

#include <thread>

class ShutdownTest : public ControllerTest {
protected:
    CSetController& StartAndPlayThree() {
        MakeWave("one.wav");
        MakeWave("two.wav");
        MakeSet("s.txt", ExeDir(),
                {EffectLine("one.wav", "一", 0, 65, 0, 0, 0, 0),
                 EffectLine("two.wav", "二", 0, 66, 0, 0, 0, 30)});
        Remember("s.txt");
        m_nBaseThreads = ThreadCount();
        CSetController& ctl = Start();
        m_view.m_nEffectMark = 0;
        ctl.PlaySelected();
        ctl.PlaySelected();
        m_view.m_nEffectMark = 1;
        ctl.PlaySelected();
        EXPECT_EQ(ctl.Playbacks().GetSize(), 3);
        for (int i = 0; i < ctl.Playbacks().GetSize(); ++i)
            m_jobs.push_back(ctl.Playbacks().GetAt(i));
        m_entries = {ctl.Effects().GetPtrAt(0), ctl.Effects().GetPtrAt(1)};
        return ctl;
    }
    int m_nBaseThreads = 0;
    std::vector<PlayJobPtr> m_jobs;
    std::vector<EffectEntryPtr> m_entries;
};

TEST_F(ShutdownTest, DestroyWindowLeavesNoJobNoBufferNoThread) {
    CSetController& ctl = StartAndPlayThree();
    EXPECT_GE(ThreadCount(), m_nBaseThreads + 3);
    const std::string iniBefore = FileText("Otomaru.ini");
    const std::string setBefore = FileText("s.txt");
    const std::vector<std::int16_t> silence(2 * 256, 0);
    EXPECT_NE(m_output.Render(256), silence); // the two-second jingle and the effects

    ctl.DestroyWindow();
    // Stopped or given back, every buffer is silent at once: no sound is left without a row.
    EXPECT_EQ(m_output.Render(256), silence);

    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    EXPECT_EQ(ctl.Effects().GetSize(), 0);
    for (const PlayJobPtr& job : m_jobs) {
        EXPECT_EQ(job->bActive.load(), 0);
        EXPECT_EQ(job->bRun.load(), 0);
    }
    for (const EffectEntryPtr& entry : m_entries)
        EXPECT_EQ(entry->pBuffer, nullptr);
    EXPECT_TRUE(m_view.PlayRows().empty());
    EXPECT_TRUE(ThreadCountReturnsTo(m_nBaseThreads));
    // Nothing is written at shut-down.
    EXPECT_EQ(FileText("Otomaru.ini"), iniBefore);
    EXPECT_EQ(FileText("s.txt"), setBefore);

    // Late reports find nothing; then the controller goes.
    DrainPlayDone();
    EXPECT_EQ(ctl.Playbacks().GetSize(), 0);
    m_ctl.reset();
    EXPECT_TRUE(ThreadCountReturnsTo(m_nBaseThreads));
}

TEST_F(ShutdownTest, ControllerDestroyedWithJobsRunningStopsThem) {
    StartAndPlayThree();
    m_ctl.reset();
    for (const PlayJobPtr& job : m_jobs)
        EXPECT_EQ(job->bActive.load(), 0);
    EXPECT_TRUE(ThreadCountReturnsTo(m_nBaseThreads));
}
