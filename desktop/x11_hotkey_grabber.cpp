// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/x11_hotkey_grabber.h"

#include "desktop/qt_key_map.h"
#include "desktop/texts.h"
#include "desktop/x11_keyboard.h"
#include "input/key_trigger.h"

#include <QGuiApplication>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <algorithm>
#include <memory>

namespace {

// Num Lock is Mod2 on every X server keymap we know; Caps Lock is the core Lock bit.
constexpr std::uint16_t kNumLockMask = XCB_MOD_MASK_2;
constexpr std::uint16_t kLockMasks[] = {0, XCB_MOD_MASK_LOCK, kNumLockMask,
                                        XCB_MOD_MASK_LOCK | kNumLockMask};
constexpr std::uint8_t kBadAccess = 10;
// AltGr (ISO_Level3_Shift) is Mod5 on the keymaps X servers ship.
constexpr std::uint16_t kAltGrMask = XCB_MOD_MASK_5;

std::uint16_t XModifiers(int modifiers) {
    std::uint16_t mask = 0;
    if (modifiers & MOD_CODE_SHIFT)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & MOD_CODE_CTRL)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & MOD_CODE_ALT)
        mask |= XCB_MOD_MASK_1;
    return mask;
}

xcb_connection_t* X11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

CX11HotkeyGrabber::CX11HotkeyGrabber(CKeyFilter& keys, CKeyFilter::LayoutFn layout, QObject* parent)
    : CHotkeyWay(parent), m_pConnection(X11Connection()), m_keys(keys),
      m_layout(std::move(layout)) {
    if (!m_pConnection)
        return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_pConnection)).data->root;
    qGuiApp->installNativeEventFilter(this);
}

CX11HotkeyGrabber::~CX11HotkeyGrabber() {
    if (!m_pConnection)
        return;
    qGuiApp->removeNativeEventFilter(this);
    UngrabAll();
    xcb_flush(m_pConnection);
}

bool CX11HotkeyGrabber::Available() {
    return X11Connection() != nullptr;
}

void CX11HotkeyGrabber::LoadKeyboardMap() {
    m_keyMap = {};
    if (!xkb_x11_setup_xkb_extension(
            m_pConnection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return;
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(m_pConnection);
    const std::unique_ptr<xkb_context, void (*)(xkb_context*)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    if (device < 0 || !context)
        return;
    const std::unique_ptr<xkb_keymap, void (*)(xkb_keymap*)> keymap(
        xkb_x11_keymap_new_from_device(context.get(), m_pConnection, device,
                                       XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    const std::unique_ptr<xkb_state, void (*)(xkb_state*)> state(
        keymap ? xkb_x11_state_new_from_device(keymap.get(), m_pConnection, device) : nullptr,
        &xkb_state_unref);
    if (!state)
        return;
    const xkb_layout_index_t group =
        xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE);
    const xkb_mod_mask_t shift = 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT);
    const xkb_mod_mask_t numLock = 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_NUM);
    const HKL layout = m_layout ? m_layout() : nullptr;
    // The symbol each level gives decides the code, as in the window: Shift on a keypad key with
    // Num Lock on types the navigation key.
    for (int s = 0; s < 2; ++s) {
        for (int n = 0; n < 2; ++n) {
            xkb_state_update_mask(state.get(), s ? shift : 0, 0, n ? numLock : 0, 0, 0, group);
            for (std::uint32_t keycode = xkb_keymap_min_keycode(keymap.get());
                 keycode <= xkb_keymap_max_keycode(keymap.get()) && keycode < 256; ++keycode) {
                const xkb_keysym_t keysym = xkb_state_key_get_one_sym(state.get(), keycode);
                m_keyMap[keycode][static_cast<std::size_t>(s)][static_cast<std::size_t>(n)] =
                    static_cast<std::uint8_t>(KeysymToVirtualKey(keysym, keycode, layout).nKey);
            }
        }
    }
}

int CX11HotkeyGrabber::VirtualKeyOf(std::uint8_t keycode, bool shift, bool numLock) const {
    return m_keyMap[keycode][shift ? 1 : 0][numLock ? 1 : 0];
}

void CX11HotkeyGrabber::UngrabAll() {
    for (const Grab& g : m_grabs)
        xcb_ungrab_key(m_pConnection, g.keycode, m_root, g.modifiers);
    m_grabs.clear();
    EndHoldIfDone();
}

bool CX11HotkeyGrabber::BorrowedGrabbed() const {
    return std::any_of(m_borrowed.begin(), m_borrowed.end(), [this](std::uint8_t k) {
        return std::any_of(m_grabs.begin(), m_grabs.end(),
                           [k](const Grab& g) { return g.keycode == k; });
    });
}

void CX11HotkeyGrabber::Hold() {
    if (!BorrowedGrabbed())
        return;
    const std::unique_ptr<xcb_grab_keyboard_reply_t, void (*)(void*)> reply(
        xcb_grab_keyboard_reply(m_pConnection,
                                xcb_grab_keyboard(m_pConnection, 1, m_root, XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr),
        &std::free);
    if (!reply || reply->status != XCB_GRAB_STATUS_SUCCESS)
        return; // another program has the keyboard: each key's next own press counts as new
    m_bHolding = true;
    // Keys released before the hold began: their releases went elsewhere.
    const std::optional<HostKeymap> keymap = QueryHostKeymap();
    for (auto it = m_borrowed.begin(); it != m_borrowed.end();) {
        if (keymap && IsKeycodeDown(*keymap, *it)) {
            ++it;
            continue;
        }
        m_keys.FeedGlobal(false, VirtualKeyOf(*it, false, false), *it, 0);
        it = m_borrowed.erase(it);
    }
    EndHoldIfDone();
}

void CX11HotkeyGrabber::Released(std::uint8_t keycode) {
    if (m_bHolding) {
        // A server that sends a release with every repeat holds the key down again at once.
        const std::optional<HostKeymap> keymap = QueryHostKeymap();
        if (keymap && IsKeycodeDown(*keymap, keycode))
            return;
    }
    m_borrowed.erase(keycode);
    EndHoldIfDone();
}

void CX11HotkeyGrabber::EndHoldIfDone() {
    if (!m_bHolding || BorrowedGrabbed())
        return;
    xcb_ungrab_keyboard(m_pConnection, XCB_CURRENT_TIME);
    xcb_flush(m_pConnection);
    m_bHolding = false;
}

std::string CX11HotkeyGrabber::Description() const {
    return std::string(texts::kX11Way);
}

void CX11HotkeyGrabber::SetHotkeys(const std::vector<WayHotkey>& wayHotkeys) {
    std::vector<GlobalHotkey> hotkeys, taken;
    for (const WayHotkey& hotkey : wayHotkeys)
        hotkeys.push_back(hotkey.key);
    if (!m_pConnection) {
        emit Taken(hotkeys);
        return;
    }
    UngrabAll();
    LoadKeyboardMap();
    // Every request goes out first; the answers come back in one round trip.
    struct Pending {
        std::size_t hotkey;
        xcb_void_cookie_t cookie;
    };
    std::vector<Pending> pending;
    std::vector<bool> failed(hotkeys.size(), true);
    for (std::size_t h = 0; h < hotkeys.size(); ++h) {
        if (IsReservedHotkey(hotkeys[h])) {
            failed[h] = false; // the caller names these itself
            continue;
        }
        const bool shift = hotkeys[h].nModifiers & MOD_CODE_SHIFT;
        std::vector<std::uint16_t> bases{XModifiers(hotkeys[h].nModifiers)};
        // AltGr is Ctrl+Alt too, as on the designed platform.
        const int ctrlAlt = MOD_CODE_CTRL | MOD_CODE_ALT;
        if ((hotkeys[h].nModifiers & ctrlAlt) == ctrlAlt)
            bases.push_back(XModifiers(hotkeys[h].nModifiers & ~ctrlAlt) | kAltGrMask);
        for (std::size_t keycode = 0; keycode < 256; ++keycode) {
            for (std::uint16_t locks : kLockMasks) {
                const bool numLock = (locks & kNumLockMask) != 0;
                if (VirtualKeyOf(static_cast<std::uint8_t>(keycode), shift, numLock) !=
                    hotkeys[h].nKey)
                    continue;
                failed[h] = false;
                for (std::uint16_t base : bases) {
                    const Grab grab{static_cast<std::uint8_t>(keycode),
                                    static_cast<std::uint16_t>(base | locks)};
                    pending.push_back(
                        {h, xcb_grab_key_checked(m_pConnection, 1, m_root, grab.modifiers,
                                                 grab.keycode, XCB_GRAB_MODE_ASYNC,
                                                 XCB_GRAB_MODE_ASYNC)});
                    m_grabs.push_back(grab);
                }
            }
        }
    }
    for (const Pending& p : pending) {
        std::unique_ptr<xcb_generic_error_t, void (*)(void*)> error(
            xcb_request_check(m_pConnection, p.cookie), &std::free);
        if (error && error->error_code == kBadAccess)
            failed[p.hotkey] = true;
    }
    for (std::size_t h = 0; h < hotkeys.size(); ++h)
        if (failed[h])
            taken.push_back(hotkeys[h]);
    emit Taken(taken);
}

bool CX11HotkeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7F;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    const bool press = type == XCB_KEY_PRESS;
    // Only what our grabs bring: keys for our own windows go the usual way. Our window may take
    // the focus during a hold: the releases it gets end the hold as well.
    if (key->event != m_root) {
        if (!press)
            Released(key->detail);
        return false;
    }
    bool releaseMissed = false;
    if (press && m_nGrabKey == 0 && !m_bHolding) {
        m_nGrabKey = key->detail;
        releaseMissed = m_borrowed.erase(key->detail) > 0;
    } else if (press && key->detail != m_nGrabKey) {
        m_borrowed.insert(key->detail);
    } else if (!press && key->detail == m_nGrabKey) {
        m_nGrabKey = 0;
        Hold();
    } else if (!press) {
        Released(key->detail);
    }
    const bool shift = key->state & XCB_MOD_MASK_SHIFT;
    const bool altGr = key->state & kAltGrMask;
    const int vk = VirtualKeyOf(key->detail, shift, key->state & kNumLockMask);
    if (vk != 0) {
        const int modifiers = (shift ? MOD_CODE_SHIFT : 0) |
                              (altGr || (key->state & XCB_MOD_MASK_CONTROL) ? MOD_CODE_CTRL : 0) |
                              (altGr || (key->state & XCB_MOD_MASK_1) ? MOD_CODE_ALT : 0);
        m_keys.FeedGlobal(press, vk, key->detail, modifiers, releaseMissed, key->time);
    }
    return true;
}
