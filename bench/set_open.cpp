// SPDX-License-Identifier: GPL-3.0-or-later
// How long opening a large set takes and how much memory its sounds cost: 1,000 one-second
// 16-bit stereo 44100 Hz effects are read, decoded and made ready to play on an offline device,
// against `cat` of the same files (warm cache) in the same run. Both wall time and CPU time
// (user + system; cat's is its own and its shell's) are printed: on a busy machine the CPU ratio
// is the fair one.
//
// Usage: set_open [effects, default 1000]
#include "audio/offline_output.h"
#include "audio/riff.h"
#include "audio/sound_device.h"
#include "base/text.h"
#include "core/set_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint32_t kDataBytes = kRate * kChannels * 2; // one second

// One second of a tone whose pitch depends on the effect, so no two files are alike.
std::vector<std::uint8_t> MakeWave(int index) {
    std::vector<std::uint8_t> image;
    image.reserve(44 + kDataBytes);
    image.insert(image.end(), {'R', 'I', 'F', 'F'});
    PutLe32(image, 36 + kDataBytes);
    image.insert(image.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe32(image, 16);
    PutLe16(image, 1);
    PutLe16(image, kChannels);
    PutLe32(image, kRate);
    PutLe32(image, kRate * kChannels * 2);
    PutLe16(image, kChannels * 2);
    PutLe16(image, 16);
    image.insert(image.end(), {'d', 'a', 't', 'a'});
    PutLe32(image, kDataBytes);
    const double step = 2 * 3.141592653589793 * (220.0 + index) / kRate;
    for (std::uint32_t i = 0; i < kRate; ++i) {
        auto s = static_cast<std::int16_t>(std::lround(8000 * std::sin(step * i)));
        PutLe16(image, static_cast<std::uint16_t>(s));
        PutLe16(image, static_cast<std::uint16_t>(s));
    }
    return image;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// CPU time of this process (who == RUSAGE_SELF) or of its waited-for children.
double CpuNow(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return CpuSeconds(usage);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;

    char pattern[] = "/tmp/otomaru-set-open-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = std::string(pattern) + "/";

    std::string set = "MOK_FILE\r\n" + Cp932FromUtf8(dir) + "\r\n";
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "e%04d.wav", i);
        std::vector<std::uint8_t> image = MakeWave(i);
        std::FILE* f = std::fopen((dir + name).c_str(), "wb");
        if (!f || std::fwrite(image.data(), 1, image.size(), f) != image.size()) {
            std::perror(name);
            return 1;
        }
        std::fclose(f);
        set += std::string(name) + ",effect " + std::to_string(i) + ",0," +
               std::to_string(49 + i % 9) + ",0,0,1,0\r\n";
    }
    std::FILE* f = std::fopen((dir + "set.txt").c_str(), "wb");
    if (!f)
        return 1;
    std::fwrite(set.data(), 1, set.size(), f);
    std::fclose(f);

    // cat of the same files; the first run warms the cache, the best of three counts.
    const std::string catCommand = "cat " + dir + "*.wav > /dev/null";
    double catBest = 1e9;
    double catCpuBest = 1e9;
    for (int run = 0; run < 4; ++run) {
        const double c0 = CpuNow(RUSAGE_CHILDREN);
        auto t0 = std::chrono::steady_clock::now();
        if (std::system(catCommand.c_str()) != 0) {
            std::fprintf(stderr, "cat failed\n");
            return 1;
        }
        if (run > 0) {
            catBest = std::min(catBest, Seconds(std::chrono::steady_clock::now() - t0));
            catCpuBest = std::min(catCpuBest, CpuNow(RUSAGE_CHILDREN) - c0);
        }
    }

    OfflineSoundOutput output(22050);
    CSoundDevice device;
    if (!device.Open(nullptr, 2, 22050, 16, {{}, 0, output.Factory()})) {
        std::fprintf(stderr, "the offline device did not open\n");
        return 1;
    }
    const WaveLoader load = [&device](const std::string& path, SoundBufferSlot& slot) {
        return device.LoadWaveFile(path, slot);
    };

    const std::string setPath = dir + "set.txt"; // a system path, as the program holds it
    const long rssBefore = PeakRssKiB();
    double loadBest = 1e9;
    double loadCpuBest = 1e9;
    long rssPeak = 0;
    int available = 0;
    for (int run = 0; run < 3; ++run) {
        EffectTable table;
        std::string waveDir;
        const double c0 = CpuNow(RUSAGE_SELF);
        auto t0 = std::chrono::steady_clock::now();
        const bool read = ReadSetFile(setPath, table, waveDir, load);
        loadBest = std::min(loadBest, Seconds(std::chrono::steady_clock::now() - t0));
        loadCpuBest = std::min(loadCpuBest, CpuNow(RUSAGE_SELF) - c0);
        if (!read) {
            std::fprintf(stderr, "the set did not read\n");
            return 1;
        }
        if (run == 0) {
            rssPeak = PeakRssKiB();
            for (int i = 0; i < table.GetSize(); ++i)
                available += table.GetAt(i).IsAvailable() ? 1 : 0;
        }
        for (int i = 0; i < table.GetSize(); ++i)
            CSoundDevice::ReleaseBuffer(table.GetAt(i).pBuffer);
    }
    device.Close();

    const double dataBytes = static_cast<double>(kDataBytes) * count;
    const double rssBytes = static_cast<double>(rssPeak - rssBefore) * 1024.0;
    std::printf("effects: %d (%d ready to play), one second each, %.1f MB of sample data\n", count,
                available, dataBytes / 1e6);
    std::printf("cat (warm, best of 3):        %8.3f s wall  %8.3f s CPU\n", catBest, catCpuBest);
    std::printf("read + decode (best of 3):    %8.3f s wall  %8.3f s CPU\n", loadBest, loadCpuBest);
    std::printf("read + decode / cat:          %8.2fx wall  %8.2fx CPU   (goal < 5x)\n",
                loadBest / catBest, loadCpuBest / catCpuBest);
    std::printf("peak resident growth:         %8.1f MB  = %.0f bytes per second of audio\n",
                rssBytes / 1e6, rssBytes / count);
    std::printf("                                          = %.2fx the data bytes (%u per second;"
                " goal < 2x)\n",
                rssBytes / dataBytes, kDataBytes);

    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return available == count ? 0 : 2;
}
