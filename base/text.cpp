#include "base/text.h"

#include <cerrno>
#include <climits>
#include <iconv.h>
#include <unistd.h>
#include <vector>

namespace {

bool IsLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool IsTrail(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// Converts with iconv, replacing what cannot be converted and skipping one input byte at a time.
std::string Convert(std::string_view in, const char* from, const char* to,
                    std::string_view replacement) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(in);
    std::string out;
    out.reserve(in.size() * 3 / 2 + 4);
    char buffer[1024];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // EILSEQ or EINVAL: an unconvertible or truncated sequence. Skip one character.
            out.append(replacement);
            if (std::string_view(from) == "UTF-8") {
                size_t n = 1;
                while (n < srcLeft && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
                    ++n;
                src += n;
                srcLeft -= n;
            } else {
                // Only a real two-byte character is skipped whole: a lead byte before a
                // non-trail byte (a comma, say) must not take that byte with it.
                size_t n = IsLeadByte(std::string_view(src, srcLeft), 0) ? 2 : 1;
                src += n;
                srcLeft -= n;
            }
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

bool IsLeadByte(std::string_view text, std::size_t pos) {
    return pos + 1 < text.size() && IsLead(static_cast<unsigned char>(text[pos])) &&
           IsTrail(static_cast<unsigned char>(text[pos + 1]));
}

std::string_view CutCp932(std::string_view text, std::size_t maxBytes) {
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t step = IsLeadByte(text, end) ? 2 : 1;
        if (end + step > maxBytes)
            break;
        end += step;
    }
    return text.substr(0, end);
}

std::size_t FindBackslash(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsLeadByte(text, i))
            ++i;
        else if (text[i] == '\\')
            return i;
    }
    return std::string_view::npos;
}

std::size_t FindLastBackslash(std::string_view text) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsLeadByte(text, i))
            ++i;
        else if (text[i] == '\\')
            found = i;
    }
    return found;
}

std::int32_t AtoI(std::string_view text) {
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<std::int32_t>(value);
}

std::string Cp932FromUtf8(std::string_view utf8) {
    return Convert(utf8, "UTF-8", "CP932", "?");
}

std::string Utf8FromCp932(std::string_view cp932) {
    return Convert(cp932, "CP932", "UTF-8", "\xEF\xBF\xBD");
}

std::string ToOsPath(std::string_view cp932Path) {
    std::string path(cp932Path);
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (IsLeadByte(path, i))
            ++i;
        else if (path[i] == '\\')
            path[i] = '/';
    }
    return Utf8FromCp932(path);
}

std::string ToStoredPath(std::string_view cp932Path) {
    std::string path(cp932Path);
    // '/' is never a trail byte, so a plain byte walk is exact here.
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string ExecutableDirectory() {
    std::vector<char> buffer(4096);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    std::string path(buffer.data(), static_cast<size_t>(n));
    path.erase(path.rfind('/') + 1);
    return Cp932FromUtf8(path);
}

std::string GetCurrentDirectoryA() {
    std::vector<char> buffer(4096);
    if (!getcwd(buffer.data(), buffer.size()))
        return {};
    return Cp932FromUtf8(buffer.data());
}

bool SetCurrentDirectoryA(const std::string& cp932Path) {
    return chdir(ToOsPath(cp932Path).c_str()) == 0;
}
