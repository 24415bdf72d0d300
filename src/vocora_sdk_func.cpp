// The exported interface: argument checks, the build banner and the
// force-waveOut switch; everything else is the wrappers'.
#include "vocora.h"

#include "log/log.h"
#include "vocora_manager.h"

namespace {

uint32_t sm_ulGlobalInitCount = 0;

// The repeated-initialisation message carries this text, which stays empty.
const char sm_szInitedNote[] = "";

}  // namespace

// Rejects a null argument with the one message every export uses.
#define VOCORA_REQUIRE(pszFunction, pArg)          \
    do {                                           \
        if ((pArg) == nullptr) {                   \
            VOCORA_LOG_NULL((pszFunction), #pArg); \
            return VOCORA_ERR_INVALID_ARG;         \
        }                                          \
    } while (0)

extern "C" {

uint32_t VOCORA_CALL Vocora_SetLogCB(VocoraLogCallback pfCB)
{
    VOCORA_REQUIRE("Vocora_SetLogCB", pfCB);
    return Log_SetLogCallback(pfCB);
}

uint32_t VOCORA_CALL Vocora_SetLogLevel(int32_t lLevel)
{
    return Log_SetLogLevel(lLevel);
}

uint32_t VOCORA_CALL Vocora_GlobalInit(void)
{
    if (sm_ulGlobalInitCount == 0) {
        sm_ulGlobalInitCount = 1;
        VOCORA_LOG(VOCORA_LOG_INFO, "Vocora_GlobalInit",
                   "Vocora Build Date: %s %s, Version: %d.%d.%d.", __DATE__, __TIME__, 0, 0, 0);
    } else {
        VOCORA_LOG(VOCORA_LOG_WARNING, "Vocora_GlobalInit", "Vocora Is Inited %s.",
                   sm_szInitedNote);
    }
    return VOCORA_OK;
}

uint32_t VOCORA_CALL Vocora_Init(void)
{
    return Vocora_Init_Wrapper();
}

uint32_t VOCORA_CALL Vocora_Cleanup(void)
{
    Vocora_Cleanup_Wrapper();
    return VOCORA_OK;
}

uint32_t VOCORA_CALL Vocora_DeviceDetect(uint32_t, const AudioParam* pstAudioParam)
{
    VOCORA_REQUIRE("Vocora_DeviceDetect", pstAudioParam);
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t VOCORA_CALL Vocora_CreatePlayDec(const AudioParam* pstAudioParam,
                                          VocoraPlayHandle* phAudioPlayDec)
{
    VOCORA_REQUIRE("Vocora_CreatePlayDec", pstAudioParam);
    VOCORA_REQUIRE("Vocora_CreatePlayDec", phAudioPlayDec);
    return Vocora_CreatePlayDec_Wrapper(pstAudioParam, phAudioPlayDec);
}

uint32_t VOCORA_CALL Vocora_DestoryPlayDec(VocoraPlayHandle phAudioPlayDec)
{
    VOCORA_REQUIRE("Vocora_DestoryPlayDec", phAudioPlayDec);
    return Vocora_DestoryPlayDec_Wrapper(phAudioPlayDec);
}

uint32_t VOCORA_CALL Vocora_PlayStart(VocoraPlayHandle phAudioPlayDec)
{
    VOCORA_REQUIRE("Vocora_PlayStart", phAudioPlayDec);
    return Vocora_PlayStart_Wrapper(phAudioPlayDec);
}

uint32_t VOCORA_CALL Vocora_PlayStop(VocoraPlayHandle phAudioPlayDec)
{
    VOCORA_REQUIRE("Vocora_PlayStop", phAudioPlayDec);
    return Vocora_PlayStop_Wrapper(phAudioPlayDec);
}

uint32_t VOCORA_CALL Vocora_Play(VocoraPlayHandle phAudioPlayDec, uint8_t* pucData,
                                 uint32_t ulLength)
{
    VOCORA_REQUIRE("Vocora_Play", phAudioPlayDec);
    VOCORA_REQUIRE("Vocora_Play", pucData);
    return Vocora_Play_Wrapper(phAudioPlayDec, pucData, ulLength);
}

uint32_t VOCORA_CALL Vocora_SetPlayVolume(VocoraPlayHandle phAudioPlayDec, uint32_t ulVolume)
{
    VOCORA_REQUIRE("Vocora_SetPlayVolume", phAudioPlayDec);
    return Vocora_SetPlayVolume_Wrapper(phAudioPlayDec, ulVolume);
}

uint32_t VOCORA_CALL Vocora_GetPlayVolume(VocoraPlayHandle phAudioPlayDec, int32_t* plVolume)
{
    VOCORA_REQUIRE("Vocora_GetPlayVolume", phAudioPlayDec);
    VOCORA_REQUIRE("Vocora_GetPlayVolume", plVolume);
    return Vocora_GetPlayVolume_Wrapper(phAudioPlayDec, plVolume);
}

uint32_t VOCORA_CALL Vocora_CreateCaptureDec(const AudioParam* pstAudioParam,
                                             uint32_t ulSelector,
                                             VocoraCaptureHandle* hAudioCaptureDec)
{
    VOCORA_REQUIRE("Vocora_CreateCaptureDec", pstAudioParam);
    VOCORA_REQUIRE("Vocora_CreateCaptureDec", hAudioCaptureDec);
    return Vocora_CreateCaptureDec_Wrapper(pstAudioParam, ulSelector, hAudioCaptureDec);
}

uint32_t VOCORA_CALL Vocora_SetMicVolume(VocoraCaptureHandle hAudioCaptureDec, uint32_t ulVolume)
{
    VOCORA_REQUIRE("Vocora_SetMicVolume", hAudioCaptureDec);
    return Vocora_SetMicVolume_Wrapper(hAudioCaptureDec, ulVolume);
}

uint32_t VOCORA_CALL Vocora_GetMicVolume(VocoraCaptureHandle hAudioCaptureDec, int32_t* plVolume)
{
    VOCORA_REQUIRE("Vocora_GetMicVolume", hAudioCaptureDec);
    VOCORA_REQUIRE("Vocora_GetMicVolume", plVolume);
    return Vocora_GetMicVolume_Wrapper(hAudioCaptureDec, plVolume);
}

uint32_t VOCORA_CALL Vocora_SetCaptureCallBack(VocoraCaptureHandle hAudioCaptureDec,
                                               VocoraCaptureCallback pfnAudioCaptureCallBack,
                                               void* pUserData)
{
    VOCORA_REQUIRE("Vocora_SetCaptureCallBack", hAudioCaptureDec);
    VOCORA_REQUIRE("Vocora_SetCaptureCallBack", pfnAudioCaptureCallBack);
    return Vocora_SetCaptureCallBack_Wrapper(hAudioCaptureDec, pfnAudioCaptureCallBack,
                                             pUserData);
}

uint32_t VOCORA_CALL Vocora_DestoryCaptureDec(VocoraCaptureHandle hAudioCaptureDec)
{
    VOCORA_REQUIRE("Vocora_DestoryCaptureDec", hAudioCaptureDec);
    return Vocora_DestoryCaptureDec_Wrapper(hAudioCaptureDec);
}

void VOCORA_CALL Vocora_ForceUseWaveout(void)
{
    sm_bForceUseWaveout = 1;
}

}  // extern "C"
