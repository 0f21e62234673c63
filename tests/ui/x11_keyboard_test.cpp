// Key names from the layout the desktop uses: character keys named by what they type there,
// named keys keeping their table names, whatever the locale says.
#include "input/hotkey.h"
#include "input/key_layout.h"
#include "tests/support/test_support.h"
#include "ui/x11_keyboard.h"

#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The layout as the X server would hold it, compiled from the same XKB data.
HKL LayoutFromXkb(const char* xkbLayout) {
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    const xkb_rule_names names{"evdev", "pc105", xkbLayout, "", ""};
    const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    if (!keymap)
        return nullptr;
    const HostKeyLayout host = HostKeyLayoutOf(keymap.get(), 0);
    return RegisterKeyLayout("xkb:" + host.strName, KeyLayoutFromHint(host.strName),
                             host.characterNames);
}

TEST(HostKeyLayoutTest, CharacterKeysAreNamedByTheActiveLayout) {
    struct Case {
        const char* layout;
        int key;
        const char* name; // UTF-8
    };
    const Case cases[] = {
        {"jp", 0xC0, "@"},      {"jp", 0xDB, "["},          {"jp", 0xBA, ":"}, {"jp", 0x1C, "変換"},
        {"jp", 0x1D, "無変換"}, {"jp", 0x41, "A"},          {"us", 0xC0, "`"}, {"us", 0xDB, "["},
        {"us", 0x1C, ""},       {"de", 0xDB, "udiaeresis"}, {"de", 0x59, "Z"}, {"de", 0x5A, "Y"},
        {"de", 0x25, "Left"},   {"fr", 0x41, "Q"},          {"fr", 0x31, "&"},
    };
    for (const Case& c : cases) {
        HKL layout = LayoutFromXkb(c.layout);
        ASSERT_NE(layout, nullptr) << c.layout;
        EXPECT_EQ(KeyName(c.key, layout), Sj(c.name)) << c.layout << " 0x" << std::hex << c.key;
    }
}

} // namespace
