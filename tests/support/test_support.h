// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the test suites: temporary directories, WAVE images, recorded messages.
#pragma once

#include "base/atomic_file.h"
#include "base/message.h"
#include "model/effect_table.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The rounds of a soak or crash loop: a quarter under a sanitizer, whose every round costs ten
// times more, so that the test command stays short; the plain build runs them all.
// gcc names the sanitizers in macros, clang only answers __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OTOMARU_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OTOMARU_TEST_SANITIZED 1
#endif
#endif
constexpr int SoakRounds(int rounds) {
#ifdef OTOMARU_TEST_SANITIZED
    return rounds / 4 > 0 ? rounds / 4 : 1;
#else
    return rounds;
#endif
}

// CP932 bytes of a UTF-8 literal, so tests can write Japanese texts readably.
std::string Sj(std::string_view utf8);

// A fresh directory under /tmp, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // UTF-8 host path, ending with '/'.
    const std::string& Path() const { return m_path; }
    // CP932 form of Path() + name.
    std::string Cp932(std::string_view utf8Name = {}) const;

private:
    std::string m_path;
};

std::vector<std::uint8_t> ReadBytes(const std::string& utf8Path);
bool WriteBytes(const std::string& utf8Path, const std::vector<std::uint8_t>& bytes);
bool WriteText(const std::string& utf8Path, std::string_view text);
std::string ReadText(const std::string& utf8Path);
// This process's resident memory in kB (VmRSS), -1 when it cannot be read.
long ResidentKb();

// A RIFF WAVE image built chunk by chunk.
class WaveBuilder {
public:
    // A "fmt " chunk from the usual fields; extra bytes follow the 16-byte body when cbSize is
    // given (non-PCM) and `extra` is filled in.
    WaveBuilder& Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                     std::uint16_t bits, int cbSize = -1, std::vector<std::uint8_t> extra = {});
    // Any chunk, padded to an even size. `declaredSize` overrides the size field (-1 = real).
    WaveBuilder& Chunk(std::string_view id, const std::vector<std::uint8_t>& body,
                       std::int64_t declaredSize = -1);
    WaveBuilder& Data(const std::vector<std::uint8_t>& samples, std::int64_t declaredSize = -1) {
        return Chunk("data", samples, declaredSize);
    }
    // The image; the RIFF size is the real one unless overridden.
    std::vector<std::uint8_t> Build(std::int64_t riffSize = -1) const;

private:
    std::vector<std::uint8_t> m_body;
};

// 16-bit PCM samples as little-endian bytes.
std::vector<std::uint8_t> Pcm16Bytes(const std::vector<std::int16_t>& samples);
// A complete 16-bit PCM WAVE image.
std::vector<std::uint8_t> MakePcm16Wave(std::uint16_t channels, std::uint32_t rate,
                                        const std::vector<std::int16_t>& samples);

// Records every message box and answers from a queue (IDOK / IDNO when the queue is empty).
class MessageRecorder {
public:
    struct Message {
        std::string text; // CP932
        std::string caption;
        unsigned type;
    };
    MessageRecorder();
    void Answer(int result) { m_answers.push_back(result); }
    const std::vector<Message>& Messages() const { return m_messages; }
    std::vector<std::string> Texts() const;
    void Clear() { m_messages.clear(); }

private:
    std::vector<Message> m_messages;
    std::deque<int> m_answers;
    ScopedMessageFunction m_scope;
};

// Every stored field of every entry, one text per entry, for comparing tables.
std::vector<std::string> TableRows(const EffectTable& table);

// Threads of this process, and a wait (without a tight deadline: joined threads leave /proc a
// moment after the join) until no more than `expected` are left.
int ThreadCount();
bool ThreadCountReturnsTo(int expected);

// Runs `body` in a child process without root's rights (root reads and writes even files with
// no permission bits), and returns what the body returned.
std::string RunAsNobody(const std::function<std::string()>& body);

// A writer killed part way through a replacement: runs `write` in a child process that SIGKILL
// ends the `atCall`-th time the atomic writer comes to `step`. True when the child died so; false
// when the step never came.
bool KilledAtWriteStep(AtomicWriteStep step, int atCall, const std::function<void()>& write);
