// Sound files dropped on the effect list: how each is stored and named, which are refused and
// why, several added with one write, one opening the editor filled in.
#include "tests/controller/controller_fixture.h"

namespace {

enum class Stored { Bare, BelowWave, Absolute, Refused };
struct DropRow {
    const char* file; // below the executable directory
    bool sound;       // a WAVE file, else a file that does not decode (or none when refused)
    Stored stored;
    const char* name;
    const char* message; // what is said (after the path), or nullptr
};
const DropRow kRows[] = {
    {"snd/a.wav", true, Stored::Bare, "a", nullptr},
    {"snd/sub/b.wav", true, Stored::BelowWave, "b", nullptr},
    {"c.wav", true, Stored::Absolute, "c", nullptr},
    {"snd/broken.wav", false, Stored::Bare, "broken", nullptr}, // kept greyed
    {"snd/\xF0\x9F\x8E\xB5.wav", true, Stored::Refused, "",
     "\nCP932（Shift-JIS）で表せない文字は使えません。別の名前を使ってください。"},
    {"snd/x,y.wav", true, Stored::Refused, "",
     "\n効果音の名前とWAVEファイルのパスにはカンマ（,）を使えません。"},
    {"snd/missing.wav", false, Stored::Refused, "", "が読み込めませんでした。"},
};

class DropFilesTest : public ControllerTest {
protected:
    CSetController& StartOnSoundFolder() {
        std::filesystem::create_directories(HostPath("snd/sub"));
        for (const DropRow& row : kRows) {
            if (row.sound) {
                MakeWave(row.file);
            } else if (row.stored != Stored::Refused) {
                EXPECT_TRUE(WriteText(HostPath(row.file), "not a RIFF file"));
            }
        }
        MakeSet("s.txt", m_strWaveDir, {});
        Remember("s.txt");
        return Start();
    }
    std::string StoredPath(const DropRow& row) const {
        const std::string inSnd = std::string(row.file).substr(4);
        switch (row.stored) {
        case Stored::Bare:
            return inSnd;
        case Stored::BelowWave:
            return m_strWaveDir + ToStoredPath(inSnd);
        default:
            return ToStoredPath(m_dir.Cp932(row.file));
        }
    }
    const std::string m_strWaveDir = ToStoredPath(m_dir.Cp932("snd/"));
};

TEST_F(DropFilesTest, SeveralAreAddedInOrderWithOneWriteAndRefusalsSaid) {
    CSetController& ctl = StartOnSoundFolder();
    std::vector<std::string> paths;
    std::vector<std::string> lines;
    for (const DropRow& row : kRows) {
        paths.push_back(HostPath(row.file));
        if (row.stored != Stored::Refused)
            lines.push_back(EffectLine(StoredPath(row), row.name, 0, 0, 0, 0, 1, 0));
    }
    m_view.ClearCalls();
    ctl.AddDroppedFiles(paths);

    EXPECT_TRUE(m_view.EditorCalls().empty());
    EXPECT_EQ(m_view.CountCalls("FillEffectList"), 1);
    EXPECT_EQ(FileText("s.txt"), SetText(m_strWaveDir, lines));
    ASSERT_EQ(ctl.Effects().GetSize(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ctl.Effects().GetAt(i).IsAvailable(), kRows[i].sound) << kRows[i].file;
    const std::vector<std::string> said = MessageTexts();
    for (const DropRow& row : kRows) {
        if (row.message) {
            EXPECT_NE(std::find(said.begin(), said.end(),
                                Cp932FromUtf8(HostPath(row.file)) + Sj(row.message)),
                      said.end())
                << row.file;
        }
    }
}

TEST_F(DropFilesTest, OneOpensTheEditorFilledInFromTheFile) {
    CSetController& ctl = StartOnSoundFolder();
    FakeMixerView::EditorAnswer cancel;
    cancel.result = IDCANCEL;
    m_view.QueueEditor(cancel);
    FakeMixerView::EditorAnswer answer;
    answer.values.strWavePath = StoredPath(kRows[1]);
    answer.values.strName = "b";
    answer.values.wKey = 65;
    m_view.QueueEditor(answer);
    for (int i = 0; i < 2; ++i)
        ctl.AddDroppedFiles({HostPath(kRows[1].file)});

    ASSERT_EQ(m_view.EditorCalls().size(), 2u);
    const EffectEditorValues& shown = m_view.EditorCalls()[0].values;
    EXPECT_EQ(shown.strWavePath, StoredPath(kRows[1]));
    EXPECT_EQ(shown.strName, "b");
    EXPECT_EQ(shown.nRepeat, 1);
    ASSERT_EQ(ctl.Effects().GetSize(), 1); // the first was cancelled
    EXPECT_EQ(ctl.Effects().GetAt(0).nKey, 65);
    EXPECT_TRUE(ctl.Effects().GetAt(0).IsAvailable());
}

} // namespace
