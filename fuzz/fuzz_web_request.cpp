// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes from a browser or an attacker on the web remote's port: the reader never takes
// more than it was given nor keeps more than its limits, a command runs only with the token, and
// every JSON text it reads writes back to the same members.
#include "core/web_request.h"

#include <cstdint>
#include <string>

namespace {
const std::string kToken = "0123456789abcdef0123456789abcdef";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::string buffer = input;
    HttpRequest request;
    int status = 0;
    RemoteParse parse;
    while ((parse = TakeHttpRequest(buffer, request, status)) == RemoteParse::Done) {
        if (request.strBody.size() > kMaxHttpBody || buffer.size() >= input.size())
            __builtin_trap();
        const WebRoute route = RouteWebRequest(request, kToken);
        if (route.target != WebTarget::Refuse && input.find(kToken) == std::string::npos)
            __builtin_trap();
        if (route.target == WebTarget::Command)
            FormatWebReply(route.request, {1, route.request.strArgument}, request.bClose);
        else if (route.target == WebTarget::Refuse)
            FormatWebError(route.nStatus, route.strMessage, true);
    }
    if (parse == RemoteParse::Bad && status != 400 && status != 413 && status != 431 &&
        status != 501)
        __builtin_trap();

    std::vector<JsonMember> members;
    if (ParseFlatJsonObject(input, members)) {
        std::string again = "{";
        for (const JsonMember& m : members)
            again += (again.size() > 1 ? "," : "") + JsonQuote(m.strKey) + ":" +
                     (m.bNumber ? m.strText : JsonQuote(m.strText));
        std::vector<JsonMember> back;
        if (!ParseFlatJsonObject(again + "}", back) || back.size() != members.size())
            __builtin_trap();
        for (std::size_t i = 0; i < back.size(); ++i)
            if (back[i].strKey != members[i].strKey || back[i].strText != members[i].strText)
                __builtin_trap();
    }
    return 0;
}
