// SPDX-License-Identifier: GPL-3.0-or-later
// A secondary buffer of ours: the caller's bytes in the buffer's own format, and what the mixer
// plays, prepared from them at the mix rate when the buffer is unlocked and again when the rate
// changes. Internal to the sound output (audio/sound_output.cpp makes them).
#pragma once

#include "audio/loudness.h"
#include "audio/mixer.h"
#include "audio/sample_format.h"
#include "audio/sound_output.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// GetFormat's copy of a format record: the whole record, cut to what the caller allocated.
HRESULT CopyFormatOut(const void* record, std::uint32_t recordBytes, WAVEFORMATEX* format,
                      std::uint32_t sizeAllocated, std::uint32_t* sizeWritten);

class CSoundBuffer final : public IDirectSoundBuffer,
                           public ISoundBufferSchedule,
                           public ISoundBufferShape,
                           public MixerVoice {
public:
    CSoundBuffer(std::shared_ptr<MixerCore> core, const DSBUFFERDESC& desc,
                 const SampleFormat& format);

    // Deleter of the user's shared_ptr: a sounding buffer is silenced and stays with the mixer
    // until the mixer lets it go.
    struct Release {
        void operator()(CSoundBuffer* buffer) const;
    };

    HRESULT GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                      std::uint32_t* sizeWritten) override;
    HRESULT SetFormat(const WAVEFORMATEX*) override { return DSERR_INVALIDCALL; }
    HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** region1, std::uint32_t* bytes1,
                 void** region2, std::uint32_t* bytes2, std::uint32_t flags) override;
    HRESULT Unlock(void* region1, std::uint32_t bytes1, void* region2,
                   std::uint32_t bytes2) override;
    HRESULT Restore() override { return DS_OK; }
    HRESULT SetPan(std::int32_t pan) override;
    HRESULT SetVolume(std::int32_t volume) override;
    HRESULT GetPan(std::int32_t* pan) override;
    HRESULT GetVolume(std::int32_t* volume) override;
    HRESULT SetCurrentPosition(std::uint32_t position) override;
    HRESULT GetStatus(std::uint32_t* status) override;
    HRESULT Play(std::uint32_t reserved, std::uint32_t, std::uint32_t flags) override;
    HRESULT Stop() override;

    HRESULT GetOutputClock(OutputClock* clock) override;
    HRESULT PlayAtFrame(std::uint64_t frame, std::uint16_t owner) override;
    HRESULT PlayAtNextBlock(std::uint64_t* frame, std::uint16_t owner) override;
    HRESULT StopOwner(std::uint16_t owner) override;
    HRESULT TakeBackStarts(std::uint16_t owner) override;

    HRESULT SetShape(std::uint32_t startMs, std::uint32_t endMs, std::uint32_t fadeInMs,
                     std::uint32_t fadeOutMs, float gain) override;
    HRESULT FadeOutOwner(std::uint16_t owner) override;
    bool MeasurePlayedLoudness(double* integratedLufs, double* truePeakDb) override;

    void LoseNextLock() { m_bLoseNextLock.store(true); }
    bool HasMemory() const { return m_memory != nullptr; }
    // The first preparation, of a buffer nobody has written yet.
    void PrepareSilent();
    // Prepares the buffer again when the mix rate is no longer the one it was prepared for.
    // A buffer between Lock and Unlock is left to its Unlock.
    void Refresh();

protected:
    void OnBoost() override;

private:
    // Gives the preparation its limiter's curve unless it has one.
    static void AttachLimits(PreparedSound& prepared);
    // Builds what the mixer plays at the mix rate from the buffer's bytes and hands it over.
    // A new buffer's bytes are all zero: `silent` then skips the work and the mixer plays
    // silence of the right length.
    void PrepareLocked(bool silent);
    static HRESULT Scheduled(MixerCore::StartResult result);
    std::uint8_t* Bytes() { return reinterpret_cast<std::uint8_t*>(m_memory.get()); }
    bool InMemory(const void* region, std::uint32_t bytes);

    std::shared_ptr<MixerCore> m_core;
    const std::uint32_t m_nBytes;
    const SampleFormat m_sample;
    std::vector<std::uint8_t> m_format; // our own copy of the format record
    struct FreeMemory {
        void operator()(std::int16_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::int16_t, FreeMemory> m_memory; // the buffer's bytes (16-bit aligned)
    std::atomic<bool> m_bLoseNextLock{false};
    // Lock/Unlock against a preparation for a new rate; never taken by the mixer.
    std::mutex m_prepareLock;
    bool m_bWriting = false; // between Lock and Unlock
    bool m_bWritten = false; // unlocked at least once
    std::vector<std::unique_ptr<PreparedSound>> m_prepared;
    std::optional<Loudness> m_loudness; // of the latest preparation, once measured
};
