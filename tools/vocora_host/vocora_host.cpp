// vocora-host: a small media host around vocora.dll. Every message the library
// logs is printed, formatted, as it arrives.
//
//   vocora-host info        initialise, report what was found and which backends
//                           handles get, clean up
//   vocora-host play        play a WAV file or a tone in real time
//   vocora-host record      capture from the microphone into a WAV file
//   vocora-host mic-volume  read, or set, the system microphone level
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "backend_inference.h"
#include "host_common.h"
#include "log_watch.h"
#include "mic_volume_command.h"
#include "play_command.h"
#include "record_command.h"
#include "result_names.h"
#include "vocora.h"

namespace {

// One line on the backend a handle of each kind gets, or on why it got none.
void PrintBackendLine(const char* pszKind, const char* pszHandle, uint32_t ulCreate,
                      const char* pszMeaning, bool bKnown, const std::string& strBackend)
{
    if (ulCreate == VOCORA_OK) {
        std::printf("  %s: %s gets %s\n", pszKind, pszHandle, strBackend.c_str());
        return;
    }
    std::printf("  %s: %s could not be created: 0x%x (%s)%s%s\n", pszKind, pszHandle, ulCreate,
                ResultName(ulCreate), *pszMeaning != '\0' ? ": " : "", pszMeaning);
    if (bKnown) {
        std::printf("    it was to be %s\n", strBackend.c_str());
    }
}

// Besides Vocora_Init's own result, creates and destroys one playback handle
// and one capture handle asking for echo cancellation: which backend each
// gets shows only in what the library logs meanwhile.
int RunInfo(int argc, char**)
{
    if (argc != 1) {
        std::fprintf(stderr, "vocora-host info: takes no arguments\n");
        return 2;
    }
    const CComThread oCom;
    uint32_t ulInit = VOCORA_OK;
    uint32_t ulPlayCreate = VOCORA_OK;
    uint32_t ulCaptureCreate = VOCORA_OK;
    EPlayBackend ePlay = EPlayBackend::kUnknown;
    ECaptureBackend eCapture = ECaptureBackend::kUnknown;
    std::string strPlay;
    std::string strCapture;
    {
        CLogWatch oWatch;
        const CVocoraSession oSession;
        ulInit = oSession.InitResult();
        const std::vector<LogRecord> vecInit = oWatch.Take();

        // Formats every device takes: 20 ms blocks of 48 kHz mono for
        // playback, 16 kHz mono for capture (echo cancellation takes mono
        // only).
        AudioParam stParam = {};
        stParam.ulChannels = 1;
        stParam.ulBitsPerSample = 16;
        std::printf("\nwhich player a playback handle gets:\n");
        {
            CPlayHandle oPlay;
            stParam.ulSampleRate = 48000;
            stParam.ulDataLen = 1920;
            ulPlayCreate = oPlay.Create(stParam);
        }
        ePlay = PlayBackendFromLog(oWatch.Take(), ulPlayCreate == VOCORA_OK);
        strPlay = DescribePlayBackend(ePlay, false, vecInit);

        std::printf("\nwhich device a capture handle with selector 0 gets:\n");
        {
            CCaptureHandle oCapture;
            stParam.ulSampleRate = 16000;
            stParam.ulDataLen = 0;
            ulCaptureCreate = oCapture.Create(stParam, 0);
        }
        const std::vector<LogRecord> vecCapture = oWatch.Take();
        eCapture = CaptureBackendFromLog(vecCapture, 0, ulCaptureCreate == VOCORA_OK);
        strCapture = DescribeCaptureBackend(eCapture, 0, stParam.ulChannels, vecInit, vecCapture);
        std::printf("\n");
    }
    std::printf("\nsummary: Vocora_Init -> 0x%x (%s): %s\n", ulInit, ResultName(ulInit),
                ulInit == VOCORA_OK ? "found a usable capture backend"
                                    : "found no usable capture backend");
    PrintBackendLine("playback", "a playback handle", ulPlayCreate, "",
                     ePlay != EPlayBackend::kUnknown, strPlay);
    PrintBackendLine("capture", "a capture handle with selector 0", ulCaptureCreate,
                     CaptureResultMeaning(ulCaptureCreate), eCapture != ECaptureBackend::kUnknown,
                     strCapture);
    std::printf("  log messages: %d failures, %d warnings, %d notes\n",
                LogMessageCount(VOCORA_LOG_ERROR), LogMessageCount(VOCORA_LOG_WARNING),
                LogMessageCount(VOCORA_LOG_INFO));
    return 0;
}

int Usage(const char* pszCommand)
{
    if (pszCommand != nullptr) {
        std::fprintf(stderr, "vocora-host: unknown command '%s'\n", pszCommand);
    }
    std::fprintf(stderr,
                 "usage: vocora-host COMMAND [ARGS]\n"
                 "  info    initialise vocora.dll, report what it found and which backend a\n"
                 "          playback handle and a capture handle with selector 0 get, clean up\n"
                 "%s%s%s",
                 PlayUsage(), RecordUsage(), MicVolumeUsage());
    return 2;
}

struct Command {
    const char* pszName;
    int (*pfnRun)(int argc, char** argv);
};

const Command kastCommands[] = {
    {"info", &RunInfo},
    {"play", &RunPlay},
    {"record", &RunRecord},
    {"mic-volume", &RunMicVolume},
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2) {
        for (const Command& stCommand : kastCommands) {
            if (std::strcmp(argv[1], stCommand.pszName) == 0) {
                return stCommand.pfnRun(argc - 1, argv + 1);
            }
        }
    }
    return Usage(argc >= 2 ? argv[1] : nullptr);
}
