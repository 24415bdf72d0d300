#include "common/func_macros.h"

#include <algorithm>
#include <cstring>

#include "common/platform.h"
#include "directsound/directsoundcapture.h"
#include "directsound/directsoundplay.h"
#include "log/log.h"

namespace {

// One pass each, with the shift known at compile time, so that every band's
// loop is a plain load-compute-store over 16-bit lanes that the compiler
// vectorises. Samples are copied in and out: the host's buffer need not be
// aligned.
template <int iShift>
void Attenuate(uint8_t* pucSamples, uint32_t ulSamples)
{
    for (uint32_t i = 0; i < ulSamples; ++i) {
        int16_t sSample;
        std::memcpy(&sSample, pucSamples + 2 * static_cast<size_t>(i), sizeof sSample);
        // Signed division truncates toward zero: -9 / 8 == -1, -7 / 8 == 0.
        sSample = static_cast<int16_t>(sSample / (1 << iShift));
        std::memcpy(pucSamples + 2 * static_cast<size_t>(i), &sSample, sizeof sSample);
    }
}

// Saturation worked out on the sample itself keeps the loop in 16-bit lanes:
// clamp to the range that survives the shift, shift, and set the low bits of
// the samples clamped from above so that they reach INT16_MAX exactly (the
// lowest value reaches INT16_MIN by itself). The clamp moved a sample down
// exactly when the clamped value minus the sample is negative.
template <int iShift>
void Amplify(uint8_t* pucSamples, uint32_t ulSamples)
{
    constexpr int16_t ksHighest = INT16_MAX >> iShift;
    constexpr int16_t ksLowest = INT16_MIN >> iShift;
    constexpr int16_t ksLowBits = (1 << iShift) - 1;
    for (uint32_t i = 0; i < ulSamples; ++i) {
        int16_t sSample;
        std::memcpy(&sSample, pucSamples + 2 * static_cast<size_t>(i), sizeof sSample);
        const int16_t sClamped = std::max(std::min(sSample, ksHighest), ksLowest);
        const auto sMovedDown = static_cast<int16_t>(static_cast<int16_t>(sClamped - sSample) >> 15);
        const auto sShifted = static_cast<uint16_t>(static_cast<uint16_t>(sClamped) << iShift);
        sSample = static_cast<int16_t>(sShifted | (sMovedDown & ksLowBits));
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
        Attenuate<3>(pWaveBuf, ulSamples);
    } else if (ulVolume <= 72) {
        Attenuate<2>(pWaveBuf, ulSamples);
    } else if (ulVolume <= 108) {
        Attenuate<1>(pWaveBuf, ulSamples);
    } else if (ulVolume <= 144) {
        // Unity band: nothing to do.
    } else if (ulVolume <= 180) {
        Amplify<1>(pWaveBuf, ulSamples);
    } else if (ulVolume <= 216) {
        Amplify<2>(pWaveBuf, ulSamples);
    } else {
        Amplify<3>(pWaveBuf, ulSamples);
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

bool IsPlainPcmFormat(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBitsPerSample)
{
    return ulSampleRate >= DSBFREQUENCY_MIN && ulSampleRate <= DSBFREQUENCY_MAX && (ulChannels == 1 || ulChannels == 2) &&
           (ulBitsPerSample == 8 || ulBitsPerSample == 16);
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
