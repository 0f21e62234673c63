// SPDX-License-Identifier: GPL-3.0-or-later
// Row texts, cell cutting and the selected-row colour, without a display.
#include "core/row_text.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

// Every byte 5 pixels wide: "..." is 15.
int FiveEach(std::string_view s) {
    return static_cast<int>(s.size()) * 5;
}

// A proportional font: dots are 1 pixel, everything else 5, so that a head of all but one byte
// plus "..." can fit where the whole text does not.
int NarrowDots(std::string_view s) {
    int width = 0;
    for (char c : s)
        width += c == '.' ? 1 : 5;
    return width;
}

struct ScaleCase {
    COLORREF in;
    double factor;
    COLORREF out;
};

TEST(ScaleColour, HalvesTruncatesAndClamps) {
    const ScaleCase cases[] = {
        {RGB(204, 238, 255), 0.5, RGB(102, 119, 127)}, // effect list selection
        {RGB(255, 153, 153), 0.5, RGB(127, 76, 76)},   // play list selection
        {RGB(1, 3, 5), 0.5, RGB(0, 1, 2)},
        {RGB(200, 100, 10), 2.0, RGB(255, 200, 20)},
        {RGB(10, 20, 30), 0.0, RGB(0, 0, 0)},
        {RGB(10, 20, 30) | 0xFF000000u, 1.0, RGB(10, 20, 30)}, // top byte always cleared
    };
    for (const ScaleCase& c : cases)
        EXPECT_EQ(ScaleColour(c.in, c.factor), c.out) << std::hex << c.in << " x " << c.factor;
}

struct ShortCase {
    const char* name;
    std::string text;
    int width;
    int margin;
    std::string expected;
};

TEST(MakeShortString, CutsAtCharactersWithinTheColumn) {
    const ShortCase cases[] = {
        {"fits with margin", "abc", 19, 4, "abc"},
        {"one pixel short", "abc", 18, 4, "a..."},
        {"first column margin", "abcdefghij", 40, 4, "abcd..."},
        {"other column margin", "abcdefghij", 40, 12, "ab..."},
        {"nothing fits: first byte", "abcdef", 0, 4, "a..."},
        {"one byte that does not fit", "a", 3, 4, "a..."},
        // Byte-wise, the head "あ" + lead byte of "い" would fit 34 pixels.
        {"two-byte character kept whole", Sj("あいうえ"), 35, 4, Sj("あ") + "..."},
        // The trail byte of "ソ" is 0x5C; the cut still walks characters.
        {"trail byte 0x5C", Sj("ソソソソ"), 35, 4, Sj("ソ") + "..."},
        {"single two-byte character", Sj("あ"), 5, 4, Sj("あ") + "..."},
        {"mixed", "a" + Sj("漢字漢字"), 35, 4, "a" + Sj("漢") + "..."},
        {"empty", "", 0, 4, ""},
    };
    for (const ShortCase& c : cases) {
        char buffer[kCellTextSize];
        std::string_view out = MakeShortString(c.text, c.width, c.margin, FiveEach, buffer);
        EXPECT_EQ(std::string(out), c.expected) << c.name;
        if (out != c.text) {
            EXPECT_EQ(out.data()[out.size()], '\0') << c.name;
        }
    }
}

TEST(MakeShortString, AFittingTextIsReturnedItselfNotCopied) {
    char buffer[kCellTextSize];
    const std::string text = "whole";
    EXPECT_EQ(MakeShortString(text, 100, 12, FiveEach, buffer).data(), text.data());
}

TEST(MakeShortString, LongTextsFitTheBuffer) {
    // One pixel short of the whole text: a byte-wise cut would keep 257 or 258 bytes.
    for (std::size_t length : {258u, 259u}) {
        const std::string text(length, 'x');
        char buffer[kCellTextSize + 8];
        std::memset(buffer, 0x55, sizeof buffer);
        auto& cell = reinterpret_cast<char(&)[kCellTextSize]>(buffer);
        std::string_view out = MakeShortString(text, NarrowDots(text) + 4 - 1, 4, NarrowDots, cell);
        EXPECT_EQ(std::string(out), std::string(256, 'x') + "...") << length;
        EXPECT_LE(out.size() + 1, kCellTextSize);
        for (std::size_t i = kCellTextSize; i < sizeof buffer; ++i)
            EXPECT_EQ(buffer[i], 0x55) << "written past the buffer at " << i;
    }
    // A two-byte character across the 256-byte limit is left out whole.
    const std::string text = std::string(255, 'x') + Sj("あ") + "y";
    char buffer[kCellTextSize];
    std::string_view out = MakeShortString(text, NarrowDots(text) + 3, 4, NarrowDots, buffer);
    EXPECT_EQ(std::string(out), std::string(255, 'x') + "...");
}

TEST(CellText, KeepsAtMost259BytesWithoutSplitting) {
    EXPECT_EQ(CellText(std::string(300, 'a')).size(), 259u);
    EXPECT_EQ(CellText(std::string(259, 'a')).size(), 259u);
    const std::string straddling = std::string(258, 'a') + Sj("あ");
    EXPECT_EQ(CellText(straddling).size(), 258u);
}

TEST(RowTexts, VolumeIsTruncatedPercent) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {-10000, "0%"},
        {0, "100%"},
        {-1, "99%"},
        {-5050, "49%"},
        {-10001, "0%"},
        {-10100, "-1%"},
        {500, "105%"},
        {INT32_MAX, "21474936%"},
        {INT32_MIN, "-21474736%"},
    };
    for (const auto& [volume, text] : cases)
        EXPECT_EQ(VolumeText(volume), text) << volume;
}

TEST(RowTexts, EffectAndPlayRows) {
    EffectEntry entry;
    entry.strName = Sj("爆発");
    entry.nModifiers = MOD_CODE_CTRL | MOD_CODE_SHIFT;
    entry.nKey = 'A';
    entry.nRepeat = 3;
    entry.nInterval = 500;
    entry.nVolume = -1;
    const RowTexts effect = EffectRowTexts(entry, UsKeyLayout());
    EXPECT_EQ(effect[0], Sj("爆発"));
    EXPECT_EQ(effect[1], "Ctrl + Shift + A");
    EXPECT_EQ(effect[2], "3:500");
    EXPECT_EQ(effect[3], "99%");
    const RowTexts play = PlayRowTexts(entry);
    EXPECT_EQ(play, (RowTexts{Sj("爆発"), "3", "500", "99%"}));

    EffectEntry none;
    none.nRepeat = 0;
    EXPECT_EQ(EffectRowTexts(none, UsKeyLayout())[1], "");
    EXPECT_EQ(PlayRowTexts(none)[1], "0");
}

} // namespace
