// SPDX-License-Identifier: GPL-3.0-or-later
// How fast effects load: LoadWaveFile on 16-bit stereo 44100 Hz files through the offline output
// (so the conversion to the output format at Unlock counts), beside reading the same bytes with
// `cat` from the page cache, and the resident memory each second of loaded audio costs. Wall and
// CPU time (user + system; cat's includes its shell) are both printed; on a busy machine the CPU
// ratio is the fair one.
// Usage: load_wave [files] [seconds per file]
#include "audio/offline_output.h"
#include "audio/sound_device.h"
#include "audio/wave_file.h"
#include "base/text.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU time of this process (who == RUSAGE_SELF) or of its waited-for children.
double CpuNow(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(f);
    return resident * sysconf(_SC_PAGESIZE);
}

void Put(std::ofstream& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.put(static_cast<char>(v >> (8 * i)));
}

// A tone with a little noise, so that nothing downstream can take a short cut on silence.
bool WriteStereo16(const std::string& path, std::uint32_t frames, unsigned seed) {
    std::ofstream out(path, std::ios::binary);
    const std::uint32_t data = frames * 4;
    out.write("RIFF", 4);
    Put(out, 36 + data, 4);
    out.write("WAVEfmt ", 8);
    Put(out, 16, 4);
    Put(out, 1, 2);
    Put(out, 2, 2);
    Put(out, 44100, 4);
    Put(out, 44100 * 4, 4);
    Put(out, 4, 2);
    Put(out, 16, 2);
    out.write("data", 4);
    Put(out, data, 4);
    std::vector<char> block(static_cast<std::size_t>(data));
    std::uint32_t noise = seed * 2654435761u + 1;
    for (std::uint32_t i = 0; i < frames; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double tone = std::sin(2 * 3.14159265358979 * (220.0 + seed) * i / 44100.0);
        const auto l =
            static_cast<std::int16_t>(12000 * tone + static_cast<int>(noise >> 24) - 128);
        const auto r = static_cast<std::int16_t>(-l / 2);
        char* p = block.data() + 4 * static_cast<std::size_t>(i);
        p[0] = static_cast<char>(l);
        p[1] = static_cast<char>(l >> 8);
        p[2] = static_cast<char>(r);
        p[3] = static_cast<char>(r >> 8);
    }
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const double secondsPerFile = argc > 2 ? std::max(0.1, std::atof(argv[2])) : 5.0;
    const int rounds = 5;
    const auto frames = static_cast<std::uint32_t>(secondsPerFile * 44100);

    char pattern[] = "/tmp/otomaru-load-wave-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = std::string(pattern) + "/";
    std::vector<std::string> paths;
    std::string catCommand = "cat";
    std::uint64_t fileBytes = 0;
    for (int i = 0; i < files; ++i) {
        const std::string path = dir + "effect" + std::to_string(i) + ".wav";
        if (!WriteStereo16(path, frames, static_cast<unsigned>(i))) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        fileBytes += std::filesystem::file_size(path);
        paths.push_back(Cp932FromUtf8(path));
        catCommand += " '" + path + "'";
    }
    catCommand += " > /dev/null";
    const double audioSeconds = files * static_cast<double>(frames) / 44100;
    const double mb = static_cast<double>(fileBytes) / 1e6;
    std::printf("%d files, 16-bit stereo 44100 Hz, %.1f s each: %.1f MB, %.0f s of audio\n", files,
                secondsPerFile, mb, audioSeconds);

    // Warm cache for everyone: one untimed pass first.
    if (std::system(catCommand.c_str()) != 0)
        return 1;
    double bestCat = 1e30;
    double bestCatCpu = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const double cpu = CpuNow(RUSAGE_CHILDREN);
        const auto start = Clock::now();
        if (std::system(catCommand.c_str()) != 0)
            return 1;
        bestCat = std::min(bestCat, Seconds(start));
        bestCatCpu = std::min(bestCatCpu, CpuNow(RUSAGE_CHILDREN) - cpu);
    }

    // The reader alone, into one reused block: what the chunk reader costs by itself.
    double bestReader = 1e30;
    std::vector<std::uint8_t> sink(static_cast<std::size_t>(frames) * 4);
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        for (const std::string& path : paths) {
            CWaveFile reader;
            std::uint32_t got = 0;
            if (reader.Open(path) != S_OK ||
                reader.Read(reader.DataSize(), sink.data(), &got) != S_OK) {
                std::fprintf(stderr, "reader failed on %s\n", path.c_str());
                return 1;
            }
        }
        bestReader = std::min(bestReader, Seconds(start));
    }

    OfflineSoundOutput output(22050);
    CSoundDevice device;
    if (!device.Open(nullptr, 2, 22050, 16, {{}, 0, output.Factory()})) {
        std::fprintf(stderr, "the offline output did not open\n");
        return 1;
    }
    double bestLoad = 1e30;
    double bestLoadCpu = 1e30;
    long residentDelta = 0;
    for (int r = 0; r < rounds; ++r) {
        std::vector<SoundBufferSlot> slots(paths.size());
        const long before = ResidentBytes();
        const double cpu = CpuNow(RUSAGE_SELF);
        const auto start = Clock::now();
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (device.LoadWaveFile(paths[i], slots[i]) != frames * 4) {
                std::fprintf(stderr, "load failed on %s\n", paths[i].c_str());
                return 1;
            }
        }
        bestLoad = std::min(bestLoad, Seconds(start));
        bestLoadCpu = std::min(bestLoadCpu, CpuNow(RUSAGE_SELF) - cpu);
        // The first round's growth: later rounds may reuse memory the allocator kept.
        if (r == 0)
            residentDelta = ResidentBytes() - before;
        for (SoundBufferSlot& slot : slots)
            CSoundDevice::ReleaseBuffer(slot);
    }
    device.Close();

    std::printf("cat (warm cache)      : %8.1f MB/s wall %8.1f MB/s CPU  (best of %d)\n",
                mb / bestCat, mb / bestCatCpu, rounds);
    std::printf("CWaveFile read only   : %8.1f MB/s wall                    (best of %d)\n",
                mb / bestReader, rounds);
    std::printf("LoadWaveFile (offline): %8.1f MB/s wall %8.1f MB/s CPU  (best of %d)\n",
                mb / bestLoad, mb / bestLoadCpu, rounds);
    std::printf(
        "LoadWaveFile / cat    : %8.2f wall     %8.2f CPU        (speed ratio; 1 = as fast)\n",
        bestCat / bestLoad, bestCatCpu / bestLoadCpu);
    std::printf("resident memory       : %8.1f KB per second of loaded audio (%.1f MB for %.0f s;"
                " file data %.1f KB/s)\n",
                static_cast<double>(residentDelta) / 1024 / audioSeconds,
                static_cast<double>(residentDelta) / 1e6, audioSeconds, 44100 * 4 / 1024.0);

    std::filesystem::remove_all(dir);
    return 0;
}
