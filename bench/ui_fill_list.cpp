// SPDX-License-Identifier: GPL-3.0-or-later
// How long the effect list takes to rebuild and to paint for the first time with 10,000 effects.
// The set is read from a generated file with a loader that makes no sound, so only the list's
// own work is timed. Prints the median of several runs.
#include "base/text.h"
#include "core/set_file.h"
#include "ui/dialog_template.h"
#include "ui/effect_list_ctrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    constexpr int kEffects = 10000;
    constexpr int kRuns = 7;

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "otomaru-bench-fill-list";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "set.txt").string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "MOK_FILE\r\nsounds\\\r\n";
        for (int i = 0; i < kEffects; ++i)
            out << "effect" << i << ".wav," << Cp932FromUtf8("効果音") << i << "," << (i % 8) << ","
                << (0x30 + i % 43) << "," << (i % 2001 - 1000) << "," << -(i % 10001) << ","
                << (i % 5) << "," << (i % 1000) << "\r\n";
    }
    EffectTable table;
    std::string waveDir;
    // Every effect "loads": a length without a buffer is enough for the texts.
    const WaveLoader loader = [](const std::string&, SoundBufferSlot&) -> std::uint32_t {
        return 1000;
    };
    if (!ReadSetFile(path, table, waveDir, loader) || table.GetSize() != kEffects) {
        std::fprintf(stderr, "reading the set failed (%d effects)\n", table.GetSize());
        return 1;
    }
    std::filesystem::remove_all(dir);
    const HKL layout = JapaneseKeyLayout();

    std::vector<double> fill, paint;
    for (int run = 0; run < kRuns; ++run) {
        QWidget window;
        window.setFont(DialogFont());
        auto* list = new CEffectListCtrl(kEffectListTint, &window);
        list->setGeometry(0, 0, 252, 440); // the effect list's size in the main window
        list->InsertColumn(0, "name", 100);
        list->InsertColumn(1, "key", 65);
        list->InsertColumn(2, "repeat", 65);
        list->InsertColumn(3, "vol", 40);
        window.resize(260, 450);
        window.show();
        QApplication::processEvents();

        QElapsedTimer timer;
        timer.start();
        list->SetRows(EffectListRows(table, layout));
        fill.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);

        timer.restart();
        const QPixmap first = list->viewport()->grab();
        paint.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (first.isNull())
            return 1;
    }
    std::printf("effects: %d, runs: %d\n", kEffects, kRuns);
    std::printf("FillEffectList: median %.2f ms (min %.2f, max %.2f)\n", Median(fill),
                *std::min_element(fill.begin(), fill.end()),
                *std::max_element(fill.begin(), fill.end()));
    std::printf("first paint:    median %.2f ms (min %.2f, max %.2f)\n", Median(paint),
                *std::min_element(paint.begin(), paint.end()),
                *std::max_element(paint.begin(), paint.end()));
    return 0;
}
