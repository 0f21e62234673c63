#include "desktop/x11_hotkey_grabber.h"

#include "desktop/qt_key_map.h"
#include "input/key_trigger.h"

#include <QGuiApplication>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <memory>

namespace {

// Num Lock is Mod2 on every X server keymap we know; Caps Lock is the core Lock bit.
constexpr std::uint16_t kNumLockMask = XCB_MOD_MASK_2;
constexpr std::uint16_t kLockMasks[] = {0, XCB_MOD_MASK_LOCK, kNumLockMask,
                                        XCB_MOD_MASK_LOCK | kNumLockMask};
constexpr std::uint8_t kBadAccess = 10;
constexpr int kRepeatWaitMs = 30;

struct Named {
    std::uint32_t keysym;
    int qtKey;
};
// The keysyms of keys that have a name rather than a character, to the Qt key the key map
// starts from (the X11 platform plugin gives focused presses the same).
constexpr Named kNamedKeysyms[] = {
    {0xFF08, Qt::Key_Backspace},
    {0xFF09, Qt::Key_Tab},
    {0xFF0D, Qt::Key_Return},
    {0xFF13, Qt::Key_Pause},
    {0xFF14, Qt::Key_ScrollLock},
    {0xFF1B, Qt::Key_Escape},
    {0xFF21, Qt::Key_Kanji},
    {0xFF22, Qt::Key_Muhenkan},
    {0xFF23, Qt::Key_Henkan},
    {0xFF27, Qt::Key_Hiragana_Katakana},
    {0xFF2A, Qt::Key_Zenkaku_Hankaku},
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
    {0xFF7F, Qt::Key_NumLock},
    {0xFFE5, Qt::Key_CapsLock},
    {0xFFFF, Qt::Key_Delete},
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
    {0xFFAA, Qt::Key_Asterisk},
    {0xFFAB, Qt::Key_Plus},
    {0xFFAC, Qt::Key_Comma},
    {0xFFAD, Qt::Key_Minus},
    {0xFFAE, Qt::Key_Period},
    {0xFFAF, Qt::Key_Slash},
};

int QtKeyOfKeysym(std::uint32_t keysym) {
    if (keysym >= 'a' && keysym <= 'z')
        return Qt::Key_A + static_cast<int>(keysym - 'a');
    if (keysym >= 0x20 && keysym <= 0x7E)
        return static_cast<int>(keysym);
    if (keysym >= 0xFFB0 && keysym <= 0xFFB9) // keypad digits
        return Qt::Key_0 + static_cast<int>(keysym - 0xFFB0);
    if (keysym >= 0xFFBE && keysym <= 0xFFD5) // F1..F24
        return Qt::Key_F1 + static_cast<int>(keysym - 0xFFBE);
    for (const Named& n : kNamedKeysyms)
        if (n.keysym == keysym)
            return n.qtKey;
    return 0; // modifiers and keys no hotkey is made of
}

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

CX11HotkeyGrabber::CX11HotkeyGrabber(CKeyFilter::TranslateFn translate, CKeyFilter::LayoutFn layout,
                                     QObject* parent)
    : QObject(parent), m_pConnection(X11Connection()), m_translate(std::move(translate)),
      m_layout(std::move(layout)) {
    if (!m_pConnection)
        return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_pConnection)).data->root;
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kRepeatWaitMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &CX11HotkeyGrabber::FlushPendingRelease);
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
    std::unique_ptr<xcb_key_symbols_t, void (*)(xcb_key_symbols_t*)> symbols(
        xcb_key_symbols_alloc(m_pConnection), &xcb_key_symbols_free);
    if (!symbols)
        return;
    const HKL layout = m_layout ? m_layout() : nullptr;
    const xcb_setup_t* setup = xcb_get_setup(m_pConnection);
    for (int keycode = setup->min_keycode; keycode <= setup->max_keycode; ++keycode) {
        const auto kc = static_cast<xcb_keycode_t>(keycode);
        const std::uint32_t plain = xcb_key_symbols_get_keysym(symbols.get(), kc, 0);
        const std::uint32_t shifted = xcb_key_symbols_get_keysym(symbols.get(), kc, 1);
        for (int numLock = 0; numLock < 2; ++numLock) {
            // With Num Lock on, a keypad key types its second symbol (the digit).
            const bool keypadDigit = numLock && xcb_is_keypad_key(shifted);
            const std::uint32_t keysym = keypadDigit ? shifted : plain;
            const bool keypad = xcb_is_keypad_key(keysym);
            const VirtualKey vk = QtKeyToVirtualKey(QtKeyOfKeysym(keysym), keypad, keysym,
                                                    static_cast<std::uint32_t>(keycode), layout);
            m_keyMap[static_cast<std::size_t>(keycode)][static_cast<std::size_t>(numLock)] =
                static_cast<std::uint8_t>(vk.nKey & 0xFF);
        }
    }
}

int CX11HotkeyGrabber::VirtualKeyOf(std::uint8_t keycode, bool numLock) const {
    return m_keyMap[keycode][numLock ? 1 : 0];
}

void CX11HotkeyGrabber::UngrabAll() {
    for (const Grab& g : m_grabs)
        xcb_ungrab_key(m_pConnection, g.keycode, m_root, g.modifiers);
    m_grabs.clear();
}

std::vector<GlobalHotkey> CX11HotkeyGrabber::SetHotkeys(const std::vector<GlobalHotkey>& hotkeys) {
    std::vector<GlobalHotkey> taken;
    if (!m_pConnection)
        return taken;
    UngrabAll();
    LoadKeyboardMap();
    // Every request goes out first; the answers come back in one round trip.
    struct Pending {
        std::size_t hotkey;
        xcb_void_cookie_t cookie;
    };
    std::vector<Pending> pending;
    for (std::size_t h = 0; h < hotkeys.size(); ++h) {
        if (IsReservedHotkey(hotkeys[h]))
            continue;
        const std::uint16_t base = XModifiers(hotkeys[h].nModifiers);
        for (int keycode = 0; keycode < 256; ++keycode) {
            for (std::uint16_t locks : kLockMasks) {
                const bool numLock = (locks & kNumLockMask) != 0;
                if (m_keyMap[static_cast<std::size_t>(keycode)][numLock ? 1 : 0] != hotkeys[h].nKey)
                    continue;
                const Grab grab{static_cast<std::uint8_t>(keycode),
                                static_cast<std::uint16_t>(base | locks)};
                pending.push_back(
                    {h, xcb_grab_key_checked(m_pConnection, 1, m_root, grab.modifiers, grab.keycode,
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
                m_grabs.push_back(grab);
            }
        }
    }
    std::vector<bool> failed(hotkeys.size(), false);
    for (const Pending& p : pending) {
        std::unique_ptr<xcb_generic_error_t, void (*)(void*)> error(
            xcb_request_check(m_pConnection, p.cookie), &std::free);
        if (error && error->error_code == kBadAccess)
            failed[p.hotkey] = true;
    }
    for (std::size_t h = 0; h < hotkeys.size(); ++h)
        if (failed[h])
            taken.push_back(hotkeys[h]);
    return taken;
}

bool CX11HotkeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7F;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    // Only what our grabs bring: keys for our own windows go the usual way.
    if (key->event != m_root)
        return false;
    const int vk = VirtualKeyOf(key->detail, (key->state & kNumLockMask) != 0);
    if (vk == 0)
        return true;
    const bool press = type == XCB_KEY_PRESS;
    const CKeyRepeatFilter::Event in{press, vk, key->time, false};
    for (const CKeyRepeatFilter::Event& out : m_repeat.Feed(in))
        Act(out.bPress, out.nKey,
            out.bPress == press && out.nKey == vk ? key->state : m_nPendingState);
    if (m_repeat.HasPending()) {
        // The server sends a repeat's release and press back to back, but Qt's reader may hand
        // them over in two batches when the machine is busy: wait a little, not for the queue
        // to run dry.
        m_nPendingState = key->state;
        m_flushTimer.start();
    }
    return true;
}

void CX11HotkeyGrabber::FlushPendingRelease() {
    if (std::optional<CKeyRepeatFilter::Event> release = m_repeat.Flush())
        Act(false, release->nKey, m_nPendingState);
}

void CX11HotkeyGrabber::Act(bool press, int vk, std::uint16_t state) {
    // The grab matched exact modifiers; the table follows the event's own state.
    m_keyState.SyncModifiers(state & XCB_MOD_MASK_SHIFT, state & XCB_MOD_MASK_CONTROL,
                             state & XCB_MOD_MASK_1);
    if (press) {
        m_keyState.KeyDown(vk);
        if (m_translate)
            m_translate(WM_KEYDOWN, m_keyState.Data());
        return;
    }
    m_keyState.KeyUp(vk);
    if (m_translate)
        m_translate(WM_KEYUP, m_keyState.Data());
}
