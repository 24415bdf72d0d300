#include "common/func_macros.h"

#include <cstring>

#include "common/platform.h"
#include "directsound/directsoundcapture.h"
#include "directsound/directsoundplay.h"
#include "log/log.h"

namespace {

// One pass with a compile-time gain, so each band's loop is a plain
// load-scale-clamp-store that the compiler vectorises. Division truncates
// toward zero (-9 / 8 == -1, -7 / 8 == 0), as the signed division does.
template <int32_t lMul, int32_t lDiv>
void ScaleSamples(uint8_t* pucSamples, uint32_t ulSamples)
{
    for (uint32_t i = 0; i < ulSamples; ++i) {
        int16_t sSample;
        std::memcpy(&sSample, pucSamples + 2 * static_cast<size_t>(i), sizeof sSample);
        int32_t lValue = static_cast<int32_t>(sSample) * lMul / lDiv;
        lValue = lValue > INT16_MAX ? INT16_MAX : lValue;
        lValue = lValue < INT16_MIN ? INT16_MIN : lValue;
        sSample = static_cast<int16_t>(lValue);
        std::memcpy(pucSamples + 2 * static_cast<size_t>(i), &sSample, sizeof sSample);
    }
}

}  // namespace

uint32_t adjustPcmWave(uint8_t* pWaveBuf, uint32_t ulLength, uint32_t ulVolume)
{
    if (pWaveBuf == nullptr) {
        VOCORA_LOG_NULL("adjustPcmWave", "pWaveBuf");
        return VOCORA_ERR_INVALID_ARG;
    }
    const uint32_t ulSamples = ulLength / 2;
    if (ulVolume == 0) {
        std::memset(pWaveBuf, 0, 2 * static_cast<size_t>(ulSamples));
    } else if (ulVolume <= 36) {
        ScaleSamples<1, 8>(pWaveBuf, ulSamples);
    } else if (ulVolume <= 72) {
        ScaleSamples<1, 4>(pWaveBuf, ulSamples);
    } else if (ulVolume <= 108) {
        ScaleSamples<1, 2>(pWaveBuf, ulSamples);
    } else if (ulVolume <= 144) {
        // Unity band: nothing to do.
    } else if (ulVolume <= 180) {
        ScaleSamples<2, 1>(pWaveBuf, ulSamples);
    } else if (ulVolume <= 216) {
        ScaleSamples<4, 1>(pWaveBuf, ulSamples);
    } else {
        ScaleSamples<8, 1>(pWaveBuf, ulSamples);
    }
    return VOCORA_OK;
}

WAVEFORMATEX PcmWaveFormat(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBitsPerSample)
{
    WAVEFORMATEX stFormat = {};
    stFormat.wFormatTag = WAVE_FORMAT_PCM;
    stFormat.nChannels = static_cast<WORD>(ulChannels);
    stFormat.nSamplesPerSec = ulSampleRate;
    stFormat.wBitsPerSample = static_cast<WORD>(ulBitsPerSample);
    stFormat.nBlockAlign = static_cast<WORD>(stFormat.nChannels * (stFormat.wBitsPerSample / 8));
    stFormat.nAvgBytesPerSec = stFormat.nSamplesPerSec * stFormat.nBlockAlign;
    stFormat.cbSize = 0;
    return stFormat;
}

uint32_t DirectSoundCaptureLoad()
{
    if (sm_hDSoundModule == nullptr) {
        return VOCORA_ERR_NOT_AVAILABLE;
    }
    sm_pfnDirectSoundCaptureCreate8 = reinterpret_cast<PfnDirectSoundCaptureCreate8>(
        reinterpret_cast<void*>(
            Platform().pfnGetProcAddress(sm_hDSoundModule, "DirectSoundCaptureCreate8")));
    return sm_pfnDirectSoundCaptureCreate8 != nullptr ? VOCORA_OK : VOCORA_ERR_NOT_AVAILABLE;
}

unsigned __stdcall DirectSoundCapturehread(void* pArgument)
{
    if (pArgument == nullptr) {
        return 0;
    }
    auto* poCapture = static_cast<CDirectSoundCapture*>(pArgument);
    VOCORA_LOG(VOCORA_LOG_INFO, "DirectSoundCapturehread", "Start Capture Thread Succeed.");
    // Nothing may escape into the runtime's thread start-up; the loop is not
    // entered again after a failure like this.
    try {
        poCapture->CaptureThread();
    } catch (...) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "DirectSoundCapturehread",
                   "CaptureThread Fail, Catch One Crash, Next[%d].",
                   static_cast<int>(poCapture->ReadOffset()));
        return 1;
    }
    return 0;
}
