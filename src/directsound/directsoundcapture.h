// DirectSound capture: the process-wide capture object created from the
// DirectSound module that playback loaded.
#ifndef VOCORA_DIRECTSOUND_DIRECTSOUNDCAPTURE_H
#define VOCORA_DIRECTSOUND_DIRECTSOUNDCAPTURE_H

#include <cstdint>

uint32_t DirectSoundCaptureInit();
uint32_t DirectSoundCaptureCleanup();

#endif
