// The exported interface as a host sees it, through a freshly loaded DLL:
// argument checks and their messages, the banner, the log settings, and the
// results of calls whose backends are not there.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <regex>

#include "loaded_vocora.h"
#include "log_capture.h"

namespace {

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(IsVocoraLoaded()) << "an earlier test left vocora.dll loaded";
        m_poDll = std::make_unique<CLoadedVocora>();
        ASSERT_TRUE(m_poDll->IsComplete()) << "vocora.dll or one of its exports is missing";
        ASSERT_EQ(m_poDll->Vocora_SetLogCB(CLogCapture::Callback()), VOCORA_OK);
    }

    void TearDown() override
    {
        m_poDll.reset();
        EXPECT_FALSE(IsVocoraLoaded()) << "vocora.dll stayed loaded; tests would share its state";
    }

    const CLoadedVocora& Dll() const { return *m_poDll; }

    CLogCapture m_oLog;
    std::unique_ptr<CLoadedVocora> m_poDll;
};

// ---- Null arguments ------------------------------------------------------

struct NullCase {
    const char* pszName;      // test name
    const char* pszExport;    // the function the message names
    const char* pszParameter; // the one parameter reported
    std::function<uint32_t(const CLoadedVocora&)> fnCall;
};

// Stands in for a live handle: a rejected call must never reach it.
const auto kpAnyPlay = reinterpret_cast<VocoraPlayHandle>(uintptr_t{0x10});
const auto kpAnyCapture = reinterpret_cast<VocoraCaptureHandle>(uintptr_t{0x10});
const AudioParam kstParam = {16000, 1, 16, 640};
uint8_t sm_aucData[4];
int32_t sm_lVolume;
VocoraPlayHandle sm_hPlay;
VocoraCaptureHandle sm_hCapture;

void VOCORA_CALL IgnoreCapture(const uint8_t*, uint32_t, void*) {}

const NullCase kastNullCases[] = {
    {"SetLogCB", "Vocora_SetLogCB", "pfCB",
     [](const CLoadedVocora& d) { return d.Vocora_SetLogCB(nullptr); }},
    {"DeviceDetect", "Vocora_DeviceDetect", "pstAudioParam",
     [](const CLoadedVocora& d) { return d.Vocora_DeviceDetect(0, nullptr); }},
    {"CreatePlayDecBothNull", "Vocora_CreatePlayDec", "pstAudioParam",
     [](const CLoadedVocora& d) { return d.Vocora_CreatePlayDec(nullptr, nullptr); }},
    {"CreatePlayDecHandle", "Vocora_CreatePlayDec", "phAudioPlayDec",
     [](const CLoadedVocora& d) { return d.Vocora_CreatePlayDec(&kstParam, nullptr); }},
    {"DestoryPlayDec", "Vocora_DestoryPlayDec", "phAudioPlayDec",
     [](const CLoadedVocora& d) { return d.Vocora_DestoryPlayDec(nullptr); }},
    {"PlayStart", "Vocora_PlayStart", "phAudioPlayDec",
     [](const CLoadedVocora& d) { return d.Vocora_PlayStart(nullptr); }},
    {"PlayStop", "Vocora_PlayStop", "phAudioPlayDec",
     [](const CLoadedVocora& d) { return d.Vocora_PlayStop(nullptr); }},
    {"PlayBothNull", "Vocora_Play", "phAudioPlayDec",
     [](const CLoadedVocora& d) { return d.Vocora_Play(nullptr, nullptr, 4); }},
    {"PlayData", "Vocora_Play", "pucData",
     [](const CLoadedVocora& d) { return d.Vocora_Play(kpAnyPlay, nullptr, 0); }},
    {"SetPlayVolume", "Vocora_SetPlayVolume", "phAudioPlayDec",
     [](const CLoadedVocora& d) { return d.Vocora_SetPlayVolume(nullptr, 128); }},
    {"GetPlayVolumeBothNull", "Vocora_GetPlayVolume", "phAudioPlayDec",
     [](const CLoadedVocora& d) { return d.Vocora_GetPlayVolume(nullptr, nullptr); }},
    {"GetPlayVolumeOut", "Vocora_GetPlayVolume", "plVolume",
     [](const CLoadedVocora& d) { return d.Vocora_GetPlayVolume(kpAnyPlay, nullptr); }},
    {"CreateCaptureDecBothNull", "Vocora_CreateCaptureDec", "pstAudioParam",
     [](const CLoadedVocora& d) { return d.Vocora_CreateCaptureDec(nullptr, 0, nullptr); }},
    {"CreateCaptureDecHandle", "Vocora_CreateCaptureDec", "hAudioCaptureDec",
     [](const CLoadedVocora& d) { return d.Vocora_CreateCaptureDec(&kstParam, 1, nullptr); }},
    {"SetMicVolume", "Vocora_SetMicVolume", "hAudioCaptureDec",
     [](const CLoadedVocora& d) { return d.Vocora_SetMicVolume(nullptr, 200); }},
    {"GetMicVolumeBothNull", "Vocora_GetMicVolume", "hAudioCaptureDec",
     [](const CLoadedVocora& d) { return d.Vocora_GetMicVolume(nullptr, nullptr); }},
    {"GetMicVolumeOut", "Vocora_GetMicVolume", "plVolume",
     [](const CLoadedVocora& d) { return d.Vocora_GetMicVolume(kpAnyCapture, nullptr); }},
    {"SetCaptureCallBackBothNull", "Vocora_SetCaptureCallBack", "hAudioCaptureDec",
     [](const CLoadedVocora& d) { return d.Vocora_SetCaptureCallBack(nullptr, nullptr, nullptr); }},
    {"SetCaptureCallBackCallback", "Vocora_SetCaptureCallBack", "pfnAudioCaptureCallBack",
     [](const CLoadedVocora& d) {
         return d.Vocora_SetCaptureCallBack(kpAnyCapture, nullptr, &sm_lVolume);
     }},
    {"DestoryCaptureDec", "Vocora_DestoryCaptureDec", "hAudioCaptureDec",
     [](const CLoadedVocora& d) { return d.Vocora_DestoryCaptureDec(nullptr); }},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const NullCase& stCase, std::ostream* pOut)
{
    *pOut << stCase.pszExport << "(" << stCase.pszParameter << ")";
}

class NullArgumentTest : public ExportsTest, public ::testing::WithParamInterface<NullCase> {};

TEST_P(NullArgumentTest, ReportsTheFirstNullParameterOnceAndRejects)
{
    const NullCase& stCase = GetParam();
    EXPECT_EQ(stCase.fnCall(Dll()), VOCORA_ERR_INVALID_ARG);

    const auto vecRecords = m_oLog.Records();
    ASSERT_EQ(vecRecords.size(), 1u);
    const LogRecord& stRecord = vecRecords[0];
    EXPECT_EQ(stRecord.lLevel, VOCORA_LOG_ERROR);
    EXPECT_EQ(stRecord.pContext, nullptr);
    EXPECT_EQ(stRecord.strFunction, stCase.pszExport);
    EXPECT_EQ(stRecord.strFormat, "%s Can't Be NULL.");
    EXPECT_EQ(stRecord.strText, std::string(stCase.pszParameter) + " Can't Be NULL.");
    EXPECT_EQ(stRecord.strFile, "src/vocora_sdk_func.cpp");
    EXPECT_GT(stRecord.ulLine, 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryCheckedExport, NullArgumentTest, ::testing::ValuesIn(kastNullCases),
                         [](const ::testing::TestParamInfo<NullCase>& stInfo) {
                             return std::string(stInfo.param.pszName);
                         });

// ---- Banner and log settings ---------------------------------------------

TEST_F(ExportsTest, BannerOnceThenTheRepeatedInitNotice)
{
    EXPECT_EQ(Dll().Vocora_GlobalInit(), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_GlobalInit(), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_GlobalInit(), VOCORA_OK);

    const auto vecRecords = m_oLog.Records();
    ASSERT_EQ(vecRecords.size(), 3u);
    EXPECT_EQ(vecRecords[0].lLevel, VOCORA_LOG_INFO);
    EXPECT_EQ(vecRecords[0].strFunction, "Vocora_GlobalInit");
    EXPECT_EQ(vecRecords[0].strFormat, "Vocora Build Date: %s %s, Version: %d.%d.%d.");
    EXPECT_TRUE(std::regex_match(
        vecRecords[0].strText,
        std::regex(R"(Vocora Build Date: [A-Z][a-z]{2} [ 123]\d \d{4} \d\d:\d\d:\d\d, Version: 0\.0\.0\.)")))
        << vecRecords[0].strText;
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(vecRecords[i].lLevel, VOCORA_LOG_WARNING);
        EXPECT_EQ(vecRecords[i].strFunction, "Vocora_GlobalInit");
        EXPECT_EQ(vecRecords[i].strFormat, "Vocora Is Inited %s.");
        EXPECT_EQ(vecRecords[i].strText, "Vocora Is Inited .");
    }
}

TEST_F(ExportsTest, AtLevelThreeTheBannerIsDroppedButTheNoticeIsNot)
{
    ASSERT_EQ(Dll().Vocora_SetLogLevel(3), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_GlobalInit(), VOCORA_OK);
    EXPECT_TRUE(m_oLog.Records().empty());

    EXPECT_EQ(Dll().Vocora_GlobalInit(), VOCORA_OK);
    const auto vecRecords = m_oLog.Records();
    ASSERT_EQ(vecRecords.size(), 1u);
    EXPECT_EQ(vecRecords[0].strFormat, "Vocora Is Inited %s.");
}

// What one banner, one notice and one rejected argument deliver at a setting.
std::vector<int32_t> LevelsDeliveredAt(const CLoadedVocora& oDll, CLogCapture& oLog,
                                       int32_t lSetting)
{
    oLog.Clear();
    EXPECT_EQ(oDll.Vocora_SetLogLevel(lSetting), VOCORA_OK);
    oDll.Vocora_GlobalInit();
    oDll.Vocora_GlobalInit();
    oDll.Vocora_PlayStart(nullptr);
    std::vector<int32_t> vecLevels;
    for (const LogRecord& stRecord : oLog.Records()) {
        vecLevels.push_back(stRecord.lLevel);
    }
    return vecLevels;
}

TEST_F(ExportsTest, LevelZeroAndOneSilenceEvenFailures)
{
    EXPECT_TRUE(LevelsDeliveredAt(Dll(), m_oLog, 0).empty());
    EXPECT_TRUE(LevelsDeliveredAt(Dll(), m_oLog, 1).empty());
}

TEST_F(ExportsTest, LevelTwoKeepsOnlyFailures)
{
    EXPECT_EQ(LevelsDeliveredAt(Dll(), m_oLog, 2), (std::vector<int32_t>{2}));
}

TEST_F(ExportsTest, LevelFiveDeliversWhatLevelFourDoes)
{
    EXPECT_EQ(LevelsDeliveredAt(Dll(), m_oLog, 5), (std::vector<int32_t>{4, 3, 2}));
}

TEST_F(ExportsTest, OutOfRangeLevelIsRejectedSilentlyAndTheOldOneStays)
{
    ASSERT_EQ(Dll().Vocora_SetLogLevel(2), VOCORA_OK);
    for (int32_t lBad : {9, 6, -1}) {
        EXPECT_EQ(Dll().Vocora_SetLogLevel(lBad), VOCORA_ERR_INVALID_ARG) << lBad;
    }
    EXPECT_TRUE(m_oLog.Records().empty());

    Dll().Vocora_GlobalInit();  // level 4: still filtered out at level 2
    Dll().Vocora_PlayStop(nullptr);
    const auto vecRecords = m_oLog.Records();
    ASSERT_EQ(vecRecords.size(), 1u);
    EXPECT_EQ(vecRecords[0].strFunction, "Vocora_PlayStop");
}

// ---- Calls past the checks -----------------------------------------------

TEST_F(ExportsTest, DeviceDetectIsNotSupportedAndExaminesNothing)
{
    AudioParam stParam = {0xFFFFFFFF, 0, 0, 0};
    EXPECT_EQ(Dll().Vocora_DeviceDetect(7, &stParam), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(stParam.ulSampleRate, 0xFFFFFFFFu);
    EXPECT_TRUE(m_oLog.Records().empty());
}

TEST_F(ExportsTest, CleanupWithoutInitSucceeds)
{
    EXPECT_EQ(Dll().Vocora_Cleanup(), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_Cleanup(), VOCORA_OK);
}

// ---- Real devices: DirectSound under Wine, through the rig's sound server -------

using DevicesThroughExportsTest = ExportsTest;

TEST_F(DevicesThroughExportsTest, PlaybackAndCaptureHandlesWork)
{
    EXPECT_EQ(Dll().Vocora_Init(), VOCORA_OK);

    sm_hPlay = nullptr;
    ASSERT_EQ(Dll().Vocora_CreatePlayDec(&kstParam, &sm_hPlay), VOCORA_OK);
    ASSERT_NE(sm_hPlay, nullptr);
    EXPECT_EQ(Dll().Vocora_PlayStart(sm_hPlay), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_Play(sm_hPlay, sm_aucData, sizeof sm_aucData), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_DestoryPlayDec(sm_hPlay), VOCORA_OK);

    // A null user value is the host's business, not an error.
    sm_hCapture = nullptr;
    ASSERT_EQ(Dll().Vocora_CreateCaptureDec(&kstParam, 1, &sm_hCapture), VOCORA_OK);
    ASSERT_NE(sm_hCapture, nullptr);
    EXPECT_EQ(Dll().Vocora_SetCaptureCallBack(sm_hCapture, &IgnoreCapture, nullptr), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_DestoryCaptureDec(sm_hCapture), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_Cleanup(), VOCORA_OK);
    EXPECT_TRUE(m_oLog.WithFormat("%s Can't Be NULL.").empty());
}

// A forced waveOut handle plays through waveOut and closes it twice on the
// way out: once in the destroy sequence, once in the destructor.
TEST_F(DevicesThroughExportsTest, ForcedWaveOutHandlePlays)
{
    ASSERT_EQ(Dll().Vocora_Init(), VOCORA_OK);
    Dll().Vocora_ForceUseWaveout();
    VocoraPlayHandle hForced = nullptr;
    ASSERT_EQ(Dll().Vocora_CreatePlayDec(&kstParam, &hForced), VOCORA_OK);
    EXPECT_EQ(Dll().Vocora_Play(hForced, sm_aucData, sizeof sm_aucData), VOCORA_OK)
        << "no start needed";
    EXPECT_EQ(Dll().Vocora_DestoryPlayDec(hForced), VOCORA_OK);
    EXPECT_EQ(m_oLog.WithFormat("succeed to close waveout device").size(), 2u);
    EXPECT_EQ(Dll().Vocora_Cleanup(), VOCORA_OK);
}

// Wine opens the render mixer whatever the flags ask for, so the recording
// destination is not found there; the mixer logic itself is tested with fakes.
TEST_F(DevicesThroughExportsTest, MicrophoneVolumeUnderWineFindsNoRecordingLine)
{
    ASSERT_EQ(Dll().Vocora_Init(), VOCORA_OK);
    int32_t lVolume = -1;
    EXPECT_EQ(Dll().Vocora_GetMicVolume(kpAnyCapture, &lVolume), VOCORA_CAP_ERR_MIXER_LINE);
    EXPECT_EQ(lVolume, -1);
    EXPECT_EQ(m_oLog.WithFormat("get information of waveform-audio input device's line by Windows "
                                "API failed, error(%d)").at(0).strText,
              "get information of waveform-audio input device's line by Windows API failed, "
              "error(1024)");
    EXPECT_EQ(Dll().Vocora_Cleanup(), VOCORA_OK);
}

}  // namespace
