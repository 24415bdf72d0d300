// Shared helpers of the devices.
#ifndef VOCORA_COMMON_FUNC_MACROS_H
#define VOCORA_COMMON_FUNC_MACROS_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

// Applies the playback volume (0..255) to signed 16-bit little-endian PCM in
// place, as a power-of-two gain chosen in 36-step bands (109..144 is unity),
// saturating at the 16-bit limits. A trailing odd byte is left alone.
uint32_t adjustPcmWave(uint8_t* pWaveBuf, uint32_t ulLength, uint32_t ulVolume);

// The PCM format every device derives from the host's record: channels and
// bits truncated to 16 bits, block alignment and byte rate worked out.
WAVEFORMATEX PcmWaveFormat(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBitsPerSample);

// Whether the platform takes the record as plain PCM: DirectSound's rate range,
// 8 or 16 bits, one or two channels. Some drivers abort the process on other
// formats, so the devices refuse them before any platform call sees them, with
// the code and message of the step that would have refused them.
bool IsPlainPcmFormat(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBitsPerSample);

// Resolves DirectSoundCaptureCreate8 from the module playback loaded: 0, or 4
// when the module or the entry point is missing.
uint32_t DirectSoundCaptureLoad();

// Entry of a DirectSound capture device's thread; the argument is the device.
unsigned __stdcall DirectSoundCapturehread(void* pArgument);

// The system microphone level through the winmm mixer of input device 0, on
// the 0..255 scale. The mixer stays open between calls until CloseMixer or a
// failure closes it.
uint32_t GetLineInfo();
uint32_t GetMicVolume(uint32_t* pulVolume);
uint32_t SetMicVolume(uint32_t ulVolume);
uint32_t CloseMixer();

#endif
