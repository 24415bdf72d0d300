#include "mic_volume_command.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "host_common.h"
#include "result_names.h"
#include "vocora.h"

namespace {

constexpr uint32_t kulMaxVolume = 255;

// Wine's version, or null on Windows: Wine's winmm answers the mixer queries
// differently, and the user should know a failure comes from there.
const char* WineVersion()
{
    const HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    if (hNtdll == nullptr) {
        return nullptr;
    }
    // Through the generic function type: a direct cast between unrelated
    // function types is refused by -Wcast-function-type.
    const auto pfnGeneric =
        reinterpret_cast<void (*)()>(GetProcAddress(hNtdll, "wine_get_version"));
    if (pfnGeneric == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<const char* (*)()>(pfnGeneric)();
}

void ExplainFailure(const char* pszWhat, uint32_t ulResult)
{
    std::printf("  %s failed: 0x%x (%s): %s\n", pszWhat, ulResult, ResultName(ulResult),
                CaptureResultMeaning(ulResult));
}

void ExplainWineMixer()
{
    const char* pszWine = WineVersion();
    if (pszWine != nullptr) {
        std::printf(
            "  running under Wine %s: its winmm opens the output (render) mixer for the input\n"
            "  device, and that mixer has no recording line, so the microphone level cannot\n"
            "  be reached there. This is the platform's answer, not a fault of vocora-host.\n",
            pszWine);
    }
}

}  // namespace

const char* MicVolumeUsage()
{
    return "  mic-volume [--set N]\n"
           "          read the system microphone level (0..255) through a capture handle;\n"
           "          with --set, set it to N first and read it back\n";
}

int RunMicVolume(int argc, char** argv)
{
    bool bSet = false;
    uint32_t ulNewVolume = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--set" && !bSet) {
            const char* pszValue = i + 1 < argc ? argv[i + 1] : nullptr;
            if (!ParseUint(pszValue, kulMaxVolume, ulNewVolume)) {
                std::fprintf(stderr,
                             "vocora-host mic-volume: --set needs a level from 0 to 255%s%s%s\n",
                             pszValue != nullptr ? ", not '" : "",
                             pszValue != nullptr ? pszValue : "", pszValue != nullptr ? "'" : "");
                return 2;
            }
            bSet = true;
            ++i;
        } else {
            std::fprintf(stderr, "vocora-host mic-volume: unexpected argument %s\nusage:\n%s",
                         strArg.c_str(), MicVolumeUsage());
            return 2;
        }
    }

    const CComThread oCom;
    uint32_t ulCreate = VOCORA_OK;
    uint32_t ulSetResult = VOCORA_OK;
    uint32_t ulGetResult = VOCORA_OK;
    int32_t lVolume = -1;
    bool bTeardownFailed = false;
    {
        const CVocoraSession oSession;
        CCaptureHandle oCapture;
        // The level is the system's; the handle only has to exist, so the
        // format is the cheapest one to capture.
        AudioParam stParam = {};
        stParam.ulSampleRate = 16000;
        stParam.ulChannels = 1;
        stParam.ulBitsPerSample = 16;
        ulCreate = oCapture.Create(stParam, 1);
        if (ulCreate == VOCORA_OK) {
            if (bSet) {
                const std::string strCall =
                    "Vocora_SetMicVolume(" + std::to_string(ulNewVolume) + ")";
                ulSetResult =
                    Report(strCall.c_str(), Vocora_SetMicVolume(oCapture.Get(), ulNewVolume));
            }
            ulGetResult =
                Report("Vocora_GetMicVolume", Vocora_GetMicVolume(oCapture.Get(), &lVolume));
        }
        bTeardownFailed = oCapture.Destroy() != VOCORA_OK;
    }

    std::printf("\nsummary:\n");
    if (ulCreate != VOCORA_OK) {
        std::printf("  no capture handle, so no microphone level: 0x%x (%s): %s\n", ulCreate,
                    ResultName(ulCreate), CaptureResultMeaning(ulCreate));
    } else {
        if (bSet && ulSetResult == VOCORA_OK) {
            std::printf("  microphone level set to %u\n", ulNewVolume);
        } else if (bSet) {
            ExplainFailure("setting the microphone level", ulSetResult);
        }
        if (ulGetResult == VOCORA_OK) {
            std::printf("  microphone level: %d of 255 (%.0f%%)\n", static_cast<int>(lVolume),
                        100.0 * lVolume / kulMaxVolume);
            if (bSet && ulSetResult == VOCORA_OK && lVolume != static_cast<int32_t>(ulNewVolume)) {
                std::printf("  the level read back differs from the %u that was set\n",
                            ulNewVolume);
            }
        } else {
            ExplainFailure("reading the microphone level", ulGetResult);
        }
        if (ulSetResult == VOCORA_CAP_ERR_MIXER_LINE || ulGetResult == VOCORA_CAP_ERR_MIXER_LINE) {
            ExplainWineMixer();
        }
    }
    std::printf("  log messages: %d failures, %d warnings, %d notes\n",
                LogMessageCount(VOCORA_LOG_ERROR), LogMessageCount(VOCORA_LOG_WARNING),
                LogMessageCount(VOCORA_LOG_INFO));
    const bool bReadBack = !bSet || lVolume == static_cast<int32_t>(ulNewVolume);
    const bool bOk = ulCreate == VOCORA_OK && ulSetResult == VOCORA_OK &&
                     ulGetResult == VOCORA_OK && bReadBack && !bTeardownFailed;
    std::printf("result: %s\n", bOk ? "ok" : "FAILED");
    return bOk ? 0 : 1;
}
