#include "directsound/directsoundcapture.h"

#include "vocora.h"

// The capture device is not built into the library yet: there is no capture
// object to create, so initialisation reports capture as not available and
// clean-up has nothing to release.

uint32_t DirectSoundCaptureInit()
{
    return VOCORA_ERR_NOT_AVAILABLE;
}

uint32_t DirectSoundCaptureCleanup()
{
    return VOCORA_OK;
}
