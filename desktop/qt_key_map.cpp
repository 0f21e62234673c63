// SPDX-License-Identifier: GPL-3.0-or-later
// Qt gives a key event its own key code, the X11 keysym and the keycode of the physical key;
// hotkeys are Windows virtual-key codes. Named keys go by Qt's code, modifier sides by keysym or
// keycode, character keys by their physical place (as Windows derives its codes) and, where the
// keycode is unknown, by the character they typed on the layout's keyboard.
#include "desktop/qt_key_map.h"

#include "input/key_layout.h"

#include <QKeyEvent>

#include <xkbcommon/xkbcommon.h>

#include <span>

namespace {

struct Code {
    int key;
    int vk;
    bool ext = false;
};

// X11 keysyms we look at.
constexpr std::uint32_t XK_KP_First = 0xFF80, XK_KP_Last = 0xFFBD;
constexpr std::uint32_t XK_Shift_L = 0xFFE1, XK_Shift_R = 0xFFE2;
constexpr std::uint32_t XK_Control_L = 0xFFE3, XK_Control_R = 0xFFE4;
constexpr std::uint32_t XK_Meta_L = 0xFFE7, XK_Meta_R = 0xFFE8;
constexpr std::uint32_t XK_Alt_L = 0xFFE9, XK_Alt_R = 0xFFEA;
constexpr std::uint32_t XK_Super_L = 0xFFEB, XK_Super_R = 0xFFEC;

// X11 keycodes (evdev + 8) of the sided keys.
constexpr std::uint32_t KC_Shift_L = 50, KC_Shift_R = 62, KC_Control_L = 37, KC_Control_R = 105;
constexpr std::uint32_t KC_Alt_L = 64, KC_Alt_R = 108, KC_Super_L = 133, KC_Super_R = 134;

// Keypad keys; with Num Lock off Qt reports the navigation keys, which Windows also reports as
// navigation codes, but without the extended flag.
constexpr Code kKeypad[] = {
    {Qt::Key_0, 0x60},           {Qt::Key_1, 0x61},           {Qt::Key_2, 0x62},
    {Qt::Key_3, 0x63},           {Qt::Key_4, 0x64},           {Qt::Key_5, 0x65},
    {Qt::Key_6, 0x66},           {Qt::Key_7, 0x67},           {Qt::Key_8, 0x68},
    {Qt::Key_9, 0x69},           {Qt::Key_Asterisk, 0x6A},    {Qt::Key_Plus, 0x6B},
    {Qt::Key_Minus, 0x6D},       {Qt::Key_Period, 0x6E},      {Qt::Key_Comma, 0x6E},
    {Qt::Key_Slash, 0x6F, true}, {Qt::Key_Enter, 0x0D, true}, {Qt::Key_Return, 0x0D, true},
    {Qt::Key_Insert, 0x2D},      {Qt::Key_Delete, 0x2E},      {Qt::Key_End, 0x23},
    {Qt::Key_Down, 0x28},        {Qt::Key_PageDown, 0x22},    {Qt::Key_Left, 0x25},
    {Qt::Key_Clear, 0x0C},       {Qt::Key_Right, 0x27},       {Qt::Key_Home, 0x24},
    {Qt::Key_Up, 0x26},          {Qt::Key_PageUp, 0x21},
};

// Keys Qt names whatever the layout.
constexpr Code kNamed[] = {
    {Qt::Key_Escape, 0x1B},
    {Qt::Key_Tab, 0x09},
    {Qt::Key_Backtab, 0x09},
    {Qt::Key_Backspace, 0x08},
    {Qt::Key_Return, 0x0D},
    {Qt::Key_Enter, 0x0D, true},
    {Qt::Key_Insert, 0x2D, true},
    {Qt::Key_Delete, 0x2E, true},
    {Qt::Key_Pause, 0x13},
    {Qt::Key_Print, 0x2C, true},
    {Qt::Key_SysReq, 0x2C, true},
    {Qt::Key_Clear, 0x0C},
    {Qt::Key_Home, 0x24, true},
    {Qt::Key_End, 0x23, true},
    {Qt::Key_Left, 0x25, true},
    {Qt::Key_Up, 0x26, true},
    {Qt::Key_Right, 0x27, true},
    {Qt::Key_Down, 0x28, true},
    {Qt::Key_PageUp, 0x21, true},
    {Qt::Key_PageDown, 0x22, true},
    {Qt::Key_CapsLock, 0x14},
    {Qt::Key_NumLock, 0x90, true},
    {Qt::Key_ScrollLock, 0x91},
    {Qt::Key_Space, 0x20},
    {Qt::Key_AltGr, 0xA5, true},
    {Qt::Key_Super_L, 0x5B, true},
    {Qt::Key_Super_R, 0x5C, true},
    {Qt::Key_Menu, 0x5D, true},
    // The input-method keys of a Japanese keyboard.
    {Qt::Key_Henkan, 0x1C},
    {Qt::Key_Muhenkan, 0x1D},
    {Qt::Key_Hiragana_Katakana, 0xF2},
    {Qt::Key_Hiragana, 0xF2},
    {Qt::Key_Katakana, 0xF1},
    {Qt::Key_Zenkaku_Hankaku, 0xF3},
    {Qt::Key_Hankaku, 0xF3},
    {Qt::Key_Zenkaku, 0xF4},
    {Qt::Key_Kanji, 0x19},
    {Qt::Key_Eisu_toggle, 0xF0},
    {Qt::Key_Eisu_Shift, 0xF0},
    {Qt::Key_Kana_Lock, 0x15},
    {Qt::Key_Kana_Shift, 0x15},
    // Browser, volume, media and launch keys, with the codes Windows gives them.
    {Qt::Key_Cancel, 0x03},
    {Qt::Key_Help, 0x2F},
    {Qt::Key_Sleep, 0x5F},
    {Qt::Key_Back, 0xA6},
    {Qt::Key_Forward, 0xA7},
    {Qt::Key_Refresh, 0xA8},
    {Qt::Key_Reload, 0xA8},
    {Qt::Key_Stop, 0xA9},
    {Qt::Key_Search, 0xAA},
    {Qt::Key_Favorites, 0xAB},
    {Qt::Key_HomePage, 0xAC},
    {Qt::Key_VolumeMute, 0xAD},
    {Qt::Key_VolumeDown, 0xAE},
    {Qt::Key_VolumeUp, 0xAF},
    {Qt::Key_MediaNext, 0xB0},
    {Qt::Key_MediaPrevious, 0xB1},
    {Qt::Key_MediaStop, 0xB2},
    {Qt::Key_MediaPlay, 0xB3},
    {Qt::Key_MediaPause, 0xB3},
    {Qt::Key_MediaTogglePlayPause, 0xB3},
    {Qt::Key_LaunchMail, 0xB4},
    {Qt::Key_LaunchMedia, 0xB5},
    {Qt::Key_Launch0, 0xB6},
    {Qt::Key_Explorer, 0xB6},
    {Qt::Key_Launch1, 0xB7},
    {Qt::Key_Calculator, 0xB7},
};

// X11 keycodes of F13 to F24: XKB gives most of them other keysyms (XF86Tools, XF86Launch5...),
// so Qt names them after those.
constexpr std::uint32_t KC_F13 = 191, KC_F24 = 202;

// Physical keys by X11 keycode; the rows and letters are where every PC keyboard has them.
constexpr Code kKeycodesCommon[] = {
    {10, '1'}, {11, '2'}, {12, '3'},  {13, '4'}, {14, '5'}, {15, '6'},  {16, '7'},  {17, '8'},
    {18, '9'}, {19, '0'}, {20, 0xBD}, {24, 'Q'}, {25, 'W'}, {26, 'E'},  {27, 'R'},  {28, 'T'},
    {29, 'Y'}, {30, 'U'}, {31, 'I'},  {32, 'O'}, {33, 'P'}, {38, 'A'},  {39, 'S'},  {40, 'D'},
    {41, 'F'}, {42, 'G'}, {43, 'H'},  {44, 'J'}, {45, 'K'}, {46, 'L'},  {52, 'Z'},  {53, 'X'},
    {54, 'C'}, {55, 'V'}, {56, 'B'},  {57, 'N'}, {58, 'M'}, {59, 0xBC}, {60, 0xBE}, {61, 0xBF},
};
constexpr Code kKeycodesUs[] = {
    {21, 0xBB}, {34, 0xDB}, {35, 0xDD}, {47, 0xBA}, {48, 0xDE}, {49, 0xC0}, {51, 0xDC}, {94, 0xE2},
};
constexpr Code kKeycodesJapanese[] = {
    {21, 0xDE}, {34, 0xC0}, {35, 0xDB},  {47, 0xBB},  {48, 0xBA},  {49, 0xF3},
    {51, 0xDD}, {97, 0xE2}, {132, 0xDC}, {100, 0x1C}, {101, 0xF2}, {102, 0x1D},
};

// Characters (shifted ones included) back to the key that types them.
constexpr Code kCharsUs[] = {
    {'!', '1'},   {'@', '2'},  {'#', '3'},          {'$', '4'},  {'%', '5'},  {'^', '6'},
    {'&', '7'},   {'*', '8'},  {'(', '9'},          {')', '0'},  {'-', 0xBD}, {'_', 0xBD},
    {'=', 0xBB},  {'+', 0xBB}, {'[', 0xDB},         {'{', 0xDB}, {']', 0xDD}, {'}', 0xDD},
    {';', 0xBA},  {':', 0xBA}, {'\'', 0xDE},        {'"', 0xDE}, {'`', 0xC0}, {'~', 0xC0},
    {'\\', 0xDC}, {'|', 0xDC}, {',', 0xBC},         {'<', 0xBC}, {'.', 0xBE}, {'>', 0xBE},
    {'/', 0xBF},  {'?', 0xBF}, {Qt::Key_yen, 0xDC},
};
constexpr Code kCharsJapanese[] = {
    {'!', '1'},  {'"', '2'},   {'#', '3'},  {'$', '4'},  {'%', '5'},  {'&', '6'},
    {'\'', '7'}, {'(', '8'},   {')', '9'},  {'-', 0xBD}, {'=', 0xBD}, {'^', 0xDE},
    {'~', 0xDE}, {'@', 0xC0},  {'`', 0xC0}, {'[', 0xDB}, {'{', 0xDB}, {']', 0xDD},
    {'}', 0xDD}, {';', 0xBB},  {'+', 0xBB}, {':', 0xBA}, {'*', 0xBA}, {',', 0xBC},
    {'<', 0xBC}, {'.', 0xBE},  {'>', 0xBE}, {'/', 0xBF}, {'?', 0xBF}, {Qt::Key_yen, 0xDC},
    {'|', 0xDC}, {'\\', 0xE2}, {'_', 0xE2},
};

struct Keysym {
    std::uint32_t keysym;
    int key;
};
// Keysyms without a character, as Qt's X11 plugin names them.
constexpr Keysym kKeysyms[] = {
    {0xFF08, Qt::Key_Backspace},
    {0xFF09, Qt::Key_Tab},
    {0xFE20, Qt::Key_Backtab},
    {0xFF0B, Qt::Key_Clear},
    {0xFF0D, Qt::Key_Return},
    {0xFF13, Qt::Key_Pause},
    {0xFF14, Qt::Key_ScrollLock},
    {0xFF15, Qt::Key_SysReq},
    {0xFF1B, Qt::Key_Escape},
    {0xFFFF, Qt::Key_Delete},
    {0xFF21, Qt::Key_Kanji},
    {0xFF22, Qt::Key_Muhenkan},
    {0xFF23, Qt::Key_Henkan},
    {0xFF25, Qt::Key_Hiragana},
    {0xFF26, Qt::Key_Katakana},
    {0xFF27, Qt::Key_Hiragana_Katakana},
    {0xFF28, Qt::Key_Zenkaku},
    {0xFF29, Qt::Key_Hankaku},
    {0xFF2A, Qt::Key_Zenkaku_Hankaku},
    {0xFF2D, Qt::Key_Kana_Lock},
    {0xFF2E, Qt::Key_Kana_Shift},
    {0xFF2F, Qt::Key_Eisu_Shift},
    {0xFF30, Qt::Key_Eisu_toggle},
    {0xFF50, Qt::Key_Home},
    {0xFF51, Qt::Key_Left},
    {0xFF52, Qt::Key_Up},
    {0xFF53, Qt::Key_Right},
    {0xFF54, Qt::Key_Down},
    {0xFF55, Qt::Key_PageUp},
    {0xFF56, Qt::Key_PageDown},
    {0xFF57, Qt::Key_End},
    {0xFF61, Qt::Key_Print},
    {0xFF63, Qt::Key_Insert},
    {0xFF67, Qt::Key_Menu},
    {0xFF69, Qt::Key_Cancel},
    {0xFF6A, Qt::Key_Help},
    {0xFF7F, Qt::Key_NumLock},
    {0xFF8D, Qt::Key_Enter},
    {0xFF95, Qt::Key_Home},
    {0xFF96, Qt::Key_Left},
    {0xFF97, Qt::Key_Up},
    {0xFF98, Qt::Key_Right},
    {0xFF99, Qt::Key_Down},
    {0xFF9A, Qt::Key_PageUp},
    {0xFF9B, Qt::Key_PageDown},
    {0xFF9C, Qt::Key_End},
    {0xFF9D, Qt::Key_Clear},
    {0xFF9E, Qt::Key_Insert},
    {0xFF9F, Qt::Key_Delete},
    {0xFFE1, Qt::Key_Shift},
    {0xFFE2, Qt::Key_Shift},
    {0xFFE3, Qt::Key_Control},
    {0xFFE4, Qt::Key_Control},
    {0xFFE5, Qt::Key_CapsLock},
    {0xFFE7, Qt::Key_Meta},
    {0xFFE8, Qt::Key_Meta},
    {0xFFE9, Qt::Key_Alt},
    {0xFFEA, Qt::Key_Alt},
    {0xFFEB, Qt::Key_Super_L},
    {0xFFEC, Qt::Key_Super_R},
    {0xFE03, Qt::Key_AltGr},
    {0x1008FF10, Qt::Key_Standby},
    {0x1008FF11, Qt::Key_VolumeDown},
    {0x1008FF12, Qt::Key_VolumeMute},
    {0x1008FF13, Qt::Key_VolumeUp},
    {0x1008FF14, Qt::Key_MediaPlay},
    {0x1008FF15, Qt::Key_MediaStop},
    {0x1008FF16, Qt::Key_MediaPrevious},
    {0x1008FF17, Qt::Key_MediaNext},
    {0x1008FF18, Qt::Key_HomePage},
    {0x1008FF19, Qt::Key_LaunchMail},
    {0x1008FF1B, Qt::Key_Search},
    {0x1008FF1D, Qt::Key_Calculator},
    {0x1008FF26, Qt::Key_Back},
    {0x1008FF27, Qt::Key_Forward},
    {0x1008FF28, Qt::Key_Stop},
    {0x1008FF29, Qt::Key_Refresh},
    {0x1008FF2F, Qt::Key_Sleep},
    {0x1008FF30, Qt::Key_Favorites},
    {0x1008FF31, Qt::Key_MediaPause},
    {0x1008FF32, Qt::Key_LaunchMedia},
    {0x1008FF33, Qt::Key_Launch0},
    {0x1008FF5D, Qt::Key_Explorer},
    {0x1008FF73, Qt::Key_Reload},
};

template <std::size_t N> const Code* Find(const Code (&table)[N], int key) {
    for (const Code& c : table) {
        if (c.key == key) {
            return &c;
        }
    }
    return nullptr;
}

// A sided modifier: the keysym tells the side, else the keycode, else only the generic code.
VirtualKey Modifier(std::uint32_t keysym, std::uint32_t scanCode, int generic,
                    std::initializer_list<std::uint32_t> leftSyms,
                    std::initializer_list<std::uint32_t> rightSyms, std::uint32_t leftCode,
                    std::uint32_t rightCode, int leftVk, bool rightIsExtended) {
    const int rightVk = leftVk + 1;
    for (std::uint32_t s : leftSyms) {
        if (keysym == s) {
            return {leftVk, false};
        }
    }
    for (std::uint32_t s : rightSyms) {
        if (keysym == s) {
            return {rightVk, rightIsExtended};
        }
    }
    if (scanCode == leftCode) {
        return {leftVk, false};
    }
    if (scanCode == rightCode) {
        return {rightVk, rightIsExtended};
    }
    return {generic, false};
}

} // namespace

VirtualKey QtKeyToVirtualKey(int qtKey, bool keypad, std::uint32_t keysym, std::uint32_t scanCode,
                             HKL layout) {
    const bool japanese = layout && layout->bJapanese;

    if (keypad || (keysym >= XK_KP_First && keysym <= XK_KP_Last)) {
        if (const Code* c = Find(kKeypad, qtKey)) {
            return {c->vk, c->ext};
        }
    }

    switch (qtKey) {
    case Qt::Key_Shift:
        return Modifier(keysym, scanCode, 0x10, {XK_Shift_L}, {XK_Shift_R}, KC_Shift_L, KC_Shift_R,
                        0xA0, false);
    case Qt::Key_Control:
        return Modifier(keysym, scanCode, 0x11, {XK_Control_L}, {XK_Control_R}, KC_Control_L,
                        KC_Control_R, 0xA2, true);
    case Qt::Key_Alt:
        return Modifier(keysym, scanCode, 0x12, {XK_Alt_L, XK_Meta_L}, {XK_Alt_R, XK_Meta_R},
                        KC_Alt_L, KC_Alt_R, 0xA4, true);
    case Qt::Key_Meta: {
        // The Windows keys reach Qt as Meta on most desktops.
        const VirtualKey win = Modifier(keysym, scanCode, 0x5B, {XK_Super_L}, {XK_Super_R},
                                        KC_Super_L, KC_Super_R, 0x5B, true);
        return {win.nKey, true};
    }
    default:
        break;
    }

    if (scanCode >= KC_F13 && scanCode <= KC_F24) {
        return {0x7C + static_cast<int>(scanCode - KC_F13), false};
    }
    if (const Code* c = Find(kNamed, qtKey)) {
        return {c->vk, c->ext};
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        return {0x70 + (qtKey - Qt::Key_F1), false};
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        return {qtKey, false};
    }

    // A character key: its place on the keyboard decides, as on Windows, so that the same key
    // gives the same code whatever the shift state or the letters of the layout.
    if (scanCode != 0) {
        const Code* c = Find(kKeycodesCommon, static_cast<int>(scanCode));
        if (!c) {
            c = japanese ? Find(kKeycodesJapanese, static_cast<int>(scanCode))
                         : Find(kKeycodesUs, static_cast<int>(scanCode));
        }
        if (c) {
            return {c->vk, false};
        }
    }
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        return {qtKey, false};
    }
    if (const Code* c = japanese ? Find(kCharsJapanese, qtKey) : Find(kCharsUs, qtKey)) {
        return {c->vk, false};
    }
    return {};
}

VirtualKey QtKeyToVirtualKey(const QKeyEvent& event, HKL layout) {
    return QtKeyToVirtualKey(event.key(), event.modifiers().testFlag(Qt::KeypadModifier),
                             event.nativeVirtualKey(), event.nativeScanCode(), layout);
}

int QtKeyOfKeysym(std::uint32_t keysym) {
    if (keysym >= 0xFFB0 && keysym <= 0xFFB9) // keypad digits
        return Qt::Key_0 + static_cast<int>(keysym - 0xFFB0);
    if (keysym >= 0xFFBE && keysym <= 0xFFE0) // F1..F35
        return Qt::Key_F1 + static_cast<int>(keysym - 0xFFBE);
    for (const Keysym& k : kKeysyms)
        if (k.keysym == keysym)
            return k.key;
    // The keypad's operators and every character key: the character, upper-cased.
    const std::uint32_t code = xkb_keysym_to_utf32(keysym);
    if (code <= 0x20 || code == 0x7F)
        return code == 0x20 ? Qt::Key_Space : 0;
    const char32_t ch = code;
    const QString upper = QString::fromUcs4(&ch, 1).toUpper();
    return upper.size() == 1 ? upper.at(0).unicode() : static_cast<int>(code);
}

VirtualKey KeysymToVirtualKey(std::uint32_t keysym, std::uint32_t scanCode, HKL layout) {
    const bool keypad = keysym >= XK_KP_First && keysym <= XK_KP_Last;
    return QtKeyToVirtualKey(QtKeyOfKeysym(keysym), keypad, keysym, scanCode, layout);
}

std::uint32_t KeysymOfVirtualKey(int vk, HKL layout) {
    if (vk >= 'A' && vk <= 'Z')
        return static_cast<std::uint32_t>(vk - 'A' + 'a');
    if (vk >= '0' && vk <= '9')
        return static_cast<std::uint32_t>(vk);
    if (vk >= 0x70 && vk <= 0x87) // F1..F24
        return 0xFFBE + static_cast<std::uint32_t>(vk - 0x70);
    if (vk == 0x20)
        return 0x20;
    // The character tables list each key's unshifted character before its shifted one; Latin-1
    // keysyms are the characters' own codes.
    const bool japanese = layout && layout->bJapanese;
    for (const Code& c :
         japanese ? std::span<const Code>(kCharsJapanese) : std::span<const Code>(kCharsUs))
        if (c.vk == vk)
            return static_cast<std::uint32_t>(c.key);
    // Named keys before the keypad's: End rather than KP_End.
    for (const Keysym& k : kKeysyms)
        if (KeysymToVirtualKey(k.keysym, 0, layout).nKey == vk)
            return k.keysym;
    for (std::uint32_t keysym = XK_KP_First; keysym <= XK_KP_Last; ++keysym)
        if (KeysymToVirtualKey(keysym, 0, layout).nKey == vk)
            return keysym;
    return 0;
}
