// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <dirent.h>
#include <iconv.h>
#include <memory>
#include <sys/stat.h>
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

// Whole-string conversion that fails on the first character without a form on the other side.
bool ConvertExactly(std::string_view in, const char* from, const char* to, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string result;
    char buffer[1024];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    bool ok = true;
    while (ok && srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        result.append(buffer, static_cast<size_t>(dst - buffer));
        ok = r != static_cast<size_t>(-1) || errno == E2BIG;
    }
    iconv_close(cd);
    if (ok)
        out = std::move(result);
    return ok;
}

// The first of each pair of Unicode readings, and the one CP932 reads its bytes back as.
struct Reading {
    std::string_view other;
    std::string_view cp932Reading;
};
constexpr Reading kReadings[] = {
    {"\u301C", "\uFF5E"}, {"\u2212", "\uFF0D"}, {"\u2014", "\u2015"}, {"\u2016", "\u2225"},
    {"\u00A2", "\uFFE0"}, {"\u00A3", "\uFFE1"}, {"\u00AC", "\uFFE2"},
};

std::string WithCp932Readings(std::string_view utf8) {
    std::string out(utf8);
    for (const Reading& r : kReadings) {
        for (std::size_t at = out.find(r.other); at != std::string::npos;
             at = out.find(r.other, at + r.cp932Reading.size()))
            out.replace(at, r.other.size(), r.cp932Reading);
    }
    return out;
}

bool Exists(const std::string& osPath) {
    struct stat st {};
    return lstat(osPath.c_str(), &st) == 0;
}

// The entry of the folder whose stored form is `cp932Name` under any reading; empty when none.
std::string FindEntryStoredAs(const std::string& osDir, std::string_view cp932Name) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(osDir.empty() ? "." : osDir.c_str()),
                                            &closedir);
    if (!dir)
        return {};
    std::vector<std::string> found;
    while (const dirent* e = readdir(dir.get())) {
        std::string stored;
        if (TryCp932FromUtf8(e->d_name, stored) && stored == cp932Name)
            found.emplace_back(e->d_name);
    }
    // The order of a listing is the file system's; the smallest name keeps the choice stable.
    return found.empty() ? std::string() : *std::min_element(found.begin(), found.end());
}

// Backslashes to slashes, walking CP932 characters; the text stays CP932.
std::string SlashSeparated(std::string_view cp932Path) {
    std::string path(cp932Path);
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (IsLeadByte(path, i))
            ++i;
        else if (path[i] == '\\')
            path[i] = '/';
    }
    return path;
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

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        std::uint32_t value = lead;
        if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, value = lead & 0x07u;
        else if (lead >= 0xE0)
            length = lead <= 0xEF ? 3 : 0, value = lead & 0x0Fu;
        else if (lead >= 0xC2)
            length = 2, value = lead & 0x1Fu;
        else if (lead >= 0x80)
            return false;
        if (length == 0 || text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (next & 0x3Fu);
        }
        constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

bool TryCp932FromUtf8(std::string_view utf8, std::string& cp932) {
    std::string stored;
    std::string readBack;
    if (!ConvertExactly(utf8, "UTF-8", "CP932", stored) ||
        !ConvertExactly(stored, "CP932", "UTF-8", readBack) || readBack != WithCp932Readings(utf8))
        return false;
    cp932 = std::move(stored);
    return true;
}

bool HasTwoReadings(std::string_view cp932) {
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        if (!IsLeadByte(cp932, i))
            continue;
        const unsigned code =
            static_cast<unsigned char>(cp932[i]) << 8 | static_cast<unsigned char>(cp932[i + 1]);
        switch (code) {
        case 0x8160:
        case 0x817C:
        case 0x815C:
        case 0x8161:
        case 0x8191:
        case 0x8192:
        case 0x81CA:
            return true;
        default:
            ++i;
        }
    }
    return false;
}

std::string ToOsPath(std::string_view cp932Path) {
    return JoinOsPath({}, cp932Path);
}

std::string JoinOsPath(std::string_view osDir, std::string_view cp932Path) {
    const std::string path = SlashSeparated(cp932Path);
    std::string direct = std::string(osDir) + Utf8FromCp932(path);
    if (!HasTwoReadings(path) || Exists(direct))
        return direct;
    // Part by part: a part that exists as read is kept, one that does not is looked up among
    // its folder's entries. '/' is never the second byte of a character.
    std::string out(osDir);
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string_view part = std::string_view(path).substr(begin, end - begin);
        const std::string plain = Utf8FromCp932(part);
        std::string chosen;
        if (HasTwoReadings(part) && !Exists(out + plain))
            chosen = FindEntryStoredAs(out, part);
        out += chosen.empty() ? plain : chosen;
        if (end < path.size())
            out += '/';
        begin = end + 1;
    }
    return out;
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
    return path;
}

std::string GetCurrentDirectoryA() {
    std::vector<char> buffer(4096);
    if (!getcwd(buffer.data(), buffer.size()))
        return {};
    return buffer.data();
}

bool SetCurrentDirectoryA(const std::string& osPath) {
    return chdir(osPath.c_str()) == 0;
}
