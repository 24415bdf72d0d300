/* Loads vocora.dll through the SDK's import library and hears its banner. */
#include <stdio.h>
#include <string.h>

#include "vocora.h"

static int sm_iBanners;

static void VOCORA_CALL OnLog(void* pContext, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                              const char* pszFunction, const char* pszFormat, va_list vaArgs)
{
    (void)pContext, (void)lLevel, (void)pszFile, (void)ulLine, (void)vaArgs;
    sm_iBanners += strcmp(pszFunction, "Vocora_GlobalInit") == 0 && strstr(pszFormat, "Build Date") != NULL;
}

int main(void)
{
    const uint32_t ulResult = Vocora_SetLogCB(&OnLog) | Vocora_GlobalInit();
    printf("consumer: results 0x%x, %d banner(s)\n", ulResult, sm_iBanners);
    return ulResult == VOCORA_OK && sm_iBanners == 1 ? 0 : 1;
}
