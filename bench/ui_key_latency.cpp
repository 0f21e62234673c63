// SPDX-License-Identifier: GPL-3.0-or-later
// From a key event reaching the main window's event filter to the first output frame that
// carries the effect: a synthetic Qt key press on the real window (set controller, play list,
// worker thread, mixer) with the sound going to SDL's dummy or disk driver or to the offline
// output pulled one 256-frame period per period of wall time. The moment is the one the mixer
// begins the block whose frame carries the effect, seen by polling. Presses are spread over the
// period at random. Prints the distribution and the period; asserts nothing.
//
//   ui_key_latency [offline|dummy|disk] [presses=1000]
#include "audio/mixer.h"
#include "audio/sound_output.h"
#include "tests/support/paced_output.h"
#include "ui/effect_list_ctrl.h"
#include "ui/mixer_dlg.h"

#include <QApplication>
#include <QKeyEvent>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/prctl.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kRate = PacedOutput::kRate;

void WriteClick(const std::filesystem::path& path) {
    const std::uint32_t frames = kRate / 100; // 10 ms
    std::vector<std::int16_t> samples(frames, 8000);
    const std::uint32_t data = frames * 2;
    auto u32 = [](std::ofstream& o, std::uint32_t v) { o.write(reinterpret_cast<char*>(&v), 4); };
    auto u16 = [](std::ofstream& o, std::uint16_t v) { o.write(reinterpret_cast<char*>(&v), 2); };
    std::ofstream o(path, std::ios::binary);
    o.write("RIFF", 4);
    u32(o, 36 + data);
    o.write("WAVEfmt ", 8);
    u32(o, 16);
    u16(o, WAVE_FORMAT_PCM);
    u16(o, 1);
    u32(o, kRate);
    u32(o, kRate * 2);
    u16(o, 2);
    u16(o, 16);
    o.write("data", 4);
    u32(o, data);
    o.write(reinterpret_cast<const char*>(samples.data()), data);
}

double Percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

} // namespace

int main(int argc, char** argv) {
    const std::string output = argc > 1 ? argv[1] : "dummy";
    const int presses = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
    if (output != "offline") {
        setenv("SDL_AUDIODRIVER", output.c_str(), 1);
        if (output == "disk")
            setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    }
    std::unique_ptr<PacedOutput> paced;
    if (output == "offline")
        paced = std::make_unique<PacedOutput>();
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    prctl(PR_SET_TIMERSLACK, 1UL); // poll finely

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "otomaru-bench-key-latency";
    std::filesystem::create_directories(dir);
    WriteClick(dir / "click.wav");
    {
        std::ofstream set(dir / "set.txt", std::ios::binary);
        set << "MOK_FILE\r\n" << dir.string() << "/\r\nclick.wav,click,0,49,0,0,1,0\r\n";
        std::ofstream ini(dir / "Otomaru.ini", std::ios::binary);
        ini << "[Environment]\r\nSoundsFile=\"set.txt\"\r\n";
    }
    const auto savedDirectory = std::filesystem::current_path();
    double periodMs = 0;
    std::vector<double> latency;
    std::vector<double> handled; // the window's own part: filter, matching, job and thread start
    int blocksLate[4] = {};      // blocks begun between the press and the one carrying the effect
    {
        CMixerDlg dlg((dir / "otomaru").string());
        if (paced)
            dlg.Controller().Output().SetOutputFactory(paced->Output().Factory());
        dlg.Create();
        dlg.show();
        QApplication::processEvents();
        const EffectTable& effects = dlg.Controller().Effects();
        if (effects.GetSize() != 1 || !effects.GetAt(0).pBuffer) {
            std::fprintf(stderr, "the click did not load\n");
            return 1;
        }
        auto* voice = dynamic_cast<MixerVoice*>(effects.GetAt(0).pBuffer.get());
        OutputClock clock;
        auto* schedule = QueryBufferSchedule(effects.GetAt(0).pBuffer.get());
        std::mt19937 random(16);
        quint64 stamp = 1000;
        for (int i = 0; i < presses; ++i) {
            // Let the last click end and its job leave, then press at a random point of the period.
            std::uint32_t status = DSBSTATUS_PLAYING;
            do {
                QApplication::processEvents();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                effects.GetAt(0).pBuffer->GetStatus(&status);
            } while (status != 0 || dlg.PlayList().GetItemCount() != 0);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 15000));
            const std::uint64_t before = voice->StartedAtFrame();
            QWidget* to = QApplication::focusWidget() ? QApplication::focusWidget() : &dlg;
            QKeyEvent press(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, "1");
            press.setTimestamp(++stamp);
            schedule->GetOutputClock(&clock);
            const std::uint64_t nextAtPress = clock.nNextFrame;
            const std::uint32_t block = clock.nBlockFrames;
            const Clock::time_point t0 = Clock::now();
            QApplication::sendEvent(to, &press);
            handled.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            while (voice->StartedAtFrame() == before && Clock::now() - t0 < std::chrono::seconds(2))
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            latency.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            const std::uint64_t started = voice->StartedAtFrame();
            const std::size_t late = started > nextAtPress && block != 0
                                         ? static_cast<std::size_t>((started - nextAtPress) / block)
                                         : 0;
            ++blocksLate[std::min<std::size_t>(late, 3)];
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_1, Qt::NoModifier, "1");
            release.setTimestamp(++stamp);
            QApplication::sendEvent(to, &release);
        }
        schedule->GetOutputClock(&clock);
        periodMs = 1000.0 * clock.nBlockFrames / clock.nFramesPerSec;
        dlg.done(0);
    }
    std::filesystem::current_path(savedDirectory);
    std::filesystem::remove_all(dir);
    std::printf("%s output, %d presses: key event to the block carrying the first frame: median "
                "%.2f ms, 99th percentile %.2f ms, max %.2f ms; one period is %.2f ms\n",
                output.c_str(), presses, Percentile(latency, 0.5), Percentile(latency, 0.99),
                *std::max_element(latency.begin(), latency.end()), periodMs);
    std::printf("  of which the window's thread handling the press: median %.2f ms, 99th "
                "percentile %.2f ms\n",
                Percentile(handled, 0.5), Percentile(handled, 0.99));
    std::printf("  carried by the very next block: %d; one block later: %d; two: %d; more: %d\n",
                blocksLate[0], blocksLate[1], blocksLate[2], blocksLate[3]);
    return 0;
}
