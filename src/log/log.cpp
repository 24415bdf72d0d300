#include "log/log.h"

#include <atomic>
#include <cstdarg>

namespace {

void VOCORA_CALL DiscardLog(void*, int32_t, const char*, uint32_t, const char*, const char*,
                            va_list) {}

// Written by the host's setup thread, read on every thread that logs; relaxed
// atomics keep each read whole without ordering costs.
std::atomic<int32_t> sm_lLogLevel{VOCORA_LOG_INFO};
// (The pointer is wrapped because the compiler drops the callback type's
// calling-convention attribute when it is a template argument itself.)
struct LogSink {
    VocoraLogCallback pfnCallback;
};
std::atomic<LogSink> sm_stLogSink{LogSink{&DiscardLog}};

}  // namespace

uint32_t Log_SetLogLevel(int32_t lLevel)
{
    if (lLevel < 0 || lLevel > VOCORA_LOG_MAX) {
        return VOCORA_ERR_INVALID_ARG;
    }
    sm_lLogLevel.store(lLevel, std::memory_order_relaxed);
    return VOCORA_OK;
}

uint32_t Log_SetLogCallback(VocoraLogCallback pfLogCB)
{
    if (pfLogCB == nullptr) {
        VOCORA_LOG_NULL("Log_SetLogCallback", "pfLogCB");
        return VOCORA_ERR_INVALID_ARG;
    }
    sm_stLogSink.store(LogSink{pfLogCB}, std::memory_order_relaxed);
    return VOCORA_OK;
}

void Log_Print(void* pContext, int32_t lLevel, const char* pszFile, uint32_t ulLine,
               const char* pszFunction, const char* pszFormat, ...)
{
    if (lLevel <= 0 || lLevel > sm_lLogLevel.load(std::memory_order_relaxed)) {
        return;
    }
    va_list vaArgs;
    va_start(vaArgs, pszFormat);
    sm_stLogSink.load(std::memory_order_relaxed)
        .pfnCallback(pContext, lLevel, pszFile, ulLine, pszFunction, pszFormat, vaArgs);
    va_end(vaArgs);
}
