// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/web_request.h"

#include <charconv>
#include <cstdint>

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Whether a comma-separated header value lists this token (Connection: keep-alive, Upgrade).
bool ListsToken(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        if (SameNoCase(Trim(value.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

bool IsTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool Bad(int& status, int code) {
    status = code;
    return false;
}

// The head's lines after the request line into `request`; false with `status` set otherwise.
bool ReadHead(std::string_view head, HttpRequest& request, std::size_t& contentLength,
              int& status) {
    const std::size_t firstEnd = head.find("\r\n");
    const std::string_view first = head.substr(0, firstEnd);
    const std::size_t sp1 = first.find(' ');
    const std::size_t sp2 = first.rfind(' ');
    if (sp1 == std::string_view::npos || sp1 == sp2 || sp1 == 0)
        return Bad(status, 400);
    const std::string_view method = first.substr(0, sp1);
    const std::string_view target = first.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = first.substr(sp2 + 1);
    for (char c : method)
        if (!IsTokenChar(c))
            return Bad(status, 400);
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return Bad(status, 400);
    if (target.empty() || target.front() != '/')
        return Bad(status, 400);
    for (char c : target)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            return Bad(status, 400);
    request.strMethod = method;
    const std::size_t q = target.find('?');
    request.strPath = target.substr(0, q);
    request.strQuery = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
    request.bClose = version == "HTTP/1.0";

    bool hasLength = false;
    std::string_view rest =
        firstEnd == std::string_view::npos ? std::string_view() : head.substr(firstEnd + 2);
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos)
            return Bad(status, 400);
        const std::string_view name = line.substr(0, colon);
        for (char c : name)
            if (!IsTokenChar(c))
                return Bad(status, 400);
        const std::string_view value = Trim(line.substr(colon + 1));
        for (char c : value)
            if ((static_cast<unsigned char>(c) < ' ' && c != '\t') || c == 0x7f)
                return Bad(status, 400);
        if (SameNoCase(name, "content-length")) {
            std::size_t length = 0;
            const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
            // Two lengths that disagree are how requests get smuggled past a proxy.
            if (ec != std::errc() || p != value.data() + value.size() ||
                (hasLength && length != contentLength))
                return Bad(status, ec == std::errc::result_out_of_range ? 413 : 400);
            contentLength = length;
            hasLength = true;
        } else if (SameNoCase(name, "transfer-encoding")) {
            return Bad(status, 501);
        } else if (SameNoCase(name, "authorization")) {
            request.strAuthorization = value;
        } else if (SameNoCase(name, "host")) {
            request.strHost = value;
        } else if (SameNoCase(name, "origin")) {
            request.strOrigin = value;
            request.bHasOrigin = true;
        } else if (SameNoCase(name, "upgrade")) {
            request.bWebSocket = ListsToken(value, "websocket");
        } else if (SameNoCase(name, "connection")) {
            if (ListsToken(value, "close"))
                request.bClose = true;
            else if (ListsToken(value, "keep-alive"))
                request.bClose = false;
        }
    }
    if (contentLength > kMaxHttpBody)
        return Bad(status, 413);
    return true;
}

// The value of `name` in a query string, undecoded; empty when absent.
std::string_view QueryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.size() > name.size() && pair.substr(0, name.size()) == name &&
            pair[name.size()] == '=')
            return pair.substr(name.size() + 1);
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return {};
}

WebRoute Refuse(int status, std::string message, bool badToken = false) {
    WebRoute route;
    route.nStatus = status;
    route.strMessage = std::move(message);
    route.bBadToken = badToken;
    return route;
}

const char* StatusText(int status) {
    switch (status) {
    case 101:
        return "Switching Protocols";
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 422:
        return "Unprocessable Content";
    case 431:
        return "Request Header Fields Too Large";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

// Appends one code point as UTF-8; false for one JSON text may not carry alone.
bool AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF)
        return false;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return true;
}

struct JsonReader {
    std::string_view s;
    std::size_t i = 0;

    void Space() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            ++i;
    }
    bool Eat(char c) {
        Space();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool Hex4(std::uint32_t& v) {
        if (s.size() - i < 4)
            return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s[i++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0)
                return false;
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        return true;
    }
    bool String(std::string& out) {
        if (!Eat('"'))
            return false;
        while (i < s.size()) {
            const char c = s[i++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= s.size())
                return false;
            const char e = s[i++];
            const std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
            if (const std::size_t k = from.find(e); k != std::string_view::npos) {
                out += to[k];
                continue;
            }
            std::uint32_t cp = 0;
            if (e != 'u' || !Hex4(cp))
                return false;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                std::uint32_t low = 0;
                if (s.substr(i, 2) != "\\u" || (i += 2, !Hex4(low)) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            if (!AppendUtf8(out, cp))
                return false;
        }
        return false;
    }
    bool Integer(std::string& out) {
        Space();
        const std::size_t start = i;
        if (i < s.size() && s[i] == '-')
            ++i;
        const std::size_t digits = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        if (i == digits || (s[digits] == '0' && i - digits > 1) || i - start > 18)
            return false;
        out = s.substr(start, i - start);
        return true;
    }
};

} // namespace

RemoteParse TakeHttpRequest(std::string& buffer, HttpRequest& request, int& status) {
    const std::size_t headEnd = buffer.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        if (buffer.size() <= kMaxHttpHead)
            return RemoteParse::Incomplete;
        status = 431;
        return RemoteParse::Bad;
    }
    if (headEnd > kMaxHttpHead) {
        status = 431;
        return RemoteParse::Bad;
    }
    HttpRequest parsed;
    std::size_t contentLength = 0;
    if (!ReadHead(std::string_view(buffer).substr(0, headEnd), parsed, contentLength, status))
        return RemoteParse::Bad;
    const std::size_t total = headEnd + 4 + contentLength;
    if (buffer.size() < total)
        return RemoteParse::Incomplete;
    parsed.strBody = buffer.substr(headEnd + 4, contentLength);
    request = std::move(parsed);
    buffer.erase(0, total);
    return RemoteParse::Done;
}

bool TokensEqual(std::string_view given, std::string_view expected) {
    unsigned diff = given.size() != expected.size() ? 1u : 0u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        diff |= g ^ static_cast<unsigned char>(expected[i]);
    }
    return diff == 0 && !expected.empty();
}

WebRoute RouteWebRequest(const HttpRequest& request, std::string_view token) {
    std::string_view given = QueryValue(request.strQuery, "token");
    const std::string_view bearer = "Bearer ";
    if (request.strAuthorization.size() > bearer.size() &&
        SameNoCase(std::string_view(request.strAuthorization).substr(0, bearer.size()), bearer))
        given = Trim(std::string_view(request.strAuthorization).substr(bearer.size()));
    if (!TokensEqual(given, token))
        return Refuse(401, "token", true);
    // A page of another site may not drive the remote from the user's browser.
    if (request.bHasOrigin && request.strOrigin != "http://" + request.strHost)
        return Refuse(403, "origin");

    const std::string& path = request.strPath;
    const bool get = request.strMethod == "GET";
    const bool post = request.strMethod == "POST";
    WebRoute route;
    if (path == "/" || path == "/index.html") {
        route.target = WebTarget::Page;
        return get ? route : Refuse(405, "method");
    }
    if (path == "/api/events") {
        route.target = WebTarget::Events;
        return get && request.bWebSocket ? route : Refuse(400, "websocket");
    }
    if (path == "/api/effects") {
        route.target = WebTarget::Command;
        route.request.verb = RemoteVerb::Effects;
        return get ? route : Refuse(405, "method");
    }

    struct Api {
        std::string_view path;
        RemoteVerb byName; // {"name": ...} or {"key": ...}
        std::string_view key;
        RemoteVerb byIndex; // {"index": ...} or {"id": ...}
        std::string_view numberKey;
        bool bare; // takes no body
    };
    static constexpr Api kApis[] = {
        {"/api/play", RemoteVerb::Play, "name", RemoteVerb::PlayIndex, "index", false},
        {"/api/play-key", RemoteVerb::PlayKey, "key", RemoteVerb::PlayKey, "", false},
        {"/api/stop", RemoteVerb::Stop, "name", RemoteVerb::StopPlayback, "id", false},
        {"/api/stop-all", RemoteVerb::StopAll, "", RemoteVerb::StopAll, "", true},
        {"/api/set", RemoteVerb::ChooseSet, "name", RemoteVerb::ChooseSet, "", false},
    };
    for (const Api& api : kApis) {
        if (path != api.path)
            continue;
        if (!post)
            return Refuse(405, "method");
        route.target = WebTarget::Command;
        route.request.verb = api.byName;
        if (api.bare)
            return route;
        std::vector<JsonMember> members;
        if (!ParseFlatJsonObject(request.strBody, members))
            return Refuse(400, "json");
        for (const JsonMember& m : members) {
            if (m.strKey == api.key && !m.bNumber && !m.strText.empty() &&
                m.strText.find('\0') == std::string::npos) {
                route.request.strArgument = m.strText;
                return route;
            }
            if (!api.numberKey.empty() && m.strKey == api.numberKey && m.bNumber) {
                route.request.verb = api.byIndex;
                route.request.strArgument = m.strText;
                return route;
            }
        }
        return Refuse(400, std::string(api.key));
    }
    return Refuse(404, "path");
}

std::string FormatHttpResponse(int status, std::string_view contentType, std::string_view body,
                               bool close) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\n";
    out += "Content-Type: ";
    out += contentType;
    out += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    // Nothing from here may be framed by another site or cached on the way.
    out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
           "X-Frame-Options: DENY\r\nReferrer-Policy: no-referrer\r\n";
    if (status == 401)
        out += "WWW-Authenticate: Bearer\r\n";
    out += close ? "Connection: close\r\n\r\n" : "\r\n";
    out += body;
    return out;
}

std::string FormatWebError(int status, std::string_view message, bool close) {
    return FormatHttpResponse(status, "application/json; charset=utf-8",
                              "{\"status\":1,\"message\":" + JsonQuote(message) + "}", close);
}

std::string FormatWebReply(const RemoteRequest& request, const RemoteReply& reply, bool close) {
    if (reply.nStatus == 0 && request.verb == RemoteVerb::Effects)
        return FormatHttpResponse(200, "application/json; charset=utf-8", reply.strText, close);
    std::string_view text = reply.strText;
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (reply.nStatus != 0)
        return FormatWebError(422, text, close);
    return FormatHttpResponse(200, "application/json; charset=utf-8",
                              "{\"status\":0,\"message\":" + JsonQuote(text) + "}", close);
}

std::string PlayNewsJson(bool started, std::uint64_t id, std::string_view name) {
    return std::string("{\"type\":") + (started ? "\"started\"" : "\"stopped\"") +
           ",\"id\":" + std::to_string(id) + ",\"name\":" + JsonQuote(name) + "}";
}

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool ParseFlatJsonObject(std::string_view text, std::vector<JsonMember>& members) {
    JsonReader r{text};
    std::vector<JsonMember> parsed;
    if (!r.Eat('{'))
        return false;
    if (!r.Eat('}')) {
        do {
            JsonMember m;
            if (!r.String(m.strKey) || !r.Eat(':'))
                return false;
            r.Space();
            if (r.i < text.size() && text[r.i] == '"') {
                if (!r.String(m.strText))
                    return false;
            } else if (!r.Integer(m.strText)) {
                return false;
            } else {
                m.bNumber = true;
            }
            parsed.push_back(std::move(m));
        } while (r.Eat(','));
        if (!r.Eat('}'))
            return false;
    }
    r.Space();
    if (r.i != text.size())
        return false;
    members = std::move(parsed);
    return true;
}
