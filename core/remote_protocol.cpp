// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/remote_protocol.h"

#include <charconv>
#include <string_view>

namespace {

constexpr struct {
    RemoteVerb verb;
    const char* name;
    bool hasArgument;
} kVerbs[] = {
    {RemoteVerb::Play, "Play", true},           {RemoteVerb::PlayKey, "PlayKey", true},
    {RemoteVerb::Stop, "Stop", true},           {RemoteVerb::StopAll, "StopAll", false},
    {RemoteVerb::List, "List", false},          {RemoteVerb::Activate, "Activate", false},
    {RemoteVerb::PlayIndex, "PlayIndex", true}, {RemoteVerb::StopPlayback, "StopPlayback", true},
    {RemoteVerb::ChooseSet, "ChooseSet", true}, {RemoteVerb::Effects, "Effects", false},
    {RemoteVerb::WebUrl, "WebUrl", false},
};

} // namespace

bool RemoteVerbTakesArgument(RemoteVerb verb) {
    for (const auto& v : kVerbs)
        if (v.verb == verb)
            return v.hasArgument;
    return false;
}

const char* RemoteVerbName(RemoteVerb verb) {
    for (const auto& v : kVerbs)
        if (v.verb == verb)
            return v.name;
    return "";
}

bool RemoteVerbFromName(const std::string& name, RemoteVerb& verb) {
    for (const auto& v : kVerbs) {
        if (name == v.name) {
            verb = v.verb;
            return true;
        }
    }
    return false;
}

std::string FormatRemoteRequest(const RemoteRequest& request) {
    std::string line = RemoteVerbName(request.verb);
    if (RemoteVerbTakesArgument(request.verb))
        line += " " + request.strArgument;
    return line + "\n";
}

std::string FormatRemoteReply(const RemoteReply& reply) {
    return std::to_string(reply.nStatus) + " " + std::to_string(reply.strText.size()) + "\n" +
           reply.strText;
}

RemoteParse TakeRemoteRequest(std::string& buffer, RemoteRequest& request) {
    const std::size_t lf = buffer.find('\n');
    if (lf == std::string::npos)
        return buffer.size() > kMaxRemoteMessage ? RemoteParse::Bad : RemoteParse::Incomplete;
    if (lf > kMaxRemoteMessage)
        return RemoteParse::Bad;
    const std::string_view line(buffer.data(), lf);
    const std::size_t space = line.find(' ');
    RemoteRequest parsed;
    if (!RemoteVerbFromName(std::string(line.substr(0, space)), parsed.verb))
        return RemoteParse::Bad;
    // A verb with an argument needs one, a verb without must have none; NUL never belongs.
    if (RemoteVerbTakesArgument(parsed.verb) != (space != std::string_view::npos) ||
        line.find('\0') != std::string_view::npos)
        return RemoteParse::Bad;
    if (space != std::string_view::npos)
        parsed.strArgument = line.substr(space + 1);
    request = std::move(parsed);
    buffer.erase(0, lf + 1);
    return RemoteParse::Done;
}

RemoteParse TakeRemoteReply(std::string& buffer, RemoteReply& reply) {
    const std::size_t lf = buffer.find('\n');
    if (lf == std::string::npos)
        return buffer.size() > 32 ? RemoteParse::Bad : RemoteParse::Incomplete;
    const char* begin = buffer.data();
    const char* end = begin + lf;
    int status = -1;
    std::size_t length = 0;
    auto [p, ec] = std::from_chars(begin, end, status);
    if (ec != std::errc() || (status != 0 && status != 1) || p == end || *p != ' ')
        return RemoteParse::Bad;
    auto [q, ec2] = std::from_chars(p + 1, end, length);
    if (ec2 != std::errc() || q != end || p + 1 == end || length > kMaxRemoteMessage)
        return RemoteParse::Bad;
    if (buffer.size() - (lf + 1) < length)
        return RemoteParse::Incomplete;
    reply.nStatus = status;
    reply.strText = buffer.substr(lf + 1, length);
    buffer.erase(0, lf + 1 + length);
    return RemoteParse::Done;
}
