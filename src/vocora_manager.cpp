#include "vocora_manager.h"

uint32_t sm_bUseDirectSoundPlay = 0;
uint32_t sm_bUseAecCapture = 0;
uint32_t sm_bForceUseWaveout = 0;

// No playback or capture backend is built into the library yet: initialisation
// finds nothing usable, no handle can be created, and every handle call says
// so instead of pretending to work.

uint32_t Vocora_Init_Wrapper()
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

void Vocora_Cleanup_Wrapper() {}

uint32_t Vocora_CreatePlayDec_Wrapper(const AudioParam*, VocoraPlayHandle*)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_DestoryPlayDec_Wrapper(VocoraPlayHandle)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_PlayStart_Wrapper(VocoraPlayHandle)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_PlayStop_Wrapper(VocoraPlayHandle)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_Play_Wrapper(VocoraPlayHandle, uint8_t*, uint32_t)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_SetPlayVolume_Wrapper(VocoraPlayHandle, uint32_t)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_GetPlayVolume_Wrapper(VocoraPlayHandle, int32_t*)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_CreateCaptureDec_Wrapper(const AudioParam*, uint32_t, VocoraCaptureHandle*)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_SetMicVolume_Wrapper(VocoraCaptureHandle, uint32_t)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_GetMicVolume_Wrapper(VocoraCaptureHandle, int32_t*)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_SetCaptureCallBack_Wrapper(VocoraCaptureHandle, VocoraCaptureCallback, void*)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t Vocora_DestoryCaptureDec_Wrapper(VocoraCaptureHandle)
{
    return VOCORA_ERR_NOT_AVAILABLE;
}
