// The playback wrappers: which device a handle gets, what a failed creation
// leaves behind, and how results and values reach the host.
#include <gtest/gtest.h>

#include "fakes/directsound_fixture.h"
#include "vocora_manager.h"

namespace {

class PlaybackWrapperTest : public DirectSoundTest {
protected:
    void SetUp() override
    {
        DirectSoundTest::SetUp();
        // The flags live for the process; each test starts from a fresh load.
        sm_bUseDirectSoundPlay = 0;
        sm_bUseAecCapture = 0;
        sm_bForceUseWaveout = 0;
    }

    const VocoraPlayHandle m_hUntouched = reinterpret_cast<VocoraPlayHandle>(uintptr_t{0x77});
};

TEST_F(PlaybackWrapperTest, InitEnablesDirectSoundPlaybackForGood)
{
    EXPECT_EQ(Vocora_Init_Wrapper(), VOCORA_ERR_NOT_AVAILABLE) << "no DSOUND.DLL";
    EXPECT_EQ(sm_bUseDirectSoundPlay, 0u);

    // Capture's result is initialisation's: a failing playback side does not show.
    ProvideDirectSound();
    m_oDevice.m_hrSetCooperativeLevel = DSERR_PRIOLEVELNEEDED;
    EXPECT_EQ(Vocora_Init_Wrapper(), VOCORA_OK);
    EXPECT_EQ(sm_bUseDirectSoundPlay, 0u);
    m_oDevice.m_hrSetCooperativeLevel = DS_OK;
    EXPECT_EQ(Vocora_Init_Wrapper(), VOCORA_OK);
    EXPECT_EQ(sm_bUseDirectSoundPlay, 1u);
    EXPECT_EQ(sm_bUseAecCapture, 0u) << "no voice-capture DSP is provided here";

    // Clean-up releases the devices but the choice stays made.
    Vocora_Cleanup_Wrapper();
    EXPECT_EQ(m_oDevice.References(), 0);
    EXPECT_EQ(m_oCaptureDevice.References(), 0);
    FakeDirectSoundCreate::sm_hrResult = DSERR_NODRIVER;
    Vocora_Init_Wrapper();
    EXPECT_EQ(sm_bUseDirectSoundPlay, 1u);
}

TEST_F(PlaybackWrapperTest, HandleKindFollowsTheFlags)
{
    // Without a usable DirectSound the handle is a waveOut player.
    VocoraPlayHandle hWaveOut = m_hUntouched;
    ASSERT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hWaveOut), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.WaveOut().iOpens, 1);

    ProvideDirectSound();
    Vocora_Init_Wrapper();
    VocoraPlayHandle hDirectSound = m_hUntouched;
    ASSERT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hDirectSound), VOCORA_OK);
    EXPECT_EQ(m_oDevice.m_stLastDesc.dwBufferBytes, 4096u) << "a DirectSound player";
    EXPECT_EQ(m_oPlatform.WaveOut().iOpens, 1);

    // Forcing waveOut changes only the handles created afterwards.
    sm_bForceUseWaveout = 1;
    VocoraPlayHandle hForced = m_hUntouched;
    ASSERT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hForced), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.WaveOut().iOpens, 2);
    std::vector<uint8_t> vecBlock(1024, 1);
    EXPECT_EQ(Vocora_Play_Wrapper(hDirectSound, vecBlock.data(), 1024), VOCORA_ERR_NOT_AVAILABLE)
        << "still a DirectSound player, which is not started";

    for (VocoraPlayHandle hPlay : {hWaveOut, hDirectSound, hForced}) {
        EXPECT_EQ(Vocora_DestoryPlayDec_Wrapper(hPlay), VOCORA_OK);
    }
    EXPECT_EQ(m_oPlatform.WaveOut().iCloses, 2);
}

TEST_F(PlaybackWrapperTest, FailedCreationLeavesNothingAndKeepsTheHandle)
{
    ProvideDirectSound();
    Vocora_Init_Wrapper();
    VocoraPlayHandle hPlay = m_hUntouched;
    m_oDevice.m_hrCreateSoundBuffer = DSERR_ALLOCATED;
    EXPECT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hPlay), VOCORA_PLAY_ERR_NO_DEVICE);
    EXPECT_EQ(hPlay, m_hUntouched);

    m_oPlatform.FailAllocation(0);
    EXPECT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hPlay), VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(hPlay, m_hUntouched);
    EXPECT_EQ(Errors().back(), "poSoundPlay Can't Be NULL.");
    EXPECT_EQ(m_oLog.Records().back().strFunction, "Vocora_CreatePlayDec_Wrapper");
}

TEST_F(PlaybackWrapperTest, CallsReachTheDeviceAndDestroyStopsIt)
{
    ProvideDirectSound();
    Vocora_Init_Wrapper();
    VocoraPlayHandle hPlay = nullptr;
    ASSERT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hPlay), VOCORA_OK);
    CFakeSoundBuffer& oBuffer = Buffer();

    std::vector<uint8_t> vecBlock(1024, 1);
    EXPECT_EQ(Vocora_Play_Wrapper(hPlay, vecBlock.data(), 1024), VOCORA_ERR_NOT_AVAILABLE);
    ASSERT_EQ(Vocora_PlayStart_Wrapper(hPlay), VOCORA_OK);
    EXPECT_EQ(Vocora_Play_Wrapper(hPlay, vecBlock.data(), 1024), VOCORA_OK);
    EXPECT_EQ(Vocora_SetPlayVolume_Wrapper(hPlay, 128), VOCORA_OK);
    EXPECT_EQ(oBuffer.Volume(), -598);

    // A failed read still hands the host a value: 0, as nothing was read.
    oBuffer.m_hrGetVolume = DSERR_INVALIDCALL;
    int32_t lVolume = 99;
    EXPECT_EQ(Vocora_GetPlayVolume_Wrapper(hPlay, &lVolume), VOCORA_PLAY_ERR_GET_VOLUME);
    EXPECT_EQ(lVolume, 0);
    oBuffer.m_hrGetVolume = DS_OK;
    EXPECT_EQ(Vocora_GetPlayVolume_Wrapper(hPlay, &lVolume), VOCORA_OK);
    EXPECT_EQ(lVolume, 128);

    EXPECT_EQ(Vocora_PlayStop_Wrapper(hPlay), VOCORA_OK);
    ASSERT_EQ(Vocora_PlayStart_Wrapper(hPlay), VOCORA_OK);
    EXPECT_EQ(Vocora_DestoryPlayDec_Wrapper(hPlay), VOCORA_OK);
    EXPECT_EQ(oBuffer.References(), 0);
    EXPECT_EQ(oBuffer.Calls("Stop"), 3) << "stopped by Stop, and by destruction's Stop and Close";
}

// ---- Capture handles -------------------------------------------------------------

class CaptureWrapperTest : public PlaybackWrapperTest {
protected:
    void SetUp() override
    {
        PlaybackWrapperTest::SetUp();
        ProvideDirectSound();
        ASSERT_EQ(Vocora_Init_Wrapper(), VOCORA_OK) << "capture is what initialisation reports";
        m_oLog.Clear();
    }

    const VocoraCaptureHandle m_hUntouchedCapture =
        reinterpret_cast<VocoraCaptureHandle>(uintptr_t{0x78});
};

TEST_F(CaptureWrapperTest, FailedCreationReportsTheDevicesCode)
{
    VocoraCaptureHandle hCapture = m_hUntouchedCapture;
    m_oPlatform.SetInputDevices(0);
    EXPECT_EQ(Vocora_CreateCaptureDec_Wrapper(&kstBlock1024, 1, &hCapture),
              VOCORA_CAP_ERR_NO_INPUT_DEVICE);
    m_oPlatform.SetInputDevices(1);
    m_oPlatform.FailThreadCreation();
    EXPECT_EQ(Vocora_CreateCaptureDec_Wrapper(&kstBlock1024, 0, &hCapture), VOCORA_CAP_ERR_START);
    m_oPlatform.FailAllocation(0);
    EXPECT_EQ(Vocora_CreateCaptureDec_Wrapper(&kstBlock1024, 1, &hCapture), VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(hCapture, m_hUntouchedCapture);
    EXPECT_EQ(CaptureBuffer().References(), 0);

    const auto vecFailures = m_oLog.WithFormat("Failed, CreateDec fail, Error:[0x%x].");
    ASSERT_EQ(vecFailures.size(), 2u);
    EXPECT_EQ(vecFailures[0].strText, "Failed, CreateDec fail, Error:[0x10000000].");
    EXPECT_EQ(vecFailures[1].strText, "Failed, CreateDec fail, Error:[0x1000000a].");
    EXPECT_EQ(vecFailures[1].strFunction, "Vocora_CreateCaptureDec_Wrapper");
    EXPECT_EQ(Errors().back(), "poSoundCapture Can't Be NULL.");
}

TEST_F(CaptureWrapperTest, MicVolumeGoesToTheMixerThenTheDevice)
{
    VocoraCaptureHandle hCapture = nullptr;
    ASSERT_EQ(Vocora_CreateCaptureDec_Wrapper(&kstBlock1024, 0, &hCapture), VOCORA_OK);
    auto* poCapture = reinterpret_cast<CAudioCaptureBase*>(hCapture);
    EXPECT_EQ(Vocora_SetMicVolume_Wrapper(hCapture, 128), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.Mixer().ulValue, 32896u);
    uint32_t ulStored = 0;
    poCapture->GetVolume(&ulStored);
    EXPECT_EQ(ulStored, 128u);

    // A mixer failure reaches the host and leaves the device alone.
    m_oPlatform.Mixer().mrSetDetails = MMSYSERR_ERROR;
    EXPECT_EQ(Vocora_SetMicVolume_Wrapper(hCapture, 20), VOCORA_CAP_ERR_SET_MIC_VOLUME);
    poCapture->GetVolume(&ulStored);
    EXPECT_EQ(ulStored, 128u);
    m_oPlatform.Mixer().mrSetDetails = MMSYSERR_NOERROR;

    int32_t lVolume = -1;
    EXPECT_EQ(Vocora_GetMicVolume_Wrapper(hCapture, &lVolume), VOCORA_OK);
    EXPECT_EQ(lVolume, 128);
    // Destroying a capture handle closes the mixer; the next call reopens it.
    EXPECT_EQ(Vocora_DestoryCaptureDec_Wrapper(hCapture), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.Mixer().iOpens, m_oPlatform.Mixer().iCloses);
    EXPECT_EQ(CaptureBuffer().References(), 0);
    EXPECT_EQ(Vocora_GetMicVolume_Wrapper(m_hUntouchedCapture, &lVolume), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.Mixer().iOpens, 3);
}

}  // namespace
