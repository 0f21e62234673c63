#include "base/message.h"

#include <mutex>

namespace {
std::mutex g_mutex;
MessageFunction g_function;
} // namespace

MessageFunction SetMessageFunction(MessageFunction fn) {
    std::lock_guard lock(g_mutex);
    std::swap(g_function, fn);
    return fn;
}

int MessageBoxA(const std::string& text, std::string_view caption, unsigned type) {
    MessageFunction fn;
    {
        std::lock_guard lock(g_mutex);
        fn = g_function;
    }
    if (!fn)
        return (type & MB_BUTTONMASK) == MB_YESNO ? IDNO : IDOK;
    return fn(text, std::string(caption), type);
}
