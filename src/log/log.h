// The one way diagnostics leave the library: filtered by a process-wide level
// and handed unformatted to the host's callback.
#ifndef VOCORA_LOG_LOG_H
#define VOCORA_LOG_LOG_H

#include <cstdint>

#include "vocora.h"

uint32_t Log_SetLogLevel(int32_t lLevel);
uint32_t Log_SetLogCallback(VocoraLogCallback pfLogCB);

// Delivered exactly when 0 < lLevel <= the current level; the check comes
// before the argument list is touched, so a filtered message costs nothing.
void Log_Print(void* pContext, int32_t lLevel, const char* pszFile, uint32_t ulLine,
               const char* pszFunction, const char* pszFormat, ...)
    __attribute__((format(gnu_printf, 6, 7)));

// The emitting file is the source's path relative to the source tree (the build
// maps the tree's prefix away from __FILE__).
#define VOCORA_LOG(lLevel, pszFunction, ...) \
    Log_Print(nullptr, (lLevel), __FILE__, __LINE__, (pszFunction), __VA_ARGS__)

// The message every null pointer check emits.
#define VOCORA_LOG_NULL(pszFunction, pszName) \
    VOCORA_LOG(VOCORA_LOG_ERROR, (pszFunction), "%s Can't Be NULL.", (pszName))

#endif
