// SPDX-License-Identifier: GPL-3.0-or-later
// The web remote's reader and routes: what a browser sends is carried out, what an attacker sends
// is refused with the right status, and the limits hold.
#include "core/web_request.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string kToken = "0123456789abcdef0123456789abcdef";
const std::string kAuth = "Authorization: Bearer " + kToken + "\r\n";

TEST(WebRequestTest, ReaderTakesWholeRequestsAndRefusesBadOnes) {
    struct Case {
        std::string bytes;
        RemoteParse result;
        int status; // for Bad
        std::string body;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", RemoteParse::Done, 0, ""},
        {"POST /api/play HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcdEXTRA", RemoteParse::Done, 0,
         "abcd"},
        {"POST /api/play HTTP/1.1\r\nContent-Length: 4\r\n\r\nab", RemoteParse::Incomplete, 0, ""},
        {"GET / HTTP/1.1\r\nHost: a\r\n", RemoteParse::Incomplete, 0, ""},
        {"GET / HTTP/2\r\n\r\n", RemoteParse::Bad, 400, ""},
        {"GET noslash HTTP/1.1\r\n\r\n", RemoteParse::Bad, 400, ""},
        {"GET / HTTP/1.1\r\nno colon\r\n\r\n", RemoteParse::Bad, 400, ""},
        {"GET / HTTP/1.1\r\nX: a\x01z\r\n\r\n", RemoteParse::Bad, 400, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", RemoteParse::Bad,
         400, ""},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", RemoteParse::Bad, 400, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n", RemoteParse::Bad,
         413, ""},
        {"POST / HTTP/1.1\r\nContent-Length: 16385\r\n\r\n", RemoteParse::Bad, 413, ""},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", RemoteParse::Bad, 501, ""},
        {"GET / HTTP/1.1\r\nX: " + std::string(kMaxHttpHead, 'a'), RemoteParse::Bad, 431, ""},
        {"GET / HTTP/1.1\r\nX: " + std::string(kMaxHttpHead, 'a') + "\r\n\r\n", RemoteParse::Bad,
         431, ""},
    };
    for (const Case& c : cases) {
        std::string buffer = c.bytes;
        HttpRequest request;
        int status = 0;
        EXPECT_EQ(TakeHttpRequest(buffer, request, status), c.result) << c.bytes.substr(0, 60);
        if (c.result == RemoteParse::Bad)
            EXPECT_EQ(status, c.status) << c.bytes.substr(0, 60);
        if (c.result == RemoteParse::Done)
            EXPECT_EQ(request.strBody, c.body);
        if (c.result == RemoteParse::Incomplete)
            EXPECT_EQ(buffer, c.bytes);
    }
    // Two requests in one read leave the second whole.
    std::string two = "GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.0\r\n\r\n";
    HttpRequest request;
    int status = 0;
    ASSERT_EQ(TakeHttpRequest(two, request, status), RemoteParse::Done);
    EXPECT_EQ(request.strPath, "/a");
    EXPECT_FALSE(request.bClose);
    ASSERT_EQ(TakeHttpRequest(two, request, status), RemoteParse::Done);
    EXPECT_EQ(request.strPath, "/b");
    EXPECT_TRUE(request.bClose);
    EXPECT_TRUE(two.empty());
}

TEST(WebRequestTest, RoutesNeedTheTokenAndGiveTheRemoteCommands) {
    struct Case {
        std::string head; // after the request line's method and path
        std::string body;
        WebTarget target;
        int status;
        RemoteRequest command;
    } cases[] = {
        {"GET /?token=" + kToken, "", WebTarget::Page, 0, {}},
        {"GET /?x=1&token=" + kToken + "&y", "", WebTarget::Page, 0, {}},
        {"GET /", "", WebTarget::Refuse, 401, {}},
        {"GET /?token=" + kToken.substr(1), "", WebTarget::Refuse, 401, {}},
        {"GET /?token=" + kToken + "0", "", WebTarget::Refuse, 401, {}},
        {"GET /api/effects\r\n" + kAuth, "", WebTarget::Command, 0, {RemoteVerb::Effects, ""}},
        {"GET /api/effects\r\nAuthorization: Bearer x", "", WebTarget::Refuse, 401, {}},
        {"POST /api/play\r\n" + kAuth,
         R"({"name":"チャイム"})",
         WebTarget::Command,
         0,
         {RemoteVerb::Play, "チャイム"}},
        {"POST /api/play\r\n" + kAuth,
         R"({"index": 3})",
         WebTarget::Command,
         0,
         {RemoteVerb::PlayIndex, "3"}},
        {"POST /api/play\r\n" + kAuth, R"({"index":"3"})", WebTarget::Refuse, 400, {}},
        {"POST /api/play\r\n" + kAuth, R"({"name":"a\u0000b"})", WebTarget::Refuse, 400, {}},
        {"POST /api/play\r\n" + kAuth, R"({"name":"x",})", WebTarget::Refuse, 400, {}},
        {"GET /api/play\r\n" + kAuth, "", WebTarget::Refuse, 405, {}},
        {"POST /api/play-key\r\n" + kAuth,
         R"({"key":"Ctrl + F1"})",
         WebTarget::Command,
         0,
         {RemoteVerb::PlayKey, "Ctrl + F1"}},
        {"POST /api/stop\r\n" + kAuth,
         R"({"id":12})",
         WebTarget::Command,
         0,
         {RemoteVerb::StopPlayback, "12"}},
        {"POST /api/stop\r\n" + kAuth,
         R"({"name":"\u30d9\u30eb"})",
         WebTarget::Command,
         0,
         {RemoteVerb::Stop, "ベル"}},
        {"POST /api/stop-all\r\n" + kAuth, "", WebTarget::Command, 0, {RemoteVerb::StopAll, ""}},
        {"POST /api/set\r\n" + kAuth,
         R"({"name":"b.txt"})",
         WebTarget::Command,
         0,
         {RemoteVerb::ChooseSet, "b.txt"}},
        {"GET /api/events?token=" + kToken +
             "\r\nUpgrade: websocket\r\nHost: h:1\r\n"
             "Origin: http://h:1",
         "",
         WebTarget::Events,
         0,
         {}},
        {"GET /api/events?token=" + kToken +
             "\r\nUpgrade: websocket\r\nHost: h:1\r\n"
             "Origin: http://evil:1",
         "",
         WebTarget::Refuse,
         403,
         {}},
        {"POST /api/stop-all\r\nHost: h:1\r\nOrigin: null\r\n" + kAuth,
         "",
         WebTarget::Refuse,
         403,
         {}},
        {"GET /../remote.html?token=" + kToken, "", WebTarget::Refuse, 404, {}},
    };
    for (const Case& c : cases) {
        const std::size_t space = c.head.find(' ');
        const std::size_t lineEnd = std::min(c.head.find("\r\n"), c.head.size());
        std::string headers = c.head.substr(std::min(lineEnd + 2, c.head.size()));
        if (!headers.empty() && headers.back() != '\n')
            headers += "\r\n";
        std::string bytes = c.head.substr(0, lineEnd) + " HTTP/1.1\r\n" + headers +
                            "Content-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" +
                            c.body;
        HttpRequest request;
        int status = 0;
        ASSERT_EQ(TakeHttpRequest(bytes, request, status), RemoteParse::Done) << c.head;
        const WebRoute route = RouteWebRequest(request, kToken);
        EXPECT_EQ(route.target, c.target) << c.head.substr(0, space + 20) << " " << c.body;
        EXPECT_EQ(route.nStatus, c.status) << c.head.substr(0, space + 20) << " " << c.body;
        EXPECT_EQ(route.bBadToken, c.status == 401);
        if (c.target == WebTarget::Command)
            EXPECT_EQ(route.request, c.command) << c.body;
    }
    EXPECT_FALSE(TokensEqual("", ""));
}

TEST(WebRequestTest, AnswersCarryTheRemoteReply) {
    const std::string done = FormatWebReply({RemoteVerb::Play, "a"}, {0, ""}, false);
    EXPECT_EQ(done.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(done.find("\r\n\r\n{\"status\":0,\"message\":\"\"}"), std::string::npos);
    const std::string failed =
        FormatWebReply({RemoteVerb::Play, "a"}, {1, "「\"a\"」\tはありません。\n"}, true);
    EXPECT_EQ(failed.substr(0, 12), "HTTP/1.1 422");
    EXPECT_NE(failed.find("Connection: close"), std::string::npos);
    EXPECT_NE(failed.find(R"({"status":1,"message":"「\"a\"」\u0009はありません。"})"),
              std::string::npos);
    std::vector<JsonMember> members;
    ASSERT_TRUE(ParseFlatJsonObject(R"( {"a":"\ud83d\ude00","b":-12} )", members));
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].strText, "\xF0\x9F\x98\x80");
    EXPECT_TRUE(members[1].bNumber);
    for (const char* bad :
         {R"({"a":"\ud83d"})", R"({"a":01})", R"({"a":{}})", R"({"a":1}x)", R"({"a":"x)", "[]", ""})
        EXPECT_FALSE(ParseFlatJsonObject(bad, members)) << bad;
}

} // namespace
