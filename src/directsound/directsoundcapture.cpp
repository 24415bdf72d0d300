#include "directsound/directsoundcapture.h"

#include <utility>

#include "common/func_macros.h"
#include "common/platform.h"
#include "directsound/directsoundplay.h"
#include "log/log.h"

PfnDirectSoundCaptureCreate8 sm_pfnDirectSoundCaptureCreate8 = nullptr;
IDirectSoundCapture8* sm_gpDSoundCapture = nullptr;

namespace {

// DSDEVID_DefaultCapture and IID_IDirectSoundNotify, spelled out so that no
// GUID library is needed.
const GUID kGuidDefaultCapture = {
    0xdef00001, 0x9c6d, 0x47ed, {0xaa, 0xf1, 0x4d, 0xda, 0x8f, 0x2b, 0x5c, 0x03}};
const GUID kIidDirectSoundNotify = {
    0xb0210783, 0x89cd, 0x11d0, {0xaf, 0x08, 0x00, 0xa0, 0xc9, 0x25, 0xcd, 0x16}};

const char kszNoCapture[] =
    "DirectSoundCaptureInit Failed, system unspport dsound to play and capture, use other";

// Creates the process-wide capture object for the default capture device;
// pszFunction names the caller in the failure message.
uint32_t CreateCaptureObject(const char* pszFunction)
{
    const HRESULT hr = sm_pfnDirectSoundCaptureCreate8(&kGuidDefaultCapture, &sm_gpDSoundCapture,
                                                       nullptr);
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, pszFunction,
                   "DirectSoundCaptureInit Failed, DirectSoundCaptureCreate8 failed(retcode:%d, errormsg:%s).",
                   static_cast<int>(hr), DirectSoundErrorText(hr));
        // A success code other than DS_OK may still have handed out an object.
        if (sm_gpDSoundCapture != nullptr) {
            sm_gpDSoundCapture->Release();
            sm_gpDSoundCapture = nullptr;
        }
        return VOCORA_CAP_ERR_CREATE_CAPTURE;
    }
    return VOCORA_OK;
}

// One notification's worth: the host's block length, or else the frames of
// about 46 ms rounded up to a power of two.
uint64_t CaptureBlockSize(const AudioParam* pstAudioParam)
{
    if (pstAudioParam->ulDataLen != 0) {
        return pstAudioParam->ulDataLen;
    }
    uint32_t ulFrames = 1;
    while (ulFrames < pstAudioParam->ulSampleRate / 1000 * 46) {
        ulFrames *= 2;
    }
    return uint64_t{pstAudioParam->ulBitsPerSample / 8} * pstAudioParam->ulChannels * ulFrames;
}

}  // namespace

uint32_t DirectSoundCaptureInit()
{
    // A repeated initialisation keeps the capture object every existing
    // device records through.
    if (sm_gpDSoundCapture != nullptr) {
        return VOCORA_OK;
    }
    if (DirectSoundCaptureLoad() != VOCORA_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "DirectSoundCaptureInit", kszNoCapture);
        return VOCORA_ERR_NOT_AVAILABLE;
    }
    return CreateCaptureObject("DirectSoundCaptureInit");
}

uint32_t DirectSoundCaptureCleanup()
{
    if (sm_gpDSoundCapture != nullptr) {
        sm_gpDSoundCapture->Release();
        sm_gpDSoundCapture = nullptr;
    }
    return VOCORA_OK;
}

CDirectSoundCapture::CDirectSoundCapture() = default;

CDirectSoundCapture::~CDirectSoundCapture()
{
    Close();
}

uint32_t CDirectSoundCapture::Init(const AudioParam* pstAudioParam)
{
    if (sm_gpDSoundCapture == nullptr) {
        // Without the DirectSound module there is nothing to create the
        // object with: capture is not available, as at initialisation.
        if (sm_pfnDirectSoundCaptureCreate8 == nullptr) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Init", kszNoCapture);
            return VOCORA_ERR_NOT_AVAILABLE;
        }
        const uint32_t ulResult = CreateCaptureObject("CDirectSoundCapture::Init");
        if (ulResult != VOCORA_OK) {
            return ulResult;
        }
    }
    if (Platform().pfnWaveInGetNumDevs() == 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Init",
                   "CDirectSoundCapture: The Number of Waveform-audio Input Devices Present in The System is Zero.");
        return VOCORA_CAP_ERR_NO_INPUT_DEVICE;
    }
    VOCORA_LOG(VOCORA_LOG_INFO, "CDirectSoundCapture::Init",
               "CDirectSoundCapture::Init Channels(%d) SampleRate(%d) BitsPerSample(%d).",
               pstAudioParam->ulChannels, pstAudioParam->ulSampleRate,
               pstAudioParam->ulBitsPerSample);

    const uint64_t ullBlock = CaptureBlockSize(pstAudioParam);
    if (ullBlock == 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Init",
                   "CDirectSoundPlay::Init Failed, Data len is 0.");
        return VOCORA_ERR_ZERO_BLOCK;
    }
    const auto fnBufferRefused = [](HRESULT hr) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Init",
                   "CDirectSoundCapture::Init CreateCaptureBuffer Fail, System Error:[0x%x], ErrorMsg:%s.",
                   static_cast<unsigned>(hr), DirectSoundErrorText(hr));
        return VOCORA_CAP_ERR_CREATE_BUFFER;
    };
    if (!IsPlainPcmFormat(pstAudioParam->ulSampleRate, pstAudioParam->ulChannels, pstAudioParam->ulBitsPerSample)) {
        return fnBufferRefused(DSERR_BADFORMAT);
    }
    if (ullBlock > DSBSIZE_MAX / kulBlocks) {
        return fnBufferRefused(DSERR_INVALIDPARAM);
    }
    const auto ulBlock = static_cast<uint32_t>(ullBlock);
    m_ulReadOffset = 0;
    m_ulNotifySize = ulBlock;
    m_ulBufferSize = kulBlocks * ulBlock;

    m_stFormat = PcmWaveFormat(pstAudioParam->ulSampleRate, pstAudioParam->ulChannels, pstAudioParam->ulBitsPerSample);
    m_pCaptureObject = CComPtr<IDirectSoundCapture8>::Share(sm_gpDSoundCapture);
    HRESULT hr = CreateBuffer();
    if (hr != DS_OK && sm_pfnDirectSoundCaptureCreate8 != nullptr) {
        // The shared object refuses a second buffer on some platforms (and
        // every buffer once its device has gone): one of its own takes it.
        hr = sm_pfnDirectSoundCaptureCreate8(&kGuidDefaultCapture, m_pCaptureObject.Put(), nullptr);
        hr = hr == DS_OK ? CreateBuffer() : hr;
    }
    if (hr != DS_OK) {
        ReleaseCaptureObjects();
        return fnBufferRefused(hr);
    }
    hr = m_pstBuffer->QueryInterface(kIidDirectSoundNotify,
                                     reinterpret_cast<void**>(m_pNotify.Put()));
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Init",
                   "CDirectSoundCapture::Init QueryInterface Fail, System Error:[0x%x], ErrorMsg:%s.",
                   static_cast<unsigned>(hr), DirectSoundErrorText(hr));
        ReleaseCaptureObjects();
        return VOCORA_CAP_ERR_CREATE_CAPTURE;
    }
    m_hNotifyEvent = Platform().pfnCreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_hNotifyEvent == nullptr) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Init",
                   "CDirectSoundCapture::Init CreateEvent Fail");
        ReleaseCaptureObjects();
        return VOCORA_ERR_RESOURCE;
    }
    // Each position is the last byte of a block: the event fires as the block
    // becomes complete.
    for (uint32_t i = 0; i < kulBlocks; ++i) {
        m_astNotifyPos[i].dwOffset = ulBlock * (i + 1) - 1;
        m_astNotifyPos[i].hEventNotify = m_hNotifyEvent;
    }
    hr = m_pNotify->SetNotificationPositions(kulBlocks, m_astNotifyPos);
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Init",
                   "CDirectSoundCapture::Init SetNotificationPositions Fail, System Error:[0x%x], ErrorMsg:%s.",
                   static_cast<unsigned>(hr), DirectSoundErrorText(hr));
        ReleaseCaptureObjects();
        return VOCORA_CAP_ERR_NOTIFY;
    }
    DirectSoundHoldModule();
    m_bHoldsModule = true;
    return VOCORA_OK;
}

HRESULT CDirectSoundCapture::CreateBuffer()
{
    DSCBUFFERDESC stDesc = {};
    stDesc.dwSize = sizeof stDesc;
    stDesc.dwFlags = 0;
    stDesc.dwBufferBytes = m_ulBufferSize;
    stDesc.lpwfxFormat = &m_stFormat;
    return m_pCaptureObject->CreateCaptureBuffer(&stDesc, m_pstBuffer.Put(), nullptr);
}

void CDirectSoundCapture::ReleaseCaptureObjects()
{
    if (m_hNotifyEvent != nullptr) {
        Platform().pfnCloseHandle(m_hNotifyEvent);
        m_hNotifyEvent = nullptr;
    }
    m_pstBuffer.Reset();
    m_pNotify.Reset();
    m_pCaptureObject.Reset();
    if (std::exchange(m_bHoldsModule, false)) {
        DirectSoundLetGoModule();
    }
}

// A new capture buffer, from a capture object of its own (a dead device's
// object refuses new buffers), capturing into the same notifications.
uint32_t CDirectSoundCapture::Reopen()
{
    if (m_pstBuffer) {
        m_pstBuffer->Stop();
    }
    m_pNotify.Reset();
    m_pstBuffer.Reset();
    const PfnDirectSoundCaptureCreate8 pfnCreate = sm_pfnDirectSoundCaptureCreate8;
    if (pfnCreate == nullptr || pfnCreate(&kGuidDefaultCapture, m_pCaptureObject.Put(), nullptr) != DS_OK ||
        CreateBuffer() != DS_OK ||
        m_pstBuffer->QueryInterface(kIidDirectSoundNotify, reinterpret_cast<void**>(m_pNotify.Put())) != DS_OK ||
        m_pNotify->SetNotificationPositions(kulBlocks, m_astNotifyPos) != DS_OK ||
        m_pstBuffer->Start(DSCBSTART_LOOPING) != DS_OK) {
        return VOCORA_CAP_ERR_CREATE_BUFFER;
    }
    m_ulReadOffset = 0;
    return VOCORA_OK;
}

uint32_t CDirectSoundCapture::Start()
{
    if (!m_pstBuffer) {
        VOCORA_LOG_NULL("CDirectSoundCapture::Start", "m_pstBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    const HRESULT hr = m_pstBuffer->Start(DSCBSTART_LOOPING);
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Start",
                   "CDirectSoundCapture::Start Capure Fail, System Error:[0x%x], ErrorMsg:%s.",
                   static_cast<unsigned>(hr), DirectSoundErrorText(hr));
        return VOCORA_CAP_ERR_START;
    }
    m_bCapturing = 1;
    m_hCaptureThread = reinterpret_cast<HANDLE>(
        Platform().pfnBeginThreadEx(nullptr, 0, &DirectSoundCapturehread, this, 0, nullptr));
    if (m_hCaptureThread == nullptr) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Start",
                   "CDirectSoundCapture::Start Failed, create capture thread failed");
        m_pstBuffer->Stop();
        m_bCapturing = 0;
        return VOCORA_CAP_ERR_START;
    }
    return VOCORA_OK;
}

uint32_t CDirectSoundCapture::Stop()
{
    m_bCapturing = 0;
    if (m_hCaptureThread != nullptr) {
        Platform().pfnWaitForSingleObject(m_hCaptureThread, INFINITE);
        Platform().pfnCloseHandle(m_hCaptureThread);
        m_hCaptureThread = nullptr;
    }
    if (m_pstBuffer) {
        const HRESULT hr = m_pstBuffer->Stop();
        if (hr != DS_OK) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::Stop",
                       "CDirectSoundCapture::Stop Capture Fail, System Error:[0x%x], ErrorMsg:%s.",
                       static_cast<unsigned>(hr), DirectSoundErrorText(hr));
        }
    }
    return VOCORA_OK;
}

uint32_t CDirectSoundCapture::Close()
{
    Stop();
    ReleaseCaptureObjects();
    return VOCORA_OK;
}

uint32_t CDirectSoundCapture::CaptureThread()
{
    const CWorkerThread::Scope oWorker(m_oWorker);
    if (!m_pstBuffer) {
        VOCORA_LOG_NULL("CDirectSoundCapture::CaptureThread", "m_pstBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    uint32_t ulFailedLocks = 0;
    // A device that has gone away reports nothing at all: no block for a
    // while means it is gone. Either loss is reported once; then the buffer
    // is made anew every half second until blocks come again.
    bool bLost = false;
    DWORD ulLastBlock = GetTickCount();
    DWORD ulLastTry = ulLastBlock;
    for (;;) {
        if (m_bCapturing != 1) {
            return VOCORA_OK;
        }
        if (Platform().pfnWaveInGetNumDevs() == 0) {
            if (!std::exchange(bLost, true)) {
                VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::CaptureThread",
                           "CaptureThread Failed, ulWaveinDevNums not Exist.");
            }
            Platform().pfnWaitForSingleObject(m_hNotifyEvent, kulRetryMs);
            continue;
        }
        const DWORD ulNow = GetTickCount();
        if (!bLost && ulNow - ulLastBlock > kulSilentMs) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::CaptureThread",
                       "CaptureThread Failed, no capture data for %u ms, reopening the device.",
                       static_cast<unsigned>(ulNow - ulLastBlock));
            bLost = true;
            ulLastTry = ulNow - kulRetryMs;
        }
        if (bLost && ulNow - ulLastTry >= kulRetryMs) {
            ulLastTry = ulNow;
            if (Reopen() != VOCORA_OK) {
                continue;
            }
        }
        if (Platform().pfnWaitForSingleObject(m_hNotifyEvent, kulWaitMs) != WAIT_OBJECT_0 || !m_pstBuffer) {
            continue;
        }
        DWORD ulCapturePos = 0;
        DWORD ulReadPos = 0;
        // A failed position query counts as nothing available: the next
        // notification or time-out asks again.
        if (m_pstBuffer->GetCurrentPosition(&ulCapturePos, &ulReadPos) != DS_OK) {
            continue;
        }
        int32_t lAvailable = static_cast<int32_t>(ulReadPos - m_ulReadOffset);
        if (lAvailable < 0) {
            lAvailable += static_cast<int32_t>(m_ulBufferSize);
        }
        const auto ulAvailable = static_cast<uint32_t>(lAvailable);
        if (ulAvailable < m_ulNotifySize) {
            continue;
        }
        // More than a block pending: come straight back for the next one.
        if (ulAvailable % m_ulNotifySize > 1 && !Platform().pfnSetEvent(m_hNotifyEvent)) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::CaptureThread",
                       "CaptureThread: SetEvent Failed, System Error:[%d].",
                       static_cast<int>(Platform().pfnGetLastError()));
            return VOCORA_CAP_ERR_NOTIFY;
        }
        void* pCaptureData1 = nullptr;
        void* pCaptureData2 = nullptr;
        DWORD ulLength1 = 0;
        DWORD ulLength2 = 0;
        HRESULT hr = m_pstBuffer->Lock(m_ulReadOffset, m_ulNotifySize, &pCaptureData1, &ulLength1,
                                       &pCaptureData2, &ulLength2, 0);
        if (hr != DS_OK) {
            // Logged once per thousand failures, counted from the first.
            if (ulFailedLocks % 1000 == 0) {
                VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::CaptureThread",
                           "CaptureThread Failed, Lock buffer Fail, System Error:[%d], ErrorMsg:%s.",
                           static_cast<int>(hr), DirectSoundErrorText(hr));
                ulFailedLocks = 0;
            }
            ++ulFailedLocks;
            continue;
        }
        m_ulReadOffset = (m_ulReadOffset + ulLength1) % m_ulBufferSize;
        if (pCaptureData2 != nullptr) {
            m_ulReadOffset = (m_ulReadOffset + ulLength2) % m_ulBufferSize;
        }
        ulLastBlock = GetTickCount();
        if (std::exchange(bLost, false)) {
            VOCORA_LOG(VOCORA_LOG_INFO, "CDirectSoundCapture::CaptureThread", "CaptureThread the device captures again.");
        }
        if (pCaptureData1 == nullptr || ulLength1 == 0) {
            VOCORA_LOG(VOCORA_LOG_WARNING, "CDirectSoundCapture::CaptureThread",
                       "CaptureThread: Capture Data is Null.");
        }
        if (const CCaptureTarget::Call oDeliver = m_oCaptureTarget.Current()) {
            oDeliver(static_cast<const uint8_t*>(pCaptureData1), ulLength1);
            if (pCaptureData2 != nullptr) {
                oDeliver(static_cast<const uint8_t*>(pCaptureData2), ulLength2);
                VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::CaptureThread",
                           "CaptureThread: pCaptureData2 have Data.");
            }
        }
        hr = m_pstBuffer->Unlock(pCaptureData1, ulLength1, pCaptureData2, ulLength2);
        if (hr != DS_OK) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundCapture::CaptureThread",
                       "CaptureThread Fail, unLock Buffer Fail, System Error:[%d], ErrorMsg:%s.",
                       static_cast<int>(hr), DirectSoundErrorText(hr));
        }
    }
}
