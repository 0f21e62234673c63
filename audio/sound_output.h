// SPDX-License-Identifier: GPL-3.0-or-later
// The sound output layer: a device object and sound buffers with the operations and result codes
// of the platform mixing interface the program was designed on, over a software mixer of our own.
// Two outputs sit behind it: the real device through SDL2, and an offline renderer that tests and
// benchmarks pull frame by frame.
//
// Ownership: devices and buffers are shared_ptr; "Release" is dropping the pointer. A buffer that
// is still sounding when its last user pointer goes falls silent from the next mixed block; the
// mixer keeps its memory until it has let the voice go.
//
// Threads: every buffer operation may be called from any thread while the mixer runs. None takes
// a lock that the mixer waits on, and Play/Stop/SetPan/SetVolume/SetCurrentPosition never
// allocate. Format conversion and resampling happen in Unlock, not while mixing.
#pragma once

#include "base/win_types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);
constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);
constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
constexpr HRESULT DSERR_GENERIC = static_cast<HRESULT>(0x80004005u);

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr std::uint32_t DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr std::uint32_t DSBCAPS_STATIC = 0x00000002;
constexpr std::uint32_t DSBCAPS_CTRL3D = 0x00000010;
constexpr std::uint32_t DSBCAPS_CTRLFREQUENCY = 0x00000020;
constexpr std::uint32_t DSBCAPS_CTRLPAN = 0x00000040;
constexpr std::uint32_t DSBCAPS_CTRLVOLUME = 0x00000080;
constexpr std::uint32_t DSBCAPS_GLOBALFOCUS = 0x00008000;
constexpr std::uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;
constexpr std::uint32_t DSBCAPS_LOCDEFER = 0x00040000;

constexpr std::uint32_t DSSCL_NORMAL = 1;
constexpr std::uint32_t DSSCL_PRIORITY = 2;

constexpr std::uint32_t DSBSTATUS_PLAYING = 0x00000001;

constexpr std::uint32_t DSBPLAY_LOOPING = 0x00000001;
constexpr std::uint32_t DSBLOCK_FROMWRITECURSOR = 0x00000001;
constexpr std::uint32_t DSBLOCK_ENTIREBUFFER = 0x00000002;

// Secondary buffer sizes accepted by CreateSoundBuffer.
constexpr std::uint32_t DSBSIZE_MIN = 4;
constexpr std::uint32_t DSBSIZE_MAX = 0x0FFFFFFF;

constexpr std::int32_t DSBVOLUME_MIN = -10000;
constexpr std::int32_t DSBVOLUME_MAX = 0;
constexpr std::int32_t DSBPAN_LEFT = -10000;
constexpr std::int32_t DSBPAN_RIGHT = 10000;

// The size the description record had on the platform the program was designed on.
constexpr std::uint32_t kBufferDescSize = 36;

struct DSBUFFERDESC {
    std::uint32_t dwSize = kBufferDescSize;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwBufferBytes = 0;
    std::uint32_t dwReserved = 0;
    const WAVEFORMATEX* lpwfxFormat = nullptr; // 18 + cbSize bytes
    std::uint8_t guid3DAlgorithm[16] = {};
};

class IDirectSoundBuffer {
public:
    virtual ~IDirectSoundBuffer() = default;

    // Copies the buffer's format (18 + cbSize bytes, cut to sizeAllocated).
    virtual HRESULT GetFormat(WAVEFORMATEX* format, std::uint32_t sizeAllocated,
                              std::uint32_t* sizeWritten) = 0;
    // Primary buffer only: the output format every buffer is mixed into.
    virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
    // Writable memory of the buffer's own format: one region from offset to the end, and a second
    // one from the start when the request wraps.
    virtual HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** region1,
                         std::uint32_t* bytes1, void** region2, std::uint32_t* bytes2,
                         std::uint32_t flags) = 0;
    // Ends a Lock; prepares what the mixer needs (conversion to the output format).
    virtual HRESULT Unlock(void* region1, std::uint32_t bytes1, void* region2,
                           std::uint32_t bytes2) = 0;
    virtual HRESULT Restore() = 0;
    // Hundredths of a decibel; see the README for the laws. Take effect at the next mixed block.
    virtual HRESULT SetPan(std::int32_t pan) = 0;
    virtual HRESULT SetVolume(std::int32_t volume) = 0;
    virtual HRESULT GetPan(std::int32_t* pan) = 0;
    virtual HRESULT GetVolume(std::int32_t* volume) = 0;
    // Byte offset in the buffer's own format; on a playing buffer the sound jumps there.
    virtual HRESULT SetCurrentPosition(std::uint32_t position) = 0;
    virtual HRESULT GetStatus(std::uint32_t* status) = 0;
    // Plays once from the current position to the end (no looping); returns at once.
    virtual HRESULT Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags) = 0;
    // Silent from the next mixed block on.
    virtual HRESULT Stop() = 0;
};

using SoundBufferPtr = std::shared_ptr<IDirectSoundBuffer>;

// Starts on an exact output frame: an addition beside the operations above, for repeats that
// must land on their sample. Frames count the output's mixed frames since it opened. Any thread;
// no lock, no allocation, like Play. Each start carries its owner (a playback job; 0 for none),
// so that two jobs of one buffer leave each other's starts alone. Stop takes back every start
// that has not begun.
struct OutputClock {
    // The first frame of the next block the mixer has not begun: the earliest a start handed
    // over now lands on exactly.
    std::uint64_t nNextFrame = 0;
    // The rate the frames count at, and the frame from which they have (the frames before it
    // went at an earlier rate: another device).
    std::uint32_t nFramesPerSec = 0;
    std::uint64_t nRateSince = 0;
    // The frames of the mixer's latest block (one period; 0 before the first).
    std::uint32_t nBlockFrames = 0;
    // The output sleeps or is opening a device again: the clock may stand still a while, and
    // what is handed over sounds once it runs.
    bool bWaking = false;
};

class ISoundBufferSchedule {
public:
    virtual ~ISoundBufferSchedule() = default;
    virtual HRESULT GetOutputClock(OutputClock* clock) = 0;
    // Plays from the beginning with the first sample on `frame`, cutting what the buffer plays
    // there; a frame already mixed starts at the next block. DSERR_INVALIDCALL when 16 starts
    // already wait, DSERR_NODRIVER once the output is closed.
    virtual HRESULT PlayAtFrame(std::uint64_t frame, std::uint16_t owner) = 0;
    // PlayAtFrame on the first frame of the very next block (as soon as Play would sound), which
    // `frame` receives.
    virtual HRESULT PlayAtNextBlock(std::uint64_t* frame, std::uint16_t owner) = 0;
    // Stop on behalf of one owner: the sound heard stops, but only this owner's waiting starts
    // are taken back, so another owner's next start brings the sound back. Owner 0 is Stop.
    virtual HRESULT StopOwner(std::uint16_t owner) = 0;
    // Takes back this owner's starts that have not begun; what sounds goes on.
    virtual HRESULT TakeBackStarts(std::uint16_t owner) = 0;
};

// The schedule of one of our buffers; nullptr for any other buffer.
ISoundBufferSchedule* QueryBufferSchedule(IDirectSoundBuffer* buffer);

// How one of our buffers plays beyond the designed operations: only a part of the sound, faded
// in at every start and out when stopped, with a gain on top of its volume. Any thread; no lock,
// no allocation (except MeasureLoudness, which is not for the audio thread).
class ISoundBufferShape {
public:
    virtual ~ISoundBufferShape() = default;
    // startMs..endMs of the sound plays (endMs 0 = to its end); the fade-in is heard from the
    // next start, the rest from the next block. Fades are half a cosine, sample-exact.
    virtual HRESULT SetShape(std::uint32_t startMs, std::uint32_t endMs, std::uint32_t fadeInMs,
                             std::uint32_t fadeOutMs, float gain) = 0;
    // StopOwner, but what sounds fades out first (at once without a fade-out). A Play or a start
    // that begins during the fade cuts it.
    virtual HRESULT FadeOutOwner(std::uint16_t owner) = 0;
    // The loudness of what the buffer plays (after preparation), measured once per preparation;
    // false when it has nothing. Any thread.
    virtual bool MeasurePlayedLoudness(double* integratedLufs, double* truePeakDb) = 0;
};

// The shape of one of our buffers; nullptr for any other buffer.
ISoundBufferShape* QueryBufferShape(IDirectSoundBuffer* buffer);

// The mixer's voice of one of our buffers (its gain, send and live level: audio/mixer.h);
// nullptr for any other buffer.
class MixerVoice;
MixerVoice* QueryMixerVoice(IDirectSoundBuffer* buffer);

class IDirectSound {
public:
    virtual ~IDirectSound() = default;
    virtual HRESULT SetCooperativeLevel(void* window, std::uint32_t level) = 0;
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, SoundBufferPtr* buffer,
                                      void* outer) = 0;
};

using SoundDevicePtr = std::shared_ptr<IDirectSound>;

// Asks a PulseAudio server (or PipeWire's) for about three periods of buffering in all, where SDL
// asks for one and a few milliseconds' delay anywhere runs the stream dry; the period, and so when
// a start reaches the mix, stays. A latency the user set (PULSE_LATENCY_MSEC) wins. It sets an
// environment variable: call it before any other thread starts.
void SetSoundServerLatency();

// Opens the SDL2 output on the system default device, mixing at the device's rate. An output of
// another route, rate or kind: the overload in audio/output_config.h.
HRESULT DirectSoundCreate(const void* guid, SoundDevicePtr* device, void* outer);

// What an output obtained, for diagnostics and benchmarks.
struct SoundOutputInfo {
    std::string driver;              // "offline", or SDL's driver name
    std::uint32_t nPeriodFrames = 0; // frames per callback; 0 offline (the caller decides)
    std::uint32_t nSamplesPerSec = 0;
    std::uint16_t nChannels = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint64_t nFramesMixed = 0; // the output's clock
    std::size_t nActiveVoices = 0;  // voices the mixer held after its last block
    std::uint64_t nUnderruns = 0;   // callbacks more than two periods late
};
// False when the device is not one of ours or its output is closed.
bool GetSoundOutputInfo(const SoundDevicePtr& device, SoundOutputInfo* info);

// Test hook: the buffer's next Lock fails once with DSERR_BUFFERLOST, as when the platform takes
// buffer memory away. False when the buffer is not a secondary buffer of ours.
bool SimulateBufferLost(const SoundBufferPtr& buffer);
