// Backend selection and the handle wrappers behind the exports. The exports
// have rejected null pointers before any wrapper runs.
#ifndef VOCORA_MANAGER_H
#define VOCORA_MANAGER_H

#include <cstdint>

#include "vocora.h"

// Process-wide backend flags: 0 at load, only ever set to 1.
extern uint32_t sm_bUseDirectSoundPlay;
extern uint32_t sm_bUseAecCapture;
extern uint32_t sm_bForceUseWaveout;

uint32_t Vocora_Init_Wrapper();
void Vocora_Cleanup_Wrapper();

uint32_t Vocora_CreatePlayDec_Wrapper(const AudioParam* pstAudioParam,
                                      VocoraPlayHandle* phAudioPlayDec);
uint32_t Vocora_DestoryPlayDec_Wrapper(VocoraPlayHandle phAudioPlayDec);
uint32_t Vocora_PlayStart_Wrapper(VocoraPlayHandle phAudioPlayDec);
uint32_t Vocora_PlayStop_Wrapper(VocoraPlayHandle phAudioPlayDec);
uint32_t Vocora_Play_Wrapper(VocoraPlayHandle phAudioPlayDec, uint8_t* pucData,
                             uint32_t ulLength);
uint32_t Vocora_SetPlayVolume_Wrapper(VocoraPlayHandle phAudioPlayDec, uint32_t ulVolume);
uint32_t Vocora_GetPlayVolume_Wrapper(VocoraPlayHandle phAudioPlayDec, int32_t* plVolume);

uint32_t Vocora_CreateCaptureDec_Wrapper(const AudioParam* pstAudioParam, uint32_t ulSelector,
                                         VocoraCaptureHandle* hAudioCaptureDec);
uint32_t Vocora_SetMicVolume_Wrapper(VocoraCaptureHandle hAudioCaptureDec, uint32_t ulVolume);
uint32_t Vocora_GetMicVolume_Wrapper(VocoraCaptureHandle hAudioCaptureDec, int32_t* plVolume);
uint32_t Vocora_SetCaptureCallBack_Wrapper(VocoraCaptureHandle hAudioCaptureDec,
                                           VocoraCaptureCallback pfnAudioCaptureCallBack,
                                           void* pUserData);
uint32_t Vocora_DestoryCaptureDec_Wrapper(VocoraCaptureHandle hAudioCaptureDec);

#endif
