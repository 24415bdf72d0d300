/* A plain C host built against the installed SDK only: the header compiles as
 * C, the import library links, and the DLL answers. */
#include <stdio.h>
#include <string.h>

#include "vocora.h"

static char sm_szLast[256];

static void VOCORA_CALL OnLog(void* pContext, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                              const char* pszFunction, const char* pszFormat, va_list vaArgs)
{
    (void)pContext, (void)lLevel, (void)pszFile, (void)ulLine, (void)pszFunction;
    vsnprintf(sm_szLast, sizeof sm_szLast, pszFormat, vaArgs);
}

int main(void)
{
    AudioParam stParam = {8000, 1, 16, 0};
    const int bOk = Vocora_SetLogCB(OnLog) == VOCORA_OK && Vocora_GlobalInit() == VOCORA_OK &&
                    strncmp(sm_szLast, "Vocora Build Date: ", 19) == 0 &&
                    Vocora_CreatePlayDec(&stParam, NULL) == VOCORA_ERR_INVALID_ARG &&
                    strcmp(sm_szLast, "phAudioPlayDec Can't Be NULL.") == 0 && Vocora_Cleanup() == VOCORA_OK;
    printf("%s the log callback, the banner, a null handle address refused, the clean-up (last message: \"%s\")\n",
           bOk ? "ok  " : "FAIL", sm_szLast);
    return bOk ? 0 : 1;
}
