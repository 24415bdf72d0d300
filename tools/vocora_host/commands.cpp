#include "commands.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host.h"
#include "vocora.h"
#include "wav_file.h"

namespace {

constexpr double kdPi = 3.14159265358979323846;
// -6 dBFS: loud enough to find in a recording, far from clipping.
constexpr double kdToneAmplitude = 16384.0;
// A capture that delivers nothing for this long has stopped. The library
// reopens a device that went away within a second or two of its return, so
// a device unplugged and plugged in again is ridden out.
constexpr double kdCaptureStallSeconds = 10.0;

// The version block of the vocora.dll this process loaded.
std::string DllVersion()
{
    char szPath[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("vocora.dll"), szPath, MAX_PATH);
    std::vector<uint8_t> vecBlock(GetFileVersionInfoSizeA(szPath, nullptr));
    VS_FIXEDFILEINFO* pstFixed = nullptr;
    UINT ulSize = 0;
    if (vecBlock.empty() || !GetFileVersionInfoA(szPath, 0, static_cast<DWORD>(vecBlock.size()), vecBlock.data()) ||
        !VerQueryValueA(vecBlock.data(), "\\", reinterpret_cast<void**>(&pstFixed), &ulSize)) {
        return std::string(szPath) + " (no version block)";
    }
    return std::string(szPath) + " " + std::to_string(HIWORD(pstFixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(pstFixed->dwFileVersionMS)) + "." + std::to_string(HIWORD(pstFixed->dwFileVersionLS));
}

}  // namespace

uint32_t UnityVolume(const char* pszBackend)
{
    return std::strcmp(pszBackend, "waveOut") == 0 ? 128 : 255;
}

// DirectSound attenuates; the waveOut player multiplies in bands of 36
// around its unity band 109..144.
std::string VolumeText(const char* pszBackend, uint32_t ulVolume)
{
    char szText[64] = "silent";
    if (ulVolume != 0 && UnityVolume(pszBackend) == 128) {
        static const char* const kaszGains[] = {"x1/8", "x1/4", "x1/2", "x1", "x2", "x4", "x8"};
        std::snprintf(szText, sizeof szText, "samples %s", kaszGains[std::min<uint32_t>((ulVolume - 1) / 36, 6)]);
    } else if (ulVolume != 0) {
        std::snprintf(szText, sizeof szText, "%.1f dB", 20.0 * std::log10(ulVolume / 255.0));
    }
    return szText;
}

int Result(bool bOk, const char* pszWhat)
{
    std::printf("  log messages: %s\nresult: %s\n", LogCounts().c_str(), bOk ? pszWhat : "FAILED");
    return bOk ? 0 : 1;
}

int RunInfo()
{
    std::string strPlay = "none";
    std::string strCapture = "none";
    uint32_t ulInit = VOCORA_OK;
    {
        const CSession oSession;
        ulInit = oSession.InitResult();
        CPlayHandle oPlay;
        CCaptureHandle oCapture;
        oPlay.Create(Pcm16(48000, 1, 1920));
        oCapture.Create(Pcm16(16000, 1, 0), 0);
        strPlay = oPlay.Backend();
        strCapture = oCapture.Backend();
    }
    std::printf("\nsummary:\n  library: %s\n  Vocora_Init: 0x%x (%s)\n  a playback handle gets: %s\n"
                "  a capture handle with selector 0 gets: %s\n",
                DllVersion().c_str(), ulInit, ResultName(ulInit), strPlay.c_str(), strCapture.c_str());
    return Result(strPlay != "none" && strCapture != "none", "a player and a capture device");
}

int RunPlay(const PlayOptions& stOptions)
{
    CWavReader oWav;
    std::string strError;
    uint32_t ulRate = stOptions.ulSampleRate;
    uint32_t ulChannels = stOptions.ulChannels;
    uint64_t ullBytes = static_cast<uint64_t>(std::llround(stOptions.dSeconds * ulRate)) * ulChannels * kulBytesPerSample;
    if (!stOptions.strFile.empty()) {
        if (!oWav.Open(stOptions.strFile, strError)) {
            std::fprintf(stderr, "vocora-host play: %s\n", strError.c_str());
            return 2;
        }
        ulRate = oWav.SampleRate();
        ulChannels = oWav.Channels();
        ullBytes = oWav.DataBytes();
    }
    const uint32_t ulFrameBytes = ulChannels * kulBytesPerSample;
    const uint32_t ulBlockBytes = stOptions.ulBlockBytes != 0 ? stOptions.ulBlockBytes : std::max(1u, ulRate / 50) * ulFrameBytes;
    if (ulBlockBytes % ulFrameBytes != 0) {
        std::fprintf(stderr, "vocora-host play: --block %u is not a whole number of %u-byte frames\n", ulBlockBytes,
                     ulFrameBytes);
        return 2;
    }
    const uint64_t ullBlocks = (ullBytes + ulBlockBytes - 1) / ulBlockBytes;
    std::printf("playing %s: %u Hz, %u channel(s), %llu blocks of %u bytes\n",
                stOptions.strFile.empty() ? "a tone" : stOptions.strFile.c_str(), ulRate, ulChannels,
                static_cast<unsigned long long>(ullBlocks), ulBlockBytes);
    const CSession oSession;
    if (stOptions.bWaveOut) {
        Vocora_ForceUseWaveout();
    }
    CPlayHandle oPlay;
    if (oPlay.Create(Pcm16(ulRate, ulChannels, ulBlockBytes)) != VOCORA_OK) {
        return Result(false, "");
    }
    const uint32_t ulVolume = stOptions.iVolume >= 0 ? static_cast<uint32_t>(stOptions.iVolume) : UnityVolume(oPlay.Backend());
    std::printf("player: %s, volume %u (%s)\n", oPlay.Backend(), ulVolume, VolumeText(oPlay.Backend(), ulVolume).c_str());
    // A new waveOut player is silent until it is given a volume.
    if (Report("Vocora_SetPlayVolume", Vocora_SetPlayVolume(oPlay.Get(), ulVolume)) != VOCORA_OK ||
        Report("Vocora_PlayStart", Vocora_PlayStart(oPlay.Get())) != VOCORA_OK) {
        return Result(false, "");
    }
    CFeeder oFeeder(oPlay.Get(), ulBlockBytes, static_cast<double>(ulBlockBytes / ulFrameBytes) / ulRate);
    std::vector<uint8_t> vecBlock(ulBlockBytes);
    const double dStep = 2.0 * kdPi * stOptions.dToneHz / ulRate;
    uint64_t ullFrame = 0;
    bool bFed = true;
    for (uint64_t ullBlock = 0; ullBlock < ullBlocks && bFed && strError.empty() && !CtrlCPressed(); ++ullBlock) {
        std::fill(vecBlock.begin(), vecBlock.end(), 0);  // the last block is completed with silence
        uint32_t ulRead = 0;
        if (!stOptions.strFile.empty()) {
            oWav.Read(vecBlock.data(), ulBlockBytes, ulRead, strError);
        } else {
            auto* psSamples = reinterpret_cast<int16_t*>(vecBlock.data());
            for (uint32_t i = 0; i < ulBlockBytes / kulBytesPerSample; ++i) {
                psSamples[i] = static_cast<int16_t>(std::lround(kdToneAmplitude * std::sin(dStep * static_cast<double>(ullFrame))));
                ullFrame += (i + 1) % ulChannels == 0;
            }
        }
        bFed = oFeeder.Feed(vecBlock.data());
    }
    if (bFed) {
        oFeeder.Drain();
    } else {
        Report("Vocora_Play", oFeeder.Failure());
    }
    const bool bStopped = Report("Vocora_PlayStop", Vocora_PlayStop(oPlay.Get())) == VOCORA_OK;
    const bool bDestroyed = oPlay.Destroy() == VOCORA_OK;
    const bool bRightPlayer = !stOptions.bWaveOut || std::strcmp(oPlay.Backend(), "waveOut") == 0;
    std::printf("\nsummary:\n  player: %s%s\n  handed over %llu of %llu blocks%s%s\n", oPlay.Backend(),
                bRightPlayer ? "" : ", though --waveout was given", static_cast<unsigned long long>(oFeeder.Blocks()),
                static_cast<unsigned long long>(ullBlocks), strError.empty() ? "" : "; ", strError.c_str());
    return Result(bStopped && bDestroyed && bRightPlayer && oFeeder.Blocks() == ullBlocks, "played completely");
}

int RunRecord(const RecordOptions& stOptions)
{
    const uint32_t ulFrameBytes = stOptions.ulChannels * kulBytesPerSample;
    if (stOptions.ulBlockBytes % ulFrameBytes != 0) {
        std::fprintf(stderr, "vocora-host record: --block %u is not a whole number of %u-byte frames\n",
                     stOptions.ulBlockBytes, ulFrameBytes);
        return 2;
    }
    const uint64_t ullTarget = static_cast<uint64_t>(std::llround(stOptions.dSeconds * stOptions.ulSampleRate)) * ulFrameBytes;
    const CSession oSession;
    // Declared so that the handle comes down first: no callback after the
    // writer and the queue are gone.
    CCaptureQueue oQueue;
    CWavWriter oWriter;
    CCaptureHandle oCapture;
    std::string strError;
    if (oCapture.Create(Pcm16(stOptions.ulSampleRate, stOptions.ulChannels, stOptions.ulBlockBytes), stOptions.bAec ? 0 : 1) != VOCORA_OK ||
        !oWriter.Create(stOptions.strFile, stOptions.ulSampleRate, stOptions.ulChannels, strError) ||
        Report("Vocora_SetCaptureCallBack", Vocora_SetCaptureCallBack(oCapture.Get(), &CCaptureQueue::OnCapture, &oQueue)) !=
            VOCORA_OK) {
        std::printf("%s\n", strError.c_str());
        return Result(false, "");
    }
    std::printf("recording %s from %s\n", stOptions.strFile.c_str(), oCapture.Backend());
    CLevel oLevel;
    double dLastData = Now();
    while (oWriter.DataBytes() < ullTarget && strError.empty() && !CtrlCPressed() && Now() - dLastData < kdCaptureStallSeconds) {
        Sleep(50);
        std::vector<uint8_t> vecData = oQueue.TakeAll();
        const auto ulTake = static_cast<uint32_t>(std::min<uint64_t>(vecData.size(), ullTarget - oWriter.DataBytes()));
        dLastData = vecData.empty() ? dLastData : Now();
        // Kept up to date, so that a killed run leaves a valid file.
        if (oWriter.Append(vecData.data(), ulTake, strError) && oWriter.UpdateHeader(strError)) {
            const auto* psSamples = reinterpret_cast<const int16_t*>(vecData.data());
            oLevel.Add(psSamples, ulTake / kulBytesPerSample);
        }
    }
    const bool bDestroyed = oCapture.Destroy() == VOCORA_OK;
    oQueue.Close();
    Sleep(200);  // time for a late callback to show
    const bool bFinished = oWriter.Finish(strError) && strError.empty();
    std::printf("\nsummary:\n  device: %s\n  recorded %.2f of %g s in %llu callbacks, %llu after destroy; peak %.1f dBFS, "
                "RMS %.1f dBFS\n%s%s",
                oCapture.Backend(), static_cast<double>(oWriter.DataBytes()) / ulFrameBytes / stOptions.ulSampleRate,
                stOptions.dSeconds, static_cast<unsigned long long>(oQueue.Callbacks()),
                static_cast<unsigned long long>(oQueue.Late()), oLevel.PeakDbfs(), oLevel.RmsDbfs(), strError.c_str(),
                strError.empty() ? "" : "\n");
    return Result(bDestroyed && bFinished && oQueue.Late() == 0 && oWriter.DataBytes() == ullTarget, "recorded completely");
}

// The level is the system's; the handle only has to exist.
int RunMicVolume(int iSet)
{
    const CSession oSession;
    CCaptureHandle oCapture;
    if (oCapture.Create(Pcm16(16000, 1, 0), 1) != VOCORA_OK) {
        return Result(false, "");
    }
    const bool bSet = iSet < 0 || Report("Vocora_SetMicVolume(" + std::to_string(iSet) + ")",
                                         Vocora_SetMicVolume(oCapture.Get(), static_cast<uint32_t>(iSet))) == VOCORA_OK;
    int32_t lVolume = -1;
    const bool bGot = Report("Vocora_GetMicVolume", Vocora_GetMicVolume(oCapture.Get(), &lVolume)) == VOCORA_OK;
    const bool bDestroyed = oCapture.Destroy() == VOCORA_OK;
    std::printf("\nsummary:\n  microphone level: %s\n", bGot ? (std::to_string(lVolume) + " of 255").c_str() : "not read");
    return Result(bSet && bGot && bDestroyed && (iSet < 0 || lVolume == iSet), "ok");
}
