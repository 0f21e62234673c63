// SPDX-License-Identifier: GPL-3.0-or-later
// Our own tables of the keys a PC keyboard has: virtual-key code -> scan code -> the name the
// key carries. Built once, on first use; read-only afterwards, so any thread may read them.
#include "input/key_layout.h"

#include "base/text.h"

#include <cctype>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>

namespace {

constexpr std::uint32_t E = KeyLayout::kExtended;

struct VkScan {
    int key;
    std::uint8_t scan;
};

struct ScanName {
    std::uint32_t scan; // with E for the extended keys
    const char* utf8;
};

// Keys that sit at the same place on both keyboards and carry the same name.
constexpr VkScan kCommonKeys[] = {
    {0x08, 0x0E},                                           // Backspace
    {0x09, 0x0F},                                           // Tab
    {0x0C, 0x4C},                                           // Clear (keypad 5 without Num Lock)
    {0x0D, 0x1C},                                           // Enter
    {0x10, 0x2A}, {0x11, 0x1D}, {0x12, 0x38},               // Shift, Ctrl, Alt
    {0x13, 0x45},                                           // Pause
    {0x14, 0x3A},                                           // Caps Lock
    {0x1B, 0x01},                                           // Esc
    {0x20, 0x39},                                           // Space
    {0x21, 0x49}, {0x22, 0x51}, {0x23, 0x4F}, {0x24, 0x47}, // Page Up, Page Down, End, Home
    {0x25, 0x4B}, {0x26, 0x48}, {0x27, 0x4D}, {0x28, 0x50}, // arrows
    {0x2C, 0x54},               // Print Screen (named after its Alt form, as Windows does)
    {0x2D, 0x52}, {0x2E, 0x53}, // Insert, Delete
    {0x30, 0x0B}, {0x31, 0x02}, {0x32, 0x03}, {0x33, 0x04}, {0x34, 0x05}, {0x35, 0x06},
    {0x36, 0x07}, {0x37, 0x08}, {0x38, 0x09}, {0x39, 0x0A}, {'A', 0x1E},  {'B', 0x30},
    {'C', 0x2E},  {'D', 0x20},  {'E', 0x12},  {'F', 0x21},  {'G', 0x22},  {'H', 0x23},
    {'I', 0x17},  {'J', 0x24},  {'K', 0x25},  {'L', 0x26},  {'M', 0x32},  {'N', 0x31},
    {'O', 0x18},  {'P', 0x19},  {'Q', 0x10},  {'R', 0x13},  {'S', 0x1F},  {'T', 0x14},
    {'U', 0x16},  {'V', 0x2F},  {'W', 0x11},  {'X', 0x2D},  {'Y', 0x15},  {'Z', 0x2C},
    {0x5B, 0x5B}, {0x5C, 0x5C}, {0x5D, 0x5D}, // Windows keys, Application
    {0x60, 0x52}, {0x61, 0x4F}, {0x62, 0x50}, {0x63, 0x51}, {0x64, 0x4B}, // keypad digits
    {0x65, 0x4C}, {0x66, 0x4D}, {0x67, 0x47}, {0x68, 0x48}, {0x69, 0x49}, {0x6A, 0x37},
    {0x6B, 0x4E}, {0x6D, 0x4A}, {0x6E, 0x53}, {0x6F, 0x35},                             // * + - . /
    {0x70, 0x3B}, {0x71, 0x3C}, {0x72, 0x3D}, {0x73, 0x3E}, {0x74, 0x3F}, {0x75, 0x40}, // F1-F6
    {0x76, 0x41}, {0x77, 0x42}, {0x78, 0x43}, {0x79, 0x44}, {0x7A, 0x57}, {0x7B, 0x58}, // F7-F12
    {0x7C, 0x64}, {0x7D, 0x65}, {0x7E, 0x66}, {0x7F, 0x67}, {0x80, 0x68}, {0x81, 0x69}, // F13-F18
    {0x82, 0x6A}, {0x83, 0x6B}, {0x84, 0x6C}, {0x85, 0x6D}, {0x86, 0x6E}, {0x87, 0x76}, // F19-F24
    {0x90, 0x45}, {0x91, 0x46}, // Num Lock, Scroll Lock
    {0xA0, 0x2A}, {0xA1, 0x36}, {0xA2, 0x1D}, {0xA3, 0x1D}, {0xA4, 0x38}, {0xA5, 0x38},
    {0xBC, 0x33}, {0xBD, 0x0C}, {0xBE, 0x34}, {0xBF, 0x35}, // , - . /
};

constexpr ScanName kCommonNames[] = {
    {0x01, "Esc"},
    {0x0E, "Backspace"},
    {0x0F, "Tab"},
    {0x1C, "Enter"},
    {0x1D, "Ctrl"},
    {0x2A, "Shift"},
    {0x36, "Right Shift"},
    {0x37, "Num *"},
    {0x38, "Alt"},
    {0x39, "Space"},
    {0x3A, "Caps Lock"},
    {0x3B, "F1"},
    {0x3C, "F2"},
    {0x3D, "F3"},
    {0x3E, "F4"},
    {0x3F, "F5"},
    {0x40, "F6"},
    {0x41, "F7"},
    {0x42, "F8"},
    {0x43, "F9"},
    {0x44, "F10"},
    {0x45, "Pause"},
    {0x46, "Scroll Lock"},
    {0x47, "Num 7"},
    {0x48, "Num 8"},
    {0x49, "Num 9"},
    {0x4A, "Num -"},
    {0x4B, "Num 4"},
    {0x4C, "Num 5"},
    {0x4D, "Num 6"},
    {0x4E, "Num +"},
    {0x4F, "Num 1"},
    {0x50, "Num 2"},
    {0x51, "Num 3"},
    {0x52, "Num 0"},
    {0x53, "Num Del"},
    {0x54, "Sys Req"},
    {0x57, "F11"},
    {0x58, "F12"},
    {0x64, "F13"},
    {0x65, "F14"},
    {0x66, "F15"},
    {0x67, "F16"},
    {0x68, "F17"},
    {0x69, "F18"},
    {0x6A, "F19"},
    {0x6B, "F20"},
    {0x6C, "F21"},
    {0x6D, "F22"},
    {0x6E, "F23"},
    {0x76, "F24"},
    // The keys of the middle block share their scan codes with the keypad; the extended flag
    // tells them apart.
    {0x1C | E, "Num Enter"},
    {0x1D | E, "Right Ctrl"},
    {0x35 | E, "Num /"},
    {0x37 | E, "Prnt Scrn"},
    {0x38 | E, "Right Alt"},
    {0x45 | E, "Num Lock"},
    {0x46 | E, "Break"},
    {0x47 | E, "Home"},
    {0x48 | E, "Up"},
    {0x49 | E, "Page Up"},
    {0x4B | E, "Left"},
    {0x4D | E, "Right"},
    {0x4F | E, "End"},
    {0x50 | E, "Down"},
    {0x51 | E, "Page Down"},
    {0x52 | E, "Insert"},
    {0x53 | E, "Delete"},
    {0x5B | E, "Left Windows"},
    {0x5C | E, "Right Windows"},
    {0x5D | E, "Application"},
    // The Windows keys are looked up without the flag; name them all the same.
    {0x5B, "Left Windows"},
    {0x5C, "Right Windows"},
    // Character keys carry the character they type.
    {0x02, "1"},
    {0x03, "2"},
    {0x04, "3"},
    {0x05, "4"},
    {0x06, "5"},
    {0x07, "6"},
    {0x08, "7"},
    {0x09, "8"},
    {0x0A, "9"},
    {0x0B, "0"},
    {0x0C, "-"},
    {0x10, "Q"},
    {0x11, "W"},
    {0x12, "E"},
    {0x13, "R"},
    {0x14, "T"},
    {0x15, "Y"},
    {0x16, "U"},
    {0x17, "I"},
    {0x18, "O"},
    {0x19, "P"},
    {0x1E, "A"},
    {0x1F, "S"},
    {0x20, "D"},
    {0x21, "F"},
    {0x22, "G"},
    {0x23, "H"},
    {0x24, "J"},
    {0x25, "K"},
    {0x26, "L"},
    {0x2C, "Z"},
    {0x2D, "X"},
    {0x2E, "C"},
    {0x2F, "V"},
    {0x30, "B"},
    {0x31, "N"},
    {0x32, "M"},
    {0x33, ","},
    {0x34, "."},
    {0x35, "/"},
};

struct KeyOwnName {
    int key;
    const char* utf8;
};

constexpr KeyOwnName kOwnNames[] = {
    {0x03, "Cancel"},
    {0x2F, "Help"},
    {0x5F, "Sleep"},
    {0xA6, "Browser Back"},
    {0xA7, "Browser Forward"},
    {0xA8, "Browser Refresh"},
    {0xA9, "Browser Stop"},
    {0xAA, "Browser Search"},
    {0xAB, "Browser Favorites"},
    {0xAC, "Browser Home"},
    {0xAD, "Volume Mute"},
    {0xAE, "Volume Down"},
    {0xAF, "Volume Up"},
    {0xB0, "Next Track"},
    {0xB1, "Previous Track"},
    {0xB2, "Stop Media"},
    {0xB3, "Play/Pause Media"},
    {0xB4, "Start Mail"},
    {0xB5, "Select Media"},
    {0xB6, "Start Application 1"},
    {0xB7, "Start Application 2"},
};

// US 101/104 keys: the OEM keys where a US keyboard has them.
constexpr VkScan kUsKeys[] = {
    {0xBA, 0x27}, {0xBB, 0x0D}, {0xC0, 0x29}, {0xDB, 0x1A},
    {0xDC, 0x2B}, {0xDD, 0x1B}, {0xDE, 0x28}, {0xE2, 0x56},
};
constexpr ScanName kUsNames[] = {
    {0x0D, "="}, {0x1A, "["}, {0x1B, "]"},  {0x27, ";"},
    {0x28, "'"}, {0x29, "`"}, {0x2B, "\\"}, {0x56, "\\"},
};

// Japanese 106/109 keys: other OEM keys, and the input-method keys.
constexpr VkScan kJapaneseKeys[] = {
    {0xBA, 0x28}, // :
    {0xBB, 0x27}, // ;
    {0xC0, 0x1A}, // @
    {0xDB, 0x1B}, // [
    {0xDC, 0x7D}, // yen
    {0xDD, 0x2B}, // ]
    {0xDE, 0x0D}, // ^
    {0xE2, 0x73}, // backslash (ro)
    {0x1C, 0x79}, // VK_CONVERT
    {0x1D, 0x7B}, // VK_NONCONVERT
    {0x15, 0x70}, // VK_KANA
    {0xF0, 0x3A}, // VK_DBE_ALPHANUMERIC (the Caps Lock key without Shift)
    {0xF1, 0x70}, // VK_DBE_KATAKANA
    {0xF2, 0x70}, // VK_DBE_HIRAGANA
    {0x19, 0x29}, // VK_KANJI (the hankaku/zenkaku key with Alt)
    {0xF3, 0x29}, // VK_DBE_SBCSCHAR
    {0xF4, 0x29}, // VK_DBE_DBCSCHAR
};
constexpr ScanName kJapaneseNames[] = {
    {0x0D, "^"},
    {0x1A, "@"},
    {0x1B, "["},
    {0x27, ";"},
    {0x28, ":"},
    {0x2B, "]"},
    {0x73, "\\"},
    // 0x5C would read back as a backslash here; the full-width sign keeps the two keys apart.
    {0x7D, "￥"},
    {0x29, "半角/全角"},
    {0x70, "カタカナ/ひらがな"},
    {0x79, "変換"},
    {0x7B, "無変換"},
};

template <std::size_t NK, std::size_t NN>
KeyLayout MakeLayout(const char* name, bool japanese, const VkScan (&keys)[NK],
                     const ScanName (&names)[NN]) {
    KeyLayout layout;
    layout.strName = name;
    layout.bJapanese = japanese;
    for (const VkScan& k : kCommonKeys) {
        layout.scanOfKey[static_cast<std::size_t>(k.key)] = k.scan;
    }
    for (const VkScan& k : keys) {
        layout.scanOfKey[static_cast<std::size_t>(k.key)] = k.scan;
    }
    for (const ScanName& n : kCommonNames) {
        layout.nameOfScan[n.scan] = Cp932FromUtf8(n.utf8);
    }
    for (const ScanName& n : names) {
        layout.nameOfScan[n.scan] = Cp932FromUtf8(n.utf8);
    }
    for (const KeyOwnName& n : kOwnNames) {
        layout.nameOfKey[static_cast<std::size_t>(n.key)] = n.utf8;
    }
    return layout;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    const std::string_view blanks = " \t\r\n\"'";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// The XKBLAYOUT value of /etc/default/keyboard, quotes removed; empty when absent.
std::string_view XkbLayoutLine(std::string_view fileText) {
    constexpr std::string_view kKey = "XKBLAYOUT=";
    std::size_t pos = 0;
    while (pos < fileText.size()) {
        std::size_t end = fileText.find('\n', pos);
        if (end == std::string_view::npos) {
            end = fileText.size();
        }
        std::string_view line = fileText.substr(pos, end - pos);
        const std::size_t start = line.find_first_not_of(" \t");
        if (start != std::string_view::npos) {
            line.remove_prefix(start);
            if (line.substr(0, kKey.size()) == kKey) {
                return Trim(line.substr(kKey.size()));
            }
        }
        pos = end + 1;
    }
    return {};
}

} // namespace

std::uint32_t KeyLayout::ScanCode(int key) const {
    if (key < 0 || key > 255) {
        return 0;
    }
    return scanOfKey[static_cast<std::size_t>(key)];
}

const std::string& KeyLayout::ScanName(std::uint32_t scan, bool extended) const {
    static const std::string kNone;
    const std::uint32_t index = scan | (extended ? kExtended : 0);
    return index < nameOfScan.size() ? nameOfScan[index] : kNone;
}

HKL JapaneseKeyLayout() {
    static const KeyLayout layout = MakeLayout("00000411", true, kJapaneseKeys, kJapaneseNames);
    return &layout;
}

HKL UsKeyLayout() {
    static const KeyLayout layout = MakeLayout("00000409", false, kUsKeys, kUsNames);
    return &layout;
}

std::string KeyLayoutName(HKL layout) {
    return layout ? layout->strName : std::string();
}

bool IsCharacterScan(std::uint32_t scan) {
    return (scan >= 0x02 && scan <= 0x0D) || (scan >= 0x10 && scan <= 0x1B) ||
           (scan >= 0x1E && scan <= 0x29) || (scan >= 0x2B && scan <= 0x35) || scan == 0x56 ||
           scan == 0x73 || scan == 0x7D;
}

namespace {

std::mutex s_registryMutex;
std::deque<KeyLayout>& Registry() {
    static std::deque<KeyLayout> registry; // a deque: layouts never move once handed out
    return registry;
}

HKL FindRegisteredLocked(std::string_view name) {
    for (const KeyLayout& layout : Registry()) {
        if (layout.strName == name) {
            return &layout;
        }
    }
    return nullptr;
}

HKL FindRegistered(std::string_view name) {
    std::lock_guard lock(s_registryMutex);
    return FindRegisteredLocked(name);
}

} // namespace

HKL RegisterKeyLayout(const std::string& name, HKL base,
                      const std::vector<std::pair<std::uint32_t, std::string>>& characterNames) {
    std::lock_guard lock(s_registryMutex);
    if (HKL existing = FindRegisteredLocked(name)) {
        return existing;
    }
    KeyLayout layout = base ? *base : *UsKeyLayout();
    layout.strName = name;
    for (const auto& [scan, utf8] : characterNames) {
        if (!IsCharacterScan(scan) || utf8.empty()) {
            continue;
        }
        const std::string cp932 = Cp932FromUtf8(utf8);
        if (Utf8FromCp932(cp932) == utf8) {
            layout.nameOfScan[scan] = cp932;
        }
    }
    Registry().push_back(std::move(layout));
    return &Registry().back();
}

HKL KeyLayoutFromHint(std::string_view hint) {
    const std::string text = Lower(Trim(hint));
    if (text.empty()) {
        return nullptr;
    }
    // A layout list names its primary layout first ("jp,us").
    const std::string first = text.substr(0, text.find(','));
    if (first.rfind("jp", 0) == 0 || first.rfind("ja", 0) == 0 || first == "00000411") {
        return JapaneseKeyLayout();
    }
    return UsKeyLayout();
}

HKL ChooseKeyLayout(std::string_view xkbDefaultLayout, std::string_view keyboardFileText,
                    std::string_view lcAll, std::string_view lang) {
    for (std::string_view source :
         {xkbDefaultLayout, XkbLayoutLine(keyboardFileText), lcAll, lang}) {
        if (HKL layout = KeyLayoutFromHint(source)) {
            return layout;
        }
    }
    return UsKeyLayout();
}

HKL LoadKeyLayout(std::string_view hint) {
    if (HKL registered = FindRegistered(hint)) {
        return registered;
    }
    if (HKL layout = KeyLayoutFromHint(hint)) {
        return layout;
    }
    auto env = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string_view(value ? value : "");
    };
    std::string fileText;
    if (std::ifstream file("/etc/default/keyboard"); file) {
        fileText.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return ChooseKeyLayout(env("XKB_DEFAULT_LAYOUT"), fileText, env("LC_ALL"), env("LANG"));
}
