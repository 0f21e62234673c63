// SPDX-License-Identifier: GPL-3.0-or-later
// Compressed effects through libsndfile. Files reach it only through our own virtual I/O: a
// regular file read with pread, or bytes in memory, so the same code reads both and nothing can
// open a pipe or a device. Only input that starts like FLAC, Ogg or MP3 is handed over, and only
// those three containers are accepted back, which keeps libsndfile's other parsers out of reach.
#include "audio/sound_decoder.h"

#include "audio/sample_format.h"
#include "base/regular_file.h"
#include "base/text.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where libsndfile reads from: memory when `data` is set, else the file `fd`.
struct ByteSource {
    const std::uint8_t* data = nullptr;
    int fd = -1;
    sf_count_t size = 0;
    sf_count_t position = 0;
};

ByteSource& SourceOf(void* user) {
    return *static_cast<ByteSource*>(user);
}

sf_count_t SourceLength(void* user) {
    return SourceOf(user).size;
}

sf_count_t SourceSeek(sf_count_t offset, int whence, void* user) {
    ByteSource& source = SourceOf(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR)
        base = source.position;
    else if (whence == SEEK_END)
        base = source.size;
    else if (whence != SEEK_SET)
        return -1;
    sf_count_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        return -1;
    source.position = target;
    return target;
}

sf_count_t SourceRead(void* destination, sf_count_t count, void* user) {
    ByteSource& source = SourceOf(user);
    if (count <= 0 || source.position >= source.size)
        return 0;
    const sf_count_t wanted = std::min(count, source.size - source.position);
    auto* out = static_cast<std::uint8_t*>(destination);
    sf_count_t done = 0;
    if (source.data) {
        std::memcpy(out, source.data + source.position, static_cast<std::size_t>(wanted));
        done = wanted;
    } else {
        while (done < wanted) {
            const ssize_t got =
                pread(source.fd, out + done, static_cast<std::size_t>(wanted - done),
                      static_cast<off_t>(source.position + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break; // the file shrank or failed: the decoder sees an early end
            done += got;
        }
    }
    source.position += done;
    return done;
}

sf_count_t SourceWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t SourceTell(void* user) {
    return SourceOf(user).position;
}

// The start of a FLAC stream, an Ogg page, an ID3v2 tag (ahead of MP3, sometimes of FLAC) or an
// MPEG audio frame.
bool StartsLikeOurs(ByteSource& source) {
    std::uint8_t head[4] = {};
    const bool whole = SourceRead(head, sizeof head, &source) == sizeof head;
    source.position = 0;
    if (!whole)
        return false;
    if (std::memcmp(head, "fLaC", 4) == 0 || std::memcmp(head, "OggS", 4) == 0 ||
        std::memcmp(head, "ID3", 3) == 0)
        return true;
    return head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;
}

// Ogg Vorbis and Opus (mapping family 1) store 3 to 8 channels in the Vorbis order; the buffer
// expects WAVE's order. Row n-3 gives, for each channel of the file, its WAVE place.
constexpr std::uint8_t kVorbisToWave[6][8] = {
    {0, 2, 1},                // L C R
    {0, 1, 2, 3},             // FL FR BL BR
    {0, 2, 1, 3, 4},          // FL C FR BL BR
    {0, 2, 1, 4, 5, 3},       // FL C FR BL BR LFE
    {0, 2, 1, 5, 6, 4, 3},    // FL C FR SL SR BC LFE
    {0, 2, 1, 6, 7, 4, 5, 3}, // FL C FR SL SR BL BR LFE
};

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

struct FileDescriptor {
    explicit FileDescriptor(int value) : fd(value) {}
    ~FileDescriptor() {
        if (fd >= 0)
            close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int fd;
};

// Decoded bytes a header may promise per byte of input before its count is not believed: above
// what lossy codecs give at ordinary rates (a 32 kbit/s stereo MP3 gives 44), and it bounds what
// a lying header can make a load touch. A sound beyond it only loses the decode in place.
constexpr std::uint64_t kMostExpansion = 64;
constexpr std::uint64_t kAlwaysBelievable = std::uint64_t{1} << 20;

constexpr std::size_t kBlockFrames = 4096;

} // namespace

struct SoundDecoder::Impl {
    FileDescriptor file{-1};
    ByteSource source;
    SF_VIRTUAL_IO io{&SourceLength, &SourceSeek, &SourceRead, &SourceWrite, &SourceTell};
    std::unique_ptr<SNDFILE, SndFileCloser> sound;
    WAVEFORMATEX format{};
    std::size_t channels = 0;
    std::size_t frameHint = 0;
    const std::uint8_t* order = nullptr;
    std::vector<float> block;
    std::vector<std::int16_t> scratch;

    HRESULT Open() {
        if (!StartsLikeOurs(source))
            return E_FAIL;
        SF_INFO info{};
        sound.reset(sf_open_virtual(&io, SFM_READ, &info, &source));
        if (!sound)
            return E_FAIL;
        const int container = info.format & SF_FORMAT_TYPEMASK;
        if (container != SF_FORMAT_FLAC && container != SF_FORMAT_OGG &&
            container != SF_FORMAT_MPEG)
            return Fail();
        const std::uint64_t blockAlign =
            std::uint64_t{2} * static_cast<std::uint64_t>(info.channels);
        const std::uint64_t byteRate = blockAlign * static_cast<std::uint64_t>(info.samplerate);
        if (info.channels < 1 || info.samplerate < 1 || blockAlign > 0xFFFF ||
            byteRate > std::numeric_limits<std::uint32_t>::max())
            return Fail();

        channels = static_cast<std::size_t>(info.channels);
        if (container == SF_FORMAT_OGG && channels >= 3 && channels <= 8)
            order = kVorbisToWave[channels - 3];
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = static_cast<std::uint16_t>(channels);
        format.nSamplesPerSec = static_cast<std::uint32_t>(info.samplerate);
        format.nAvgBytesPerSec = static_cast<std::uint32_t>(byteRate);
        format.nBlockAlign = static_cast<std::uint16_t>(blockAlign);
        format.wBitsPerSample = 16;
        format.cbSize = 0;

        const std::uint64_t believable =
            std::max(kAlwaysBelievable, kMostExpansion * static_cast<std::uint64_t>(source.size));
        if (info.frames > 0 && static_cast<std::uint64_t>(info.frames) <= believable / blockAlign)
            frameHint = static_cast<std::size_t>(info.frames);
        block.resize(kBlockFrames * channels);
        scratch.resize(order ? block.size() : 0);
        return S_OK;
    }

    HRESULT Fail() {
        sound.reset();
        return E_FAIL;
    }

    // Floats, turned to 16 bits here: lossy decoders overshoot full scale, which must clip, and
    // libsndfile's own 16-bit reads wrap an overshoot round to the other sign.
    std::size_t Read(std::int16_t* to, std::size_t frames) {
        std::size_t done = 0;
        while (sound && done < frames) {
            const std::size_t ask = std::min(kBlockFrames, frames - done);
            const sf_count_t got =
                sf_readf_float(sound.get(), block.data(), static_cast<sf_count_t>(ask));
            if (got <= 0)
                break;
            const auto n = static_cast<std::size_t>(got);
            std::int16_t* out = to + done * channels;
            if (order) {
                FloatsToS16(block.data(), n * channels, scratch.data());
                for (std::size_t f = 0; f < n; ++f)
                    for (std::size_t c = 0; c < channels; ++c)
                        out[f * channels + order[c]] = scratch[f * channels + c];
            } else {
                FloatsToS16(block.data(), n * channels, out);
            }
            done += n;
        }
        return done;
    }
};

SoundDecoder::SoundDecoder() : m_impl(std::make_unique<Impl>()) {}

SoundDecoder::~SoundDecoder() = default;

HRESULT SoundDecoder::OpenFile(const std::string& path) {
    m_impl = std::make_unique<Impl>();
    m_impl->file.fd = OpenRegularFileForReading(ToOsPath(path));
    struct stat status {};
    if (m_impl->file.fd < 0 || fstat(m_impl->file.fd, &status) != 0)
        return E_FAIL;
    m_impl->source.fd = m_impl->file.fd;
    m_impl->source.size = static_cast<sf_count_t>(status.st_size);
    return m_impl->Open();
}

HRESULT SoundDecoder::OpenBytes(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t kNothing = 0;
    m_impl = std::make_unique<Impl>();
    m_impl->source.data = data ? data : &kNothing;
    m_impl->source.size = data ? static_cast<sf_count_t>(size) : 0;
    return m_impl->Open();
}

const WAVEFORMATEX& SoundDecoder::Format() const {
    return m_impl->format;
}

std::size_t SoundDecoder::FrameHint() const {
    return m_impl->frameHint;
}

std::size_t SoundDecoder::Read(std::int16_t* to, std::size_t frames) {
    return m_impl->Read(to, frames);
}

HRESULT SoundDecoder::ReadRest(DecodedSound* out, std::size_t maxBytes) {
    if (!m_impl->sound)
        return E_FAIL;
    const std::size_t channels = m_impl->channels;
    const std::size_t maxFrames = maxBytes / (2 * channels);
    std::size_t frames = out->samples.size() / channels;
    // A believable hint saves the copies of growing; only frames really decoded are kept.
    if (m_impl->frameHint > frames && m_impl->frameHint < maxFrames)
        out->samples.reserve(m_impl->frameHint * channels);
    while (frames < maxFrames) {
        const std::size_t ask = std::min(kBlockFrames, maxFrames - frames);
        const std::size_t start = out->samples.size();
        out->samples.resize(start + ask * channels);
        const std::size_t got = m_impl->Read(out->samples.data() + start, ask);
        out->samples.resize(start + got * channels);
        if (got == 0)
            break;
        frames += got;
    }
    // Nothing decodable past the header is as unreadable as a bad header.
    return out->samples.empty() ? E_FAIL : S_OK;
}

namespace {

HRESULT DecodeAll(SoundDecoder& decoder, HRESULT opened, DecodedSound* out, std::size_t maxBytes) {
    *out = DecodedSound{};
    if (opened != S_OK)
        return E_FAIL;
    out->format = decoder.Format();
    if (decoder.ReadRest(out, maxBytes) != S_OK) {
        *out = DecodedSound{};
        return E_FAIL;
    }
    return S_OK;
}

} // namespace

bool IsDecodedSoundPath(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    std::string extension(path.substr(dot + 1));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension == "flac" || extension == "ogg" || extension == "opus" || extension == "mp3";
}

HRESULT DecodeSoundBytes(const std::uint8_t* data, std::size_t size, DecodedSound* out,
                         std::size_t maxBytes) {
    SoundDecoder decoder;
    const HRESULT opened = decoder.OpenBytes(data, size);
    return DecodeAll(decoder, opened, out, maxBytes);
}

HRESULT DecodeSoundFile(const std::string& path, DecodedSound* out, std::size_t maxBytes) {
    SoundDecoder decoder;
    const HRESULT opened = decoder.OpenFile(path);
    return DecodeAll(decoder, opened, out, maxBytes);
}
