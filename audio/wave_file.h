// SPDX-License-Identifier: GPL-3.0-or-later
// Reads an effect's RIFF WAVE file: checks the header, copies the format, finds the data chunk
// and hands out the sample bytes on request. Our own chunk reader over a buffered file.
#pragma once

#include "audio/riff.h"
#include "audio/sound_output.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Chunk information, as the multimedia file functions kept it.
struct MMCKINFO {
    std::uint32_t ckid = 0;
    std::uint32_t cksize = 0;
    std::uint32_t fccType = 0;
    std::uint32_t dwDataOffset = 0;
    std::uint32_t dwFlags = 0;
};

class CWaveFile {
public:
    CWaveFile() = default;
    ~CWaveFile();
    CWaveFile(const CWaveFile&) = delete;
    CWaveFile& operator=(const CWaveFile&) = delete;

    // path: CP932, as stored (converted with ToOsPath here). S_OK or E_FAIL.
    HRESULT Open(const std::string& path);
    // Copies up to `count` sample bytes; delivered is set only on success.
    HRESULT Read(std::uint32_t count, void* destination, std::uint32_t* delivered);
    void Close();

    // The format record: 18 bytes for PCM, 18 + cbSize otherwise. Null before a successful Open.
    const WAVEFORMATEX* Format() const;
    // Sample bytes not yet handed out (the data chunk's declared size right after Open).
    std::uint32_t DataSize() const { return m_ckData.cksize; }
    // Of those, the bytes the file really holds (the declared size may lie).
    std::uint32_t AvailableDataSize() const;

    // Readable as the design names them.
    std::vector<std::uint8_t> m_pwfx; // owned format record; empty = none
    MMCKINFO m_ckData;
    MMCKINFO m_ckRiff;

private:
    // The buffered chunk reader. Nothing is ever read at or past m_nLimit: while chunks are
    // searched, the smaller of the RIFF chunk's end and the file's end; for samples, the file's.
    bool Seek(std::uint64_t position);
    std::uint32_t ReadRaw(void* destination, std::uint32_t count);
    bool Fill();
    bool DescendRiff(MMCKINFO& riff);
    bool FindChunk(std::uint32_t id, MMCKINFO& chunk);
    bool ReadFormat();

    std::FILE* m_hmmio = nullptr;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_nBufPos = 0;          // next byte in m_buffer
    std::size_t m_nBufEnd = 0;          // valid bytes in m_buffer
    std::uint64_t m_nBufFileOffset = 0; // file offset of m_buffer[0]
    std::uint64_t m_nFileSize = 0;
    std::uint64_t m_nLimit = 0;
};
