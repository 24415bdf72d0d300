// waveOut playback heard at the output sink: a tone handed over at real-time
// pace in three parts at volumes 128, 200 and 0, so that the recording shows
// the software gain's bands — unchanged, four times louder, silent — with no
// gap inside the parts that sound.
//
//   waveout_e2e play RATE CHANNELS forced|fallback
//   waveout_e2e check FILE RATE CHANNELS
#include <windows.h>
#include <objbase.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pcm_analysis.h"
#include "vocora.h"

namespace {

constexpr double kdPi = 3.14159265358979323846;
constexpr double kdFrequency = 500.0;
constexpr double kdAmplitude = 6000.0;  // four times this still fits 16 bits
constexpr double kdPartSeconds = 1.5;
const uint32_t kaulVolumes[] = {128, 200, 0};

int sm_iFailures = 0;
constexpr int kiVoidTake = 3;  // the rig spoiled the take: take it again
bool sm_bSawWaveOutClose = false;

void Check(bool bOk, const std::string& strWhat)
{
    std::printf("%s: %s\n", bOk ? "ok  " : "FAIL", strWhat.c_str());
    sm_iFailures += bOk ? 0 : 1;
}

void VOCORA_CALL OnLog(void*, int32_t, const char*, uint32_t, const char* pszFunction,
                       const char*, va_list)
{
    sm_bSawWaveOutClose = sm_bSawWaveOutClose || std::strcmp(pszFunction, "CWaveOutPlay::Close") == 0;
}

int Play(uint32_t ulRate, uint32_t ulChannels, bool bForced)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Vocora_SetLogCB(&OnLog);
    const uint32_t ulInit = Vocora_Init();
    if (bForced) {
        Vocora_ForceUseWaveout();
    } else {
        Check(ulInit == VOCORA_ERR_NOT_AVAILABLE, "without DSOUND.DLL Vocora_Init reports 4");
    }
    const uint32_t ulBlockFrames = ulRate / 50;  // 20 ms
    const AudioParam stParam = {ulRate, ulChannels, 16, ulBlockFrames * ulChannels * 2};
    VocoraPlayHandle hPlay = nullptr;
    Check(Vocora_CreatePlayDec(&stParam, &hPlay) == VOCORA_OK, "a playback handle");
    if (hPlay == nullptr) {
        return 1;
    }
    // Paced by the clock: each block is handed over when it is due.
    const ULONGLONG ullStart = GetTickCount64();
    uint64_t ullFrame = 0;
    uint32_t ulRetries = 0;
    for (uint32_t ulVolume : kaulVolumes) {
        Check(Vocora_SetPlayVolume(hPlay, ulVolume) == VOCORA_OK, "volume " + std::to_string(ulVolume));
        const auto ulBlocks = static_cast<uint32_t>(kdPartSeconds * 50);
        for (uint32_t ulBlock = 0; ulBlock < ulBlocks; ++ulBlock) {
            std::vector<int16_t> vecBlock(size_t{ulBlockFrames} * ulChannels);
            for (uint32_t i = 0; i < ulBlockFrames; ++i, ++ullFrame) {
                const double dValue =
                    kdAmplitude * std::sin(2 * kdPi * kdFrequency * static_cast<double>(ullFrame) / ulRate);
                for (uint32_t ulChannel = 0; ulChannel < ulChannels; ++ulChannel) {
                    vecBlock[size_t{i} * ulChannels + ulChannel] = static_cast<int16_t>(dValue);
                }
            }
            const ULONGLONG ullDue = ullStart + ullFrame * 1000 / ulRate - 100;
            while (GetTickCount64() < ullDue) {
                Sleep(2);
            }
            // Every entry queued: the device is behind, so wait for one to come back.
            uint32_t ulResult;
            while ((ulResult = Vocora_Play(hPlay, reinterpret_cast<uint8_t*>(vecBlock.data()),
                                           stParam.ulDataLen)) == VOCORA_PLAY_ERR_WRITE) {
                ++ulRetries;
                Sleep(5);
            }
            if (ulResult != VOCORA_OK) {
                Check(false, "Vocora_Play returned " + std::to_string(ulResult));
                break;
            }
        }
    }
    Sleep(500);
    Check(Vocora_DestoryPlayDec(hPlay) == VOCORA_OK, "the handle is destroyed");
    Check(sm_bSawWaveOutClose, "the handle was a waveOut player");
    Vocora_Cleanup();
    std::printf("played %.1f s in three parts (%u waits for a free entry)\n",
                static_cast<double>(ullFrame) / ulRate, ulRetries);
    return sm_iFailures == 0 ? 0 : 1;
}

int Check(const char* pszPath, uint32_t ulRate, uint32_t ulChannels)
{
    // Mono is recorded; a stereo tone sounds the same in both channels.
    (void)ulChannels;
    const std::vector<int16_t> vecSamples = ReadRawPcm(pszPath);
    const size_t ulWindow = ulRate / 100;
    const ToneSpan stSpan = FindToneSpan(vecSamples, ulWindow, 300.0);
    Check(stSpan.bFound, "the tone is in the recording of the output");
    if (!stSpan.bFound) {
        return 1;
    }
    const auto ulPart = static_cast<size_t>(kdPartSeconds * ulRate);
    const double dSounding = static_cast<double>(stSpan.ulEnd - stSpan.ulBegin) / ulRate;
    std::printf("sound for %.2f s, %zu quiet windows inside\n", dSounding, stSpan.ulQuietWindowsInside);
    Check(std::fabs(dSounding - 2 * kdPartSeconds) < 0.15, "two parts sound, the third is silent");
    // The middle of each part, away from the changes of volume.
    const size_t ulMargin = ulRate / 5;
    const double dUnity = Rms(vecSamples, stSpan.ulBegin + ulMargin, ulPart - 2 * ulMargin);
    const double dLouder = Rms(vecSamples, stSpan.ulBegin + ulPart + ulMargin, ulPart - 2 * ulMargin);
    const double dSilent = Rms(vecSamples, stSpan.ulBegin + 2 * ulPart + ulMargin, ulPart - 2 * ulMargin);
    const double dExpectedRms = kdAmplitude / std::sqrt(2.0);
    std::printf("volume 128: %.1f dB of the tone; 200: %+.2f dB over 128; 0: rms %.1f\n",
                20 * std::log10(dUnity / dExpectedRms), 20 * std::log10(dLouder / dUnity), dSilent);
    Check(std::fabs(20 * std::log10(dUnity / dExpectedRms)) < 0.5, "volume 128 leaves the samples as they are");
    Check(std::fabs(20 * std::log10(dLouder / dUnity) - 12.04) < 0.5, "volume 200 is four times louder");
    Check(dSilent < 30.0, "volume 0 is silent");
    const double dPitch = EstimateFrequency(vecSamples, stSpan.ulBegin + ulMargin,
                                            stSpan.ulBegin + ulPart - ulMargin, ulRate);
    Check(std::fabs(dPitch - kdFrequency) < kdFrequency * 0.01, "the pitch is right");
    // A gap with everything else right is most likely the sound server running
    // dry, which happens now and then: the take is void and taken again. A gap
    // the player makes shows in every take.
    if (sm_iFailures == 0 && stSpan.ulQuietWindowsInside != 0) {
        std::printf("take void: a gap inside the sounding parts\n");
        return kiVoidTake;
    }
    Check(stSpan.ulQuietWindowsInside == 0, "no gap inside the sounding parts");
    return sm_iFailures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "play") == 0) {
        return Play(static_cast<uint32_t>(std::atoi(argv[2])), static_cast<uint32_t>(std::atoi(argv[3])),
                    std::strcmp(argv[4], "forced") == 0);
    }
    if (argc == 5 && std::strcmp(argv[1], "check") == 0) {
        return Check(argv[2], static_cast<uint32_t>(std::atoi(argv[3])),
                     static_cast<uint32_t>(std::atoi(argv[4])));
    }
    std::fprintf(stderr, "usage: waveout_e2e play RATE CHANNELS forced|fallback\n"
                         "       waveout_e2e check FILE RATE CHANNELS\n");
    return 2;
}
