// SPDX-License-Identifier: GPL-3.0-or-later
// What the effect editor shows and plays of a sound: the file decoded off the window's thread
// into 16-bit samples at its own rate (folded to one or two channels), the peaks its waveform is
// drawn from, and its loudness.
#pragma once

#include "audio/loudness.h"
#include "audio/sound_output.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct PreviewSound {
    struct Peak {
        float lo; // full scale -1..1, over every channel
        float hi;
    };
    WAVEFORMATEX format{};             // 16-bit PCM, one or two channels, the file's rate
    std::vector<std::int16_t> samples; // interleaved
    std::vector<Peak> peaks;           // equal slices of the sound, in order
    std::optional<Loudness> loudness;  // of the whole sound
    std::uint32_t nLengthMs = 0;
};

// How many slices the peaks cut a sound into: more than the widest waveform has columns.
constexpr std::size_t kPreviewPeakSlices = 4096;

// Reads a sound as the set reads it (CP932 path: WAVE, or FLAC, Ogg, Opus and MP3 by name);
// nullptr for a file that is missing or not a sound we play. Blocks on the file: never on the
// window's thread.
std::shared_ptr<const PreviewSound> DecodePreviewSound(const std::string& path);

// Decodes on Qt's thread pool and hands the sound back on the window's thread. Only the latest
// request counts; a result that arrives after the decoder is gone reaches nobody.
class CPreviewDecoder : public QObject {
    Q_OBJECT
public:
    explicit CPreviewDecoder(QObject* parent = nullptr);
    ~CPreviewDecoder() override;

    // Decodes the file unless it is the one asked for last; an empty path gives no sound at once.
    void Request(const std::string& path);
    const std::string& Path() const { return m_strPath; }
    bool IsPending() const { return m_bPending; }
    // The latest result; nullptr while pending or when the file did not decode.
    const std::shared_ptr<const PreviewSound>& Sound() const { return m_pSound; }

signals:
    void Decoded();

private:
    struct Mailbox;
    void Take(std::uint64_t request, std::shared_ptr<const PreviewSound> sound);

    std::shared_ptr<Mailbox> m_pMailbox;
    std::string m_strPath;
    std::uint64_t m_nRequest = 0;
    bool m_bPending = false;
    std::shared_ptr<const PreviewSound> m_pSound;
};
