// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/message.h"

#include <mutex>

namespace {
std::mutex g_mutex;
MessageFunction g_function;
thread_local std::vector<HeldMessage>* t_held = nullptr;
} // namespace

ScopedMessageHold::ScopedMessageHold(std::vector<HeldMessage>& into) : m_prev(t_held) {
    t_held = &into;
}

ScopedMessageHold::~ScopedMessageHold() {
    t_held = m_prev;
}

MessageFunction SetMessageFunction(MessageFunction fn) {
    std::lock_guard lock(g_mutex);
    std::swap(g_function, fn);
    return fn;
}

int MessageBoxA(const std::string& text, std::string_view caption, unsigned type) {
    if (t_held) {
        t_held->push_back({text, std::string(caption), type});
        return (type & MB_BUTTONMASK) == MB_YESNO ? IDNO : IDOK;
    }
    MessageFunction fn;
    {
        std::lock_guard lock(g_mutex);
        fn = g_function;
    }
    if (!fn)
        return (type & MB_BUTTONMASK) == MB_YESNO ? IDNO : IDOK;
    return fn(text, std::string(caption), type);
}
