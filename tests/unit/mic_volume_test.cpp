// The microphone level through a fake winmm mixer: conversions, which line is
// chosen, and that every failure leaves the mixer closed.
#include <gtest/gtest.h>

#include "fakes/directsound_fixture.h"

namespace {

using MicVolumeTest = DirectSoundTest;

TEST_F(MicVolumeTest, ConvertsBetweenTheTwoScalesOnOneOpenMixer)
{
    for (const auto& stCase : {std::pair<uint32_t, DWORD>{255, 65535}, {128, 32896}, {0, 0}}) {
        EXPECT_EQ(SetMicVolume(stCase.first), VOCORA_OK);
        EXPECT_EQ(m_oPlatform.Mixer().ulValue, stCase.second);
    }
    for (const auto& stCase : {std::pair<DWORD, uint32_t>{65535, 255}, {32896, 128}, {256, 0}}) {
        m_oPlatform.Mixer().ulValue = stCase.first;
        uint32_t ulVolume = 999;
        EXPECT_EQ(GetMicVolume(&ulVolume), VOCORA_OK);
        EXPECT_EQ(ulVolume, stCase.second);
    }
    const FakeMixer& stMixer = m_oPlatform.Mixer();
    EXPECT_EQ(stMixer.iOpens, 1) << "the mixer stays open between calls";
    EXPECT_EQ(stMixer.ulOpenedDevice, 0u);
    EXPECT_EQ(stMixer.ulOpenFlags, static_cast<DWORD>(MIXER_OBJECTF_WAVEIN));
    EXPECT_EQ(stMixer.vecDetailsFlags, std::vector<DWORD>(6, MIXER_OBJECTF_HMIXER));
    EXPECT_EQ(stMixer.ulControlLine, 0x100u);
    EXPECT_TRUE(Errors().empty());

    EXPECT_EQ(CloseMixer(), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.Mixer().iCloses, 1);
    EXPECT_EQ(CloseMixer(), VOCORA_OK) << "closing a closed mixer does nothing";
    EXPECT_EQ(m_oPlatform.Mixer().iCloses, 1);
    uint32_t ulVolume = 0;
    EXPECT_EQ(GetMicVolume(&ulVolume), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.Mixer().iOpens, 2) << "the next call opens it again";
}

TEST_F(MicVolumeTest, TheFirstMicrophoneOrLineInSourceIsControlled)
{
    struct Case {
        std::vector<DWORD> vecSources;
        DWORD ulLine;
    };
    const Case astCases[] = {
        {{MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE}, 0x100},
        {{MIXERLINE_COMPONENTTYPE_SRC_ANALOG, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE}, 0x101},
        {{0, MIXERLINE_COMPONENTTYPE_SRC_LINE}, 0x101},  // a failed query is skipped
    };
    for (const Case& stCase : astCases) {
        m_oPlatform.Mixer().vecSources = stCase.vecSources;
        ASSERT_EQ(SetMicVolume(10), VOCORA_OK);
        EXPECT_EQ(m_oPlatform.Mixer().ulControlLine, stCase.ulLine);
        CloseMixer();
    }
}

TEST_F(MicVolumeTest, InputDeviceCensus)
{
    m_oPlatform.SetInputDevices(0);
    uint32_t ulVolume = 7;
    EXPECT_EQ(GetMicVolume(&ulVolume), VOCORA_CAP_ERR_NO_INPUT_DEVICE);
    EXPECT_EQ(ulVolume, 7u);
    EXPECT_EQ(m_oPlatform.Mixer().iOpens, 0);
    m_oPlatform.SetInputDevices(2);
    EXPECT_EQ(GetMicVolume(&ulVolume), VOCORA_OK);
    const auto vecWarnings = m_oLog.WithFormat(
        "the number of waveform-audio input devices present in the system is greater than 1.");
    ASSERT_EQ(vecWarnings.size(), 1u);
    EXPECT_EQ(vecWarnings[0].lLevel, VOCORA_LOG_WARNING);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "the number of waveform-audio input devices present in the system is "
                            "zero.",
                            "Failed, get mic volume line information failed"}));
}

struct LineFailure {
    const char* pszName;
    void (*pfnBreak)(FakeMixer&);
    uint32_t ulResult;
    const char* pszMessage;
    const char* pszCloseFailure;
};

void PrintTo(const LineFailure& stCase, std::ostream* pOut)
{
    *pOut << stCase.pszName;
}

class MicLineFailureTest : public MicVolumeTest, public ::testing::WithParamInterface<LineFailure> {};

// Each failing step: its code from both calls, its message, the mixer closed
// (with a message of its own when closing fails too), and a fresh start later.
TEST_P(MicLineFailureTest, ClosesTheMixerAndReportsTheStep)
{
    const LineFailure& stCase = GetParam();
    stCase.pfnBreak(m_oPlatform.Mixer());
    uint32_t ulVolume = 0;
    EXPECT_EQ(GetMicVolume(&ulVolume), stCase.ulResult);
    m_oPlatform.Mixer().mrClose = MMSYSERR_ERROR;
    EXPECT_EQ(SetMicVolume(100), stCase.ulResult);
    m_oPlatform.Mixer().mrClose = MMSYSERR_NOERROR;

    std::vector<std::string> vecExpected = {stCase.pszMessage,
                                            "Failed, get mic volume line information failed",
                                            stCase.pszMessage};
    if (stCase.pszCloseFailure != nullptr) {
        vecExpected.push_back(stCase.pszCloseFailure);
    }
    vecExpected.push_back("Failed, get mic volume line information Failed");
    EXPECT_EQ(Errors(), vecExpected);
    EXPECT_EQ(m_oPlatform.Mixer().iOpens, m_oPlatform.Mixer().iCloses);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, MicLineFailureTest,
    ::testing::Values(
        LineFailure{"Open", [](FakeMixer& o) { o.mrOpen = MMSYSERR_ALLOCATED; },
                    VOCORA_CAP_ERR_MIXER_OPEN,
                    "open handle of waveform-audio input device by Windows API failed, error(4)",
                    nullptr},
        LineFailure{"Capabilities", [](FakeMixer& o) { o.mrCaps = MMSYSERR_NODRIVER; },
                    VOCORA_CAP_ERR_MIXER_CAPS,
                    "query capabilities of waveform-audio input device by Windows API failed, "
                    "error(6)",
                    "close waveform-audio input device handle by Windows API Failed."},
        LineFailure{"Destination", [](FakeMixer& o) { o.mrDestination = MIXERR_INVALLINE; },
                    VOCORA_CAP_ERR_MIXER_LINE,
                    "get information of waveform-audio input device's line by Windows API failed, "
                    "error(1024)",
                    "close waveform-audio input device handle by Windows API failed."},
        LineFailure{"NoMicrophone",
                    [](FakeMixer& o) { o.vecSources = {MIXERLINE_COMPONENTTYPE_SRC_DIGITAL, 0}; },
                    VOCORA_CAP_ERR_NO_INPUT_DEVICE, "mic volume component is not exist.",
                    "close waveform-audio input device handle by Windows API failed."},
        LineFailure{"Controls", [](FakeMixer& o) { o.mrControls = MIXERR_INVALCONTROL; },
                    VOCORA_CAP_ERR_MIXER_CONTROLS,
                    "get controls of audio line by Windows API failed, error(1025)",
                    "close waveform-audio input device handle by Windows API failed."}),
    [](const ::testing::TestParamInfo<LineFailure>& stInfo) {
        return std::string(stInfo.param.pszName);
    });

TEST_F(MicVolumeTest, FailedReadOrWriteClosesTheMixerAndKeepsTheValue)
{
    m_oPlatform.Mixer().ulValue = 32896;
    m_oPlatform.Mixer().mrGetDetails = MMSYSERR_INVALHANDLE;
    uint32_t ulVolume = 7;
    EXPECT_EQ(GetMicVolume(&ulVolume), VOCORA_CAP_ERR_GET_MIC_VOLUME);
    EXPECT_EQ(ulVolume, 7u);
    m_oPlatform.Mixer().mrSetDetails = MMSYSERR_INVALPARAM;
    m_oPlatform.Mixer().mrClose = MMSYSERR_ERROR;
    EXPECT_EQ(SetMicVolume(1), VOCORA_CAP_ERR_SET_MIC_VOLUME);
    EXPECT_EQ(m_oPlatform.Mixer().ulValue, 32896u);
    EXPECT_EQ(m_oPlatform.Mixer().iOpens, 2);
    EXPECT_EQ(m_oPlatform.Mixer().iCloses, 2);

    m_oPlatform.Mixer().mrSetDetails = MMSYSERR_NOERROR;
    ASSERT_EQ(SetMicVolume(1), VOCORA_OK);
    EXPECT_EQ(CloseMixer(), VOCORA_OK);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "Failed, get system mic volume by Windows API failed, error(5)",
                            "Failed, set system mic volume by Windows API Failed, Error:[11].",
                            "Failed, close waveform-audio input device handle by Windows API Failed.",
                            "Audio_GetMicVolume fail, close waveform-audio input device handle by "
                            "Windows API failed."}));
}

}  // namespace
