// The DirectSound runtime and player against fake DirectSound objects: what
// each failure reports and returns, how buffers are sized, how volume maps,
// how the staging queue behaves, and what the play thread writes where.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>

#include "directsound/directsoundplay.h"
#include "fakes/directsound_fixture.h"

namespace {


std::vector<uint8_t> Pattern(size_t ulLength, uint8_t ucSeed)
{
    std::vector<uint8_t> vecBytes(ulLength);
    std::iota(vecBytes.begin(), vecBytes.end(), ucSeed);
    return vecBytes;
}

// A ready runtime, for the player's own tests.
class DirectSoundPlayTest : public DirectSoundTest {
protected:
    void SetUp() override
    {
        DirectSoundTest::SetUp();
        ProvideDirectSound();
        ASSERT_EQ(DirectSoundInit(), VOCORA_OK);
        m_oLog.Clear();
    }
};

// ---- Loading DirectSound ---------------------------------------------------

using DirectSoundRuntimeTest = DirectSoundTest;

const char kszNoDirectSound[] =
    "DirectSoundInit Failed, system unspport  dsound to play and capture, use other";

TEST_F(DirectSoundRuntimeTest, MissingLibraryIsNotAvailable)
{
    EXPECT_EQ(DirectSoundInit(), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(m_oPlatform.LoadedModules(), (std::vector<std::string>{"DSOUND.DLL"}));
    EXPECT_EQ(m_oPlatform.FreedModules(), 0);
    EXPECT_EQ(Errors(), (std::vector<std::string>{kszNoDirectSound}));
}

TEST_F(DirectSoundRuntimeTest, LibraryWithoutEntryPointIsUnloadedAgain)
{
    ProvideDirectSound(false);
    EXPECT_EQ(DirectSoundInit(), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(m_oPlatform.FreedModules(), 1);
    EXPECT_EQ(sm_hDSoundModule, nullptr);
    EXPECT_EQ(Errors(), (std::vector<std::string>{kszNoDirectSound}));
}

TEST_F(DirectSoundRuntimeTest, DeviceCreationFailureKeepsTheModule)
{
    ProvideDirectSound();
    FakeDirectSoundCreate::sm_hrResult = DSERR_NODRIVER;
    EXPECT_EQ(DirectSoundInit(), VOCORA_PLAY_ERR_CREATE_DEVICE);
    EXPECT_NE(sm_hDSoundModule, nullptr);
    EXPECT_EQ(sm_gpDSound, nullptr);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "DirectSoundInit Failed, DirectSoundCreate8 failed(retcode:-2005401480, "
                            "errormsg:No audio device found)."}));

    // A success code other than DS_OK is a failure too, and its object is not kept.
    FakeDirectSoundCreate::sm_hrResult = S_FALSE;
    EXPECT_EQ(DirectSoundInit(), VOCORA_PLAY_ERR_CREATE_DEVICE);
    EXPECT_EQ(m_oDevice.References(), 0);
    EXPECT_EQ(m_oPlatform.LoadedModules().size(), 1u) << "the loaded module is reused";

    EXPECT_EQ(DirectSoundCleanup(), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.FreedModules(), 1);
}

TEST_F(DirectSoundRuntimeTest, RefusedCooperativeLevelDropsTheDevice)
{
    ProvideDirectSound();
    m_oDevice.m_hrSetCooperativeLevel = DSERR_PRIOLEVELNEEDED;
    EXPECT_EQ(DirectSoundInit(), VOCORA_PLAY_ERR_COOPERATIVE_LEVEL);
    EXPECT_EQ(sm_gpDSound, nullptr);
    EXPECT_EQ(m_oDevice.References(), 0);
    EXPECT_NE(sm_hDSoundModule, nullptr);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "DirectSoundInit Failed, SetCooperativeLevel failed(retcode:-2005401530, "
                            "errormsg:Caller doesn't have priority)"}));
}

TEST_F(DirectSoundRuntimeTest, ReadyRuntimeIsKeptUntilCleanup)
{
    ProvideDirectSound();
    EXPECT_EQ(DirectSoundInit(), VOCORA_OK);
    EXPECT_EQ(sm_gpDSound, &m_oDevice);
    EXPECT_EQ(m_oDevice.m_hCooperativeWindow, m_oPlatform.DesktopWindow());
    EXPECT_EQ(m_oDevice.m_ulCooperativeLevel, static_cast<DWORD>(DSSCL_NORMAL));

    // Initialising again keeps the device every player was made from.
    EXPECT_EQ(DirectSoundInit(), VOCORA_OK);
    EXPECT_EQ(m_oDevice.References(), 1);
    EXPECT_EQ(FakeDirectSoundCreate::sm_iCalls, 1);

    EXPECT_EQ(DirectSoundCleanup(), VOCORA_OK);
    EXPECT_EQ(m_oDevice.References(), 0);
    EXPECT_EQ(m_oPlatform.FreedModules(), 1);
    EXPECT_EQ(DirectSoundCleanup(), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.FreedModules(), 1) << "a second clean-up has nothing to do";
    EXPECT_TRUE(Errors().empty());
}

TEST(DirectSoundErrorTextTest, KnownCodesHaveTheirTextAndOthersAreUnknown)
{
    EXPECT_STREQ(DirectSoundErrorText(DSERR_NODRIVER), "No audio device found");
    EXPECT_STREQ(DirectSoundErrorText(DSERR_BUFFERLOST), "Mixing buffer was lost");
    EXPECT_STREQ(DirectSoundErrorText(E_NOINTERFACE),
                 "Unsupported interface -- Is DirectX 8.0 or later installed?");
    EXPECT_STREQ(DirectSoundErrorText(DSERR_INVALIDPARAM), "Invalid parameter");
    for (HRESULT hr : {E_FAIL, S_OK, S_FALSE, static_cast<HRESULT>(0x88780079)}) {
        EXPECT_STREQ(DirectSoundErrorText(hr), "Unknown DirectSound error") << std::hex << hr;
    }
}

// ---- Initialising a player -------------------------------------------------

struct SizeCase {
    AudioParam stParam;
    DWORD ulBlock;
    WORD usBlockAlign;
};

void PrintTo(const SizeCase& stCase, std::ostream* pOut)
{
    *pOut << stCase.stParam.ulSampleRate << " Hz x" << stCase.stParam.ulChannels << " "
          << stCase.stParam.ulBitsPerSample << " bit, data length " << stCase.stParam.ulDataLen;
}

class DirectSoundPlaySizeTest : public DirectSoundPlayTest,
                                public ::testing::WithParamInterface<SizeCase> {};

TEST_P(DirectSoundPlaySizeTest, BuffersFollowTheRecord)
{
    const SizeCase& stCase = GetParam();
    PlayerPtr poPlayer = NewPlayer(stCase.stParam);

    EXPECT_EQ(m_oPlatform.AllocationSizes(),
              (std::vector<size_t>{sizeof(CDirectSoundPlay), 40 * size_t{stCase.ulBlock},
                                   stCase.ulBlock}))
        << "the player, a staging queue of 40 blocks and a one-block read buffer";
    const DSBUFFERDESC& stDesc = m_oDevice.m_stLastDesc;
    EXPECT_EQ(stDesc.dwSize, 40u);
    EXPECT_EQ(stDesc.dwFlags, 0x18080u);
    EXPECT_EQ(stDesc.dwBufferBytes, 4 * stCase.ulBlock);
    const WAVEFORMATEX& stFormat = m_oDevice.m_stLastFormat;
    EXPECT_EQ(stFormat.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(stFormat.nChannels, stCase.stParam.ulChannels);
    EXPECT_EQ(stFormat.nSamplesPerSec, stCase.stParam.ulSampleRate);
    EXPECT_EQ(stFormat.wBitsPerSample, stCase.stParam.ulBitsPerSample);
    EXPECT_EQ(stFormat.nBlockAlign, stCase.usBlockAlign);
    EXPECT_EQ(stFormat.nAvgBytesPerSec, stCase.stParam.ulSampleRate * stCase.usBlockAlign);
    EXPECT_EQ(stFormat.cbSize, 0);
    EXPECT_EQ(m_oLog.Records().at(0).strFormat,
              "CDirectSoundPlay::Init Channels(%d) SampleRate(%d) BitsPerSample(%d).");
}

INSTANTIATE_TEST_SUITE_P(Formats, DirectSoundPlaySizeTest,
                         ::testing::Values(SizeCase{{8000, 1, 16, 0}, 1024, 2},
                                           SizeCase{{48000, 2, 16, 0}, 2048, 4},
                                           SizeCase{{44100, 2, 16, 3840}, 3840, 4},
                                           SizeCase{{8000, 1, 8, 0}, 512, 1}));

TEST_F(DirectSoundPlayTest, UnusableRecordsAreRejectedBeforeAnythingIsAllocated)
{
    NewPlayer({8000, 1, 4, 0}, VOCORA_ERR_ZERO_BLOCK);
    NewPlayer({8000, 1, 16, 0x04000000}, VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(m_oPlatform.AllocationSizes().size(), 2u) << "only the two players themselves";
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "CDirectSoundPlay::Init Failed, Data len is 0.",
                            "CDirectSoundPlay::Init Failed, Sound buffer size must be between 4 and "
                            "268435455"}));
}

TEST_F(DirectSoundTest, PlayerNeedsTheDeviceObject)
{
    NewPlayer(kstBlock1024, VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(Errors(), (std::vector<std::string>{"sm_gpDSound Can't Be NULL."}));
}

TEST_F(DirectSoundPlayTest, InitFailuresReleaseWhatWasAcquired)
{
    m_oPlatform.FailAllocation(1);  // the player itself is allocation 0
    NewPlayer(kstBlock1024, VOCORA_ERR_NO_MEMORY);
    m_oPlatform.FailAllocation(2);
    NewPlayer(kstBlock1024, VOCORA_ERR_NO_MEMORY);
    m_oDevice.m_hrCreateSoundBuffer = DSERR_ALLOCATED;
    NewPlayer(kstBlock1024, VOCORA_PLAY_ERR_NO_DEVICE);
    m_oDevice.m_hrCreateSoundBuffer = DS_OK;
    m_oDevice.m_hrNewBufferQueryInterface = E_NOINTERFACE;
    NewPlayer(kstBlock1024, VOCORA_PLAY_ERR_NO_DEVICE);
    EXPECT_EQ(Buffer().References(), 0) << "the first interface is released after the query";
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "CDirectSoundPlay::Init Failed, malloc pcm data buffer fail.",
                            "CDirectSoundPlay::Init Failed, malloc pcm read buffer fail.",
                            "CDirectSoundPlay::Init Failed, CreateSoundBuffer Failed, "
                            "Error:[-2005401590], ErrorMsg:Audio device in use.",
                            "CDirectSoundPlay::Init Failed, QueryInterface Failed, "
                            "Error:[-2147467262], ErrorMsg:Unsupported interface -- Is DirectX 8.0 "
                            "or later installed?."}));
}

// ---- Starting, stopping, playing --------------------------------------------

TEST_F(DirectSoundPlayTest, StartFailuresReportTheirCodes)
{
    PlayerPtr poPlayer = NewPlayer();
    Buffer().m_hrSetCurrentPosition = DSERR_INVALIDCALL;
    EXPECT_EQ(poPlayer->Start(), VOCORA_PLAY_ERR_SET_POSITION);
    Buffer().m_hrSetCurrentPosition = DS_OK;
    Buffer().m_hrPlay = DSERR_BUFFERLOST;
    EXPECT_EQ(poPlayer->Start(), VOCORA_PLAY_ERR_PLAY);
    Buffer().m_hrPlay = DS_OK;
    Buffer().m_hrSetVolume = DSERR_CONTROLUNAVAIL;
    EXPECT_EQ(poPlayer->Start(), VOCORA_PLAY_ERR_SET_VOLUME);
    Buffer().m_hrSetVolume = DS_OK;
    m_oPlatform.FailThreadCreation();
    EXPECT_EQ(poPlayer->Start(), VOCORA_PLAY_ERR_NOT_STARTED);
    EXPECT_EQ(Buffer().Calls("Stop"), 1) << "the buffer does not play on without its thread";
    EXPECT_EQ(poPlayer->Play(Pattern(4, 0).data(), 4), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "CDirectSoundPlay::Start Failed, SetCurrentPosition Failed, "
                            "Error:[-2005401550], ErrorMsg:Invalid call for the current state.",
                            "CDirectSoundPlay::Start Failed, Play Failed, Error:[-2005401450], "
                            "ErrorMsg:Mixing buffer was lost.",
                            "CDirectSoundPlay::Start Failed, SetVolume Failed, Error:[-2005401570], "
                            "ErrorMsg:Control requested is not available.",
                            "CDirectSoundPlay::Start Failed, ZUVI_SDK_thr_create SoundPlay failed"}));
}

TEST_F(DirectSoundPlayTest, PlayOnlyWhileRunningAndStartOnlyOnce)
{
    PlayerPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecBlock = Pattern(1024, 1);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 1024), VOCORA_ERR_NOT_AVAILABLE);

    ASSERT_EQ(poPlayer->Start(), VOCORA_OK);
    EXPECT_EQ(poPlayer->Start(), VOCORA_OK);
    EXPECT_EQ(m_oPlatform.ThreadsCreated(), 1);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 0), VOCORA_OK);
    EXPECT_EQ(poPlayer->Play(nullptr, 10), VOCORA_ERR_INVALID_ARG);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(poPlayer->Play(vecBlock.data(), 1024), VOCORA_OK) << "block " << i;
    }
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 1), VOCORA_ERR_NO_MEMORY);

    EXPECT_EQ(poPlayer->Stop(), VOCORA_OK);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 1024), VOCORA_ERR_NOT_AVAILABLE);
    // A restart begins at position 0 with nothing staged.
    ASSERT_EQ(poPlayer->Start(), VOCORA_OK);
    EXPECT_EQ(Buffer().Calls("SetCurrentPosition"), 2);
    uint32_t ulLength = 1024;
    EXPECT_EQ(poPlayer->ReadAudioData(vecBlock.data(), &ulLength), CDirectSoundPlay::kulNothingStaged);

    EXPECT_EQ(poPlayer->Close(), VOCORA_OK);
    EXPECT_EQ(poPlayer->Start(), VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(poPlayer->Close(), VOCORA_OK);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "pucData Can't Be NULL.",
                            "CDirectSoundPlay::Play Failed, WriteAudioData Failed, Error:[0x3].",
                            "m_pSoundBuffer Can't Be NULL."}));
}

// ---- Volume ------------------------------------------------------------------

TEST_F(DirectSoundPlayTest, VolumeMapsToAttenuationAndBack)
{
    PlayerPtr poPlayer = NewPlayer();
    ASSERT_EQ(poPlayer->Start(), VOCORA_OK);
    EXPECT_EQ(Buffer().Volume(), DSBVOLUME_MIN) << "a new player is silent";

    const std::pair<uint32_t, LONG> astSet[] = {
        {1, -4813},   {64, -1200}, {128, -598},    {254, -3},      {255, 0},
        {0, -10000},  {256, 0},    {1000, 0},      {static_cast<uint32_t>(-5), -10000},
        {0x80000000u, -10000}};
    for (const auto& stCase : astSet) {
        ASSERT_EQ(poPlayer->SetVolume(stCase.first), VOCORA_OK);
        EXPECT_EQ(Buffer().Volume(), stCase.second) << "volume " << stCase.first;
    }

    const std::pair<LONG, int32_t> astGet[] = {
        {0, 255}, {-100, 227}, {-600, 127}, {-4813, 1}, {-4814, 0}, {-10000, 0}};
    for (const auto& stCase : astGet) {
        ASSERT_EQ(Buffer().SetVolume(stCase.first), DS_OK);
        int32_t lVolume = -1;
        ASSERT_EQ(poPlayer->GetVolume(&lVolume), VOCORA_OK);
        EXPECT_EQ(lVolume, stCase.second) << "attenuation " << stCase.first;
    }

    for (uint32_t ulVolume = 0; ulVolume <= 255; ++ulVolume) {
        int32_t lVolume = -1;
        ASSERT_EQ(poPlayer->SetVolume(ulVolume), VOCORA_OK);
        ASSERT_EQ(poPlayer->GetVolume(&lVolume), VOCORA_OK);
        EXPECT_EQ(lVolume, static_cast<int32_t>(ulVolume));
    }
}

TEST_F(DirectSoundPlayTest, VolumeFailuresKeepTheLastGoodVolume)
{
    PlayerPtr poPlayer = NewPlayer();
    ASSERT_EQ(poPlayer->SetVolume(64), VOCORA_OK);
    Buffer().m_hrSetVolume = DSERR_CONTROLUNAVAIL;
    EXPECT_EQ(poPlayer->SetVolume(200), VOCORA_PLAY_ERR_SET_VOLUME);
    Buffer().m_hrGetVolume = DSERR_INVALIDCALL;
    int32_t lVolume = 7;
    EXPECT_EQ(poPlayer->GetVolume(&lVolume), VOCORA_PLAY_ERR_GET_VOLUME);
    EXPECT_EQ(lVolume, 7);

    // Start applies the volume last set successfully.
    Buffer().m_hrSetVolume = DS_OK;
    ASSERT_EQ(poPlayer->Start(), VOCORA_OK);
    EXPECT_EQ(Buffer().Volume(), -1200);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "CDirectSoundPlay::SetVolume Failed, SetVolume Failed, "
                            "Error:[-2005401570], ErrorMsg:Control requested is not available.",
                            "CDirectSoundPlay::GetVolume Failed, GetVolume Failed, "
                            "Error:[-2005401550], ErrorMsg:Invalid call for the current state."}));
}

// ---- The staging queue (capacity 40960) ---------------------------------------

TEST_F(DirectSoundPlayTest, AppendsReportTheFillLevel)
{
    PlayerPtr poPlayer = NewPlayer();
    const std::vector<uint8_t> vecData = Pattern(40960, 0);
    EXPECT_EQ(poPlayer->WriteAudioData(vecData.data(), 0), VOCORA_PLAY_STAGING_LOW);
    EXPECT_EQ(poPlayer->WriteAudioData(vecData.data(), 10240), VOCORA_PLAY_STAGING_LOW);
    EXPECT_EQ(poPlayer->WriteAudioData(vecData.data(), 1), VOCORA_OK);
    EXPECT_EQ(poPlayer->WriteAudioData(vecData.data(), 20478), VOCORA_OK);
    EXPECT_EQ(poPlayer->WriteAudioData(vecData.data(), 1), VOCORA_PLAY_STAGING_HIGH);  // 30720
    EXPECT_EQ(poPlayer->WriteAudioData(vecData.data(), 10241), VOCORA_ERR_NO_MEMORY);
    EXPECT_EQ(poPlayer->WriteAudioData(nullptr, 1), VOCORA_ERR_INVALID_ARG);
}

TEST_F(DirectSoundPlayTest, AppendCompactsOrRejectsWhole)
{
    PlayerPtr poPlayer = NewPlayer();
    const std::vector<uint8_t> vecFirst = Pattern(40000, 0);
    const std::vector<uint8_t> vecSecond = Pattern(20000, 77);
    std::vector<uint8_t> vecOut(40960);
    uint32_t ulLength = 30000;
    ASSERT_EQ(poPlayer->WriteAudioData(vecFirst.data(), 40000), VOCORA_PLAY_STAGING_HIGH);
    ASSERT_EQ(poPlayer->ReadAudioData(vecOut.data(), &ulLength), VOCORA_OK);

    // R = 30000, W = 40000: the tail is short but the whole free space is not.
    EXPECT_EQ(poPlayer->WriteAudioData(vecSecond.data(), 20000), VOCORA_OK);
    ulLength = 40960;
    ASSERT_EQ(poPlayer->ReadAudioData(vecOut.data(), &ulLength), VOCORA_OK);
    ASSERT_EQ(ulLength, 30000u);
    EXPECT_TRUE(std::equal(vecFirst.begin() + 30000, vecFirst.end(), vecOut.begin()));
    EXPECT_TRUE(std::equal(vecSecond.begin(), vecSecond.end(), vecOut.begin() + 10000));

    // R = 1000, W = 40000 (after the restart's reset): 1960 bytes free in all.
    ASSERT_EQ(poPlayer->Stop(), VOCORA_OK);
    ASSERT_EQ(poPlayer->WriteAudioData(vecFirst.data(), 40000), VOCORA_PLAY_STAGING_HIGH);
    ulLength = 1000;
    ASSERT_EQ(poPlayer->ReadAudioData(vecOut.data(), &ulLength), VOCORA_OK);
    EXPECT_EQ(poPlayer->WriteAudioData(vecSecond.data(), 2000), VOCORA_ERR_NO_MEMORY);
    ulLength = 40960;
    ASSERT_EQ(poPlayer->ReadAudioData(vecOut.data(), &ulLength), VOCORA_OK);
    ASSERT_EQ(ulLength, 39000u);
    EXPECT_TRUE(std::equal(vecFirst.begin() + 1000, vecFirst.end(), vecOut.begin()));
}

TEST_F(DirectSoundPlayTest, TakesDeliverWhatIsStaged)
{
    PlayerPtr poPlayer = NewPlayer();
    std::vector<uint8_t> vecOut(1024);
    uint32_t ulLength = 1024;
    EXPECT_EQ(poPlayer->ReadAudioData(vecOut.data(), &ulLength), CDirectSoundPlay::kulNothingStaged);
    EXPECT_EQ(ulLength, 0u);

    const std::vector<uint8_t> vecData = Pattern(300, 9);
    ASSERT_EQ(poPlayer->WriteAudioData(vecData.data(), 300), VOCORA_PLAY_STAGING_LOW);
    ulLength = 1024;
    EXPECT_EQ(poPlayer->ReadAudioData(vecOut.data(), &ulLength), VOCORA_OK);
    EXPECT_EQ(ulLength, 300u);
    EXPECT_TRUE(std::equal(vecData.begin(), vecData.end(), vecOut.begin()));
    ulLength = 1024;
    EXPECT_EQ(poPlayer->ReadAudioData(vecOut.data(), &ulLength), CDirectSoundPlay::kulNothingStaged);
    EXPECT_EQ(poPlayer->ReadAudioData(nullptr, &ulLength), VOCORA_ERR_INVALID_ARG);
}

// ---- The play thread -----------------------------------------------------------

TEST_F(DirectSoundPlayTest, ThreadRefillsTheBlockAfterTheWriteCursor)
{
    PlayerPtr poPlayer = NewPlayer();
    ASSERT_EQ(poPlayer->Start(), VOCORA_OK);
    const std::vector<uint8_t> vecFull = Pattern(1024, 3);
    const std::vector<uint8_t> vecHalf = Pattern(512, 100);
    ASSERT_EQ(poPlayer->Play(const_cast<uint8_t*>(vecFull.data()), 1024), VOCORA_OK);
    ASSERT_EQ(poPlayer->Play(const_cast<uint8_t*>(vecHalf.data()), 512), VOCORA_OK);

    auto fnLockedAt = [&](DWORD ulOffset) {
        return WaitUntil([&] {
            const std::vector<DWORD> vecOffsets = Buffer().LockOffsets();
            return !vecOffsets.empty() && vecOffsets.back() == ulOffset &&
                   Buffer().Calls("Unlock") == static_cast<int>(vecOffsets.size());
        });
    };
    Buffer().SetWriteCursor(1500);  // block 1 entered: block 2 is refilled
    ASSERT_TRUE(fnLockedAt(2048));
    EXPECT_EQ(Buffer().Memory(2048, 1024), vecFull);

    Buffer().SetWriteCursor(2100);  // half a block staged: the rest is silence
    ASSERT_TRUE(fnLockedAt(3072));
    std::vector<uint8_t> vecExpected = vecHalf;
    vecExpected.resize(1024, 0);
    EXPECT_EQ(Buffer().Memory(3072, 1024), vecExpected);

    Buffer().SetWriteCursor(3072);  // nothing staged: a block of silence
    ASSERT_TRUE(fnLockedAt(0));
    EXPECT_EQ(Buffer().Memory(0, 1024), std::vector<uint8_t>(1024, 0));
    EXPECT_EQ(Buffer().LockOffsets().size(), 3u) << "one refill per block change";

    // A buffer that stopped playing is started again.
    Buffer().SetStatus(0);
    ASSERT_TRUE(WaitUntil([&] { return Buffer().Calls("Play") >= 2; }));
    EXPECT_TRUE(Errors().empty());
}

struct ThreadFailure {
    const char* pszName;
    std::function<void(CFakeSoundBuffer&)> fnBreak;
    std::vector<std::string> vecMessages;
};

class DirectSoundThreadFailureTest : public DirectSoundPlayTest,
                                     public ::testing::WithParamInterface<ThreadFailure> {};

TEST_P(DirectSoundThreadFailureTest, EndsTheThreadWithItsMessages)
{
    PlayerPtr poPlayer = NewPlayer();
    ASSERT_EQ(poPlayer->Start(), VOCORA_OK);
    GetParam().fnBreak(Buffer());
    Buffer().SetWriteCursor(1024);
    ASSERT_TRUE(WaitUntil([&] { return Errors().size() >= GetParam().vecMessages.size(); }));
    EXPECT_EQ(Errors(), GetParam().vecMessages);
    // The player stays running without its thread; stopping it still works.
    std::vector<uint8_t> vecBlock(1024);
    EXPECT_EQ(poPlayer->Play(vecBlock.data(), 1024), VOCORA_OK);
    EXPECT_EQ(poPlayer->Stop(), VOCORA_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DirectSoundThreadFailureTest,
    ::testing::Values(
        ThreadFailure{"Lock", [](CFakeSoundBuffer& o) { o.m_hrLock = DSERR_INVALIDPARAM; },
                      {"CDirectSoundPlay::UpdatePlayBuffer Failed, Lock Failed, Error:[0x80070057], "
                       "ErrorMsg:Invalid parameter.",
                       "CDirectSoundPlay::PlayThread UpdatePlayBuffer Failed, Error:[0x20000006]."}},
        ThreadFailure{"LockWithoutRegion", [](CFakeSoundBuffer& o) { o.m_bLockReturnsNull = true; },
                      {"pcBuffer Can't Be NULL.",
                       "CDirectSoundPlay::PlayThread UpdatePlayBuffer Failed, Error:[0x2]."}},
        ThreadFailure{"Unlock", [](CFakeSoundBuffer& o) { o.m_hrUnlock = DSERR_INVALIDCALL; },
                      {"CDirectSoundPlay::UpdatePlayBuffer Failed, Unlock Failed, Error:[0x88780032], "
                       "ErrorMsg:Invalid call for the current state.",
                       "CDirectSoundPlay::PlayThread UpdatePlayBuffer Failed, Error:[0x20000007]."}},
        ThreadFailure{"Position",
                      [](CFakeSoundBuffer& o) { o.m_hrGetCurrentPosition = DSERR_NODRIVER; },
                      {"CDirectSoundPlay::WaitPlayDone Failed, DSound buffer GetCurrentPosition "
                       "failed(retcode:-2005401480, errormsg:No audio device found)",
                       "CDirectSoundPlay::PlayThread WaitPlayDone Failed, Error:[0x2000000b]."}},
        ThreadFailure{"Restart",
                      [](CFakeSoundBuffer& o) {
                          o.m_hrPlay = DSERR_NODRIVER;
                          o.SetStatus(0);
                      },
                      {"CDirectSoundPlay::WaitPlayDone Play Failed, Error:[-2005401480], "
                       "ErrorMsg:No audio device found.",
                       "CDirectSoundPlay::PlayThread WaitPlayDone Failed, Error:[0x20000008]."}},
        ThreadFailure{"LostForGood",
                      [](CFakeSoundBuffer& o) {
                          o.m_bLostForGood = true;
                          o.SetStatus(DSBSTATUS_BUFFERLOST | DSBSTATUS_PLAYING);
                      },
                      {"CDirectSoundPlay::UpdatePlayBuffer Failed, Lock Failed, Error:[0x88780096], "
                       "ErrorMsg:Mixing buffer was lost.",
                       "CDirectSoundPlay::PlayThread UpdatePlayBuffer Failed, Error:[0x20000006]."}}),
    [](const ::testing::TestParamInfo<ThreadFailure>& stInfo) {
        return std::string(stInfo.param.pszName);
    });

void PrintTo(const ThreadFailure& stCase, std::ostream* pOut)
{
    *pOut << stCase.pszName;
}

}  // namespace
