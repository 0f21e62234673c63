// SPDX-License-Identifier: GPL-3.0-or-later
// Shift-JIS walking, atoi-style numbers and the CP932 borders: the byte rules every set file,
// path and settings value goes through.
#include "base/text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

namespace {

TEST(TextTest, NumbersReadLikeAtoi) {
    struct Row {
        const char* text;
        std::int32_t expected;
    };
    const Row rows[] = {
        {"12", 12},
        {" 12", 12},
        {"\t\n12", 12},
        {"12abc", 12},
        {"+12", 12},
        {"-5", -5},
        {"", 0},
        {"abc", 0},
        {"- 5", 0},
        {"+-5", 0},
        {"1 2", 1},
        {"-0", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999", INT_MIN},
    };
    for (const Row& r : rows)
        EXPECT_EQ(AtoI(r.text), r.expected) << '"' << r.text << '"';
    // A field cut from a longer buffer stops at the view's end.
    EXPECT_EQ(AtoI(std::string_view("123456", 3)), 123);
}

TEST(TextTest, LeadByteNeedsATrailByteAfterIt) {
    struct Row {
        std::string text;
        std::size_t pos;
        bool expected;
    };
    const Row rows[] = {
        {"\x83\x5C", 0, true}, // ソ: trail byte is the backslash value
        {"\x81\x40", 0, true},  {"\x9F\xFC", 0, true},   {"\xE0\x80", 0, true},
        {"\xFC\x7E", 0, true},  {"\x80\x40", 0, false}, // 0x80 is no lead byte
        {"\xA0\x40", 0, false}, {"\xFD\x40", 0, false},  {"\x83,", 0, false}, // comma: no trail
        {"\x83\x7F", 0, false}, {"\x83\xFD", 0, false},  {"\x83", 0, false},  // lead at the end
        {"a\x83\x5C", 1, true}, {"a\x83\x5C", 2, false}, {"ab", 5, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(IsLeadByte(r.text, r.pos), r.expected) << "row at pos " << r.pos;
}

TEST(TextTest, Utf8CheckRefusesEveryMalformedForm) {
    const std::pair<std::string, bool> rows[] = {{"", true},
                                                 {"abc", true},
                                                 {"長い音", true},
                                                 {"\xF0\x9F\x8E\xB5", true},
                                                 {"\xFF", false},
                                                 {"\xC0\xAF", false},
                                                 {"\xE0\x80\xAF", false},
                                                 {"\xED\xA0\x80", false},
                                                 {"\xF4\x90\x80\x80", false},
                                                 {"\xE9\x95", false},
                                                 {"\x80", false},
                                                 {"a\xC3", false}};
    for (const auto& [text, valid] : rows)
        EXPECT_EQ(IsValidUtf8(text), valid) << text;
}

TEST(TextTest, BackslashSearchSkipsTrailBytes) {
    struct Row {
        std::string text;
        std::size_t first;
        std::size_t last;
    };
    const auto npos = std::string_view::npos;
    const Row rows[] = {
        {Sj("ソ.wav"), npos, npos}, {Sj("ソ\\ソ.wav"), 2, 2},
        {"a\\b\\c", 1, 3},          {"\x83\\", npos, npos}, // the only 0x5C is a trail byte
        {"\x83,\\", 2, 2}, // a lead byte before a comma is one byte
        {"", npos, npos},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FindBackslash(r.text), r.first) << Utf8FromCp932(r.text);
        EXPECT_EQ(FindLastBackslash(r.text), r.last) << Utf8FromCp932(r.text);
    }
}

TEST(TextTest, ConversionReplacesButNeverSwallowsNeighbours) {
    // A lead byte before a comma is not a character: the comma must survive the conversion.
    EXPECT_EQ(Utf8FromCp932("\x81,a"), "\xEF\xBF\xBD,a");
    EXPECT_EQ(Utf8FromCp932("a\x83"), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf8FromCp932(Sj("音源.txt")), "音源.txt");
    // 0x5C stays the backslash in CP932 (it would be a yen sign in plain Shift-JIS).
    EXPECT_EQ(Utf8FromCp932("C:\\a"), "C:\\a");
    EXPECT_EQ(Cp932FromUtf8("\xF0\x9F\x8E\xB5x"), "?x"); // no CP932 form
    EXPECT_EQ(Cp932FromUtf8("a\xFF"
                            "b"),
              "a?b"); // broken UTF-8
}

TEST(TextTest, HostPathsTurnOnlyRealBackslashesIntoSlashes) {
    EXPECT_EQ(ToOsPath(Sj("snd\\ソ\\a.wav")), "snd/ソ/a.wav");
    EXPECT_EQ(ToOsPath("\\home\\a\\x.wav"), "/home/a/x.wav");
    EXPECT_EQ(ToStoredPath(Sj("/home/ソ/x.wav")), Sj("\\home\\ソ\\x.wav"));
}

// Only what CP932 stores as itself, or as its other reading, may be stored.
TEST(TextTest, StrictConversionRefusesWhatCp932WouldAlter) {
    struct Row {
        const char* utf8;
        bool holdable;
        const char* cp932;
    };
    const Row rows[] = {
        {"音源.txt", true, "\x89\xB9\x8C\xB9.txt"},
        {"〜", true, "\x81\x60"}, // U+301C, as input methods type it
        {"～", true, "\x81\x60"},
        {"−£¬", true, "\x81\x7C\x81\x92\x81\xCA"},
        {"é", false, ""},
        {"Ü", false, ""},
        {"¥", false, ""}, // would be stored as the backslash
        {"\xF0\x9F\x8E\xB5", false, ""},
        {"a\xFF", false, ""},
    };
    for (const Row& r : rows) {
        std::string out = "unchanged";
        EXPECT_EQ(TryCp932FromUtf8(r.utf8, out), r.holdable) << r.utf8;
        EXPECT_EQ(out, r.holdable ? std::string(r.cp932) : "unchanged") << r.utf8;
    }
}

// A stored name with a two-reading character opens the file under whichever reading exists,
// below a system folder whose name CP932 cannot hold at all.
TEST(TextTest, StoredNamesOpenTheFileUnderEitherReading) {
    TempDir dir;
    const std::string base = dir.Path() + "Ünïcode 〜 é/";
    const std::string typed = base + "効果音 〜/"; // U+301C
    ASSERT_TRUE(std::filesystem::create_directories(typed));
    ASSERT_TRUE(WriteText(typed + "a−b.wav", "x"));    // U+2212
    ASSERT_TRUE(WriteText(base + "plain～.wav", "x")); // U+FF5E, CP932's own reading
    struct Row {
        const char* stored;
        std::string expected;
    };
    const Row rows[] = {
        {"効果音 〜\\a−b.wav", typed + "a−b.wav"},
        {"plain〜.wav", base + "plain～.wav"},
        {"効果音 〜\\none〜.wav", typed + "none～.wav"}, // missing: the plain reading
    };
    for (const Row& r : rows)
        EXPECT_EQ(JoinOsPath(base, Sj(r.stored)), r.expected) << r.stored;
    EXPECT_FALSE(HasTwoReadings(Sj("音源\\ソ.txt")));
}

} // namespace

TEST(CutCp932, KeepsWholeCharactersWithinTheLimit) {
    const std::string kana = Sj("あ"); // two bytes
    EXPECT_EQ(CutCp932("a" + kana, 2), "a");
    EXPECT_EQ(CutCp932("a" + kana, 3), "a" + kana);
    EXPECT_EQ(CutCp932("", 5), "");
    EXPECT_EQ(CutCp932("abc", 0), "");
    // A lead byte without a trail byte is one byte on its own.
    EXPECT_EQ(CutCp932("\x83,", 1), "\x83");
    // ソ ends in 0x5C: the pair stays whole or goes whole.
    EXPECT_EQ(CutCp932("x" + Sj("ソ"), 2), "x");
}
