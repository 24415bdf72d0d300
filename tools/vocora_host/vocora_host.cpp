// vocora-host: a small media host around vocora.dll. Every message the library
// logs is printed, formatted, as it arrives.
//
//   vocora-host info    initialise, report what was found, clean up
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "result_names.h"
#include "vocora.h"

namespace {

std::atomic<int> sm_aiMessagesByLevel[VOCORA_LOG_MAX + 1];

void VOCORA_CALL PrintLog(void*, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                          const char* pszFunction, const char* pszFormat, va_list vaArgs)
{
    char szText[1024];
    std::vsnprintf(szText, sizeof szText, pszFormat, vaArgs);
    if (lLevel >= 0 && lLevel <= VOCORA_LOG_MAX) {
        ++sm_aiMessagesByLevel[lLevel];
    }
    std::printf("  log[%d] %s (%s:%u): %s\n", static_cast<int>(lLevel), pszFunction, pszFile,
                ulLine, szText);
    std::fflush(stdout);
}

uint32_t Report(const char* pszCall, uint32_t ulResult)
{
    std::printf("%s -> 0x%x (%s)\n", pszCall, ulResult, ResultName(ulResult));
    return ulResult;
}

// COM belongs to the host: the library's echo-cancellation probe needs it on
// the thread that calls Vocora_Init.
class CComThread {
public:
    CComThread() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComThread()
    {
        if (SUCCEEDED(m_hr)) {
            CoUninitialize();
        }
    }
    CComThread(const CComThread&) = delete;
    CComThread& operator=(const CComThread&) = delete;

private:
    HRESULT m_hr;
};

int RunInfo()
{
    CComThread oCom;
    // The callback goes in first so that the build banner is seen too.
    Report("Vocora_SetLogCB", Vocora_SetLogCB(&PrintLog));
    Report("Vocora_SetLogLevel(4)", Vocora_SetLogLevel(VOCORA_LOG_INFO));
    Report("Vocora_GlobalInit", Vocora_GlobalInit());
    const uint32_t ulInit = Report("Vocora_Init", Vocora_Init());
    Report("Vocora_Cleanup", Vocora_Cleanup());

    std::printf("\nsummary: Vocora_Init %s; log messages: %d failures, %d warnings, %d notes\n",
                ulInit == VOCORA_OK ? "found a usable capture backend"
                                    : "found no usable capture backend",
                sm_aiMessagesByLevel[VOCORA_LOG_ERROR].load(),
                sm_aiMessagesByLevel[VOCORA_LOG_WARNING].load(),
                sm_aiMessagesByLevel[VOCORA_LOG_INFO].load());
    return 0;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: vocora-host COMMAND\n"
                 "  info    initialise vocora.dll, report what it found, clean up\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "info") == 0) {
        return RunInfo();
    }
    return Usage();
}
