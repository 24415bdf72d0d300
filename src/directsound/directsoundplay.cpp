#include "directsound/directsoundplay.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "common/func_macros.h"
#include "directsound/directsoundcapture.h"
#include "log/log.h"

HMODULE sm_hDSoundModule = nullptr;
PfnDirectSoundCreate8 sm_pfnDirectSoundCreate8 = nullptr;
IDirectSound8* sm_gpDSound = nullptr;

namespace {

// Guards the process-wide objects below and above, which a player's thread
// replaces when the device object dies, besides the host's set-up and clean-up.
std::mutex sm_mtxRuntime;
uint32_t sm_ulDeviceEpoch = 0;                // counts the device objects made
CDirectSoundPlay* sm_poPlayers = nullptr;     // every initialised player
uint32_t sm_ulModuleHolders = 0;              // devices holding objects of the module
uint32_t sm_ulPendingUnloads = 0;             // clean-ups that left the module to the last holder
HMODULE sm_hPendingModule = nullptr;

// IDirectSoundBuffer8, spelled out so that no GUID library is needed.
const GUID kIidDirectSoundBuffer8 = {
    0x6825a449, 0x7524, 0x4d82, {0x92, 0x0f, 0x50, 0xe3, 0x6a, 0xb3, 0xab, 0x1e}};

constexpr uint32_t kulMinBufferBytes = 4;
constexpr uint32_t kulMaxBufferBytes = 0x0FFFFFFF;

int32_t VolumeToAttenuation(int32_t lVolume)
{
    if (lVolume > 255) {
        return DSBVOLUME_MAX;
    }
    if (lVolume <= 0) {
        return DSBVOLUME_MIN;
    }
    return static_cast<int32_t>(2000.0 * std::log10(static_cast<double>(lVolume) / 255.0));
}

// The exponent is rounded to single precision and the power taken there: that
// is what makes every volume 1..255 read back as it was set.
int32_t AttenuationToVolume(int32_t lAttenuation)
{
    const float fExponent = static_cast<float>(static_cast<double>(lAttenuation) / 2000.0);
    const float fRatio = std::pow(10.0f, fExponent);
    return static_cast<int32_t>(255.0 * static_cast<double>(fRatio));
}

}  // namespace

const char* DirectSoundErrorText(HRESULT hr)
{
    switch (static_cast<uint32_t>(hr)) {
    case 0x80004001: return "Function not supported";
    case 0x80004002: return "Unsupported interface -- Is DirectX 8.0 or later installed?";
    case 0x8007000E: return "Out of memory";
    case 0x80070057: return "Invalid parameter";
    case 0x8878000A: return "Audio device in use";
    case 0x8878001E: return "Control requested is not available";
    case 0x88780032: return "Invalid call for the current state";
    case 0x88780046: return "Caller doesn't have priority";
    case 0x88780064: return "Unsupported audio format";
    case 0x88780078: return "No audio device found";
    case 0x88780096: return "Mixing buffer was lost";
    default: return "Unknown DirectSound error";
    }
}

namespace {

// Creates the device object for the default playback device. Set-up reports
// each failure; a player replacing a dead object says nothing until it succeeds.
uint32_t CreateDeviceObject(bool bReport)
{
    HRESULT hr = sm_pfnDirectSoundCreate8(nullptr, &sm_gpDSound, nullptr);
    if (hr != DS_OK) {
        if (bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "DirectSoundInit",
                       "DirectSoundInit Failed, DirectSoundCreate8 failed(retcode:%d, errormsg:%s).",
                       static_cast<int>(hr), DirectSoundErrorText(hr));
        }
        // A success code other than DS_OK may still have handed out an object.
        if (sm_gpDSound != nullptr) {
            std::exchange(sm_gpDSound, nullptr)->Release();
        }
        return VOCORA_PLAY_ERR_CREATE_DEVICE;
    }
    hr = sm_gpDSound->SetCooperativeLevel(Platform().pfnGetDesktopWindow(), DSSCL_NORMAL);
    if (hr != DS_OK) {
        if (bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "DirectSoundInit",
                       "DirectSoundInit Failed, SetCooperativeLevel failed(retcode:%d, errormsg:%s)",
                       static_cast<int>(hr), DirectSoundErrorText(hr));
        }
        std::exchange(sm_gpDSound, nullptr)->Release();
        return VOCORA_PLAY_ERR_COOPERATIVE_LEVEL;
    }
    ++sm_ulDeviceEpoch;
    return VOCORA_OK;
}

// The process-wide device object, with a reference for the caller, made when
// missing. With bDead the caller found the object of epoch *pulEpoch dead:
// unless another player replaced it already, every player's buffer goes
// first, since the platform hands out a new object only once nothing holds
// the old one.
CComPtr<IDirectSound8> DirectSoundDevice(bool bDead, uint32_t* pulEpoch)
{
    std::lock_guard<std::mutex> oLock(sm_mtxRuntime);
    if (bDead && *pulEpoch == sm_ulDeviceEpoch && sm_gpDSound != nullptr) {
        for (CDirectSoundPlay* poPlayer = sm_poPlayers; poPlayer != nullptr; poPlayer = poPlayer->m_poNextPlayer) {
            poPlayer->DropBuffer();
        }
        std::exchange(sm_gpDSound, nullptr)->Release();
    }
    if (sm_gpDSound == nullptr && sm_pfnDirectSoundCreate8 != nullptr) {
        CreateDeviceObject(false);
    }
    *pulEpoch = sm_ulDeviceEpoch;
    return CComPtr<IDirectSound8>::Share(sm_gpDSound);
}

void ListPlayer(CDirectSoundPlay* poPlayer, bool bListed)
{
    std::lock_guard<std::mutex> oLock(sm_mtxRuntime);
    CDirectSoundPlay** ppoAt = &sm_poPlayers;
    while (*ppoAt != nullptr && *ppoAt != poPlayer) {
        ppoAt = &(*ppoAt)->m_poNextPlayer;
    }
    if (bListed && *ppoAt == nullptr) {
        *ppoAt = poPlayer;
    } else if (!bListed && *ppoAt != nullptr) {
        *ppoAt = poPlayer->m_poNextPlayer;
        poPlayer->m_poNextPlayer = nullptr;
    }
}

}  // namespace

uint32_t DirectSoundLoadLibrary()
{
    sm_hDSoundModule = Platform().pfnLoadLibraryA("DSOUND.DLL");
    if (sm_hDSoundModule == nullptr) {
        return VOCORA_ERR_NOT_AVAILABLE;
    }
    sm_pfnDirectSoundCreate8 = reinterpret_cast<PfnDirectSoundCreate8>(
        reinterpret_cast<void*>(Platform().pfnGetProcAddress(sm_hDSoundModule, "DirectSoundCreate8")));
    if (sm_pfnDirectSoundCreate8 == nullptr) {
        DirectSoundFreeLibrary();
        return VOCORA_ERR_NOT_AVAILABLE;
    }
    return VOCORA_OK;
}

uint32_t DirectSoundFreeLibrary()
{
    std::lock_guard<std::mutex> oLock(sm_mtxRuntime);
    if (sm_gpDSound != nullptr) {
        std::exchange(sm_gpDSound, nullptr)->Release();
    }
    // Every entry point resolved from the module goes with it.
    sm_pfnDirectSoundCreate8 = nullptr;
    sm_pfnDirectSoundCaptureCreate8 = nullptr;
    if (sm_hDSoundModule != nullptr) {
        // Handles still playing or capturing run code of the module.
        if (sm_ulModuleHolders == 0) {
            Platform().pfnFreeLibrary(sm_hDSoundModule);
        } else {
            sm_hPendingModule = sm_hDSoundModule;
            ++sm_ulPendingUnloads;
        }
        sm_hDSoundModule = nullptr;
    }
    return VOCORA_OK;
}

void DirectSoundHoldModule()
{
    std::lock_guard<std::mutex> oLock(sm_mtxRuntime);
    ++sm_ulModuleHolders;
}

void DirectSoundLetGoModule()
{
    std::lock_guard<std::mutex> oLock(sm_mtxRuntime);
    if (--sm_ulModuleHolders == 0) {
        for (; sm_ulPendingUnloads != 0; --sm_ulPendingUnloads) {
            Platform().pfnFreeLibrary(sm_hPendingModule);
        }
    }
}

uint32_t DirectSoundInit()
{
    // A repeated initialisation keeps what an earlier one set up: the device
    // object stays the one every existing player was created from, and the
    // module is never loaded twice.
    if (sm_gpDSound != nullptr) {
        return VOCORA_OK;
    }
    if (sm_pfnDirectSoundCreate8 == nullptr && DirectSoundLoadLibrary() != VOCORA_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "DirectSoundInit",
                   "DirectSoundInit Failed, system unspport  dsound to play and capture, use other");
        return VOCORA_ERR_NOT_AVAILABLE;
    }
    std::lock_guard<std::mutex> oLock(sm_mtxRuntime);
    return CreateDeviceObject(true);
}

uint32_t DirectSoundCleanup()
{
    return DirectSoundFreeLibrary();
}

CDirectSoundPlay::CDirectSoundPlay() = default;

CDirectSoundPlay::~CDirectSoundPlay()
{
    Close();
}

uint32_t CDirectSoundPlay::Init(const AudioParam* pstAudioParam)
{
    CComPtr<IDirectSound8> pDevice = DirectSoundDevice(false, &m_ulDeviceEpoch);
    if (!pDevice) {
        VOCORA_LOG_NULL("CDirectSoundPlay::Init", "sm_gpDSound");
        return VOCORA_ERR_INVALID_ARG;
    }
    m_stFormat = PcmWaveFormat(pstAudioParam->ulSampleRate, pstAudioParam->ulChannels, pstAudioParam->ulBitsPerSample);
    VOCORA_LOG(VOCORA_LOG_INFO, "CDirectSoundPlay::Init",
               "CDirectSoundPlay::Init Channels(%d) SampleRate(%d) BitsPerSample(%d).",
               pstAudioParam->ulChannels, pstAudioParam->ulSampleRate,
               pstAudioParam->ulBitsPerSample);

    while (m_ulFramesPerBlock < m_ulSampleRate / 1000 * 46) {
        m_ulFramesPerBlock *= 2;
    }
    const uint64_t ullBlock =
        pstAudioParam->ulDataLen != 0
            ? pstAudioParam->ulDataLen
            : uint64_t{pstAudioParam->ulBitsPerSample / 8} * pstAudioParam->ulChannels *
                  m_ulFramesPerBlock;
    if (ullBlock == 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Init",
                   "CDirectSoundPlay::Init Failed, Data len is 0.");
        return VOCORA_ERR_ZERO_BLOCK;
    }
    const uint64_t ullBufferBytes = kulBlocksInBuffer * ullBlock;
    if (ullBufferBytes < kulMinBufferBytes || ullBufferBytes > kulMaxBufferBytes) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Init",
                   "CDirectSoundPlay::Init Failed, Sound buffer size must be between %d and %d",
                   static_cast<int>(kulMinBufferBytes), static_cast<int>(kulMaxBufferBytes));
        return VOCORA_ERR_INVALID_ARG;
    }
    const auto ulBlock = static_cast<uint32_t>(ullBlock);
    if (!IsPlainPcmFormat(pstAudioParam->ulSampleRate, pstAudioParam->ulChannels, pstAudioParam->ulBitsPerSample)) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Init",
                   "CDirectSoundPlay::Init Failed, CreateSoundBuffer Failed, Error:[%d], ErrorMsg:%s.",
                   static_cast<int>(DSERR_BADFORMAT), DirectSoundErrorText(DSERR_BADFORMAT));
        return VOCORA_PLAY_ERR_NO_DEVICE;
    }

    m_ulPcmDataBufferSize = kulBlocksStaged * ulBlock;
    m_pucPcmDataBuffer = AllocatePlatformBuffer(m_ulPcmDataBufferSize);
    if (!m_pucPcmDataBuffer) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Init",
                   "CDirectSoundPlay::Init Failed, malloc pcm data buffer fail.");
        ReleaseBuffers();
        return VOCORA_ERR_NO_MEMORY;
    }
    m_pucPcmReadBuffer = AllocatePlatformBuffer(ulBlock);
    if (!m_pucPcmReadBuffer) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Init",
                   "CDirectSoundPlay::Init Failed, malloc pcm read buffer fail.");
        ReleaseBuffers();
        return VOCORA_ERR_NO_MEMORY;
    }

    m_stBufferDesc = {};
    m_stBufferDesc.dwSize = sizeof m_stBufferDesc;
    m_stBufferDesc.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    m_stBufferDesc.dwBufferBytes = static_cast<DWORD>(ullBufferBytes);
    const uint32_t ulResult = CreateBuffer(pDevice.Get(), m_pSoundBuffer);
    if (ulResult != VOCORA_OK) {
        ReleaseBuffers();
        return ulResult;
    }
    m_pDevice = std::move(pDevice);
    m_ulBlockSize = ulBlock;
    ListPlayer(this, true);
    DirectSoundHoldModule();
    m_bHoldsModule = true;
    return VOCORA_OK;
}

// A sound buffer as the description asks, from pDevice. Reported by Init;
// the play thread, making a buffer after a loss, reports nothing.
uint32_t CDirectSoundPlay::CreateBuffer(IDirectSound8* pDevice, CComPtr<IDirectSoundBuffer8>& pBuffer8)
{
    const bool bReport = !m_bLost;
    DSBUFFERDESC stDesc = m_stBufferDesc;
    stDesc.lpwfxFormat = &m_stFormat;
    CComPtr<IDirectSoundBuffer> pBuffer;
    HRESULT hr = pDevice->CreateSoundBuffer(&stDesc, pBuffer.Put(), nullptr);
    if (hr != DS_OK) {
        if (bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Init",
                       "CDirectSoundPlay::Init Failed, CreateSoundBuffer Failed, Error:[%d], ErrorMsg:%s.",
                       static_cast<int>(hr), DirectSoundErrorText(hr));
        }
        return VOCORA_PLAY_ERR_NO_DEVICE;
    }
    hr = pBuffer->QueryInterface(kIidDirectSoundBuffer8, reinterpret_cast<void**>(pBuffer8.Put()));
    if (hr != S_OK) {
        if (bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Init",
                       "CDirectSoundPlay::Init Failed, QueryInterface Failed, Error:[%d], ErrorMsg:%s.",
                       static_cast<int>(hr), DirectSoundErrorText(hr));
        }
        return VOCORA_PLAY_ERR_NO_DEVICE;
    }
    return VOCORA_OK;
}

void CDirectSoundPlay::ReleaseBuffers()
{
    m_pucPcmDataBuffer.reset();
    m_pucPcmReadBuffer.reset();
    std::lock_guard<std::mutex> oLock(m_mtxBuffer);
    m_pSoundBuffer.Reset();
    m_pDevice.Reset();
}

CComPtr<IDirectSoundBuffer8> CDirectSoundPlay::Buffer()
{
    std::lock_guard<std::mutex> oLock(m_mtxBuffer);
    return CComPtr<IDirectSoundBuffer8>::Share(m_pSoundBuffer.Get());
}

void CDirectSoundPlay::DropBuffer()
{
    std::lock_guard<std::mutex> oLock(m_mtxBuffer);
    if (m_pSoundBuffer) {
        m_bDropped = true;
    }
    m_pSoundBuffer.Reset();
    m_pDevice.Reset();
}

uint32_t CDirectSoundPlay::Start()
{
    CComPtr<IDirectSoundBuffer8> pBuffer = Buffer();
    // A player whose device is gone starts its thread all the same: the
    // thread makes its buffer anew once the device returns.
    if (!m_pucPcmDataBuffer || (!pBuffer && !m_bDropped)) {
        VOCORA_LOG_NULL("CDirectSoundPlay::Start", "m_pSoundBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    // Already started: one play thread owns the sound buffer, a second would
    // race it over the cursor and the staging queue, so this changes nothing.
    if (m_hPlayThread != nullptr) {
        return VOCORA_OK;
    }
    HRESULT hr = pBuffer ? pBuffer->SetCurrentPosition(0) : DS_OK;
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Start",
                   "CDirectSoundPlay::Start Failed, SetCurrentPosition Failed, Error:[%d], ErrorMsg:%s.",
                   static_cast<int>(hr), DirectSoundErrorText(hr));
        return VOCORA_PLAY_ERR_SET_POSITION;
    }
    hr = pBuffer ? pBuffer->Play(0, 0, DSBPLAY_LOOPING) : DS_OK;
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Start",
                   "CDirectSoundPlay::Start Failed, Play Failed, Error:[%d], ErrorMsg:%s.",
                   static_cast<int>(hr), DirectSoundErrorText(hr));
        return VOCORA_PLAY_ERR_PLAY;
    }
    // From here on the buffer loops: a step that fails stops it again, or it
    // would repeat whatever it last held.
    const auto fnStopped = [&pBuffer](uint32_t ulResult) {
        if (pBuffer) {
            pBuffer->Stop();
        }
        return ulResult;
    };
    hr = pBuffer ? pBuffer->SetVolume(m_lVolume) : DS_OK;
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Start",
                   "CDirectSoundPlay::Start Failed, SetVolume Failed, Error:[%d], ErrorMsg:%s.",
                   static_cast<int>(hr), DirectSoundErrorText(hr));
        return fnStopped(VOCORA_PLAY_ERR_SET_VOLUME);
    }
    m_ulPlayBlock = 0;
    m_bRunning = 1;
    m_hPlayThread = reinterpret_cast<HANDLE>(
        Platform().pfnBeginThreadEx(nullptr, 0, &CDirectSoundPlay::SoundPlayThreadProc, this, 0,
                                    nullptr));
    if (m_hPlayThread == nullptr) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Start",
                   "CDirectSoundPlay::Start Failed, ZUVI_SDK_thr_create SoundPlay failed");
        m_bRunning = 0;
        return fnStopped(VOCORA_PLAY_ERR_NOT_STARTED);
    }
    return VOCORA_OK;
}

uint32_t CDirectSoundPlay::Stop()
{
    m_bRunning = 0;
    if (m_hPlayThread != nullptr) {
        Platform().pfnWaitForSingleObject(m_hPlayThread, INFINITE);
        Platform().pfnCloseHandle(m_hPlayThread);
        m_hPlayThread = nullptr;
    }
    if (CComPtr<IDirectSoundBuffer8> pBuffer = Buffer()) {
        pBuffer->Stop();
    }
    std::lock_guard<std::mutex> oLock(m_mtxPcmBuffer);
    m_ulReadPos = 0;
    m_ulWritePos = 0;
    return VOCORA_OK;
}

uint32_t CDirectSoundPlay::Close()
{
    Stop();
    ListPlayer(this, false);
    {
        std::lock_guard<std::mutex> oLock(m_mtxPcmBuffer);
        ReleaseBuffers();
    }
    if (std::exchange(m_bHoldsModule, false)) {
        DirectSoundLetGoModule();
    }
    return VOCORA_OK;
}

uint32_t CDirectSoundPlay::Play(uint8_t* pucData, uint32_t ulLength)
{
    // A closed player has no staging queue; one whose device is gone keeps
    // staging, to be played once its buffer is made anew.
    if (!m_pucPcmDataBuffer) {
        VOCORA_LOG_NULL("CDirectSoundPlay::Play", "m_pSoundBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    if (pucData == nullptr) {
        VOCORA_LOG_NULL("CDirectSoundPlay::Play", "pucData");
        return VOCORA_ERR_INVALID_ARG;
    }
    if (m_bRunning == 0) {
        return VOCORA_ERR_NOT_AVAILABLE;
    }
    const uint32_t ulResult = WriteAudioData(pucData, ulLength);
    if (ulResult == VOCORA_OK || ulResult == VOCORA_PLAY_STAGING_LOW ||
        ulResult == VOCORA_PLAY_STAGING_HIGH) {
        return VOCORA_OK;
    }
    VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::Play",
               "CDirectSoundPlay::Play Failed, WriteAudioData Failed, Error:[0x%x].", ulResult);
    return ulResult;
}

// While the device is gone the volume is kept, and set on the buffer made
// once it returns.
uint32_t CDirectSoundPlay::SetVolume(uint32_t ulVolume)
{
    CComPtr<IDirectSoundBuffer8> pBuffer = Buffer();
    if (!m_pucPcmDataBuffer || (!pBuffer && !m_bDropped)) {
        VOCORA_LOG_NULL("CDirectSoundPlay::SetVolume", "m_pSoundBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    const int32_t lAttenuation = VolumeToAttenuation(static_cast<int32_t>(ulVolume));
    const HRESULT hr = pBuffer ? pBuffer->SetVolume(lAttenuation) : DS_OK;
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::SetVolume",
                   "CDirectSoundPlay::SetVolume Failed, SetVolume Failed, Error:[%d], ErrorMsg:%s.",
                   static_cast<int>(hr), DirectSoundErrorText(hr));
        return VOCORA_PLAY_ERR_SET_VOLUME;
    }
    m_lVolume = lAttenuation;
    return VOCORA_OK;
}

uint32_t CDirectSoundPlay::GetVolume(int32_t* plVolume)
{
    CComPtr<IDirectSoundBuffer8> pBuffer = Buffer();
    if (!m_pucPcmDataBuffer || (!pBuffer && !m_bDropped)) {
        VOCORA_LOG_NULL("CDirectSoundPlay::GetVolume", "m_pSoundBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    LONG lAttenuation = m_lVolume;
    const HRESULT hr = pBuffer ? pBuffer->GetVolume(&lAttenuation) : DS_OK;
    if (hr != DS_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::GetVolume",
                   "CDirectSoundPlay::GetVolume Failed, GetVolume Failed, Error:[%d], ErrorMsg:%s.",
                   static_cast<int>(hr), DirectSoundErrorText(hr));
        return VOCORA_PLAY_ERR_GET_VOLUME;
    }
    m_lVolume = lAttenuation;
    *plVolume = AttenuationToVolume(lAttenuation);
    return VOCORA_OK;
}

unsigned __stdcall CDirectSoundPlay::SoundPlayThreadProc(void* pArgument)
{
    if (pArgument != nullptr) {
        static_cast<CDirectSoundPlay*>(pArgument)->PlayThread();
    }
    return 0;
}

// A failing step, or a device gone silent, is reported once; then, until the
// device plays again or the player stops, the buffer is made anew every half
// second.
uint32_t CDirectSoundPlay::PlayThread()
{
    const CWorkerThread::Scope oWorker(m_oWorker);
    while (m_bRunning == 1) {
        uint32_t ulResult = WaitPlayDone();
        const char* pszStep = "CDirectSoundPlay::PlayThread WaitPlayDone Failed, Error:[0x%x].";
        if (ulResult == VOCORA_OK) {
            ulResult = UpdatePlayBuffer();
            pszStep = "CDirectSoundPlay::PlayThread UpdatePlayBuffer Failed, Error:[0x%x].";
        }
        if (ulResult == VOCORA_OK) {
            if (m_bLost.exchange(false)) {
                VOCORA_LOG(VOCORA_LOG_INFO, "CDirectSoundPlay::PlayThread",
                           "CDirectSoundPlay::PlayThread the device plays again.");
            }
            continue;
        }
        if (!m_bLost) {
            if (ulResult == kulDeviceGone) {
                VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::PlayThread",
                           "CDirectSoundPlay::PlayThread Failed, the device has gone silent, reopening it.");
            } else {
                VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::PlayThread", pszStep, ulResult);
            }
            m_bLost = true;
        }
        do {
            Pause(kulRetryMs);
        } while (m_bRunning == 1 && Reopen() != VOCORA_OK);
    }
    return VOCORA_OK;
}

void CDirectSoundPlay::Pause(DWORD ulMs)
{
    for (DWORD ulWaited = 0; ulWaited < ulMs && m_bRunning == 1; ulWaited += 10) {
        Platform().pfnSleep(10);
    }
}

// A new buffer, from a new device object where the old one died, playing.
uint32_t CDirectSoundPlay::Reopen()
{
    const bool bDead = !m_bDropped;  // dropped: another player replaced the object already
    DropBuffer();
    CComPtr<IDirectSound8> pDevice = DirectSoundDevice(bDead, &m_ulDeviceEpoch);
    CComPtr<IDirectSoundBuffer8> pBuffer;
    if (!pDevice || CreateBuffer(pDevice.Get(), pBuffer) != VOCORA_OK || pBuffer->SetCurrentPosition(0) != DS_OK ||
        pBuffer->SetVolume(m_lVolume) != DS_OK || pBuffer->Play(0, 0, DSBPLAY_LOOPING) != DS_OK) {
        return kulDeviceGone;
    }
    std::lock_guard<std::mutex> oLock(m_mtxBuffer);
    m_pSoundBuffer = std::move(pBuffer);
    m_pDevice = std::move(pDevice);
    m_bDropped = false;
    m_ulPlayBlock = 0;
    return VOCORA_OK;
}

uint32_t CDirectSoundPlay::WaitPlayDone()
{
    const CComPtr<IDirectSoundBuffer8> pBuffer = Buffer();
    if (!pBuffer) {
        if (m_bDropped) {
            return kulDeviceGone;
        }
        VOCORA_LOG_NULL("CDirectSoundPlay::WaitPlayDone", "m_pSoundBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    const bool bReport = !m_bLost;
    DWORD ulWriteCursor = 0;
    DWORD ulLastCursor = 0;
    DWORD ulStillSince = GetTickCount();
    for (;;) {
        if (m_bRunning == 0) {
            return VOCORA_OK;
        }
        Platform().pfnSleep(1);
        DWORD ulStatus = 0;
        pBuffer->GetStatus(&ulStatus);
        if ((ulStatus & DSBSTATUS_BUFFERLOST) != 0) {
            pBuffer->Restore();
            pBuffer->GetStatus(&ulStatus);
            if ((ulStatus & DSBSTATUS_BUFFERLOST) != 0) {
                // The refill's lock then fails.
                break;
            }
        }
        if ((ulStatus & DSBSTATUS_PLAYING) == 0) {
            const HRESULT hr = pBuffer->Play(0, 0, DSBPLAY_LOOPING);
            if (hr != DS_OK) {
                if (bReport) {
                    VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::WaitPlayDone",
                               "CDirectSoundPlay::WaitPlayDone Play Failed, Error:[%d], ErrorMsg:%s.",
                               static_cast<int>(hr), DirectSoundErrorText(hr));
                }
                return VOCORA_PLAY_ERR_PLAY;
            }
        } else {
            DWORD ulPlayCursor = 0;
            const HRESULT hr = pBuffer->GetCurrentPosition(&ulPlayCursor, &ulWriteCursor);
            if (hr != DS_OK) {
                if (bReport) {
                    VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::WaitPlayDone",
                               "CDirectSoundPlay::WaitPlayDone Failed, DSound buffer GetCurrentPosition failed(retcode:%d, errormsg:%s)",
                               static_cast<int>(hr), DirectSoundErrorText(hr));
                }
                return VOCORA_PLAY_ERR_GET_POSITION;
            }
            // A device that has gone away may still report playing, with
            // a cursor that no longer moves.
            if (ulWriteCursor != ulLastCursor) {
                ulLastCursor = ulWriteCursor;
                ulStillSince = GetTickCount();
            } else if (GetTickCount() - ulStillSince > kulSilentMs) {
                return kulDeviceGone;
            }
        }
        if (ulWriteCursor / m_ulBlockSize != m_ulPlayBlock) {
            break;
        }
    }
    m_ulPlayBlock = ulWriteCursor / m_ulBlockSize;
    return VOCORA_OK;
}

uint32_t CDirectSoundPlay::UpdatePlayBuffer()
{
    const CComPtr<IDirectSoundBuffer8> pBuffer = Buffer();
    if (!pBuffer) {
        if (m_bDropped) {
            return kulDeviceGone;
        }
        VOCORA_LOG_NULL("CDirectSoundPlay::UpdatePlayBuffer", "m_pSoundBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    if (!m_pucPcmReadBuffer) {
        VOCORA_LOG_NULL("CDirectSoundPlay::UpdatePlayBuffer", "m_pucPcmReadBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    const bool bReport = !m_bLost;
    const DWORD ulOffset = ((m_ulPlayBlock + 1) % kulBlocksInBuffer) * m_ulBlockSize;
    void* pcBuffer = nullptr;
    DWORD ulLocked = 0;
    HRESULT hr = pBuffer->Lock(ulOffset, m_ulBlockSize, &pcBuffer, &ulLocked, nullptr, nullptr, 0);
    if (hr != DS_OK) {
        if (bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::UpdatePlayBuffer",
                       "CDirectSoundPlay::UpdatePlayBuffer Failed, Lock Failed, Error:[0x%x], ErrorMsg:%s.",
                       static_cast<unsigned>(hr), DirectSoundErrorText(hr));
        }
        return VOCORA_PLAY_ERR_WRITE;
    }
    if (pcBuffer == nullptr) {
        VOCORA_LOG_NULL("CDirectSoundPlay::UpdatePlayBuffer", "pcBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    auto* pucRegion = static_cast<uint8_t*>(pcBuffer);
    // The read buffer holds one block; a region is never larger than that.
    uint32_t ulTaken = ulLocked < m_ulBlockSize ? ulLocked : m_ulBlockSize;
    if (ReadAudioData(m_pucPcmReadBuffer.get(), &ulTaken) != VOCORA_OK) {
        std::memset(pucRegion, 0, ulLocked);
        Platform().pfnSleep(10);
    } else {
        std::memcpy(pucRegion, m_pucPcmReadBuffer.get(), ulTaken);
        std::memset(pucRegion + ulTaken, 0, ulLocked - ulTaken);
    }
    hr = pBuffer->Unlock(pcBuffer, ulLocked, nullptr, 0);
    if (hr != DS_OK) {
        if (bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CDirectSoundPlay::UpdatePlayBuffer",
                       "CDirectSoundPlay::UpdatePlayBuffer Failed, Unlock Failed, Error:[0x%x], ErrorMsg:%s.",
                       static_cast<unsigned>(hr), DirectSoundErrorText(hr));
        }
        return VOCORA_PLAY_ERR_UNLOCK;
    }
    return VOCORA_OK;
}

uint32_t CDirectSoundPlay::WriteAudioData(const uint8_t* pucPcmData, uint32_t ulLength)
{
    if (pucPcmData == nullptr) {
        VOCORA_LOG_NULL("CDirectSoundPlay::WriteAudioData", "pucPcmData");
        return VOCORA_ERR_INVALID_ARG;
    }
    std::lock_guard<std::mutex> oLock(m_mtxPcmBuffer);
    if (!m_pucPcmDataBuffer) {
        VOCORA_LOG_NULL("CDirectSoundPlay::WriteAudioData", "m_pucPcmDataBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    uint8_t* const pucArray = m_pucPcmDataBuffer.get();
    const uint32_t ulTail = m_ulPcmDataBufferSize - m_ulWritePos;
    if (ulTail < ulLength) {
        if (m_ulReadPos + ulTail < ulLength) {
            return VOCORA_ERR_NO_MEMORY;
        }
        // Not a ring: the unread bytes move to the front to make room.
        const uint32_t ulStaged = m_ulWritePos - m_ulReadPos;
        std::memmove(pucArray, pucArray + m_ulReadPos, ulStaged);
        m_ulReadPos = 0;
        m_ulWritePos = ulStaged;
    }
    std::memcpy(pucArray + m_ulWritePos, pucPcmData, ulLength);
    m_ulWritePos += ulLength;

    const uint32_t ulFill = m_ulWritePos - m_ulReadPos;
    const uint32_t ulQuarter = m_ulPcmDataBufferSize / 4;
    if (ulFill <= ulQuarter) {
        return VOCORA_PLAY_STAGING_LOW;
    }
    if (ulFill >= ulQuarter * 3) {
        return VOCORA_PLAY_STAGING_HIGH;
    }
    return VOCORA_OK;
}

uint32_t CDirectSoundPlay::ReadAudioData(uint8_t* pucPcmData, uint32_t* pulLength)
{
    if (pucPcmData == nullptr) {
        VOCORA_LOG_NULL("CDirectSoundPlay::ReadAudioData", "pucPcmData");
        return VOCORA_ERR_INVALID_ARG;
    }
    std::lock_guard<std::mutex> oLock(m_mtxPcmBuffer);
    if (!m_pucPcmReadBuffer) {
        VOCORA_LOG_NULL("CDirectSoundPlay::ReadAudioData", "m_pucPcmReadBuffer");
        return VOCORA_ERR_INVALID_ARG;
    }
    const uint32_t ulStaged = m_ulWritePos - m_ulReadPos;
    if (ulStaged == 0) {
        *pulLength = 0;
        return kulNothingStaged;
    }
    const uint32_t ulTaken = ulStaged < *pulLength ? ulStaged : *pulLength;
    std::memcpy(pucPcmData, m_pucPcmDataBuffer.get() + m_ulReadPos, ulTaken);
    m_ulReadPos += ulTaken;
    *pulLength = ulTaken;
    return VOCORA_OK;
}
