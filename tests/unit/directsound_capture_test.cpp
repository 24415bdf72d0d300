// DirectSound capture against fakes: the process-wide capture object, the
// device's buffer and notifications, and what the capture thread hands the
// host's callback as the fake buffer fills.
#include <gtest/gtest.h>

#include <mutex>

#include "fakes/directsound_fixture.h"

namespace {

// Every block the host's callback received, in order.
class CCaptureSink {
public:
    static void VOCORA_CALL OnCapture(const uint8_t* pucData, uint32_t ulLength, void* pUserData)
    {
        auto* poSink = static_cast<CCaptureSink*>(pUserData);
        std::lock_guard<std::mutex> oLock(poSink->m_mtx);
        poSink->m_vecLengths.push_back(ulLength);
        poSink->m_vecBytes.insert(poSink->m_vecBytes.end(), pucData, pucData + ulLength);
    }

    std::vector<uint32_t> Lengths()
    {
        std::lock_guard<std::mutex> oLock(m_mtx);
        return m_vecLengths;
    }

    std::vector<uint8_t> Bytes()
    {
        std::lock_guard<std::mutex> oLock(m_mtx);
        return m_vecBytes;
    }

private:
    std::mutex m_mtx;
    std::vector<uint32_t> m_vecLengths;
    std::vector<uint8_t> m_vecBytes;
};

// True when vecBytes is the fake's counter from stream position ullFirst on.
bool IsRunFrom(const std::vector<uint8_t>& vecBytes, uint64_t ullFirst)
{
    for (size_t i = 0; i < vecBytes.size(); ++i) {
        if (vecBytes[i] != CFakeCaptureBuffer::ByteAt(ullFirst + i)) {
            return false;
        }
    }
    return true;
}

using CapturePtr = std::unique_ptr<CDirectSoundCapture>;

class DirectSoundCaptureTest : public DirectSoundTest {
protected:
    void SetUp() override
    {
        DirectSoundTest::SetUp();
        ProvideDirectSound();
        ASSERT_EQ(DirectSoundInit(), VOCORA_OK);
        ASSERT_EQ(DirectSoundCaptureInit(), VOCORA_OK);
        m_oLog.Clear();
    }

    CapturePtr NewCapture(AudioParam stParam = kstBlock1024, uint32_t ulExpected = VOCORA_OK)
    {
        CapturePtr poCapture(new (std::nothrow) CDirectSoundCapture());
        EXPECT_EQ(poCapture->Init(&stParam), ulExpected);
        return poCapture;
    }

    CapturePtr StartedCapture()
    {
        CapturePtr poCapture = NewCapture();
        EXPECT_EQ(poCapture->SetCaptureCallBack(&CCaptureSink::OnCapture, &m_oSink), VOCORA_OK);
        EXPECT_EQ(poCapture->Start(), VOCORA_OK);
        return poCapture;
    }

    bool WaitForBytes(size_t ulCount)
    {
        return WaitUntil([&] { return m_oSink.Bytes().size() >= ulCount; });
    }

    bool WaitForMessage(const std::string& strText)
    {
        return WaitUntil([&] { return Logged(strText); });
    }

    CCaptureSink m_oSink;
};

// ---- The process-wide capture object ------------------------------------------

using DirectSoundCaptureRuntimeTest = DirectSoundTest;

TEST_F(DirectSoundCaptureRuntimeTest, NeedsTheModulePlaybackLoaded)
{
    const std::string strNoCapture =
        "DirectSoundCaptureInit Failed, system unspport dsound to play and capture, use other";
    EXPECT_EQ(DirectSoundCaptureInit(), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_TRUE(Logged(strNoCapture));

    ProvideDirectSound();
    ASSERT_EQ(DirectSoundInit(), VOCORA_OK);
    FakeDirectSoundCaptureCreate::sm_hrResult = DSERR_NODRIVER;
    EXPECT_EQ(DirectSoundCaptureInit(), VOCORA_CAP_ERR_CREATE_CAPTURE);
    EXPECT_TRUE(Logged("DirectSoundCaptureInit Failed, DirectSoundCaptureCreate8 failed(retcode:"
                       "-2005401480, errormsg:No audio device found)."));

    // A device made while the object is missing creates it itself.
    FakeDirectSoundCaptureCreate::sm_hrResult = DS_OK;
    CDirectSoundCapture oCapture;
    EXPECT_EQ(oCapture.Init(&kstBlock1024), VOCORA_OK);
    EXPECT_EQ(sm_gpDSoundCapture, &m_oCaptureDevice);
    EXPECT_EQ(FakeDirectSoundCaptureCreate::sm_stLastDevice, DSDEVID_DefaultCapture);
    EXPECT_EQ(DirectSoundCaptureInit(), VOCORA_OK);
    EXPECT_EQ(m_oCaptureDevice.References(), 1) << "a repeated initialisation keeps the object";
    oCapture.Close();

    // Clean-up releases the object and unloading forgets the entry point: a
    // device can then neither find nor make one.
    DirectSoundCaptureCleanup();
    DirectSoundCleanup();
    EXPECT_EQ(m_oCaptureDevice.References(), 0);
    EXPECT_EQ(oCapture.Init(&kstBlock1024), VOCORA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(m_oLog.WithFormat(strNoCapture).back().strFunction, "CDirectSoundCapture::Init");
}

// ---- Initialising a device -------------------------------------------------------

struct CaptureSizeCase {
    AudioParam stParam;
    DWORD ulBlock;
};

void PrintTo(const CaptureSizeCase& stCase, std::ostream* pOut)
{
    *pOut << stCase.stParam.ulSampleRate << " Hz x" << stCase.stParam.ulChannels << ", data length "
          << stCase.stParam.ulDataLen;
}

class DirectSoundCaptureSizeTest : public DirectSoundCaptureTest,
                                   public ::testing::WithParamInterface<CaptureSizeCase> {};

TEST_P(DirectSoundCaptureSizeTest, SixteenBlocksWithANotificationAtTheEndOfEach)
{
    const CaptureSizeCase& stCase = GetParam();
    CapturePtr poCapture = NewCapture(stCase.stParam);
    const DSCBUFFERDESC& stDesc = m_oCaptureDevice.m_stLastDesc;
    EXPECT_EQ(stDesc.dwSize, sizeof(DSCBUFFERDESC));
    EXPECT_EQ(stDesc.dwFlags, 0u);
    EXPECT_EQ(stDesc.dwBufferBytes, 16 * stCase.ulBlock);
    EXPECT_EQ(stDesc.dwFXCount, 0u);
    EXPECT_EQ(m_oCaptureDevice.m_stLastFormat.nSamplesPerSec, stCase.stParam.ulSampleRate);
    EXPECT_EQ(m_oCaptureDevice.m_stLastFormat.nChannels, stCase.stParam.ulChannels);

    const std::vector<DSBPOSITIONNOTIFY> vecPositions = CaptureBuffer().Positions();
    ASSERT_EQ(vecPositions.size(), 16u);
    for (DWORD i = 0; i < 16; ++i) {
        EXPECT_EQ(vecPositions[i].dwOffset, stCase.ulBlock * (i + 1) - 1);
        EXPECT_EQ(vecPositions[i].hEventNotify, vecPositions[0].hEventNotify);
    }
    EXPECT_NE(vecPositions[0].hEventNotify, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Formats, DirectSoundCaptureSizeTest,
                         ::testing::Values(CaptureSizeCase{{8000, 1, 16, 0}, 1024},
                                           CaptureSizeCase{{16000, 1, 16, 0}, 2048},
                                           CaptureSizeCase{{44100, 2, 16, 0}, 8192},
                                           CaptureSizeCase{{48000, 2, 16, 0}, 16384},
                                           CaptureSizeCase{{800, 1, 16, 0}, 2},
                                           CaptureSizeCase{{16000, 1, 16, 3001}, 3001}));

TEST_F(DirectSoundCaptureTest, InitFailuresReleaseWhatWasCreated)
{
    m_oPlatform.SetInputDevices(0);
    NewCapture(kstBlock1024, VOCORA_CAP_ERR_NO_INPUT_DEVICE);
    EXPECT_TRUE(m_oLog.WithFormat("CDirectSoundCapture::Init Channels(%d) SampleRate(%d) "
                                  "BitsPerSample(%d).").empty())
        << "no format line without an input device";
    m_oPlatform.SetInputDevices(1);
    NewCapture({8000, 1, 4, 0}, VOCORA_ERR_ZERO_BLOCK);
    m_oCaptureDevice.m_hrCreateCaptureBuffer = DSERR_BADFORMAT;
    NewCapture(kstBlock1024, VOCORA_CAP_ERR_CREATE_BUFFER);
    m_oCaptureDevice.m_hrCreateCaptureBuffer = DS_OK;
    m_oCaptureDevice.m_hrNewBufferQueryNotify = E_NOINTERFACE;
    NewCapture(kstBlock1024, VOCORA_CAP_ERR_CREATE_CAPTURE);
    EXPECT_EQ(CaptureBuffer().References(), 0);
    m_oCaptureDevice.m_hrNewBufferQueryNotify = S_OK;
    m_oPlatform.FailEventCreation();
    NewCapture(kstBlock1024, VOCORA_ERR_RESOURCE);
    EXPECT_EQ(CaptureBuffer().References(), 0);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "CDirectSoundCapture: The Number of Waveform-audio Input Devices Present "
                            "in The System is Zero.",
                            "CDirectSoundPlay::Init Failed, Data len is 0.",
                            "CDirectSoundCapture::Init CreateCaptureBuffer Fail, System "
                            "Error:[0x88780064], ErrorMsg:Unsupported audio format.",
                            "CDirectSoundCapture::Init QueryInterface Fail, System Error:[0x80004002], "
                            "ErrorMsg:Unsupported interface -- Is DirectX 8.0 or later installed?.",
                            "CDirectSoundCapture::Init CreateEvent Fail"}));
}

TEST_F(DirectSoundCaptureTest, RefusedNotificationsFailTheInit)
{
    m_oCaptureDevice.m_hrNewBufferNotificationPositions = DSERR_INVALIDPARAM;
    NewCapture(kstBlock1024, VOCORA_CAP_ERR_NOTIFY);
    EXPECT_EQ(CaptureBuffer().References(), 0);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "CDirectSoundCapture::Init SetNotificationPositions Fail, System "
                            "Error:[0x80070057], ErrorMsg:Invalid parameter."}));
}

TEST_F(DirectSoundCaptureTest, StartFailuresLeaveNoThread)
{
    CapturePtr poCapture = NewCapture();
    CaptureBuffer().m_hrStart = DSERR_NODRIVER;
    EXPECT_EQ(poCapture->Start(), VOCORA_CAP_ERR_START);
    CaptureBuffer().m_hrStart = DS_OK;
    m_oPlatform.FailThreadCreation();
    EXPECT_EQ(poCapture->Start(), VOCORA_CAP_ERR_START);
    EXPECT_EQ(CaptureBuffer().Stops(), 1);
    EXPECT_EQ(CaptureBuffer().StartFlags(), static_cast<DWORD>(DSCBSTART_LOOPING));

    CDirectSoundCapture oUninitialised;
    EXPECT_EQ(oUninitialised.Start(), VOCORA_ERR_INVALID_ARG);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "CDirectSoundCapture::Start Capure Fail, System Error:[0x88780078], "
                            "ErrorMsg:No audio device found.",
                            "CDirectSoundCapture::Start Failed, create capture thread failed",
                            "m_pstBuffer Can't Be NULL."}));
}

// ---- The capture thread ---------------------------------------------------------

TEST_F(DirectSoundCaptureTest, DeliversEveryBlockInOrder)
{
    CapturePtr poCapture = StartedCapture();
    // One block a notification, round the circular buffer more than once.
    for (size_t i = 1; i <= 20; ++i) {
        CaptureBuffer().Advance(1024);
        ASSERT_TRUE(WaitForBytes(i * 1024)) << "block " << i;
    }
    // Two and a half blocks at once: the thread comes back for the second
    // block by itself, and the half waits for its notification.
    CaptureBuffer().Advance(2 * 1024 + 512);
    ASSERT_TRUE(WaitForBytes(22 * 1024));
    CaptureBuffer().Advance(512);
    ASSERT_TRUE(WaitForBytes(23 * 1024));
    EXPECT_EQ(m_oSink.Bytes().size(), 23u * 1024);
    EXPECT_TRUE(IsRunFrom(m_oSink.Bytes(), 0));
    EXPECT_EQ(m_oSink.Lengths(), std::vector<uint32_t>(23, 1024));
    EXPECT_TRUE(Logged("Start Capture Thread Succeed."));
}

TEST_F(DirectSoundCaptureTest, BlocksBeforeTheCallbackAreDropped)
{
    CapturePtr poCapture = NewCapture();
    ASSERT_EQ(poCapture->Start(), VOCORA_OK);
    for (uint32_t ulOffset : {1024u, 2048u}) {
        CaptureBuffer().Advance(1024);
        ASSERT_TRUE(WaitUntil([&] { return poCapture->ReadOffset() == ulOffset; }));
    }
    ASSERT_EQ(poCapture->SetCaptureCallBack(&CCaptureSink::OnCapture, &m_oSink), VOCORA_OK);
    CaptureBuffer().Advance(1024);
    ASSERT_TRUE(WaitForBytes(1024));
    EXPECT_TRUE(IsRunFrom(m_oSink.Bytes(), 2048));
}

TEST_F(DirectSoundCaptureTest, SplitLockIsDeliveredInTwoParts)
{
    CapturePtr poCapture = StartedCapture();
    CaptureBuffer().m_ulSplitNextLockAt = 100;
    CaptureBuffer().Advance(1024);
    ASSERT_TRUE(WaitForBytes(1024));
    CaptureBuffer().Advance(1024);
    ASSERT_TRUE(WaitForBytes(2048));
    EXPECT_EQ(m_oSink.Lengths(), (std::vector<uint32_t>{100, 924, 1024}));
    EXPECT_TRUE(IsRunFrom(m_oSink.Bytes(), 0));
    EXPECT_EQ(Errors(), (std::vector<std::string>{"CaptureThread: pCaptureData2 have Data."}));
}

TEST_F(DirectSoundCaptureTest, ToleratedFaultsAreReportedAndCaptureGoesOn)
{
    CapturePtr poCapture = StartedCapture();
    // An empty first region moves nothing: the block is read again.
    CaptureBuffer().m_bNextLockEmpty = true;
    CaptureBuffer().Advance(1024);
    ASSERT_TRUE(WaitForMessage("CaptureThread: Capture Data is Null."));

    CaptureBuffer().m_hrUnlock = DSERR_INVALIDCALL;
    CaptureBuffer().Advance(1024);
    ASSERT_TRUE(WaitForMessage("CaptureThread Fail, unLock Buffer Fail, System Error:[-2005401550], "
                               "ErrorMsg:Invalid call for the current state."));
    CaptureBuffer().m_hrUnlock = DS_OK;

    // An unanswered position query is as good as no data yet.
    CaptureBuffer().m_hrGetCurrentPosition = DSERR_NODRIVER;
    CaptureBuffer().Advance(1024);
    Sleep(50);
    CaptureBuffer().m_hrGetCurrentPosition = DS_OK;
    CaptureBuffer().Advance(1024);
    ASSERT_TRUE(WaitForBytes(2 * 1024));
    EXPECT_TRUE(IsRunFrom(m_oSink.Bytes(), 0));
    EXPECT_EQ(m_oSink.Lengths(), (std::vector<uint32_t>{0, 1024, 1024}));
}

TEST_F(DirectSoundCaptureTest, LockFailuresAreLoggedOncePerThousand)
{
    CapturePtr poCapture = StartedCapture();
    CaptureBuffer().m_hrLock = DSERR_BUFFERLOST;
    // More than a whole block pending keeps the thread coming straight back.
    CaptureBuffer().Advance(2 * 1024 + 5);
    ASSERT_TRUE(WaitUntil([&] { return CaptureBuffer().Locks() > 2500; }, 20000));
    ASSERT_EQ(poCapture->Stop(), VOCORA_OK);
    const int iFailures = CaptureBuffer().Locks();
    const auto vecMessages = m_oLog.WithFormat(
        "CaptureThread Failed, Lock buffer Fail, System Error:[%d], ErrorMsg:%s.");
    EXPECT_EQ(static_cast<int>(vecMessages.size()), 1 + (iFailures - 1) / 1000);
    EXPECT_TRUE(m_oSink.Bytes().empty());
}

TEST_F(DirectSoundCaptureTest, ThreadEndsWhenTheInputDeviceGoes)
{
    CapturePtr poCapture = StartedCapture();
    m_oPlatform.SetInputDevices(0);
    ASSERT_TRUE(WaitForMessage("CaptureThread Failed, ulWaveinDevNums not Exist."));
    CaptureBuffer().Advance(1024);
    EXPECT_EQ(poCapture->Stop(), VOCORA_OK);
    EXPECT_TRUE(m_oSink.Bytes().empty());
}

TEST_F(DirectSoundCaptureTest, ThreadEndsWhenItCannotSignalItself)
{
    CapturePtr poCapture = StartedCapture();
    m_oPlatform.FailSetEvent(ERROR_INVALID_HANDLE);
    CaptureBuffer().Advance(2 * 1024 + 7);
    ASSERT_TRUE(WaitForMessage("CaptureThread: SetEvent Failed, System Error:[6]."));
    EXPECT_EQ(poCapture->Stop(), VOCORA_OK);
}

TEST_F(DirectSoundCaptureTest, VolumeIsOnlyStoredAndStopIsRepeatable)
{
    CapturePtr poCapture = StartedCapture();
    uint32_t ulVolume = 0;
    EXPECT_EQ(poCapture->GetVolume(&ulVolume), VOCORA_OK);
    EXPECT_EQ(ulVolume, 255u);
    EXPECT_EQ(poCapture->SetVolume(1000), VOCORA_OK);
    EXPECT_EQ(poCapture->GetVolume(&ulVolume), VOCORA_OK);
    EXPECT_EQ(ulVolume, 1000u);

    CaptureBuffer().m_hrStop = DSERR_NODRIVER;
    EXPECT_EQ(poCapture->Stop(), VOCORA_OK);
    CaptureBuffer().m_hrStop = DS_OK;
    EXPECT_EQ(poCapture->Stop(), VOCORA_OK);
    EXPECT_EQ(poCapture->Close(), VOCORA_OK);
    EXPECT_EQ(poCapture->Close(), VOCORA_OK);
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "CDirectSoundCapture::Stop Capture Fail, System Error:[0x88780078], "
                            "ErrorMsg:No audio device found."}));
}

}  // namespace
