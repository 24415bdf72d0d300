// 16-bit PCM RIFF/WAVE files, the data chunk streamed.
#ifndef VOCORA_TOOLS_WAV_FILE_H
#define VOCORA_TOOLS_WAV_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

// Takes format tag 1, or the extensible tag with the PCM sub-format, at 16
// bits; skips chunks other than "fmt " and "data". Anything else, and a file
// shorter than its chunks declare, is refused with a sentence saying why:
// playing half a file in silence would hide the damage.
class CWavReader {
public:
    ~CWavReader();
    bool Open(const std::string& strPath, std::string& strError);
    uint32_t SampleRate() const { return m_ulSampleRate; }
    uint32_t Channels() const { return m_ulChannels; }
    uint32_t DataBytes() const { return m_ulDataBytes; }  // whole frames only
    // The next min(ulBytes, what is left) bytes; ulRead 0 at the end.
    bool Read(uint8_t* pucBuffer, uint32_t ulBytes, uint32_t& ulRead, std::string& strError);

private:
    std::FILE* m_pFile = nullptr;
    uint32_t m_ulSampleRate = 0;
    uint32_t m_ulChannels = 0;
    uint32_t m_ulDataBytes = 0;
    uint32_t m_ulDataRead = 0;
};

// Writes as the samples arrive. The header goes out first covering no
// samples; UpdateHeader and Finish rewrite it with the true sizes, so a
// process killed in between leaves a valid file holding the samples up to the
// last update.
class CWavWriter {
public:
    ~CWavWriter();  // finishes a file still open
    bool Create(const std::string& strPath, uint32_t ulSampleRate, uint32_t ulChannels, std::string& strError);
    bool Append(const void* pData, uint32_t ulBytes, std::string& strError);
    bool UpdateHeader(std::string& strError);
    bool Finish(std::string& strError);
    uint64_t DataBytes() const { return m_ullDataBytes; }

private:
    std::FILE* m_pFile = nullptr;
    std::string m_strPath;
    uint32_t m_ulSampleRate = 0;
    uint32_t m_ulChannels = 0;
    uint64_t m_ullDataBytes = 0;
};

#endif
