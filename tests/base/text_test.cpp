// Shift-JIS walking, atoi-style numbers and the CP932 borders: the byte rules every set file,
// path and settings value goes through.
#include "base/text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <climits>

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
