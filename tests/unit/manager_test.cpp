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
    EXPECT_EQ(Vocora_Init_Wrapper(), VOCORA_ERR_NOT_AVAILABLE) << "no capture backend yet";
    EXPECT_EQ(sm_bUseDirectSoundPlay, 0u) << "no DSOUND.DLL";

    ProvideDirectSound();
    EXPECT_EQ(Vocora_Init_Wrapper(), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(sm_bUseDirectSoundPlay, 1u);

    // Clean-up releases the device but the choice stays made.
    Vocora_Cleanup_Wrapper();
    EXPECT_EQ(m_oDevice.References(), 0);
    FakeDirectSoundCreate::sm_hrResult = DSERR_NODRIVER;
    Vocora_Init_Wrapper();
    EXPECT_EQ(sm_bUseDirectSoundPlay, 1u);
}

TEST_F(PlaybackWrapperTest, HandleKindFollowsTheFlags)
{
    VocoraPlayHandle hPlay = m_hUntouched;
    // Without a usable DirectSound the handle would be a waveOut player, which
    // this build does not have.
    EXPECT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hPlay), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(hPlay, m_hUntouched);

    ProvideDirectSound();
    Vocora_Init_Wrapper();
    ASSERT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hPlay), VOCORA_OK);
    EXPECT_NE(hPlay, m_hUntouched);
    EXPECT_EQ(m_oDevice.m_stLastDesc.dwBufferBytes, 4096u) << "a DirectSound player";

    sm_bForceUseWaveout = 1;
    VocoraPlayHandle hForced = m_hUntouched;
    EXPECT_EQ(Vocora_CreatePlayDec_Wrapper(&kstBlock1024, &hForced), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(hForced, m_hUntouched);
    EXPECT_EQ(Vocora_DestoryPlayDec_Wrapper(hPlay), VOCORA_OK);
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

}  // namespace
