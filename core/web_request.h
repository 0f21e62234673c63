// SPDX-License-Identifier: GPL-3.0-or-later
// The web remote's requests as bytes: an HTTP/1.1 reader with hard limits, the token check, the
// routes onto the remote's commands, and the answers. Pure functions, so that every byte a
// browser or an attacker can send is handled here, where it can be fuzzed.
#pragma once

#include "core/remote_protocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Nothing beyond these is kept: a longer head or body ends the connection with an error.
constexpr std::size_t kMaxHttpHead = 8 * 1024;
constexpr std::size_t kMaxHttpBody = 16 * 1024;

struct HttpRequest {
    std::string strMethod;
    std::string strPath;  // without the query
    std::string strQuery; // after '?', undecoded
    std::string strAuthorization;
    std::string strHost;
    std::string strOrigin;
    bool bHasOrigin = false;
    bool bWebSocket = false; // asks to upgrade to a WebSocket
    bool bClose = false;     // the peer wants the connection closed after the answer
    std::string strBody;
};

// Takes one whole request off the front of `buffer`. Bad sets `status` to the HTTP status to
// answer with (400, 413, 431, 501) before the connection is closed.
RemoteParse TakeHttpRequest(std::string& buffer, HttpRequest& request, int& status);

// Equal in a time that depends only on the expected token's length; an empty token matches
// nothing.
bool TokensEqual(std::string_view given, std::string_view expected);

// What to do with a request once it has been read.
enum class WebTarget { Refuse, Page, Command, Events };
struct WebRoute {
    WebTarget target = WebTarget::Refuse;
    int nStatus = 0;        // for Refuse: the HTTP status
    std::string strMessage; // for Refuse: why, for the JSON answer
    RemoteRequest request;  // for Command
    bool bBadToken = false; // for Refuse: answered late, to slow guessing
};
WebRoute RouteWebRequest(const HttpRequest& request, std::string_view token);

// A whole HTTP/1.1 answer.
std::string FormatHttpResponse(int status, std::string_view contentType, std::string_view body,
                               bool close);
// The JSON answer to an API call: {"status":0|1,"message":"..."} with 200 or 422, or the
// command's own JSON text as it is (the effects).
std::string FormatWebReply(const RemoteRequest& request, const RemoteReply& reply, bool close);
std::string FormatWebError(int status, std::string_view message, bool close);

// The page's news of one playback: {"type":"started"|"stopped","id":N,"name":"..."}.
std::string PlayNewsJson(bool started, std::uint64_t id, std::string_view name);

// A JSON string literal of UTF-8 text.
std::string JsonQuote(std::string_view text);
// The members of one flat JSON object whose values are strings or integers; false when the text
// is anything else (nesting, arrays, bad escapes, a trailing comma, text after it).
struct JsonMember {
    std::string strKey;
    std::string strText; // a string's text, or an integer's digits
    bool bNumber = false;
};
bool ParseFlatJsonObject(std::string_view text, std::vector<JsonMember>& members);
