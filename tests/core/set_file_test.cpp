// SPDX-License-Identifier: GPL-3.0-or-later
// The sound-source file byte for byte: line pieces, comments, field splitting, path joining,
// the four messages, and that no effect line is lost by a read followed by a write.
#include "base/text.h"
#include "core/set_file.h"
#include "tests/support/fake_buffer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <map>

namespace {

// Stands in for the WAVE loader: every file loads with length 1000 unless told otherwise, and
// every call is recorded with the full path it was given.
struct StubLoader {
    std::vector<std::string> calls;
    std::map<std::string, std::uint32_t> lengths; // full path -> length (0 = fails)
    WaveLoader Fn() {
        return [this](const std::string& fullPath, SoundBufferSlot& slot) -> std::uint32_t {
            calls.push_back(fullPath);
            auto it = lengths.find(fullPath);
            std::uint32_t n = it == lengths.end() ? 1000 : it->second;
            if (n != 0)
                slot = std::make_shared<FakeBuffer>(); // never played
            return n;
        };
    }
};

// Runs the body with the process's current directory at `dir`, restoring it afterwards.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::string& osDir) : m_old(GetCurrentDirectoryA()) {
        EXPECT_TRUE(SetCurrentDirectoryA(osDir));
    }
    ~ScopedCurrentDirectory() { SetCurrentDirectoryA(m_old); }

private:
    std::string m_old;
};

struct SetFileFixture : ::testing::Test {
    TempDir dir;
    MessageRecorder messages;
    StubLoader loader;
    EffectTable table;
    std::string waveDir = "unchanged";

    std::string SetPath() const { return dir.Cp932("set.txt"); }
    void WriteSet(std::string_view bytes) { ASSERT_TRUE(WriteText(dir.Path() + "set.txt", bytes)); }
    void Touch(const std::string& utf8Name) { ASSERT_TRUE(WriteText(dir.Path() + utf8Name, "x")); }
    bool Read() { return ReadSetFile(SetPath(), table, waveDir, loader.Fn()); }
};

TEST(SetFileTextTest, TrimCutsOnlySpacesCrAndLfAtTheEnd) {
    struct Row {
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"abc\r\n", "abc"}, {"abc \r \n ", "abc"}, {"abc\t\n", "abc\t"}, {"  abc", "  abc"},
        {"", ""},           {" \r\n", ""},         {"a\rb\n", "a\rb"},   {"\n\n", ""},
    };
    for (const Row& r : rows) {
        std::string s = r.in;
        TrimLineEnd(s);
        EXPECT_EQ(s, r.out) << '"' << r.in << '"';
    }
}

TEST(SetFileTextTest, SplitFillsSlotsInPlace) {
    struct Row {
        std::string line;
        int slots;
        std::vector<std::string> fields; // count = size
    };
    const Row rows[] = {
        {"a,b,1,2,3,4,5,6", 8, {"a", "b", "1", "2", "3", "4", "5", "6"}},
        {"a,,1,2,3,4,5,6", 8, {"a", "", "1", "2", "3", "4", "5", "6"}},
        {",b", 8, {"", "b"}},
        {"a,b,", 8, {"a", "b"}}, // a final delimiter gives no further field
        {"a,b,1,2,3,4,5,", 8, {"a", "b", "1", "2", "3", "4", "5"}},
        {"a,b,1,2,3,4,5,6,7,8", 8, {"a", "b", "1", "2", "3", "4", "5", "6"}},
        {"", 8, {}},
        {",", 8, {""}},
        {",,", 8, {"", ""}},
        {"\x83\x5C,x", 8, {"\x83\x5C", "x"}}, // ソ: both bytes stay together
        {"\x81\x2C"
         "b",
         8,
         {"\x81", "b"}},              // lead byte before a comma is one byte
        {"a,\x81", 8, {"a", "\x81"}}, // lead byte at the end
        {"\x83\x2C\x2C", 8, {"\x83", ""}},
        {"a,b,c", 2, {"a", "b"}},
        {"a;b,c", 8, {"a;b", "c"}},
    };
    for (const Row& r : rows) {
        std::string buffer = r.line;
        std::vector<char*> slots(static_cast<size_t>(r.slots), nullptr);
        int n = SplitFields(buffer.data(), ',', slots.data(), r.slots);
        ASSERT_EQ(n, static_cast<int>(r.fields.size())) << '"' << r.line << '"';
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(std::string(slots[static_cast<size_t>(i)]), r.fields[static_cast<size_t>(i)])
                << '"' << r.line << "\" field " << i;
        for (int i = n; i < r.slots; ++i)
            EXPECT_EQ(slots[static_cast<size_t>(i)], nullptr);
    }
}

TEST(SetFileTextTest, PathTextWithoutBackslashIsJoinedByPlainConcatenation) {
    struct Row {
        std::string dir;
        std::string text;
        std::string full;
    };
    const Row rows[] = {
        {"C:\\snd", "a.wav", "C:\\snda.wav"},
        {"C:\\snd\\", "a.wav", "C:\\snd\\a.wav"},
        {"", "a.wav", "a.wav"},
        {"C:\\snd\\", "drum\\roll.wav", "drum\\roll.wav"},
        {"C:\\snd\\", Sj("ソ.wav"), Sj("C:\\snd\\ソ.wav")},
        {"/x/", "\\home\\a.wav", "\\home\\a.wav"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ResolveWavePath(r.dir, r.text), r.full) << Utf8FromCp932(r.text);
}

// As the platform's directory search: a path ending in a separator names nothing, so an empty
// entered path joined to the WAVE directory is no file; a trail byte 0x5C is no separator.
TEST(SetFileTextTest, FileExistsFindsFilesAndFoldersButNothingEndingInASeparator) {
    TempDir dir;
    ASSERT_TRUE(WriteText(dir.Path() + "a.wav", "x"));
    ASSERT_TRUE(WriteText(dir.Path() + "ソ", "x"));
    std::filesystem::create_directory(dir.Path() + "sub");
    const struct Row {
        std::string path;
        bool exists;
    } rows[] = {
        {dir.Cp932("a.wav"), true},
        {dir.Cp932("sub"), true},
        {dir.Cp932("ソ"), true},
        {dir.Cp932(), false},
        {dir.Cp932("sub/"), false},
        {dir.Cp932("sub\\"), false},
        {"", false},
        {dir.Cp932("none.wav"), false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(FileExists(r.path), r.exists) << Utf8FromCp932(r.path);
}

TEST_F(SetFileFixture, FirstTwoLinesDecideWhetherTheFileIsASet) {
    using namespace std::string_literals;
    const std::string notSet = Sj("は音源定義ファイルではありません。");
    const std::string noDir = Sj("にパス定義がありません。");
    struct Row {
        std::string content;
        std::string message; // after the path; empty = none
        std::string waveDir; // after the read
    };
    const Row rows[] = {
        {"", notSet, "unchanged"},
        {"MOK_FILE", noDir, "unchanged"},
        {"MOK_FILE\r\n", noDir, "unchanged"},
        {"MOK_FILE\r\nC:\\snd\\\r\n", "", "C:\\snd\\"},
        {"MOK_FILE   \r\nd  \r\n", "", "d"},
        {"MOK_FILE\r\r\n\r\n", "", ""},
        {"MOK_FILE\nd\n", "", "d"},
        {"MOK_FILE\nd", "", "d"},
        {" MOK_FILE\r\nd\r\n", notSet, "unchanged"},
        {"mok_file\r\nd\r\n", notSet, "unchanged"},
        {"MOK_FILE2\r\nd\r\n", notSet, "unchanged"},
        {"MOK_FIL\r\nd\r\n", notSet, "unchanged"},
        {"\r\nMOK_FILE\r\n", notSet, "unchanged"},
        {"\tMOK_FILE\r\nd\r\n", notSet, "unchanged"},
        // The first two lines end at their first NUL too.
        {"MOK_FILE\0x\r\nd\\ \0y\r\n"s, "", "d\\"},
        {"\0MOK_FILE\r\nd\r\n"s, notSet, "unchanged"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.content);
        waveDir = "unchanged";
        messages.Clear();
        table.Add(EffectEntry{}); // must be gone after any read
        WriteSet(r.content);
        EXPECT_EQ(Read(), r.message.empty());
        EXPECT_EQ(table.GetSize(), 0);
        EXPECT_EQ(waveDir, r.waveDir);
        if (r.message.empty()) {
            EXPECT_TRUE(messages.Messages().empty());
        } else {
            ASSERT_EQ(messages.Messages().size(), 1u);
            EXPECT_EQ(messages.Messages()[0].text, SetPath() + r.message);
            EXPECT_EQ(messages.Messages()[0].caption, "Otomaru");
            EXPECT_EQ(messages.Messages()[0].type & MB_BUTTONMASK, MB_OK);
        }
    }
}

TEST_F(SetFileFixture, MissingFileIsReportedAndEmptiesTheTable) {
    table.Add(EffectEntry{});
    const std::string path = dir.Path() + "音源.txt"; // does not exist
    EXPECT_FALSE(ReadSetFile(path, table, waveDir, loader.Fn()));
    EXPECT_EQ(table.GetSize(), 0);
    EXPECT_EQ(waveDir, "unchanged");
    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_EQ(messages.Texts()[0], Sj(path + "が読み込めません。"));
}

TEST_F(SetFileFixture, EffectLinesBecomeEntriesInFileOrder) {
    const std::string wd = dir.Cp932();
    Touch("chime.wav");
    Touch("ソ.wav");
    Touch("n.wav");
    WriteSet("MOK_FILE\r\n" + wd + "\r\n" +
             "// opening\r\n"
             "chime.wav," +
             Sj("チャイム") + ",2,112,0,0,1,0\r\n" + Sj("ソ.wav") +
             ",katakana, 1,12abc,+12,,-5,99999999999\r\n"
             "/chime.wav,comment,0,0,0,0,0,0\r\n"
             "n.wav,,0,65,-10000,-600,3,500\r\n"
             "n.wav,seven,1,2,3,4,5,\r\n"
             "n.wav,nine,1,2,3,4,5,6,extra\r\n"
             "garbage line\r\n"
             "\r\n");
    ASSERT_TRUE(Read());
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(waveDir, wd);
    ASSERT_EQ(table.GetSize(), 4);

    const EffectEntry& a = table.GetAt(0);
    EXPECT_EQ(a.strWavePath, "chime.wav"); // the text as written, not the full path
    EXPECT_EQ(a.strName, Sj("チャイム"));
    EXPECT_EQ(std::vector<int>({a.nModifiers, a.nKey, a.nPan, a.nVolume, a.nRepeat, a.nInterval}),
              std::vector<int>({2, 112, 0, 0, 1, 0}));
    EXPECT_TRUE(a.IsAvailable());
    EXPECT_EQ(a.dwDataLength, 1000u);

    const EffectEntry& b = table.GetAt(1);
    EXPECT_EQ(b.strWavePath, Sj("ソ.wav"));
    EXPECT_EQ(std::vector<int>({b.nModifiers, b.nKey, b.nPan, b.nVolume, b.nRepeat, b.nInterval}),
              std::vector<int>({1, 12, 12, 0, -5, INT_MAX}));

    EXPECT_EQ(table.GetAt(2).strName, "");
    EXPECT_EQ(table.GetAt(2).nPan, -10000);
    EXPECT_EQ(table.GetAt(3).strName, "nine");
    EXPECT_EQ(table.GetAt(3).nInterval, 6);

    // ソ has no backslash, so it was joined to the WAVE directory too.
    EXPECT_EQ(loader.calls, std::vector<std::string>(
                                {wd + "chime.wav", wd + Sj("ソ.wav"), wd + "n.wav", wd + "n.wav"}));
}

TEST_F(SetFileFixture, CommentTestLooksAtTheFirstByteOnly) {
    Touch("a.wav");
    WriteSet("MOK_FILE\n" + dir.Cp932() + "\n/a.wav,x,0,0,0,0,0,0\n a.wav,y,0,0,0,0,0,0\n" +
             "a.wav,/z,0,0,0,0,0,0\n");
    ASSERT_TRUE(Read());
    ASSERT_EQ(table.GetSize(), 2);
    EXPECT_EQ(table.GetAt(0).strWavePath, " a.wav"); // spaces stay part of the field
    EXPECT_EQ(table.GetAt(1).strName, "/z");
}

TEST_F(SetFileFixture, LongLineIsReadAsPiecesOf4095Bytes) {
    std::string first = "a.wav,first,1,2,3,4,5,6,";
    first.resize(4095, 'x');
    std::string second = "b.wav,second,7,8,9,10,11,12,";
    second.resize(5000 - 4095, 'y');
    WriteSet("MOK_FILE\r\n\r\n" + first + second + "\r\n");
    ASSERT_TRUE(Read());
    ASSERT_EQ(table.GetSize(), 2);
    EXPECT_EQ(table.GetAt(0).strWavePath, "a.wav");
    EXPECT_EQ(table.GetAt(0).nInterval, 6);
    EXPECT_EQ(table.GetAt(1).strWavePath, "b.wav");
    EXPECT_EQ(table.GetAt(1).strName, "second");
    EXPECT_EQ(table.GetAt(1).nInterval, 12);
}

TEST_F(SetFileFixture, LineEndsCrLfAndLfReadTheSame) {
    for (const std::string eol : {"\r\n", "\n"}) {
        SCOPED_TRACE(eol.size());
        WriteSet("MOK_FILE" + eol + "C:\\w\\" + eol + "a.wav,n,1,2,3,4,5,6  " + eol +
                 "b.wav,m,0,0,0,0,0,7" + eol);
        ASSERT_TRUE(Read());
        EXPECT_EQ(waveDir, "C:\\w\\");
        ASSERT_EQ(table.GetSize(), 2);
        EXPECT_EQ(table.GetAt(0).nInterval, 6);
        EXPECT_EQ(table.GetAt(1).strWavePath, "b.wav");
        EXPECT_EQ(table.GetAt(1).nInterval, 7);
    }
}

TEST_F(SetFileFixture, EmptyWaveDirectoryLeavesBareNamesRelativeToTheCurrentDirectory) {
    Touch("a.wav");
    ScopedCurrentDirectory cwd(dir.Cp932());
    WriteSet("MOK_FILE\r\n\r\na.wav,n,0,0,0,0,1,0\r\nsub\\b.wav,m,0,0,0,0,1,0\r\n");
    ASSERT_TRUE(Read());
    EXPECT_EQ(waveDir, "");
    EXPECT_EQ(loader.calls, std::vector<std::string>({"a.wav"}));
    ASSERT_EQ(table.GetSize(), 2);
    EXPECT_TRUE(table.GetAt(0).IsAvailable());
    EXPECT_FALSE(table.GetAt(1).IsAvailable()); // sub/b.wav does not exist
}

TEST_F(SetFileFixture, EffectsWithoutASoundAreKeptWithoutABuffer) {
    const std::string wd = dir.Cp932();
    Touch("ok.wav");
    Touch("bad.wav");
    std::filesystem::create_directory(dir.Path() + "folder.wav");
    loader.lengths[wd + "bad.wav"] = 0;
    loader.lengths[wd + "folder.wav"] = 0;
    WriteSet("MOK_FILE\r\n" + wd + "\r\n" + "missing.wav,gone,0,49,0,0,1,0\r\n" +
             "bad.wav,broken,0,50,0,0,1,0\r\n" + "ok.wav,fine,0,51,0,0,1,0\r\n" +
             "folder.wav,dir,0,52,0,0,1,0\r\n");
    ASSERT_TRUE(Read());
    // Only existing paths are handed to the loader; a directory counts as existing.
    EXPECT_EQ(loader.calls,
              std::vector<std::string>({wd + "bad.wav", wd + "ok.wav", wd + "folder.wav"}));
    ASSERT_EQ(table.GetSize(), 4);
    for (int i : {0, 1, 3}) {
        EXPECT_EQ(table.GetAt(i).pBuffer, nullptr) << i;
        EXPECT_EQ(table.GetAt(i).dwDataLength, 0u) << i;
        EXPECT_FALSE(table.GetAt(i).IsAvailable()) << i;
    }
    EXPECT_TRUE(table.GetAt(2).IsAvailable());
    EXPECT_EQ(table.GetAt(0).nKey, 49);

    // Written back, every line is still there, in order.
    ASSERT_TRUE(WriteSetFile(SetPath(), waveDir, table));
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"),
              "MOK_FILE\r\n" + wd + "\r\n" + "missing.wav,gone,0,49,0,0,1,0\r\n" +
                  "bad.wav,broken,0,50,0,0,1,0\r\n" + "ok.wav,fine,0,51,0,0,1,0\r\n" +
                  "folder.wav,dir,0,52,0,0,1,0\r\n");
}

TEST_F(SetFileFixture, LoaderThatReportsALengthWithoutABufferGivesNoSound) {
    Touch("a.wav");
    WaveLoader odd = [](const std::string&, SoundBufferSlot&) -> std::uint32_t { return 44; };
    WriteSet("MOK_FILE\r\n" + dir.Cp932() + "\r\na.wav,n,0,0,0,0,1,0\r\n");
    ASSERT_TRUE(ReadSetFile(SetPath(), table, waveDir, odd));
    ASSERT_EQ(table.GetSize(), 1);
    EXPECT_EQ(table.GetAt(0).dwDataLength, 0u);
}

TEST_F(SetFileFixture, WriteThenReadGivesTheSameEntries) {
    const std::string wd = dir.Cp932("wav") + "\\";
    struct Values {
        std::string path, name;
        int mod, key, pan, vol, rep, itv;
    };
    const Values values[] = {
        {Sj("ソ.wav"), Sj("効果音"), 2, 112, 0, 0, 1, 0},
        {"drum\\roll.wav", "", 0, 65, -10000, -600, 3, 500},
        {"\\home\\a\\x.wav", " spaced name", 7, 255, 10000, -10000, 0, 2147483647},
        {"n.wav", "neg", -1, -2, -3, -4, -5, -2147483647 - 1},
    };
    EffectTable source;
    for (const Values& v : values) {
        EffectEntry e;
        e.strWavePath = v.path;
        e.strName = v.name;
        e.nModifiers = v.mod;
        e.nKey = v.key;
        e.nPan = v.pan;
        e.nVolume = v.vol;
        e.nRepeat = v.rep;
        e.nInterval = v.itv;
        source.Add(e);
    }
    ASSERT_TRUE(WriteSetFile(SetPath(), wd, source));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"),
              "MOK_FILE\r\n" + wd + "\r\n" + Sj("ソ.wav,効果音,2,112,0,0,1,0\r\n") +
                  "drum\\roll.wav,,0,65,-10000,-600,3,500\r\n"
                  "\\home\\a\\x.wav, spaced name,7,255,10000,-10000,0,2147483647\r\n"
                  "n.wav,neg,-1,-2,-3,-4,-5,-2147483648\r\n");

    ASSERT_TRUE(Read());
    EXPECT_EQ(waveDir, wd);
    ASSERT_EQ(table.GetSize(), 4);
    for (int i = 0; i < 4; ++i) {
        const EffectEntry& e = table.GetAt(i);
        const Values& v = values[i];
        EXPECT_EQ(e.strWavePath, v.path);
        EXPECT_EQ(e.strName, v.name);
        EXPECT_EQ(
            std::vector<int>({e.nModifiers, e.nKey, e.nPan, e.nVolume, e.nRepeat, e.nInterval}),
            std::vector<int>({v.mod, v.key, v.pan, v.vol, v.rep, v.itv}));
    }
    // No temporary file is left beside the set.
    int files = 0;
    for (auto& f : std::filesystem::directory_iterator(dir.Path()))
        files += f.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

TEST_F(SetFileFixture, EmptySetIsMagicAndDirectoryOnly) {
    EffectTable empty;
    ASSERT_TRUE(WriteSetFile(SetPath(), "", empty));
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"), "MOK_FILE\r\n\r\n");
    ASSERT_TRUE(Read());
    EXPECT_EQ(table.GetSize(), 0);
    EXPECT_EQ(waveDir, "");
}

} // namespace

TEST_F(SetFileFixture, OptionsAfterTheEighthFieldSurviveARoundTripAndEdits) {
    using R = EffectOptions::Retrigger;
    using P = EffectOptions::Pick;
    using S = EffectOptions::Send;
    const std::string po = Sj("ポ"); // its second byte is '|'
    const struct Row {
        std::string options; // the text after the eighth field's comma
        EffectOptions read;  // retrigger, choke, fades, start, end, extra, files, pick, gain, send
        std::string edited;  // written back after retrigger=toggle, fadeout=300, start=0, send=main
    } rows[] = {
        {"retrigger=restart,fadeout=250",
         {R::Restart, 0, 0, 250, 0, 0, {}, {}, P::Cycle, 0, S::Both},
         "retrigger=toggle,fadeout=300,send=main"},
        {"x=1,fadeout=abc,,choke=9,end=1500,start=20",
         {R::Default, 9, 0, 0, 20, 1500, {}, {}, P::Cycle, 0, S::Both},
         "x=1,fadeout=300,,choke=9,end=1500,retrigger=toggle,send=main"},
        {"choke=0,fadein=10001,fadein=5,start=-1,retrigger=Toggle",
         {},
         "choke=0,fadein=10001,fadein=5,start=-1,retrigger=toggle,fadeout=300,send=main"},
        {"fadein=10000,start=+5,end= 9," + Sj("ソ") + "=1",
         {R::Default, 0, 10000, 0, 0, 0, {}, {}, P::Cycle, 0, S::Both},
         "fadein=10000,start=+5,end= 9," + Sj("ソ") + "=1,retrigger=toggle,fadeout=300,send=main"},
        {"", {}, ",retrigger=toggle,fadeout=300,send=main"},
        {"send=monitor,retrigger=hold,files=b.wav|sub\\" + po + ".wav," + "pick=random,gain=-60",
         {R::Hold, 0, 0, 0, 0, 0, {}, {"b.wav", "sub\\" + po + ".wav"}, P::Random, -60, S::Monitor},
         "send=main,retrigger=toggle,files=b.wav|sub\\" + po + ".wav,pick=random,gain=-60," +
             "fadeout=300"},
        {"files=a||b,pick=cycle,gain=13,gain=5,send=both,pick=random",
         {},
         "files=a||b,pick=cycle,gain=13,gain=5,send=main,pick=random,retrigger=toggle,fadeout=300"},
        {"gain=+12,pick=Random,send=,files=" + po,
         {R::Default, 0, 0, 0, 0, 0, {}, {po}, P::Cycle, 12, S::Both},
         "gain=+12,pick=Random,send=main,files=" + po + ",retrigger=toggle,fadeout=300"},
    };
    Touch("a.wav");
    std::string file = "MOK_FILE\r\n" + dir.Cp932() + "\r\n", edited = file;
    for (const Row& r : rows) {
        file += "a.wav,n,0,0,0,0,1,0," + r.options + "\r\n";
        edited += "a.wav,n,0,0,0,0,1,0," + r.edited + "\r\n";
    }
    WriteSet(file);
    ASSERT_TRUE(Read());
    ASSERT_EQ(table.GetSize(), static_cast<int>(std::size(rows)));
    for (int i = 0; i < table.GetSize(); ++i) {
        EffectOptions o = table.GetAt(i).options;
        o.extra.clear();
        EXPECT_EQ(o, rows[i].read) << rows[i].options;
    }
    ASSERT_TRUE(WriteSetFile(SetPath(), waveDir, table));
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"), file);
    for (int i = 0; i < table.GetSize(); ++i) {
        EffectOptions& o = table.GetAt(i).options;
        o.retrigger = R::Toggle;
        o.nFadeOutMs = 300;
        o.nStartMs = 0;
        o.send = S::Main;
    }
    ASSERT_TRUE(WriteSetFile(SetPath(), waveDir, table));
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"), edited);
    // A NUL ends the line's text: the line end trimmed is the text's, so the field comes back.
    WriteSet("MOK_FILE\r\n" + dir.Cp932() + "\r\n" +
             std::string("a.wav,n,0,0,0,0,1,0,fadeout=250 \r\0x\r\n", 37));
    ASSERT_TRUE(Read());
    ASSERT_EQ(table.GetSize(), 1);
    EXPECT_EQ(table.GetAt(0).options.nFadeOutMs, 250);
    ASSERT_TRUE(WriteSetFile(SetPath(), waveDir, table));
    EXPECT_EQ(ReadText(dir.Path() + "set.txt"),
              "MOK_FILE\r\n" + dir.Cp932() + "\r\na.wav,n,0,0,0,0,1,0,fadeout=250\r\n");
}
