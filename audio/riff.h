// SPDX-License-Identifier: GPL-3.0-or-later
// RIFF's building blocks, shared by the file reader, the jingle's image reader and the sample
// converters: four-character codes and little-endian numbers read from bytes of any alignment,
// and appended to a WAVE image by the programs that make one (the generators, tests, benchmarks).
#pragma once

#include <cstdint>
#include <vector>

constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

inline constexpr std::uint32_t kRiff = MakeFourCC('R', 'I', 'F', 'F');
inline constexpr std::uint32_t kWave = MakeFourCC('W', 'A', 'V', 'E');
inline constexpr std::uint32_t kFmt = MakeFourCC('f', 'm', 't', ' ');
inline constexpr std::uint32_t kData = MakeFourCC('d', 'a', 't', 'a');

inline std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline void PutLe16(std::vector<std::uint8_t>& v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}

inline void PutLe32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    PutLe16(v, static_cast<std::uint16_t>(x));
    PutLe16(v, static_cast<std::uint16_t>(x >> 16));
}
