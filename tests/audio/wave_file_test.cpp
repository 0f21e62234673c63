// SPDX-License-Identifier: GPL-3.0-or-later
// The effect file reader: which files open, what format record and data size they give, and how
// reads end. Malformed files must be refused without a crash (run under ASan/UBSan too).
#include "audio/wave_file.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <filesystem>
#include <numeric>
#include <random>

namespace {

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first = 1) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// The 16-byte head of a fmt body, as the reader must copy it.
std::vector<std::uint8_t> Head(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                               std::uint16_t bits) {
    auto image = WaveBuilder().Fmt(tag, channels, rate, bits).Build();
    return std::vector<std::uint8_t>(image.begin() + 20, image.begin() + 36);
}

std::vector<std::uint8_t> Record(std::vector<std::uint8_t> head, std::uint16_t cbSize,
                                 const std::vector<std::uint8_t>& extra = {}) {
    head.push_back(static_cast<std::uint8_t>(cbSize));
    head.push_back(static_cast<std::uint8_t>(cbSize >> 8));
    head.insert(head.end(), extra.begin(), extra.end());
    return head;
}

struct OpenCase {
    const char* name;
    std::vector<std::uint8_t> image;
    bool opens;
    std::vector<std::uint8_t> record; // expected format record when it opens
    std::uint32_t dataSize;
};
void PrintTo(const OpenCase& row, std::ostream* os) {
    *os << row.name;
}

std::vector<OpenCase> OpenCases() {
    const auto pcm = Head(1, 2, 22050, 16);
    const auto extra = Bytes(32, 100);
    std::vector<std::uint8_t> fmt15 = pcm;
    fmt15.resize(15);
    std::vector<std::uint8_t> fmt14 = pcm;
    fmt14.resize(14);
    return {
        {"pcm_fmt16", WaveBuilder().Fmt(1, 2, 22050, 16).Data(Bytes(8)).Build(), true,
         Record(pcm, 0), 8},
        {"pcm_fmt18_cbsize_ignored",
         WaveBuilder().Fmt(1, 2, 22050, 16, 0x1234).Data(Bytes(8)).Build(), true, Record(pcm, 0),
         8},
        {"non_pcm_cbsize32", WaveBuilder().Fmt(2, 1, 8000, 4, 32, extra).Data(Bytes(6)).Build(),
         true, Record(Head(2, 1, 8000, 4), 32, extra), 6},
        {"non_pcm_cbsize0", WaveBuilder().Fmt(3, 1, 48000, 32, 0).Data(Bytes(4)).Build(), true,
         Record(Head(3, 1, 48000, 32), 0), 4},
        // The extra count is read right after 16 bytes whatever the chunk's size: here it is
        // "da" of the next chunk, far more than the file holds.
        {"non_pcm_fmt16_count_from_next_chunk",
         WaveBuilder().Fmt(3, 1, 48000, 32).Data(Bytes(4)).Build(),
         false,
         {},
         0},
        {"non_pcm_extra_cut_by_file_end",
         WaveBuilder().Fmt(2, 1, 8000, 4, 32, Bytes(10)).Build(),
         false,
         {},
         0},
        {"fmt15_refused", WaveBuilder().Chunk("fmt ", fmt15).Data(Bytes(4)).Build(), false, {}, 0},
        {"fmt14_refused", WaveBuilder().Chunk("fmt ", fmt14).Data(Bytes(4)).Build(), false, {}, 0},
        {"data_before_fmt", WaveBuilder().Data(Bytes(10)).Fmt(1, 1, 8000, 8).Build(), true,
         Record(Head(1, 1, 8000, 8), 0), 10},
        {"odd_chunk_with_pad_before_fmt",
         WaveBuilder()
             .Chunk("LIST", Bytes(3))
             .Fmt(1, 1, 8000, 8)
             .Chunk("junk", Bytes(5))
             .Data(Bytes(7))
             .Build(),
         true, Record(Head(1, 1, 8000, 8), 0), 7},
        {"first_fmt_taken",
         WaveBuilder().Fmt(1, 1, 8000, 8).Fmt(1, 2, 44100, 16).Data(Bytes(2)).Build(), true,
         Record(Head(1, 1, 8000, 8), 0), 2},
        {"empty_data_taken_first", WaveBuilder().Fmt(1, 1, 8000, 8).Data({}).Data(Bytes(9)).Build(),
         true, Record(Head(1, 1, 8000, 8), 0), 0},
        {"data_claims_more_than_file",
         WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(10), 1u << 30).Build(), true,
         Record(Head(1, 1, 8000, 8), 0), 1u << 30},
        {"no_fmt", WaveBuilder().Data(Bytes(10)).Build(), false, {}, 0},
        {"no_data", WaveBuilder().Fmt(1, 1, 8000, 8).Chunk("junk", Bytes(4)).Build(), false, {}, 0},
        // Chunks past the RIFF chunk's declared end are not searched.
        {"fmt_beyond_riff_end",
         WaveBuilder().Chunk("junk", Bytes(4)).Fmt(1, 1, 8000, 8).Data(Bytes(4)).Build(4 + 12),
         false,
         {},
         0},
        {"data_beyond_riff_end",
         WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(4)).Build(4 + 24),
         false,
         {},
         0},
        {"fmt_size_huge_data_before",
         WaveBuilder().Data(Bytes(4)).Chunk("fmt ", pcm, 0xFFFFFFF0).Build(), true, Record(pcm, 0),
         4},
        {"fmt_size_huge_hides_data_after",
         WaveBuilder().Chunk("fmt ", pcm, 0xFFFFFFF0).Data(Bytes(4)).Build(),
         false,
         {},
         0},
        {"junk_size_huge_hides_data",
         WaveBuilder()
             .Fmt(1, 1, 8000, 8)
             .Chunk("junk", Bytes(4), 0xFFFFFFFF)
             .Data(Bytes(4))
             .Build(),
         false,
         {},
         0},
    };
}

class WaveFileOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(WaveFileOpen, FormatRecordAndDataSize) {
    const OpenCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.Path() + "a.wav", c.image));
    CWaveFile reader;
    const HRESULT hr = reader.Open(dir.Cp932("a.wav"));
    if (!c.opens) {
        EXPECT_EQ(hr, E_FAIL);
        return;
    }
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(reader.Format(), nullptr);
    EXPECT_EQ(reader.m_pwfx, c.record);
    EXPECT_EQ(reader.Format()->cbSize + sizeof(WAVEFORMATEX), c.record.size());
    EXPECT_EQ(reader.DataSize(), c.dataSize);
}

INSTANTIATE_TEST_SUITE_P(Rules, WaveFileOpen, ::testing::ValuesIn(OpenCases()),
                         [](const auto& row) { return std::string(row.param.name); });

// The sample bytes come out in order, across the reader's buffer refills, in uneven pieces.
TEST(WaveFileRead, DeliversTheSamplesInOrder) {
    std::vector<std::uint8_t> samples(200003);
    std::mt19937 rng(7);
    for (auto& b : samples)
        b = static_cast<std::uint8_t>(rng());
    TempDir dir;
    ASSERT_TRUE(WriteBytes(
        dir.Path() + "big.wav",
        WaveBuilder().Chunk("LIST", Bytes(70001)).Fmt(1, 2, 44100, 16).Data(samples).Build()));
    CWaveFile reader;
    ASSERT_EQ(reader.Open(dir.Cp932("big.wav")), S_OK);
    ASSERT_EQ(reader.AvailableDataSize(), samples.size());
    std::vector<std::uint8_t> got(samples.size() + 16, 0xEE);
    std::size_t at = 0;
    for (std::uint32_t piece : {1u, 65535u, 3u, 65536u, 70000u}) {
        std::uint32_t delivered = 12345;
        ASSERT_EQ(reader.Read(piece, got.data() + at, &delivered), S_OK);
        EXPECT_EQ(delivered, std::min<std::size_t>(piece, samples.size() - at));
        at += delivered;
    }
    EXPECT_EQ(at, samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), got.begin()));
    EXPECT_EQ(got[samples.size()], 0xEE) << "wrote past what was left";
}

TEST(WaveFileRead, LargerThanLeftDeliversOnlyWhatIsLeft) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(
        dir.Path() + "a.wav",
        WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(10)).Chunk("junk", Bytes(20)).Build()));
    CWaveFile reader;
    ASSERT_EQ(reader.Open(dir.Cp932("a.wav")), S_OK);
    std::vector<std::uint8_t> out(64, 0);
    std::uint32_t delivered = 0;
    ASSERT_EQ(reader.Read(4, out.data(), &delivered), S_OK);
    EXPECT_EQ(delivered, 4u);
    ASSERT_EQ(reader.Read(50, out.data() + 4, &delivered), S_OK);
    EXPECT_EQ(delivered, 6u);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 10), Bytes(10));
    EXPECT_EQ(out[10], 0) << "read into the chunk after data";
    ASSERT_EQ(reader.Read(5, out.data(), &delivered), S_OK);
    EXPECT_EQ(delivered, 0u);
    EXPECT_EQ(reader.DataSize(), 0u);
}

// A data chunk longer than the file: the bytes that are there are copied, then E_FAIL.
TEST(WaveFileRead, TruncatedDataDeliversWhatIsThereThenFails) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.Path() + "a.wav",
                           WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(40), 100).Build()));
    CWaveFile reader;
    ASSERT_EQ(reader.Open(dir.Cp932("a.wav")), S_OK);
    EXPECT_EQ(reader.DataSize(), 100u);
    EXPECT_EQ(reader.AvailableDataSize(), 40u);
    std::vector<std::uint8_t> out(100, 0xEE);
    std::uint32_t delivered = 77;
    EXPECT_EQ(reader.Read(100, out.data(), &delivered), E_FAIL);
    EXPECT_EQ(delivered, 0u);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 40), Bytes(40));
    EXPECT_EQ(out[40], 0xEE);
}

// The RIFF chunk's end bounds the chunk search, not the samples: a RIFF size that understates
// the file (a streaming encoder's placeholder) still loads the whole data chunk; the file's end
// bounds it.
TEST(WaveFileRead, SamplesPastAnUnderstatedRiffSizeLoadWhole) {
    struct Row {
        std::uint32_t riffSize, declared, inFile, available;
    } rows[] = {
        {4 + 24 + 8 + 12, 20, 20, 20}, // 12 of the 20 sample bytes inside the RIFF chunk
        {4 + 24 + 8, 20, 20, 20},      // none inside
        {4 + 24 + 8 + 12, 30, 20, 20}, // and the data chunk claims more than the file holds
    };
    for (const Row& row : rows) {
        auto image = WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(row.inFile), row.declared).Build();
        image[4] = static_cast<std::uint8_t>(row.riffSize);
        TempDir dir;
        ASSERT_TRUE(WriteBytes(dir.Path() + "a.wav", image));
        CWaveFile reader;
        ASSERT_EQ(reader.Open(dir.Cp932("a.wav")), S_OK) << row.riffSize;
        EXPECT_EQ(reader.DataSize(), row.declared);
        EXPECT_EQ(reader.AvailableDataSize(), row.available);
        std::vector<std::uint8_t> out(row.available, 0);
        std::uint32_t delivered = 0;
        EXPECT_EQ(reader.Read(row.available, out.data(), &delivered), S_OK);
        EXPECT_EQ(out, Bytes(row.available));
    }
}

TEST(WaveFileRead, FailsWithoutAnOpenFile) {
    CWaveFile reader;
    std::uint8_t out[4] = {};
    std::uint32_t delivered = 9;
    EXPECT_EQ(reader.Read(4, out, &delivered), E_FAIL);
    EXPECT_EQ(delivered, 0u);
}

TEST(WaveFileOpenPath, JapaneseFileNameIsConvertedForTheHost) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.Path() + "効果音ソ.wav",
                           WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(3)).Build()));
    CWaveFile reader;
    EXPECT_EQ(reader.Open(dir.Cp932("効果音ソ.wav")), S_OK);
    EXPECT_EQ(reader.DataSize(), 3u);
}

TEST(WaveFileOpenPath, MalformedFilesAreRefused) {
    TempDir dir;
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> files = {
        {"empty.wav", {}},
        {"short.wav", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A'}},
        {"magic.wav", WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(4)).Build()},
        {"form.wav", WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(4)).Build()},
        {"riff_huge_no_chunks.wav",
         {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'}},
        {"text.wav", {'h', 'e', 'l', 'l', 'o', '\n'}},
    };
    for (auto [name, bytes] : files) {
        if (std::string(name) == "magic.wav")
            bytes[0] = 'r';
        if (std::string(name) == "form.wav")
            bytes[8] = 'A';
        ASSERT_TRUE(WriteBytes(dir.Path() + name, bytes));
        CWaveFile reader;
        EXPECT_EQ(reader.Open(dir.Cp932(name)), E_FAIL) << name;
        EXPECT_EQ(reader.Format(), nullptr) << name;
    }
    std::filesystem::create_directory(dir.Path() + "folder.wav");
    for (const char* name : {"folder.wav", "missing.wav"}) {
        CWaveFile reader;
        EXPECT_EQ(reader.Open(dir.Cp932(name)), E_FAIL) << name;
    }
}

// Random and mutated files: never a crash, never a read or allocation past the file; when one
// happens to open, the reader's sizes stay inside the file.
TEST(WaveFileOpenPath, RandomAndMutatedFilesStayInBounds) {
    TempDir dir;
    const auto base = WaveBuilder()
                          .Chunk("LIST", Bytes(5))
                          .Fmt(2, 2, 22050, 4, 4, Bytes(4))
                          .Data(Bytes(64))
                          .Build();
    std::mt19937 rng(12345);
    int opened = 0;
    for (int i = 0; i < 400; ++i) {
        std::vector<std::uint8_t> bytes = base;
        if (i % 4 == 0) {
            bytes.resize(rng() % 96);
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(rng());
        } else {
            for (int k = 0; k < 1 + i % 6; ++k)
                bytes[12 + rng() % (bytes.size() - 12)] = static_cast<std::uint8_t>(rng());
            bytes.resize(bytes.size() - rng() % 40);
        }
        ASSERT_TRUE(WriteBytes(dir.Path() + "r.wav", bytes));
        CWaveFile reader;
        if (reader.Open(dir.Cp932("r.wav")) != S_OK)
            continue;
        ++opened;
        ASSERT_NE(reader.Format(), nullptr);
        EXPECT_LE(reader.AvailableDataSize(), bytes.size());
        std::vector<std::uint8_t> out(reader.AvailableDataSize());
        std::uint32_t delivered = 0;
        EXPECT_EQ(reader.Read(static_cast<std::uint32_t>(out.size()), out.data(), &delivered),
                  S_OK);
        EXPECT_EQ(delivered, out.size());
    }
    EXPECT_GT(opened, 0) << "the mutations never left a readable file: the test lost its teeth";
}

} // namespace
