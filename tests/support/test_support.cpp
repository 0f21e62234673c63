// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/test_support.h"

#include "audio/riff.h"
#include "base/text.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

std::string Sj(std::string_view utf8) {
    return Cp932FromUtf8(utf8);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "otomaru-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    m_path = std::string(made ? made : pattern.c_str()) + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable again first, so read-only test directories go too.
    for (auto& e : std::filesystem::recursive_directory_iterator(m_path, ec))
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::Cp932(std::string_view utf8Name) const {
    return Cp932FromUtf8(m_path + std::string(utf8Name));
}

std::vector<std::uint8_t> ReadBytes(const std::string& utf8Path) {
    std::ifstream in(utf8Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteBytes(const std::string& utf8Path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(utf8Path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteText(const std::string& utf8Path, std::string_view text) {
    return WriteBytes(utf8Path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const std::string& utf8Path) {
    auto bytes = ReadBytes(utf8Path);
    return std::string(bytes.begin(), bytes.end());
}

WaveBuilder& WaveBuilder::Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                              std::uint16_t bits, int cbSize, std::vector<std::uint8_t> extra) {
    std::vector<std::uint8_t> body;
    const std::uint16_t align = static_cast<std::uint16_t>(bits / 8 * channels);
    PutLe16(body, tag);
    PutLe16(body, channels);
    PutLe32(body, rate);
    PutLe32(body, rate * align);
    PutLe16(body, align);
    PutLe16(body, bits);
    if (cbSize >= 0) {
        PutLe16(body, static_cast<std::uint16_t>(cbSize));
        body.insert(body.end(), extra.begin(), extra.end());
    }
    return Chunk("fmt ", body);
}

WaveBuilder& WaveBuilder::Chunk(std::string_view id, const std::vector<std::uint8_t>& body,
                                std::int64_t declaredSize) {
    m_body.insert(m_body.end(), id.begin(), id.begin() + 4);
    PutLe32(m_body, static_cast<std::uint32_t>(declaredSize >= 0 ? declaredSize : body.size()));
    m_body.insert(m_body.end(), body.begin(), body.end());
    if (body.size() % 2)
        m_body.push_back(0);
    return *this;
}

std::vector<std::uint8_t> WaveBuilder::Build(std::int64_t riffSize) const {
    std::vector<std::uint8_t> image = {'R', 'I', 'F', 'F'};
    PutLe32(image, static_cast<std::uint32_t>(riffSize >= 0 ? riffSize : 4 + m_body.size()));
    image.insert(image.end(), {'W', 'A', 'V', 'E'});
    image.insert(image.end(), m_body.begin(), m_body.end());
    return image;
}

std::vector<std::uint8_t> Pcm16Bytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (std::int16_t s : samples)
        PutLe16(bytes, static_cast<std::uint16_t>(s));
    return bytes;
}

std::vector<std::uint8_t> MakePcm16Wave(std::uint16_t channels, std::uint32_t rate,
                                        const std::vector<std::int16_t>& samples) {
    return WaveBuilder().Fmt(1, channels, rate, 16).Data(Pcm16Bytes(samples)).Build();
}

MessageRecorder::MessageRecorder()
    : m_scope([this](const std::string& text, const std::string& caption, unsigned type) {
          m_messages.push_back({text, caption, type});
          if (!m_answers.empty()) {
              int r = m_answers.front();
              m_answers.pop_front();
              return r;
          }
          return (type & MB_BUTTONMASK) == MB_YESNO ? IDNO : IDOK;
      }) {}

std::vector<std::string> MessageRecorder::Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : m_messages)
        texts.push_back(m.text);
    return texts;
}

std::vector<std::string> TableRows(const EffectTable& table) {
    std::vector<std::string> rows;
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntry& e = table.GetAt(i);
        rows.push_back(e.strWavePath + "|" + e.strName + "|" + std::to_string(e.nModifiers) + "|" +
                       std::to_string(e.nKey) + "|" + std::to_string(e.nPan) + "|" +
                       std::to_string(e.nVolume) + "|" + std::to_string(e.nRepeat) + "|" +
                       std::to_string(e.nInterval));
    }
    return rows;
}

int ThreadCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

bool ThreadCountReturnsTo(int expected) {
    for (int i = 0; i < 200; ++i) {
        if (ThreadCount() <= expected)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string RunAsNobody(const std::function<std::string()>& body) {
    int out[2];
    if (pipe(out) != 0)
        return "pipe failed";
    const pid_t child = fork();
    if (child < 0)
        return "fork failed";
    if (child == 0) {
        close(out[0]);
        std::string result;
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            result = "could not drop root";
        else
            result = body();
        (void)!write(out[1], result.data(), result.size());
        _exit(0);
    }
    close(out[1]);
    std::string result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        result += " (child did not end cleanly)";
    return result;
}

bool KilledAtWriteStep(AtomicWriteStep step, int atCall, const std::function<void()>& write) {
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int calls = 0;
        SetAtomicWriteFault([&](AtomicWriteStep reached) {
            if (reached == step && ++calls == atCall)
                raise(SIGKILL);
            return 0;
        });
        write();
        _exit(0);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
           WTERMSIG(status) == SIGKILL;
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
