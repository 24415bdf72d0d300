// The two device interfaces behind every handle. The wrappers drive a device
// in a fixed order: construct, Init once (a failure deletes it at once), the
// host's calls, then Stop, Close and delete; the destructor calls Close again,
// so every Close must be harmless when repeated.
#ifndef VOCORA_COMMON_AUDIO_BASE_H
#define VOCORA_COMMON_AUDIO_BASE_H

#include <cstdint>

#include "common/platform.h"
#include "vocora.h"

class CAudioPlayBase : public CPlatformAllocated {
public:
    virtual ~CAudioPlayBase() = default;
    virtual uint32_t Init(const AudioParam* pstAudioParam) = 0;
    virtual uint32_t Start() = 0;
    virtual uint32_t Stop() = 0;
    virtual uint32_t Play(uint8_t* pucData, uint32_t ulLength) = 0;
    // 0..255; the DirectSound player reads the bits as signed.
    virtual uint32_t SetVolume(uint32_t ulVolume) = 0;
    virtual uint32_t GetVolume(int32_t* plVolume) = 0;
    virtual uint32_t Close() = 0;
};

class CAudioCaptureBase : public CPlatformAllocated {
public:
    virtual ~CAudioCaptureBase() = default;
    virtual uint32_t Init(const AudioParam* pstAudioParam) = 0;
    virtual uint32_t Start() = 0;
    virtual uint32_t Stop() = 0;
    virtual uint32_t SetCaptureCallBack(VocoraCaptureCallback pfnAudioCaptureCallBack,
                                        void* pUserData) = 0;
    virtual uint32_t SetVolume(uint32_t ulVolume) = 0;
    virtual uint32_t GetVolume(uint32_t* pulVolume) = 0;
    virtual uint32_t Close() = 0;
};

#endif
