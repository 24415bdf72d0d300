#include "aec/aceaudiocapture.h"

#include "vocora.h"

// The voice-capture engine is not built into the library yet, so echo
// cancellation is never offered.
uint32_t AecAudioCaptureProbe()
{
    return VOCORA_ERR_NOT_AVAILABLE;
}
