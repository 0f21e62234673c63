// SPDX-License-Identifier: GPL-3.0-or-later
// Sounds loaded on several threads give the table and the messages a load in file order gives,
// whatever order the loads finish in.
#include "core/set_file.h"
#include "core/set_sound_load.h"
#include "tests/controller/controller_fixture.h"
#include "tests/support/encoded_sound.h"

#include <chrono>
#include <thread>

namespace {

enum class Kind { Wave, Flac, Opus, Bad, Missing };

class ParallelLoadTest : public ControllerTest {
protected:
    // Effect i is file f<i>; sounds of different lengths, so a sound given to the wrong entry
    // shows.
    void MakeFiles(const std::vector<Kind>& kinds) {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const std::size_t frames = 2205 + 441 * i;
            const Kind kind = kinds[i];
            const std::string name = "f" + std::to_string(i) +
                                     (kind == Kind::Flac   ? ".flac"
                                      : kind == Kind::Opus ? ".opus"
                                      : kind == Kind::Bad  ? (i % 2 ? ".ogg" : ".wav")
                                                           : ".wav");
            bool made = true;
            if (kind == Kind::Wave)
                MakeWave(name, frames);
            else if (kind == Kind::Flac || kind == Kind::Opus) // Opus knows no 22050 Hz
                made = WriteEncodedSound(HostPath(name), 1, kind == Kind::Opus ? 48000 : 22050,
                                         Sines(48000, frames, {440}, {0.5}));
            else if (kind == Kind::Bad)
                made = WriteText(HostPath(name), "not a sound");
            ASSERT_TRUE(made) << name;
            lines.push_back(EffectLine(name, "効果", 0, static_cast<int>('A' + i), 0, 0, 1, 0));
        }
        MakeSet("s.txt", ExeDir(), lines);
        m_count = kinds.size();
    }

    // Every entry and every message, in order. threads 0: the reader's own load in file order.
    // The loader tells each failure's path too, and makes earlier effects slower, so that later
    // ones finish first.
    std::vector<std::string> Read(CSoundDevice& device, unsigned threads) {
        const WaveLoader loader = [&device, count = m_count](const std::string& path,
                                                             SoundBufferSlot& slot) {
            const std::size_t index = std::stoul(path.substr(path.rfind('/') + 2));
            std::this_thread::sleep_for(std::chrono::milliseconds(3 * (count - index)));
            const std::uint32_t length = device.LoadWaveFile(path, slot);
            if (length == 0)
                MessageBoxA(path, kErrorCaption, MB_OK);
            return length;
        };
        m_messages.Clear();
        EffectTable table;
        std::string waveDir;
        EXPECT_TRUE(ReadSetFile(HostPath("s.txt"), table, waveDir, threads ? nullptr : loader));
        if (threads) {
            CSetSoundLoad load(table, waveDir, loader, threads);
            EXPECT_EQ(load.ThreadCount(), std::min<unsigned>(threads, m_count));
            load.Wait();
            EXPECT_TRUE(m_messages.Messages().empty()) << "shown before the load was done";
            load.Finish();
        }
        std::vector<std::string> out = TableRows(table);
        for (int i = 0; i < table.GetSize(); ++i)
            out[static_cast<std::size_t>(i)] += " " + std::to_string(table.GetAt(i).dwDataLength) +
                                                " " + std::to_string(table.GetAt(i).IsAvailable());
        for (const MessageRecorder::Message& m : m_messages.Messages())
            out.push_back(m.caption + ": " + m.text + " " + std::to_string(m.type));
        return out;
    }

    std::size_t m_count = 0;
};

TEST_F(ParallelLoadTest, GivesTheSerialTableAndMessagesInFileOrder) {
    using enum Kind;
    struct Case {
        std::vector<Kind> kinds;
        std::vector<unsigned> threads;
    };
    const Case cases[] = {
        {{Wave, Missing, Bad, Flac, Bad, Opus, Missing, Wave, Bad, Flac, Wave, Bad}, {1, 2, 3, 8}},
        {{Bad, Missing, Bad, Bad, Missing}, {2, 4}},
        {{Opus, Bad}, {16}}, // more threads than effects
    };
    for (const Case& c : cases) {
        MakeFiles(c.kinds);
        CSoundDevice device;
        ASSERT_TRUE(device.Open(nullptr, 2, 22050, 16, {{}, 0, m_output.Factory()}));
        const std::vector<std::string> serial = Read(device, 0);
        ASSERT_GT(serial.size(), c.kinds.size()); // every entry, and messages
        for (unsigned threads : c.threads)
            EXPECT_EQ(Read(device, threads), serial)
                << c.kinds.size() << " effects, " << threads << " threads";
    }
}

} // namespace
