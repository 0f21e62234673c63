// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual microphone on a real PulseAudio daemon: a fake microphone (a null sink's monitor
// remapped as a source) carrying a tone passes into it beside an effect our output plays; both
// come back when the server restarts, and a second start finds the microphone it made.
#include "audio/output_config.h"
#include "desktop/virtual_microphone.h"
#include "tests/audio/sound_output_test_util.h"
#include "tests/support/pulse_rig.h"
#include "tests/support/spin_until.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>

namespace {

constexpr int kVoiceHz = 600;
constexpr double kEffectHz = 1500;

MicResult EnsureNow(CVirtualMicrophone& mic) {
    std::optional<MicResult> result;
    mic.Ensure(QStringLiteral("fake_mic"), 0, [&](MicResult r) { result = r; });
    SpinUntil([&] { return result.has_value(); }, 5000);
    return result.value_or(MicResult::Refused);
}

// Lines of `pactl list short <what>` that hold `text`.
int Listed(const char* what, const char* text) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                {QStringLiteral("list"), QStringLiteral("short"), QString::fromLatin1(what)});
    pactl.waitForFinished();
    return static_cast<int>(QString::fromUtf8(pactl.readAllStandardOutput()).count(text));
}

bool Whole() {
    return Listed("sources", "\totomaru_mic") == 1 &&
           Listed("modules", "source=fake_mic sink=otomaru_mix") == 1;
}

// The fake microphone, carrying a tone for as long as the test runs.
bool StartVoice(PulseRig& rig, const std::string& tone) {
    return PulseRig::Run(
               {"/usr/bin/pactl", "load-module", "module-null-sink", "sink_name=voice"}) &&
           PulseRig::Run({"/usr/bin/pactl", "load-module", "module-remap-source",
                          "master=voice.monitor", "source_name=fake_mic"}) &&
           rig.Play("voice", tone);
}

} // namespace

TEST(VirtualMicrophone, CarriesVoiceAndEffectsAndComesBackWithTheServer) {
    if (!PulseRig::Available())
        GTEST_SKIP() << "pulseaudio and parec are not installed";
    PulseRig rig;
    int argc = 1;
    char name[] = "mic_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    const std::string tone = std::filesystem::temp_directory_path() /
                             ("otomaru-voice-" + std::to_string(getpid()) + ".raw");
    ASSERT_TRUE(PulseRig::Run({"/usr/bin/sox", "-n", "-r", std::to_string(PulseRig::kRate), "-c",
                               "2", "-b", "16", "-e", "signed-integer", "-t", "raw", tone, "synth",
                               "60", "sine", std::to_string(kVoiceHz), "vol", "0.25"}));
    ASSERT_TRUE(rig.StartServer());
    ASSERT_TRUE(StartVoice(rig, tone));
    CVirtualMicrophone mic(nullptr);
    ASSERT_EQ(EnsureNow(mic), MicResult::Done);
    EXPECT_TRUE(Whole());

    SoundDevicePtr device;
    ASSERT_EQ(DirectSoundCreate({{kVirtualMicName, false, {}}, 0, {}}, &device), DS_OK);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(30 * PulseRig::kRate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<std::int16_t>(8000 * std::sin(i * 2 * M_PI * kEffectHz / PulseRig::kRate));
    SoundBufferPtr effect = MakeMono16(device, PulseRig::kRate, samples);
    ASSERT_TRUE(effect);
    auto status = [&] {
        OutputStatus s;
        GetOutputStatus(device, &s);
        return s;
    };
    ASSERT_TRUE(SpinUntil([&] { return status().main == OutputState::Playing; }, 3000));
    SoundOutputInfo info;
    ASSERT_TRUE(GetSoundOutputInfo(device, &info));
    if (!PulseRig::PipeWire()) { // not the server's default 44100
        EXPECT_EQ(info.nSamplesPerSec, static_cast<std::uint32_t>(kMicRate));
    }
    effect->Play(0, 0, 0);

    // Twice: as made, and after the server came back and the output's sign of it made the
    // microphone again, as the device menu does.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "made" : "after a restart");
        ASSERT_TRUE(SpinUntil([&] { return status().main == OutputState::Playing; }, 4000));
        // A null sink hands a fresh stream's sound on late: long enough a take to hear both.
        ASSERT_TRUE(rig.StartRecorders(kMicSource));
        SpinUntil([] { return false; }, 4000);
        rig.StopRecorders();
        EXPECT_GT(PulseRig::Level(rig.Recorded(0), kVoiceHz), 0.1);
        EXPECT_GT(PulseRig::Level(rig.Recorded(0), kEffectHz), 0.05);
        if (round == 1)
            break;

        const std::uint64_t returns = status().nReturns;
        rig.StopServer();
        ASSERT_TRUE(rig.StartServer());
        QElapsedTimer back;
        back.start();
        ASSERT_TRUE(StartVoice(rig, tone));
        ASSERT_TRUE(SpinUntil([&] { return status().nReturns > returns; }, 2000));
        mic.Ensure(QStringLiteral("fake_mic"), 0);
        EXPECT_TRUE(SpinUntil(Whole, 2000));
        EXPECT_LT(back.elapsed(), 2000);
    }

    // A second start finds the microphone and makes none.
    CVirtualMicrophone second(nullptr);
    EXPECT_EQ(EnsureNow(second), MicResult::Done);
    EXPECT_TRUE(Whole());
    effect.reset();
    device.reset();

    // Removed: ours go, the fake microphone stays.
    bool removed = false;
    second.Remove([&](bool ok) { removed = ok; });
    EXPECT_TRUE(SpinUntil([&] { return removed; }, 3000));
    EXPECT_EQ(Listed("modules", "otomaru"), 0);
    EXPECT_EQ(Listed("sources", "\tfake_mic"), 1);
    std::filesystem::remove(tone);
}
