// SPDX-License-Identifier: GPL-3.0-or-later
// The key-state table built from key events, and the auto-repeat rule.
#include "input/key_state.h"
#include "input/key_trigger.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> DownKeys(const CKeyState& state) {
    std::vector<int> keys;
    for (int key = 0; key < 256; ++key) {
        if (state.Data()[key] & CKeyState::kDown) {
            keys.push_back(key);
        }
    }
    return keys;
}

using Keys = std::vector<int>;

TEST(KeyState, SidedModifiersSetTheirGenericCode) {
    const struct {
        int generic, left, right;
    } pairs[] = {{VK_SHIFT, VK_LSHIFT, VK_RSHIFT},
                 {VK_CONTROL, VK_LCONTROL, VK_RCONTROL},
                 {VK_MENU, VK_LMENU, VK_RMENU}};
    for (const auto& p : pairs) {
        CKeyState s;
        EXPECT_TRUE(s.KeyDown(p.left));
        EXPECT_EQ(DownKeys(s), (Keys{p.generic, p.left}));
        EXPECT_TRUE(s.KeyDown(p.right));
        EXPECT_FALSE(s.KeyDown(p.right)); // a repeat
        s.KeyUp(p.left);
        EXPECT_EQ(DownKeys(s), (Keys{p.generic, p.right})); // the other side still holds it
        s.KeyUp(p.right);
        EXPECT_EQ(DownKeys(s), Keys{});
        // Side unknown: counted as the left key; its release lets go of both sides.
        EXPECT_TRUE(s.KeyDown(p.generic));
        EXPECT_EQ(DownKeys(s), (Keys{p.generic, p.left}));
        s.KeyDown(p.right);
        s.KeyUp(p.generic);
        EXPECT_EQ(DownKeys(s), Keys{});
    }
}

TEST(KeyState, LockKeysToggleAtThePressOnly) {
    for (int key : {VK_CAPITAL, VK_NUMLOCK, VK_SCROLL}) {
        CKeyState s;
        s.KeyDown(key);
        EXPECT_EQ(s.At(key), 0x81) << key;
        s.KeyDown(key); // auto-repeat
        EXPECT_EQ(s.At(key), 0x81) << key;
        s.KeyUp(key);
        EXPECT_EQ(s.At(key), 0x01) << key;
        EXPECT_FALSE(IsKeyHeld(s.Data(), key)) << key; // toggled on is not held
        s.KeyDown(key);
        s.KeyUp(key);
        EXPECT_EQ(s.At(key), 0x00) << key;
    }
    CKeyState s;
    s.KeyDown('A');
    s.KeyUp('A');
    EXPECT_EQ(s.At('A'), 0x00); // other keys carry no toggle
}

TEST(KeyState, CodesOutsideTheTableAreIgnored) {
    CKeyState s;
    for (int key : {0, -1, 256, 70000, -70000}) {
        EXPECT_FALSE(s.KeyDown(key)) << key;
        s.KeyUp(key);
        EXPECT_EQ(s.At(key), 0) << key;
    }
    EXPECT_EQ(DownKeys(s), Keys{});
    EXPECT_EQ(s.Data()[0], 0);
}

TEST(KeyState, ModifiersFollowTheLiveStateAfterMissedReleases) {
    const struct {
        Keys before;
        bool shift, ctrl, alt;
        Keys after;
    } cases[] = {
        {{VK_LSHIFT, 'K'}, false, false, false, {'K'}},
        {{VK_RSHIFT, VK_LCONTROL}, true, false, false, {VK_SHIFT, VK_RSHIFT}},
        {{}, false, true, true, {VK_CONTROL, VK_MENU, VK_LCONTROL, VK_LMENU}},
        {{VK_RMENU}, false, false, true, {VK_MENU, VK_RMENU}},
        {{VK_LSHIFT, VK_RSHIFT}, false, false, false, {}},
    };
    for (const auto& c : cases) {
        CKeyState s;
        for (int key : c.before) {
            s.KeyDown(key);
        }
        s.SyncModifiers(c.shift, c.ctrl, c.alt);
        EXPECT_EQ(DownKeys(s), c.after);
    }
}

TEST(KeyState, ReleaseAllKeepsToggles) {
    CKeyState s;
    s.KeyDown(VK_NUMLOCK);
    s.KeyDown(VK_LCONTROL);
    s.KeyDown('Z');
    s.ReleaseAll();
    EXPECT_EQ(DownKeys(s), Keys{});
    EXPECT_EQ(s.At(VK_NUMLOCK), 0x01);
}

using Ev = CKeyRepeatFilter::Event;
Ev Press(int key, std::uint64_t t, bool marked = false) {
    return {true, key, t, marked};
}
Ev Release(int key, std::uint64_t t, bool marked = false) {
    return {false, key, t, marked};
}

TEST(KeyRepeatFilter, RepeatsAreNeverReleases) {
    const struct {
        const char* what;
        std::vector<Ev> in;
        std::vector<Ev> out; // after a final Flush
    } cases[] = {
        {"marked pair",
         {Press('K', 1), Release('K', 5, true), Press('K', 5, true)},
         {Press('K', 1), Press('K', 5, true)}},
        {"unmarked pair, same time",
         {Press('K', 1), Release('K', 5), Press('K', 5)},
         {Press('K', 1), Press('K', 5, true)}},
        {"real release then press",
         {Press('K', 1), Release('K', 5), Press('K', 6)},
         {Press('K', 1), Release('K', 5), Press('K', 6)}},
        {"other key at the same time",
         {Release('K', 5), Press('J', 5)},
         {Release('K', 5), Press('J', 5)}},
        {"release at the end", {Press('K', 1), Release('K', 2)}, {Press('K', 1), Release('K', 2)}},
        {"two releases", {Release('K', 2), Release('J', 2)}, {Release('K', 2), Release('J', 2)}},
        {"marked release alone", {Release('K', 2, true)}, {}},
        {"pending, then marked release of another key",
         {Release('K', 2), Release('J', 3, true), Press('J', 3, true)},
         {Release('K', 2), Press('J', 3, true)}},
    };
    for (const auto& c : cases) {
        CKeyRepeatFilter filter;
        std::vector<Ev> out;
        for (const Ev& e : c.in) {
            for (const Ev& o : filter.Feed(e)) {
                out.push_back(o);
            }
        }
        if (auto last = filter.Flush()) {
            out.push_back(*last);
        }
        EXPECT_FALSE(filter.HasPending()) << c.what;
        EXPECT_EQ(out, c.out) << c.what;
    }
}

TEST(KeyRepeatFilter, AnUnmarkedReleaseWaitsForTheNextEvent) {
    CKeyRepeatFilter filter;
    EXPECT_TRUE(filter.Feed(Release('K', 9)).empty());
    EXPECT_TRUE(filter.HasPending());
    EXPECT_EQ(filter.Flush(), Release('K', 9));
    EXPECT_EQ(filter.Flush(), std::nullopt);
}

} // namespace
