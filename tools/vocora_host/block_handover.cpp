#include "block_handover.h"

#include <cstring>

#include "log_watch.h"

EPlayAnswer ClassifyPlayResult(EPlayBackend ePlay, uint32_t ulResult, bool bFailureLogged)
{
    if (ulResult == VOCORA_OK) {
        return EPlayAnswer::kTaken;
    }
    const bool bFull = ePlay == EPlayBackend::kWaveOut
                           ? ulResult == VOCORA_PLAY_ERR_WRITE && !bFailureLogged
                           : ulResult == VOCORA_ERR_NO_MEMORY;
    return bFull ? EPlayAnswer::kQueueFull : EPlayAnswer::kFailed;
}

CBlockHandOver::CBlockHandOver(PfnPlay pfnPlay, VocoraPlayHandle hPlay, EPlayBackend ePlay,
                               uint32_t ulBlockBytes)
    : m_pfnPlay(pfnPlay), m_hPlay(hPlay), m_ePlay(ePlay), m_vecHandedOver(ulBlockBytes)
{
}

EPlayAnswer CBlockHandOver::Try(const uint8_t* pucBlock, uint32_t& ulResult)
{
    const auto ulBytes = static_cast<uint32_t>(m_vecHandedOver.size());
    std::memcpy(m_vecHandedOver.data(), pucBlock, ulBytes);
    // The waveOut player has no thread of its own, so a failure logged
    // meanwhile is this call's. (For the DirectSound player, whose thread
    // logs too, the count is not looked at.)
    const int iFailuresBefore = LogMessageCount(VOCORA_LOG_ERROR);
    ulResult = m_pfnPlay(m_hPlay, m_vecHandedOver.data(), ulBytes);
    return ClassifyPlayResult(m_ePlay, ulResult,
                              LogMessageCount(VOCORA_LOG_ERROR) != iFailuresBefore);
}
