// Echo-cancelling capture.
#ifndef VOCORA_AEC_ACEAUDIOCAPTURE_H
#define VOCORA_AEC_ACEAUDIOCAPTURE_H

#include <cstdint>

// 0 when echo-cancelling capture can be offered on this machine.
uint32_t AecAudioCaptureProbe();

#endif
