// The echo-cancelling capture device: a thin front over the voice-capture
// engine, configured for the default microphone and the single loudspeaker,
// passing each block the engine produces to the host's callback.
#ifndef VOCORA_AEC_ACEAUDIOCAPTURE_H
#define VOCORA_AEC_ACEAUDIOCAPTURE_H

#include <atomic>
#include <cstdint>

#include "aec/aec_mic_array_capture.h"
#include "common/audio_base.h"
#include "common/capture_target.h"

class CAecAudioCapture : public CCaptureDevice, public IAecCaptureEvent {
public:
    CAecAudioCapture();
    ~CAecAudioCapture() override;

    uint32_t Init(const AudioParam* pstAudioParam) override;
    uint32_t Start() override;
    uint32_t Stop() override;
    uint32_t Close() override;

    uint32_t OnCaptureData(const uint8_t* pucData, uint32_t ulLength, uint32_t ulSampleRate,
                           uint32_t ulFlag) override;
    uint32_t OnMicDisConnect() override;

private:
    uint32_t m_ulChannels = 1;
    uint32_t m_ulBitsPerSample = 16;
    uint32_t m_ulSampleRate = 8000;
    CAecMicArrayCapture* m_poAecMicCapture = nullptr;
    std::atomic<bool> m_bMicLost{false};
};

// 0 when echo-cancelling capture can be offered on this machine.
uint32_t AecAudioCaptureProbe();

#endif
