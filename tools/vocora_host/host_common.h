// What every vocora-host command shares: the log callback, result printing,
// the host's COM apartment and the library's lifetime.
#ifndef VOCORA_TOOLS_HOST_COMMON_H
#define VOCORA_TOOLS_HOST_COMMON_H

#include <windows.h>

#include <cstdint>

#include "log_watch.h"
#include "vocora.h"

// Prints every library message, formatted, as it arrives, counts them by
// level and hands them to the CLogWatch in force. A progress line still open
// on the console is ended first, so that a message never lands in the middle
// of it.
void VOCORA_CALL PrintLog(void* pContext, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                          const char* pszFunction, const char* pszFormat, va_list vaArgs);

// Progress lines are rewritten in place with "\r"; the log callback and the
// final summary need to know whether one is open.
void MarkProgressLineOpen();
void EndProgressLine();

// Prints "pszCall -> 0xN (NAME)" and hands the result back.
uint32_t Report(const char* pszCall, uint32_t ulResult);

// Option values. Digits only for ParseUint: "12abc", "-1" and "" are refused
// rather than read as something; ParsePositive takes a finite number above 0.
bool ParseUint(const char* pszText, uint32_t ulMax, uint32_t& ulValue);
bool ParsePositive(const char* pszText, double& dValue);

// Wall-clock time since construction, from the performance counter.
class CStopwatch {
public:
    CStopwatch();
    double Seconds() const;
    void SleepUntil(double dSeconds) const;

private:
    LARGE_INTEGER m_stFrequency;
    LARGE_INTEGER m_stStart;
};

// Ctrl-C and Ctrl-Break stop a command instead of ending the process: the
// command then brings its handle down properly (and finishes its file).
void WatchForCtrlC();
bool CtrlCPressed();

// COM belongs to the host: the library's echo-cancellation probe needs it on
// the thread that calls Vocora_Init.
class CComThread {
public:
    CComThread();
    ~CComThread();
    CComThread(const CComThread&) = delete;
    CComThread& operator=(const CComThread&) = delete;

private:
    HRESULT m_hr;
};

// The library from Vocora_SetLogCB to Vocora_Cleanup. The callback goes in
// first so that the build banner is seen too. Vocora_Init's result is kept but
// not acted on: it speaks for capture, and playback handles are created
// whatever it says.
class CVocoraSession {
public:
    CVocoraSession();
    ~CVocoraSession();
    CVocoraSession(const CVocoraSession&) = delete;
    CVocoraSession& operator=(const CVocoraSession&) = delete;

    uint32_t InitResult() const { return m_ulInit; }

private:
    uint32_t m_ulInit;
};

// One playback handle, destroyed on every way out.
class CPlayHandle {
public:
    CPlayHandle() = default;
    ~CPlayHandle() { Destroy(); }
    CPlayHandle(const CPlayHandle&) = delete;
    CPlayHandle& operator=(const CPlayHandle&) = delete;

    uint32_t Create(const AudioParam& stParam);
    VocoraPlayHandle Get() const { return m_hPlay; }
    uint32_t Destroy();

private:
    VocoraPlayHandle m_hPlay = nullptr;
};

// One capture handle, destroyed on every way out. The library's capture
// thread runs from Create until Destroy returns, so whatever the callback
// uses must outlive this object.
class CCaptureHandle {
public:
    CCaptureHandle() = default;
    ~CCaptureHandle() { Destroy(); }
    CCaptureHandle(const CCaptureHandle&) = delete;
    CCaptureHandle& operator=(const CCaptureHandle&) = delete;

    uint32_t Create(const AudioParam& stParam, uint32_t ulSelector);
    VocoraCaptureHandle Get() const { return m_hCapture; }
    uint32_t Destroy();

private:
    VocoraCaptureHandle m_hCapture = nullptr;
};

#endif
