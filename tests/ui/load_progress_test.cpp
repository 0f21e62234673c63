// SPDX-License-Identifier: GPL-3.0-or-later
// While a set's sounds load, the window's thread keeps running its loop; the progress box comes
// only once the load has taken half a second, with the count, and goes with the load.
#include "tests/support/test_support.h"
#include "tests/ui/dialog_test_app.h"
#include "ui/load_progress_dlg.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(LoadProgressTest, TheBoxComesAfterHalfASecondWithTheCount) {
    EnsureDialogTestApp();
    TempDir dir;
    EffectTable table;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(WriteText(dir.Path() + std::to_string(i), "x"));
        EffectEntry entry;
        entry.strWavePath = std::to_string(i);
        table.Add(entry);
    }
    struct Case {
        const char* name;
        bool slow; // the second and third effect wait until the test lets them go
        bool boxExpected;
    };
    for (const Case& c : {Case{"quick", false, false}, Case{"slow", true, true}}) {
        std::atomic<bool> release{!c.slow};
        WaveLoader loader = [&](const std::string& path, SoundBufferSlot&) -> std::uint32_t {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!path.ends_with('0') && !release && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return 0;
        };
        CSetSoundLoad load(table, dir.Cp932(), loader, 3);

        // What the window's loop sees, every 10 ms while the load runs.
        QElapsedTimer clock;
        clock.start();
        qint64 shownAt = -1;
        QString shownText;
        int ticksBeforeBox = 0;
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            auto* box = qobject_cast<CLoadProgressDlg*>(QApplication::activeModalWidget());
            if (box && box->isVisible() && shownAt < 0) {
                shownAt = clock.elapsed();
                shownText = box->Text();
                release = true;
            }
            ticksBeforeBox += shownAt < 0 ? 1 : 0;
        });
        ticks.start(10);
        WaitForSetLoad(load, nullptr);
        ticks.stop();

        EXPECT_TRUE(load.IsDone()) << c.name;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << c.name;
        if (!c.boxExpected) {
            EXPECT_EQ(shownAt, -1) << c.name;
            continue;
        }
        EXPECT_GE(shownAt, 500) << c.name;
        EXPECT_EQ(shownText, QString::fromUtf8("読み込み中… 1 / 3")) << c.name;
        // About 50; a window's thread held by the load would have none.
        EXPECT_GE(ticksBeforeBox, 5) << c.name;
    }
}

} // namespace
