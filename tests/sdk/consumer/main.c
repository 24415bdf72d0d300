/* A plain C host built against the installed SDK only: the header compiles as
 * C, the import library links, and the DLL answers. */
#include <stdio.h>
#include <string.h>

#include "vocora.h"

static int sm_iMessages;
static char sm_szLast[256];
static int32_t sm_lLastLevel;

static void VOCORA_CALL OnLog(void* pContext, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                              const char* pszFunction, const char* pszFormat, va_list vaArgs)
{
    (void)pContext, (void)pszFile, (void)ulLine, (void)pszFunction;
    ++sm_iMessages;
    sm_lLastLevel = lLevel;
    vsnprintf(sm_szLast, sizeof sm_szLast, pszFormat, vaArgs);
}

static int Expect(int bOk, const char* pszWhat)
{
    printf("%s %s (last message: \"%s\")\n", bOk ? "ok  " : "FAIL", pszWhat, sm_szLast);
    return bOk ? 0 : 1;
}

int main(void)
{
    AudioParam stParam = {8000, 1, 16, 0};
    int iFailures = Expect(Vocora_SetLogCB(OnLog) == VOCORA_OK && Vocora_SetLogLevel(VOCORA_LOG_INFO) == VOCORA_OK &&
                               Vocora_GlobalInit() == VOCORA_OK,
                           "the log callback, the level and the first Vocora_GlobalInit");
    iFailures += Expect(sm_iMessages == 1 && sm_lLastLevel == VOCORA_LOG_INFO && strncmp(sm_szLast, "Vocora Build Date: ", 19) == 0,
                        "the banner at level 4");
    iFailures += Expect(Vocora_GlobalInit() == VOCORA_OK && sm_iMessages == 2 && strcmp(sm_szLast, "Vocora Is Inited .") == 0,
                        "the repeated-init notice");
    iFailures += Expect(Vocora_CreatePlayDec(&stParam, NULL) == VOCORA_ERR_INVALID_ARG &&
                            strcmp(sm_szLast, "phAudioPlayDec Can't Be NULL.") == 0,
                        "a null handle address is rejected");
    iFailures += Expect(Vocora_DeviceDetect(0, &stParam) == VOCORA_ERR_NOT_AVAILABLE && Vocora_Cleanup() == VOCORA_OK,
                        "device detection, clean-up");
    return iFailures == 0 ? 0 : 1;
}
