// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/osc_message.h"

#include "base/text.h"

#include <lo/lo_lowlevel.h>

#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>

namespace {

struct MessageFree {
    void operator()(lo_message m) const { lo_message_free(m); }
};
using Message = std::unique_ptr<std::remove_pointer_t<lo_message>, MessageFree>;

constexpr struct {
    const char* path;
    OscAsk ask;
    RemoteVerb verb;
    bool hasName;
} kPaths[] = {
    {"/otomaru/play", OscAsk::Command, RemoteVerb::Play, true},
    {"/otomaru/play_key", OscAsk::Command, RemoteVerb::PlayKey, true},
    {"/otomaru/stop", OscAsk::Command, RemoteVerb::Stop, true},
    {"/otomaru/stop_all", OscAsk::Command, RemoteVerb::StopAll, false},
    {"/otomaru/subscribe", OscAsk::Subscribe, RemoteVerb::List, false},
    {"/otomaru/unsubscribe", OscAsk::Unsubscribe, RemoteVerb::List, false},
};

} // namespace

OscRequest ReadOscDatagram(const void* data, std::size_t size) {
    // A bundle starts with '#', never with '/': liblo reads messages only.
    if (size == 0 || size > kMaxOscDatagram || static_cast<const char*>(data)[0] != '/')
        return {};
    int result = 0;
    // liblo copies the bytes before it swaps them; ours are not written.
    const Message message(lo_message_deserialise(const_cast<void*>(data), size, &result));
    if (!message || result != 0)
        return {};
    const auto* bytes = static_cast<const char*>(data);
    const std::string_view path(bytes, strnlen(bytes, size));
    const char* types = lo_message_get_types(message.get());
    for (const auto& p : kPaths) {
        if (path != p.path)
            continue;
        if (std::strcmp(types, p.hasName ? "s" : "") != 0)
            return {};
        OscRequest request{p.ask, {p.verb, {}}};
        if (p.hasName) {
            request.request.strArgument = &lo_message_get_argv(message.get())[0]->s;
            if (!IsValidUtf8(request.request.strArgument))
                return {};
        }
        return request;
    }
    return {};
}

std::vector<char> MakeOscDatagram(const char* path, const std::string& text) {
    const Message message(lo_message_new());
    if (!message || lo_message_add_string(message.get(), text.c_str()) != 0)
        return {};
    const std::size_t length = lo_message_length(message.get(), path);
    std::vector<char> bytes(length);
    std::size_t written = length;
    if (length == 0 || !lo_message_serialise(message.get(), path, bytes.data(), &written) ||
        written != length)
        return {};
    return bytes;
}
