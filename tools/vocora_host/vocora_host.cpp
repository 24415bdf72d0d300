// vocora-host: a small media host around vocora.dll. Every message the library
// logs is printed, formatted, as it arrives.
//
//   vocora-host info        initialise, report what was found, clean up
//   vocora-host play        play a WAV file or a tone in real time
//   vocora-host record      capture from the microphone into a WAV file
//   vocora-host mic-volume  read, or set, the system microphone level
#include <cstdio>
#include <cstring>

#include "host_common.h"
#include "mic_volume_command.h"
#include "play_command.h"
#include "record_command.h"
#include "vocora.h"

namespace {

int RunInfo(int argc, char**)
{
    if (argc != 1) {
        std::fprintf(stderr, "vocora-host info: takes no arguments\n");
        return 2;
    }
    const CComThread oCom;
    uint32_t ulInit = VOCORA_OK;
    {
        const CVocoraSession oSession;
        ulInit = oSession.InitResult();
    }
    std::printf(
        "\nsummary: Vocora_Init %s; log messages: %d failures, %d warnings, %d notes\n",
        ulInit == VOCORA_OK ? "found a usable capture backend" : "found no usable capture backend",
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
                 "  info    initialise vocora.dll, report what it found, clean up\n"
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
