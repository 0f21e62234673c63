// SPDX-License-Identifier: GPL-3.0-or-later
// FLAC, Ogg Vorbis, Opus and MP3 effects in a set beside WAVE ones: they load from set lines and
// through Add, wait their decoded length, and an unreadable one of each kind says so and stays.
#include "playback/play_job.h"
#include "tests/controller/controller_fixture.h"
#include "tests/support/encoded_sound.h"

namespace {

TEST_F(ControllerTest, CompressedEffectsLoadAndUnreadableOnesStayWithoutASound) {
    MakeWave("w.wav", 2205);
    const std::vector<float> tone = Sines(22050, 2205, {440}, {0.5});
    for (const char* ext : {"flac", "ogg", "mp3"}) {
        ASSERT_TRUE(WriteEncodedSound(HostPath(std::string("good.") + ext), 1, 22050, tone));
        ASSERT_TRUE(WriteText(HostPath(std::string("bad.") + ext), "not a sound"));
    }
    ASSERT_TRUE(
        WriteEncodedSound(HostPath("good.opus"), 1, 48000, Sines(48000, 4800, {440}, {0.5})));
    ASSERT_TRUE(WriteText(HostPath("bad.opus"), "not a sound"));
    const std::vector<std::string> names = {"w.wav",    "good.flac", "bad.flac",
                                            "good.ogg", "bad.ogg",   "good.opus",
                                            "bad.opus", "good.mp3",  "bad.mp3"};
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < names.size(); ++i)
        lines.push_back(EffectLine(names[i], "効果", 0, static_cast<int>('1' + i), 0, 0, 1, 0));
    MakeSet("s.txt", ExeDir(), lines);
    Remember("s.txt");
    CSetController& ctl = Start();

    EXPECT_EQ(MessageTexts(), std::vector<std::string>(4, Sj("Waveファイルのオープンに失敗")));
    ASSERT_EQ(ctl.Effects().GetSize(), 9);
    for (int i = 0; i < 9; ++i) {
        const EffectEntry& entry = ctl.Effects().GetAt(i);
        const bool bad = names[static_cast<std::size_t>(i)].starts_with("bad");
        EXPECT_EQ(entry.IsAvailable(), !bad) << names[static_cast<std::size_t>(i)];
        if (bad)
            continue;
        // The worker's default wait is the decoded length: 100 ms for every good one.
        WAVEFORMATEX format{};
        entry.pBuffer->GetFormat(&format, sizeof format, nullptr);
        EXPECT_EQ(ComputeDefaultWait(entry.dwDataLength, format.nAvgBytesPerSec), 100u)
            << names[static_cast<std::size_t>(i)];
    }

    // Add takes a compressed file too; the write keeps every line, the silent ones included.
    m_messages.Clear();
    ASSERT_TRUE(WriteEncodedSound(HostPath("add.ogg"), 1, 22050, tone));
    FakeMixerView::EditorAnswer add;
    add.values.strWavePath = "add.ogg";
    add.values.strName = Sj("追加");
    add.values.nRepeat = 1;
    m_view.QueueEditor(add);
    ctl.AddEffect();
    EXPECT_TRUE(MessageTexts().empty());
    ASSERT_EQ(ctl.Effects().GetSize(), 10);
    EXPECT_EQ(ctl.Effects().GetAt(9).dwDataLength, 2205u * 2);
    lines.push_back(EffectLine("add.ogg", "追加", 0, 0, 0, 0, 1, 0));
    EXPECT_EQ(FileText("s.txt"), SetText(ExeDir(), lines));

    // A decoded effect plays like a WAVE one.
    m_view.m_nEffectMark = 1;
    ctl.PlaySelected();
    EXPECT_EQ(ctl.Playbacks().GetSize(), 1);
    ctl.StopAll();
    DrainPlayDone();
}

} // namespace
