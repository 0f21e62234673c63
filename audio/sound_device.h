// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one connection to the sound card: opens the output with the fixed primary
// format, turns WAVE data into sound buffers, plays the jingle and releases buffers. Failures are
// shown at once in a message box captioned "Error"; the caller carries on without that sound.
#pragma once

#include "audio/output_config.h"
#include "audio/output_route.h"
#include "audio/sound_output.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class SoundDecoder;

// A variable owned by the caller that holds one buffer or nothing.
using SoundBufferSlot = SoundBufferPtr;

class CSoundDevice {
public:
    CSoundDevice();
    virtual ~CSoundDevice(); // closes the device
    CSoundDevice(const CSoundDevice&) = delete;
    CSoundDevice& operator=(const CSoundDevice&) = delete;

    bool Open(void* owner, int channels, int samplesPerSec, int bitsPerSample);
    // Open on the output `config` describes (the other Open: the SDL2 output on the system
    // default, at the device's rate).
    bool Open(void* owner, int channels, int samplesPerSec, int bitsPerSample,
              const OutputConfig& config);
    void Close();
    bool IsOpen() const { return m_nState == 1; }

    bool LoadStartupSound(SoundBufferSlot& slot, int resourceId);
    bool CreateBufferFromResource(std::uint16_t resourceId, SoundBufferSlot& slot);
    // formatSize (optional): the bytes of the fmt body that lie inside the image.
    bool FindWaveResource(int resourceId, const WAVEFORMATEX** format, const std::uint8_t** data,
                          std::uint32_t* dataSize, std::uint32_t* formatSize = nullptr);
    // path: CP932 host path. Returns the data length in bytes; 0 = not loaded (slot empty).
    // Paths ending in .flac, .ogg, .opus or .mp3 are decoded; every other path is read as WAVE.
    std::uint32_t LoadWaveFile(const std::string& path, SoundBufferSlot& slot);
    bool PlayFromStart(SoundBufferSlot& slot);
    // A buffer holding a copy of samples already in memory (the editor's preview): the data
    // length, or 0 while the device is closed or the buffer cannot be made.
    std::uint32_t CreateBufferFromMemory(const WAVEFORMATEX& format, const std::uint8_t* bytes,
                                         std::uint32_t size, SoundBufferSlot& slot);

    // Which devices the open output plays on, and how they are doing; false while closed or on
    // an output without devices. Never waits for a device.
    bool SetOutputRoute(const OutputRoute& route);
    bool GetOutputStatus(OutputStatus* status) const;
    std::vector<std::string> OutputDeviceNames() const;
    static void ReleaseBuffer(SoundBufferSlot& slot);

    // The resource images this device finds, by id (the jingle is 132). Tests install others;
    // null restores the program's own.
    struct Resource {
        const std::uint8_t* data;
        std::size_t size;
    };
    using ResourceLookup = Resource (*)(int resourceId);
    void SetResourceLookup(ResourceLookup lookup);

    // The walk over an in-memory RIFF image, bounded by the image's real size and the RIFF
    // chunk's end whatever the inner size fields claim: a data chunk running past that end is
    // cut to the bytes that are there, a fmt chunk must lie inside it whole.
    static bool FindWaveInImage(const std::uint8_t* image, std::size_t imageSize,
                                const WAVEFORMATEX** format, const std::uint8_t** data,
                                std::uint32_t* dataSize, std::uint32_t* formatSize = nullptr);

private:
    // Gives back the primary buffer, then the device object; state 0.
    void ReleaseDevice();
    // A FLAC, Ogg Vorbis, Opus or MP3 effect, decoded whole (audio/sound_decoder.h); the
    // buffer then holds 16-bit PCM and the length returned is the decoded one.
    std::uint32_t LoadDecodedFile(const std::string& path, SoundBufferSlot& slot);
    // The sound decoded straight into a buffer of the length its header gives, so that it is
    // never copied: what LoadWaveFile returns. When the stream ends early, its frames are copied
    // to a buffer of their length. Nothing when the header gives no believable length, or the
    // stream holds more than it says or no frame: `decoded` then holds the frames taken so far.
    std::optional<std::uint32_t> DecodeStraightIn(SoundDecoder& decoder, SoundBufferSlot& slot,
                                                  std::vector<std::int16_t>* decoded);
    // FillNewBuffer with a copy of `bytes`; `copied` runs before the buffer is unlocked.
    template <class Copied>
    std::uint32_t FillWithCopy(const WAVEFORMATEX& format, const std::uint8_t* bytes,
                               std::uint32_t size, SoundBufferSlot& slot, const Copied& copied);
    // Makes an effect's buffer of `size` bytes, locks it whole, lets `fill` write the regions and
    // unlocks it: `size`, or 0 (with the message where the buffer could not be made).
    template <class Fill>
    std::uint32_t FillNewBuffer(const WAVEFORMATEX* format, std::uint32_t size,
                                SoundBufferSlot& slot, const Fill& fill);
    // Lock from offset 0 for `bytes`, with the one Restore-and-retry after a lost buffer.
    static HRESULT LockWhole(IDirectSoundBuffer& buffer, std::uint32_t bytes, void** region1,
                             std::uint32_t* bytes1, void** region2, std::uint32_t* bytes2);

    void* m_hWndOwner = nullptr;
    std::int32_t m_nState = 0; // 0 closed, 1 open
    SoundDevicePtr m_pDirectSound;
    SoundBufferPtr m_pPrimary;
    ResourceLookup m_lookup;
};

// The compiled-in start-up jingle (RIFF WAVE image).
constexpr int IDR_WAVE_JINGLE = 132;
const std::uint8_t* JingleImage();
std::size_t JingleImageSize();
