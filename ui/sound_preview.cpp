// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's copy of a sound: read with the set's own readers, folded and converted once on a
// pool thread, so the window only draws and plays it.
#include "ui/sound_preview.h"

#include "audio/sample_format.h"
#include "audio/sound_decoder.h"
#include "audio/wave_file.h"
#include "core/set_file.h"

#include <QMetaObject>
#include <QThreadPool>

#include <algorithm>
#include <mutex>

namespace {

std::shared_ptr<PreviewSound> FromSamples(const WAVEFORMATEX* record, const std::uint8_t* bytes,
                                          std::size_t size) {
    SampleFormat format;
    if (ParseSampleFormat(record, &format) != DS_OK || format.nBlockAlign == 0)
        return nullptr;
    const std::size_t frames = size / format.nBlockAlign;
    if (frames == 0)
        return nullptr;
    std::vector<float> left;
    std::vector<float> right;
    int planes = 0;
    DecodeToPlanes(bytes, frames, format, left, right, &planes);

    auto sound = std::make_shared<PreviewSound>();
    const auto channels = static_cast<std::uint16_t>(planes);
    sound->format.wFormatTag = WAVE_FORMAT_PCM;
    sound->format.nChannels = channels;
    sound->format.nSamplesPerSec = format.nSamplesPerSec;
    sound->format.wBitsPerSample = 16;
    sound->format.nBlockAlign = static_cast<std::uint16_t>(2 * channels);
    sound->format.nAvgBytesPerSec = format.nSamplesPerSec * sound->format.nBlockAlign;

    std::vector<float> interleaved(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        interleaved[i * channels] = left[i];
        if (channels == 2)
            interleaved[i * 2 + 1] = right[i];
    }
    sound->samples.resize(interleaved.size());
    FloatsToS16(interleaved.data(), interleaved.size(), sound->samples.data());

    const std::size_t slices = std::min(frames, kPreviewPeakSlices);
    sound->peaks.resize(slices);
    for (std::size_t s = 0; s < slices; ++s) {
        const std::size_t from = s * frames / slices * channels;
        const std::size_t to = (s + 1) * frames / slices * channels;
        const auto [lo, hi] = std::minmax_element(interleaved.begin() + static_cast<long>(from),
                                                  interleaved.begin() + static_cast<long>(to));
        sound->peaks[s] = {*lo, *hi};
    }
    sound->loudness =
        MeasureLoudness(sound->samples.data(), frames, channels, format.nSamplesPerSec);
    sound->nLengthMs = static_cast<std::uint32_t>(static_cast<std::uint64_t>(frames) * 1000 /
                                                  format.nSamplesPerSec);
    return sound;
}

} // namespace

std::shared_ptr<const PreviewSound> DecodePreviewSound(const std::string& path) {
    if (!FileExists(path))
        return nullptr;
    if (IsDecodedSoundPath(path)) {
        DecodedSound decoded;
        if (DecodeSoundFile(path, &decoded) != S_OK)
            return nullptr;
        return FromSamples(&decoded.format,
                           reinterpret_cast<const std::uint8_t*>(decoded.samples.data()),
                           decoded.Bytes());
    }
    CWaveFile wave;
    if (wave.Open(path) != S_OK || !wave.Format())
        return nullptr;
    const std::uint32_t size = std::min<std::uint32_t>(wave.AvailableDataSize(), DSBSIZE_MAX);
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t delivered = 0;
    if (size == 0 || wave.Read(size, bytes.data(), &delivered) != S_OK)
        return nullptr;
    return FromSamples(wave.Format(), bytes.data(), delivered);
}

// The pool thread posts under the lock; the decoder cuts the path under it as it goes.
struct CPreviewDecoder::Mailbox {
    std::mutex mutex;
    CPreviewDecoder* target = nullptr; // guarded by mutex
};

CPreviewDecoder::CPreviewDecoder(QObject* parent)
    : QObject(parent), m_pMailbox(std::make_shared<Mailbox>()) {
    m_pMailbox->target = this;
}

CPreviewDecoder::~CPreviewDecoder() {
    std::lock_guard lock(m_pMailbox->mutex);
    m_pMailbox->target = nullptr;
}

void CPreviewDecoder::Request(const std::string& path) {
    if (path == m_strPath && m_nRequest != 0)
        return;
    m_strPath = path;
    m_pSound.reset();
    const std::uint64_t request = ++m_nRequest;
    m_bPending = !path.empty();
    if (!m_bPending) {
        emit Decoded();
        return;
    }
    QThreadPool::globalInstance()->start([mailbox = m_pMailbox, path, request] {
        std::shared_ptr<const PreviewSound> sound = DecodePreviewSound(path);
        std::lock_guard lock(mailbox->mutex);
        if (CPreviewDecoder* target = mailbox->target) {
            QMetaObject::invokeMethod(
                target, [target, request, sound] { target->Take(request, sound); },
                Qt::QueuedConnection);
        }
    });
}

void CPreviewDecoder::Take(std::uint64_t request, std::shared_ptr<const PreviewSound> sound) {
    if (request != m_nRequest)
        return;
    m_bPending = false;
    m_pSound = std::move(sound);
    emit Decoded();
}
