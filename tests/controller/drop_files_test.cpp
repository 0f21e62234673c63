// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files dropped on the effect list: how each is stored and named, which are refused and
// why, all added with one write.
#include "tests/controller/controller_fixture.h"

namespace {

struct DropRow {
    const char* file;   // below the executable directory; not a WAVE file when `sound` is false
    bool sound;         // refused rows: whether the file is there at all
    const char* stored; // after the WAVE directory ("W") or the executable's ("E"); "" = refused
    const char* text;   // the effect's name, or a refusal's message after the path
};
const DropRow kRows[] = {
    {"snd/a.wav", true, "a.wav", "a"},
    {"snd/sub/b.wav", true, "Wsub\\b.wav", "b"},
    {"c.wav", true, "Ec.wav", "c"},
    {"snd/bad.wav", false, "bad.wav", "bad"}, // kept greyed
    {"snd/\xF0\x9F\x8E\xB5.wav", true, "",
     "\nCP932（Shift-JIS）で表せない文字は使えません。別の名前を使ってください。"},
    {"snd/x,y.wav", true, "", "\nカンマ（,）と改行は使えません。"},
    {"snd/x\ny.wav", true, "", "\nカンマ（,）と改行は使えません。"},
    {"snd/none.wav", false, "", "が読み込めませんでした。"},
};

TEST_F(ControllerTest, DroppedFilesAreAddedInOrderWithOneWriteAndRefusalsSaid) {
    const std::string waveDir = "snd\\"; // relative: below it differs from absolute
    std::filesystem::create_directories(HostPath("snd/sub"));
    std::vector<std::string> paths, lines, said;
    for (const DropRow& row : kRows) {
        paths.push_back(HostPath(row.file));
        std::string stored = row.stored;
        if (row.sound)
            MakeWave(row.file);
        else if (!stored.empty())
            WriteText(HostPath(row.file), "not a RIFF file");
        if (stored.empty()) {
            said.push_back(Cp932FromUtf8(paths.back()) + Sj(row.text));
            continue;
        }
        if (stored[0] == 'W' || stored[0] == 'E')
            stored = (stored[0] == 'W' ? waveDir : ToStoredPath(m_dir.Cp932())) + stored.substr(1);
        lines.push_back(EffectLine(stored, row.text, 0, 0, 0, 0, 1, 0));
    }
    MakeSet("s.txt", waveDir, {});
    Remember("s.txt");
    CSetController& ctl = Start();
    m_view.ClearCalls();
    ctl.AddDroppedFiles(paths);

    EXPECT_TRUE(m_view.EditorCalls().empty());
    EXPECT_EQ(m_view.CountCalls("FillEffectList"), 1);
    EXPECT_EQ(FileText("s.txt"), SetText(waveDir, lines));
    ASSERT_EQ(ctl.Effects().GetSize(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ctl.Effects().GetAt(i).IsAvailable(), kRows[i].sound) << kRows[i].file;
    const std::vector<std::string> texts = MessageTexts();
    for (const std::string& text : said)
        EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << text;
}

} // namespace
