// SPDX-License-Identifier: GPL-3.0-or-later
// Key names from the desktop's active layout: character keys by what they type there.
#include "desktop/x11_keyboard.h"
#include "input/hotkey.h"
#include "input/key_layout.h"
#include "tests/support/test_support.h"

#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(HostKeyLayoutTest, CharacterKeysAreNamedByTheActiveLayout) {
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    const std::tuple<const char*, int, const char*> cases[] = {
        {"jp", 0xC0, "@"},    {"jp", 0xBA, ":"},  {"jp", 0x1C, "変換"},
        {"us", 0xC0, "`"},    {"us", 0x1C, ""},   {"de", 0x5A, "Y"},
        {"de", 0x25, "Left"}, {"fr", 0x31, "&"},  {"de", 0xDB, "udiaeresis"}, // CP932 has no Ü
        {"jp", 0xDC, "￥"},   {"jp", 0xE2, "\\"}, // both type a backslash there
    };
    for (const auto& [xkbLayout, key, name] : cases) {
        // The keymap as the X server would hold it, compiled from the same XKB data.
        const xkb_rule_names names{"evdev", "pc105", xkbLayout, "", ""};
        const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
            xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
            &xkb_keymap_unref);
        ASSERT_NE(keymap, nullptr) << xkbLayout;
        const HostKeyLayout host = HostKeyLayoutOf(keymap.get(), 0);
        HKL layout = RegisterKeyLayout("xkb:" + host.strName, KeyLayoutFromHint(host.strName),
                                       host.characterNames);
        EXPECT_EQ(KeyName(key, layout), Sj(name)) << xkbLayout << " 0x" << std::hex << key;
    }
}

} // namespace
