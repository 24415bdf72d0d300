// The rig's own checks, without the library:
//   rig_probe [crash]               a crash under Wine must fail the test that ran it
//   rig_probe dsound RATE CHANNELS FILE
//                                   plays a raw 16-bit file through the platform's
//                                   DirectSound, for e2e.py to hear in the output
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/com_ptr.h"

namespace {

int PlayThroughDirectSound(DWORD ulRate, WORD usChannels, const char* pszFile)
{
    std::vector<uint8_t> vecPcm;
    if (FILE* pFile = std::fopen(pszFile, "rb")) {
        for (int i = std::fgetc(pFile); i != EOF; i = std::fgetc(pFile)) {
            vecPcm.push_back(static_cast<uint8_t>(i));
        }
        std::fclose(pFile);
    }
    using PfnCreate = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND8*, LPUNKNOWN);
    const auto pfnCreate = reinterpret_cast<PfnCreate>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryA("dsound.dll"), "DirectSoundCreate8")));
    const auto ulBytes = static_cast<DWORD>(vecPcm.size());
    WAVEFORMATEX stFormat = {WAVE_FORMAT_PCM, usChannels, ulRate, ulRate * 2u * usChannels,
                             static_cast<WORD>(2 * usChannels), 16, 0};
    DSBUFFERDESC stDesc = {sizeof stDesc, DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2, ulBytes, 0, &stFormat, {}};
    CComPtr<IDirectSound8> pDevice;
    CComPtr<IDirectSoundBuffer> pBuffer;
    void* pRegion = nullptr;
    DWORD ulRegion = 0, ulStatus = DSBSTATUS_PLAYING;
    HRESULT hr = pfnCreate != nullptr && ulBytes != 0 ? pfnCreate(nullptr, pDevice.Put(), nullptr) : E_NOINTERFACE;
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
        std::printf("RIG BROKEN: the platform's DirectSound did not play %s (0x%08lx)\n", pszFile, hr);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "dsound") == 0) {
        return PlayThroughDirectSound(std::strtoul(argv[2], nullptr, 10), static_cast<WORD>(std::atoi(argv[3])), argv[4]);
    }
    if (argc > 1 && std::strcmp(argv[1], "crash") == 0) {
        volatile int* piNowhere = nullptr;
        *piNowhere = 1;
    }
    std::puts("no crash");
    return 0;
}
