// The waveOut player against a fake device: opening and its failures, the
// ring of 128 entries, the software gain, and what closing gives back.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "fakes/directsound_fixture.h"
#include "winmm/waveoutplay.h"

namespace {

using WaveOutPtr = std::unique_ptr<CWaveOutPlay>;

const AudioParam kstMono16 = {8000, 1, 16, 320};  // entries of 640 bytes

class WaveOutPlayTest : public DirectSoundTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(m_oPlatform.WaveOut().iOpens, m_oPlatform.WaveOut().iCloses);
        DirectSoundTest::TearDown();
    }

    WaveOutPtr NewPlayer(AudioParam stParam = kstMono16, uint32_t ulExpected = VOCORA_OK)
    {
        WaveOutPtr poPlayer(new (std::nothrow) CWaveOutPlay());
        EXPECT_EQ(poPlayer->Init(&stParam), ulExpected);
        return poPlayer;
    }

    std::vector<uint8_t> Samples(std::initializer_list<int16_t> lstSamples)
    {
        std::vector<uint8_t> vecBytes(lstSamples.size() * 2);
        std::memcpy(vecBytes.data(), lstSamples.begin(), vecBytes.size());
        return vecBytes;
    }

    FakeWaveOut& Device() { return m_oPlatform.WaveOut(); }
};

TEST_F(WaveOutPlayTest, OpensTheWaveMapperWithEntriesTwiceTheBlock)
{
    WaveOutPtr poPlayer = NewPlayer({44100, 2, 16, 1000});
    EXPECT_EQ(Device().ulDeviceId, WAVE_MAPPER);
    EXPECT_EQ(Device().ulOpenFlags, static_cast<DWORD>(CALLBACK_FUNCTION));
    EXPECT_EQ(Device().ulCallback, reinterpret_cast<DWORD_PTR>(&CWaveOutPlay::WaveOutProc));
    EXPECT_EQ(Device().ulInstance, 0u);
    EXPECT_EQ(Device().stFormat.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(Device().stFormat.nBlockAlign, 4);
    EXPECT_EQ(Device().stFormat.nAvgBytesPerSec, 176400u);
    const std::vector<size_t> vecSizes = m_oPlatform.AllocationSizes();
    ASSERT_EQ(vecSizes.size(), 129u) << "the player and its 128 entries";
    EXPECT_EQ(std::count(vecSizes.begin() + 1, vecSizes.end(), 2000u), 128);

    NewPlayer({8000, 1, 16, 0});
    EXPECT_EQ(m_oPlatform.AllocationSizes().back(), 300000u) << "the default without a block length";
}

TEST_F(WaveOutPlayTest, OpenFailuresLeaveNothingAllocated)
{
    Device().ulDevices = 0;
    NewPlayer(kstMono16, VOCORA_PLAY_ERR_NO_DEVICE);
    Device().ulDevices = 1;
    m_oPlatform.FailAllocation(1 + 57);  // the player, then 57 entries
    NewPlayer(kstMono16, VOCORA_ERR_NO_MEMORY);
    Device().mrOpen = MMSYSERR_ALLOCATED;
    NewPlayer(kstMono16, VOCORA_PLAY_ERR_CREATE_DEVICE);
    EXPECT_EQ(m_oPlatform.OutstandingAllocations(), 0u);
    const std::vector<std::string> vecErrors = Errors();
    ASSERT_EQ(vecErrors.size(), 3u);
    EXPECT_EQ(vecErrors[0].rfind("Error during audio device check, need WaveOut, system error is ", 0), 0u);
    EXPECT_EQ(vecErrors[1], "failed to malloc memory from system");
    EXPECT_EQ(vecErrors[2], "failed to open waveout device");
}

TEST_F(WaveOutPlayTest, PlaysRightAfterCreationButNotWhenStopped)
{
    WaveOutPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecBlock = Samples({100, 200});
    ASSERT_EQ(poPlayer->SetVolume(128), VOCORA_OK);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 4), VOCORA_OK);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 0), VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(poPlayer->Play(nullptr, 4), VOCORA_ERR_INVALID_ARG);
    ASSERT_EQ(poPlayer->Stop(), VOCORA_OK);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 4), VOCORA_PLAY_ERR_NOT_STARTED);
    ASSERT_EQ(poPlayer->Start(), VOCORA_OK);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 4), VOCORA_OK);
    EXPECT_EQ(Device().vecWritten.size(), 2u);
    EXPECT_EQ(poPlayer->Close(), VOCORA_OK);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 4), VOCORA_PLAY_ERR_NOT_STARTED);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "Invalid parameter to function!", "Invalid parameter to function!",
                            "the waveout device isn't started before playing wave data!",
                            "the waveout device isn't opened before playing wave data!"}));
}

TEST_F(WaveOutPlayTest, GainIsAppliedInTheHostsBufferFor16BitOnly)
{
    WaveOutPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecBlock = Samples({1000, -10000});
    ASSERT_EQ(poPlayer->Play(vecBlock.data(), 4), VOCORA_OK);
    EXPECT_EQ(vecBlock, Samples({0, 0})) << "a new player is silent";

    vecBlock = Samples({1000, -10000});
    ASSERT_EQ(poPlayer->SetVolume(200), VOCORA_OK);
    ASSERT_EQ(poPlayer->Play(vecBlock.data(), 4), VOCORA_OK);
    EXPECT_EQ(vecBlock, Samples({4000, -32768}));
    EXPECT_EQ(Device().vecWritten.back(), vecBlock);
    int32_t lVolume = 0;
    EXPECT_EQ(poPlayer->GetVolume(&lVolume), VOCORA_OK);
    EXPECT_EQ(lVolume, 200);

    WaveOutPtr po8Bit = NewPlayer({8000, 1, 8, 320});
    std::vector<uint8_t> vecBytes = {10, 250, 128};
    ASSERT_EQ(po8Bit->Play(vecBytes.data(), 3), VOCORA_OK);
    EXPECT_EQ(vecBytes, (std::vector<uint8_t>{10, 250, 128}));
}

TEST_F(WaveOutPlayTest, OverlongBlocksAreCutToTheEntry)
{
    WaveOutPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecBlock(1000, 0);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 1000), VOCORA_OK);
    EXPECT_EQ(Device().vecWritten.back().size(), 640u);
}

TEST_F(WaveOutPlayTest, FullRingRefusesSilentlyAndEntriesComeBack)
{
    WaveOutPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecBlock(64, 1);
    for (uint32_t i = 0; i < 128; ++i) {
        ASSERT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_OK) << "entry " << i;
    }
    m_oLog.Clear();
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_PLAY_ERR_WRITE);
    EXPECT_TRUE(m_oLog.Records().empty());

    // Finished blocks come back on the device's own thread.
    std::thread oDevice([&] { m_oPlatform.CompleteWaveOut(3); });
    oDevice.join();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_OK);
    }
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_PLAY_ERR_WRITE);
    EXPECT_EQ(m_oPlatform.QueuedWaveOut(), 128u);
}

TEST_F(WaveOutPlayTest, QueueingFailuresFreeTheEntryAgain)
{
    WaveOutPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecBlock(64, 1);
    ASSERT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_OK);  // entry 0 stays queued
    Device().mrWrite = MMSYSERR_NOMEM;
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_PLAY_ERR_WRITE);
    Device().mrWrite = MMSYSERR_NOERROR;
    Device().mrPrepare = MMSYSERR_NOMEM;
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_PLAY_ERR_WRITE);
    Device().mrPrepare = MMSYSERR_NOERROR;
    Device().mrUnprepare = MMSYSERR_INVALHANDLE;
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_PLAY_ERR_WRITE);
    Device().mrUnprepare = MMSYSERR_NOERROR;
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_OK);
    EXPECT_EQ(Device().vecWritten.size(), 2u);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "failed to write memory controller entry [1] to wave out device.",
                            "failed to waveOutPrepareHeader memory controller entry [1] to waveout "
                            "device.",
                            "failed to waveOutUnprepareHeader memory controller entry [1] to waveout "
                            "device."}));
}

TEST_F(WaveOutPlayTest, CloseResetsDetachesAndFreesOnce)
{
    WaveOutPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecBlock(64, 1);
    ASSERT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_OK);
    ASSERT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_OK);
    EXPECT_EQ(poPlayer->Close(), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.QueuedWaveOut(), 0u) << "the reset returned the queued blocks";
    EXPECT_EQ(m_oPlatform.OutstandingAllocations(), 1u) << "only the player itself";
    EXPECT_EQ(Device().iCloses, 1);
    EXPECT_EQ(poPlayer->Close(), VOCORA_OK);
    poPlayer.reset();
    EXPECT_EQ(m_oLog.WithFormat("succeed to close waveout device").size(), 3u);
    EXPECT_TRUE(Errors().empty());
}

TEST_F(WaveOutPlayTest, CloseFailuresAreReported)
{
    WaveOutPtr poPlayer = NewPlayer();
    Device().mrUnprepare = MMSYSERR_INVALHANDLE;
    Device().mrClose = MMSYSERR_INVALHANDLE;
    EXPECT_EQ(poPlayer->Close(), VOCORA_OK);
    const std::vector<std::string> vecErrors = Errors();
    ASSERT_EQ(vecErrors.size(), 129u);
    EXPECT_EQ(vecErrors[0], "failed to detach memory controller entry [0] to waveout device.");
    EXPECT_EQ(vecErrors[127], "failed to detach memory controller entry [127] to waveout device.");
    EXPECT_EQ(vecErrors[128], "failed to close waveout device.");
    // The device is forgotten all the same; count it closed for the balance.
    ++Device().iCloses;
}

TEST_F(WaveOutPlayTest, FailedResetNeverLeavesQueuedEntriesBehind)
{
    WaveOutPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecBlock(64, 1);
    ASSERT_EQ(poPlayer->Play(vecBlock.data(), 64), VOCORA_OK);
    Device().mrReset = MMSYSERR_ERROR;
    EXPECT_EQ(poPlayer->Close(), VOCORA_ERR_RESOURCE);
    EXPECT_EQ(Errors(), (std::vector<std::string>{"failed to reset waveout device."}));

    // Destruction waits for the device to finish the queued block before the
    // entries inside the player go.
    std::thread oDevice([&] {
        Sleep(100);
        m_oPlatform.CompleteWaveOut(1);
    });
    poPlayer.reset();
    oDevice.join();
    EXPECT_EQ(Device().iCloses, 1);
    EXPECT_EQ(m_oPlatform.OutstandingAllocations(), 0u);
}

}  // namespace
