// Which backend the host tool says a handle got, from the library's own
// messages (as the library words them), and how it reads Vocora_Play's
// answers on each player: a misreading either reports the wrong device or
// turns a full queue into a failure, or a failure into an endless wait.
#include "backend_inference.h"
#include "block_handover.h"
#include "log_watch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kszAecMany[] =
    "AecAudio: The Number of Waveform-audio Output Devices Present in The System is More Than 1.";
const char kszNoDSound[] =
    "DirectSoundInit Failed, system unspport  dsound to play and capture, use other";

LogRecord Record(int32_t lLevel, const char* pszFunction, const char* pszText)
{
    LogRecord stRecord;
    stRecord.lLevel = lLevel;
    stRecord.strFunction = pszFunction;
    stRecord.strText = pszText;
    return stRecord;
}

TEST(PlayBackendFromLog, TellsThePlayersApart)
{
    const std::vector<LogRecord> vecDirectSound = {
        Record(4, "CDirectSoundPlay::Init",
               "CDirectSoundPlay::Init Channels(1) SampleRate(48000) BitsPerSample(16).")};
    EXPECT_EQ(PlayBackendFromLog(vecDirectSound, true), EPlayBackend::kDirectSound);
    // A waveOut player says nothing when it is created, and its close when
    // it goes.
    EXPECT_EQ(PlayBackendFromLog({}, true), EPlayBackend::kWaveOut);
    EXPECT_EQ(PlayBackendFromLog({Record(4, "CWaveOutPlay::Close",
                                         "succeed to close waveout device")},
                                 true),
              EPlayBackend::kWaveOut);
    // Silence from a creation that failed says nothing about the player.
    EXPECT_EQ(PlayBackendFromLog({}, false), EPlayBackend::kUnknown);
    EXPECT_EQ(PlayBackendFromLog({Record(2, "CWaveOutPlay::openWaveOutDevice",
                                         "failed to open waveout device")},
                                 false),
              EPlayBackend::kWaveOut);
}

TEST(CaptureBackendFromLog, TellsEchoCancellingFromDirectSound)
{
    const std::vector<LogRecord> vecDirectSound = {
        Record(4, "CDirectSoundCapture::Init",
               "CDirectSoundCapture::Init Channels(1) SampleRate(16000) BitsPerSample(16).")};
    EXPECT_EQ(CaptureBackendFromLog(vecDirectSound, 0, true), ECaptureBackend::kDirectSound);
    EXPECT_EQ(CaptureBackendFromLog({}, 0, true), ECaptureBackend::kEchoCancelling);
    // Any other selector never asks for echo cancellation.
    EXPECT_EQ(CaptureBackendFromLog({}, 1, true), ECaptureBackend::kDirectSound);
    EXPECT_EQ(CaptureBackendFromLog({Record(2, "CDirectSoundCapture::Init", kszNoDSound)}, 0,
                                    false),
              ECaptureBackend::kDirectSound);
    EXPECT_EQ(CaptureBackendFromLog({}, 0, false), ECaptureBackend::kUnknown);
}

TEST(DescribeBackend, SaysWhyTheFirstChoiceWasPassedBy)
{
    const std::vector<LogRecord> vecInit = {Record(2, "DirectSoundInit", kszNoDSound),
                                            Record(2, "CAecAudioCapture::Init", kszAecMany)};
    EXPECT_NE(DescribePlayBackend(EPlayBackend::kWaveOut, false, vecInit).find(kszNoDSound),
              std::string::npos);
    const std::string strProbe =
        DescribeCaptureBackend(ECaptureBackend::kDirectSound, 0, 1, vecInit, {});
    EXPECT_NE(strProbe.find("not offered"), std::string::npos);
    EXPECT_NE(strProbe.find(kszAecMany), std::string::npos);
    // A set-up that failed at creation, after a probe that passed, fell back.
    const std::string strSetUp = DescribeCaptureBackend(
        ECaptureBackend::kDirectSound, 0, 1, {},
        {Record(2, "CAecAudioCapture::Init",
                "CCoreAudioCapture::CreateDec Failed, Error:[0x80004005].")});
    EXPECT_NE(strSetUp.find("fell back"), std::string::npos);
    EXPECT_NE(strSetUp.find("0x80004005"), std::string::npos);
}

TEST(ClassifyPlayResult, ReadsEachPlayersFullQueue)
{
    EXPECT_EQ(ClassifyPlayResult(EPlayBackend::kWaveOut, VOCORA_OK, false), EPlayAnswer::kTaken);
    EXPECT_EQ(ClassifyPlayResult(EPlayBackend::kWaveOut, VOCORA_PLAY_ERR_WRITE, false),
              EPlayAnswer::kQueueFull);
    EXPECT_EQ(ClassifyPlayResult(EPlayBackend::kWaveOut, VOCORA_PLAY_ERR_WRITE, true),
              EPlayAnswer::kFailed);
    EXPECT_EQ(ClassifyPlayResult(EPlayBackend::kWaveOut, VOCORA_ERR_NO_MEMORY, false),
              EPlayAnswer::kFailed);
    EXPECT_EQ(ClassifyPlayResult(EPlayBackend::kDirectSound, VOCORA_ERR_NO_MEMORY, true),
              EPlayAnswer::kQueueFull);
    EXPECT_EQ(ClassifyPlayResult(EPlayBackend::kDirectSound, VOCORA_PLAY_ERR_WRITE, false),
              EPlayAnswer::kFailed);
}

// A waveOut player in miniature: halves every sample in place, as volume 100
// does, then answers "all entries busy" iBusyAnswers times.
struct FakeWaveOut {
    int iBusyAnswers = 0;
    bool bLogFailure = false;
    std::vector<int16_t> vecQueued;
};
FakeWaveOut sm_stFake;

uint32_t FakeWaveOutPlay(VocoraPlayHandle, uint8_t* pucData, uint32_t ulLength)
{
    std::vector<int16_t> vecSamples(ulLength / 2);
    std::memcpy(vecSamples.data(), pucData, ulLength);
    for (int16_t& sSample : vecSamples) {
        sSample = static_cast<int16_t>(sSample / 2);
    }
    std::memcpy(pucData, vecSamples.data(), ulLength);
    if (sm_stFake.bLogFailure) {
        CLogWatch::Deliver(2, "CWaveOutPlay::PlayWaveData", "failed to write");
        return VOCORA_PLAY_ERR_WRITE;
    }
    if (sm_stFake.iBusyAnswers > 0) {
        --sm_stFake.iBusyAnswers;
        return VOCORA_PLAY_ERR_WRITE;
    }
    sm_stFake.vecQueued = vecSamples;
    return VOCORA_OK;
}

TEST(BlockHandOver, ABlockTriedAgainGoesOutWithTheGainOnce)
{
    sm_stFake = FakeWaveOut();
    sm_stFake.iBusyAnswers = 2;
    const std::vector<int16_t> vecBlock = {1000, -1000, 16384, -32768};
    const auto ulBytes = static_cast<uint32_t>(vecBlock.size() * 2);
    CBlockHandOver oHandOver(&FakeWaveOutPlay, nullptr, EPlayBackend::kWaveOut, ulBytes);
    uint32_t ulResult = VOCORA_OK;
    const auto* pucBlock = reinterpret_cast<const uint8_t*>(vecBlock.data());
    EXPECT_EQ(oHandOver.Try(pucBlock, ulResult), EPlayAnswer::kQueueFull);
    EXPECT_EQ(oHandOver.Try(pucBlock, ulResult), EPlayAnswer::kQueueFull);
    EXPECT_EQ(oHandOver.Try(pucBlock, ulResult), EPlayAnswer::kTaken);
    EXPECT_EQ(sm_stFake.vecQueued, (std::vector<int16_t>{500, -500, 8192, -16384}));
    EXPECT_EQ(vecBlock, (std::vector<int16_t>{1000, -1000, 16384, -32768}));
}

TEST(BlockHandOver, AWriteFailureIsNotAFullQueue)
{
    sm_stFake = FakeWaveOut();
    sm_stFake.bLogFailure = true;
    const uint8_t aucBlock[4] = {};
    CBlockHandOver oHandOver(&FakeWaveOutPlay, nullptr, EPlayBackend::kWaveOut, sizeof aucBlock);
    uint32_t ulResult = VOCORA_OK;
    EXPECT_EQ(oHandOver.Try(aucBlock, ulResult), EPlayAnswer::kFailed);
    EXPECT_EQ(ulResult, VOCORA_PLAY_ERR_WRITE);
}

TEST(LogWatch, KeepsWhatArrivesWhileItIsTheOnlyOne)
{
    CLogWatch oWatch;
    ASSERT_TRUE(oWatch.IsActive());
    EXPECT_FALSE(CLogWatch().IsActive());
    CLogWatch::Deliver(2, "A::First", "one");
    CLogWatch::Deliver(4, "B::Second", "two");
    const std::vector<LogRecord> vecTaken = oWatch.Take();
    ASSERT_EQ(vecTaken.size(), 2u);
    EXPECT_EQ(vecTaken[1].strFunction, "B::Second");
    EXPECT_EQ(vecTaken[1].strText, "two");
    EXPECT_TRUE(oWatch.Take().empty());
    for (size_t i = 0; i < CLogWatch::kulMaxRecords + 10; ++i) {
        CLogWatch::Deliver(4, "C::Many", "x");
    }
    EXPECT_EQ(oWatch.Take().size(), CLogWatch::kulMaxRecords);
}

}  // namespace
