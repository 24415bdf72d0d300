// What a host relies on beyond the fault sweeps: sizes, queues, volumes and
// gains worked out right, the worker threads' corner cases and faults, the
// engine's settings, and the exports' own checks.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <thread>

#include "aec/aceaudiocapture.h"
#include "aec/endpoint_lookup.h"
#include "aec/media_buffer.h"
#include "common/func_macros.h"
#include "directsound/directsoundplay.h"
#include "log/log.h"
#include "world.h"

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD ulReason, LPVOID);

namespace {

using namespace ::testing;  // matchers and actions

constexpr const char* kszDataLenZero = "CDirectSoundPlay::Init Failed, Data len is 0.";

// ---- DirectSound player -----------------------------------------------------

// A player set up before there is a device object names what it lacks; set-up
// reports the device object's own failures and lets go of it at once.
TEST(DirectSoundPlayer, RefusesWhatItLacksAndReportsSetUpFailures)
{
    CWorld oWorld;
    const AudioParam stParam = {8000, 1, 16, 0};
    CDirectSoundPlay oBare;
    uint8_t aucBare[4] = {};
    uint32_t ulBare = 4;
    const uint32_t aulBare[] = {oBare.ReadAudioData(nullptr, &ulBare), oBare.WriteAudioData(nullptr, 4), oBare.Init(&stParam),
                                oBare.ReadAudioData(aucBare, &ulBare), oBare.WriteAudioData(aucBare, 4)};
    EXPECT_THAT(aulBare, Each(VOCORA_ERR_INVALID_ARG));
    EXPECT_THAT(oWorld.TakeErrors(true), ElementsAre("pucPcmData Can't Be NULL.", "pucPcmData Can't Be NULL.", "sm_gpDSound Can't Be NULL.",
                                                     "m_pucPcmReadBuffer Can't Be NULL.", "m_pucPcmDataBuffer Can't Be NULL."));
    for (const auto& [pszSite, ulResult] : {std::pair{"DirectSoundCreate8", VOCORA_PLAY_ERR_CREATE_DEVICE},
                                            std::pair{"SetCooperativeLevel", VOCORA_PLAY_ERR_COOPERATIVE_LEVEL}}) {
        oWorld.oPlatform.FailSite(pszSite);
        EXPECT_EQ(DirectSoundInit(), ulResult) << pszSite;
        EXPECT_EQ(oWorld.oDirectSound.References(), 0) << "let go at once";
    }
}

TEST(DirectSoundPlayer, VolumeMapsToAttenuationAndReadsBack)
{
    CWorld oWorld;
    Vocora_Init();
    VocoraPlayHandle h = nullptr;
    ASSERT_EQ(Vocora_CreatePlayDec(&kstVoice, &h), 0u);
    const std::atomic<LONG>& lAttenuation = oWorld.oDirectSound.oBuffer.lVolume;
    for (const auto& [ulVolume, lExpected] : std::vector<std::pair<uint32_t, LONG>>{
             {0, -10000}, {0xFFFFFFFB, -10000}, {1, -4813}, {64, -1200}, {128, -598}, {254, -3}, {256, 0}, {1000, 0}}) {
        EXPECT_EQ(Vocora_SetPlayVolume(h, ulVolume), 0u);
        EXPECT_EQ(lAttenuation, lExpected) << ulVolume;
    }
    for (int32_t lVolume = 0, lRead = -1; lVolume <= 255; ++lVolume) {
        EXPECT_EQ((Vocora_SetPlayVolume(h, lVolume), Vocora_GetPlayVolume(h, &lRead), lRead), lVolume);
    }
    Vocora_DestoryPlayDec(h);
}

// The block each record works out to, as the buffer DirectSound was asked for,
// and records the platform cannot take, refused before it sees them; without
// DirectSound, capture is not available.
TEST(Devices, RecordsMakeTheirBuffersOrAreRefused)
{
    enum EDevice { kPlay, kCapture, kWaveOut, kEchoCancelling, kCaptureWithoutDirectSound };
    struct Case { EDevice eDevice; AudioParam st; uint32_t ulResult; DWORD ulBufferBytes; const char* pszError; };
    const char* const pszPlayRefused = "CDirectSoundPlay::Init Failed, CreateSoundBuffer Failed, Error:[-2005401500], ErrorMsg:Unsupported audio format.";
    const std::string strCaptureRefused = "CDirectSoundCapture::Init CreateCaptureBuffer Fail, System Error:[0x";
    const std::string strBadFormat = strCaptureRefused + "88780064], ErrorMsg:Unsupported audio format.";
    const std::string strBadParameter = strCaptureRefused + "80070057], ErrorMsg:Invalid parameter.";
    const Case astCases[] = {
        {kPlay, {8000, 1, 16, 0}, 0, 4 * 1024, ""},  {kPlay, {8000, 1, 16, 1}, 0, 4, ""},
        {kPlay, {48000, 2, 16, 0}, 0, 4 * 2048, ""}, {kPlay, {8000, 1, 8, 0}, 0, 4 * 512, ""},
        {kPlay, {8000, 1, 7, 0}, VOCORA_ERR_ZERO_BLOCK, 0, kszDataLenZero},
        {kPlay, {8000, 1, 16, 0x04000000}, 2, 0, "CDirectSoundPlay::Init Failed, Sound buffer size must be between 4 and 268435455"},
        {kPlay, {0xFFFFFFFF, 1, 16, 640}, VOCORA_PLAY_ERR_NO_DEVICE, 0, pszPlayRefused}, {kPlay, {16000, 3, 16, 640}, VOCORA_PLAY_ERR_NO_DEVICE, 0, pszPlayRefused},
        {kPlay, {16000, 1, 12, 640}, VOCORA_PLAY_ERR_NO_DEVICE, 0, pszPlayRefused},
        {kCapture, {8000, 1, 16, 0}, 0, 16 * 1024, ""},   {kCapture, {44100, 2, 16, 0}, 0, 16 * 8192, ""},
        {kCapture, {48000, 2, 16, 0}, 0, 16 * 16384, ""}, {kCapture, {16000, 1, 16, 1001}, 0, 16 * 1001, ""},
        // 23 ms of 46 frames a millisecond: 2048 frames; under a frame a millisecond: one frame.
        {kCapture, {23000, 1, 16, 0}, 0, 16 * 4096, ""}, {kCapture, {999, 1, 16, 0}, 0, 16 * 2, ""},
        {kCapture, {8000, 1, 7, 0}, VOCORA_ERR_ZERO_BLOCK, 0, kszDataLenZero},
        {kCapture, {400000, 1, 16, 0}, VOCORA_CAP_ERR_CREATE_BUFFER, 0, strBadFormat.c_str()}, {kCapture, {1, 1, 16, 0}, VOCORA_CAP_ERR_CREATE_BUFFER, 0, strBadFormat.c_str()},
        {kCapture, {16000, 0x40000000, 16, 0}, VOCORA_CAP_ERR_CREATE_BUFFER, 0, strBadFormat.c_str()},
        {kCapture, {16000, 1, 16, 0x10000000}, VOCORA_CAP_ERR_CREATE_BUFFER, 0, strBadParameter.c_str()},
        {kWaveOut, {16000, 2, 16, 320}, 0, 0, ""},
        {kWaveOut, {16000, 0, 16, 0}, VOCORA_PLAY_ERR_CREATE_DEVICE, 0, "failed to open waveout device"}, {kWaveOut, {400000, 1, 16, 0}, VOCORA_PLAY_ERR_CREATE_DEVICE, 0, "failed to open waveout device"},
        {kWaveOut, {16000, 1, 16, 0x80000001}, VOCORA_ERR_NO_MEMORY, 0, "failed to malloc memory from system"},
        {kCaptureWithoutDirectSound, {16000, 1, 16, 0}, VOCORA_ERR_NOT_AVAILABLE, 0, "DirectSoundCaptureInit Failed, system unspport dsound to play and capture, use other"},
        {kEchoCancelling, {16000, 1, 16, 0}, 0, 0, ""},
        {kEchoCancelling, {300000, 1, 16, 0}, VOCORA_CAP_ERR_CREATE_BUFFER, 0, "CCoreAudioCapture::CreateDec Failed, Error:[0x80040205]."},
    };
    for (const Case& stCase : astCases) {
        CWorld oWorld({stCase.eDevice != kWaveOut && stCase.eDevice != kCaptureWithoutDirectSound, stCase.eDevice == kEchoCancelling});
        Vocora_Init();
        oWorld.TakeErrors();
        void* h = nullptr;
        const bool bCapture = stCase.eDevice != kPlay && stCase.eDevice != kWaveOut;
        const uint32_t ulResult =
            bCapture ? Vocora_CreateCaptureDec(&stCase.st, stCase.eDevice != kEchoCancelling, reinterpret_cast<VocoraCaptureHandle*>(&h))
                     : Vocora_CreatePlayDec(&stCase.st, reinterpret_cast<VocoraPlayHandle*>(&h));
        SCOPED_TRACE(Message() << stCase.eDevice << ": " << stCase.st.ulSampleRate << " " << stCase.st.ulChannels << " " << stCase.st.ulBitsPerSample << " " << stCase.st.ulDataLen);
        EXPECT_EQ(ulResult, stCase.ulResult);
        EXPECT_EQ(stCase.eDevice == kCapture ? oWorld.oCapture.oBuffer.stDesc.dwBufferBytes : oWorld.oDirectSound.oBuffer.stDesc.dwBufferBytes,
                  stCase.ulBufferBytes);
        const std::vector<std::string> vecErrors = oWorld.TakeErrors(true);
        EXPECT_EQ(vecErrors.empty() ? "" : vecErrors[0], stCase.pszError);
        if (h != nullptr) {
            bCapture ? Vocora_DestoryCaptureDec(static_cast<VocoraCaptureHandle>(h)) : Vocora_DestoryPlayDec(static_cast<VocoraPlayHandle>(h));
        }
    }
}

// ---- Worker threads ------------------------------------------------------------

VocoraPlayHandle sm_hReported = nullptr;

// A host that stops and destroys the player from the log callback that reports
// its loss: the play thread would wait for itself, so both must be refused.
void VOCORA_CALL StopOnLoss(void* p, int32_t l, const char* pszFile, uint32_t ul, const char* pszFunction, const char* psz, va_list va)
{
    CLog::Callback(p, l, pszFile, ul, pszFunction, psz, va);
    if (std::strstr(psz, "gone silent") != nullptr) {
        Vocora_PlayStop(sm_hReported);
        Vocora_DestoryPlayDec(sm_hReported);
    }
}

// A fault in the play or capture thread is reported once, with the step that
// met it, and the thread goes on: with the next block, or once the device is
// open again; only a capture without input devices waits for them. A device
// that stops ("stuck") is reported once and opened anew through a device
// object of its own, every buffer of the old one gone first, another
// player's too. The handle is destroyed cleanly.
TEST(Workers, FaultsAreReported)
{
    struct Case { bool bCapture; const char* pszSite; std::vector<Matcher<std::string>> vecErrors; bool bGoesOn; };
    const Case astCases[] = {
        {false, "GetCurrentPosition", {"CDirectSoundPlay::WaitPlayDone Failed, DSound buffer GetCurrentPosition failed(retcode:-2005401480, errormsg:No audio device found)",
                                       "CDirectSoundPlay::PlayThread WaitPlayDone Failed, Error:[0x2000000b]."}, true},
        {false, "Play", {"CDirectSoundPlay::WaitPlayDone Play Failed, Error:[-2005401450], ErrorMsg:Mixing buffer was lost.",
                         "CDirectSoundPlay::PlayThread WaitPlayDone Failed, Error:[0x20000008]."}, true},
        {false, "Lock", {"CDirectSoundPlay::UpdatePlayBuffer Failed, Lock Failed, Error:[0x88780096], ErrorMsg:Mixing buffer was lost.",
                         "CDirectSoundPlay::PlayThread UpdatePlayBuffer Failed, Error:[0x20000006]."}, true},
        {false, "Unlock", {"CDirectSoundPlay::UpdatePlayBuffer Failed, Unlock Failed, Error:[0x88780032], ErrorMsg:Invalid call for the current state.",
                           "CDirectSoundPlay::PlayThread UpdatePlayBuffer Failed, Error:[0x20000007]."}, true},
        {false, "no region", {"pcBuffer Can't Be NULL.", "CDirectSoundPlay::PlayThread UpdatePlayBuffer Failed, Error:[0x2]."}, true},
        {false, "stuck", {"CDirectSoundPlay::PlayThread Failed, the device has gone silent, reopening it.",
                          "Failed, PlayStop from the handle's own thread, Error:[0x2].",
                          "Failed, DestoryDec from the handle's own thread, Error:[0x2]."}, true},
        {true, "waveInGetNumDevs", {"CaptureThread Failed, ulWaveinDevNums not Exist."}, false},
        {true, "Lock", {"CaptureThread Failed, Lock buffer Fail, System Error:[-2005401550], ErrorMsg:Invalid call for the current state."}, true},
        {true, "Unlock", {"CaptureThread Fail, unLock Buffer Fail, System Error:[-2005401550], ErrorMsg:Invalid call for the current state."}, true},
        {true, "WaitForSingleObject", {}, true}, {true, "GetCurrentPosition", {}, true},
        {true, "stuck", {StartsWith("CaptureThread Failed, no capture data for ")}, true},
    };
    for (const Case& stCase : astCases) {
        CWorld oWorld;
        Log_SetLogCallback(&StopOnLoss);
        Vocora_Init();
        void* h = nullptr;
        VocoraPlayHandle hIdle = nullptr;  // a second player, which never starts
        Received stReceived;
        if (stCase.bCapture) {
            ASSERT_EQ(Vocora_CreateCaptureDec(&kstVoice, 1, reinterpret_cast<VocoraCaptureHandle*>(&h)), 0u);
            Vocora_SetCaptureCallBack(static_cast<VocoraCaptureHandle>(h), &Received::Callback, &stReceived);
            WaitUntil([&] { return stReceived.iCalls > 0; });
        } else {
            ASSERT_EQ(Vocora_CreatePlayDec(&kstVoice, &hIdle) + Vocora_CreatePlayDec(&kstVoice, reinterpret_cast<VocoraPlayHandle*>(&h)), 0u);
            sm_hReported = static_cast<VocoraPlayHandle>(h);
            Vocora_PlayStart(sm_hReported);
        }
        oWorld.TakeErrors();
        MockSoundBuffer& oBuffer = oWorld.oDirectSound.oBuffer;
        oBuffer.bPlaying = false;  // the device stopped: the thread starts it again
        oWorld.strWhen = stCase.pszSite;
        DWORD ulFaulted = 0;  // when the fault struck; stays 0 for a device that stops
        if (std::strcmp(stCase.pszSite, "stuck") == 0) {
            std::atomic<int>& iCreated = stCase.bCapture ? oWorld.oCapture.iCreated : oWorld.oDirectSound.iCreated;
            std::atomic<bool>& bStuck = stCase.bCapture ? oWorld.oCapture.oBuffer.bStuck : oBuffer.bStuck;
            bStuck = true;
            EXPECT_TRUE(WaitUntil([&] { return iCreated > 1; }, 5000)) << "opened anew";
            bStuck = false;
            EXPECT_EQ(stCase.bCapture ? oWorld.oCapture.lBuffersAtCreate : oWorld.oDirectSound.lBuffersAtCreate, 0) << "every buffer of the old object went first";
        } else {
            oWorld.oPlatform.FailSite(stCase.pszSite);
            EXPECT_TRUE(WaitUntil([&] { return oWorld.oPlatform.Injected() != ""; })) << stCase.pszSite;
            ulFaulted = GetTickCount();
        }
        const auto fnProgress = [&] {
            std::lock_guard<std::mutex> oLock(oBuffer.mtxPlayed);
            return stCase.bCapture ? static_cast<size_t>(stReceived.iCalls) : oBuffer.vecPlayed.size();
        };
        const size_t ulAtFault = fnProgress();
        EXPECT_EQ(WaitUntil([&] { return fnProgress() > ulAtFault + 2; }, stCase.bGoesOn ? 3000 : 300), stCase.bGoesOn)
            << stCase.pszSite;
        EXPECT_TRUE(stCase.bCapture || GetTickCount() - ulFaulted >= 400) << "half a second before the player tries again";
        EXPECT_THAT(oWorld.TakeErrors(true), ElementsAreArray(stCase.vecErrors)) << "once each";
        stCase.bCapture ? Vocora_DestoryCaptureDec(static_cast<VocoraCaptureHandle>(h))
                        : Vocora_DestoryPlayDec(static_cast<VocoraPlayHandle>(h)) + Vocora_DestoryPlayDec(hIdle);
        EXPECT_TRUE(!stCase.bCapture || ulFaulted != 0 || IsCounter(stReceived.vecBytes)) << "nothing lost or repeated across the reopen";
    }
}

// ---- waveOut player ---------------------------------------------------------------

// A device that stops handing entries back is reported once and replaced by a
// new one, tried at most every half second; the old entries stay with the old
// device until it lets go of them. So do the entries of a device that cannot
// be reset, behind a destroy that returns in about two seconds all the same,
// until the clean-up resets that device again.
TEST(LostDevice, WaveOutOpensANewDeviceAndLeavesTheOldOneItsEntries)
{
    CWorld oWorld({false});
    const AudioParam stParam = {8000, 1, 16, 16};
    VocoraPlayHandle h = nullptr;
    ASSERT_EQ(Vocora_CreatePlayDec(&stParam, &h), 0u);
    Vocora_SetPlayVolume(h, 128);
    std::vector<uint8_t> vecBlock(32, 1);
    EXPECT_EQ(Vocora_Play(h, vecBlock.data(), 0), VOCORA_ERR_INVALID_ARG);
    // A one-byte block is taken; the entry it met a fault in is free again at once, not overdue.
    oWorld.oPlatform.FailSite("waveOutPrepareHeader");
    EXPECT_EQ(Vocora_Play(h, vecBlock.data(), 1), VOCORA_PLAY_ERR_WRITE);
    ASSERT_EQ(Vocora_Play(h, vecBlock.data(), 32), 0u);
    oWorld.oPlatform.FailSite("waveOutOpen");
    // Polled, not slept: under load the tick count can lag behind the time slept.
    const auto fnPlaysAs = [&](uint32_t ulResult) {
        return WaitUntil([&] { return Vocora_Play(h, vecBlock.data(), 32) == ulResult; }, 5000);
    };
    EXPECT_TRUE(fnPlaysAs(VOCORA_PLAY_ERR_NOT_STARTED)) << "the entry overdue, the device is opened anew, and fails";
    EXPECT_EQ(Vocora_Play(h, vecBlock.data(), 32), VOCORA_PLAY_ERR_NOT_STARTED) << "too soon to try again";
    EXPECT_TRUE(fnPlaysAs(0u));
    EXPECT_EQ(oWorld.oPlatform.ulWaveOutOpened, 2u);
    EXPECT_THAT(oWorld.TakeErrors(),
                ElementsAre("Invalid parameter to function!",
                            "failed to waveOutPrepareHeader memory controller entry [%u] to waveout device.",
                            "the waveout device has stopped handing back memory controller entries, reopening it."));
    EXPECT_TRUE(oWorld.Logged("the waveout device is open again."));
    oWorld.oPlatform.FailSite("waveOutReset", 2);
    const DWORD ulStart = GetTickCount();
    EXPECT_EQ(Vocora_DestoryPlayDec(h), VOCORA_ERR_RESOURCE);
    EXPECT_LT(GetTickCount() - ulStart, 10000u) << "bounded";
    EXPECT_NE(oWorld.Unreleased(), "") << "the entries stay with their device";
    Vocora_Cleanup();  // resets that device again, and it lets go of them
    EXPECT_EQ(oWorld.Unreleased(), "");
}

// ---- DirectSound capture loop ------------------------------------------------------

// Scripted read positions for a capture of blocks of 640 bytes: nothing when
// the position has not moved, a self-signal only for more than one byte past
// a whole block, a block locked in two parts delivered in two and the next
// read past both.
TEST(DirectSoundCapture, LoopTakesWholeBlocksAndSignalsItselfForMore)
{
    CWorld oWorld;
    oWorld.oPlatform.FailSite("DirectSoundCaptureCreate8");  // the capture object is made with the first capture
    Vocora_Init();
    MockCaptureBuffer& oBuffer = oWorld.oCapture.oBuffer;
    uint8_t aucSplit[640] = {};
    std::atomic<bool> bListening{false};  // the thread starts before the callback is set
    const auto fnAt = [&](DWORD ulRead) {
        return DoAll(SetArgPointee<1>(ulRead), [&](LPDWORD, LPDWORD) {
            WaitUntil([&] { return bListening.load(); });
            ::SetEvent(oBuffer.vecNotify[0].hEventNotify);
        }, Return(S_OK));
    };
    {
        InSequence oOrder;
        EXPECT_CALL(oBuffer, GetCurrentPosition).WillOnce(fnAt(0)).WillOnce(fnAt(641));
        EXPECT_CALL(oBuffer, Lock(0, 640, _, _, _, _, 0))
            .WillOnce(DoAll(SetArgPointee<2>(aucSplit), SetArgPointee<3>(300), SetArgPointee<4>(aucSplit + 300),
                            SetArgPointee<5>(340), Return(S_OK)));
        EXPECT_CALL(oBuffer, GetCurrentPosition).WillOnce(fnAt(1280));  // read on from past both parts
        EXPECT_CALL(oBuffer, Lock(640, 640, _, _, _, _, 0));
        EXPECT_CALL(oBuffer, GetCurrentPosition).WillOnce(fnAt(1280 + 640 + 2));
    }
    oWorld.oPlatform.FailSite("SetEvent");
    Received stReceived;
    VocoraCaptureHandle h = nullptr;
    ASSERT_EQ(Vocora_CreateCaptureDec(&kstVoice, 1, &h), 0u);
    Vocora_SetCaptureCallBack(h, &Received::Callback, &stReceived);
    bListening = true;
    EXPECT_TRUE(WaitUntil([&] { return oWorld.Logged("CaptureThread: SetEvent Failed, System Error:[%d]."); }));
    Vocora_DestoryCaptureDec(h);
    EXPECT_THAT(stReceived.vecLengths, ElementsAre(300u, 340u, 640u));
}

// ---- Echo cancellation -------------------------------------------------------------

struct CountingSink : IAecCaptureEvent {
    uint32_t OnCaptureData(const uint8_t*, uint32_t ul, uint32_t ulAtRate, uint32_t) override { return vecBlocks.push_back(ul), ulRate = ulAtRate, 0; }
    uint32_t OnMicDisConnect() override { return ++iLost, 0; }
    std::vector<uint32_t> vecBlocks;
    uint32_t ulRate = 0;
    int iLost = 0;
};

TEST(EchoCancellingEngine, SelectsConfiguresAndCollects)
{
    CWorld oWorld({true, true});
    NiceMock<MockEndpoint> oMic2(L"Microphone", L"{2}");
    NiceMock<MockEndpoint> oMic3(L"microphone", L"{3}");
    oWorld.oEnumerator.avecEndpoints[eCapture] = {&oWorld.oMicrophone, &oMic2, &oMic3};
    const std::string strLongest(kulEndpointTextUnits - 1, 'S');  // as long as a name may be
    oWorld.oSpeaker.wstrName.assign(strLongest.begin(), strLongest.end());
    {
        CAecMicArrayCapture oEngine;
        oEngine.EnumDevices();
        EXPECT_EQ(oEngine.SetCaptureDeviceIndex(3) + oEngine.SetRenderDeviceIndex(-1), 4u) << "out of range";
        EXPECT_EQ(oEngine.SetCaptureDeviceIndex(2), 0u);
        EXPECT_EQ(oEngine.Init(1, 16000, 16, 0), 0u);
        EXPECT_EQ(static_cast<uint32_t>(oWorld.oDsp.mapProperties.at(4).lVal), 0xFFFF0002u);
        EXPECT_EQ(oEngine.SelectCaptureDeviceByName("Microphone"), 0u) << "the first of two, case and all";
        oEngine.SetAecMode(3, 48000);
        EXPECT_EQ((oEngine.Start(), oEngine.Init(1, 16000, 16, 0)), 0u);  // running as Init comes
        EXPECT_FALSE(oWorld.oPlatform.fnTimer) << "the ticks stopped before the DSP is set up anew";
        EXPECT_EQ(static_cast<uint32_t>(oWorld.oDsp.mapProperties.at(4).lVal), 0xFFFF0000u) << "capture 0, render none";
        EXPECT_EQ(oWorld.oDsp.mapProperties.at(2).lVal, 3);
        EXPECT_EQ(oEngine.SelectRenderDeviceByName(strLongest.c_str()), 0u);
        EXPECT_EQ(oEngine.SetRenderDeviceIndex(0), 0u);
        EXPECT_EQ(oEngine.Init(1, 16000, 16, 0), 0u);
        EXPECT_EQ(oWorld.oDsp.mapProperties.at(4).lVal, 0) << "capture 0, render 0";
        char szName[1024] = "";
        EXPECT_EQ((oEngine.GetRenderDeviceName(0, szName), szName), strLongest);

        CountingSink aoSinks[2];
        CountingSink &oA = aoSinks[0], &oB = aoSinks[1];
        EXPECT_EQ(oEngine.AddEventSink(&oB) + oEngine.AddEventSink(&oA), 0u) << "the second in front of the first";
        oWorld.oDsp.vecReady = {20000, 20000};  // more ready than one tick holds
        EXPECT_EQ(oEngine.ProcessCapture(), 0u);
        oEngine.RemoveEventSink(&oB);
        std::vector<uint32_t> vecRates;
        for (uint32_t ulRate : {8000u, 11025u, 22050u, 16000u, 48000u}) {
            oEngine.SetAecMode(1, ulRate);
            EXPECT_EQ(oEngine.ProcessCapture(), 0u);
            vecRates.push_back(oA.ulRate);
        }
        oWorld.oDsp.vecReady = {0};
        EXPECT_EQ(oEngine.ProcessCapture(), 1u) << "nothing ready";
        oWorld.oEnumerator.avecEndpoints[eCapture].clear();
        oEngine.ProcessCapture();
        oWorld.oEnumerator.avecEndpoints[eCapture] = {&oWorld.oMicrophone};
        oWorld.oPlatform.FailSite("AllocateStreamingResources");
        oWorld.oDsp.vecReady = {60};
        EXPECT_EQ(oEngine.ProcessCapture() + oEngine.ProcessCapture(), 2u) << "one failed try in half a second";
        oWorld.oEnumerator.avecEndpoints[eCapture].clear();
        oEngine.RemoveEventSink(nullptr);
        oEngine.ProcessCapture();
        EXPECT_THAT(oA.vecBlocks, ElementsAreArray(std::vector<uint32_t>(5, 32000u))) << "only while it is the one sink";
        EXPECT_THAT(vecRates, ElementsAre(8000u, 11025u, 22050u, 16000u, 16000u)) << "the mode's rates; 48000 is not one";
        EXPECT_EQ(oA.iLost, 1);
        uint8_t aucData[100];
        uint32_t ulSize = sizeof aucData;
        oWorld.oDsp.vecReady = {60, 60};
        oWorld.oDsp.ulPass = 0;
        EXPECT_EQ((oEngine.ReadCaptureData(aucData, &ulSize), ulSize), 100u);
        EXPECT_EQ(oEngine.Start() + oEngine.Start() + oEngine.Stop() + oEngine.Stop() + oEngine.Start(), 0u) << "twice changes nothing";  // running as Uninit comes
        oEngine.Uninit();
        EXPECT_EQ(oWorld.oDsp.References(), 0) << "the DSP let go";
        oEngine.Start();  // left running: the destructor stops the timer
    }
    AecEndpointInfo astRecords[2];
    EXPECT_EQ(ListEndpoints(eRender, 1, astRecords), S_OK);
    oWorld.oPlatform.FailSite("malloc");
    CAecMicArrayCapture oWithoutBuffer;
    EXPECT_EQ(oWithoutBuffer.ProcessCapture(), 1u);
    // What the DSP may ask of a buffer it writes into; one on the heap is counted from 0.
    auto* poOutput = new (std::nothrow) CBaseMediaBuffer();
    void* apv[2] = {};
    EXPECT_EQ(poOutput->QueryInterface(IID_IUnknown, &apv[0]), S_OK);
    EXPECT_EQ(poOutput->QueryInterface(IID_IDispatch, &apv[1]), E_NOINTERFACE);
    EXPECT_THAT(apv, ElementsAre(static_cast<IMediaBuffer*>(poOutput), nullptr));
    EXPECT_EQ(poOutput->Release(), 0u) << "the answer's reference was the only one, and it goes";
}

// The front gates delivery on its volume, reports a lost microphone once and
// refuses stereo, for which DirectSound capture stands in.
TEST(EchoCancellingCapture, GatesOnVolumeAndFallsBackForStereo)
{
    NiceMock<MockEndpoint> oHeadset(L"Headset", L"{headset}");
    CWorld oWorld({true, true});
    Vocora_Init();
    const AudioParam stStereo = {16000, 2, 16, 0};
    VocoraCaptureHandle hStereo = nullptr;
    EXPECT_EQ(CAecAudioCapture().Init(&stStereo), VOCORA_ERR_INVALID_ARG);
    oWorld.oPlatform.FailSite("malloc");
    EXPECT_EQ(AecAudioCaptureProbe(), VOCORA_ERR_RESOURCE) << "not offered when the probe cannot run";
    oWorld.oPlatform.FailHostCall(oWorld.oPlatform.HostCalls() + 2);  // the stand-in's memory
    EXPECT_EQ(Vocora_CreateCaptureDec(&stStereo, 0, &hStereo), VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(hStereo, nullptr);
    ASSERT_EQ(Vocora_CreateCaptureDec(&stStereo, 0, &hStereo), 0u);
    EXPECT_EQ(oWorld.oCapture.oBuffer.stFormat.nChannels, 2);
    Vocora_DestoryCaptureDec(hStereo);
    const AudioParam stMono = {16000, 1, 16, 0};
    oWorld.oEnumerator.avecEndpoints[eRender].clear();
    EXPECT_EQ(CAecAudioCapture().Init(&stMono), VOCORA_CAP_ERR_NO_OUTPUT_DEVICE);
    oWorld.oEnumerator.avecEndpoints[eRender] = {&oWorld.oSpeaker};
    oWorld.oPlatform.FailSite("AllocateStreamingResources");
    EXPECT_EQ(CAecAudioCapture().Init(&stMono), VOCORA_CAP_ERR_MIXER_OPEN) << "the DSP not set up";
    VocoraCaptureHandle h = nullptr;
    ASSERT_EQ(Vocora_CreateCaptureDec(&stMono, 0, &h), 0u);
    Received stReceived;
    Vocora_SetCaptureCallBack(h, &Received::Callback, &stReceived);
    for (uint32_t ulVolume : {0u, 0x80000000u, 1u, 0x7FFFFFFFu}) {
        Vocora_SetMicVolume(h, ulVolume);
        oWorld.oPlatform.FireTimer();
    }
    EXPECT_EQ(stReceived.iCalls, 2);
    oWorld.oEnumerator.avecEndpoints[eCapture].clear();
    oWorld.oPlatform.FireTimer();
    oWorld.oPlatform.FireTimer();
    EXPECT_EQ(oWorld.Logged("CaptureThread Fail, ulWaveinDevNums not Exist."), 1);
    oWorld.oEnumerator.avecEndpoints[eCapture] = {&oHeadset, &oWorld.oMicrophone};
    const long lReferences = oWorld.oDsp.References();
    oWorld.oPlatform.FireTimer();
    EXPECT_EQ(stReceived.iCalls, 3) << "the DSP set up anew for the microphone back";
    EXPECT_EQ(oWorld.oDsp.mapProperties.at(4).lVal, 1) << "the default microphone, second in the new list";
    EXPECT_EQ(oWorld.oDsp.References(), lReferences) << "the old DSP let go";
    EXPECT_TRUE(oWorld.Logged("CaptureThread the device captures again."));
    EXPECT_EQ(Vocora_DestoryCaptureDec(h), 0u);
}

// ---- Microphone level, gain, log, exports ---------------------------------------

TEST(MicrophoneLevel, FirstMicrophoneOrLineInAndTheScale)
{
    CWorld oWorld;
    int32_t lVolume = -1;
    oWorld.oPlatform.ulInputDevices = 2;
    oWorld.oPlatform.vecMixerSources = {MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, 0u, MIXERLINE_COMPONENTTYPE_SRC_LINE,
                                        MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE};
    oWorld.oPlatform.ulMixerValue = 65535;
    EXPECT_EQ(Vocora_GetMicVolume(reinterpret_cast<VocoraCaptureHandle>(&lVolume), &lVolume), 0u);
    EXPECT_EQ(lVolume, 255);
    EXPECT_EQ(oWorld.oPlatform.ulMixerLine, 0x102u) << "the line-in source before the microphone";
    EXPECT_TRUE(oWorld.Logged("the number of waveform-audio input devices present in the system is greater than 1."));
    oWorld.oPlatform.ulMixerValue = 256;
    Vocora_GetMicVolume(reinterpret_cast<VocoraCaptureHandle>(&lVolume), &lVolume);
    EXPECT_EQ(lVolume, 0);
    EXPECT_EQ(SetMicVolume(255), 0u);
    EXPECT_EQ(oWorld.oPlatform.ulMixerValue, 65535u);
    CloseMixer();  // the lines are looked up anew at the next open
    oWorld.oPlatform.vecMixerSources = {MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC};
    oWorld.TakeErrors();
    oWorld.oPlatform.FailSite("mixerClose");  // reported, and the next call opens anew
    EXPECT_EQ(SetMicVolume(0), VOCORA_CAP_ERR_NO_INPUT_DEVICE);
    EXPECT_EQ(GetMicVolume(reinterpret_cast<uint32_t*>(&lVolume)), VOCORA_CAP_ERR_NO_INPUT_DEVICE);
    EXPECT_THAT(oWorld.TakeErrors(), ElementsAre("mic volume component is not exist.", "close waveform-audio input device handle by Windows API failed.",
                                                 "Failed, get mic volume line information Failed", "mic volume component is not exist.",
                                                 "Failed, get mic volume line information failed"));
    EXPECT_EQ(oWorld.Unreleased(), "") << "the mixer closed again";
}

TEST(Gain, PowerOfTwoBandsSaturate)
{
    const std::pair<uint32_t, std::vector<int16_t>> astBands[] = {
        {0, {0, 0, 0, 0}},         {10, {0, -1, 0, 1}},       {36, {0, -1, 0, 1}},       {37, {-1, -2, 1, 2}},
        {72, {-1, -2, 1, 2}},      {73, {-3, -4, 3, 4}},      {108, {-3, -4, 3, 4}},     {109, {-7, -9, 7, 9}},
        {144, {-7, -9, 7, 9}},     {145, {-14, -18, 14, 18}}, {180, {-14, -18, 14, 18}}, {181, {-28, -36, 28, 36}},
        {216, {-28, -36, 28, 36}}, {217, {-56, -72, 56, 72}}, {1000, {-56, -72, 56, 72}}};
    for (const auto& [ulVolume, vecExpected] : astBands) {
        std::vector<int16_t> vecSamples = {-7, -9, 7, 9};
        EXPECT_EQ((adjustPcmWave(reinterpret_cast<uint8_t*>(vecSamples.data()), 8, ulVolume), vecSamples), vecExpected) << ulVolume;
    }
    std::vector<int16_t> vecLoud = {10000, -10000, 5, 5};
    adjustPcmWave(reinterpret_cast<uint8_t*>(vecLoud.data()), 5, 200);
    EXPECT_EQ(vecLoud, (std::vector<int16_t>{32767, -32768, 5, 5})) << "the odd byte and beyond stay";
    CWorld oWorld;
    EXPECT_EQ(adjustPcmWave(nullptr, 4, 128), VOCORA_ERR_INVALID_ARG);
    EXPECT_THAT(oWorld.TakeErrors(), ElementsAre("%s Can't Be NULL."));
}

// Only levels 1 to the level set reach the host; a level out of range is
// refused and changes nothing. Every export names the first null argument
// it meets.
TEST(Exports, LogLevelsAndTheFirstNullArgumentIsNamed)
{
    CWorld oWorld;
    std::string strResults;
    for (const auto& [lSet, lLevel] : std::vector<std::pair<int32_t, int32_t>>{{0, 1}, {3, 3}, {3, 4}, {6, 3}, {-1, 4}, {1, 1}, {5, 5}, {5, 0}}) {
        strResults += std::to_string(Vocora_SetLogLevel(lSet));
        VOCORA_LOG(lLevel, "test", "%d:%d", lSet, lLevel);
    }
    EXPECT_EQ(Log_SetLogCallback(nullptr), VOCORA_ERR_INVALID_ARG);
    for (const LogRecord& st : CLog::Records()) {
        strResults += " " + st.strText;
    }
    EXPECT_EQ(strResults, "00022000 3:3 6:3 1:1 5:5 pfLogCB Can't Be NULL.") << "through the callback in place";
    Vocora_SetLogLevel(VOCORA_LOG_INFO);
    const auto hPlay = reinterpret_cast<VocoraPlayHandle>(&oWorld);
    const auto hCapture = reinterpret_cast<VocoraCaptureHandle>(&oWorld);
    int32_t lVolume = 0;
    CLog::Clear();
    const uint32_t aulResults[] = {
        Vocora_SetLogCB(nullptr), Vocora_DeviceDetect(0, nullptr), Vocora_CreatePlayDec(nullptr, nullptr),
        Vocora_CreatePlayDec(&kstVoice, nullptr), Vocora_DestoryPlayDec(nullptr), Vocora_PlayStart(nullptr),
        Vocora_PlayStop(nullptr), Vocora_Play(nullptr, nullptr, 4), Vocora_Play(hPlay, nullptr, 0),
        Vocora_SetPlayVolume(nullptr, 1), Vocora_GetPlayVolume(nullptr, nullptr), Vocora_GetPlayVolume(hPlay, nullptr),
        Vocora_CreateCaptureDec(nullptr, 0, nullptr), Vocora_CreateCaptureDec(&kstVoice, 1, nullptr),
        Vocora_SetMicVolume(nullptr, 1), Vocora_GetMicVolume(nullptr, nullptr), Vocora_GetMicVolume(hCapture, nullptr),
        Vocora_SetCaptureCallBack(nullptr, nullptr, nullptr), Vocora_SetCaptureCallBack(hCapture, nullptr, &lVolume),
        Vocora_DestoryCaptureDec(nullptr)};
    EXPECT_THAT(aulResults, Each(VOCORA_ERR_INVALID_ARG));
    std::vector<std::string> vecNamed;
    for (const LogRecord& st : CLog::Records()) {
        vecNamed.push_back(std::to_string(st.lLevel) + " " + st.strFile + " " + st.strFunction + ": " + st.strText);
    }
    const char* const apszNamed[] = {
        "SetLogCB: pfCB", "DeviceDetect: pstAudioParam", "CreatePlayDec: pstAudioParam", "CreatePlayDec: phAudioPlayDec",
        "DestoryPlayDec: phAudioPlayDec", "PlayStart: phAudioPlayDec", "PlayStop: phAudioPlayDec", "Play: phAudioPlayDec",
        "Play: pucData", "SetPlayVolume: phAudioPlayDec", "GetPlayVolume: phAudioPlayDec", "GetPlayVolume: plVolume",
        "CreateCaptureDec: pstAudioParam", "CreateCaptureDec: hAudioCaptureDec", "SetMicVolume: hAudioCaptureDec",
        "GetMicVolume: hAudioCaptureDec", "GetMicVolume: plVolume", "SetCaptureCallBack: hAudioCaptureDec",
        "SetCaptureCallBack: pfnAudioCaptureCallBack", "DestoryCaptureDec: hAudioCaptureDec"};
    std::vector<std::string> vecExpected;
    for (const char* psz : apszNamed) {
        vecExpected.push_back(std::string("2 src/vocora_sdk_func.cpp Vocora_") + psz + " Can't Be NULL.");
    }
    EXPECT_EQ(vecNamed, vecExpected) << "one record each";
    CLog::Clear();
    EXPECT_EQ(Vocora_DeviceDetect(0, &kstVoice), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(Vocora_Cleanup(), 0u) << "without initialisation";
    EXPECT_EQ(Vocora_GlobalInit() + Vocora_GlobalInit(), 0u);
    const std::vector<LogRecord> vec = CLog::Records();
    ASSERT_EQ(vec.size(), 2u);
    EXPECT_EQ(std::to_string(vec[0].lLevel) + vec[0].strFormat, "4Vocora Build Date: %s %s, Version: %d.%d.%d.");
    EXPECT_EQ(std::to_string(vec[1].lLevel) + vec[1].strText, "3Vocora Is Inited .");
}

// Loading only turns off thread notifications; the first handle keeps the
// library loaded for good, or says that it cannot. A handle of the other
// kind, or one already destroyed, is refused before it is used; a destroy
// waits for a call on another thread to end.
TEST(Exports, OnlyLiveHandlesOfTheirKindAreUsed)
{
    CWorld oWorld;
    const auto hModule = reinterpret_cast<HINSTANCE>(&oWorld);
    for (DWORD ulReason : {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_TRUE(DllMain(hModule, ulReason, nullptr));
    }
    EXPECT_THAT(oWorld.oPlatform.vecQuietModules, ElementsAre(hModule));
    EXPECT_EQ(Vocora_Init() + Vocora_Init(), 0u) << "twice";
    VocoraPlayHandle hPlay = nullptr;
    VocoraCaptureHandle hCapture = nullptr;
    oWorld.oPlatform.FailSite("GetModuleHandleExW");
    ASSERT_EQ(Vocora_CreatePlayDec(&kstVoice, &hPlay) + Vocora_CreateCaptureDec(&kstVoice, 1, &hCapture), 0u);
    EXPECT_THAT(oWorld.oPlatform.vecPins, ElementsAre(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN));
    EXPECT_TRUE(oWorld.Logged("the library could not be kept loaded, Error:[%lu].")) << "a refused pin is reported";
    const auto hNotPlay = reinterpret_cast<VocoraPlayHandle>(hCapture);
    const auto hNotCapture = reinterpret_cast<VocoraCaptureHandle>(hPlay);
    int32_t lVolume = -1;
    uint8_t aucBlock[4] = {};
    oWorld.TakeErrors();
    const uint32_t aulResults[] = {
        Vocora_PlayStart(hNotPlay), Vocora_PlayStop(hNotPlay), Vocora_Play(hNotPlay, aucBlock, 4),
        Vocora_SetPlayVolume(hNotPlay, 9), Vocora_GetPlayVolume(hNotPlay, &lVolume), Vocora_DestoryPlayDec(hNotPlay),
        Vocora_SetMicVolume(hNotCapture, 9), Vocora_SetCaptureCallBack(hNotCapture, &Received::Callback, nullptr),
        Vocora_DestoryCaptureDec(hNotCapture)};
    EXPECT_THAT(aulResults, Each(VOCORA_ERR_INVALID_ARG));
    EXPECT_EQ(lVolume, 0);
    EXPECT_EQ(oWorld.TakeErrors(), std::vector<std::string>(9, "Failed, %s on %p, which is not a live %s handle, Error:[0x%x]."));
    std::atomic<bool> bCalling{false}, bReturn{false};
    EXPECT_CALL(oWorld.oDirectSound.oBuffer, SetVolume).WillOnce([&](LONG) { return bCalling = true, WaitUntil([&] { return bReturn.load(); }), S_OK; });
    std::thread oCaller([&] { Vocora_SetPlayVolume(hPlay, 9); });
    ASSERT_TRUE(WaitUntil([&] { return bCalling.load(); }));
    auto oDestroyed = std::async(std::launch::async, [&] { return Vocora_DestoryPlayDec(hPlay); });
    EXPECT_EQ(oDestroyed.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout) << "not while a call is in flight";
    bReturn = true;
    oCaller.join();
    EXPECT_EQ(oDestroyed.get(), 0u);
    EXPECT_EQ(Vocora_DestoryCaptureDec(hCapture), 0u);
    EXPECT_EQ(Vocora_DestoryPlayDec(hPlay) + Vocora_DestoryCaptureDec(hCapture), 2 * VOCORA_ERR_INVALID_ARG) << "twice";
}

}  // namespace
