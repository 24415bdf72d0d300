// Reads and writes 16-bit PCM RIFF/WAVE files, streaming the data chunk.
//
// CWavReader accepts format tag 1 (PCM), or WAVE_FORMAT_EXTENSIBLE with the PCM
// sub-format, 16 bits per sample, any sample rate and channel count. Chunks
// other than "fmt " and "data" (LIST, fact, cue ...) are skipped. Everything
// else is refused with a sentence saying why, and so is a file shorter than
// its header or its data chunk declares: playing half a file silently would
// hide the damage.
#ifndef VOCORA_TOOLS_WAV_FILE_H
#define VOCORA_TOOLS_WAV_FILE_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct WavFormat {
    uint32_t ulFormatTag = 0;  // as in the fmt chunk (1, or 0xFFFE for extensible)
    uint32_t ulSampleRate = 0;
    uint32_t ulChannels = 0;
    uint32_t ulBitsPerSample = 0;
    uint32_t ulBlockAlign = 0;  // bytes of one frame (all channels)
};

// Owns a Win32 file handle.
class CFileHandle {
public:
    CFileHandle() = default;
    explicit CFileHandle(HANDLE hFile) : m_hFile(hFile) {}
    ~CFileHandle();
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    CFileHandle(CFileHandle&& oOther) noexcept;
    CFileHandle& operator=(CFileHandle&& oOther) noexcept;

    HANDLE Get() const { return m_hFile; }
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};

class CWavReader {
public:
    // Opens strPath and reads its header up to the start of the samples.
    // False, with the reason in strError, for a file that cannot be opened,
    // is not 16-bit PCM WAVE, or is truncated.
    bool Open(const std::string& strPath, std::string& strError);

    const WavFormat& Format() const { return m_stFormat; }
    // Sample bytes in the data chunk, whole frames only (a stray partial frame
    // at the end is left out).
    uint32_t DataBytes() const { return m_ulDataBytes; }
    double Seconds() const;

    // Copies the next min(ulBytes, what is left) sample bytes into pucBuffer
    // and sets ulRead (0 once everything was read). False, with the reason in
    // strError, when the file cannot be read any more.
    bool Read(uint8_t* pucBuffer, uint32_t ulBytes, uint32_t& ulRead, std::string& strError);

private:
    bool ParseFmtChunk(const uint8_t* pucChunk, uint32_t ulSize, std::string& strError);

    CFileHandle m_oFile;
    WavFormat m_stFormat;
    uint32_t m_ulDataBytes = 0;
    uint32_t m_ulDataRead = 0;
};

// Writes a 16-bit PCM file as the samples arrive. The header goes out first
// with sizes that cover no samples; UpdateHeader and Finish rewrite it with
// the true sizes. A process killed in between leaves a valid file holding the
// samples up to the last update: whatever was appended after it lies past the
// declared end of the data chunk, where readers do not look.
class CWavWriter {
public:
    // The largest data chunk the 32-bit RIFF size can describe.
    static constexpr uint64_t kullMaxDataBytes = 0xFFFFFFFFull - 36;

    // ullMaxDataBytes lower than the format's own limit serves tests.
    explicit CWavWriter(uint64_t ullMaxDataBytes = kullMaxDataBytes)
        : m_ullMaxDataBytes(ullMaxDataBytes)
    {
    }
    // Finishes a file still open, so that no way out leaves a stale header.
    ~CWavWriter();
    CWavWriter(const CWavWriter&) = delete;
    CWavWriter& operator=(const CWavWriter&) = delete;

    // Creates (or replaces) strPath and writes the header.
    bool Create(const std::string& strPath, uint32_t ulSampleRate, uint32_t ulChannels,
                std::string& strError);
    // Appends up to the size limit, which falls on a whole frame; ulTaken says
    // how many bytes went in (fewer than ulBytes only once IsFull()).
    bool Append(const uint8_t* pucData, uint32_t ulBytes, uint32_t& ulTaken, std::string& strError);
    bool UpdateHeader(std::string& strError);
    // Pads an odd data chunk, writes the final header and closes the file.
    bool Finish(std::string& strError);

    uint64_t DataBytes() const { return m_ullDataBytes; }
    bool IsFull() const { return m_ullDataBytes >= m_ullLimit; }

private:
    std::vector<uint8_t> Header() const;

    CFileHandle m_oFile;
    uint64_t m_ullMaxDataBytes;
    uint64_t m_ullLimit = 0;  // m_ullMaxDataBytes down to a whole frame
    uint64_t m_ullDataBytes = 0;
    uint32_t m_ulSampleRate = 0;
    uint32_t m_ulChannels = 0;
};

#endif
