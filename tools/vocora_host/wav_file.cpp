#include "wav_file.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr uint32_t kulFormatPcm = 1;
constexpr uint32_t kulFormatExtensible = 0xFFFE;
constexpr uint32_t kulHeaderBytes = 44;
// The largest data chunk the 32-bit RIFF size can describe.
constexpr uint64_t kullMaxDataBytes = 0xFFFFFFFFull - 36;

uint32_t Le(const uint8_t* puc, int iBytes)
{
    uint32_t ul = 0;
    for (int i = iBytes - 1; i >= 0; --i) {
        ul = (ul << 8) | puc[i];
    }
    return ul;
}

void PutLe(uint8_t* puc, uint32_t ulValue, int iBytes)
{
    for (int i = 0; i < iBytes; ++i) {
        puc[i] = static_cast<uint8_t>(ulValue >> (8 * i));
    }
}

bool Fail(std::string& strError, const std::string& strWhy)
{
    strError = strWhy;
    return false;
}

}  // namespace

CWavReader::~CWavReader()
{
    if (m_pFile != nullptr) {
        std::fclose(m_pFile);
    }
}

bool CWavReader::Open(const std::string& strPath, std::string& strError)
{
    m_pFile = std::fopen(strPath.c_str(), "rb");
    if (m_pFile == nullptr) {
        return Fail(strError, "cannot open " + strPath + ": " + std::strerror(errno));
    }
    std::fseek(m_pFile, 0, SEEK_END);
    const long lFileBytes = std::ftell(m_pFile);
    std::fseek(m_pFile, 0, SEEK_SET);
    uint8_t aucRiff[12];
    if (std::fread(aucRiff, 1, 12, m_pFile) != 12 || std::memcmp(aucRiff, "RIFF", 4) != 0 ||
        std::memcmp(aucRiff + 8, "WAVE", 4) != 0) {
        return Fail(strError, strPath + " is not a RIFF/WAVE file");
    }
    uint32_t ulBlockAlign = 0;
    for (uint8_t aucChunk[8]; std::fread(aucChunk, 1, 8, m_pFile) == 8;) {
        const uint32_t ulSize = Le(aucChunk + 4, 4);
        const long lAt = std::ftell(m_pFile);
        if (ulSize > static_cast<unsigned long>(lFileBytes - lAt)) {
            return Fail(strError, strPath + " is truncated: a chunk runs past the end of the file");
        }
        if (std::memcmp(aucChunk, "fmt ", 4) == 0) {
            uint8_t aucFmt[40] = {};
            if (ulSize < 16 || std::fread(aucFmt, 1, ulSize < 40 ? ulSize : 40, m_pFile) < 16) {
                return Fail(strError, strPath + " has a damaged fmt chunk");
            }
            // The extensible sub-format GUID starts with the plain tag it stands for.
            const uint32_t ulTag = Le(aucFmt, 2) == kulFormatExtensible && ulSize >= 40 ? Le(aucFmt + 24, 2) : Le(aucFmt, 2);
            m_ulChannels = Le(aucFmt + 2, 2);
            m_ulSampleRate = Le(aucFmt + 4, 4);
            ulBlockAlign = Le(aucFmt + 12, 2);
            if (ulTag != kulFormatPcm || Le(aucFmt + 14, 2) != 16 || m_ulChannels == 0 ||
                ulBlockAlign != 2 * m_ulChannels || m_ulSampleRate == 0) {
                return Fail(strError, strPath + ": only 16-bit PCM is played");
            }
        } else if (std::memcmp(aucChunk, "data", 4) == 0) {
            if (ulBlockAlign == 0) {
                return Fail(strError, strPath + " has its data before its fmt chunk");
            }
            m_ulDataBytes = ulSize - ulSize % ulBlockAlign;
            return true;
        }
        std::fseek(m_pFile, lAt + ulSize + (ulSize & 1), SEEK_SET);
    }
    return Fail(strError, strPath + " has no data chunk");
}

bool CWavReader::Read(uint8_t* pucBuffer, uint32_t ulBytes, uint32_t& ulRead, std::string& strError)
{
    const uint32_t ulLeft = m_ulDataBytes - m_ulDataRead;
    ulRead = static_cast<uint32_t>(std::fread(pucBuffer, 1, ulBytes < ulLeft ? ulBytes : ulLeft, m_pFile));
    m_ulDataRead += ulRead;
    return ulRead != 0 || ulLeft == 0 || Fail(strError, std::string("reading failed: ") + std::strerror(errno));
}

CWavWriter::~CWavWriter()
{
    std::string strIgnored;
    Finish(strIgnored);
}

bool CWavWriter::Create(const std::string& strPath, uint32_t ulSampleRate, uint32_t ulChannels, std::string& strError)
{
    m_pFile = std::fopen(strPath.c_str(), "wb");
    if (m_pFile == nullptr) {
        return Fail(strError, "cannot create " + strPath + ": " + std::strerror(errno));
    }
    m_strPath = strPath;
    m_ulSampleRate = ulSampleRate;
    m_ulChannels = ulChannels;
    return UpdateHeader(strError);
}

bool CWavWriter::Append(const void* pData, uint32_t ulBytes, std::string& strError)
{
    if (m_ullDataBytes + ulBytes > kullMaxDataBytes) {
        return Fail(strError, m_strPath + " has reached the largest size a WAV file can have");
    }
    if (std::fwrite(pData, 1, ulBytes, m_pFile) != ulBytes) {
        return Fail(strError, "writing " + m_strPath + " failed: " + std::strerror(errno));
    }
    m_ullDataBytes += ulBytes;
    return true;
}

bool CWavWriter::UpdateHeader(std::string& strError)
{
    uint8_t auc[kulHeaderBytes];
    const auto ulData = static_cast<uint32_t>(m_ullDataBytes);
    std::memcpy(auc, "RIFF\0\0\0\0WAVEfmt \x10\0\0\0", 20);
    PutLe(auc + 4, 36 + ulData + (ulData & 1), 4);
    PutLe(auc + 20, kulFormatPcm, 2);
    PutLe(auc + 22, m_ulChannels, 2);
    PutLe(auc + 24, m_ulSampleRate, 4);
    PutLe(auc + 28, m_ulSampleRate * m_ulChannels * 2, 4);
    PutLe(auc + 32, m_ulChannels * 2, 2);
    PutLe(auc + 34, 16, 2);
    std::memcpy(auc + 36, "data", 4);
    PutLe(auc + 40, ulData, 4);
    // Samples only ever go on at the end.
    const bool bOk = std::fseek(m_pFile, 0, SEEK_SET) == 0 && std::fwrite(auc, 1, sizeof auc, m_pFile) == sizeof auc &&
                     std::fseek(m_pFile, 0, SEEK_END) == 0 && std::fflush(m_pFile) == 0;
    return bOk || Fail(strError, "writing " + m_strPath + " failed: " + std::strerror(errno));
}

bool CWavWriter::Finish(std::string& strError)
{
    if (m_pFile == nullptr) {
        return true;
    }
    bool bOk = (m_ullDataBytes & 1) == 0 || std::fputc(0, m_pFile) != EOF;  // chunks are word-aligned
    bOk = UpdateHeader(strError) && bOk;
    bOk = std::fclose(m_pFile) == 0 && bOk;
    m_pFile = nullptr;
    return bOk || Fail(strError, "finishing " + m_strPath + " failed");
}
