// SPDX-License-Identifier: GPL-3.0-or-later
// The effect file reader. A small buffered reader stands in for the multimedia file functions;
// every read is bounded by the RIFF chunk's end and the file's end, and the only allocation
// sized by the file is the format record (at most 18 + 65535 bytes).
#include "audio/wave_file.h"

#include "base/regular_file.h"
#include "base/text.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr std::size_t kBufferSize = 65536;
constexpr std::size_t kFormatSize = sizeof(WAVEFORMATEX);

} // namespace

CWaveFile::~CWaveFile() {
    Close();
}

void CWaveFile::Close() {
    if (m_hmmio) {
        std::fclose(m_hmmio);
        m_hmmio = nullptr;
    }
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_nBufPos = m_nBufEnd = 0;
    m_nBufFileOffset = m_nFileSize = m_nLimit = 0;
}

const WAVEFORMATEX* CWaveFile::Format() const {
    if (m_pwfx.size() < kFormatSize)
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(m_pwfx.data());
}

std::uint32_t CWaveFile::AvailableDataSize() const {
    const std::uint64_t position = m_nBufFileOffset + m_nBufPos;
    const std::uint64_t left = m_nLimit > position ? m_nLimit - position : 0;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(m_ckData.cksize, left));
}

bool CWaveFile::Seek(std::uint64_t position) {
    if (!m_hmmio)
        return false;
    if (position >= m_nBufFileOffset && position <= m_nBufFileOffset + m_nBufEnd) {
        m_nBufPos = static_cast<std::size_t>(position - m_nBufFileOffset);
        return true;
    }
    // Refilled lazily from the new place.
    m_nBufFileOffset = position;
    m_nBufPos = m_nBufEnd = 0;
    return true;
}

bool CWaveFile::Fill() {
    const std::uint64_t offset = m_nBufFileOffset + m_nBufEnd;
    if (offset >= m_nLimit)
        return false;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, m_nLimit - offset));
    if (fseeko(m_hmmio, static_cast<off_t>(offset), SEEK_SET) != 0)
        return false;
    const std::size_t got = std::fread(m_buffer.data(), 1, want, m_hmmio);
    m_nBufFileOffset = offset;
    m_nBufPos = 0;
    m_nBufEnd = got;
    return got > 0;
}

std::uint32_t CWaveFile::ReadRaw(void* destination, std::uint32_t count) {
    auto* out = static_cast<std::uint8_t*>(destination);
    std::uint32_t done = 0;
    while (done < count) {
        if (m_nBufPos == m_nBufEnd && !Fill())
            break;
        const std::size_t n = std::min<std::size_t>(count - done, m_nBufEnd - m_nBufPos);
        std::memcpy(out + done, m_buffer.data() + m_nBufPos, n);
        m_nBufPos += n;
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

bool CWaveFile::DescendRiff(MMCKINFO& riff) {
    std::uint8_t header[12];
    if (!Seek(0) || ReadRaw(header, sizeof header) != sizeof header)
        return false;
    riff.ckid = Le32(header);
    riff.cksize = Le32(header + 4);
    riff.fccType = Le32(header + 8);
    riff.dwDataOffset = 8;
    riff.dwFlags = 0;
    if (riff.ckid != kRiff || riff.fccType != kWave)
        return false;
    // From here on nothing past the RIFF chunk is read.
    m_nLimit = std::min<std::uint64_t>(m_nFileSize, std::uint64_t{8} + riff.cksize);
    // Bytes already buffered past that end are not ours to hand out.
    if (m_nBufFileOffset + m_nBufEnd > m_nLimit) {
        m_nBufEnd = static_cast<std::size_t>(m_nLimit - std::min(m_nLimit, m_nBufFileOffset));
        m_nBufPos = std::min(m_nBufPos, m_nBufEnd);
    }
    return true;
}

bool CWaveFile::FindChunk(std::uint32_t id, MMCKINFO& chunk) {
    for (;;) {
        const std::uint64_t position = m_nBufFileOffset + m_nBufPos;
        if (position + 8 > m_nLimit)
            return false;
        std::uint8_t header[8];
        if (ReadRaw(header, sizeof header) != sizeof header)
            return false;
        const std::uint32_t size = Le32(header + 4);
        if (Le32(header) == id) {
            chunk.ckid = id;
            chunk.cksize = size;
            chunk.fccType = 0;
            chunk.dwDataOffset = static_cast<std::uint32_t>(position + 8);
            chunk.dwFlags = 0;
            return true;
        }
        if (!Seek(position + 8 + size + (size & 1)))
            return false;
    }
}

bool CWaveFile::ReadFormat() {
    MMCKINFO fmt;
    if (!FindChunk(kFmt, fmt) || fmt.cksize < 16)
        return false;
    std::uint8_t head[16];
    if (ReadRaw(head, sizeof head) != sizeof head)
        return false;
    if (Le16(head) == WAVE_FORMAT_PCM) {
        // Bytes of the chunk beyond the first 16 are not read.
        m_pwfx.assign(kFormatSize, 0);
        std::memcpy(m_pwfx.data(), head, sizeof head);
    } else {
        // The extra count follows at once, whatever the chunk's size says.
        std::uint8_t count[2];
        if (ReadRaw(count, sizeof count) != sizeof count)
            return false;
        const std::uint16_t extra = Le16(count);
        m_pwfx.assign(kFormatSize + extra, 0);
        std::memcpy(m_pwfx.data(), head, sizeof head);
        std::memcpy(m_pwfx.data() + 16, count, sizeof count);
        if (ReadRaw(m_pwfx.data() + kFormatSize, extra) != extra)
            return false;
    }
    // Out of the chunk, past its pad byte.
    return Seek(std::uint64_t{fmt.dwDataOffset} + fmt.cksize + (fmt.cksize & 1));
}

HRESULT CWaveFile::Open(const std::string& path) {
    m_pwfx.clear();
    Close();
    m_ckData = MMCKINFO{};
    m_ckRiff = MMCKINFO{};

    // Only a regular file, opened without waiting: a directory reads as nothing, and a FIFO or a
    // device could block the window's thread for ever.
    m_hmmio = FOpenRegularFileForReading(ToOsPath(path)).release();
    if (!m_hmmio)
        return E_FAIL;
    struct stat info {};
    if (fstat(fileno(m_hmmio), &info) != 0) {
        Close();
        return E_FAIL;
    }
    std::setvbuf(m_hmmio, nullptr, _IONBF, 0); // our own buffer does the buffering
    m_buffer.resize(kBufferSize);
    m_nFileSize = static_cast<std::uint64_t>(info.st_size);
    m_nLimit = m_nFileSize;

    if (!DescendRiff(m_ckRiff) || !ReadFormat()) {
        m_pwfx.clear();
        Close();
        return E_FAIL;
    }

    // The data chunk is searched from the start of the RIFF body, so one placed before the
    // format is found too. The file stays open on failure until Close.
    if (!Seek(std::uint64_t{m_ckRiff.dwDataOffset} + 4) || !FindChunk(kData, m_ckData))
        return E_FAIL;
    // The search stopped at the RIFF chunk's end, but sample reads stop only at the file's:
    // encoders that stream write a placeholder RIFF size and leave the samples past it.
    m_nLimit = m_nFileSize;
    return S_OK;
}

HRESULT CWaveFile::Read(std::uint32_t count, void* destination, std::uint32_t* delivered) {
    if (delivered)
        *delivered = 0;
    if (!m_hmmio)
        return E_FAIL;
    const std::uint32_t n = std::min(count, m_ckData.cksize);
    m_ckData.cksize -= n;
    if (ReadRaw(destination, n) != n)
        return E_FAIL; // end of file: what was there stays in the destination
    if (delivered)
        *delivered = n;
    return S_OK;
}
