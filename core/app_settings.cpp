// SPDX-License-Identifier: GPL-3.0-or-later
// Our own reader and writer of the one-section settings file. Like the private-profile functions
// the file was made for, names compare without ASCII case, values may be quoted, and a write
// changes one key's line and keeps every other byte of the file as it was.
#include "core/app_settings.h"

#include "base/atomic_file.h"
#include "base/int_text.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "core/data_folder.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string_view>
#include <sys/random.h>
#include <vector>

namespace {

// The value buffer the settings were designed around: 1024 bytes with the terminator.
constexpr std::size_t kMaxValue = 1023;

const std::string& SectionName() {
    static const std::string k = "Environment";
    return k;
}
const std::string& KeyName() {
    static const std::string k = "SoundsFile";
    return k;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// One line of the file: [begin, end) its text, [end, next) its line end.
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t lf = text.find('\n', pos);
        std::size_t next = lf == std::string::npos ? text.size() : lf + 1;
        std::size_t end = lf == std::string::npos ? text.size() : lf;
        if (end > pos && text[end - 1] == '\r')
            --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

// Where a key sits in the file: the line holding it, and the byte just after its '='.
struct KeyPlace {
    bool sectionFound = false;
    std::size_t insertAt = 0; // after the section's last non-blank line
    bool keyFound = false;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
    std::size_t lineBegin = 0; // the key's whole line, its line end included
    std::size_t lineNext = 0;
};

KeyPlace FindKey(const std::string& text, std::string_view section, std::string_view key) {
    KeyPlace place;
    bool inSection = false;
    for (const Line& line : SplitLines(text)) {
        std::string_view content =
            Trim(std::string_view(text).substr(line.begin, line.end - line.begin));
        if (!content.empty() && content.front() == '[') {
            if (place.sectionFound)
                break; // only the first section of that name counts
            std::size_t close = content.find(']');
            std::string_view name = Trim(content.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            inSection = EqualNoCase(name, section);
            if (inSection) {
                place.sectionFound = true;
                place.insertAt = line.next;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!content.empty())
            place.insertAt = line.next;
        if (content.empty() || content.front() == ';')
            continue;
        std::size_t eq = content.find('=');
        if (eq == std::string_view::npos || !EqualNoCase(Trim(content.substr(0, eq)), key))
            continue;
        std::size_t eqInText = static_cast<std::size_t>(content.data() - text.data()) + eq;
        place.keyFound = true;
        // The spacing the user put after '=' stays; the value starts after it.
        place.valueBegin = eqInText + 1;
        while (place.valueBegin < line.end && IsBlank(text[place.valueBegin]))
            ++place.valueBegin;
        if (place.valueBegin == line.end) // blanks alone are no spacing worth keeping
            place.valueBegin = eqInText + 1;
        place.valueEnd = line.end;
        place.lineBegin = line.begin;
        place.lineNext = line.next;
        return place;
    }
    return place;
}

// The whole file; false when it exists but cannot be read (a missing file reads as empty).
bool ReadWholeFile(const std::string& osPath, std::string& text) {
    text.clear();
    FilePtr file = FOpenRegularFileForReading(osPath); // a FIFO must not hold the start-up
    if (!file)
        return errno == ENOENT;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, n);
    return !std::ferror(file.get());
}

// "n,n,...": every field a number, `count` of them (0 = any number), each at least `least`;
// anything else reads as nothing remembered.
std::vector<int> IntList(std::string_view text, std::size_t count, int least) {
    std::vector<int> values;
    for (std::size_t from = 0; !text.empty() && from <= text.size();) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        std::int32_t value = 0;
        if (!ParseIntText(text.substr(from, comma - from), value) || value < least)
            return {};
        values.push_back(value);
        from = comma + 1;
    }
    if (count != 0 && values.size() != count)
        return {};
    return values;
}

std::string IntListText(const std::vector<int>& values) {
    std::string text;
    for (const int v : values)
        text += (text.empty() ? "" : ",") + std::to_string(v);
    return text;
}

struct LayoutKey {
    const char* name;
    std::vector<int> WindowLayout::*member;
    std::size_t count;
    int least;
};
// Widths and heights of at least one pixel; a position may be negative (a screen left of or above
// the first).
const LayoutKey kLayoutKeys[] = {
    {"WindowRect", &WindowLayout::rect, 4, -100000},
    {"EffectColumns", &WindowLayout::effectColumns, 0, 1},
    {"PlayColumns", &WindowLayout::playColumns, 0, 1},
};

} // namespace

const std::string& DefaultSoundsFile() {
    static const std::string k = Cp932FromUtf8("音源.txt");
    return k;
}

void AppSettings::LocateFiles() {
    // The folder is enough: LocateFilesFrom cuts after the last separator.
    LocateFilesFrom(LocateDataFolder(ExecutableDirectory()));
}

void AppSettings::LocateFilesFrom(const std::string& executablePath) {
    // A system path: '/' is its only separator.
    const std::size_t cut = executablePath.rfind('/');
    m_strExeDir = cut == std::string::npos ? std::string() : executablePath.substr(0, cut + 1);
    m_strIniPath = m_strExeDir.empty() ? std::string() : m_strExeDir + "Otomaru.ini";
}

void AppSettings::LoadSettings() {
    if (m_strIniPath.empty())
        return;
    m_strSoundsFile = ReadValue(SectionName(), KeyName(), DefaultSoundsFile());
    std::string globalHotkeys;
    ReadExistingValue(SectionName(), "GlobalHotkeys", &globalHotkeys);
    m_bGlobalHotkeys = globalHotkeys == "1";
    for (const LayoutKey& key : kLayoutKeys) {
        std::string text;
        ReadExistingValue(SectionName(), key.name, &text);
        m_windowLayout.*key.member = IntList(text, key.count, key.least);
    }
    std::string loudness;
    m_bEqualLoudness = ReadExistingValue(SectionName(), "LoudnessTarget", &loudness) &&
                       ParseLoudnessTarget(loudness, m_dLoudnessTarget);
    std::string oscPort;
    if (!ReadExistingValue(SectionName(), "OscPort", &oscPort) || !ParsePort(oscPort, m_nOscPort))
        m_nOscPort = 0;
    if (!ReadExistingValue(SectionName(), "OscAddress", &m_strOscAddress) ||
        m_strOscAddress.empty())
        m_strOscAddress = kLoopbackAddress;
    std::vector<int>& rect = m_windowLayout.rect;
    if (!rect.empty() && (rect[2] < 1 || rect[3] < 1))
        rect.clear();

    std::string web;
    m_bWebRemote = ReadExistingValue(SectionName(), "WebRemote", &web) && web == "1";
    std::string port;
    m_nWebRemotePort = kDefaultWebRemotePort;
    // A port that is not one leaves the default.
    if (ReadExistingValue(SectionName(), "WebRemotePort", &port))
        ParsePort(port, m_nWebRemotePort);
    m_strWebRemoteAddress.clear();
    ReadExistingValue(SectionName(), "WebRemoteAddress", &m_strWebRemoteAddress);
    m_strWebRemoteToken.clear();
    ReadExistingValue(SectionName(), "WebRemoteToken", &m_strWebRemoteToken);
}

bool AppSettings::SaveWebRemote() {
    // A hand-edited token too short to guess slowly is replaced, never used.
    if (m_bWebRemote && !IsWebRemoteToken(m_strWebRemoteToken)) {
        m_strWebRemoteToken = MakeWebRemoteToken();
        if (m_strWebRemoteToken.empty()) {
            m_bWebRemote = false;
            return false;
        }
        if (!WriteValue(SectionName(), "WebRemoteToken", m_strWebRemoteToken))
            return false;
    }
    const bool address = m_strWebRemoteAddress.empty()
                             ? RemoveValue(SectionName(), "WebRemoteAddress")
                             : WriteValue(SectionName(), "WebRemoteAddress", m_strWebRemoteAddress);
    return WriteValue(SectionName(), "WebRemote", m_bWebRemote ? "1" : "0") && address;
}

std::string MakeWebRemoteToken() {
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        got += static_cast<std::size_t>(n);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

bool IsWebRemoteToken(std::string_view token) {
    return token.size() >= 32 && token.size() <= 128 &&
           token.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

void AppSettings::SaveWindowLayout(const WindowLayout& layout) {
    for (const LayoutKey& key : kLayoutKeys) {
        const std::vector<int>& values = layout.*key.member;
        if (values.empty() || values == m_windowLayout.*key.member)
            continue;
        if (WriteValue(SectionName(), key.name, IntListText(values)))
            m_windowLayout.*key.member = values;
    }
}

bool AppSettings::SaveGlobalHotkeys() {
    return WriteValue(SectionName(), "GlobalHotkeys", m_bGlobalHotkeys ? "1" : "0");
}

bool AppSettings::SaveLoudnessTarget() {
    if (!m_bEqualLoudness)
        return RemoveValue(SectionName(), "LoudnessTarget");
    // Not printf: the locale must not turn the point into a comma.
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, m_dLoudnessTarget);
    return WriteValue(SectionName(), "LoudnessTarget", std::string(text, r.ptr));
}

bool ParsePort(std::string_view text, std::uint16_t& port) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool ParseLoudnessTarget(std::string_view text, double& lufs) {
    double value = 0.0;
    const std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() ||
        !(value >= -70.0 && value <= 0.0))
        return false;
    lufs = value;
    return true;
}

void AppSettings::SaveSettings() {
    if (m_strIniPath.empty())
        return;
    WriteValue(SectionName(), KeyName(), m_strSoundsFile);
}

bool AppSettings::ReadExistingValue(const std::string& section, const std::string& key,
                                    std::string* value) {
    std::string text;
    value->clear();
    if (m_strIniPath.empty() || !ReadWholeFile(m_strIniPath, text))
        return false;
    KeyPlace place = FindKey(text, section, key);
    if (!place.keyFound)
        return false;
    std::string_view v =
        Trim(std::string_view(text).substr(place.valueBegin, place.valueEnd - place.valueBegin));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
    v = CutCp932(v, kMaxValue);
    *value = v;
    return true;
}

std::string AppSettings::ReadValue(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) {
    std::string value;
    ReadExistingValue(section, key, &value);
    if (!value.empty())
        return value;
    WriteValue(section, key, defaultValue);
    return defaultValue;
}

void AppSettings::LoadDeviceSettings() {
    ReadExistingValue(SectionName(), "OutputDevice", &m_strOutputDevice);
    ReadExistingValue(SectionName(), "MonitorDevice", &m_strMonitorDevice);
    std::string virtualMicrophone;
    ReadExistingValue(SectionName(), "VirtualMicrophone", &virtualMicrophone);
    m_bVirtualMicrophone = virtualMicrophone == "1";
    ReadExistingValue(SectionName(), "MicrophoneDevice", &m_strMicrophoneDevice);
    std::string rate;
    m_nMixRate = 0;
    if (ReadExistingValue(SectionName(), "MixRate", &rate) && !rate.empty() && rate.size() <= 6 &&
        rate.find_first_not_of("0123456789") == std::string::npos) {
        const auto value = static_cast<std::uint32_t>(std::stoul(rate));
        if (value >= 8000 && value <= 192000)
            m_nMixRate = value;
    }
}

void AppSettings::SaveVirtualMicrophone() {
    WriteValue(SectionName(), "VirtualMicrophone", m_bVirtualMicrophone ? "1" : "0");
}

void AppSettings::SaveMicrophoneDevice() {
    WriteValue(SectionName(), "MicrophoneDevice", m_strMicrophoneDevice);
}

void AppSettings::SaveDeviceSettings() {
    WriteValue(SectionName(), "OutputDevice", m_strOutputDevice);
    WriteValue(SectionName(), "MonitorDevice", m_strMonitorDevice);
}

bool AppSettings::RemoveValue(const std::string& section, const std::string& key) {
    std::string text;
    if (m_strIniPath.empty() || !ReadWholeFile(m_strIniPath, text))
        return false;
    const KeyPlace place = FindKey(text, section, key);
    if (!place.keyFound)
        return true;
    text.erase(place.lineBegin, place.lineNext - place.lineBegin);
    return WriteFileAtomically(m_strIniPath, text);
}

bool AppSettings::WriteValue(const std::string& section, const std::string& key,
                             const std::string& value) {
    // A line break would end the line and turn the rest into lines of their own: such a value
    // (a set file named with one) stays in memory only.
    if (m_strIniPath.empty() || value.find_first_of("\r\n") != std::string::npos)
        return false;
    const std::string& osPath = m_strIniPath;
    std::string text;
    // A file that exists but cannot be read is not overwritten: that would lose its other keys.
    if (!ReadWholeFile(osPath, text))
        return false;

    // New lines follow the file's own line ends; a new file gets CR LF.
    const bool lfOnly =
        text.find('\n') != std::string::npos && text.find("\r\n") == std::string::npos;
    const std::string eol = lfOnly ? "\n" : "\r\n";
    const std::string quoted = "\"" + value + "\"";

    KeyPlace place = FindKey(text, section, key);
    if (place.keyFound) {
        text.replace(place.valueBegin, place.valueEnd - place.valueBegin, quoted);
    } else {
        std::string addition = key + "=" + quoted + eol;
        std::size_t at = place.sectionFound ? place.insertAt : text.size();
        if (!place.sectionFound)
            addition = "[" + section + "]" + eol + addition;
        if (at > 0 && text[at - 1] != '\n')
            addition = eol + addition;
        text.insert(at, addition);
    }
    return WriteFileAtomically(osPath, text);
}
