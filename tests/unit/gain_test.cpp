// The software gain of the waveOut path: bands, rounding, saturation and the
// exact bytes it touches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/func_macros.h"
#include "log_capture.h"
#include "log/log.h"

namespace {

std::vector<uint8_t> ToBytes(const std::vector<int16_t>& vecSamples)
{
    std::vector<uint8_t> vecBytes(vecSamples.size() * 2);
    std::memcpy(vecBytes.data(), vecSamples.data(), vecBytes.size());
    return vecBytes;
}

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& vecBytes)
{
    std::vector<int16_t> vecSamples(vecBytes.size() / 2);
    std::memcpy(vecSamples.data(), vecBytes.data(), vecSamples.size() * 2);
    return vecSamples;
}

std::vector<int16_t> Adjusted(std::vector<int16_t> vecSamples, uint32_t ulVolume)
{
    std::vector<uint8_t> vecBytes = ToBytes(vecSamples);
    EXPECT_EQ(adjustPcmWave(vecBytes.data(), static_cast<uint32_t>(vecBytes.size()), ulVolume),
              VOCORA_OK);
    return ToSamples(vecBytes);
}

// Each band by its edges: volume -> what a sample of 1000 becomes.
TEST(GainTest, BandEdgesPickTheirPowerOfTwo)
{
    struct Band {
        uint32_t ulLow, ulHigh;
        int16_t sOf1000;
    };
    const Band astBands[] = {
        {0, 0, 0},       {1, 36, 125},     {37, 72, 250},    {73, 108, 500},
        {109, 144, 1000}, {145, 180, 2000}, {181, 216, 4000}, {217, 255, 8000},
        {256, 0xFFFFFFFFu, 8000},
    };
    for (const Band& stBand : astBands) {
        for (uint32_t ulVolume : {stBand.ulLow, stBand.ulHigh}) {
            EXPECT_EQ(Adjusted({1000, -1000}, ulVolume),
                      (std::vector<int16_t>{stBand.sOf1000, static_cast<int16_t>(-stBand.sOf1000)}))
                << "volume " << ulVolume;
        }
    }
}

TEST(GainTest, DivisionTruncatesTowardZero)
{
    EXPECT_EQ(Adjusted({-7, -9, 7, 9, -1, 1}, 10), (std::vector<int16_t>{0, -1, 0, 1, 0, 0}));
    EXPECT_EQ(Adjusted({-3, 3, -5, 5}, 50), (std::vector<int16_t>{0, 0, -1, 1}));
    EXPECT_EQ(Adjusted({-32768, 32767}, 100), (std::vector<int16_t>{-16384, 16383}));
}

TEST(GainTest, MultiplyingBandsSaturate)
{
    EXPECT_EQ(Adjusted({10000, -10000, 8191, -8192, 8192}, 200),
              (std::vector<int16_t>{32767, -32768, 32764, -32768, 32767}));
    EXPECT_EQ(Adjusted({16384, -16384, -16385}, 150),
              (std::vector<int16_t>{32767, -32768, -32768}));
    EXPECT_EQ(Adjusted({4096, -4097, 4095}, 1000), (std::vector<int16_t>{32767, -32768, 32760}));
}

// Every 16-bit value through every band, against plain 32-bit arithmetic: the
// bands are computed in 16-bit lanes, so each edge of each band is checked.
// (65536 samples also run both the vectorised loop and its scalar tail.)
TEST(GainTest, EveryValueInEveryBandMatchesWideArithmetic)
{
    std::vector<int16_t> vecAll(65536 + 3);
    for (size_t i = 0; i < vecAll.size(); ++i) {
        vecAll[i] = static_cast<int16_t>(static_cast<uint16_t>(i));
    }
    const std::pair<uint32_t, int32_t> astBands[] = {{1, -8}, {37, -4}, {73, -2}, {109, 1},
                                                     {145, 2}, {181, 4}, {217, 8}};
    for (const auto& stBand : astBands) {
        const std::vector<int16_t> vecResult = Adjusted(vecAll, stBand.first);
        for (size_t i = 0; i < vecAll.size(); ++i) {
            int32_t lExpected = stBand.second > 0 ? vecAll[i] * stBand.second
                                                  : vecAll[i] / -stBand.second;
            lExpected = std::min(std::max(lExpected, -32768), 32767);
            ASSERT_EQ(vecResult[i], lExpected) << "volume " << stBand.first << ", sample " << vecAll[i];
        }
    }
}

TEST(GainTest, TouchesOnlyWholeSamplesWithinTheLength)
{
    std::vector<uint8_t> vecBytes = ToBytes({1000, -1000, 1000, 1000});
    ASSERT_EQ(adjustPcmWave(vecBytes.data(), 5, 0), VOCORA_OK);
    // Two samples cleared; the fifth byte and everything after it left alone.
    EXPECT_EQ(vecBytes, (std::vector<uint8_t>{0, 0, 0, 0, 0xE8, 0x03, 0xE8, 0x03}));

    std::vector<uint8_t> vecOne = ToBytes({1000});
    ASSERT_EQ(adjustPcmWave(vecOne.data(), 1, 255), VOCORA_OK);
    EXPECT_EQ(ToSamples(vecOne), (std::vector<int16_t>{1000}));

    // Samples need not be aligned in the caller's buffer.
    std::vector<uint8_t> vecOdd = {0x55, 0xE8, 0x03, 0x18, 0xFC};
    ASSERT_EQ(adjustPcmWave(vecOdd.data() + 1, 4, 180), VOCORA_OK);
    EXPECT_EQ(vecOdd, (std::vector<uint8_t>{0x55, 0xD0, 0x07, 0x30, 0xF8}));
}

TEST(GainTest, NullBufferIsReported)
{
    CLogCapture oLog;
    ASSERT_EQ(Log_SetLogCallback(CLogCapture::Callback()), VOCORA_OK);
    ASSERT_EQ(Log_SetLogLevel(VOCORA_LOG_INFO), VOCORA_OK);

    EXPECT_EQ(adjustPcmWave(nullptr, 100, 128), VOCORA_ERR_INVALID_ARG);
    const auto vecRecords = oLog.Records();
    ASSERT_EQ(vecRecords.size(), 1u);
    EXPECT_EQ(vecRecords[0].lLevel, VOCORA_LOG_ERROR);
    EXPECT_EQ(vecRecords[0].strFunction, "adjustPcmWave");
    EXPECT_EQ(vecRecords[0].strText, "pWaveBuf Can't Be NULL.");
}

}  // namespace
