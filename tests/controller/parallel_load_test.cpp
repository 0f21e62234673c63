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

struct Outcome {
    std::vector<std::string> rows; // stored fields, sound length and rate
    std::vector<std::string> messages;
};

class ParallelLoadTest : public ControllerTest {
protected:
    // Effect i is file f<i> of its kind; sounds of different lengths, so that a sound given to
    // the wrong entry shows.
    void MakeFiles(const std::vector<Kind>& kinds) {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const std::size_t frames = 2205 + 441 * i;
            std::string name = "f" + std::to_string(i);
            switch (kinds[i]) {
            case Kind::Wave:
                name += ".wav";
                MakeWave(name, frames);
                break;
            case Kind::Flac:
                name += ".flac";
                ASSERT_TRUE(WriteEncodedSound(HostPath(name), 1, 22050,
                                              Sines(22050, frames, {440}, {0.5})));
                break;
            case Kind::Opus:
                name += ".opus";
                ASSERT_TRUE(WriteEncodedSound(HostPath(name), 2, 48000,
                                              Sines(48000, frames * 2, {440, 660}, {0.5, 0.5})));
                break;
            case Kind::Bad:
                name += i % 2 ? ".ogg" : ".wav";
                ASSERT_TRUE(WriteText(HostPath(name), "not a sound"));
                break;
            case Kind::Missing:
                name += ".wav";
                break;
            }
            lines.push_back(EffectLine(name, "効果" + std::to_string(i), 0,
                                       static_cast<int>('A' + i), 0, 0, 1, 0));
        }
        MakeSet("s.txt", ExeDir(), lines);
        m_count = kinds.size();
    }

    // The device's loader, with the path of every failure told as well, and the earlier effects
    // made slower, so that later ones finish first.
    WaveLoader Loader(CSoundDevice& device) const {
        return [&device, count = m_count](const std::string& path, SoundBufferSlot& slot) {
            const std::size_t index = std::stoul(path.substr(path.rfind('/') + 2));
            std::this_thread::sleep_for(std::chrono::milliseconds(3 * (count - index)));
            const std::uint32_t length = device.LoadWaveFile(path, slot);
            if (length == 0)
                MessageBoxA(path, kErrorCaption, MB_OK);
            return length;
        };
    }

    Outcome Read(CSoundDevice& device, unsigned threads) {
        m_messages.Clear();
        EffectTable table;
        std::string waveDir;
        const std::string path = HostPath("s.txt");
        if (threads == 0) {
            EXPECT_TRUE(ReadSetFile(path, table, waveDir, Loader(device)));
        } else {
            EXPECT_TRUE(ReadSetFile(path, table, waveDir, nullptr));
            CSetSoundLoad load(table, waveDir, Loader(device), threads);
            EXPECT_EQ(load.ThreadCount(), std::min<unsigned>(threads, m_count));
            load.Wait();
            EXPECT_TRUE(m_messages.Messages().empty()) << "shown before the load was finished";
            load.Finish();
        }
        Outcome out;
        const std::vector<std::string> rows = TableRows(table);
        for (int i = 0; i < table.GetSize(); ++i) {
            const EffectEntry& e = table.GetAt(i);
            WAVEFORMATEX format{};
            if (e.pBuffer)
                e.pBuffer->GetFormat(&format, sizeof format, nullptr);
            out.rows.push_back(
                rows[static_cast<std::size_t>(i)] + " " + std::to_string(e.dwDataLength) + " " +
                std::to_string(format.nSamplesPerSec) + " " + std::to_string(e.IsAvailable()));
        }
        for (const MessageRecorder::Message& m : m_messages.Messages())
            out.messages.push_back(m.caption + ": " + m.text + " " + std::to_string(m.type));
        return out;
    }

    std::size_t m_count = 0;
};

TEST_F(ParallelLoadTest, GivesTheSerialTableAndMessagesInFileOrder) {
    using enum Kind;
    struct Case {
        const char* name;
        std::vector<Kind> kinds;
        std::vector<unsigned> threads;
    };
    const Case cases[] = {
        {"mixed",
         {Wave, Missing, Bad, Flac, Bad, Opus, Missing, Wave, Bad, Flac, Wave, Bad},
         {1, 2, 3, 8}},
        {"all failing", {Bad, Missing, Bad, Bad, Missing}, {2, 4}},
        {"more threads than effects", {Opus, Bad}, {16}},
    };
    for (const Case& c : cases) {
        MakeFiles(c.kinds);
        CSoundDevice device;
        ASSERT_TRUE(device.Open(nullptr, 2, 22050, 16));
        const Outcome serial = Read(device, 0);
        ASSERT_EQ(serial.rows.size(), c.kinds.size()) << c.name;
        for (unsigned threads : c.threads) {
            const Outcome parallel = Read(device, threads);
            EXPECT_EQ(parallel.rows, serial.rows) << c.name << ", " << threads << " threads";
            EXPECT_EQ(parallel.messages, serial.messages)
                << c.name << ", " << threads << " threads";
        }
    }
}

} // namespace
