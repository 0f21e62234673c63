// SPDX-License-Identifier: GPL-3.0-or-later
// The walk over an in-memory RIFF image (the jingle resource): its own chunk rules, and no read
// outside the image whatever the size fields claim. Images sit in exactly sized heap blocks so
// that ASan sees any stray read.
#include "audio/sound_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <memory>
#include <numeric>
#include <random>

namespace {

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first = 1) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

struct Image {
    explicit Image(const std::vector<std::uint8_t>& bytes)
        : size(bytes.size()), data(std::make_unique<std::uint8_t[]>(bytes.size())) {
        if (size)
            std::memcpy(data.get(), bytes.data(), size);
    }
    std::size_t size;
    std::unique_ptr<std::uint8_t[]> data;
};

struct WalkResult {
    bool found = false;
    std::ptrdiff_t fmtOffset = -1;
    std::ptrdiff_t dataOffset = -1;
    std::uint32_t dataSize = 0;
    std::uint32_t fmtSize = 0;
};

WalkResult Walk(const Image& image) {
    const WAVEFORMATEX* format = reinterpret_cast<const WAVEFORMATEX*>(1);
    const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(1);
    WalkResult r;
    r.dataSize = 99;
    r.found = CSoundDevice::FindWaveInImage(image.data.get(), image.size, &format, &data,
                                            &r.dataSize, &r.fmtSize);
    if (format)
        r.fmtOffset = reinterpret_cast<const std::uint8_t*>(format) - image.data.get();
    if (data)
        r.dataOffset = data - image.data.get();
    return r;
}

struct WalkCase {
    const char* name;
    std::vector<std::uint8_t> image;
    bool found;
    std::ptrdiff_t fmtOffset;
    std::ptrdiff_t dataOffset;
    std::uint32_t dataSize;
};
void PrintTo(const WalkCase& row, std::ostream* os) {
    *os << row.name;
}

std::vector<std::uint8_t> FmtBody(std::size_t size) {
    auto image = WaveBuilder().Fmt(1, 1, 8000, 8, 0).Build();
    std::vector<std::uint8_t> body(image.begin() + 20, image.begin() + 38);
    body.resize(size, 0);
    return body;
}

std::vector<std::uint8_t> WithRiffSize(std::vector<std::uint8_t> image, std::uint32_t size) {
    std::memcpy(image.data() + 4, &size, 4);
    return image;
}

std::vector<WalkCase> WalkCases() {
    return {
        {"fmt_then_data", WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(8)).Build(), true, 20, 44, 8},
        {"data_before_fmt", WaveBuilder().Data(Bytes(6)).Fmt(1, 1, 8000, 8).Build(), true, 34, 20,
         6},
        {"fmt15_accepted", WaveBuilder().Chunk("fmt ", FmtBody(15)).Data(Bytes(4)).Build(), true,
         20, 44, 4},
        {"fmt14_accepted", WaveBuilder().Chunk("fmt ", FmtBody(14)).Data(Bytes(4)).Build(), true,
         20, 42, 4},
        {"first_fmt13_ends_walk",
         WaveBuilder().Chunk("fmt ", FmtBody(13)).Fmt(1, 1, 8000, 8).Data(Bytes(4)).Build(), false,
         -1, -1, 0},
        {"later_fmt_ignored",
         WaveBuilder().Fmt(1, 1, 8000, 8).Chunk("fmt ", FmtBody(2)).Data(Bytes(4)).Build(), true,
         20, 54, 4},
        {"empty_data_then_filled", WaveBuilder().Fmt(1, 1, 8000, 8).Data({}).Data(Bytes(5)).Build(),
         true, 20, 52, 5},
        {"first_filled_data_kept",
         WaveBuilder().Data(Bytes(3)).Data(Bytes(5)).Fmt(1, 1, 8000, 8).Build(), true, 46, 20, 3},
        {"odd_chunk_then_pad",
         WaveBuilder().Chunk("junk", Bytes(3)).Fmt(1, 1, 8000, 8).Data(Bytes(2)).Build(), true, 32,
         56, 2},
        {"only_empty_data", WaveBuilder().Fmt(1, 1, 8000, 8).Data({}).Build(), false, -1, -1, 0},
        {"no_fmt", WaveBuilder().Data(Bytes(4)).Build(), false, -1, -1, 0},
        {"not_riff",
         [] {
             auto i = WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(4)).Build();
             i[0] = 'X';
             return i;
         }(),
         false, -1, -1, 0},
        {"not_wave",
         [] {
             auto i = WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(4)).Build();
             i[11] = 'X';
             return i;
         }(),
         false, -1, -1, 0},
        {"too_short", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V'}, false, -1, -1, 0},
        // The RIFF size ends the walk before the data chunk.
        {"riff_size_cuts_data", WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(4)).Build(4 + 24),
         false, -1, -1, 0},
        // From here the size fields lie; the walk stays inside the image.
        {"data_claims_more_than_image",
         WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(10), 100000).Build(), true, 20, 44, 10},
        {"data_cut_by_riff_size",
         WithRiffSize(WaveBuilder().Fmt(1, 1, 8000, 8).Data(Bytes(10)).Build(), 4 + 24 + 8 + 3),
         true, 20, 44, 3},
        {"riff_claims_more_than_image",
         WithRiffSize(WaveBuilder().Fmt(1, 1, 8000, 8).Build(), 0xFFFFFFF0), false, -1, -1, 0},
        {"header_cut_by_image_end",
         [] {
             auto i = WithRiffSize(WaveBuilder().Fmt(1, 1, 8000, 8).Build(), 1000);
             i.insert(i.end(), {'d', 'a', 't'});
             return i;
         }(),
         false, -1, -1, 0},
        {"fmt_cut_by_image_end",
         [] {
             auto i = WithRiffSize(WaveBuilder().Data(Bytes(4)).Build(), 1000);
             i.insert(i.end(), {'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0});
             return i;
         }(),
         false, -1, -1, 0},
        {"huge_skip_wraps_nothing",
         WaveBuilder()
             .Fmt(1, 1, 8000, 8)
             .Chunk("junk", Bytes(2), 0xFFFFFFFF)
             .Data(Bytes(4))
             .Build(),
         false, -1, -1, 0},
    };
}

class WaveImageWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WaveImageWalk, FindsFormatAndData) {
    const WalkCase& c = GetParam();
    const Image image(c.image);
    const WalkResult r = Walk(image);
    EXPECT_EQ(r.found, c.found);
    EXPECT_EQ(r.fmtOffset, c.fmtOffset);
    EXPECT_EQ(r.dataOffset, c.dataOffset);
    EXPECT_EQ(r.dataSize, c.dataSize);
    if (r.found) {
        EXPECT_LE(r.fmtOffset + r.fmtSize, static_cast<std::ptrdiff_t>(image.size));
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, WaveImageWalk, ::testing::ValuesIn(WalkCases()),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(WaveImageWalk, TheJingleIsTheAgreedFormat) {
    const Image image(std::vector<std::uint8_t>(JingleImage(), JingleImage() + JingleImageSize()));
    const WalkResult r = Walk(image);
    ASSERT_TRUE(r.found);
    WAVEFORMATEX format;
    std::memcpy(&format, image.data.get() + r.fmtOffset, 16);
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 1);
    EXPECT_EQ(format.nSamplesPerSec, 8000u);
    EXPECT_EQ(format.wBitsPerSample, 8);
    EXPECT_EQ(format.nBlockAlign, 1);
    EXPECT_EQ(r.dataSize, 17316u);
    EXPECT_EQ(r.dataOffset + r.dataSize, image.size);
}

// Mutated and cut images: whatever the walk returns lies inside the image.
TEST(WaveImageWalk, MutatedImagesStayInBounds) {
    const auto base =
        WaveBuilder().Chunk("LIST", Bytes(5)).Fmt(1, 2, 22050, 16).Data({}).Data(Bytes(40)).Build();
    std::mt19937 rng(99);
    int found = 0;
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t> bytes = base;
        for (int k = 0; k < 1 + i % 5; ++k)
            bytes[4 + rng() % (bytes.size() - 4)] = static_cast<std::uint8_t>(rng());
        bytes.resize(bytes.size() - rng() % 30);
        const Image image(bytes);
        const WalkResult r = Walk(image);
        if (!r.found)
            continue;
        ++found;
        ASSERT_GE(r.fmtSize, 14u);
        ASSERT_LE(static_cast<std::size_t>(r.fmtOffset) + r.fmtSize, image.size);
        ASSERT_GT(r.dataSize, 0u);
        ASSERT_LE(static_cast<std::size_t>(r.dataOffset) + r.dataSize, image.size);
    }
    EXPECT_GT(found, 0);
}

} // namespace
