// Shared helpers of the devices.
#ifndef VOCORA_COMMON_FUNC_MACROS_H
#define VOCORA_COMMON_FUNC_MACROS_H

#include <cstdint>

// Applies the playback volume (0..255) to signed 16-bit little-endian PCM in
// place, as a power-of-two gain chosen in 36-step bands (109..144 is unity),
// saturating at the 16-bit limits. A trailing odd byte is left alone.
uint32_t adjustPcmWave(uint8_t* pWaveBuf, uint32_t ulLength, uint32_t ulVolume);

#endif
