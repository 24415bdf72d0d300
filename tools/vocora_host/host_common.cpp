#include "host_common.h"

#include <objbase.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "log_watch.h"
#include "result_names.h"

namespace {

std::atomic<bool> sm_bProgressLineOpen{false};

}  // namespace

void VOCORA_CALL PrintLog(void*, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                          const char* pszFunction, const char* pszFormat, va_list vaArgs)
{
    char szText[1024];
    std::vsnprintf(szText, sizeof szText, pszFormat, vaArgs);
    CLogWatch::Deliver(lLevel, pszFunction, szText);
    // One printf per message: messages from several threads may interleave
    // with each other, but never within a line.
    const bool bBreak = sm_bProgressLineOpen.exchange(false);
    std::printf("%s  log[%d] %s (%s:%u): %s\n", bBreak ? "\n" : "", static_cast<int>(lLevel),
                pszFunction, pszFile, ulLine, szText);
    std::fflush(stdout);
}

void MarkProgressLineOpen()
{
    sm_bProgressLineOpen.store(true);
}

void EndProgressLine()
{
    if (sm_bProgressLineOpen.exchange(false)) {
        std::printf("\n");
        std::fflush(stdout);
    }
}

uint32_t Report(const char* pszCall, uint32_t ulResult)
{
    EndProgressLine();
    std::printf("%s -> 0x%x (%s)\n", pszCall, ulResult, ResultName(ulResult));
    std::fflush(stdout);
    return ulResult;
}

bool ParseUint(const char* pszText, uint32_t ulMax, uint32_t& ulValue)
{
    if (pszText == nullptr || *pszText < '0' || *pszText > '9') {
        return false;
    }
    errno = 0;
    char* pszEnd = nullptr;
    const unsigned long long ullValue = std::strtoull(pszText, &pszEnd, 10);
    if (errno != 0 || *pszEnd != '\0' || ullValue > ulMax) {
        return false;
    }
    ulValue = static_cast<uint32_t>(ullValue);
    return true;
}

bool ParsePositive(const char* pszText, double& dValue)
{
    if (pszText == nullptr || *pszText == '\0') {
        return false;
    }
    char* pszEnd = nullptr;
    const double dParsed = std::strtod(pszText, &pszEnd);
    if (*pszEnd != '\0' || !std::isfinite(dParsed) || dParsed <= 0.0) {
        return false;
    }
    dValue = dParsed;
    return true;
}

CStopwatch::CStopwatch()
{
    QueryPerformanceFrequency(&m_stFrequency);
    QueryPerformanceCounter(&m_stStart);
}

double CStopwatch::Seconds() const
{
    LARGE_INTEGER stNow;
    QueryPerformanceCounter(&stNow);
    return static_cast<double>(stNow.QuadPart - m_stStart.QuadPart) /
           static_cast<double>(m_stFrequency.QuadPart);
}

void CStopwatch::SleepUntil(double dSeconds) const
{
    const double dLeft = dSeconds - Seconds();
    if (dLeft > 0.0) {
        Sleep(static_cast<DWORD>(dLeft * 1000.0));
    }
}

namespace {

std::atomic<bool> sm_bCtrlC{false};

BOOL WINAPI OnConsoleCtrl(DWORD ulCtrlType)
{
    if (ulCtrlType == CTRL_C_EVENT || ulCtrlType == CTRL_BREAK_EVENT) {
        sm_bCtrlC.store(true);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void WatchForCtrlC()
{
    SetConsoleCtrlHandler(&OnConsoleCtrl, TRUE);
}

bool CtrlCPressed()
{
    return sm_bCtrlC.load();
}

CComThread::CComThread() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}

CComThread::~CComThread()
{
    if (SUCCEEDED(m_hr)) {
        CoUninitialize();
    }
}

CVocoraSession::CVocoraSession()
{
    Report("Vocora_SetLogCB", Vocora_SetLogCB(&PrintLog));
    Report("Vocora_SetLogLevel(4)", Vocora_SetLogLevel(VOCORA_LOG_INFO));
    Report("Vocora_GlobalInit", Vocora_GlobalInit());
    m_ulInit = Report("Vocora_Init", Vocora_Init());
}

CVocoraSession::~CVocoraSession()
{
    Report("Vocora_Cleanup", Vocora_Cleanup());
}

uint32_t CPlayHandle::Create(const AudioParam& stParam)
{
    return Report("Vocora_CreatePlayDec", Vocora_CreatePlayDec(&stParam, &m_hPlay));
}

uint32_t CPlayHandle::Destroy()
{
    if (m_hPlay == nullptr) {
        return VOCORA_OK;
    }
    const uint32_t ulResult = Report("Vocora_DestoryPlayDec", Vocora_DestoryPlayDec(m_hPlay));
    m_hPlay = nullptr;
    return ulResult;
}

uint32_t CCaptureHandle::Create(const AudioParam& stParam, uint32_t ulSelector)
{
    return Report("Vocora_CreateCaptureDec",
                  Vocora_CreateCaptureDec(&stParam, ulSelector, &m_hCapture));
}

uint32_t CCaptureHandle::Destroy()
{
    if (m_hCapture == nullptr) {
        return VOCORA_OK;
    }
    const uint32_t ulResult =
        Report("Vocora_DestoryCaptureDec", Vocora_DestoryCaptureDec(m_hCapture));
    m_hCapture = nullptr;
    return ulResult;
}
