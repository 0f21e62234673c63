// SPDX-License-Identifier: GPL-3.0-or-later
// Modifier codes against the hotkey field's flags, hotkey texts and key names on both keyboards.
#include "base/text.h"
#include "input/hotkey.h"
#include "input/key_layout.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(HotkeyFlags, ModifiersToFlags) {
    const struct {
        std::uint16_t modifiers;
        std::uint16_t flags;
    } cases[] = {{0, 0}, {1, 4}, {2, 2}, {4, 1},     {3, 6},     {5, 5},
                 {6, 3}, {7, 7}, {8, 0}, {0x105, 5}, {0xFFF8, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(ModifiersToHotkeyFlags(c.modifiers), c.flags) << "modifiers " << c.modifiers;
    }
}

TEST(HotkeyFlags, FlagsToModifiers) {
    const struct {
        std::uint16_t flags;
        int modifiers;
    } cases[] = {{0x00, 0}, {0x01, 4}, {0x02, 2}, {0x04, 1}, {0x08, 0},
                 {0x09, 4}, {0x0F, 7}, {0x0A, 2}, {0xF0, 0}, {0x106, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(HotkeyFlagsToModifiers(c.flags), c.modifiers) << "flags " << c.flags;
    }
}

TEST(HotkeyFlags, RoundTripKeepsTheThreeLowBits) {
    for (unsigned m = 0; m <= 0xFFFF; ++m) {
        const auto code = static_cast<std::uint16_t>(m);
        const std::uint16_t flags = ModifiersToHotkeyFlags(code);
        ASSERT_LE(flags, 7u) << m;
        ASSERT_EQ(HotkeyFlagsToModifiers(flags), static_cast<int>(m & 7)) << m;
    }
}

TEST(HotkeyText, PrefixesInFixedOrderThenTheKeyName) {
    const HKL us = UsKeyLayout();
    const struct {
        int modifiers;
        int key;
        const char* text;
    } cases[] = {
        {7, 0x41, "Alt + Ctrl + Shift + A"},
        {0, 0, ""},
        {2, 0, "Ctrl + "},
        {4, 0x70, "Shift + F1"},
        {5, 0x25, "Alt + Shift + Left"},
        {8, 0x41, "A"}, // bits above the three carry nothing
        {0x0E, 0x31, "Ctrl + Shift + 1"},
        {1, 0x07, "Alt + "}, // a code no key produces
        {0, 300, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HotkeyText(c.modifiers, c.key, us), c.text) << c.modifiers << "/" << c.key;
    }
}

struct NameCase {
    int key;
    const char* us;    // UTF-8
    const char* japan; // UTF-8
};

// The navigation keys against their keypad twins (same scan code, no extended flag), and keys
// whose names differ between the two keyboards.
const NameCase kNames[] = {
    {0x25, "Left", "Left"},
    {0x64, "Num 4", "Num 4"},
    {0x26, "Up", "Up"},
    {0x68, "Num 8", "Num 8"},
    {0x27, "Right", "Right"},
    {0x66, "Num 6", "Num 6"},
    {0x28, "Down", "Down"},
    {0x62, "Num 2", "Num 2"},
    {0x21, "Page Up", "Page Up"},
    {0x69, "Num 9", "Num 9"},
    {0x22, "Page Down", "Page Down"},
    {0x63, "Num 3", "Num 3"},
    {0x24, "Home", "Home"},
    {0x67, "Num 7", "Num 7"},
    {0x23, "End", "End"},
    {0x61, "Num 1", "Num 1"},
    {0x2D, "Insert", "Insert"},
    {0x60, "Num 0", "Num 0"},
    {0x2E, "Delete", "Delete"},
    {0x6E, "Num Del", "Num Del"},
    {0x90, "Num Lock", "Num Lock"},
    {0x13, "Pause", "Pause"},
    {0x5D, "Application", "Application"},
    {0x0C, "Num 5", "Num 5"},
    {0x6F, "/", "/"}, // VK_DIVIDE is not named as an extended key
    {0x6A, "Num *", "Num *"},
    {0x6B, "Num +", "Num +"},
    {0x6D, "Num -", "Num -"},
    {0x41, "A", "A"},
    {0x5A, "Z", "Z"},
    {0x30, "0", "0"},
    {0x39, "9", "9"},
    {0x70, "F1", "F1"},
    {0x7B, "F12", "F12"},
    {0x87, "F24", "F24"},
    {0x20, "Space", "Space"},
    {0x0D, "Enter", "Enter"},
    {0x1B, "Esc", "Esc"},
    {0x08, "Backspace", "Backspace"},
    {0x09, "Tab", "Tab"},
    {0x10, "Shift", "Shift"},
    {0x11, "Ctrl", "Ctrl"},
    {0x12, "Alt", "Alt"},
    {0xA1, "Right Shift", "Right Shift"},
    {0x14, "Caps Lock", "Caps Lock"},
    {0x91, "Scroll Lock", "Scroll Lock"},
    {0x5B, "Left Windows", "Left Windows"},
    {0xBC, ",", ","},
    {0xBD, "-", "-"},
    {0xBE, ".", "."},
    {0xBF, "/", "/"},
    {0xBA, ";", ":"},
    {0xBB, "=", ";"},
    {0xC0, "`", "@"},
    {0xDB, "[", "["},
    {0xDC, "\\", "￥"},
    {0xDD, "]", "]"},
    {0xDE, "'", "^"},
    {0xE2, "\\", "\\"},
    // The input-method keys exist only on the Japanese keyboard.
    {0x1C, "", "変換"},
    {0x1D, "", "無変換"},
    {0x15, "", "カタカナ/ひらがな"},
    {0xF2, "", "カタカナ/ひらがな"},
    {0xF3, "", "半角/全角"},
    {0xF4, "", "半角/全角"},
    {0x19, "", "半角/全角"},
    {0xF0, "", "Caps Lock"},
    // Keys named by their code.
    {0xAD, "Volume Mute", "Volume Mute"},
    {0xB3, "Play/Pause Media", "Play/Pause Media"},
    {0xA6, "Browser Back", "Browser Back"},
    {0x2F, "Help", "Help"},
    {0x03, "Cancel", "Cancel"},
    // Codes no key produces: mouse buttons, unassigned, beyond the byte.
    {0x00, "", ""},
    {0x01, "", ""},
    {0x07, "", ""},
    {0x3A, "", ""},
    {0xFF, "", ""},
    {-1, "", ""},
    {256, "", ""},
    {0x141, "", ""},
    {70000, "", ""},
};

TEST(KeyName, BothKeyboards) {
    for (const NameCase& c : kNames) {
        EXPECT_EQ(KeyName(c.key, UsKeyLayout()), Sj(c.us)) << "US key 0x" << std::hex << c.key;
        EXPECT_EQ(KeyName(c.key, JapaneseKeyLayout()), Sj(c.japan))
            << "JP key 0x" << std::hex << c.key;
    }
}

TEST(KeyName, ExtendedKeysDifferFromTheirKeypadTwins) {
    const int pairs[][2] = {{0x25, 0x64}, {0x26, 0x68}, {0x27, 0x66}, {0x28, 0x62}, {0x21, 0x69},
                            {0x22, 0x63}, {0x24, 0x67}, {0x23, 0x61}, {0x2D, 0x60}, {0x2E, 0x6E}};
    for (HKL layout : {UsKeyLayout(), JapaneseKeyLayout()}) {
        for (const auto& p : pairs) {
            ASSERT_EQ(layout->ScanCode(p[0]), layout->ScanCode(p[1])) << p[0];
            const std::string nav = KeyName(p[0], layout);
            EXPECT_FALSE(nav.empty()) << p[0];
            EXPECT_NE(nav, KeyName(p[1], layout)) << p[0];
        }
    }
}

TEST(KeyName, EveryNamedKeyOfTheJapaneseKeyboardIsValidCp932) {
    // Each name must survive the trip to the widgets and back unchanged.
    for (int key = 0; key < 256; ++key) {
        const std::string name = KeyName(key, JapaneseKeyLayout());
        EXPECT_EQ(Cp932FromUtf8(Utf8FromCp932(name)), name) << key;
        EXPECT_EQ(name.find('?'), std::string::npos) << key;
    }
}

TEST(KeyName, NullLayoutNamesKeysAsTheUsKeyboard) {
    for (int key = -1; key <= 256; ++key) {
        EXPECT_EQ(KeyName(key, nullptr), KeyName(key, UsKeyLayout())) << key;
    }
    EXPECT_EQ(HotkeyText(2, 0xDE, nullptr), "Ctrl + '");
}

TEST(KeyLayout, NamesAndHints) {
    EXPECT_EQ(KeyLayoutName(UsKeyLayout()), "00000409");
    EXPECT_EQ(KeyLayoutName(JapaneseKeyLayout()), "00000411");
    EXPECT_EQ(KeyLayoutName(nullptr), "");
    const struct {
        const char* hint;
        HKL layout;
    } cases[] = {
        {"jp", JapaneseKeyLayout()},
        {"JP", JapaneseKeyLayout()},
        {"jp,us", JapaneseKeyLayout()},
        {" \"jp\" ", JapaneseKeyLayout()},
        {"ja_JP.UTF-8", JapaneseKeyLayout()},
        {"00000411", JapaneseKeyLayout()},
        {"us", UsKeyLayout()},
        {"us,jp", UsKeyLayout()},
        {"de", UsKeyLayout()},
        {"C.UTF-8", UsKeyLayout()},
        {"", nullptr},
        {"  ", nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KeyLayoutFromHint(c.hint), c.layout) << "'" << c.hint << "'";
    }
}

TEST(KeyLayout, ChoosesByTheFirstSourceThatSaysAnything) {
    const HKL jp = JapaneseKeyLayout();
    const HKL us = UsKeyLayout();
    const std::string jpFile = "# comment\nXKBMODEL=\"jp106\"\nXKBLAYOUT=\"jp\"\nXKBVARIANT=\"\"\n";
    const std::string usFile = "XKBMODEL=pc105\n  XKBLAYOUT=us\n";
    const std::string noLayout = "XKBMODEL=\"pc105\"\n# XKBLAYOUT=\"jp\"\nXKBLAYOUT=\"\"\n";
    const struct {
        const char* xkb;
        std::string file;
        const char* lcAll;
        const char* lang;
        HKL layout;
    } cases[] = {
        {"jp", usFile, "", "", jp},
        {"us", jpFile, "ja_JP.UTF-8", "ja_JP.UTF-8", us},
        {"", jpFile, "C", "en_US.UTF-8", jp},
        {"", usFile, "ja_JP.UTF-8", "", us},
        {"", noLayout, "ja_JP.UTF-8", "C", jp},
        {"", noLayout, "", "ja_JP.eucJP", jp},
        {"", noLayout, "C.UTF-8", "ja_JP.UTF-8", us},
        {"", "", "", "", us},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseKeyLayout(c.xkb, c.file, c.lcAll, c.lang), c.layout)
            << c.xkb << "|" << c.file << "|" << c.lcAll << "|" << c.lang;
    }
}

TEST(KeyLayout, LoadTakesTheHintFirstThenTheEnvironment) {
    EXPECT_EQ(LoadKeyLayout("jp"), JapaneseKeyLayout());
    EXPECT_EQ(LoadKeyLayout("us"), UsKeyLayout());
    const char* saved = std::getenv("XKB_DEFAULT_LAYOUT");
    const std::string old = saved ? saved : "";
    setenv("XKB_DEFAULT_LAYOUT", "jp", 1);
    EXPECT_EQ(LoadKeyLayout(), JapaneseKeyLayout());
    setenv("XKB_DEFAULT_LAYOUT", "us", 1);
    EXPECT_EQ(LoadKeyLayout(), UsKeyLayout());
    EXPECT_EQ(LoadKeyLayout("ja_JP"), JapaneseKeyLayout());
    if (saved) {
        setenv("XKB_DEFAULT_LAYOUT", old.c_str(), 1);
    } else {
        unsetenv("XKB_DEFAULT_LAYOUT");
    }
}

} // namespace
