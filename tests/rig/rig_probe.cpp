// The rig's own checks, without the library:
//   rig_probe [crash]         a crash under Wine must fail the test that ran it
//   rig_probe dsound FILE     plays a 16-bit PCM WAV file through the platform's
//                             DirectSound, for e2e.py to hear in the output
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/com_ptr.h"

static int PlayThroughDirectSound(const char* pszFile)
{
    // A WAV file as e2e.py writes it: the format record from byte 20, the samples from byte 44. One too
    // short leaves no samples, and fails.
    std::ifstream oFile(pszFile, std::ios::binary);
    WAVEFORMATEX stFormat = {};
    oFile.seekg(20).read(reinterpret_cast<char*>(&stFormat), 16).seekg(44);
    const std::vector<char> vecPcm{std::istreambuf_iterator<char>(oFile), std::istreambuf_iterator<char>()};
    DSBUFFERDESC stDesc = {sizeof stDesc, DSBCAPS_GLOBALFOCUS, static_cast<DWORD>(vecPcm.size()), 0, &stFormat, {}};
    CComPtr<IDirectSound8> pDevice;
    CComPtr<IDirectSoundBuffer> pBuffer;
    void* pData = nullptr;
    DWORD ulData = 0, ulStatus = DSBSTATUS_PLAYING;
    HRESULT hr = !vecPcm.empty() ? DirectSoundCreate8(nullptr, pDevice.Put(), nullptr) : E_INVALIDARG;
    hr = SUCCEEDED(hr) ? pDevice->SetCooperativeLevel(GetDesktopWindow(), DSSCL_NORMAL) : hr;
    hr = SUCCEEDED(hr) ? pDevice->CreateSoundBuffer(&stDesc, pBuffer.Put(), nullptr) : hr;
    if (SUCCEEDED(hr) && SUCCEEDED(hr = pBuffer->Lock(0, stDesc.dwBufferBytes, &pData, &ulData, nullptr, nullptr, 0))) {
        std::memcpy(pData, vecPcm.data(), ulData);
        hr = pBuffer->Unlock(pData, ulData, nullptr, 0);
    }
    hr = SUCCEEDED(hr) ? pBuffer->Play(0, 0, 0) : hr;
    for (int i = 0; SUCCEEDED(hr) && (ulStatus & DSBSTATUS_PLAYING) != 0 && i < 1000; ++i) {
        Sleep(20);
        hr = pBuffer->GetStatus(&ulStatus);
    }
    // The device still holds its last periods: releasing it now would cut them.
    Sleep(300);
    const bool bPlayed = SUCCEEDED(hr) && (ulStatus & DSBSTATUS_PLAYING) == 0;
    std::printf("%s %s (0x%08lx)\n", bPlayed ? "played" : "RIG BROKEN: DirectSound did not play", pszFile, hr);
    return bPlayed ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "dsound") == 0) {
        return PlayThroughDirectSound(argv[2]);
    }
    if (argc > 1 && std::strcmp(argv[1], "crash") == 0) {
        *static_cast<volatile int*>(nullptr) = 1;
    }
    std::puts("no crash");
    return 0;
}
