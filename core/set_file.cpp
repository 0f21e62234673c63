// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the sound-source file. The reader keeps every effect line it can parse,
// also when its WAVE file is missing or does not load, so that the next write does not drop the
// user's effects; the writer replaces the file atomically so a failed write never loses it.
#include "core/set_file.h"

#include "base/atomic_file.h"
#include "base/message.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "core/texts.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kFieldCount = 8;
// A line is taken in pieces of at most this many bytes, as a 4096-byte buffer with its
// terminator would take it: a longer line becomes several lines.
constexpr std::size_t kMaxPiece = 4095;

const std::string& MagicLine() {
    static const std::string k = "MOK_FILE";
    return k;
}

// The path is the system's; a character CP932 has no form for shows as '?' in the message only.
// The message as shown: the path in CP932 (a character it cannot hold as '?'), then the text.
std::string PathMessage(const std::string& osPath, const std::string& text) {
    return Cp932FromUtf8(osPath) + text;
}

void ShowPathMessage(const std::string& osPath, const std::string& text) {
    AfxMessageBox(PathMessage(osPath, text), MB_OK | MB_ICONEXCLAMATION);
}

// Buffered reading of line pieces: the bytes up to and including the next LF, at most kMaxPiece.
class CLineReader {
public:
    explicit CLineReader(std::FILE* file) : m_file(file) {}
    bool ReadPiece(std::string& piece) {
        piece.clear();
        int c;
        while (piece.size() < kMaxPiece && (c = getc_unlocked(m_file)) != EOF) {
            piece.push_back(static_cast<char>(c));
            if (c == '\n')
                break;
        }
        return !piece.empty();
    }

private:
    std::FILE* m_file;
};

// A line's text ends at its first NUL, as a C string read from the file would end it.
void EndAtNul(std::string& line) {
    line.resize(std::strlen(line.c_str()));
}

void AppendField(std::string& out, const std::string& text) {
    // The file holds C strings: a text ends at its first NUL, as a formatted write would end it.
    out.append(text.c_str());
}

// Every field of the text, empty ones included: n commas give n + 1 fields.
std::vector<std::string> SplitAllFields(std::string_view text) {
    std::vector<std::string> fields(1);
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (IsLeadByte(text, pos)) {
            fields.back().append(text.substr(pos, 2));
            ++pos;
        } else if (text[pos] == ',') {
            fields.emplace_back();
        } else {
            fields.back().push_back(text[pos]);
        }
    }
    return fields;
}

} // namespace

const std::string& UnholdableTextMessage() {
    static const std::string k = Cp932FromUtf8(texts::kUnholdableText);
    return k;
}

void TrimLineEnd(std::string& line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
}

int SplitFields(char* line, char delimiter, char** slots, int slotCount) {
    const std::string_view text(line);
    std::size_t pos = 0;
    int count = 0;
    for (int i = 0; i < slotCount; ++i) {
        if (pos >= text.size()) {
            slots[i] = nullptr;
            continue;
        }
        slots[i] = line + pos;
        ++count;
        while (pos < text.size()) {
            if (IsLeadByte(text, pos)) {
                pos += 2;
            } else if (line[pos] == delimiter) {
                line[pos] = '\0';
                ++pos;
                break;
            } else {
                ++pos;
            }
        }
    }
    return count;
}

bool FileExists(const std::string& path) {
    if (path.empty() || path.back() == '/')
        return false;
    if (const std::size_t backslash = FindLastBackslash(path); backslash == path.size() - 1)
        return false;
    return OsPathExists(ToOsPath(path));
}

bool OsPathExists(const std::string& osPath) {
    struct stat st {};
    return stat(osPath.c_str(), &st) == 0;
}

std::string ResolveWavePath(const std::string& waveDir, const std::string& pathText) {
    if (FindBackslash(pathText) == std::string_view::npos)
        return waveDir + pathText;
    return pathText;
}

EffectSound LoadEffectSound(const WaveLoader& load, const std::string& fullPath) {
    EffectSound sound;
    if (load && FileExists(fullPath))
        sound.dwDataLength = load(fullPath, sound.pBuffer);
    if (sound.dwDataLength == 0 || !sound.pBuffer)
        return {};
    return sound;
}

bool ReadSetFile(const std::string& path, EffectTable& table, std::string& waveDir,
                 const WaveLoader& load, std::string* shown) {
    static const std::string kCannotRead = Cp932FromUtf8(texts::kCannotRead);
    static const std::string kNotSetFile = Cp932FromUtf8(texts::kNotSetFile);
    static const std::string kNoWaveDir = Cp932FromUtf8(texts::kNoWaveDir);

    if (shown)
        shown->clear();
    auto report = [&](const std::string& text) {
        ShowPathMessage(path, text);
        if (shown)
            *shown = PathMessage(path, text);
    };
    table.RemoveAll();
    // Only a regular file is read: a FIFO or a device would hold the window's thread.
    FilePtr file = FOpenRegularFileForReading(path);
    if (!file) {
        report(kCannotRead);
        return false;
    }
    CLineReader reader(file.get());
    // A read that fails (a directory opens but cannot be read, an I/O error) is a file that
    // cannot be read, not an empty one: the user must not take it for a broken set.
    auto readFailed = [&] {
        if (!std::ferror(file.get()))
            return false;
        table.RemoveAll();
        report(kCannotRead);
        return true;
    };
    std::string line;
    if (!reader.ReadPiece(line)) {
        if (!readFailed())
            report(kNotSetFile);
        return false;
    }
    EndAtNul(line);
    TrimLineEnd(line);
    if (line != MagicLine()) {
        report(kNotSetFile);
        return false;
    }
    if (!reader.ReadPiece(line)) {
        if (!readFailed())
            report(kNoWaveDir);
        return false;
    }
    EndAtNul(line);
    TrimLineEnd(line);
    waveDir = line;

    while (reader.ReadPiece(line)) {
        // The comment test looks at the line as read, before any trimming.
        if (line[0] == '/')
            continue;
        // The line end trimmed is the text's, so that the last option field keeps nothing a
        // write could not bring back.
        EndAtNul(line);
        TrimLineEnd(line);
        const std::size_t lineEnd = line.size();
        char* fields[kFieldCount];
        if (SplitFields(line.data(), ',', fields, kFieldCount) < kFieldCount)
            continue;

        EffectEntry entry;
        entry.strWavePath = fields[0];
        entry.strName = fields[1];
        entry.nModifiers = AtoI(fields[2]);
        entry.nKey = AtoI(fields[3]);
        entry.nPan = AtoI(fields[4]);
        entry.nVolume = AtoI(fields[5]);
        entry.nRepeat = AtoI(fields[6]);
        entry.nInterval = AtoI(fields[7]);
        // The options follow the comma that ended the eighth field.
        const char* eighthEnd = fields[7] + std::strlen(fields[7]);
        if (eighthEnd < line.c_str() + lineEnd)
            entry.options = ParseEffectOptions(
                SplitAllFields(std::string_view(eighthEnd + 1, line.c_str() + lineEnd)));

        // An effect without a sound stays in the set (and in the file at the next write); it
        // holds no buffer, so nothing can play or release one for it.
        if (load) {
            EffectSound own = LoadEffectSound(load, ResolveWavePath(waveDir, entry.strWavePath));
            entry.pBuffer = std::move(own.pBuffer);
            entry.dwDataLength = own.dwDataLength;
            for (const std::string& added : entry.options.files)
                entry.extraSounds.push_back(LoadEffectSound(load, ResolveWavePath(waveDir, added)));
        }
        table.Add(entry);
    }
    return !readFailed();
}

bool WriteSetFile(const std::string& path, const std::string& waveDir, const EffectTable& table) {
    static const std::string kCannotWrite = Cp932FromUtf8(texts::kCannotWrite);

    std::string text;
    text.reserve(64 + static_cast<std::size_t>(table.GetSize()) * 64);
    text += MagicLine();
    text += "\r\n";
    AppendField(text, waveDir);
    text += "\r\n";
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntry& e = table.GetAt(i);
        AppendField(text, e.strWavePath);
        text += ',';
        AppendField(text, e.strName);
        for (std::int32_t n : {e.nModifiers.load(), e.nKey.load(), e.nPan.load(), e.nVolume.load(),
                               e.nRepeat.load(), e.nInterval.load()}) {
            text += ',';
            text += std::to_string(n);
        }
        for (const std::string& field : FormatEffectOptions(e.options)) {
            text += ',';
            AppendField(text, field);
        }
        text += "\r\n";
    }
    if (!WriteFileAtomically(path, text)) {
        ShowPathMessage(path, kCannotWrite);
        return false;
    }
    return true;
}

bool IsStorableFieldText(std::string_view cp932) {
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        if (IsLeadByte(cp932, i)) {
            ++i;
            continue;
        }
        const char c = cp932[i];
        if (c == ',' || c == '\r' || c == '\n') {
            return false;
        }
    }
    return true;
}
