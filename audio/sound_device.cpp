// SPDX-License-Identifier: GPL-3.0-or-later
// The audio device: opens the output, turns WAVE data into sound buffers and plays the jingle.
// Every failure the user should know of is one message box captioned "Error".
#include "audio/sound_device.h"

#include "audio/riff.h"
#include "audio/sound_decoder.h"
#include "audio/texts.h"
#include "audio/wave_file.h"
#include "base/message.h"
#include "base/text.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// 360672: effects keep sounding while another application has the focus.
constexpr std::uint32_t kEffectFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN |
                                       DSBCAPS_CTRLVOLUME | DSBCAPS_GLOBALFOCUS |
                                       DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_LOCDEFER;
// 65746
constexpr std::uint32_t kJingleFlags = DSBCAPS_STATIC | DSBCAPS_CTRL3D | DSBCAPS_CTRLPAN |
                                       DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2;
static_assert(kEffectFlags == 360672 && kJingleFlags == 65746);

void ShowError(std::string_view utf8) {
    MessageBoxA(Cp932FromUtf8(utf8), kErrorCaption, MB_OK);
}

// Copies `size` bytes into the regions a lock handed out: never more than `size`, whatever
// the lock offers.
void CopyToRegions(const std::uint8_t* bytes, std::uint32_t size, void* region1,
                   std::uint32_t bytes1, void* region2, std::uint32_t bytes2) {
    const std::uint32_t copy1 = std::min(bytes1, size);
    const std::uint32_t copy2 = std::min(bytes2, size - copy1);
    if (region1 && copy1)
        std::memcpy(region1, bytes, copy1);
    if (region2 && copy2)
        std::memcpy(region2, bytes + copy1, copy2);
}

CSoundDevice::Resource DefaultLookup(int resourceId) {
    if (resourceId == IDR_WAVE_JINGLE)
        return {JingleImage(), JingleImageSize()};
    return {nullptr, 0};
}

// The buffer gets a format record of its own, built only from bytes inside the image: a short
// fmt body is zero-filled to 18 bytes, and cbSize never claims bytes the body does not hold.
std::vector<std::uint8_t> FormatRecordFromBody(const WAVEFORMATEX* body, std::uint32_t bodySize) {
    constexpr std::size_t kHead = sizeof(WAVEFORMATEX);
    std::vector<std::uint8_t> record(kHead, 0);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(body);
    std::memcpy(record.data(), bytes, std::min<std::size_t>(bodySize, kHead));
    WAVEFORMATEX head;
    std::memcpy(&head, record.data(), kHead);
    std::uint16_t extra = 0;
    if (head.wFormatTag != WAVE_FORMAT_PCM && bodySize > kHead)
        extra = static_cast<std::uint16_t>(std::min<std::uint32_t>(head.cbSize, bodySize - kHead));
    head.cbSize = extra;
    std::memcpy(record.data(), &head, kHead);
    record.insert(record.end(), bytes + kHead, bytes + kHead + extra);
    return record;
}

} // namespace

CSoundDevice::CSoundDevice() : m_lookup(&DefaultLookup) {}

CSoundDevice::~CSoundDevice() {
    Close();
}

void CSoundDevice::SetResourceLookup(ResourceLookup lookup) {
    m_lookup = lookup ? lookup : &DefaultLookup;
}

bool CSoundDevice::Open(void* owner, int channels, int samplesPerSec, int bitsPerSample) {
    return Open(owner, channels, samplesPerSec, bitsPerSample, OutputConfig{});
}

bool CSoundDevice::Open(void* owner, int channels, int samplesPerSec, int bitsPerSample,
                        const OutputConfig& config) {
    if (m_nState != 0)
        return false;
    m_hWndOwner = owner;

    SoundDevicePtr device;
    if (DirectSoundCreate(config, &device) != DS_OK || !device) {
        ShowError(texts::kCreateDeviceFailed);
        return false;
    }
    if (device->SetCooperativeLevel(owner, DSSCL_PRIORITY) != DS_OK) {
        device.reset();
        ShowError(texts::kCooperativeLevelFailed);
        return false;
    }
    DSBUFFERDESC desc;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    SoundBufferPtr primary;
    if (device->CreateSoundBuffer(&desc, &primary, nullptr) != DS_OK || !primary) {
        primary.reset();
        device.reset();
        ShowError(texts::kPrimaryBufferFailed);
        return false;
    }

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<std::uint16_t>(channels);
    format.nSamplesPerSec = static_cast<std::uint32_t>(samplesPerSec);
    format.nBlockAlign = static_cast<std::uint16_t>(bitsPerSample / 8 * channels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.wBitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
    format.cbSize = 0;
    if (primary->SetFormat(&format) != DS_OK) {
        primary.reset();
        device.reset();
        return false;
    }

    m_pDirectSound = std::move(device);
    m_pPrimary = std::move(primary);
    m_nState = 1;
    return true;
}

void CSoundDevice::ReleaseDevice() {
    m_pPrimary.reset();
    m_pDirectSound.reset();
    m_nState = 0;
}

void CSoundDevice::Close() {
    if (m_nState != 1)
        return;
    m_pPrimary->Stop();
    ReleaseDevice();
}

bool CSoundDevice::LoadStartupSound(SoundBufferSlot& slot, int resourceId) {
    if (m_nState != 1)
        return false;
    if (CreateBufferFromResource(static_cast<std::uint16_t>(resourceId), slot))
        return true;
    ReleaseDevice();
    ShowError(texts::kSecondaryBufferFailed);
    return false;
}

HRESULT CSoundDevice::LockWhole(IDirectSoundBuffer& buffer, std::uint32_t bytes, void** region1,
                                std::uint32_t* bytes1, void** region2, std::uint32_t* bytes2) {
    HRESULT hr = buffer.Lock(0, bytes, region1, bytes1, region2, bytes2, 0);
    if (hr == DSERR_BUFFERLOST) {
        buffer.Restore();
        hr = buffer.Lock(0, bytes, region1, bytes1, region2, bytes2, 0);
    }
    return hr;
}

bool CSoundDevice::CreateBufferFromResource(std::uint16_t resourceId, SoundBufferSlot& slot) {
    if (m_nState != 1)
        return false;
    const WAVEFORMATEX* body = nullptr;
    const std::uint8_t* data = nullptr;
    std::uint32_t dataSize = 0;
    std::uint32_t bodySize = 0;
    if (!FindWaveResource(resourceId, &body, &data, &dataSize, &bodySize)) {
        ShowError(texts::kWaveDataFailed);
        return false;
    }
    const std::vector<std::uint8_t> record = FormatRecordFromBody(body, bodySize);

    DSBUFFERDESC desc;
    desc.dwFlags = kJingleFlags;
    desc.dwBufferBytes = dataSize;
    desc.lpwfxFormat = reinterpret_cast<const WAVEFORMATEX*>(record.data());
    if (m_pDirectSound->CreateSoundBuffer(&desc, &slot, nullptr) != DS_OK || !slot) {
        slot.reset();
        return false;
    }

    void* region1 = nullptr;
    void* region2 = nullptr;
    std::uint32_t bytes1 = 0;
    std::uint32_t bytes2 = 0;
    if (LockWhole(*slot, dataSize, &region1, &bytes1, &region2, &bytes2) != DS_OK) {
        ReleaseBuffer(slot);
        return false;
    }
    CopyToRegions(data, dataSize, region1, bytes1, region2, bytes2);
    slot->Unlock(region1, bytes1, region2, bytes2);
    return true;
}

bool CSoundDevice::FindWaveResource(int resourceId, const WAVEFORMATEX** format,
                                    const std::uint8_t** data, std::uint32_t* dataSize,
                                    std::uint32_t* formatSize) {
    *format = nullptr;
    *data = nullptr;
    *dataSize = 0;
    if (formatSize)
        *formatSize = 0;
    if (m_nState != 1)
        return false;
    const Resource resource = m_lookup(resourceId);
    if (!resource.data)
        return false;
    return FindWaveInImage(resource.data, resource.size, format, data, dataSize, formatSize);
}

bool CSoundDevice::FindWaveInImage(const std::uint8_t* image, std::size_t imageSize,
                                   const WAVEFORMATEX** format, const std::uint8_t** data,
                                   std::uint32_t* dataSize, std::uint32_t* formatSize) {
    *format = nullptr;
    *data = nullptr;
    *dataSize = 0;
    if (formatSize)
        *formatSize = 0;
    if (!image || imageSize < 12 || Le32(image) != kRiff || Le32(image + 8) != kWave)
        return false;
    const std::uint64_t end =
        std::min<std::uint64_t>(imageSize, std::uint64_t{8} + Le32(image + 4));

    const std::uint8_t* fmt = nullptr;
    std::uint32_t fmtSize = 0;
    const std::uint8_t* body = nullptr;
    std::uint32_t bodyBytes = 0;
    std::uint64_t position = 12;
    while (position < end) {
        if (position + 8 > end)
            return false;
        const std::uint32_t id = Le32(image + position);
        const std::uint32_t size = Le32(image + position + 4);
        position += 8;
        const std::uint64_t inside = std::min<std::uint64_t>(size, end - position);
        if (id == kFmt && !fmt) {
            // A fmt chunk too short, or cut by the end, ends the walk.
            if (size < 14 || inside < 14)
                return false;
            fmt = image + position;
            fmtSize = static_cast<std::uint32_t>(inside);
        }
        if (id == kData && (!body || bodyBytes == 0)) {
            body = image + position;
            bodyBytes = static_cast<std::uint32_t>(inside);
        }
        if (fmt && body && bodyBytes != 0) {
            if (position >= end)
                return false;
            *format = reinterpret_cast<const WAVEFORMATEX*>(fmt);
            *data = body;
            *dataSize = bodyBytes;
            if (formatSize)
                *formatSize = fmtSize;
            return true;
        }
        position += std::uint64_t{size} + (size & 1);
    }
    return false;
}

std::uint32_t CSoundDevice::LoadWaveFile(const std::string& path, SoundBufferSlot& slot) {
    // A closed device loads nothing and says nothing: the user was told once why there is no
    // sound when the device failed, and one box per effect would bury the window.
    if (m_nState != 1) {
        slot.reset();
        return 0;
    }
    if (IsDecodedSoundPath(path))
        return LoadDecodedFile(path, slot);
    CWaveFile reader;
    if (reader.Open(path) != S_OK) {
        slot.reset();
        ShowError(texts::kWaveOpenFailed);
        return 0;
    }
    // A data chunk may claim more than the file holds: the buffer is the bytes really there,
    // so a lying size field can never make us allocate what the file does not have.
    const std::uint32_t size = reader.AvailableDataSize();
    return FillNewBuffer(
        reader.Format(), size, slot,
        [&](void* region1, std::uint32_t bytes1, void* region2, std::uint32_t bytes2) {
            std::uint32_t delivered = 0;
            if (region1)
                reader.Read(bytes1, region1, &delivered);
            if (region2 && bytes2 != 0)
                reader.Read(bytes2, region2, &delivered);
        });
}

template <class Fill>
std::uint32_t CSoundDevice::FillNewBuffer(const WAVEFORMATEX* format, std::uint32_t size,
                                          SoundBufferSlot& slot, const Fill& fill) {
    DSBUFFERDESC desc;
    desc.dwFlags = kEffectFlags;
    desc.dwBufferBytes = size;
    desc.lpwfxFormat = format;
    if (m_pDirectSound->CreateSoundBuffer(&desc, &slot, nullptr) < 0 || !slot) {
        slot.reset();
        ShowError(texts::kBufferFailed);
        return 0;
    }
    void* region1 = nullptr;
    void* region2 = nullptr;
    std::uint32_t bytes1 = 0;
    std::uint32_t bytes2 = 0;
    if (LockWhole(*slot, size, &region1, &bytes1, &region2, &bytes2) < 0) {
        ReleaseBuffer(slot);
        return 0;
    }
    fill(region1, bytes1, region2, bytes2);
    slot->Unlock(region1, bytes1, region2, bytes2);
    return size;
}

std::uint32_t CSoundDevice::LoadDecodedFile(const std::string& path, SoundBufferSlot& slot) {
    SoundDecoder decoder;
    DecodedSound sound;
    const bool opened = decoder.OpenFile(path) == S_OK;
    if (opened) {
        sound.format = decoder.Format();
        if (const std::optional<std::uint32_t> size =
                DecodeStraightIn(decoder, slot, &sound.samples))
            return *size;
    }
    if (!opened || decoder.ReadRest(&sound) != S_OK) {
        slot.reset();
        ShowError(texts::kWaveOpenFailed); // the same words as for an unusable WAVE file
        return 0;
    }
    // Longer than a buffer holds: the size passed on makes CreateSoundBuffer refuse it.
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(sound.Bytes(), UINT32_MAX));
    return FillWithCopy(sound.format, reinterpret_cast<const std::uint8_t*>(sound.samples.data()),
                        size, slot, [&] { sound.samples = {}; });
}

std::optional<std::uint32_t> CSoundDevice::DecodeStraightIn(SoundDecoder& decoder,
                                                            SoundBufferSlot& slot,
                                                            std::vector<std::int16_t>* decoded) {
    const WAVEFORMATEX& format = decoder.Format();
    const std::size_t frames = decoder.FrameHint();
    if (frames == 0 || frames > DSBSIZE_MAX / format.nBlockAlign)
        return std::nullopt;
    const auto size = static_cast<std::uint32_t>(frames * format.nBlockAlign);
    DSBUFFERDESC desc;
    desc.dwFlags = kEffectFlags;
    desc.dwBufferBytes = size;
    desc.lpwfxFormat = &format;
    SoundBufferSlot buffer;
    void* region1 = nullptr;
    void* region2 = nullptr;
    std::uint32_t bytes1 = 0;
    std::uint32_t bytes2 = 0;
    // Any refusal here is met again, and told, on the ordinary way.
    if (m_pDirectSound->CreateSoundBuffer(&desc, &buffer, nullptr) < 0 || !buffer ||
        LockWhole(*buffer, size, &region1, &bytes1, &region2, &bytes2) < 0 || bytes1 != size)
        return std::nullopt;
    auto* samples = static_cast<std::int16_t*>(region1);
    const std::size_t got = decoder.Read(samples, frames);
    const std::size_t channels = format.nChannels;
    std::vector<std::int16_t> next(channels);
    const std::size_t more = got == frames ? decoder.Read(next.data(), 1) : 0;
    if (got == frames && more == 0) {
        buffer->Unlock(region1, bytes1, region2, bytes2);
        slot = std::move(buffer);
        return size;
    }
    if (got != 0 && more == 0) // the stream ended early: its frames move to a buffer of their own
        return FillWithCopy(format, static_cast<const std::uint8_t*>(region1),
                            static_cast<std::uint32_t>(got * format.nBlockAlign), slot, [] {});
    // More frames than the header said, or none: the ordinary way goes on from here.
    decoded->assign(samples, samples + got * channels);
    decoded->insert(decoded->end(), next.begin(),
                    next.begin() + static_cast<std::ptrdiff_t>(more * channels));
    return std::nullopt;
}

template <class Copied>
std::uint32_t CSoundDevice::FillWithCopy(const WAVEFORMATEX& format, const std::uint8_t* bytes,
                                         std::uint32_t size, SoundBufferSlot& slot,
                                         const Copied& copied) {
    return FillNewBuffer(
        &format, size, slot,
        [&](void* region1, std::uint32_t bytes1, void* region2, std::uint32_t bytes2) {
            CopyToRegions(bytes, size, region1, bytes1, region2, bytes2);
            // Freed before Unlock prepares the mixer's copy: one copy less at the peak.
            copied();
        });
}

std::uint32_t CSoundDevice::CreateBufferFromMemory(const WAVEFORMATEX& format,
                                                   const std::uint8_t* bytes, std::uint32_t size,
                                                   SoundBufferSlot& slot) {
    if (m_nState != 1 || size == 0)
        return 0;
    return FillWithCopy(format, bytes, size, slot, [] {});
}

bool CSoundDevice::PlayFromStart(SoundBufferSlot& slot) {
    if (m_nState != 1 || !slot)
        return false;
    slot->Stop();
    slot->SetCurrentPosition(0);
    slot->Play(0, 0, 0);
    return true;
}

bool CSoundDevice::SetOutputRoute(const OutputRoute& route) {
    return m_nState == 1 && ::SetOutputRoute(m_pDirectSound, route);
}

bool CSoundDevice::GetOutputStatus(OutputStatus* status) const {
    return m_nState == 1 && ::GetOutputStatus(m_pDirectSound, status);
}

std::vector<std::string> CSoundDevice::OutputDeviceNames() const {
    return m_nState == 1 ? ::OutputDeviceNames(m_pDirectSound) : std::vector<std::string>{};
}

void CSoundDevice::ReleaseBuffer(SoundBufferSlot& slot) {
    slot.reset();
}
