#include "common/func_macros.h"

#include <cstring>

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
