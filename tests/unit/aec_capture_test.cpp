// The echo-cancelling capture device against fakes: what its Init refuses and
// reports, its volume gate, a lost microphone, the probe, and how the capture
// wrappers choose it or fall back to DirectSound capture.
#include <gtest/gtest.h>

#include "fakes/aec_fixture.h"
#include "vocora_manager.h"

namespace {

// Every block the host's callback received.
struct HostSink {
    std::vector<std::vector<uint8_t>> vecBlocks;

    static void VOCORA_CALL OnCapture(const uint8_t* pucData, uint32_t ulLength, void* pUserData)
    {
        static_cast<HostSink*>(pUserData)->vecBlocks.emplace_back(pucData, pucData + ulLength);
    }
};

using FrontPtr = std::unique_ptr<CAecAudioCapture>;

class AecCaptureTest : public AecTest {
protected:
    FrontPtr NewFront(const AudioParam& stParam, uint32_t ulExpected)
    {
        FrontPtr poFront(new (std::nothrow) CAecAudioCapture());
        EXPECT_EQ(poFront->Init(&stParam), ulExpected);
        return poFront;
    }

    const AudioParam m_stMono = {16000, 1, 16, 320};
    HostSink m_oHost;
};

TEST_F(AecCaptureTest, InitNeedsOneMicrophoneAndOneLoudspeaker)
{
    const std::string strPrefix = "AecAudio: The Number of Waveform-audio ";
    const struct {
        uint32_t ulChannels;
        size_t ulMics;
        size_t ulSpeakers;
        HRESULT hrCreate;
        uint32_t ulResult;
        std::string strError;
    } astCases[] = {
        {2, 1, 1, S_OK, VOCORA_ERR_INVALID_ARG, ""},
        {1, 0, 1, S_OK, VOCORA_CAP_ERR_NO_INPUT_DEVICE,
         strPrefix + "Input Devices Present in The System is Zero."},
        {1, 2, 0, S_OK, VOCORA_CAP_ERR_NO_OUTPUT_DEVICE,
         strPrefix + "Output Devices Present in The System is Zero."},
        {1, 1, 2, S_OK, VOCORA_CAP_ERR_MANY_OUTPUT_DEVICES,
         strPrefix + "Output Devices Present in The System is More Than 1."},
        {1, 1, 1, REGDB_E_CLASSNOTREG, VOCORA_CAP_ERR_MIXER_OPEN,
         "CCoreAudioCapture::CreateDec Failed, Error:[0x80040154]."},
        {1, 3, 1, S_OK, VOCORA_OK, ""}};
    for (const auto& stCase : astCases) {
        SCOPED_TRACE(stCase.ulResult);
        SetMachine(stCase.ulMics, stCase.ulSpeakers);
        m_oDsp.m_hrCreate = stCase.hrCreate;
        m_oDsp.m_vecCalls.clear();
        m_oLog.Clear();
        AudioParam stParam = m_stMono;
        stParam.ulChannels = stCase.ulChannels;
        NewFront(stParam, stCase.ulResult);
        if (stCase.strError.empty()) {
            EXPECT_TRUE(m_oLog.Records().empty());
        } else {
            EXPECT_EQ(Errors(), std::vector<std::string>{stCase.strError});
            EXPECT_EQ(m_oLog.Records().back().strFunction, "CAecAudioCapture::Init");
        }
    }
    // The default microphone (the last of three) with the one loudspeaker;
    // the block length has no say in the DSP's frame size.
    EXPECT_EQ(IndexWrite(), "set 4 vt3 2");
    EXPECT_EQ(m_oDsp.m_vecCalls[m_oDsp.m_vecCalls.size() - 3], "set 6 vt3 0");
}

TEST_F(AecCaptureTest, VolumeGatesTheBlocks)
{
    FrontPtr poFront(new (std::nothrow) CAecAudioCapture());
    uint32_t ulVolume = 0;
    poFront->GetVolume(&ulVolume);
    EXPECT_EQ(ulVolume, 255u);
    ASSERT_EQ(poFront->Init(&m_stMono), VOCORA_OK);
    poFront->SetCaptureCallBack(&HostSink::OnCapture, &m_oHost);

    // A block on the engine's timer reaches the host as the DSP wrote it.
    poFront->Start();
    m_oDsp.m_dqSteps.push_back({S_OK, 6, false});
    const size_t ulFirstByte = m_oDsp.Produced();
    Timer().Fire();
    ASSERT_EQ(m_oHost.vecBlocks.size(), 1u);
    EXPECT_EQ(m_oHost.vecBlocks[0].size(), 6u);
    EXPECT_EQ(m_oHost.vecBlocks[0][5], CFakeVoiceDsp::ByteAt(ulFirstByte + 5));

    const uint8_t aucBlock[4] = {1, 2, 3, 4};
    const struct {
        uint32_t ulVolume;
        bool bPasses;
    } astCases[] = {{0, false}, {1, true}, {0x7FFFFFFF, true}, {0x80000000, false}, {0xFFFFFFFF, false},
                    {255, true}};
    for (const auto& stCase : astCases) {
        SCOPED_TRACE(stCase.ulVolume);
        poFront->SetVolume(stCase.ulVolume);
        m_oHost.vecBlocks.clear();
        poFront->OnCaptureData(aucBlock, 4, 16000, 1);
        EXPECT_EQ(m_oHost.vecBlocks.size(), stCase.bPasses ? 1u : 0u);
    }
    m_oHost.vecBlocks.clear();
    poFront->OnCaptureData(nullptr, 4, 16000, 1);
    poFront->SetCaptureCallBack(nullptr, &m_oHost);
    poFront->OnCaptureData(aucBlock, 4, 16000, 1);
    EXPECT_TRUE(m_oHost.vecBlocks.empty());
}

TEST_F(AecCaptureTest, StartAndStopWithoutAnEngineDoNothing)
{
    FrontPtr poFront = NewFront({16000, 2, 16, 0}, VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(poFront->Start(), VOCORA_OK);
    EXPECT_EQ(poFront->Stop(), VOCORA_OK);
    EXPECT_TRUE(TimerCalls().empty());
}

TEST_F(AecCaptureTest, ALostMicrophoneStopsTheEngine)
{
    FrontPtr poFront = NewFront(m_stMono, VOCORA_OK);
    poFront->SetCaptureCallBack(&HostSink::OnCapture, &m_oHost);
    poFront->Start();
    Mics().m_dqCounts = {0};
    m_oDsp.m_dqSteps.push_back({S_OK, 6, false});
    m_oLog.Clear();
    Timer().Fire();
    const std::string strLost = "CaptureThread Fail, ulWaveinDevNums not Exist.";
    EXPECT_EQ(Errors(), std::vector<std::string>{strLost});
    EXPECT_EQ(m_oLog.Records().back().strFunction, "CAecAudioCapture::OnMicDisConnect");
    EXPECT_EQ(TimerCalls(), (std::vector<std::string>{"begin 20", "set 10 20 0x101", "end 20",
                                                          "kill 1"}));
    EXPECT_TRUE(m_oHost.vecBlocks.empty());
    poFront->OnMicDisConnect();
    EXPECT_EQ(Errors(), (std::vector<std::string>{strLost, strLost}));
    EXPECT_EQ(TimerCalls().size(), 4u);
}

TEST_F(AecCaptureTest, ProbeReportsTheDevicesInit)
{
    EXPECT_EQ(AecAudioCaptureProbe(), VOCORA_OK);
    SetMachine(1, 2);
    EXPECT_EQ(AecAudioCaptureProbe(), VOCORA_CAP_ERR_MANY_OUTPUT_DEVICES);
    m_oPlatform.FailAllocation(0);
    EXPECT_EQ(AecAudioCaptureProbe(), VOCORA_ERR_RESOURCE);
    EXPECT_TRUE(TimerCalls().empty());
}

// ---- Through the capture wrappers -------------------------------------------------

class AecWrapperTest : public AecCaptureTest {
protected:
    void SetUp() override
    {
        AecCaptureTest::SetUp();
        // The flags live for the process; each test starts from a fresh load.
        sm_bUseDirectSoundPlay = 0;
        sm_bUseAecCapture = 0;
        sm_bForceUseWaveout = 0;
        ProvideDirectSound();
        ASSERT_EQ(Vocora_Init_Wrapper(), VOCORA_OK);
        m_oLog.Clear();
    }

    const VocoraCaptureHandle m_hUntouched = reinterpret_cast<VocoraCaptureHandle>(uintptr_t{0x79});
};

TEST_F(AecWrapperTest, SelectorZeroGetsEchoCancellation)
{
    EXPECT_EQ(sm_bUseAecCapture, 1u);
    VocoraCaptureHandle hCapture = nullptr;
    ASSERT_EQ(Vocora_CreateCaptureDec_Wrapper(&m_stMono, 0, &hCapture), VOCORA_OK);
    EXPECT_EQ(m_oCaptureDevice.Buffer(), nullptr) << "no DirectSound capture buffer";
    EXPECT_EQ(TimerCalls(), (std::vector<std::string>{"begin 20", "set 10 20 0x101"}));
    ASSERT_EQ(Vocora_SetCaptureCallBack_Wrapper(hCapture, &HostSink::OnCapture, &m_oHost), VOCORA_OK);
    m_oDsp.m_dqSteps.push_back({S_OK, 6, false});
    Timer().Fire();
    EXPECT_EQ(m_oHost.vecBlocks.size(), 1u);
    EXPECT_EQ(Vocora_DestoryCaptureDec_Wrapper(hCapture), VOCORA_OK);

    // Selector 1 never tries it.
    const int iDspCreations = DspCreations();
    ASSERT_EQ(Vocora_CreateCaptureDec_Wrapper(&m_stMono, 1, &hCapture), VOCORA_OK);
    EXPECT_NE(m_oCaptureDevice.Buffer(), nullptr);
    EXPECT_EQ(DspCreations(), iDspCreations);
    EXPECT_EQ(Vocora_DestoryCaptureDec_Wrapper(hCapture), VOCORA_OK);
}

TEST_F(AecWrapperTest, DirectSoundCaptureStandsInWhereEchoCancellationCannot)
{
    const AudioParam stStereo = {16000, 2, 16, 640};
    VocoraCaptureHandle hCapture = m_hUntouched;
    ASSERT_EQ(Vocora_CreateCaptureDec_Wrapper(&stStereo, 0, &hCapture), VOCORA_OK);
    EXPECT_NE(hCapture, m_hUntouched);
    ASSERT_NE(m_oCaptureDevice.Buffer(), nullptr);
    EXPECT_EQ(m_oCaptureDevice.m_stLastFormat.nChannels, 2);
    EXPECT_EQ(Vocora_DestoryCaptureDec_Wrapper(hCapture), VOCORA_OK);

    // Without the DSP the fallback's result is the host's.
    m_oDsp.m_hrCreate = REGDB_E_CLASSNOTREG;
    m_oCaptureDevice.m_hrCreateCaptureBuffer = DSERR_BADFORMAT;
    hCapture = m_hUntouched;
    EXPECT_EQ(Vocora_CreateCaptureDec_Wrapper(&m_stMono, 0, &hCapture), VOCORA_CAP_ERR_CREATE_BUFFER);
    EXPECT_EQ(hCapture, m_hUntouched);
    EXPECT_EQ(Errors().front(), "CCoreAudioCapture::CreateDec Failed, Error:[0x80040154].");
    EXPECT_EQ(Errors().back(), "Failed, CreateDec fail, Error:[0x10000008].");
}

}  // namespace
