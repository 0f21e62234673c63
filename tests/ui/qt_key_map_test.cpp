// SPDX-License-Identifier: GPL-3.0-or-later
// Qt key events to virtual-key codes: keypad and navigation keys, sides of the modifiers, and
// the character keys of both keyboards.
#include "desktop/qt_key_map.h"
#include "input/hotkey.h"

#include <QInputDevice>
#include <QKeyEvent>
#include <gtest/gtest.h>

namespace {

enum Board { Us, Jp, None };

HKL LayoutOf(Board board) {
    switch (board) {
    case Us:
        return UsKeyLayout();
    case Jp:
        return JapaneseKeyLayout();
    default:
        return nullptr;
    }
}

struct MapCase {
    const char* what;
    int qtKey;
    bool keypad;
    std::uint32_t keysym;
    std::uint32_t scanCode;
    Board board;
    int vk;
    bool ext;
};

const MapCase kCases[] = {
    // Letters and digits, whatever the shift state or the letters of the layout.
    {"A", Qt::Key_A, false, 0x61, 38, Us, 'A', false},
    {"Z no native", Qt::Key_Z, false, 0, 0, None, 'Z', false},
    {"Cyrillic EF on the A key", 0x0424, false, 0x6c6, 38, Us, 'A', false},
    {"0", Qt::Key_0, false, 0, 0, Us, '0', false},
    {"US shift+1", Qt::Key_Exclam, false, 0x21, 10, Us, '1', false},
    {"US shift+1 no native", Qt::Key_Exclam, false, 0, 0, Us, '1', false},
    {"US shift+2", Qt::Key_At, false, 0, 0, Us, '2', false},
    {"JP @ key", Qt::Key_At, false, 0, 0, Jp, 0xC0, false},
    {"JP @ key by keycode", Qt::Key_At, false, 0x40, 34, Jp, 0xC0, false},
    {"US shift+quote", Qt::Key_QuoteDbl, false, 0, 0, Us, 0xDE, false},
    {"JP shift+2", Qt::Key_QuoteDbl, false, 0, 0, Jp, '2', false},
    {"AZERTY 1 key types &", Qt::Key_Ampersand, false, 0x26, 10, Us, '1', false},
    {"US shift+8", Qt::Key_Asterisk, false, 0, 0, Us, '8', false},
    {"JP shift+colon", Qt::Key_Asterisk, false, 0, 0, Jp, 0xBA, false},
    // Punctuation keys that differ between the keyboards.
    {"US ;", Qt::Key_Semicolon, false, 0, 47, Us, 0xBA, false},
    {"JP ;", Qt::Key_Semicolon, false, 0, 47, Jp, 0xBB, false},
    {"JP ; no native", Qt::Key_Semicolon, false, 0, 0, Jp, 0xBB, false},
    {"JP :", Qt::Key_Colon, false, 0, 48, Jp, 0xBA, false},
    {"US =", Qt::Key_Equal, false, 0, 0, Us, 0xBB, false},
    {"JP shift+minus", Qt::Key_Equal, false, 0, 0, Jp, 0xBD, false},
    {"JP ^", Qt::Key_AsciiCircum, false, 0, 21, Jp, 0xDE, false},
    {"US shift+6", Qt::Key_AsciiCircum, false, 0, 0, Us, '6', false},
    {"JP [", Qt::Key_BracketLeft, false, 0, 35, Jp, 0xDB, false},
    {"US [", Qt::Key_BracketLeft, false, 0, 34, Us, 0xDB, false},
    {"JP ]", Qt::Key_BracketRight, false, 0, 51, Jp, 0xDD, false},
    {"JP yen", Qt::Key_yen, false, 0xA5, 132, Jp, 0xDC, false},
    {"JP yen no native", Qt::Key_yen, false, 0, 0, Jp, 0xDC, false},
    {"JP shift+yen", Qt::Key_Bar, false, 0x7C, 132, Jp, 0xDC, false},
    {"JP ro", Qt::Key_Backslash, false, 0x5C, 97, Jp, 0xE2, false},
    {"JP ro no native", Qt::Key_Backslash, false, 0, 0, Jp, 0xE2, false},
    {"JP shift+ro", Qt::Key_Underscore, false, 0, 0, Jp, 0xE2, false},
    {"US backslash", Qt::Key_Backslash, false, 0x5C, 51, Us, 0xDC, false},
    {"US backslash no native", Qt::Key_Backslash, false, 0, 0, None, 0xDC, false},
    {"ISO extra key", Qt::Key_Less, false, 0x3C, 94, Us, 0xE2, false},
    {"US `", Qt::Key_QuoteLeft, false, 0, 49, Us, 0xC0, false},
    {"/", Qt::Key_Slash, false, 0, 61, Jp, 0xBF, false},
    // Function keys.
    {"F1", Qt::Key_F1, false, 0, 0, Us, 0x70, false},
    {"F24", Qt::Key_F24, false, 0, 0, Us, 0x87, false},
    // The navigation block is extended; the keypad with Num Lock off is not.
    {"Left", Qt::Key_Left, false, 0xFF51, 113, Us, 0x25, true},
    {"keypad Left", Qt::Key_Left, true, 0xFF96, 83, Us, 0x25, false},
    {"keypad Left, flag missing", Qt::Key_Left, false, 0xFF96, 83, Us, 0x25, false},
    {"Home", Qt::Key_Home, false, 0, 0, Us, 0x24, true},
    {"keypad Home", Qt::Key_Home, true, 0, 0, Us, 0x24, false},
    {"End", Qt::Key_End, false, 0, 0, Us, 0x23, true},
    {"Page Up", Qt::Key_PageUp, false, 0, 0, Us, 0x21, true},
    {"keypad Page Down", Qt::Key_PageDown, true, 0, 0, Us, 0x22, false},
    {"Insert", Qt::Key_Insert, false, 0, 0, Us, 0x2D, true},
    {"keypad Insert", Qt::Key_Insert, true, 0, 0, Us, 0x2D, false},
    {"Delete", Qt::Key_Delete, false, 0, 0, Us, 0x2E, true},
    {"keypad Delete", Qt::Key_Delete, true, 0, 0, Us, 0x2E, false},
    {"keypad 5, Num Lock off", Qt::Key_Clear, true, 0xFF9D, 84, Us, 0x0C, false},
    // The keypad with Num Lock on.
    {"keypad 4", Qt::Key_4, true, 0xFFB4, 83, Us, 0x64, false},
    {"keypad 0", Qt::Key_0, true, 0, 0, Jp, 0x60, false},
    {"keypad 9", Qt::Key_9, true, 0, 0, Us, 0x69, false},
    {"keypad *", Qt::Key_Asterisk, true, 0, 0, Jp, 0x6A, false},
    {"keypad +", Qt::Key_Plus, true, 0, 0, Us, 0x6B, false},
    {"keypad -", Qt::Key_Minus, true, 0, 0, Us, 0x6D, false},
    {"keypad .", Qt::Key_Period, true, 0, 0, Us, 0x6E, false},
    {"keypad , (decimal comma)", Qt::Key_Comma, true, 0, 0, Us, 0x6E, false},
    {"keypad /", Qt::Key_Slash, true, 0, 0, Us, 0x6F, true},
    {"keypad Enter", Qt::Key_Enter, true, 0, 104, Us, 0x0D, true},
    {"Return", Qt::Key_Return, false, 0, 36, Us, 0x0D, false},
    {"Num Lock", Qt::Key_NumLock, false, 0, 77, Us, 0x90, true},
    {"Num Lock with the keypad mark", Qt::Key_NumLock, true, 0, 77, Us, 0x90, true},
    // Other named keys: one row for the lookup, the rest where a key could be taken for another.
    {"Esc", Qt::Key_Escape, false, 0, 0, Us, 0x1B, false},
    {"Shift+Tab", Qt::Key_Backtab, false, 0, 0, Us, 0x09, false},
    {"Space", Qt::Key_Space, false, 0x20, 65, Jp, 0x20, false},
    {"Caps Lock", Qt::Key_CapsLock, false, 0, 66, Us, 0x14, false},
    // Modifiers: the side from the keysym, else from the keycode, else only the generic code.
    {"left Shift", Qt::Key_Shift, false, 0xFFE1, 50, Us, 0xA0, false},
    {"right Shift", Qt::Key_Shift, false, 0xFFE2, 62, Us, 0xA1, false},
    {"right Shift by keycode", Qt::Key_Shift, false, 0, 62, Us, 0xA1, false},
    {"Shift side unknown", Qt::Key_Shift, false, 0, 0, Us, 0x10, false},
    {"left Ctrl", Qt::Key_Control, false, 0xFFE3, 37, Us, 0xA2, false},
    {"right Ctrl", Qt::Key_Control, false, 0xFFE4, 105, Us, 0xA3, true},
    {"Ctrl side unknown", Qt::Key_Control, false, 0, 0, Us, 0x11, false},
    {"left Alt", Qt::Key_Alt, false, 0xFFE9, 64, Us, 0xA4, false},
    {"left Alt as Meta_L", Qt::Key_Alt, false, 0xFFE7, 64, Us, 0xA4, false},
    {"right Alt by keycode", Qt::Key_Alt, false, 0, 108, Us, 0xA5, true},
    {"Alt side unknown", Qt::Key_Alt, false, 0, 0, Us, 0x12, false},
    {"AltGr", Qt::Key_AltGr, false, 0xFE03, 108, Us, 0xA5, true},
    {"left Windows", Qt::Key_Super_L, false, 0xFFEB, 133, Us, 0x5B, true},
    {"right Windows", Qt::Key_Super_R, false, 0xFFEC, 134, Us, 0x5C, true},
    {"right Windows as Meta", Qt::Key_Meta, false, 0xFFEC, 134, Us, 0x5C, true},
    {"Windows as Meta by keycode", Qt::Key_Meta, false, 0, 133, Us, 0x5B, true},
    // The input-method keys of a Japanese keyboard.
    {"Henkan", Qt::Key_Henkan, false, 0xFF23, 100, Jp, 0x1C, false},
    {"Zenkaku/Hankaku", Qt::Key_Zenkaku_Hankaku, false, 0xFF2A, 49, Jp, 0xF3, false},
    {"Eisu", Qt::Key_Eisu_toggle, false, 0xFF30, 66, Jp, 0xF0, false},
    {"Zenkaku/Hankaku key unnamed by Qt", Qt::Key_unknown, false, 0, 49, Jp, 0xF3, false},
    {"Henkan key unnamed by Qt", Qt::Key_unknown, false, 0, 100, Jp, 0x1C, false},
    {"Henkan key on a US layout", Qt::Key_unknown, false, 0, 100, Us, 0, false},
    // Keys we have no code for.
    {"unknown", Qt::Key_unknown, false, 0, 0, Us, 0, false},
    // Browser, volume and media keys; F13-F24 by keycode, though XKB names them XF86 keys.
    {"volume up", Qt::Key_VolumeUp, false, 0x1008FF13, 123, Us, 0xAF, false},
    {"F13 as XF86Tools", Qt::Key_Tools, false, 0x1008FF81, 191, Us, 0x7C, false},
    {"F18 as XF86Launch9", Qt::Key_Launch9, false, 0x1008FF49, 196, Us, 0x81, false},
    {"F24", Qt::Key_unknown, false, 0, 202, Us, 0x87, false},
    {"F25", Qt::Key_F25, false, 0, 0, Us, 0, false},
    {"no key", 0, false, 0, 0, Us, 0, false},
};

TEST(QtKeyMap, EventOverloadReadsEveryPartOfTheEvent) {
    // Our own device: the default one would be created without an application to own it.
    const QInputDevice keyboard(QStringLiteral("test keyboard"), 1,
                                QInputDevice::DeviceType::Keyboard);
    for (const MapCase& c : kCases) {
        const Qt::KeyboardModifiers mods = c.keypad ? Qt::KeypadModifier : Qt::NoModifier;
        const QKeyEvent press(QEvent::KeyPress, c.qtKey, mods | Qt::ShiftModifier, c.scanCode,
                              c.keysym, 0, QString(), false, 1, &keyboard);
        EXPECT_EQ(QtKeyToVirtualKey(press, LayoutOf(c.board)), (VirtualKey{c.vk, c.ext})) << c.what;
    }
}

TEST(QtKeyMap, KeysymOfEveryCodeTypesThatCodeUnshifted) {
    struct Back {
        int vk;
        Board board;
        std::uint32_t keysym;
    };
    const Back kBack[] = {
        {'A', Us, 'a'},         {0xBA, Us, ';'},    {0xBA, Jp, ':'},  {0xDC, Jp, 0xA5},
        {0xE2, Jp, '\\'},       {0xDE, Jp, '^'},    {0xBD, Jp, '-'},  {0x23, Us, 0xFF57},
        {0x60, Us, 0xFFB0},     {0x7C, Us, 0xFFCA}, {0x20, Jp, 0x20}, {0x1C, Jp, 0xFF23},
        {0xAF, Us, 0x1008FF13}, {0xA2, Us, 0xFFE3}, {0x10, Us, 0},    {0xFF, Us, 0},
    };
    for (const Back& b : kBack)
        EXPECT_EQ(KeysymOfVirtualKey(b.vk, LayoutOf(b.board)), b.keysym) << b.vk;
    for (Board board : {Us, Jp})
        for (int vk = 1; vk < 256; ++vk)
            if (const std::uint32_t keysym = KeysymOfVirtualKey(vk, LayoutOf(board)))
                EXPECT_EQ(KeysymToVirtualKey(keysym, 0, LayoutOf(board)).nKey, vk) << vk;
}

} // namespace
