// SPDX-License-Identifier: GPL-3.0-or-later
// Trigger matching over key-state snapshots, driven through the key-state table the window keeps.
#include "input/key_state.h"
#include "input/key_trigger.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int VK_K = 'K';
constexpr int VK_X = 'X';

// Records what the matching asked for, in order. PlaySelected plays the row at the selection
// mark, as the set controller does.
class RecordingTarget : public IKeyTriggerTarget {
public:
    explicit RecordingTarget(const EffectTable& table) : m_table(table) {}
    void PlaySelected() override {
        m_calls.push_back("PlaySelected");
        if (m_nSelectionMark >= 0) {
            m_calls.push_back("play " + m_table.GetAt(m_nSelectionMark).strName);
        }
    }
    void StartPlayback(const EffectEntryPtr& entry) override {
        m_calls.push_back("start " + entry->strName);
    }
    void ReleasePlayback(const EffectEntryPtr& entry) override {
        m_calls.push_back("release " + entry->strName);
    }
    void EditEffect() override { m_calls.push_back("EditEffect"); }

    std::vector<std::string> Take() { return std::exchange(m_calls, {}); }

    int m_nSelectionMark = -1;

private:
    const EffectTable& m_table;
    std::vector<std::string> m_calls;
};

using Calls = std::vector<std::string>;

void AddEntry(EffectTable& table, const std::string& name, int key, int modifiers) {
    EffectEntry entry;
    entry.strName = name;
    entry.nKey = key;
    entry.nModifiers = modifiers;
    table.Add(entry);
}

struct Snapshot {
    std::uint8_t bytes[256] = {};
    Snapshot(std::initializer_list<int> down, std::uint8_t value = 0x80) {
        for (int key : down) {
            bytes[key] = value;
        }
    }
};

// The window's side: a key-state table and the matching it runs at each key event.
struct Keyboard {
    EffectTable table;
    RecordingTarget target{table};
    CKeyState state;

    bool Down(int key) {
        state.KeyDown(key);
        return TranslateKeyMessage(WM_KEYDOWN, state.Data(), table, target);
    }
    bool Up(int key) {
        state.KeyUp(key);
        return TranslateKeyMessage(WM_KEYUP, state.Data(), table, target);
    }
    bool Latched(int index) const { return table.GetAt(index).bKeyHeld != 0; }
};

TEST(KeyTrigger, ModifiersMustMatchExactly) {
    const struct {
        int key;
        int modifiers;
        Snapshot snapshot;
        bool fires;
    } cases[] = {
        {VK_K, 0, {VK_K}, true},
        {VK_K, 0, {VK_CONTROL, VK_K}, false},
        {VK_K, 0, {VK_SHIFT, VK_K}, false},
        {VK_K, 0, {VK_MENU, VK_K}, false},
        {VK_K, 2, {VK_CONTROL, VK_K}, true},
        {VK_K, 2, {VK_K}, false},
        {VK_K, 2, {VK_CONTROL, VK_SHIFT, VK_K}, false},
        {VK_K, 2, {VK_CONTROL}, false},
        {VK_K, 1, {VK_MENU, VK_K}, true},
        {VK_K, 4, {VK_SHIFT, VK_K}, true},
        {VK_K, 7, {VK_MENU, VK_CONTROL, VK_SHIFT, VK_K}, true},
        {VK_K, 7, {VK_CONTROL, VK_SHIFT, VK_K}, false},
        {VK_K, 7, {VK_MENU, VK_SHIFT, VK_K}, false},
        {VK_K, 7, {VK_MENU, VK_CONTROL, VK_K}, false},
        // Bits above the three are ignored.
        {VK_K, 8, {VK_K}, true},
        {VK_K, 0x0A, {VK_CONTROL, VK_K}, true},
        {VK_K, 0x0A, {VK_K}, false},
        // Only the side-specific code down: the generic code decides.
        {VK_K, 4, {VK_LSHIFT, VK_K}, false},
        {VK_K, 0, {VK_RCONTROL, VK_K}, true},
        // A key only toggled on is not held; any of the four high bits is.
        {VK_K, 0, Snapshot({VK_K}, 0x01), false},
        {VK_K, 0, Snapshot({VK_K}, 0x10), true},
        {VK_K, 0, Snapshot({VK_K}, 0x40), true},
        {VK_K, 4, Snapshot({VK_SHIFT, VK_K}, 0x0F), false},
        {VK_CAPITAL, 0, Snapshot({VK_CAPITAL}, 0x01), false},
    };
    int row = 0;
    for (const auto& c : cases) {
        EffectTable table;
        AddEntry(table, "e", c.key, c.modifiers);
        RecordingTarget target(table);
        EXPECT_EQ(TranslateKeyMessage(WM_KEYDOWN, c.snapshot.bytes, table, target), c.fires)
            << "row " << row;
        EXPECT_EQ(target.Take(), c.fires ? Calls{"start e"} : Calls{}) << "row " << row;
        EXPECT_EQ(table.GetAt(0).bKeyHeld, c.fires ? 1 : 0) << "row " << row;
        ++row;
    }
}

TEST(KeyTrigger, HeldKeyStartsOnceUntilAKeyUpFindsItReleased) {
    Keyboard kb;
    AddEntry(kb.table, "k", VK_K, 0);
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_EQ(kb.target.Take(), Calls{"start k"});
    // Auto-repeat key-downs are consumed and start nothing.
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_EQ(kb.target.Take(), Calls{});
    // Another key goes up while K is still held: the latch stays.
    kb.state.KeyDown(VK_X);
    EXPECT_FALSE(kb.Up(VK_X));
    EXPECT_TRUE(kb.Latched(0));
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_EQ(kb.target.Take(), Calls{});
    // K goes up: never consumed, latch cleared, the next press starts again.
    EXPECT_FALSE(kb.Up(VK_K));
    EXPECT_FALSE(kb.Latched(0));
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_EQ(kb.target.Take(), Calls{"start k"});
}

TEST(KeyTrigger, KeyReleasedUnseenKeepsItsLatchUntilAnyKeyUpFindsItUp) {
    Keyboard kb;
    AddEntry(kb.table, "k", VK_K, 0);
    kb.Down(VK_K);
    kb.target.Take();
    // The window lost the focus while K went up; it forgets every key but sees no key-up.
    kb.state.ReleaseAll();
    EXPECT_TRUE(kb.Latched(0));
    // Pressed again before any key-up was handled: consumed, starts nothing.
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_EQ(kb.target.Take(), Calls{});
    kb.Up(VK_K);
    EXPECT_FALSE(kb.Latched(0));
    // Or: released unseen, then the key-up of some other key clears it.
    kb.Down(VK_K);
    kb.state.ReleaseAll();
    kb.state.KeyDown(VK_X);
    kb.Up(VK_X);
    EXPECT_FALSE(kb.Latched(0));
    EXPECT_EQ(kb.target.Take(), Calls{"start k"});
}

// None of these entries has a sound: refusing them is the target's business, not the matching's.
TEST(KeyTrigger, EveryMatchingEntryFiresInTableOrder) {
    Keyboard kb;
    AddEntry(kb.table, "first", VK_K, 2);
    AddEntry(kb.table, "other", VK_K, 0);
    AddEntry(kb.table, "second", VK_K, 2);
    AddEntry(kb.table, "third", VK_K, 0x12); // an ignored bit: still Ctrl+K
    kb.state.KeyDown(VK_LCONTROL);
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_EQ(kb.target.Take(), (Calls{"start first", "start second", "start third"}));
    EXPECT_TRUE(kb.Latched(0));
    EXPECT_FALSE(kb.Latched(1));
    EXPECT_TRUE(kb.Latched(2));
    EXPECT_TRUE(kb.Latched(3));
}

TEST(KeyTrigger, ShiftPressedWhileKHeldStartsShiftKOnly) {
    Keyboard kb;
    AddEntry(kb.table, "A", VK_K, 0);
    AddEntry(kb.table, "B", VK_K, 4);
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_EQ(kb.target.Take(), Calls{"start A"});
    EXPECT_TRUE(kb.Down(VK_LSHIFT));
    EXPECT_EQ(kb.target.Take(), Calls{"start B"});
    EXPECT_TRUE(kb.Latched(0));
    EXPECT_TRUE(kb.Latched(1));
    // Shift up with K still down: both latches stay, and K's repeats start nothing.
    EXPECT_FALSE(kb.Up(VK_LSHIFT));
    EXPECT_TRUE(kb.Latched(0));
    EXPECT_TRUE(kb.Down(VK_K));
    EXPECT_EQ(kb.target.Take(), Calls{});
    EXPECT_FALSE(kb.Up(VK_K));
    EXPECT_FALSE(kb.Latched(0));
    EXPECT_FALSE(kb.Latched(1));
}

TEST(KeyTrigger, EnterPlaysTheSelectionAndIsAlwaysConsumed) {
    Keyboard kb;
    AddEntry(kb.table, "row0", VK_K, 0);
    AddEntry(kb.table, "row1", VK_X, 2);
    // No selection mark: nothing plays, but the dialog must not see Enter.
    EXPECT_TRUE(kb.Down(VK_RETURN));
    EXPECT_EQ(kb.target.Take(), Calls{"PlaySelected"});
    kb.Up(VK_RETURN);
    kb.target.m_nSelectionMark = 1;
    EXPECT_TRUE(kb.Down(VK_RETURN));
    EXPECT_EQ(kb.target.Take(), (Calls{"PlaySelected", "play row1"}));
    // No latch: again at the auto-repeat, and at another key's key-down while Enter is held.
    EXPECT_TRUE(kb.Down(VK_RETURN));
    EXPECT_TRUE(kb.Down('Q'));
    EXPECT_EQ(kb.target.Take(), (Calls{"PlaySelected", "play row1", "PlaySelected", "play row1"}));
    // A key-up is never consumed, Enter or not.
    EXPECT_FALSE(kb.Up('Q'));
    EXPECT_FALSE(kb.Up(VK_RETURN));
    EXPECT_EQ(kb.target.Take(), Calls{});
}

TEST(KeyTrigger, EnterHotkeyStartsAfterTheSelectionThenOnlyTheSelectionRepeats) {
    Keyboard kb;
    AddEntry(kb.table, "sel", VK_K, 0);
    AddEntry(kb.table, "enter", VK_RETURN, 0);
    kb.target.m_nSelectionMark = 0;
    EXPECT_TRUE(kb.Down(VK_RETURN));
    EXPECT_EQ(kb.target.Take(), (Calls{"PlaySelected", "play sel", "start enter"}));
    EXPECT_TRUE(kb.Down(VK_RETURN));
    EXPECT_EQ(kb.target.Take(), (Calls{"PlaySelected", "play sel"}));
}

TEST(KeyTrigger, KeyCodesThatNameNoKeyNeverFire) {
    // Every byte fully set except Enter's, so only the key code can keep an entry from firing.
    Snapshot all({}, 0);
    for (std::uint8_t& b : all.bytes) {
        b = 0xFF;
    }
    all.bytes[VK_RETURN] = 0;
    for (int key : {0, -1, 256, 70000, -70000, 0x7FFFFFFF}) {
        EffectTable table;
        AddEntry(table, "e", key, 7);
        RecordingTarget target(table);
        EXPECT_FALSE(TranslateKeyMessage(WM_KEYDOWN, all.bytes, table, target)) << key;
        EXPECT_EQ(target.Take(), Calls{}) << key;
        EXPECT_FALSE(IsKeyHeld(all.bytes, key)) << key;
        // A latch set by hand (a key code edited later) is cleared: the key is never held.
        table.GetAt(0).bKeyHeld = 1;
        EXPECT_FALSE(TranslateKeyMessage(WM_KEYUP, all.bytes, table, target)) << key;
        EXPECT_EQ(table.GetAt(0).bKeyHeld, 0) << key;
    }
    EXPECT_TRUE(IsKeyHeld(all.bytes, 255));
    EXPECT_TRUE(IsKeyHeld(all.bytes, 1));
}

TEST(KeyTrigger, OnlyPlainKeyMessagesAreExamined) {
    const Snapshot held({VK_RETURN, VK_K});
    const Snapshot released({});
    for (unsigned message : {WM_SYSKEYDOWN, WM_SYSKEYUP, 0u, 0x102u /* WM_CHAR */, 0x200u}) {
        EffectTable table;
        AddEntry(table, "k", VK_K, 0);
        RecordingTarget target(table);
        target.m_nSelectionMark = 0;
        EXPECT_FALSE(TranslateKeyMessage(message, held.bytes, table, target)) << message;
        EXPECT_EQ(table.GetAt(0).bKeyHeld, 0) << message;
        table.GetAt(0).bKeyHeld = 1;
        EXPECT_FALSE(TranslateKeyMessage(message, released.bytes, table, target)) << message;
        EXPECT_EQ(table.GetAt(0).bKeyHeld, 1) << message; // a system key-up clears no latch
        EXPECT_EQ(target.Take(), Calls{}) << message;
    }
}

TEST(KeyTrigger, TargetThatRemovesEntriesCannotMakeTheLoopReadPastTheTable) {
    EffectTable table;
    AddEntry(table, "a", VK_K, 0);
    AddEntry(table, "b", VK_K, 0);
    AddEntry(table, "c", VK_K, 0);
    struct Remover : IKeyTriggerTarget {
        EffectTable* pTable = nullptr;
        std::vector<std::string> started;
        void PlaySelected() override {}
        void EditEffect() override {}
        void ReleasePlayback(const EffectEntryPtr&) override {}
        void StartPlayback(const EffectEntryPtr& entry) override {
            pTable->RemoveAll();
            started.push_back(entry->strName); // still readable after its removal
        }
    } target;
    target.pTable = &table;
    const Snapshot k({VK_K});
    EXPECT_TRUE(TranslateKeyMessage(WM_KEYDOWN, k.bytes, table, target));
    EXPECT_EQ(target.started, Calls{"a"});
}

TEST(KeyTrigger, ClickHandlers) {
    EffectTable table;
    const struct {
        bool dbl;
        bool modifierDown;
        Calls calls;
    } cases[] = {
        {false, true, {"PlaySelected"}},
        {false, false, {}},
        {true, true, {"EditEffect"}},
        {true, false, {"PlaySelected"}},
    };
    for (const auto& c : cases) {
        RecordingTarget target(table);
        if (c.dbl) {
            OnDblclkEffectList(c.modifierDown, target);
        } else {
            OnClickEffectList(c.modifierDown, target);
        }
        EXPECT_EQ(target.Take(), c.calls) << c.dbl << c.modifierDown;
    }
}

} // namespace
