#include "vocora_manager.h"

#include <atomic>
#include <new>

#include "aec/aceaudiocapture.h"
#include "common/audio_base.h"
#include "common/func_macros.h"
#include "directsound/directsoundcapture.h"
#include "directsound/directsoundplay.h"
#include "log/log.h"
#include "winmm/waveoutplay.h"

uint32_t sm_bUseDirectSoundPlay = 0;
uint32_t sm_bUseAecCapture = 0;
uint32_t sm_bForceUseWaveout = 0;

namespace {

CLiveHandles<CAudioPlayBase> sm_oLivePlayers("playback");
CLiveHandles<CAudioCaptureBase> sm_oLiveCaptures("capture");

using CPlayerUse = CLiveHandles<CAudioPlayBase>::CUse;
using CCaptureUse = CLiveHandles<CAudioCaptureBase>::CUse;

// A host that unloads the library while a handle lives would leave its worker
// threads and timers running in unmapped code: from the first handle on, the
// library stays loaded until the process ends.
void KeepLibraryLoaded()
{
    static std::atomic<bool> sm_bPinned{false};
    HMODULE hSelf = nullptr;
    if (!sm_bPinned.exchange(true) &&
        !Platform().pfnGetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                          reinterpret_cast<LPCWSTR>(&sm_bPinned), &hSelf)) {
        VOCORA_LOG(VOCORA_LOG_WARNING, "KeepLibraryLoaded", "the library could not be kept loaded, Error:[%lu].",
                   Platform().pfnGetLastError());
    }
}

// A device made and started becomes the host's handle.
template <class TDevice, class THandle>
uint32_t HandOut(CLiveHandles<TDevice>& oLive, TDevice* poDevice, THandle* phHandle)
{
    KeepLibraryLoaded();
    oLive.Add(poDevice);
    *phHandle = reinterpret_cast<THandle>(poDevice);
    return VOCORA_OK;
}

// A capture device of the kind asked for, or nullptr (logged).
CAudioCaptureBase* NewCaptureDevice(bool bEchoCancelling)
{
    CAudioCaptureBase* poSoundCapture = nullptr;
    if (bEchoCancelling) {
        poSoundCapture = new (std::nothrow) CAecAudioCapture();
    } else {
        poSoundCapture = new (std::nothrow) CDirectSoundCapture();
    }
    if (poSoundCapture == nullptr) {
        VOCORA_LOG_NULL("Vocora_CreateCaptureDec_Wrapper", "poSoundCapture");
    }
    return poSoundCapture;
}

}  // namespace

// The order is fixed: capture is created from the module playback loads.
// Only capture's result is the host's; the others only enable a backend.
uint32_t Vocora_Init_Wrapper()
{
    if (DirectSoundInit() == VOCORA_OK) {
        sm_bUseDirectSoundPlay = 1;
    }
    if (AecAudioCaptureProbe() == VOCORA_OK) {
        sm_bUseAecCapture = 1;
    }
    return DirectSoundCaptureInit();
}

// The capture object goes before the module that implements it.
void Vocora_Cleanup_Wrapper()
{
    DirectSoundCaptureCleanup();
    DirectSoundCleanup();
    WaveOutReleaseLeftRings();
}

uint32_t Vocora_CreatePlayDec_Wrapper(const AudioParam* pstAudioParam,
                                      VocoraPlayHandle* phAudioPlayDec)
{
    CAudioPlayBase* poSoundPlay = nullptr;
    if (sm_bUseDirectSoundPlay == 1 && sm_bForceUseWaveout == 0) {
        poSoundPlay = new (std::nothrow) CDirectSoundPlay();
    } else {
        poSoundPlay = new (std::nothrow) CWaveOutPlay();
    }
    if (poSoundPlay == nullptr) {
        VOCORA_LOG_NULL("Vocora_CreatePlayDec_Wrapper", "poSoundPlay");
        return VOCORA_ERR_INVALID_ARG;
    }
    const uint32_t ulResult = poSoundPlay->Init(pstAudioParam);
    if (ulResult != VOCORA_OK) {
        delete poSoundPlay;
        return ulResult;
    }
    return HandOut(sm_oLivePlayers, poSoundPlay, phAudioPlayDec);
}

uint32_t Vocora_DestoryPlayDec_Wrapper(VocoraPlayHandle phAudioPlayDec)
{
    CAudioPlayBase* poSoundPlay = sm_oLivePlayers.Take(phAudioPlayDec, "Vocora_DestoryPlayDec_Wrapper");
    if (poSoundPlay == nullptr) {
        return VOCORA_ERR_INVALID_ARG;
    }
    poSoundPlay->Stop();
    const uint32_t ulResult = poSoundPlay->Close();
    delete poSoundPlay;
    return ulResult;
}

uint32_t Vocora_PlayStart_Wrapper(VocoraPlayHandle phAudioPlayDec)
{
    CPlayerUse oPlayer(sm_oLivePlayers, phAudioPlayDec, "Vocora_PlayStart_Wrapper", "PlayStart");
    return oPlayer ? oPlayer->Start() : VOCORA_ERR_INVALID_ARG;
}

uint32_t Vocora_PlayStop_Wrapper(VocoraPlayHandle phAudioPlayDec)
{
    CPlayerUse oPlayer(sm_oLivePlayers, phAudioPlayDec, "Vocora_PlayStop_Wrapper", "PlayStop");
    if (!oPlayer || RefusedOnOwnThread(oPlayer->OnOwnThread(), "Vocora_PlayStop_Wrapper", "PlayStop")) {
        return VOCORA_ERR_INVALID_ARG;
    }
    return oPlayer->Stop();
}

uint32_t Vocora_Play_Wrapper(VocoraPlayHandle phAudioPlayDec, uint8_t* pucData,
                             uint32_t ulLength)
{
    CPlayerUse oPlayer(sm_oLivePlayers, phAudioPlayDec, "Vocora_Play_Wrapper", "Play");
    return oPlayer ? oPlayer->Play(pucData, ulLength) : VOCORA_ERR_INVALID_ARG;
}

uint32_t Vocora_SetPlayVolume_Wrapper(VocoraPlayHandle phAudioPlayDec, uint32_t ulVolume)
{
    CPlayerUse oPlayer(sm_oLivePlayers, phAudioPlayDec, "Vocora_SetPlayVolume_Wrapper", "SetVolume");
    return oPlayer ? oPlayer->SetVolume(ulVolume) : VOCORA_ERR_INVALID_ARG;
}

uint32_t Vocora_GetPlayVolume_Wrapper(VocoraPlayHandle phAudioPlayDec, int32_t* plVolume)
{
    CPlayerUse oPlayer(sm_oLivePlayers, phAudioPlayDec, "Vocora_GetPlayVolume_Wrapper", "GetVolume");
    int32_t lVolume = 0;
    const uint32_t ulResult = oPlayer ? oPlayer->GetVolume(&lVolume) : VOCORA_ERR_INVALID_ARG;
    *plVolume = lVolume;
    return ulResult;
}

uint32_t Vocora_CreateCaptureDec_Wrapper(const AudioParam* pstAudioParam, uint32_t ulSelector,
                                         VocoraCaptureHandle* hAudioCaptureDec)
{
    const bool bEchoCancelling = ulSelector == 0 && sm_bUseAecCapture == 1;
    CAudioCaptureBase* poSoundCapture = NewCaptureDevice(bEchoCancelling);
    if (poSoundCapture == nullptr) {
        return VOCORA_ERR_INVALID_ARG;
    }
    // Where echo cancellation cannot be set up or started (it has logged why),
    // plain DirectSound capture stands in, and its result is the host's.
    if (bEchoCancelling) {
        if (poSoundCapture->Init(pstAudioParam) == VOCORA_OK && poSoundCapture->Start() == VOCORA_OK) {
            return HandOut(sm_oLiveCaptures, poSoundCapture, hAudioCaptureDec);
        }
        delete poSoundCapture;
        poSoundCapture = NewCaptureDevice(false);
        if (poSoundCapture == nullptr) {
            return VOCORA_ERR_INVALID_ARG;
        }
    }
    uint32_t ulResult = poSoundCapture->Init(pstAudioParam);
    if (ulResult != VOCORA_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "Vocora_CreateCaptureDec_Wrapper",
                   "Failed, CreateDec fail, Error:[0x%x].", ulResult);
        delete poSoundCapture;
        return ulResult;
    }
    ulResult = poSoundCapture->Start();
    if (ulResult != VOCORA_OK) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "Vocora_CreateCaptureDec_Wrapper",
                   "Failed, CreateDec fail, Error:[0x%x].", ulResult);
        poSoundCapture->Stop();
        delete poSoundCapture;
        return ulResult;
    }
    return HandOut(sm_oLiveCaptures, poSoundCapture, hAudioCaptureDec);
}

uint32_t Vocora_SetMicVolume_Wrapper(VocoraCaptureHandle hAudioCaptureDec, uint32_t ulVolume)
{
    CCaptureUse oCapture(sm_oLiveCaptures, hAudioCaptureDec, "Vocora_SetMicVolume_Wrapper", "SetVolume");
    if (!oCapture) {
        return VOCORA_ERR_INVALID_ARG;
    }
    const uint32_t ulResult = SetMicVolume(ulVolume);
    if (ulResult != VOCORA_OK) {
        return ulResult;
    }
    return oCapture->SetVolume(ulVolume);
}

// The level is the system's, whatever device stands behind the handle.
uint32_t Vocora_GetMicVolume_Wrapper(VocoraCaptureHandle, int32_t* plVolume)
{
    uint32_t ulVolume = 0;
    const uint32_t ulResult = GetMicVolume(&ulVolume);
    if (ulResult == VOCORA_OK) {
        *plVolume = static_cast<int32_t>(ulVolume);
    }
    return ulResult;
}

uint32_t Vocora_SetCaptureCallBack_Wrapper(VocoraCaptureHandle hAudioCaptureDec,
                                           VocoraCaptureCallback pfnAudioCaptureCallBack,
                                           void* pUserData)
{
    CCaptureUse oCapture(sm_oLiveCaptures, hAudioCaptureDec, "Vocora_SetCaptureCallBack_Wrapper", "SetCaptureCallBack");
    return oCapture ? oCapture->SetCaptureCallBack(pfnAudioCaptureCallBack, pUserData) : VOCORA_ERR_INVALID_ARG;
}

uint32_t Vocora_DestoryCaptureDec_Wrapper(VocoraCaptureHandle hAudioCaptureDec)
{
    CAudioCaptureBase* poSoundCapture = sm_oLiveCaptures.Take(hAudioCaptureDec, "Vocora_DestoryCaptureDec_Wrapper");
    if (poSoundCapture == nullptr) {
        return VOCORA_ERR_INVALID_ARG;
    }
    poSoundCapture->Stop();
    const uint32_t ulResult = poSoundCapture->Close();
    delete poSoundCapture;
    CloseMixer();
    return ulResult;
}
