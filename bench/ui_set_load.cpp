// SPDX-License-Identifier: GPL-3.0-or-later
// How long a set of long compressed effects takes to open, and whether the window keeps painting
// meanwhile: half the effects 30 s of 44.1 kHz stereo FLAC, half 30 s of 48 kHz stereo Opus
// (written once by sox and opusenc, then hard-linked under every effect's name). First the
// sounds are loaded on one thread, as the window's thread used to; then the real main window
// switches to the set while a 10 ms timer asks it to repaint, and the gaps between its paints
// are measured. Sound goes to an offline output at 22050 Hz.
//
// Usage: ui_set_load [effects, default 200] [seconds, default 30]
#include "audio/offline_output.h"
#include "core/set_file.h"
#include "core/set_sound_load.h"
#include "ui/mixer_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one;
}

// Paint events of the window, timed.
class PaintClock : public QObject {
public:
    explicit PaintClock(const QElapsedTimer& clock) : m_clock(clock) {}
    std::vector<qint64> m_times; // ns
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            m_times.push_back(m_clock.nsecsElapsed());
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& m_clock;
};

// The gaps between paints in [start, end] in ms, the first from start and the last to end.
std::vector<double> Gaps(const std::vector<qint64>& times, qint64 start, qint64 end) {
    std::vector<double> gaps;
    qint64 last = start;
    for (qint64 t : times) {
        if (t < start || t > end)
            continue;
        gaps.push_back(static_cast<double>(t - last) * 1e-6);
        last = t;
    }
    gaps.push_back(static_cast<double>(end - last) * 1e-6);
    return gaps;
}

double Quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 200;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));

    char pattern[] = "/tmp/otomaru-set-load-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path dir = pattern;
    const std::string synth =
        " synth " + std::to_string(seconds) + " sine 220-4000 sine 330 vol 0.5";
    const std::string flac = (dir / "src.flac").string();
    const std::string opus = (dir / "src.opus").string();
    if (std::system(("sox -V1 -n -r 44100 -c 2 -b 16 " + flac + synth).c_str()) != 0 ||
        std::system(
            ("sox -V1 -n -r 48000 -c 2 -b 16 -t wav -" + synth + " | opusenc --quiet - " + opus)
                .c_str()) != 0) {
        std::fprintf(stderr, "sox or opusenc failed\n");
        return 1;
    }
    {
        std::ofstream set(dir / "big.txt", std::ios::binary);
        set << "MOK_FILE\r\n" << dir.string() << "/\r\n";
        for (int i = 0; i < count; ++i) {
            const std::string name = "e" + std::to_string(i) + (i % 2 ? ".opus" : ".flac");
            std::filesystem::create_hard_link(i % 2 ? opus : flac, dir / name);
            set << name << ",effect " << i << ",0,0,0,0,1,0\r\n";
        }
        std::ofstream empty(dir / "empty.txt", std::ios::binary);
        empty << "MOK_FILE\r\n" << dir.string() << "/\r\n";
        std::ofstream ini(dir / "Otomaru.ini", std::ios::binary);
        ini << "[Environment]\r\nSoundsFile=\"empty.txt\"\r\n";
    }

    OfflineSoundOutput output(22050);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("effects: %d (%d FLAC, %d Opus), %d s each; %u cores; load average %s\n", count,
                (count + 1) / 2, count / 2, seconds, cores, LoadAverage().c_str());

    // One thread, as the window's thread used to load.
    double serialWall = 0;
    double serialCpu = 0;
    {
        CSoundDevice device;
        if (!device.Open(nullptr, 2, 22050, 16, {{}, 0, output.Factory()}))
            return 1;
        EffectTable table;
        std::string waveDir;
        if (!ReadSetFile((dir / "big.txt").string(), table, waveDir, nullptr))
            return 1;
        const double c0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        CSetSoundLoad load(
            table, waveDir,
            [&device](const std::string& path, SoundBufferSlot& slot) {
                return device.LoadWaveFile(path, slot);
            },
            1);
        load.Wait();
        serialWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        serialCpu = CpuSeconds() - c0;
        load.Finish();
        int ready = 0;
        for (int i = 0; i < table.GetSize(); ++i)
            ready += table.GetAt(i).IsAvailable() ? 1 : 0;
        if (ready != count) {
            std::fprintf(stderr, "one thread: %d of %d loaded\n", ready, count);
            return 1;
        }
    }
    std::printf("one thread:            %8.2f s wall  %8.2f s CPU   (load average %s)\n",
                serialWall, serialCpu, LoadAverage().c_str());

    // The main window switching to the set, asked to repaint every 10 ms.
    QApplication app(argc, argv);
    double wall = 0;
    double cpu = 0;
    std::vector<double> idleGaps;
    std::vector<double> loadGaps;
    int ready = 0;
    {
        CMixerDlg dlg((dir / "otomaru").string());
        dlg.Controller().Output().SetOutputFactory(output.Factory());
        dlg.Create();
        dlg.show();
        QApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        PaintClock paintClock(clock);
        dlg.installEventFilter(&paintClock);
        QTimer repaint;
        QObject::connect(&repaint, &QTimer::timeout, &dlg, [&dlg] { dlg.update(); });
        repaint.start(10);
        dlg.SetSelector().setCurrentIndex(dlg.SetSelector().findText("big.txt"));

        // The machine's own share first: the same repaints for 3 s with nothing loading.
        const qint64 idleStart = clock.nsecsElapsed();
        while (clock.nsecsElapsed() - idleStart < 3'000'000'000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        idleGaps = Gaps(paintClock.m_times, idleStart, clock.nsecsElapsed());

        const double c0 = CpuSeconds();
        const qint64 start = clock.nsecsElapsed();
        dlg.Controller().SwitchSet();
        const qint64 end = clock.nsecsElapsed();
        cpu = CpuSeconds() - c0;
        wall = static_cast<double>(end - start) * 1e-9;
        repaint.stop();
        loadGaps = Gaps(paintClock.m_times, start, end);
        const EffectTable& effects = dlg.Controller().Effects();
        for (int i = 0; i < effects.GetSize(); ++i)
            ready += effects.GetAt(i).IsAvailable() ? 1 : 0;
        dlg.removeEventFilter(&paintClock);
    }
    std::filesystem::remove_all(dir);
    if (ready != count) {
        std::fprintf(stderr, "the window: %d of %d loaded\n", ready, count);
        return 1;
    }

    const double ideal = serialWall / cores;
    std::printf("the window, %u threads: %8.2f s wall  %8.2f s CPU   (load average %s)\n", cores,
                wall, cpu, LoadAverage().c_str());
    std::printf("wall / (one thread / cores): %.2f  (goal <= 1.3)\n", wall / ideal);
    auto printGaps = [](const char* what, const std::vector<double>& gaps) {
        const auto over = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 100; });
        std::printf("%s: %zu paints, gaps median %.1f ms, 99th percentile %.1f ms, longest %.1f "
                    "ms, %td over 100 ms\n",
                    what, gaps.size(), Quantile(gaps, 0.5), Quantile(gaps, 0.99),
                    Quantile(gaps, 1.0), over);
    };
    printGaps("window, nothing loading (3 s)", idleGaps);
    printGaps("window, while loading       ", loadGaps);
    std::printf("(goal: longest gap <= 100 ms; on the window's thread, one thread: %.0f ms)\n",
                serialWall * 1e3);
    return 0;
}
