// Plays numbered 20 ms blocks as a host does, through the library or through
// the platform's own DirectSound, for e2e.py to find in a recording of the
// rig's output. Block n is a tone of 500 + 100 * ((n + c * 12) % 24) Hz in
// channel c, its phase carried on from the block before, so any 10 ms of a
// block names it and a lost, repeated or silenced block shows.
//
//   play_e2e directsound|waveout|fallback|platform stream|volume|restart|destroy
//            RATE CHANNELS [--fault drop|repeat|zero N]
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/com_ptr.h"
#include "vocora.h"

namespace {

using Block = std::vector<int16_t>;
constexpr double kdPi = 3.14159265358979323846;
constexpr uint32_t kulTones = 24;
constexpr double kdAmplitude = 16384;  // -6 dBFS: headroom for the resamplers
int sm_iFailures = 0;
bool sm_bWaveOut = false;

bool Expect(bool bOk, const std::string& strWhat)
{
    std::printf("%s %s\n", bOk ? "ok  " : "FAIL", strWhat.c_str());
    sm_iFailures += bOk ? 0 : 1;
    return bOk;
}

std::vector<Block> Signal(size_t ulBlocks, uint32_t ulRate, uint32_t ulChannels)
{
    std::vector<Block> vecBlocks(ulBlocks, Block(ulRate / 50 * ulChannels));
    for (uint32_t ulChannel = 0; ulChannel < ulChannels; ++ulChannel) {
        double dPhase = 0;
        for (size_t ulBlock = 0; ulBlock < ulBlocks; ++ulBlock) {
            Block& vecBlock = vecBlocks[ulBlock];
            const double dStep = 2 * kdPi * (500 + 100 * ((ulBlock + ulChannel * kulTones / 2) % kulTones)) / ulRate;
            for (size_t i = ulChannel; i < vecBlock.size(); i += ulChannels, dPhase = std::fmod(dPhase + dStep, 2 * kdPi)) {
                vecBlock[i] = static_cast<int16_t>(std::lround(kdAmplitude * std::sin(dPhase)));
            }
        }
    }
    return vecBlocks;
}

// The library names its functions in its messages: that tells the backend.
void VOCORA_CALL OnLog(void*, int32_t, const char*, uint32_t, const char* pszFunction, const char*, va_list)
{
    sm_bWaveOut = sm_bWaveOut || (pszFunction != nullptr && std::strncmp(pszFunction, "CWaveOut", 8) == 0);
}

// ulPreroll blocks at once, then one each 20 ms; a full staging queue is the
// host's cue to wait and hand the block over again. With no end to the
// preroll the queue is kept full.
void HandOver(VocoraPlayHandle hPlay, std::vector<Block>& vecBlocks, size_t ulFrom, size_t ulTo, size_t ulPreroll,
              size_t ulVolumeAt = SIZE_MAX)
{
    const auto tStart = std::chrono::steady_clock::now();
    for (size_t ulBlock = ulFrom; ulBlock < ulTo; ++ulBlock) {
        std::this_thread::sleep_until(tStart + std::chrono::milliseconds(20) * (std::max(ulBlock - ulFrom, ulPreroll) - ulPreroll));
        if (ulBlock == ulVolumeAt) {
            Expect(Vocora_SetPlayVolume(hPlay, 128) == VOCORA_OK, "volume 128 before block " + std::to_string(ulBlock));
        }
        Block& vecBlock = vecBlocks[ulBlock];
        uint32_t ulResult = VOCORA_ERR_NO_MEMORY;
        for (int i = 0; i < 400 && ulResult == VOCORA_ERR_NO_MEMORY; ++i) {
            Sleep(i == 0 ? 0 : 5);
            ulResult = Vocora_Play(hPlay, reinterpret_cast<uint8_t*>(vecBlock.data()), static_cast<uint32_t>(vecBlock.size() * 2));
        }
        if (ulResult != VOCORA_OK) {
            Expect(false, "Vocora_Play of block " + std::to_string(ulBlock) + " returned " + std::to_string(ulResult));
            return;
        }
    }
}

int PlayPlatform(const std::vector<Block>& vecBlocks, uint32_t ulRate, uint32_t ulChannels)
{
    // Looked up, not imported: the fallback case runs this program where Wine
    // is told not to load DSOUND.DLL.
    using PfnCreate = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND8*, LPUNKNOWN);
    const auto pfnCreate = reinterpret_cast<PfnCreate>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryA("dsound.dll"), "DirectSoundCreate8")));
    const auto ulBytes = static_cast<DWORD>(vecBlocks.size() * vecBlocks[0].size() * 2);
    WAVEFORMATEX stFormat = {WAVE_FORMAT_PCM, static_cast<WORD>(ulChannels), ulRate, ulRate * 2 * ulChannels,
                             static_cast<WORD>(2 * ulChannels), 16, 0};
    DSBUFFERDESC stDesc = {sizeof stDesc, DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2, ulBytes, 0, &stFormat, {}};
    CComPtr<IDirectSound8> pDevice;
    CComPtr<IDirectSoundBuffer> pBuffer;
    void* pRegion = nullptr;
    DWORD ulRegion = 0, ulStatus = DSBSTATUS_PLAYING;
    HRESULT hr = pfnCreate != nullptr ? pfnCreate(nullptr, pDevice.Put(), nullptr) : E_NOINTERFACE;
    hr = SUCCEEDED(hr) ? pDevice->SetCooperativeLevel(GetDesktopWindow(), DSSCL_NORMAL) : hr;
    hr = SUCCEEDED(hr) ? pDevice->CreateSoundBuffer(&stDesc, pBuffer.Put(), nullptr) : hr;
    hr = SUCCEEDED(hr) ? pBuffer->Lock(0, ulBytes, &pRegion, &ulRegion, nullptr, nullptr, 0) : hr;
    auto* pucAt = static_cast<uint8_t*>(pRegion);
    for (size_t ulBlock = 0; SUCCEEDED(hr) && ulBlock < vecBlocks.size(); pucAt += vecBlocks[ulBlock++].size() * 2) {
        std::memcpy(pucAt, vecBlocks[ulBlock].data(), vecBlocks[ulBlock].size() * 2);
    }
    hr = SUCCEEDED(hr) ? pBuffer->Unlock(pRegion, ulRegion, nullptr, 0) : hr;
    hr = SUCCEEDED(hr) ? pBuffer->Play(0, 0, 0) : hr;
    for (int i = 0; SUCCEEDED(hr) && (ulStatus & DSBSTATUS_PLAYING) != 0 && i < 1000; ++i) {
        Sleep(20);
        hr = pBuffer->GetStatus(&ulStatus);
    }
    // The device still holds its last periods: releasing it now would cut them.
    Sleep(300);
    if (FAILED(hr) || (ulStatus & DSBSTATUS_PLAYING) != 0) {
        std::printf("RIG BROKEN: the platform's DirectSound did not play the signal (0x%08lx)\n", hr);
        return 1;
    }
    std::printf("handed %zu then 0\n", vecBlocks.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && (argc != 8 || std::strcmp(argv[5], "--fault") != 0)) {
        std::fputs("usage: play_e2e MODE SCENARIO RATE CHANNELS [--fault drop|repeat|zero N]\n", stderr);
        return 2;
    }
    const std::string strMode = argv[1], strScenario = argv[2];
    const auto ulRate = static_cast<uint32_t>(std::atoi(argv[3]));
    const auto ulChannels = static_cast<uint32_t>(std::atoi(argv[4]));
    std::vector<Block> vecBlocks = Signal(strScenario == "stream" ? 150 : 200, ulRate, ulChannels);
    // The faults the recording's analysis must catch, made on purpose.
    const auto itFault = vecBlocks.begin() + (argc == 8 ? std::atoi(argv[7]) : 0);
    if (argc == 8 && std::strcmp(argv[6], "drop") == 0) {
        vecBlocks.erase(itFault);
    } else if (argc == 8 && std::strcmp(argv[6], "repeat") == 0) {
        vecBlocks.insert(itFault, *itFault);
    } else if (argc == 8) {
        std::fill(itFault->begin(), itFault->end(), 0);
    }
    if (strMode == "platform") {
        return PlayPlatform(vecBlocks, ulRate, ulChannels);
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Vocora_GlobalInit();
    Vocora_SetLogCB(&OnLog);
    Vocora_Init();
    if (strMode == "waveout") {
        Vocora_ForceUseWaveout();
    }
    const AudioParam stParam = {ulRate, ulChannels, 16, static_cast<uint32_t>(vecBlocks[0].size() * 2)};
    VocoraPlayHandle hPlay = nullptr;
    // A new player is silent until given a volume; waveOut's software gain
    // leaves samples unchanged only at 109..144.
    if (!Expect(Vocora_CreatePlayDec(&stParam, &hPlay) == VOCORA_OK &&
                    Vocora_SetPlayVolume(hPlay, strMode == "directsound" ? 255 : 128) == VOCORA_OK &&
                    Vocora_PlayStart(hPlay) == VOCORA_OK, "a started playback handle")) {
        return 1;
    }
    // Restart: stopped with 35 blocks staged, which the stop must discard.
    // Destroy: all at once, so that the staging queue is full for about the last second.
    const size_t ulFirst = strScenario == "stream" || strScenario == "volume" ? vecBlocks.size() : vecBlocks.size() / 2;
    HandOver(hPlay, vecBlocks, 0, ulFirst, strScenario == "restart" ? 35 : strScenario == "destroy" ? SIZE_MAX : 4,
             strScenario == "volume" ? ulFirst / 2 : SIZE_MAX);
    if (strScenario == "restart") {
        Expect(Vocora_PlayStop(hPlay) == VOCORA_OK, "Vocora_PlayStop");
        Sleep(300);
        Expect(Vocora_PlayStart(hPlay) == VOCORA_OK, "Vocora_PlayStart after the stop");
        HandOver(hPlay, vecBlocks, ulFirst, vecBlocks.size(), 4);
    }
    // Else what is staged, and the device's last periods, play out first.
    Sleep(strScenario == "destroy" ? 0 : 500);
    Expect(Vocora_DestoryPlayDec(hPlay) == VOCORA_OK, "Vocora_DestoryPlayDec");
    Expect(sm_bWaveOut == (strMode != "directsound"), std::string("the backend: ") + (sm_bWaveOut ? "waveOut" : "DirectSound"));
    Vocora_Cleanup();
    std::printf("handed %zu then %zu\n", ulFirst, strScenario == "restart" ? vecBlocks.size() - ulFirst : 0);
    return sm_iFailures == 0 ? 0 : 1;
}
