// One fault sweep per device: a host's whole session through the exports,
// with every platform call on the host's side failing in turn. Each list
// below is what a host meets: where the fault struck, the export that
// reported it, its result and its first error. The clean run at the end of
// each sweep checks what the device did with the host's audio.
#include <gtest/gtest.h>

#include <algorithm>

#include "aec/aec_ids.h"
#include "common/func_macros.h"
#include "world.h"

namespace {

using ::testing::ElementsAreArray;

const char* const kszNoMicrophone = "AecAudio: The Number of Waveform-audio Input Devices Present in The System is Zero.";

#define EXPECT_OUTCOMES(vecActual, ...) EXPECT_THAT(vecActual, ElementsAreArray(std::vector<std::string>{__VA_ARGS__}))

bool Clean(CWorld& oWorld) { return oWorld.oPlatform.Injected().empty(); }

// Blocks of ulBytes bytes, the first all 0x40, the next 0x41, ...
std::vector<uint8_t> Blocks(size_t ulBlocks, size_t ulBytes, uint8_t ucFirst = 0x40)
{
    std::vector<uint8_t> vec(ulBlocks * ulBytes);
    for (size_t i = 0; i < vec.size(); ++i) {
        vec[i] = static_cast<uint8_t>(ucFirst + i / ulBytes);
    }
    return vec;
}

// ---- DirectSound playback ---------------------------------------------------

void PlayThroughDirectSound(CWorld& oWorld, CRun& oRun)
{
    oRun.Call("Vocora_Init", &Vocora_Init);
    VocoraPlayHandle h = nullptr;
    if (!oRun.Made("Vocora_CreatePlayDec", [&] { return Vocora_CreatePlayDec(&kstVoice, &h); })) {
        return;
    }
    std::vector<uint8_t> vecPcm = Blocks(3, 640);
    int32_t lVolume = -1;
    MockSoundBuffer& oBuffer = oWorld.oDirectSound.oBuffer;
    oRun.Call("Vocora_SetPlayVolume", [&] { return Vocora_SetPlayVolume(h, 200); });
    oBuffer.iLostLooks = 1;
    const uint32_t ulStarted = oRun.Call("Vocora_PlayStart", [&] { return Vocora_PlayStart(h); });
    EXPECT_TRUE(ulStarted == 0 || !oBuffer.bPlaying) << "a start that failed leaves the buffer stopped";
    uint32_t ulPlayed = 0;
    for (size_t i = 0; i < 3; ++i) {
        ulPlayed |= oRun.Call("Vocora_Play", [&] { return Vocora_Play(h, &vecPcm[640 * i], 640); });
    }
    std::vector<uint8_t> vecTooMuch(26000, 0x7F);  // more than the queue's 40 blocks: refused whole
    const uint32_t ulRefused = oRun.Call("Vocora_Play", [&] { return Vocora_Play(h, vecTooMuch.data(), static_cast<uint32_t>(vecTooMuch.size())); });
    const auto fnPlayed = [&] {
        std::lock_guard<std::mutex> oLock(oBuffer.mtxPlayed);
        std::vector<uint8_t> vec(oBuffer.vecPlayed);
        return vec.erase(std::remove(vec.begin(), vec.end(), 0), vec.end()), vec;
    };
    const bool bHeard = ulStarted == 0 && !oBuffer.vecMemory.empty() && WaitUntil([&] { return fnPlayed().size() >= vecPcm.size(); });
    oRun.Call("Vocora_GetPlayVolume", [&] { return Vocora_GetPlayVolume(h, &lVolume); });
    oRun.Call("Vocora_PlayStop", [&] { return Vocora_PlayStop(h); });
    // The handle outlives the clean-up: the module stays until it goes.
    oRun.Call("Vocora_Cleanup", &Vocora_Cleanup);
    oRun.Call("Vocora_DestoryPlayDec", [&] { return Vocora_DestoryPlayDec(h); });
    if (Clean(oWorld)) {
        EXPECT_TRUE(bHeard);
        EXPECT_EQ(ulPlayed, 0u) << "staged, whatever the fill";
        EXPECT_EQ(ulRefused, VOCORA_ERR_NO_MEMORY);
        EXPECT_EQ(oRun.Seen(), (std::set<std::string>{kszNoMicrophone, "CDirectSoundPlay::Play Failed, WriteAudioData Failed, Error:[0x%x]."}))
            << "the echo-cancelling probe's, and the refused block's; none from the play thread";
        EXPECT_EQ(fnPlayed(), vecPcm) << "every block whole and in order, padded with silence";
        EXPECT_EQ(lVolume, 200);
        EXPECT_EQ(oBuffer.iRestored, 1) << "the lost buffer, and only that";
        EXPECT_EQ(oBuffer.iBehindCursor, 0) << "every block written ahead of the device";
        EXPECT_EQ(oBuffer.stDesc.dwFlags, 0x18080u);
        EXPECT_EQ(oBuffer.stFormat.nAvgBytesPerSec, 32000u);
        EXPECT_GT(oWorld.oPlatform.aiSleeps[1], 0) << "the play thread waits a millisecond between looks";
        EXPECT_GT(oWorld.oPlatform.aiSleeps[10], 0) << "and ten when nothing is staged";
    }
}

TEST(FaultSweep, DirectSoundPlayback)
{
    const auto vecOutcomes = Sweep({}, &PlayThroughDirectSound);
    EXPECT_OUTCOMES(vecOutcomes,
        "LoadLibraryA#1..GetProcAddress#1 (2) Vocora_Init 0x4 DirectSoundInit Failed, system unspport  dsound  / DirectSoundCaptureInit Failed, system unspport d",
        "DirectSoundCreate8#1 Vocora_Init 0x0 DirectSoundInit Failed, DirectSoundCreate8 faile",
        "SetCooperativeLevel#1 Vocora_Init 0x0 DirectSoundInit Failed, SetCooperativeLevel fail",
        "malloc#1 Vocora_Init 0x0 -",
        "malloc#2 Vocora_Init 0x0 %s Can't Be NULL.",
        "malloc#3..CoCreateInstance#2 (3) Vocora_Init 0x0 -",
        "GetProcAddress#2 Vocora_Init 0x4 DirectSoundCaptureInit Failed, system unspport d",
        "DirectSoundCaptureCreate8#1 Vocora_Init 0x10000007 DirectSoundCaptureInit Failed, DirectSoundCaptur",
        "malloc#4 Vocora_CreatePlayDec 0x2 %s Can't Be NULL.",
        "malloc#5 Vocora_CreatePlayDec 0x3 CDirectSoundPlay::Init Failed, malloc pcm data b",
        "malloc#6 Vocora_CreatePlayDec 0x3 CDirectSoundPlay::Init Failed, malloc pcm read b",
        "CreateSoundBuffer#1 Vocora_CreatePlayDec 0x20000000 CDirectSoundPlay::Init Failed, CreateSoundBuffer",
        "QueryInterface#1 Vocora_CreatePlayDec 0x20000000 CDirectSoundPlay::Init Failed, QueryInterface Fa",
        "SetVolume#1 Vocora_SetPlayVolume 0x20000005 CDirectSoundPlay::SetVolume Failed, SetVolume Fa",
        "SetCurrentPosition#1 Vocora_PlayStart 0x2000000c CDirectSoundPlay::Start Failed, SetCurrentPositi",
        "Play#1 Vocora_PlayStart 0x20000008 CDirectSoundPlay::Start Failed, Play Failed, Err",
        "SetVolume#2 Vocora_PlayStart 0x20000005 CDirectSoundPlay::Start Failed, SetVolume Failed",
        "_beginthreadex#1 Vocora_PlayStart 0x20000003 CDirectSoundPlay::Start Failed, ZUVI_SDK_thr_cre",
        "GetVolume#1 Vocora_GetPlayVolume 0x20000004 CDirectSoundPlay::GetVolume Failed, GetVolume Fa",
        "Stop#1 Vocora_PlayStop 0x0 -",
        "Stop#2..Stop#3 (2) Vocora_DestoryPlayDec 0x0 -");
}

// ---- waveOut playback -------------------------------------------------------

void PlayThroughWaveOut(CWorld& oWorld, CRun& oRun)
{
    oRun.Call("Vocora_Init", &Vocora_Init);
    const AudioParam stParam = {8000, 1, 16, 0};  // entries of the default size
    VocoraPlayHandle h = nullptr;
    if (!oRun.Made("Vocora_CreatePlayDec", [&] { return Vocora_CreatePlayDec(&stParam, &h); })) {
        return;
    }
    std::vector<uint8_t> vecPcm = Blocks(3, 320);
    int32_t lVolume = -1;
    uint32_t ulControls = oRun.Call("Vocora_SetPlayVolume", [&] { return Vocora_SetPlayVolume(h, 128); });
    uint32_t aulPlayed[3] = {oRun.Call("Vocora_Play", [&] { return Vocora_Play(h, &vecPcm[0], 320); })};
    oWorld.oPlatform.CompleteWaveOut(1);  // its entry is free again, and taken by the next block
    ulControls |= oRun.Call("Vocora_PlayStop", [&] { return Vocora_PlayStop(h); });
    aulPlayed[1] = oRun.Call("Vocora_Play", [&] { return Vocora_Play(h, &vecPcm[320], 320); });
    ulControls |= oRun.Call("Vocora_PlayStart", [&] { return Vocora_PlayStart(h); });
    aulPlayed[2] = oRun.Call("Vocora_Play", [&] { return Vocora_Play(h, &vecPcm[640], 320); });
    ulControls |= oRun.Call("Vocora_GetPlayVolume", [&] { return Vocora_GetPlayVolume(h, &lVolume); });
    oRun.Call("Vocora_DestoryPlayDec", [&] { return Vocora_DestoryPlayDec(h); });
    oRun.Call("Vocora_Cleanup", &Vocora_Cleanup);
    if (Clean(oWorld)) {
        EXPECT_THAT(aulPlayed, ElementsAreArray({0u, VOCORA_PLAY_ERR_NOT_STARTED, 0u}));
        EXPECT_TRUE(oWorld.Logged("the waveout device isn't started before playing wave data!"));
        EXPECT_EQ(oWorld.oPlatform.vecWaveOut, (std::vector<std::vector<uint8_t>>{Blocks(1, 320), Blocks(1, 320, 0x42)}));
        EXPECT_EQ(ulControls, 0u) << "the volume, stop and start";
        EXPECT_EQ(lVolume, 128);
        EXPECT_EQ(oWorld.Logged("succeed to close waveout device"), 2);
    }
}

TEST(FaultSweep, WaveOutPlayback)
{
    const auto vecOutcomes = Sweep({false}, &PlayThroughWaveOut);
    EXPECT_OUTCOMES(vecOutcomes,
        "LoadLibraryA#1..malloc#1 (2) Vocora_Init 0x4 -",
        "malloc#2 Vocora_Init 0x4 %s Can't Be NULL.",
        "malloc#3..CoCreateInstance#2 (3) Vocora_Init 0x4 -",
        "malloc#4 Vocora_CreatePlayDec 0x2 %s Can't Be NULL.",
        "waveOutGetNumDevs#1 Vocora_CreatePlayDec 0x20000000 Error during audio device check, need WaveOut, s",
        "malloc#5..malloc#133 (129) Vocora_CreatePlayDec 0x3 failed to malloc memory from system",
        "waveOutOpen#1 Vocora_CreatePlayDec 0x20000001 failed to open waveout device",
        "waveOutUnprepareHeader#1 Vocora_Play 0x20000006 failed to waveOutUnprepareHeader memory controll",
        "waveOutPrepareHeader#1 Vocora_Play 0x20000006 failed to waveOutPrepareHeader memory controller",
        "waveOutWrite#1 Vocora_Play 0x20000006 failed to write memory controller entry [%u] to ",
        "waveOutUnprepareHeader#2 Vocora_Play 0x20000006 failed to waveOutUnprepareHeader memory controll",
        "waveOutPrepareHeader#2 Vocora_Play 0x20000006 failed to waveOutPrepareHeader memory controller",
        "waveOutWrite#2 Vocora_Play 0x20000006 failed to write memory controller entry [%u] to ",
        "waveOutReset#1 Vocora_DestoryPlayDec 0x1 failed to reset waveout device.",
        "waveOutUnprepareHeader#3..waveOutUnprepareHeader#130 (128) Vocora_DestoryPlayDec 0x0 failed to detach memory controller entry [%u] to",
        "waveOutClose#1 Vocora_DestoryPlayDec 0x0 failed to close waveout device.");
}

// ---- DirectSound capture, and the microphone level ------------------------

// The playback sweep has been through Vocora_Init already.
void Capture(CWorld& oWorld, CRun& oRun, uint32_t ulSelector)
{
    oWorld.oPlatform.bCounting = false;
    Vocora_Init();
    oWorld.oPlatform.bCounting = true;
    VocoraCaptureHandle h = nullptr;
    const AudioParam stParam = {16000, 1, 16, ulSelector == 0 ? 0u : 640u};
    if (!oRun.Made("Vocora_CreateCaptureDec", [&] { return Vocora_CreateCaptureDec(&stParam, ulSelector, &h); })) {
        return;
    }
    // A handle made in spite of a fault delivers all the same.
    const bool bMustDeliver = !Clean(oWorld);
    Received stReceived;
    stReceived.hSelf = h;
    int32_t lVolume = -1;
    oRun.Call("Vocora_SetCaptureCallBack", [&] { return Vocora_SetCaptureCallBack(h, &Received::Callback, &stReceived); });
    for (int i = 0; i < 2; ++i) {
        oRun.Call("tick", [&] { return oWorld.oPlatform.FireTimer(), 0u; });
    }
    // The timer's ticks deliver at once; the capture thread takes its time.
    const bool bDelivered = WaitUntil([&] { return stReceived.iCalls >= 2; }, ulSelector == 0 && !bMustDeliver ? 20 : 3000);
    EXPECT_TRUE(bDelivered || !bMustDeliver) << oWorld.oPlatform.Injected();
    if (ulSelector != 0) {  // the level is the system's, whatever the device
        oRun.Call("Vocora_SetMicVolume", [&] { return Vocora_SetMicVolume(h, 128); });
        oRun.Call("Vocora_GetMicVolume", [&] { return Vocora_GetMicVolume(h, &lVolume); });
    }
    // The handle outlives the clean-up: what it uses goes with it.
    oRun.Call("Vocora_Cleanup", &Vocora_Cleanup);
    oRun.Call("Vocora_DestoryCaptureDec", [&] { return Vocora_DestoryCaptureDec(h); });
    const int iAtDestroy = stReceived.iCalls;
    ::Sleep(20);
    EXPECT_EQ(stReceived.iCalls, iAtDestroy) << "nothing is delivered after destroy";
    if (Clean(oWorld)) {
        EXPECT_TRUE(bDelivered);
        EXPECT_TRUE(IsCounter(stReceived.vecBytes)) << "nothing lost or repeated";
        EXPECT_EQ(stReceived.ulSelfDestroyed, VOCORA_ERR_INVALID_ARG) << "from its own callback: at once";
        EXPECT_FALSE(oWorld.Logged("CaptureThread: Capture Data is Null."));
        EXPECT_EQ(oWorld.oPlatform.ulMixerValue, ulSelector != 0 ? 32896u : 0u);
        EXPECT_EQ(lVolume, ulSelector != 0 ? 128 : -1);
    }
}

TEST(FaultSweep, DirectSoundCapture)
{
    const auto vecOutcomes = Sweep({}, [](CWorld& oWorld, CRun& oRun) {
        Capture(oWorld, oRun, 1);
        if (Clean(oWorld)) {
            const MockCaptureBuffer& oBuffer = oWorld.oCapture.oBuffer;
            ASSERT_EQ(oBuffer.vecNotify.size(), 16u) << "a notification at the end of each block";
            EXPECT_EQ(oBuffer.vecNotify[15].dwOffset, 16 * 640u - 1);
            EXPECT_EQ(oWorld.oCapture.stDevice, DSDEVID_DefaultCapture);
        }
    });
    EXPECT_OUTCOMES(vecOutcomes,
        "malloc#1 Vocora_CreateCaptureDec 0x2 %s Can't Be NULL.",
        "waveInGetNumDevs#1 Vocora_CreateCaptureDec 0x10000000 CDirectSoundCapture: The Number of Waveform-audi / Failed, CreateDec fail, Error:[0x%x].",
        "CreateCaptureBuffer#1 Vocora_CreateCaptureDec 0x0 -",
        "QueryInterface#1 Vocora_CreateCaptureDec 0x10000007 CDirectSoundCapture::Init QueryInterface Fail, S / Failed, CreateDec fail, Error:[0x%x].",
        "CreateEventW#1 Vocora_CreateCaptureDec 0x1 CDirectSoundCapture::Init CreateEvent Fail / Failed, CreateDec fail, Error:[0x%x].",
        "SetNotificationPositions#1 Vocora_CreateCaptureDec 0x10000009 CDirectSoundCapture::Init SetNotificationPositio / Failed, CreateDec fail, Error:[0x%x].",
        "Start#1 Vocora_CreateCaptureDec 0x1000000a CDirectSoundCapture::Start Capure Fail, System E / Failed, CreateDec fail, Error:[0x%x].",
        "_beginthreadex#1 Vocora_CreateCaptureDec 0x1000000a CDirectSoundCapture::Start Failed, create captur / Failed, CreateDec fail, Error:[0x%x].",
        "waveInGetNumDevs#2 Vocora_SetMicVolume 0x10000000 the number of waveform-audio input devices prese / Failed, get mic volume line information Failed",
        "mixerOpen#1 Vocora_SetMicVolume 0x10000001 open handle of waveform-audio input device by Wi / Failed, get mic volume line information Failed",
        "mixerGetDevCapsW#1 Vocora_SetMicVolume 0x10000002 query capabilities of waveform-audio input devic / Failed, get mic volume line information Failed",
        "mixerGetLineInfoW#1 Vocora_SetMicVolume 0x10000003 get information of waveform-audio input device's / Failed, get mic volume line information Failed",
        "mixerGetLineInfoW#2 Vocora_SetMicVolume 0x10000000 mic volume component is not exist. / Failed, get mic volume line information Failed",
        "mixerGetLineControlsW#1 Vocora_SetMicVolume 0x10000004 get controls of audio line by Windows API failed / Failed, get mic volume line information Failed",
        "mixerSetControlDetails#1 Vocora_SetMicVolume 0x10000005 Failed, set system mic volume by Windows API Fai",
        "mixerGetControlDetailsW#1 Vocora_GetMicVolume 0x10000006 Failed, get system mic volume by Windows API fai",
        "Stop#1..Stop#2 (2) Vocora_DestoryCaptureDec 0x0 CDirectSoundCapture::Stop Capture Fail, System E",
        "mixerClose#1 Vocora_DestoryCaptureDec 0x0 Audio_GetMicVolume fail, close waveform-audio in");
}

// ---- Echo-cancelling capture -----------------------------------------------

TEST(FaultSweep, EchoCancellingCapture)
{
    const auto vecOutcomes = Sweep({true, true}, [](CWorld& oWorld, CRun& oRun) {
        Capture(oWorld, oRun, 0);
        if (Clean(oWorld)) {
            const MockDsp& oDsp = oWorld.oDsp;
            EXPECT_THAT(oDsp.vecWritten, ElementsAreArray({2u, 4u, 5u, 8u, 9u, 12u, 6u, 2u, 4u, 5u, 8u, 9u, 12u, 6u}))
                << "for the probe, then for the handle";
            EXPECT_EQ(oDsp.mapProperties.at(4).lVal, 0) << "render 0 in the high word, capture 0 in the low";
            EXPECT_EQ(oDsp.mapProperties.at(5).boolVal, VARIANT_TRUE);
            EXPECT_EQ(oDsp.mapProperties.at(9).boolVal, VARIANT_FALSE);
            EXPECT_EQ(oDsp.mapProperties.at(6).lVal, 0) << "the DSP's own frame size";
            EXPECT_EQ(oDsp.stOutput.nAvgBytesPerSec, 32000u);
            const DMO_MEDIA_TYPE& stType = oDsp.stOutputType;
            EXPECT_TRUE(stType.majortype == kMediaTypeAudio && stType.subtype == kMediaSubtypePcm &&
                        stType.formattype == kFormatWaveFormatEx && stType.bFixedSizeSamples &&
                        !stType.bTemporalCompression && stType.lSampleSize == 0 && stType.cbFormat == sizeof(WAVEFORMATEX));
            EXPECT_EQ(oWorld.oPlatform.strTimerSet, "10 20 257");
        }
    });
    EXPECT_OUTCOMES(vecOutcomes,
        "malloc#1 Vocora_CreateCaptureDec 0x2 %s Can't Be NULL.",
        "malloc#2 Vocora_CreateCaptureDec 0x0 %s Can't Be NULL.",
        "malloc#3 Vocora_CreateCaptureDec 0x0 CCoreAudioCapture::CreateDec Failed, Error:[0x%x",
        "CoCreateInstance#1..malloc#4 (5) Vocora_CreateCaptureDec 0x0 AecAudio: The Number of Waveform-audio Input Dev",
        "CoCreateInstance#2..GetValue#1 (8) Vocora_CreateCaptureDec 0x0 -",
        "CoCreateInstance#3..malloc#5 (5) Vocora_CreateCaptureDec 0x0 AecAudio: The Number of Waveform-audio Output De",
        "CoCreateInstance#4..WideCharToMultiByte#2 (16) Vocora_CreateCaptureDec 0x0 -",
        "CoCreateInstance#6..AllocateStreamingResources#1 (20) Vocora_CreateCaptureDec 0x0 CCoreAudioCapture::CreateDec Failed, Error:[0x%x",
        "timeSetEvent#1 Vocora_CreateCaptureDec 0x0 CAecAudioCapture::Start Failed, the processing t",
        "CoCreateInstance#7..ProcessOutput#2 (10) tick 0x0 -");
}

}  // namespace
