// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes from a peer of the remote's socket: the readers never take more than they were
// given, refuse what they cannot read, and what they accept writes back to the same message.
#include "core/remote_protocol.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::string buffer = input;
    RemoteRequest request;
    while (TakeRemoteRequest(buffer, request) == RemoteParse::Done) {
        std::string again = FormatRemoteRequest(request);
        RemoteRequest back;
        if (TakeRemoteRequest(again, back) != RemoteParse::Done || !(back == request) ||
            !again.empty())
            __builtin_trap();
    }
    if (buffer.size() > input.size())
        __builtin_trap();

    buffer = input;
    RemoteReply reply;
    while (TakeRemoteReply(buffer, reply) == RemoteParse::Done) {
        if (reply.strText.size() > kMaxRemoteMessage)
            __builtin_trap();
        std::string again = FormatRemoteReply(reply);
        RemoteReply back;
        if (TakeRemoteReply(again, back) != RemoteParse::Done || !(back == reply) || !again.empty())
            __builtin_trap();
    }
    return 0;
}
