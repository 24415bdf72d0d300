// Hands one block to a player, try after try while its queue is full.
#ifndef VOCORA_TOOLS_BLOCK_HANDOVER_H
#define VOCORA_TOOLS_BLOCK_HANDOVER_H

#include <cstdint>
#include <vector>

#include "backend_inference.h"
#include "vocora.h"

// Vocora_Play, or what a test puts in its place.
using PfnPlay = uint32_t (*)(VocoraPlayHandle hPlay, uint8_t* pucData, uint32_t ulLength);

enum class EPlayAnswer { kTaken, kQueueFull, kFailed };

// What Vocora_Play's result means on the player behind the handle. The
// DirectSound player answers a full queue with VOCORA_ERR_NO_MEMORY; the
// waveOut player answers a full ring with VOCORA_PLAY_ERR_WRITE, and a
// failed write with the same code, which only the failure comes with a log
// message for: bFailureLogged tells them apart.
EPlayAnswer ClassifyPlayResult(EPlayBackend ePlay, uint32_t ulResult, bool bFailureLogged);

class CBlockHandOver {
public:
    CBlockHandOver(PfnPlay pfnPlay, VocoraPlayHandle hPlay, EPlayBackend ePlay,
                   uint32_t ulBlockBytes);

    // One try with ulBlockBytes from pucBlock, which is left as it is; the
    // call's result goes to ulResult. The waveOut player applies its gain in
    // place, so each try gets a fresh copy: a block tried again must go out
    // as it was read, not with the gain applied twice.
    EPlayAnswer Try(const uint8_t* pucBlock, uint32_t& ulResult);

private:
    PfnPlay m_pfnPlay;
    VocoraPlayHandle m_hPlay;
    EPlayBackend m_ePlay;
    std::vector<uint8_t> m_vecHandedOver;
};

#endif
