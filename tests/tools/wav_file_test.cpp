// The WAV reader against files built byte by byte: what it must play, and the
// damaged or unplayable files it must refuse before a single block is played.
// The writer against the reader, including the file a killed recording leaves.
#include "wav_file.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void AppendLe16(Bytes& vecOut, uint32_t ulValue)
{
    vecOut.push_back(static_cast<uint8_t>(ulValue));
    vecOut.push_back(static_cast<uint8_t>(ulValue >> 8));
}

void AppendLe32(Bytes& vecOut, uint32_t ulValue)
{
    AppendLe16(vecOut, ulValue & 0xFFFF);
    AppendLe16(vecOut, ulValue >> 16);
}

void AppendChunk(Bytes& vecOut, const char* pszId, const Bytes& vecBody)
{
    vecOut.insert(vecOut.end(), pszId, pszId + 4);
    AppendLe32(vecOut, static_cast<uint32_t>(vecBody.size()));
    vecOut.insert(vecOut.end(), vecBody.begin(), vecBody.end());
    if (vecBody.size() % 2 != 0) {
        vecOut.push_back(0);
    }
}

Bytes FmtBody(uint32_t ulTag, uint32_t ulChannels, uint32_t ulRate, uint32_t ulBits)
{
    Bytes vecBody;
    const uint32_t ulBlockAlign = ulChannels * ulBits / 8;
    AppendLe16(vecBody, ulTag);
    AppendLe16(vecBody, ulChannels);
    AppendLe32(vecBody, ulRate);
    AppendLe32(vecBody, ulRate * ulBlockAlign);
    AppendLe16(vecBody, ulBlockAlign);
    AppendLe16(vecBody, ulBits);
    return vecBody;
}

Bytes ExtensibleFmtBody(uint32_t ulChannels, uint32_t ulRate, uint32_t ulBits, uint32_t ulSubTag)
{
    Bytes vecBody = FmtBody(0xFFFE, ulChannels, ulRate, ulBits);
    AppendLe16(vecBody, 22);      // cbSize
    AppendLe16(vecBody, ulBits);  // valid bits
    AppendLe32(vecBody, 0x3);     // front left and right
    AppendLe16(vecBody, ulSubTag);
    const uint8_t aucTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    vecBody.insert(vecBody.end(), aucTail, aucTail + sizeof aucTail);
    return vecBody;
}

Bytes Samples(uint32_t ulBytes)
{
    Bytes vecSamples(ulBytes);
    for (uint32_t i = 0; i < ulBytes; ++i) {
        vecSamples[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return vecSamples;
}

Bytes Riff(const Bytes& vecChunks)
{
    Bytes vecFile = {'R', 'I', 'F', 'F'};
    AppendLe32(vecFile, static_cast<uint32_t>(vecChunks.size() + 4));
    vecFile.insert(vecFile.end(), {'W', 'A', 'V', 'E'});
    vecFile.insert(vecFile.end(), vecChunks.begin(), vecChunks.end());
    return vecFile;
}

Bytes PcmWav(const Bytes& vecFmt, const Bytes& vecSamples)
{
    Bytes vecChunks;
    AppendChunk(vecChunks, "fmt ", vecFmt);
    AppendChunk(vecChunks, "data", vecSamples);
    return Riff(vecChunks);
}

// A file in the temporary folder, deleted when the test ends.
class CTempFile {
public:
    explicit CTempFile(const Bytes& vecContent)
    {
        char szFolder[MAX_PATH];
        char szPath[MAX_PATH];
        GetTempPathA(sizeof szFolder, szFolder);
        GetTempFileNameA(szFolder, "wav", 0, szPath);
        m_strPath = szPath;
        const CFileHandle oFile(CreateFileA(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD ulWritten = 0;
        if (!oFile.IsOpen() ||
            !WriteFile(oFile.Get(), vecContent.data(), static_cast<DWORD>(vecContent.size()),
                       &ulWritten, nullptr) ||
            ulWritten != vecContent.size()) {
            ADD_FAILURE() << "cannot write " << m_strPath;
        }
    }
    ~CTempFile() { DeleteFileA(m_strPath.c_str()); }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

// Everything Read hands out, in pieces of ulPiece bytes.
Bytes ReadAll(CWavReader& oReader, uint32_t ulPiece)
{
    Bytes vecAll;
    Bytes vecPiece(ulPiece);
    std::string strError;
    for (;;) {
        uint32_t ulRead = 0;
        EXPECT_TRUE(oReader.Read(vecPiece.data(), ulPiece, ulRead, strError)) << strError;
        if (ulRead == 0) {
            return vecAll;
        }
        vecAll.insert(vecAll.end(), vecPiece.begin(), vecPiece.begin() + ulRead);
    }
}

// Opening must fail and the reason must contain strExpected.
void ExpectRefused(const Bytes& vecFile, const std::string& strExpected)
{
    const CTempFile oFile(vecFile);
    CWavReader oReader;
    std::string strError;
    EXPECT_FALSE(oReader.Open(oFile.Path(), strError));
    EXPECT_NE(strError.find(strExpected), std::string::npos)
        << "reason given: '" << strError << "', expected it to mention '" << strExpected << "'";
}

TEST(WavFile, ReadsThePcmFormatAndEverySampleByte)
{
    const Bytes vecSamples = Samples(3200);
    const CTempFile oFile(PcmWav(FmtBody(1, 1, 16000, 16), vecSamples));
    CWavReader oReader;
    std::string strError;
    ASSERT_TRUE(oReader.Open(oFile.Path(), strError)) << strError;
    EXPECT_EQ(oReader.Format().ulSampleRate, 16000u);
    EXPECT_EQ(oReader.Format().ulChannels, 1u);
    EXPECT_EQ(oReader.Format().ulBitsPerSample, 16u);
    EXPECT_EQ(oReader.DataBytes(), 3200u);
    EXPECT_DOUBLE_EQ(oReader.Seconds(), 0.1);
    // A piece size that does not divide the data, so the last piece is short.
    EXPECT_EQ(ReadAll(oReader, 640 + 6), vecSamples);
}

TEST(WavFile, SkipsUnknownChunksIncludingTheirPadByte)
{
    const Bytes vecSamples = Samples(400);
    Bytes vecChunks;
    AppendChunk(vecChunks, "LIST", {'I', 'N', 'F', 'O', 'x'});  // odd: one pad byte follows
    AppendChunk(vecChunks, "fmt ", FmtBody(1, 2, 44100, 16));
    AppendChunk(vecChunks, "fact", {1, 2, 3, 4});
    AppendChunk(vecChunks, "data", vecSamples);
    const CTempFile oFile(Riff(vecChunks));
    CWavReader oReader;
    std::string strError;
    ASSERT_TRUE(oReader.Open(oFile.Path(), strError)) << strError;
    EXPECT_EQ(oReader.Format().ulChannels, 2u);
    EXPECT_EQ(ReadAll(oReader, 100), vecSamples);
}

TEST(WavFile, AcceptsExtensibleWithThePcmSubFormat)
{
    const Bytes vecSamples = Samples(800);
    const CTempFile oFile(PcmWav(ExtensibleFmtBody(2, 48000, 16, 1), vecSamples));
    CWavReader oReader;
    std::string strError;
    ASSERT_TRUE(oReader.Open(oFile.Path(), strError)) << strError;
    EXPECT_EQ(oReader.Format().ulFormatTag, 0xFFFEu);
    EXPECT_EQ(oReader.Format().ulSampleRate, 48000u);
    EXPECT_EQ(ReadAll(oReader, 4096), vecSamples);
}

TEST(WavFile, LeavesOutAPartialFrameAtTheEnd)
{
    const Bytes vecSamples = Samples(4 * 10 + 3);  // stereo: 10 frames and 3 stray bytes
    const CTempFile oFile(PcmWav(FmtBody(1, 2, 8000, 16), vecSamples));
    CWavReader oReader;
    std::string strError;
    ASSERT_TRUE(oReader.Open(oFile.Path(), strError)) << strError;
    EXPECT_EQ(oReader.DataBytes(), 40u);
    EXPECT_EQ(ReadAll(oReader, 64), Bytes(vecSamples.begin(), vecSamples.begin() + 40));
}

TEST(WavFile, RefusesDataShorterThanDeclared)
{
    Bytes vecFile = PcmWav(FmtBody(1, 1, 16000, 16), Samples(1000));
    vecFile.resize(vecFile.size() - 2);
    ExpectRefused(vecFile, "truncated: the data chunk declares 1000 bytes but only 998 follow");
}

TEST(WavFile, RefusesAFileCutInsideItsHeader)
{
    const Bytes vecWhole = PcmWav(FmtBody(1, 1, 16000, 16), Samples(100));
    ExpectRefused(Bytes(vecWhole.begin(), vecWhole.begin() + 10),
                  "shorter than a RIFF/WAVE header");
    ExpectRefused(Bytes(vecWhole.begin(), vecWhole.begin() + 12 + 8 + 10),
                  "the fmt chunk declares 16 bytes but only 10 follow");
    ExpectRefused(Bytes(vecWhole.begin(), vecWhole.begin() + 12 + 8 + 16),
                  "ends before its data chunk");
    ExpectRefused(Bytes(vecWhole.begin(), vecWhole.begin() + 12 + 8 + 16 + 5),
                  "truncated inside a chunk header");
}

TEST(WavFile, RefusesAnUnknownChunkCutShortBeforeTheData)
{
    Bytes vecChunks;
    AppendChunk(vecChunks, "fmt ", FmtBody(1, 1, 16000, 16));
    Bytes vecFile = Riff(vecChunks);
    vecFile.insert(vecFile.end(), {'L', 'I', 'S', 'T'});
    AppendLe32(vecFile, 5000);
    vecFile.insert(vecFile.end(), {'x', 'y'});
    ExpectRefused(vecFile, "truncated inside the 'LIST' chunk");
}

TEST(WavFile, RefusesSamplesThatAreNot16Bit)
{
    ExpectRefused(PcmWav(FmtBody(1, 1, 8000, 8), Samples(100)), "8-bit samples");
    ExpectRefused(PcmWav(FmtBody(1, 2, 48000, 24), Samples(120)), "24-bit samples");
    ExpectRefused(PcmWav(ExtensibleFmtBody(2, 48000, 32, 1), Samples(160)), "32-bit samples");
}

TEST(WavFile, RefusesFormatsThatAreNotPcm)
{
    ExpectRefused(PcmWav(FmtBody(3, 1, 16000, 32), Samples(100)), "not PCM: format tag 0x0003");
    ExpectRefused(PcmWav(FmtBody(7, 1, 8000, 8), Samples(100)), "not PCM: format tag 0x0007");
    ExpectRefused(PcmWav(ExtensibleFmtBody(2, 48000, 32, 3), Samples(160)),
                  "WAVE_FORMAT_EXTENSIBLE with sub-format 0x0003");
}

TEST(WavFile, RefusesWhatIsNotAWellFormedWavFile)
{
    ExpectRefused(Bytes(64, 'x'), "not a WAV file");
    Bytes vecDataFirst;
    AppendChunk(vecDataFirst, "data", Samples(10));
    AppendChunk(vecDataFirst, "fmt ", FmtBody(1, 1, 16000, 16));
    ExpectRefused(Riff(vecDataFirst), "data chunk comes before any fmt chunk");
    Bytes vecBadAlign = FmtBody(1, 2, 16000, 16);
    vecBadAlign[12] = 2;  // block align of a mono file in a stereo one
    ExpectRefused(PcmWav(vecBadAlign, Samples(100)), "block align 2 for 2 channels");
}

TEST(WavFile, RefusesAMissingFileNamingIt)
{
    CWavReader oReader;
    std::string strError;
    EXPECT_FALSE(oReader.Open("no-such-folder\\no-such-file.wav", strError));
    EXPECT_NE(strError.find("cannot open no-such-folder\\no-such-file.wav"), std::string::npos)
        << strError;
}

// The file as it is on disk, even while a writer still has it open.
Bytes FileBytes(const std::string& strPath)
{
    const CFileHandle oFile(CreateFileA(strPath.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    Bytes vecContent(1 << 16);
    DWORD ulRead = 0;
    if (!oFile.IsOpen() || !ReadFile(oFile.Get(), vecContent.data(),
                                     static_cast<DWORD>(vecContent.size()), &ulRead, nullptr)) {
        ADD_FAILURE() << "cannot read " << strPath;
        ulRead = 0;
    }
    vecContent.resize(ulRead);
    return vecContent;
}

// What the reader finds in vecFile: its format and every sample byte.
Bytes ReadBack(const Bytes& vecFile, uint32_t ulRate, uint32_t ulChannels)
{
    const CTempFile oFile(vecFile);
    CWavReader oReader;
    std::string strError;
    EXPECT_TRUE(oReader.Open(oFile.Path(), strError)) << strError;
    EXPECT_EQ(oReader.Format().ulSampleRate, ulRate);
    EXPECT_EQ(oReader.Format().ulChannels, ulChannels);
    return ReadAll(oReader, 1000);
}

void Append(CWavWriter& oWriter, const Bytes& vecData, uint32_t ulExpectedTaken)
{
    uint32_t ulTaken = 0;
    std::string strError;
    EXPECT_TRUE(
        oWriter.Append(vecData.data(), static_cast<uint32_t>(vecData.size()), ulTaken, strError))
        << strError;
    EXPECT_EQ(ulTaken, ulExpectedTaken);
}

TEST(WavWriter, WritesAFileTheReaderTakesWhole)
{
    const CTempFile oFile{Bytes()};
    const Bytes vecSamples = Samples(1200);
    std::string strError;
    CWavWriter oWriter;
    ASSERT_TRUE(oWriter.Create(oFile.Path(), 44100, 2, strError)) << strError;
    Append(oWriter, Bytes(vecSamples.begin(), vecSamples.begin() + 400), 400);
    Append(oWriter, Bytes(vecSamples.begin() + 400, vecSamples.end()), 800);
    ASSERT_TRUE(oWriter.Finish(strError)) << strError;

    const Bytes vecFile = FileBytes(oFile.Path());
    EXPECT_EQ(vecFile.size(), 44u + 1200u);
    EXPECT_EQ(vecFile[28] | vecFile[29] << 8 | vecFile[30] << 16, 44100 * 4);  // bytes a second
    EXPECT_EQ(ReadBack(vecFile, 44100, 2), vecSamples);
}

TEST(WavWriter, AKilledRecordingIsValidUpToTheLastHeaderUpdate)
{
    const CTempFile oFile{Bytes()};
    const Bytes vecSamples = Samples(600);
    std::string strError;
    {
        CWavWriter oWriter;
        ASSERT_TRUE(oWriter.Create(oFile.Path(), 16000, 1, strError)) << strError;
        EXPECT_EQ(ReadBack(FileBytes(oFile.Path()), 16000, 1), Bytes());
        Append(oWriter, Bytes(vecSamples.begin(), vecSamples.begin() + 400), 400);
        ASSERT_TRUE(oWriter.UpdateHeader(strError)) << strError;
        Append(oWriter, Bytes(vecSamples.begin() + 400, vecSamples.end()), 200);
        // The file as a kill at this point would leave it.
        EXPECT_EQ(ReadBack(FileBytes(oFile.Path()), 16000, 1),
                  Bytes(vecSamples.begin(), vecSamples.begin() + 400));
    }
    // Going out of scope finishes the file.
    EXPECT_EQ(ReadBack(FileBytes(oFile.Path()), 16000, 1), vecSamples);
}

TEST(WavWriter, StopsAtTheSizeLimitOnAWholeFrame)
{
    const CTempFile oFile{Bytes()};
    const Bytes vecSamples = Samples(60);
    std::string strError;
    CWavWriter oWriter(103);  // 25 stereo frames and 3 bytes
    ASSERT_TRUE(oWriter.Create(oFile.Path(), 8000, 2, strError)) << strError;
    Append(oWriter, vecSamples, 60);
    EXPECT_FALSE(oWriter.IsFull());
    Append(oWriter, vecSamples, 40);
    EXPECT_TRUE(oWriter.IsFull());
    Append(oWriter, vecSamples, 0);
    ASSERT_TRUE(oWriter.Finish(strError)) << strError;
    Bytes vecExpected = vecSamples;
    vecExpected.insert(vecExpected.end(), vecSamples.begin(), vecSamples.begin() + 40);
    EXPECT_EQ(ReadBack(FileBytes(oFile.Path()), 8000, 2), vecExpected);
}

TEST(WavWriter, RefusesAFolderThatDoesNotExistNamingIt)
{
    CWavWriter oWriter;
    std::string strError;
    EXPECT_FALSE(oWriter.Create("no-such-folder\\out.wav", 16000, 1, strError));
    EXPECT_NE(strError.find("cannot create no-such-folder\\out.wav"), std::string::npos)
        << strError;
}

}  // namespace
