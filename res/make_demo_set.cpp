// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the demo set that a fresh build starts with: "音源.txt" (CP932) and five short sounds
// of our own making in its WAVE folder, 16-bit mono PCM at 22050 samples per second. The
// effects sit on the number keys 1-5 with different volumes, pans and repeats, so that a first
// start shows every column of both lists doing something.
#include "audio/riff.h"
#include "base/text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;
const double kPi = std::acos(-1.0);

std::vector<std::uint8_t> WaveImage(const std::vector<double>& samples) {
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<std::uint8_t> v;
    PutLe32(v, kRiff);
    PutLe32(v, 36 + dataBytes);
    PutLe32(v, kWave);
    PutLe32(v, kFmt);
    PutLe32(v, 16);
    PutLe16(v, 1); // PCM
    PutLe16(v, 1); // mono
    PutLe32(v, kRate);
    PutLe32(v, kRate * 2);
    PutLe16(v, 2);
    PutLe16(v, 16);
    PutLe32(v, kData);
    PutLe32(v, dataBytes);
    for (double s : samples) {
        const double clamped = std::fmax(-1.0, std::fmin(1.0, s));
        PutLe16(
            v, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(clamped * 32000))));
    }
    return v;
}

// A tone of decaying partials with a 5 ms attack, so that nothing clicks at its start.
std::vector<double> Partials(double seconds, std::initializer_list<std::pair<double, double>> parts,
                             double decay, double level) {
    std::vector<double> out(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double attack = std::fmin(1.0, t / 0.005);
        double s = 0;
        for (const auto& [freq, gain] : parts)
            s += gain * std::sin(2 * kPi * freq * t);
        out[i] = level * attack * std::exp(-decay * t) * s;
    }
    return out;
}

std::vector<double> Chime() {
    return Partials(1.0, {{880.0, 0.6}, {1320.0, 0.3}, {1760.0, 0.15}}, 4.0, 0.8);
}

std::vector<double> Bell() {
    return Partials(1.6, {{660.0, 0.5}, {1650.0, 0.25}, {2376.0, 0.15}, {3531.0, 0.1}}, 2.5, 0.8);
}

std::vector<double> Click() {
    // A burst of noise from a fixed generator, gone in 25 ms.
    std::vector<double> out(static_cast<std::size_t>(0.04 * kRate));
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < out.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 8) / (1u << 24) * 2 - 1;
        out[i] = 0.9 * noise * std::exp(-static_cast<double>(i) / kRate / 0.005);
    }
    return out;
}

std::vector<double> Beep() {
    // A rounded square wave of 1 kHz with soft ends.
    std::vector<double> out(static_cast<std::size_t>(0.15 * kRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double edge = std::fmin(1.0, std::fmin(t, 0.15 - t) / 0.01);
        const double w = 2 * kPi * 1000.0 * t;
        out[i] = 0.5 * edge * (std::sin(w) + std::sin(3 * w) / 3 + std::sin(5 * w) / 5);
    }
    return out;
}

std::vector<double> Drum() {
    // A sine falling from 160 to 50 Hz, as a small kick drum.
    std::vector<double> out(static_cast<std::size_t>(0.35 * kRate));
    double phase = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double freq = 50 + 110 * std::exp(-t / 0.05);
        phase += 2 * kPi * freq / kRate;
        out[i] = 0.95 * std::exp(-t / 0.09) * std::sin(phase);
    }
    return out;
}

bool WriteFile(const std::filesystem::path& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_set OUTPUT_DIRECTORY\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const std::filesystem::path waveDir = dir / "demo";
    std::error_code ec;
    std::filesystem::create_directories(waveDir, ec);

    struct Effect {
        const char* file;
        std::vector<double> (*make)();
        const char* name; // UTF-8
        int key, pan, volume, repeat, interval;
    };
    const Effect effects[] = {
        {"chime.wav", Chime, "チャイム", '1', 0, 0, 1, 0},
        {"click.wav", Click, "クリック", '2', -6000, -600, 3, 250},
        {"beep.wav", Beep, "ビープ", '3', 6000, -300, 2, 400},
        {"drum.wav", Drum, "ドラム", '4', 0, 0, 4, 300},
        {"bell.wav", Bell, "ベル", '5', -2000, -1200, 1, 0},
    };

    // The WAVE directory line is relative to the executable's directory, the program's current
    // directory; the bare file names are joined to it.
    std::string set = "MOK_FILE\r\ndemo\\\r\n";
    for (const Effect& e : effects) {
        const std::vector<std::uint8_t> image = WaveImage(e.make());
        if (!WriteFile(waveDir / e.file, image.data(), image.size())) {
            std::fprintf(stderr, "make_demo_set: cannot write %s\n", e.file);
            return 1;
        }
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, ",%d,%d,%d,%d,%d,%d\r\n", 0, e.key, e.pan, e.volume,
                      e.repeat, e.interval);
        set += std::string(e.file) + "," + Cp932FromUtf8(e.name) + numbers;
    }
    if (!WriteFile(dir / "音源.txt", set.data(), set.size())) {
        std::fprintf(stderr, "make_demo_set: cannot write the set file\n");
        return 1;
    }
    return 0;
}
