// What every vocora-host command shares: the log callback, result names, the
// library's lifetime and RAII for its handles, real-time pacing.
#ifndef VOCORA_TOOLS_HOST_H
#define VOCORA_TOOLS_HOST_H

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "vocora.h"

constexpr uint32_t kulBytesPerSample = 2;

// Prints every library message, formatted, as it arrives, and counts it.
void VOCORA_CALL PrintLog(void* pContext, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                          const char* pszFunction, const char* pszFormat, va_list vaArgs);
// "N failures, N warnings, N notes" so far.
std::string LogCounts();
// The functions that logged since the last call: which backend stands behind
// a handle shows only there.
std::vector<std::string> TakeLoggedFunctions();
bool AnyFrom(const std::vector<std::string>& vecFunctions, const char* pszClass);

const char* ResultName(uint32_t ulResult);
// Prints "pszCall -> 0xN (NAME)" and hands the result back.
uint32_t Report(const std::string& strCall, uint32_t ulResult);

// The library from Vocora_SetLogCB to Vocora_Cleanup, in a COM apartment of
// the host's own (the echo-cancelling probe needs one).
class CSession {
public:
    CSession();
    ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;
    uint32_t InitResult() const { return m_ulInit; }

private:
    HRESULT m_hrCom;
    uint32_t m_ulInit = VOCORA_OK;
};

AudioParam Pcm16(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBlockBytes);

class CPlayHandle {
public:
    CPlayHandle() = default;
    ~CPlayHandle() { Destroy(); }
    CPlayHandle(const CPlayHandle&) = delete;
    CPlayHandle& operator=(const CPlayHandle&) = delete;
    // Also says which player it got: "DirectSound" or "waveOut".
    uint32_t Create(const AudioParam& stParam);
    VocoraPlayHandle Get() const { return m_h; }
    const char* Backend() const { return m_pszBackend; }
    uint32_t Destroy();

private:
    VocoraPlayHandle m_h = nullptr;
    const char* m_pszBackend = "none";
};

// Whatever the callback uses must outlive this object: the library calls it
// until Destroy returns.
class CCaptureHandle {
public:
    CCaptureHandle() = default;
    ~CCaptureHandle() { Destroy(); }
    CCaptureHandle(const CCaptureHandle&) = delete;
    CCaptureHandle& operator=(const CCaptureHandle&) = delete;
    uint32_t Create(const AudioParam& stParam, uint32_t ulSelector);
    VocoraCaptureHandle Get() const { return m_h; }
    const char* Backend() const { return m_pszBackend; }
    uint32_t Destroy();

private:
    VocoraCaptureHandle m_h = nullptr;
    const char* m_pszBackend = "none";
};

// Seconds from the performance counter.
double Now();
// Ctrl-C and Ctrl-Break end a command's loop instead of the process, so that
// handles come down and files are finished.
bool CtrlCPressed();

// Hands whole blocks to a player in real time, a little ahead of the clock,
// and waits while its queue is full (DirectSound answers that with
// VOCORA_ERR_NO_MEMORY, waveOut with VOCORA_PLAY_ERR_WRITE).
class CFeeder {
public:
    CFeeder(VocoraPlayHandle hPlay, uint32_t ulBlockBytes, double dBlockSeconds);
    ~CFeeder();
    CFeeder(const CFeeder&) = delete;
    CFeeder& operator=(const CFeeder&) = delete;
    // False once the player failed or stopped taking audio (Failure() says how).
    bool Feed(const uint8_t* pucBlock);
    // Waits until what was handed over has played, and a little more.
    void Drain() const;
    uint64_t Blocks() const { return m_ullBlocks; }
    uint32_t Failure() const { return m_ulFailure; }
    // Time each block was handed over, from Now().
    const std::vector<double>& HandedAt() const { return m_vecHandedAt; }

private:
    VocoraPlayHandle m_hPlay;
    double m_dBlockSeconds;
    std::vector<uint8_t> m_vecCopy;
    double m_dStart = 0.0;
    uint64_t m_ullBlocks = 0;
    uint32_t m_ulFailure = VOCORA_OK;
    std::vector<double> m_vecHandedAt;
};

// What the library's capture thread hands over, kept for the host's thread:
// the callback only copies, so that file I/O never holds up the blocks
// behind it. A timed queue keeps each delivery's arrival time too.
class CCaptureQueue {
public:
    explicit CCaptureQueue(bool bTimed = false) : m_bTimed(bTimed) {}
    static void VOCORA_CALL OnCapture(const uint8_t* pucData, uint32_t ulLength, void* pUserData);
    // Everything queued since the last call.
    std::vector<uint8_t> TakeAll();
    uint64_t Callbacks() const { return m_ullCallbacks; }
    // Called once the handle's destroy has returned: anything after that
    // breaks the library's word, and is counted instead of kept.
    void Close() { m_bClosed = true; }
    uint64_t Late() const { return m_ullLate; }
    // (bytes delivered up to and with this call, when it arrived)
    std::vector<std::pair<uint64_t, double>> Arrivals();

private:
    std::mutex m_mtx;
    std::vector<uint8_t> m_vecPending;
    std::vector<std::pair<uint64_t, double>> m_vecArrivals;
    uint64_t m_ullBytes = 0;
    bool m_bTimed;
    std::atomic<uint64_t> m_ullCallbacks{0};
    std::atomic<bool> m_bClosed{false};
    std::atomic<uint64_t> m_ullLate{0};
};

// Peak and RMS of 16-bit samples, in dBFS, added as they come.
class CLevel {
public:
    void Add(const int16_t* psSamples, size_t ulCount);
    double PeakDbfs() const;
    double RmsDbfs() const;

private:
    double m_dSquares = 0.0;
    uint64_t m_ullCount = 0;
    int32_t m_lPeak = 0;
};

#endif
