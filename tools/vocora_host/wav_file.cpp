#include "wav_file.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr uint32_t kulFormatPcm = 0x0001;
constexpr uint32_t kulFormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM as it lies in the file; its first two bytes are the
// plain format tag the sub-format stands for.
constexpr uint8_t kaucPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// A real fmt chunk is 16 to 40 bytes; anything far larger is not a fmt chunk
// worth reading into memory.
constexpr uint32_t kulMaxFmtChunk = 1024;

uint32_t ReadLe16(const uint8_t* pucBytes)
{
    return static_cast<uint32_t>(pucBytes[0]) | (static_cast<uint32_t>(pucBytes[1]) << 8);
}

uint32_t ReadLe32(const uint8_t* pucBytes)
{
    return ReadLe16(pucBytes) | (ReadLe16(pucBytes + 2) << 16);
}

void PutLe16(uint8_t* pucBytes, uint32_t ulValue)
{
    pucBytes[0] = static_cast<uint8_t>(ulValue);
    pucBytes[1] = static_cast<uint8_t>(ulValue >> 8);
}

void PutLe32(uint8_t* pucBytes, uint32_t ulValue)
{
    PutLe16(pucBytes, ulValue & 0xFFFF);
    PutLe16(pucBytes + 2, ulValue >> 16);
}

std::string StrPrintf(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

std::string StrPrintf(const char* pszFormat, ...)
{
    char szText[512];
    va_list vaArgs;
    va_start(vaArgs, pszFormat);
    std::vsnprintf(szText, sizeof szText, pszFormat, vaArgs);
    va_end(vaArgs);
    return szText;
}

// The system's sentence for a Win32 error, without its trailing line break.
std::string SystemMessage(DWORD ulError)
{
    char szText[256] = {};
    const DWORD ulLength =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ulError,
                       0, szText, sizeof szText, nullptr);
    std::string strText(szText, ulLength);
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == '\r' ||
                                strText.back() == '.' || strText.back() == ' ')) {
        strText.pop_back();
    }
    if (strText.empty()) {
        strText = "system error";
    }
    return StrPrintf("%s (error %lu)", strText.c_str(), static_cast<unsigned long>(ulError));
}

// Reads up to ulWanted bytes; ulGot tells how many came (fewer at the end of
// the file). False only for a failed read.
bool ReadUpTo(HANDLE hFile, void* pBuffer, uint32_t ulWanted, uint32_t& ulGot)
{
    ulGot = 0;
    auto* pucBuffer = static_cast<uint8_t*>(pBuffer);
    while (ulGot < ulWanted) {
        DWORD ulChunk = 0;
        if (!ReadFile(hFile, pucBuffer + ulGot, ulWanted - ulGot, &ulChunk, nullptr)) {
            return false;
        }
        if (ulChunk == 0) {
            break;
        }
        ulGot += ulChunk;
    }
    return true;
}

bool WriteAll(HANDLE hFile, const void* pData, uint32_t ulBytes)
{
    DWORD ulWritten = 0;
    return WriteFile(hFile, pData, ulBytes, &ulWritten, nullptr) && ulWritten == ulBytes;
}

bool SeekTo(HANDLE hFile, int64_t llOffset, DWORD ulMethod)
{
    LARGE_INTEGER stOffset = {};
    stOffset.QuadPart = llOffset;
    return SetFilePointerEx(hFile, stOffset, nullptr, ulMethod) != 0;
}

const char* FormatTagName(uint32_t ulTag)
{
    switch (ulTag) {
    case 0x0002:
        return "Microsoft ADPCM";
    case 0x0003:
        return "IEEE float";
    case 0x0006:
        return "A-law";
    case 0x0007:
        return "mu-law";
    case 0x0011:
        return "IMA ADPCM";
    case 0x0055:
        return "MPEG layer 3";
    default:
        return "not PCM";
    }
}

std::string ChunkName(const uint8_t* pucId)
{
    std::string strName;
    for (int i = 0; i < 4; ++i) {
        const char cChar = static_cast<char>(pucId[i]);
        strName += (cChar >= 0x20 && cChar < 0x7F) ? cChar : '?';
    }
    return strName;
}

}  // namespace

CFileHandle::~CFileHandle()
{
    if (IsOpen()) {
        CloseHandle(m_hFile);
    }
}

CFileHandle::CFileHandle(CFileHandle&& oOther) noexcept
    : m_hFile(std::exchange(oOther.m_hFile, INVALID_HANDLE_VALUE))
{
}

CFileHandle& CFileHandle::operator=(CFileHandle&& oOther) noexcept
{
    if (this != &oOther) {
        if (IsOpen()) {
            CloseHandle(m_hFile);
        }
        m_hFile = std::exchange(oOther.m_hFile, INVALID_HANDLE_VALUE);
    }
    return *this;
}

double CWavReader::Seconds() const
{
    if (m_stFormat.ulBlockAlign == 0 || m_stFormat.ulSampleRate == 0) {
        return 0.0;
    }
    return static_cast<double>(m_ulDataBytes / m_stFormat.ulBlockAlign) / m_stFormat.ulSampleRate;
}

bool CWavReader::Open(const std::string& strPath, std::string& strError)
{
    m_stFormat = WavFormat();
    m_ulDataBytes = 0;
    m_ulDataRead = 0;
    m_oFile = CFileHandle(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_oFile.IsOpen()) {
        strError = "cannot open " + strPath + ": " + SystemMessage(GetLastError());
        return false;
    }
    const HANDLE hFile = m_oFile.Get();
    LARGE_INTEGER stSize = {};
    if (!GetFileSizeEx(hFile, &stSize)) {
        strError = "cannot size " + strPath + ": " + SystemMessage(GetLastError());
        return false;
    }
    const uint64_t ullFileSize = static_cast<uint64_t>(stSize.QuadPart);
    const std::string strWho = strPath + ": ";

    uint8_t aucRiff[12];
    uint32_t ulGot = 0;
    if (!ReadUpTo(hFile, aucRiff, sizeof aucRiff, ulGot)) {
        strError = "cannot read " + strPath + ": " + SystemMessage(GetLastError());
        return false;
    }
    if (ulGot < sizeof aucRiff) {
        strError =
            strWho + StrPrintf("truncated: %u bytes, shorter than a RIFF/WAVE header", ulGot);
        return false;
    }
    if (std::memcmp(aucRiff, "RIFF", 4) != 0 || std::memcmp(aucRiff + 8, "WAVE", 4) != 0) {
        strError = strWho + "not a WAV file (no RIFF/WAVE header)";
        return false;
    }

    bool bHaveFmt = false;
    uint64_t ullOffset = sizeof aucRiff;
    for (;;) {
        uint8_t aucHeader[8];
        if (!ReadUpTo(hFile, aucHeader, sizeof aucHeader, ulGot)) {
            strError = "cannot read " + strPath + ": " + SystemMessage(GetLastError());
            return false;
        }
        if (ulGot < sizeof aucHeader) {
            strError =
                strWho + (ulGot == 0 ? (bHaveFmt ? "truncated: the file ends before its data chunk"
                                                 : "truncated: the file ends before its fmt chunk")
                                     : StrPrintf("truncated inside a chunk header at byte %llu",
                                                 static_cast<unsigned long long>(ullOffset)));
            return false;
        }
        const uint32_t ulChunkSize = ReadLe32(aucHeader + 4);
        const uint64_t ullBody = ullOffset + sizeof aucHeader;
        const uint64_t ullPresent = ullFileSize > ullBody ? ullFileSize - ullBody : 0;

        if (std::memcmp(aucHeader, "fmt ", 4) == 0) {
            if (ulChunkSize < 16 || ulChunkSize > kulMaxFmtChunk) {
                strError = strWho + StrPrintf("malformed fmt chunk of %u bytes", ulChunkSize);
                return false;
            }
            uint8_t aucFmt[kulMaxFmtChunk];
            if (!ReadUpTo(hFile, aucFmt, ulChunkSize, ulGot)) {
                strError = "cannot read " + strPath + ": " + SystemMessage(GetLastError());
                return false;
            }
            if (ulGot < ulChunkSize) {
                strError =
                    strWho +
                    StrPrintf("truncated: the fmt chunk declares %u bytes but only %u follow",
                              ulChunkSize, ulGot);
                return false;
            }
            if (!ParseFmtChunk(aucFmt, ulChunkSize, strError)) {
                strError = strWho + strError;
                return false;
            }
            bHaveFmt = true;
        } else if (std::memcmp(aucHeader, "data", 4) == 0) {
            if (!bHaveFmt) {
                strError = strWho + "the data chunk comes before any fmt chunk";
                return false;
            }
            if (ulChunkSize > ullPresent) {
                strError = strWho + StrPrintf(
                                        "truncated: the data chunk declares %u bytes but only "
                                        "%llu follow",
                                        ulChunkSize, static_cast<unsigned long long>(ullPresent));
                return false;
            }
            m_ulDataBytes = ulChunkSize - ulChunkSize % m_stFormat.ulBlockAlign;
            m_ulDataRead = 0;
            return true;
        } else if (ulChunkSize > ullPresent) {
            strError = strWho + StrPrintf(
                                    "truncated inside the '%s' chunk (%u bytes declared, "
                                    "%llu present)",
                                    ChunkName(aucHeader).c_str(), ulChunkSize,
                                    static_cast<unsigned long long>(ullPresent));
            return false;
        }
        // Chunk bodies are padded to an even length.
        const uint64_t ullNext = ullBody + ulChunkSize + (ulChunkSize & 1u);
        LARGE_INTEGER stNext = {};
        stNext.QuadPart = static_cast<LONGLONG>(ullNext);
        if (!SetFilePointerEx(hFile, stNext, nullptr, FILE_BEGIN)) {
            strError = "cannot seek in " + strPath + ": " + SystemMessage(GetLastError());
            return false;
        }
        ullOffset = ullNext;
    }
}

bool CWavReader::ParseFmtChunk(const uint8_t* pucChunk, uint32_t ulSize, std::string& strError)
{
    WavFormat stFormat;
    stFormat.ulFormatTag = ReadLe16(pucChunk);
    stFormat.ulChannels = ReadLe16(pucChunk + 2);
    stFormat.ulSampleRate = ReadLe32(pucChunk + 4);
    stFormat.ulBlockAlign = ReadLe16(pucChunk + 12);
    stFormat.ulBitsPerSample = ReadLe16(pucChunk + 14);

    if (stFormat.ulFormatTag == kulFormatExtensible) {
        // cbSize, valid bits, channel mask, then the sub-format GUID at 24.
        if (ulSize < 40) {
            strError = StrPrintf("malformed extensible fmt chunk of %u bytes (40 needed)", ulSize);
            return false;
        }
        if (std::memcmp(pucChunk + 24, kaucPcmSubFormat, sizeof kaucPcmSubFormat) != 0) {
            const bool bKnownFamily =
                std::memcmp(pucChunk + 26, kaucPcmSubFormat + 2, sizeof kaucPcmSubFormat - 2) == 0;
            if (bKnownFamily) {
                const uint32_t ulSubTag = ReadLe16(pucChunk + 24);
                strError = StrPrintf("not PCM: WAVE_FORMAT_EXTENSIBLE with sub-format 0x%04x (%s)",
                                     ulSubTag, FormatTagName(ulSubTag));
            } else {
                strError = "not PCM: WAVE_FORMAT_EXTENSIBLE with a vendor sub-format";
            }
            return false;
        }
    } else if (stFormat.ulFormatTag != kulFormatPcm) {
        strError = StrPrintf("not PCM: format tag 0x%04x (%s)", stFormat.ulFormatTag,
                             FormatTagName(stFormat.ulFormatTag));
        return false;
    }
    if (stFormat.ulBitsPerSample != 16) {
        strError =
            StrPrintf("%u-bit samples: only 16-bit PCM can be played", stFormat.ulBitsPerSample);
        return false;
    }
    if (stFormat.ulChannels == 0 || stFormat.ulSampleRate == 0) {
        strError = StrPrintf("malformed fmt chunk: %u channels at %u Hz", stFormat.ulChannels,
                             stFormat.ulSampleRate);
        return false;
    }
    if (stFormat.ulBlockAlign != stFormat.ulChannels * 2) {
        strError = StrPrintf("malformed fmt chunk: block align %u for %u channels of 16 bits",
                             stFormat.ulBlockAlign, stFormat.ulChannels);
        return false;
    }
    m_stFormat = stFormat;
    return true;
}

bool CWavReader::Read(uint8_t* pucBuffer, uint32_t ulBytes, uint32_t& ulRead, std::string& strError)
{
    ulRead = 0;
    const uint32_t ulLeft = m_ulDataBytes - m_ulDataRead;
    const uint32_t ulWanted = ulBytes < ulLeft ? ulBytes : ulLeft;
    if (ulWanted == 0) {
        return true;
    }
    if (!m_oFile.IsOpen() || !ReadUpTo(m_oFile.Get(), pucBuffer, ulWanted, ulRead)) {
        strError = "cannot read the samples: " + SystemMessage(GetLastError());
        return false;
    }
    if (ulRead < ulWanted) {
        // Open checked the length, so the file shrank while it was being played.
        strError =
            StrPrintf("the file ended %u bytes early", m_ulDataBytes - m_ulDataRead - ulRead);
        return false;
    }
    m_ulDataRead += ulRead;
    return true;
}

CWavWriter::~CWavWriter()
{
    std::string strIgnored;
    Finish(strIgnored);
}

std::vector<uint8_t> CWavWriter::Header() const
{
    const uint32_t ulBlockAlign = m_ulChannels * 2;
    const auto ulData = static_cast<uint32_t>(m_ullDataBytes);
    std::vector<uint8_t> vecHeader(44);
    uint8_t* pucHeader = vecHeader.data();
    std::memcpy(pucHeader, "RIFF", 4);
    // A pad byte after an odd data chunk counts in the RIFF size only.
    PutLe32(pucHeader + 4, 36 + ulData + (ulData & 1u));
    std::memcpy(pucHeader + 8, "WAVEfmt ", 8);
    PutLe32(pucHeader + 16, 16);
    PutLe16(pucHeader + 20, kulFormatPcm);
    PutLe16(pucHeader + 22, m_ulChannels);
    PutLe32(pucHeader + 24, m_ulSampleRate);
    PutLe32(pucHeader + 28, m_ulSampleRate * ulBlockAlign);
    PutLe16(pucHeader + 32, ulBlockAlign);
    PutLe16(pucHeader + 34, 16);
    std::memcpy(pucHeader + 36, "data", 4);
    PutLe32(pucHeader + 40, ulData);
    return vecHeader;
}

bool CWavWriter::Create(const std::string& strPath, uint32_t ulSampleRate, uint32_t ulChannels,
                        std::string& strError)
{
    if (ulChannels == 0 || ulChannels > 0xFFFF || ulSampleRate == 0) {
        strError = StrPrintf("cannot write %u channels at %u Hz", ulChannels, ulSampleRate);
        return false;
    }
    m_ulSampleRate = ulSampleRate;
    m_ulChannels = ulChannels;
    m_ullDataBytes = 0;
    const uint64_t ullFrameBytes = ulChannels * 2ull;
    const uint64_t ullMax =
        m_ullMaxDataBytes < kullMaxDataBytes ? m_ullMaxDataBytes : kullMaxDataBytes;
    m_ullLimit = ullMax - ullMax % ullFrameBytes;
    // Others may read the file while it grows, to watch the recording.
    m_oFile = CFileHandle(CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_oFile.IsOpen()) {
        strError = "cannot create " + strPath + ": " + SystemMessage(GetLastError());
        return false;
    }
    const std::vector<uint8_t> vecHeader = Header();
    if (!WriteAll(m_oFile.Get(), vecHeader.data(), static_cast<uint32_t>(vecHeader.size()))) {
        strError = "cannot write the header of " + strPath + ": " + SystemMessage(GetLastError());
        m_oFile = CFileHandle();
        return false;
    }
    return true;
}

bool CWavWriter::Append(const uint8_t* pucData, uint32_t ulBytes, uint32_t& ulTaken,
                        std::string& strError)
{
    const uint64_t ullRoom = m_ullLimit - m_ullDataBytes;
    ulTaken = ulBytes < ullRoom ? ulBytes : static_cast<uint32_t>(ullRoom);
    if (ulTaken == 0) {
        return true;
    }
    if (!m_oFile.IsOpen() || !WriteAll(m_oFile.Get(), pucData, ulTaken)) {
        strError = "cannot write the samples: " + SystemMessage(GetLastError());
        ulTaken = 0;
        return false;
    }
    m_ullDataBytes += ulTaken;
    return true;
}

bool CWavWriter::UpdateHeader(std::string& strError)
{
    const HANDLE hFile = m_oFile.Get();
    const std::vector<uint8_t> vecHeader = Header();
    if (!m_oFile.IsOpen() || !SeekTo(hFile, 0, FILE_BEGIN) ||
        !WriteAll(hFile, vecHeader.data(), static_cast<uint32_t>(vecHeader.size())) ||
        !SeekTo(hFile, 0, FILE_END)) {
        strError = "cannot update the header: " + SystemMessage(GetLastError());
        return false;
    }
    return true;
}

bool CWavWriter::Finish(std::string& strError)
{
    if (!m_oFile.IsOpen()) {
        return true;
    }
    const uint8_t ucPad = 0;
    bool bOk = (m_ullDataBytes & 1u) == 0 || WriteAll(m_oFile.Get(), &ucPad, 1);
    if (!bOk) {
        strError = "cannot write the pad byte: " + SystemMessage(GetLastError());
    }
    bOk = bOk && UpdateHeader(strError);
    m_oFile = CFileHandle();
    return bOk;
}
