// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/x11_keyboard.h"

#include "desktop/qt_text.h"
#include "input/key_layout.h"

#include <QGuiApplication>
#include <QString>

#include <xcb/xcb.h>
// The header names a member after a C++ keyword.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
#include <xkbcommon/xkbcommon-x11.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

xcb_connection_t* Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// PC scan code -> evdev code: the same number but for the two Japanese keys below 0x80.
std::uint32_t EvdevOfScan(std::uint32_t scan) {
    if (scan == 0x73)
        return 89; // ro
    if (scan == 0x7D)
        return 124; // yen
    return scan;
}

constexpr std::uint32_t kYenScan = 0x7D;

template <class T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)> using Owned = std::unique_ptr<T, Deleter<T, Free>>;

// The character a key types on the keycap, as its name.
std::string CharacterName(xkb_keysym_t sym) {
    const std::uint32_t code = xkb_keysym_to_utf32(sym);
    if (code < 0x20 || code == 0x7F)
        return {}; // dead keys and the like keep the table's name
    const char32_t ch = code;
    QString text = QString::fromUcs4(&ch, 1);
    const QString upper = text.toUpper();
    if (upper.size() == text.size())
        text = upper;
    if (QStringFromCp932(Cp932FromQString(text)) == text)
        return text.toStdString();
    char name[64] = {};
    return xkb_keysym_get_name(sym, name, sizeof name) > 0 ? std::string(name) : std::string();
}

} // namespace

std::optional<HostKeyLayout> QueryHostKeyLayout() {
    xcb_connection_t* connection = Connection();
    if (!connection || !xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                    XKB_X11_MIN_MINOR_XKB_VERSION,
                                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                                    nullptr, nullptr, nullptr))
        return std::nullopt;
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    const Owned<xkb_context, xkb_context_unref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (device < 0 || !context)
        return std::nullopt;
    const Owned<xkb_keymap, xkb_keymap_unref> keymap(xkb_x11_keymap_new_from_device(
        context.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return std::nullopt;
    const Owned<xkb_state, xkb_state_unref> state(
        xkb_x11_state_new_from_device(keymap.get(), connection, device));
    if (!state)
        return std::nullopt;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap.get());
    xkb_layout_index_t active = 0;
    for (xkb_layout_index_t i = 0; i < layouts; ++i) {
        if (xkb_state_layout_index_is_active(state.get(), i, XKB_STATE_LAYOUT_EFFECTIVE) > 0) {
            active = i;
            break;
        }
    }
    return HostKeyLayoutOf(keymap.get(), active);
}

HostKeyLayout HostKeyLayoutOf(xkb_keymap* keymap, std::uint32_t active) {
    const char* name = xkb_keymap_layout_get_name(keymap, active);
    HostKeyLayout layout;
    layout.strName = name ? name : "";
    for (std::uint32_t scan = 1; scan < 0x80; ++scan) {
        if (!IsCharacterScan(scan))
            continue;
        const xkb_keysym_t* syms = nullptr;
        const int count =
            xkb_keymap_key_get_syms_by_level(keymap, EvdevOfScan(scan) + 8, active, 0, &syms);
        // The "jp" layout gives the yen key a backslash, the same as the ro key; its cap says "￥".
        if (count > 0 && !(scan == kYenScan && syms[0] == XKB_KEY_backslash))
            layout.characterNames.emplace_back(scan, CharacterName(syms[0]));
    }
    return layout;
}

std::optional<HostKeymap> QueryHostKeymap() {
    xcb_connection_t* connection = Connection();
    if (!connection)
        return std::nullopt;
    const std::unique_ptr<xcb_query_keymap_reply_t, decltype(&std::free)> reply(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr), &std::free);
    if (!reply)
        return std::nullopt;
    HostKeymap keymap;
    std::memcpy(keymap.data(), reply->keys, keymap.size());
    return keymap;
}

bool UseDetectableAutoRepeat(bool on) {
    xcb_connection_t* connection = Connection();
    if (!connection || !xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                    XKB_X11_MIN_MINOR_XKB_VERSION,
                                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                                    nullptr, nullptr, nullptr))
        return false;
    constexpr std::uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const std::unique_ptr<xcb_xkb_per_client_flags_reply_t, decltype(&std::free)> reply(
        xcb_xkb_per_client_flags_reply(connection,
                                       xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD,
                                                                flag, on ? flag : 0, 0, 0, 0),
                                       nullptr),
        &std::free);
    return reply && (reply->supported & flag) && (reply->value & flag);
}
