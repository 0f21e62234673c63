// SPDX-License-Identifier: GPL-3.0-or-later
// Key-state bookkeeping for a host that gives us key events but no keyboard-state snapshot.
#include "input/key_state.h"

#include "input/key_trigger.h"

namespace {

bool InRange(int key) {
    return key > 0 && key < 256;
}

struct ModifierPair {
    int generic;
    int left;
    int right;
};

constexpr ModifierPair kPairs[] = {
    {VK_SHIFT, VK_LSHIFT, VK_RSHIFT},
    {VK_CONTROL, VK_LCONTROL, VK_RCONTROL},
    {VK_MENU, VK_LMENU, VK_RMENU},
};

const ModifierPair* PairOf(int key) {
    for (const ModifierPair& p : kPairs) {
        if (key == p.generic || key == p.left || key == p.right) {
            return &p;
        }
    }
    return nullptr;
}

bool IsLockKey(int key) {
    return key == VK_CAPITAL || key == VK_NUMLOCK || key == VK_SCROLL;
}

} // namespace

std::uint8_t CKeyState::At(int key) const {
    return InRange(key) ? m_state[static_cast<std::size_t>(key)] : 0;
}

void CKeyState::SetDown(int key, bool down) {
    std::uint8_t& byte = m_state[static_cast<std::size_t>(key)];
    byte = static_cast<std::uint8_t>(down ? (byte | kDown) : (byte & ~kDown));
}

void CKeyState::UpdateGeneric(int generic, int left, int right) {
    SetDown(generic, (At(left) & kDown) || (At(right) & kDown));
}

bool CKeyState::KeyDown(int key) {
    return Press(key, true);
}

void CKeyState::MarkDown(int key) {
    Press(key, false);
}

bool CKeyState::Press(int key, bool toggle) {
    if (!InRange(key)) {
        return false;
    }
    if (const ModifierPair* pair = PairOf(key)) {
        const int side = key == pair->generic ? pair->left : key;
        const bool wasUp = !(At(side) & kDown);
        SetDown(side, true);
        UpdateGeneric(pair->generic, pair->left, pair->right);
        return wasUp;
    }
    const bool wasUp = !(At(key) & kDown);
    if (toggle && wasUp && IsLockKey(key)) {
        m_state[static_cast<std::size_t>(key)] ^= kToggled;
    }
    SetDown(key, true);
    return wasUp;
}

void CKeyState::KeyUp(int key) {
    if (!InRange(key)) {
        return;
    }
    if (const ModifierPair* pair = PairOf(key)) {
        if (key == pair->generic) {
            // Side unknown: the key that went up may have been either.
            SetDown(pair->left, false);
            SetDown(pair->right, false);
        } else {
            SetDown(key, false);
        }
        UpdateGeneric(pair->generic, pair->left, pair->right);
        return;
    }
    SetDown(key, false);
}

void CKeyState::SyncModifiers(bool shiftDown, bool ctrlDown, bool altDown) {
    const bool live[] = {shiftDown, ctrlDown, altDown};
    for (int i = 0; i < 3; ++i) {
        const ModifierPair& p = kPairs[i];
        const bool down = (At(p.generic) & kDown) != 0;
        if (down && !live[i]) {
            KeyUp(p.generic);
        } else if (!down && live[i]) {
            KeyDown(p.generic);
        }
    }
}

void CKeyState::ReleaseAll() {
    for (std::uint8_t& byte : m_state) {
        byte &= kToggled;
    }
}

std::vector<CKeyRepeatFilter::Event> CKeyRepeatFilter::Feed(const Event& event) {
    std::vector<Event> out;
    if (!event.bPress) {
        if (m_pending) {
            out.push_back(*m_pending);
            m_pending.reset();
        }
        if (!event.bAutoRepeat) {
            m_pending = event;
        }
        return out;
    }
    Event press = event;
    if (m_pending) {
        if (m_pending->nKey == event.nKey && m_pending->nTime == event.nTime) {
            press.bAutoRepeat = true; // the release was half of a repeat
        } else {
            out.push_back(*m_pending);
        }
        m_pending.reset();
    }
    out.push_back(press);
    return out;
}

std::optional<CKeyRepeatFilter::Event> CKeyRepeatFilter::Flush() {
    std::optional<Event> pending = m_pending;
    m_pending.reset();
    return pending;
}
