/*
 * vocora.h - public interface of vocora.dll.
 *
 * Plain C, usable from C and C++. Every function returns a VOCORA_* result
 * code (0 is success) except Vocora_ForceUseWaveout. Diagnostics reach the
 * host only through the log callback installed with Vocora_SetLogCB.
 *
 * Calling order for a host: Vocora_GlobalInit, Vocora_SetLogCB,
 * Vocora_SetLogLevel, Vocora_Init (optionally Vocora_ForceUseWaveout before
 * creating playback handles); create, use and destroy handles;
 * Vocora_Cleanup last.
 */
#ifndef VOCORA_H
#define VOCORA_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* x64 Windows has a single calling convention, so nothing needs declaring
 * there; a 32-bit host would need the C convention spelled out. */
#if defined(_WIN32) && !defined(_WIN64)
#define VOCORA_CALL __cdecl
#else
#define VOCORA_CALL
#endif

/* ---- Result codes ------------------------------------------------------ */

#define VOCORA_OK                          0x00000000u
/* Creating an indispensable resource failed (probe device, capture event),
 * or the waveOut device could not be reset when it was closed. */
#define VOCORA_ERR_RESOURCE                0x00000001u
/* A required argument or member is null, or an argument is not acceptable. */
#define VOCORA_ERR_INVALID_ARG             0x00000002u
#define VOCORA_ERR_NO_MEMORY               0x00000003u
/* Not supported or not available (DirectSound missing, device detection,
 * a DirectSound play call while the player is not running). */
#define VOCORA_ERR_NOT_AVAILABLE           0x00000004u

/* Capture and microphone volume. */
#define VOCORA_CAP_ERR_NO_INPUT_DEVICE     0x10000000u /* also: no mic volume control */
#define VOCORA_CAP_ERR_MIXER_OPEN          0x10000001u /* also: voice-capture engine setup */
#define VOCORA_CAP_ERR_MIXER_CAPS          0x10000002u
#define VOCORA_CAP_ERR_MIXER_LINE          0x10000003u
#define VOCORA_CAP_ERR_MIXER_CONTROLS      0x10000004u
#define VOCORA_CAP_ERR_SET_MIC_VOLUME      0x10000005u
#define VOCORA_CAP_ERR_GET_MIC_VOLUME      0x10000006u
#define VOCORA_CAP_ERR_CREATE_CAPTURE      0x10000007u /* also: notify interface query */
#define VOCORA_CAP_ERR_CREATE_BUFFER       0x10000008u
#define VOCORA_CAP_ERR_NOTIFY              0x10000009u
#define VOCORA_CAP_ERR_START               0x1000000Au
#define VOCORA_CAP_ERR_NO_OUTPUT_DEVICE    0x1000000Bu /* echo cancellation */
#define VOCORA_CAP_ERR_MANY_OUTPUT_DEVICES 0x1000000Cu /* echo cancellation */

/* Playback. */
#define VOCORA_PLAY_ERR_NO_DEVICE          0x20000000u /* also: DirectSound buffer creation */
#define VOCORA_PLAY_ERR_CREATE_DEVICE      0x20000001u
#define VOCORA_PLAY_ERR_COOPERATIVE_LEVEL  0x20000002u
#define VOCORA_PLAY_ERR_NOT_STARTED        0x20000003u /* also: play thread creation */
#define VOCORA_PLAY_ERR_GET_VOLUME         0x20000004u
#define VOCORA_PLAY_ERR_SET_VOLUME         0x20000005u
#define VOCORA_PLAY_ERR_WRITE              0x20000006u /* buffer lock, waveOut queueing */
#define VOCORA_PLAY_ERR_UNLOCK             0x20000007u
#define VOCORA_PLAY_ERR_PLAY               0x20000008u
#define VOCORA_ERR_ZERO_BLOCK              0x20000009u /* block length works out to 0 */
#define VOCORA_PLAY_ERR_GET_POSITION       0x2000000Bu
#define VOCORA_PLAY_ERR_SET_POSITION       0x2000000Cu
#define VOCORA_PLAY_STAGING_LOW            0x2000000Du /* notices; Vocora_Play reports */
#define VOCORA_PLAY_STAGING_HIGH           0x2000000Eu /* both as success */

/* ---- Log levels -------------------------------------------------------- */

#define VOCORA_LOG_NONE    0 /* also 1: nothing is delivered */
#define VOCORA_LOG_ERROR   2 /* failures and rejected arguments */
#define VOCORA_LOG_WARNING 3 /* tolerated conditions */
#define VOCORA_LOG_INFO    4 /* default: everything the library emits */
#define VOCORA_LOG_MAX     5

/* ---- Types ------------------------------------------------------------- */

/* The audio of one handle. ulDataLen is the bytes of one block (what one
 * Vocora_Play call hands over, or what one capture callback delivers);
 * 0 asks the device for its default. */
typedef struct AudioParam {
    uint32_t ulSampleRate;
    uint32_t ulChannels;
    uint32_t ulBitsPerSample;
    uint32_t ulDataLen;
} AudioParam;

/* Opaque handles; only null is rejected, so pass only live handles of the
 * right kind. */
typedef struct VocoraPlayDec_* VocoraPlayHandle;
typedef struct VocoraCaptureDec_* VocoraCaptureHandle;

/* Receives every delivered message unformatted: the callback formats it
 * (vsnprintf with pszFormat and vaArgs). All arguments are valid only during
 * the call. It may be entered on several threads at once. */
typedef void (VOCORA_CALL *VocoraLogCallback)(void* pContext, int32_t lLevel,
                                              const char* pszFile, uint32_t ulLine,
                                              const char* pszFunction,
                                              const char* pszFormat, va_list vaArgs);

/* Receives captured PCM on a worker thread; the data is valid only during the
 * call. Stopping or destroying its own handle from here is refused with
 * VOCORA_ERR_INVALID_ARG. */
typedef void (VOCORA_CALL *VocoraCaptureCallback)(const uint8_t* pucData, uint32_t ulLength,
                                                  void* pUserData);

/* ---- Functions --------------------------------------------------------- */

uint32_t VOCORA_CALL Vocora_SetLogCB(VocoraLogCallback pfCB);
/* 0..5; anything else returns VOCORA_ERR_INVALID_ARG and keeps the level. */
uint32_t VOCORA_CALL Vocora_SetLogLevel(int32_t lLevel);

uint32_t VOCORA_CALL Vocora_GlobalInit(void);
/* Probes the backends; COM must be initialised on the calling thread. */
uint32_t VOCORA_CALL Vocora_Init(void);
uint32_t VOCORA_CALL Vocora_Cleanup(void);
/* Not supported: always VOCORA_ERR_NOT_AVAILABLE for a non-null record. */
uint32_t VOCORA_CALL Vocora_DeviceDetect(uint32_t ulDevice, const AudioParam* pstAudioParam);

uint32_t VOCORA_CALL Vocora_CreatePlayDec(const AudioParam* pstAudioParam,
                                          VocoraPlayHandle* phAudioPlayDec);
uint32_t VOCORA_CALL Vocora_DestoryPlayDec(VocoraPlayHandle phAudioPlayDec);
uint32_t VOCORA_CALL Vocora_PlayStart(VocoraPlayHandle phAudioPlayDec);
uint32_t VOCORA_CALL Vocora_PlayStop(VocoraPlayHandle phAudioPlayDec);
/* The waveOut path applies the volume to 16-bit PCM in place in pucData. */
uint32_t VOCORA_CALL Vocora_Play(VocoraPlayHandle phAudioPlayDec, uint8_t* pucData,
                                 uint32_t ulLength);
/* Volume 0 (silent) to 255 (full). */
uint32_t VOCORA_CALL Vocora_SetPlayVolume(VocoraPlayHandle phAudioPlayDec, uint32_t ulVolume);
uint32_t VOCORA_CALL Vocora_GetPlayVolume(VocoraPlayHandle phAudioPlayDec, int32_t* plVolume);

/* ulSelector 0 asks for echo cancellation (COM must be initialised on the
 * calling thread); any other value gives plain DirectSound capture. */
uint32_t VOCORA_CALL Vocora_CreateCaptureDec(const AudioParam* pstAudioParam,
                                             uint32_t ulSelector,
                                             VocoraCaptureHandle* hAudioCaptureDec);
/* The system microphone level, 0 to 255; the handle only has to be non-null
 * for Vocora_GetMicVolume. */
uint32_t VOCORA_CALL Vocora_SetMicVolume(VocoraCaptureHandle hAudioCaptureDec, uint32_t ulVolume);
uint32_t VOCORA_CALL Vocora_GetMicVolume(VocoraCaptureHandle hAudioCaptureDec, int32_t* plVolume);
uint32_t VOCORA_CALL Vocora_SetCaptureCallBack(VocoraCaptureHandle hAudioCaptureDec,
                                               VocoraCaptureCallback pfnAudioCaptureCallBack,
                                               void* pUserData);
uint32_t VOCORA_CALL Vocora_DestoryCaptureDec(VocoraCaptureHandle hAudioCaptureDec);

/* Playback handles created afterwards use waveOut. Final for the process. */
void VOCORA_CALL Vocora_ForceUseWaveout(void);

#ifdef __cplusplus
}
#endif

#endif /* VOCORA_H */
