// The host tool's WAV files, round trip: what the writer writes the reader
// takes back whole, also from a recording cut short, and a damaged file is
// refused with a sentence saying why.
#include "wav_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> ReadBack(const std::string& strPath, uint32_t ulRate, uint32_t ulChannels)
{
    std::string strError;
    CWavReader oReader;
    EXPECT_TRUE(oReader.Open(strPath, strError)) << strError;
    EXPECT_EQ(oReader.SampleRate(), ulRate);
    EXPECT_EQ(oReader.Channels(), ulChannels);
    std::vector<uint8_t> vecData(oReader.DataBytes());
    uint32_t ulRead = 0;
    EXPECT_TRUE(vecData.empty() || oReader.Read(vecData.data(), oReader.DataBytes(), ulRead, strError)) << strError;
    return vecData;
}

// The file as it stands, copied aside past the writer's lock.
std::string Snapshot(const std::string& strPath)
{
    const std::string strCopy = strPath + ".snapshot.wav";
    FILE* pIn = std::fopen(strPath.c_str(), "rb");
    FILE* pOut = std::fopen(strCopy.c_str(), "wb");
    for (int i = std::fgetc(pIn); i != EOF; i = std::fgetc(pIn)) {
        std::fputc(i, pOut);
    }
    std::fclose(pIn);
    std::fclose(pOut);
    return strCopy;
}

TEST(WavFile, WrittenThenReadBackEvenWhenTheRecordingIsCutShort)
{
    const std::string strPath = "wav_round_trip.wav";
    std::vector<uint8_t> vecSamples(1200);
    for (size_t i = 0; i < vecSamples.size(); ++i) {
        vecSamples[i] = static_cast<uint8_t>(i * 7);
    }
    std::string strError;
    {
        CWavWriter oWriter;
        ASSERT_TRUE(oWriter.Create(strPath, 44100, 2, strError)) << strError;
        ASSERT_TRUE(oWriter.Append(vecSamples.data(), 800, strError)) << strError;
        ASSERT_TRUE(oWriter.UpdateHeader(strError)) << strError;
        ASSERT_TRUE(oWriter.Append(vecSamples.data() + 800, 400, strError)) << strError;
        // As a recording killed here would leave it: whole up to the last update.
        EXPECT_EQ(ReadBack(Snapshot(strPath), 44100, 2),
                  std::vector<uint8_t>(vecSamples.begin(), vecSamples.begin() + 800));
    }
    EXPECT_EQ(ReadBack(strPath, 44100, 2), vecSamples) << "finished on the way out";

    FILE* pFile = std::fopen(strPath.c_str(), "r+b");
    ASSERT_NE(pFile, nullptr);
    std::fseek(pFile, 34, SEEK_SET);
    std::fputc(8, pFile);  // 8 bits per sample
    std::fclose(pFile);
    EXPECT_FALSE(CWavReader().Open(strPath, strError));
    EXPECT_NE(strError.find("only 16-bit PCM"), std::string::npos) << strError;
    std::remove(strPath.c_str());
    EXPECT_FALSE(CWavReader().Open(strPath, strError));
    EXPECT_NE(strError.find("cannot open " + strPath), std::string::npos) << strError;
}

}  // namespace
