// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up of the set controller's tests: a temporary directory stands in for the
// executable's, the sound goes to an offline output, messages are recorded and answered, and the
// window is the recording fake.
#pragma once

#include "audio/offline_output.h"
#include "audio/sound_output.h"
#include "base/text.h"
#include "core/set_controller.h"
#include "tests/support/fake_view.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override { m_strSavedCwd = std::filesystem::current_path().string(); }
    void TearDown() override {
        m_ctl.reset();
        std::error_code ec;
        std::filesystem::current_path(m_strSavedCwd, ec);
    }

    // --- the directory beside the "executable"
    std::string HostPath(const std::string& utf8Name) const { return m_dir.Path() + utf8Name; }
    // The executable directory as the program holds it (system encoding, ends with '/').
    std::string ExeDir() const { return m_dir.Path(); }

    // A short mono sound of `frames` frames at 22050 Hz.
    void MakeWave(const std::string& utf8Name, std::size_t frames = 441) {
        std::vector<std::int16_t> samples(frames);
        for (std::size_t i = 0; i < frames; ++i)
            samples[i] = static_cast<std::int16_t>((i % 50) * 400 - 10000);
        ASSERT_TRUE(WriteBytes(HostPath(utf8Name), MakePcm16Wave(1, 22050, samples)));
    }
    // A set file: magic, WAVE directory, then the effect lines (CP932 texts), CR LF ends.
    void MakeSet(const std::string& utf8Name, const std::string& waveDir,
                 const std::vector<std::string>& lines) {
        ASSERT_TRUE(WriteText(HostPath(utf8Name), SetText(waveDir, lines)));
    }
    static std::string SetText(const std::string& waveDir, const std::vector<std::string>& lines) {
        std::string text = "MOK_FILE\r\n" + waveDir + "\r\n";
        for (const std::string& line : lines)
            text += line + "\r\n";
        return text;
    }
    void Remember(const std::string& cp932Name) {
        ASSERT_TRUE(WriteText(HostPath("Otomaru.ini"),
                              "[Environment]\r\nSoundsFile=\"" + cp932Name + "\"\r\n"));
    }
    std::string FileText(const std::string& utf8Name) const { return ReadText(HostPath(utf8Name)); }
    bool Exists(const std::string& utf8Name) const {
        return std::filesystem::exists(HostPath(utf8Name));
    }
    // Whether Otomaru.ini remembers this set (CP932 name).
    bool IniRemembers(const std::string& cp932Name) const {
        const std::string ini = FileText("Otomaru.ini");
        return ini.find("[Environment]") != std::string::npos &&
               ini.find("SoundsFile=\"" + cp932Name + "\"") != std::string::npos;
    }

    CSetController& Start() {
        m_ctl = std::make_unique<CSetController>(m_view, m_dir.Cp932("otomaru"));
        m_ctl->Output().SetOutputFactory(m_factory ? m_factory : m_output.Factory());
        EXPECT_TRUE(m_ctl->OnInitDialog());
        return *m_ctl;
    }

    // Hands every queued "play done" back on this thread, as the window's queue would.
    void DrainPlayDone() {
        for (const PlayJobPtr& job : m_view.TakePlayDone())
            m_ctl->OnPlayDone(job);
    }
    // Waits for the next report (generous deadline) and hands it back.
    bool HandleNextPlayDone() {
        const auto job = m_view.WaitPlayDone(std::chrono::seconds(20));
        if (!job)
            return false;
        m_ctl->OnPlayDone(*job);
        return true;
    }

    std::vector<std::string> MessageTexts() const { return m_messages.Texts(); }

    TempDir m_dir;
    OfflineSoundOutput m_output;
    SoundOutputFactory m_factory; // what Start opens the output with; empty: m_output
    MessageRecorder m_messages;
    FakeMixerView m_view;
    std::unique_ptr<CSetController> m_ctl;
    std::string m_strSavedCwd;
};

// An effect line as the set file holds it.
inline std::string EffectLine(const std::string& path, const std::string& utf8Name, int modifiers,
                              int key, int pan, int volume, int repeat, int interval) {
    return path + "," + Sj(utf8Name) + "," + std::to_string(modifiers) + "," + std::to_string(key) +
           "," + std::to_string(pan) + "," + std::to_string(volume) + "," + std::to_string(repeat) +
           "," + std::to_string(interval);
}
