// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/debug_sink.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_mutex;
DebugListener g_listener;
const bool g_toStderr = [] {
    const char* v = std::getenv("OTOMARU_DEBUG");
    return v && *v == '1';
}();
} // namespace

DebugListener SetDebugListener(DebugListener listener) {
    std::lock_guard lock(g_mutex);
    std::swap(g_listener, listener);
    return listener;
}

void OutputDebugStringA(std::string_view text) {
    std::lock_guard lock(g_mutex);
    if (g_listener)
        g_listener(text);
    if (g_toStderr)
        std::fwrite(text.data(), 1, text.size(), stderr);
}
