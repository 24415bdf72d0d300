// Plays the 20 ms blocks of a raw 16-bit file, which e2e.py wrote and will
// look for in a recording of the rig's output, the ways the host tool does
// not: through the platform's own DirectSound (the rig's check), or through
// the library with a stop and a start half-way (restart) or a destroy with a
// full staging queue (destroy).
//
//   play_e2e platform|restart|destroy RATE CHANNELS FILE
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/com_ptr.h"
#include "vocora.h"

namespace {

int sm_iFailures = 0;

bool Expect(bool bOk, const std::string& strWhat)
{
    std::printf("%s %s\n", bOk ? "ok  " : "FAIL", strWhat.c_str());
    sm_iFailures += bOk ? 0 : 1;
    return bOk;
}

// ulPreroll blocks at once, then one each 20 ms; a full staging queue is the
// host's cue to wait and hand the block over again. With no end to the
// preroll the queue is kept full.
void HandOver(VocoraPlayHandle hPlay, std::vector<uint8_t>& vecPcm, uint32_t ulBlock, size_t ulFrom, size_t ulTo,
              size_t ulPreroll)
{
    const DWORD ulStart = GetTickCount();
    for (size_t ulAt = ulFrom; ulAt < ulTo; ++ulAt) {
        const size_t ulDue = ulAt - ulFrom > ulPreroll ? 20 * (ulAt - ulFrom - ulPreroll) : 0;
        Sleep(GetTickCount() - ulStart < ulDue ? static_cast<DWORD>(ulDue - (GetTickCount() - ulStart)) : 0);
        uint32_t ulResult = VOCORA_ERR_NO_MEMORY;
        for (int i = 0; i < 400 && ulResult == VOCORA_ERR_NO_MEMORY; ++i) {
            Sleep(i == 0 ? 0 : 5);
            ulResult = Vocora_Play(hPlay, &vecPcm[ulAt * ulBlock], ulBlock);
        }
        if (ulResult != VOCORA_OK) {
            Expect(false, "Vocora_Play of block " + std::to_string(ulAt) + ": " + std::to_string(ulResult));
            return;
        }
    }
}

int PlayPlatform(const std::vector<uint8_t>& vecPcm, uint32_t ulRate, uint32_t ulChannels)
{
    using PfnCreate = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND8*, LPUNKNOWN);
    const auto pfnCreate = reinterpret_cast<PfnCreate>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryA("dsound.dll"), "DirectSoundCreate8")));
    const auto ulBytes = static_cast<DWORD>(vecPcm.size());
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
    if (SUCCEEDED(hr)) {
        std::memcpy(pRegion, vecPcm.data(), ulRegion);
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
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fputs("usage: play_e2e platform|restart|destroy RATE CHANNELS FILE\n", stderr);
        return 2;
    }
    const std::string strMode = argv[1];
    const auto ulRate = static_cast<uint32_t>(std::atoi(argv[2]));
    const auto ulChannels = static_cast<uint32_t>(std::atoi(argv[3]));
    std::vector<uint8_t> vecPcm;
    FILE* pFile = std::fopen(argv[4], "rb");
    for (int i = pFile != nullptr ? std::fgetc(pFile) : EOF; i != EOF; i = std::fgetc(pFile)) {
        vecPcm.push_back(static_cast<uint8_t>(i));
    }
    if (pFile == nullptr || vecPcm.empty()) {
        return Expect(false, std::string("reading ") + argv[4]), 1;
    }
    std::fclose(pFile);
    if (strMode == "platform") {
        return PlayPlatform(vecPcm, ulRate, ulChannels);
    }
    const uint32_t ulBlock = ulRate / 50 * ulChannels * 2;
    const size_t ulBlocks = vecPcm.size() / ulBlock;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Vocora_Init();
    const AudioParam stParam = {ulRate, ulChannels, 16, ulBlock};
    VocoraPlayHandle hPlay = nullptr;
    if (!Expect(Vocora_CreatePlayDec(&stParam, &hPlay) == VOCORA_OK && Vocora_SetPlayVolume(hPlay, 255) == VOCORA_OK &&
                    Vocora_PlayStart(hPlay) == VOCORA_OK,
                "a started playback handle")) {
        return 1;
    }
    // Restart: stopped with 35 blocks staged, which the stop must discard.
    // Destroy: all at once, so that the staging queue is full for about the last second.
    const bool bRestart = strMode == "restart";
    HandOver(hPlay, vecPcm, ulBlock, 0, ulBlocks / 2, bRestart ? 35 : SIZE_MAX);
    if (bRestart) {
        Expect(Vocora_PlayStop(hPlay) == VOCORA_OK, "Vocora_PlayStop");
        Sleep(300);
        Expect(Vocora_PlayStart(hPlay) == VOCORA_OK, "Vocora_PlayStart after the stop");
        HandOver(hPlay, vecPcm, ulBlock, ulBlocks / 2, ulBlocks, 4);
        Sleep(500);  // what is staged, and the device's last periods, play out
    }
    Expect(Vocora_DestoryPlayDec(hPlay) == VOCORA_OK, "Vocora_DestoryPlayDec");
    Vocora_Cleanup();
    std::printf("handed %zu then %zu\n", ulBlocks / 2, bRestart ? ulBlocks - ulBlocks / 2 : 0);
    return sm_iFailures == 0 ? 0 : 1;
}
