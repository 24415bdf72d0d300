// Proves the rig without the library: plays a tone through the platform's own
// DirectSound ("play"), and finds it in a recording of the output ("check").
// A failure here means the rig is broken, not the product. It also writes the
// same tone as raw PCM ("write"), for feeding the virtual microphone.
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pcm_analysis.h"

namespace {

constexpr double kdPi = 3.14159265358979323846;
constexpr int16_t ksAmplitude = 16384;  // -6 dBFS

int Fail(const char* pszWhat, long lCode = 0)
{
    std::fprintf(stderr, "RIG BROKEN: %s (0x%08lx)\n", pszWhat, static_cast<unsigned long>(lCode));
    return 1;
}

template <class T>
struct ComRelease {
    T* p = nullptr;
    ~ComRelease()
    {
        if (p != nullptr) {
            p->Release();
        }
    }
};

std::vector<int16_t> Tone(uint32_t ulRate, double dFrequency, size_t ulSamples)
{
    std::vector<int16_t> vecSamples(ulSamples);
    for (size_t i = 0; i < ulSamples; ++i) {
        vecSamples[i] =
            static_cast<int16_t>(ksAmplitude * std::sin(2 * kdPi * dFrequency * static_cast<double>(i) / ulRate));
    }
    return vecSamples;
}

int Write(const char* pszPath, uint32_t ulRate, double dFrequency, double dSeconds)
{
    const std::vector<int16_t> vecSamples =
        Tone(ulRate, dFrequency, static_cast<size_t>(dSeconds * ulRate));
    FILE* pFile = std::fopen(pszPath, "wb");
    if (pFile == nullptr) {
        return Fail("cannot write the tone file");
    }
    const size_t ulWritten = std::fwrite(vecSamples.data(), 2, vecSamples.size(), pFile);
    std::fclose(pFile);
    return ulWritten == vecSamples.size() ? 0 : Fail("cannot write the tone file");
}

int Play(uint32_t ulRate, double dFrequency, double dSeconds)
{
    ComRelease<IDirectSound8> oDevice;
    HRESULT hr = DirectSoundCreate8(nullptr, &oDevice.p, nullptr);
    if (FAILED(hr)) {
        return Fail("DirectSoundCreate8 failed", hr);
    }
    hr = oDevice.p->SetCooperativeLevel(GetDesktopWindow(), DSSCL_NORMAL);
    if (FAILED(hr)) {
        return Fail("SetCooperativeLevel failed", hr);
    }
    WAVEFORMATEX stFormat = {};
    stFormat.wFormatTag = WAVE_FORMAT_PCM;
    stFormat.nChannels = 1;
    stFormat.nSamplesPerSec = ulRate;
    stFormat.wBitsPerSample = 16;
    stFormat.nBlockAlign = 2;
    stFormat.nAvgBytesPerSec = ulRate * 2;
    const DWORD ulSamples = static_cast<DWORD>(dSeconds * ulRate);
    DSBUFFERDESC stDesc = {};
    stDesc.dwSize = sizeof stDesc;
    stDesc.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    stDesc.dwBufferBytes = ulSamples * 2;
    stDesc.lpwfxFormat = &stFormat;
    ComRelease<IDirectSoundBuffer> oBuffer;
    hr = oDevice.p->CreateSoundBuffer(&stDesc, &oBuffer.p, nullptr);
    if (FAILED(hr)) {
        return Fail("CreateSoundBuffer failed", hr);
    }
    void* pRegion = nullptr;
    DWORD ulRegion = 0;
    hr = oBuffer.p->Lock(0, stDesc.dwBufferBytes, &pRegion, &ulRegion, nullptr, nullptr, 0);
    if (FAILED(hr)) {
        return Fail("Lock failed", hr);
    }
    const std::vector<int16_t> vecTone = Tone(ulRate, dFrequency, ulRegion / 2);
    std::memcpy(pRegion, vecTone.data(), ulRegion / 2 * 2);
    oBuffer.p->Unlock(pRegion, ulRegion, nullptr, 0);
    hr = oBuffer.p->Play(0, 0, 0);
    if (FAILED(hr)) {
        return Fail("Play failed", hr);
    }
    const DWORD ulDeadline = GetTickCount() + static_cast<DWORD>(dSeconds * 1000) + 3000;
    DWORD ulStatus = DSBSTATUS_PLAYING;
    while ((ulStatus & DSBSTATUS_PLAYING) != 0 && GetTickCount() < ulDeadline) {
        Sleep(20);
        oBuffer.p->GetStatus(&ulStatus);
    }
    if ((ulStatus & DSBSTATUS_PLAYING) != 0) {
        return Fail("the tone never finished playing");
    }
    // The device still holds the last few periods; releasing it now would cut them.
    Sleep(300);
    std::printf("played %.1f s of %.0f Hz at %u Hz\n", dSeconds, dFrequency, ulRate);
    return 0;
}

int Check(const std::string& strPath, uint32_t ulRate, double dFrequency, double dSeconds)
{
    const std::vector<int16_t> vecSamples = ReadRawPcm(strPath);
    if (vecSamples.empty()) {
        return Fail("the recording is empty: nothing reached the sound server's monitor");
    }
    const size_t ulWindow = ulRate / 100;  // 10 ms
    const ToneSpan stSpan = FindToneSpan(vecSamples, ulWindow, 1000.0);
    if (!stSpan.bFound) {
        return Fail("no tone in the recording of the output");
    }
    const double dFound = static_cast<double>(stSpan.ulEnd - stSpan.ulBegin) / ulRate;
    const double dPitch = EstimateFrequency(vecSamples, stSpan.ulBegin, stSpan.ulEnd, ulRate);
    const double dLevel = RmsToDbfs(stSpan.dMedianRms);
    std::printf("tone of %.2f s at %.1f Hz, %.1f dBFS, %zu quiet windows inside\n", dFound,
                dPitch, dLevel, stSpan.ulQuietWindowsInside);
    if (std::fabs(dFound - dSeconds) > 0.1) {
        return Fail("the tone's length is wrong");
    }
    if (stSpan.ulQuietWindowsInside != 0) {
        return Fail("the tone has gaps");
    }
    if (std::fabs(dPitch - dFrequency) > dFrequency * 0.01) {
        return Fail("the tone's pitch is wrong");
    }
    if (std::fabs(dLevel - -6.0) > 1.5) {
        return Fail("the tone's level is wrong");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "play") == 0) {
        return Play(static_cast<uint32_t>(std::atoi(argv[2])), std::atof(argv[3]),
                    std::atof(argv[4]));
    }
    if (argc == 6 && std::strcmp(argv[1], "write") == 0) {
        return Write(argv[2], static_cast<uint32_t>(std::atoi(argv[3])), std::atof(argv[4]),
                     std::atof(argv[5]));
    }
    if (argc == 6 && std::strcmp(argv[1], "check") == 0) {
        return Check(argv[2], static_cast<uint32_t>(std::atoi(argv[3])), std::atof(argv[4]),
                     std::atof(argv[5]));
    }
    std::fprintf(stderr,
                 "usage: rig_tone play RATE FREQUENCY SECONDS\n"
                 "       rig_tone check FILE RATE FREQUENCY SECONDS\n"
                 "       rig_tone write FILE RATE FREQUENCY SECONDS\n");
    return 2;
}
