// SPDX-License-Identifier: GPL-3.0-or-later
// How fast compressed effects load: LoadWaveFile on FLAC, Ogg Vorbis, Opus and MP3 files through
// the offline output (libsndfile's decode plus the preparation for the mixer at 22050 Hz), beside
// `sox FILE -n` decoding the same file in the same run. sox on Debian 12 has no Opus reader; the
// Opus peer is opusdec (libopus, as ours) writing to /dev/null. The files are one stereo signal
// (tones, a sweep and a little noise) written here by libsndfile. Figures are CPU time (user +
// system; the peer's through its own process), best of the runs: MB/s of file and seconds of
// audio per CPU second; speed/peer above 1 means faster than the peer. "decode only" is the same
// ratio for libsndfile's decode to 16-bit samples without the preparation for the mixer (which a
// WAVE file costs as well). Also printed: the peer's cost on a 0.1 s file, its start-up share.
// Usage: decode_sound [seconds of audio] [runs]
#include "audio/offline_output.h"
#include "audio/sound_decoder.h"
#include "audio/sound_device.h"
#include "base/text.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

double CpuNow(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

bool Write(const std::string& path, int format, int rate, double seconds) {
    SF_INFO info{};
    info.format = format;
    info.channels = 2;
    info.samplerate = rate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> samples(2 * frames);
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        noise = noise * 1664525u + 1013904223u;
        const double n = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
        const double sweep = std::sin(2 * 3.14159265358979 * (200 + 400 * std::fmod(t, 5)) * t);
        samples[2 * i] =
            static_cast<float>(0.3 * std::sin(2 * 3.14159265358979 * 440 * t) + 0.2 * sweep + n);
        samples[2 * i + 1] =
            static_cast<float>(0.3 * std::sin(2 * 3.14159265358979 * 660 * t) - 0.2 * sweep + n);
    }
    // In pieces: libvorbis's encoder takes a large write on its stack.
    bool whole = true;
    for (std::size_t at = 0; at < frames && whole; at += 4096) {
        const auto n = static_cast<sf_count_t>(std::min<std::size_t>(4096, frames - at));
        whole = sf_writef_float(file, samples.data() + 2 * at, n) == n;
    }
    return sf_close(file) == 0 && whole;
}

// Best CPU seconds of `runs` runs of a shell command, counted in its children.
double PeerCpu(const std::string& command, int runs) {
    double best = 1e9;
    for (int r = 0; r < runs; ++r) {
        const double before = CpuNow(RUSAGE_CHILDREN);
        if (std::system(command.c_str()) != 0)
            return -1;
        best = std::min(best, CpuNow(RUSAGE_CHILDREN) - before);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string dir =
        (std::filesystem::temp_directory_path() / "otomaru-bench-decode").string() + "/";
    std::filesystem::create_directories(dir);

    OfflineSoundOutput output(22050);
    CSoundDevice device;
    if (!device.Open(nullptr, 2, 22050, 16, {{}, 0, output.Factory()}))
        return 1;

    struct Format {
        const char* name;
        const char* ext;
        int format;
        int rate;
        const char* peer; // %s = the file
    };
    const Format formats[] = {
        {"FLAC", "flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, "sox %s -n"},
        {"Ogg Vorbis", "ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, "sox %s -n"},
        {"Opus", "opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000,
         "opusdec --quiet %s /dev/null 2>/dev/null"},
        {"MP3", "mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, "sox %s -n"},
    };
    std::printf("%.0f s of 44.1/48 kHz stereo per file, best of %d runs, CPU time\n", seconds,
                runs);
    std::printf("%-10s %8s | %9s %9s | %9s %9s %-8s| %9s | %11s | %s\n", "format", "file MB",
                "ours MB/s", "ours x RT", "peer MB/s", "peer x RT", "(peer)", "speed/peer",
                "decode only", "peer on 0.1 s");
    for (const Format& f : formats) {
        const std::string path = dir + "bench." + f.ext;
        const std::string tiny = dir + "tiny." + f.ext;
        if (!Write(path, f.format, f.rate, seconds) || !Write(tiny, f.format, f.rate, 0.1)) {
            std::printf("%-10s cannot be written here\n", f.name);
            continue;
        }
        const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;

        double ours = 1e9;
        for (int r = 0; r < runs; ++r) {
            SoundBufferSlot slot;
            const double before = CpuNow(RUSAGE_SELF);
            const std::uint32_t bytes = device.LoadWaveFile(Cp932FromUtf8(path), slot);
            ours = std::min(ours, CpuNow(RUSAGE_SELF) - before);
            if (bytes == 0) {
                std::printf("%-10s did not load\n", f.name);
                return 1;
            }
        }
        double decodeOnly = 1e9;
        for (int r = 0; r < runs; ++r) {
            DecodedSound sound;
            const double before = CpuNow(RUSAGE_SELF);
            DecodeSoundFile(Cp932FromUtf8(path), &sound);
            decodeOnly = std::min(decodeOnly, CpuNow(RUSAGE_SELF) - before);
        }
        char command[1024];
        std::snprintf(command, sizeof command, f.peer, path.c_str());
        const double peer = PeerCpu(command, runs);
        std::snprintf(command, sizeof command, f.peer, tiny.c_str());
        const double peerTiny = PeerCpu(command, runs);
        const std::string peerName(f.peer, std::string(f.peer).find(' '));
        if (peer <= 0) {
            std::printf("%-10s %8.2f | %9.1f %9.0f | %s failed\n", f.name, mb, mb / ours,
                        seconds / ours, peerName.c_str());
            continue;
        }
        std::printf("%-10s %8.2f | %9.1f %9.0f | %9.1f %9.0f %-8s| %9.2fx | %9.2fx  | %.3f s\n",
                    f.name, mb, mb / ours, seconds / ours, mb / peer, seconds / peer,
                    peerName.c_str(), peer / ours, peer / decodeOnly, peerTiny);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
