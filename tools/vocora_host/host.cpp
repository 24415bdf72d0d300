#include "host.h"

#include <mmsystem.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::atomic<int> sm_aiLogged[VOCORA_LOG_MAX + 1];
std::mutex sm_mtxFunctions;
std::vector<std::string> sm_vecFunctions;
std::atomic<bool> sm_bCtrlC{false};

BOOL WINAPI OnConsoleCtrl(DWORD ulCtrlType)
{
    sm_bCtrlC = true;
    return ulCtrlType == CTRL_C_EVENT || ulCtrlType == CTRL_BREAK_EVENT;
}

// Three blocks' worth of queue stays ahead of the clock at 20 ms: enough to
// ride out a late wake-up, little enough to keep the latency down.
constexpr double kdLeadSeconds = 0.060;
// The deepest queue a player has is 128 blocks (waveOut); a block refused
// this much longer than that has met a player that stopped taking audio (a
// device that goes away and comes back within it is ridden out, as in record).
constexpr double kdStallSeconds = 10.0;
constexpr uint32_t kulDeepestQueue = 128;
// What the device still holds after the last block was handed over.
constexpr double kdTailSeconds = 0.300;

}  // namespace

void VOCORA_CALL PrintLog(void*, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                          const char* pszFunction, const char* pszFormat, va_list vaArgs)
{
    char szText[1024];
    std::vsnprintf(szText, sizeof szText, pszFormat, vaArgs);
    ++sm_aiLogged[lLevel >= 0 && lLevel <= VOCORA_LOG_MAX ? lLevel : 0];
    {
        const std::lock_guard<std::mutex> oLock(sm_mtxFunctions);
        sm_vecFunctions.emplace_back(pszFunction);
    }
    // One printf per message: lines from several threads never mix.
    std::printf("  log[%d] %s (%s:%u): %s\n", static_cast<int>(lLevel), pszFunction, pszFile, ulLine, szText);
    std::fflush(stdout);
}

std::string LogCounts()
{
    return std::to_string(sm_aiLogged[VOCORA_LOG_ERROR]) + " failures, " + std::to_string(sm_aiLogged[VOCORA_LOG_WARNING]) +
           " warnings, " + std::to_string(sm_aiLogged[VOCORA_LOG_INFO]) + " notes";
}

std::vector<std::string> TakeLoggedFunctions()
{
    const std::lock_guard<std::mutex> oLock(sm_mtxFunctions);
    return std::move(sm_vecFunctions);
}

bool AnyFrom(const std::vector<std::string>& vecFunctions, const char* pszClass)
{
    return std::any_of(vecFunctions.begin(), vecFunctions.end(),
                       [&](const std::string& str) { return str.rfind(pszClass, 0) == 0; });
}

namespace {

struct ResultText {
    uint32_t ulCode;
    const char* pszName;
    const char* pszMeaning;
};

#define VOCORA_RESULT(code, meaning) {code, #code, meaning},
const ResultText kastResults[] = {
    VOCORA_RESULT(VOCORA_OK, "")
    VOCORA_RESULT(VOCORA_ERR_RESOURCE, "an event or device could not be made, or the waveOut device not reset")
    VOCORA_RESULT(VOCORA_ERR_INVALID_ARG, "the library refused an argument, or the handle has no device")
    VOCORA_RESULT(VOCORA_ERR_NO_MEMORY, "out of memory, or the player's queue is full")
    VOCORA_RESULT(VOCORA_ERR_NOT_AVAILABLE, "DirectSound is missing, or the player is not running")
    VOCORA_RESULT(VOCORA_CAP_ERR_NO_INPUT_DEVICE, "no input device, or no microphone level control")
    VOCORA_RESULT(VOCORA_CAP_ERR_MIXER_OPEN, "the input mixer, or the echo-cancelling engine, could not be set up")
    VOCORA_RESULT(VOCORA_CAP_ERR_MIXER_CAPS, "the input mixer did not report its capabilities")
    VOCORA_RESULT(VOCORA_CAP_ERR_MIXER_LINE, "the input mixer has no recording line (Wine's winmm has none)")
    VOCORA_RESULT(VOCORA_CAP_ERR_MIXER_CONTROLS, "the microphone line has no volume control")
    VOCORA_RESULT(VOCORA_CAP_ERR_SET_MIC_VOLUME, "the mixer refused the microphone level")
    VOCORA_RESULT(VOCORA_CAP_ERR_GET_MIC_VOLUME, "the mixer did not report the microphone level")
    VOCORA_RESULT(VOCORA_CAP_ERR_CREATE_CAPTURE, "the DirectSound capture device could not be made")
    VOCORA_RESULT(VOCORA_CAP_ERR_CREATE_BUFFER, "the capture device refused this format or block")
    VOCORA_RESULT(VOCORA_CAP_ERR_NOTIFY, "the capture notifications could not be set up")
    VOCORA_RESULT(VOCORA_CAP_ERR_START, "the capture device or its thread would not start")
    VOCORA_RESULT(VOCORA_CAP_ERR_NO_OUTPUT_DEVICE, "echo cancellation found no output device")
    VOCORA_RESULT(VOCORA_CAP_ERR_MANY_OUTPUT_DEVICES, "echo cancellation found more than one output device")
    VOCORA_RESULT(VOCORA_PLAY_ERR_NO_DEVICE, "no playback device, or it refused this format")
    VOCORA_RESULT(VOCORA_PLAY_ERR_CREATE_DEVICE, "the playback device could not be opened")
    VOCORA_RESULT(VOCORA_PLAY_ERR_COOPERATIVE_LEVEL, "DirectSound refused the cooperative level")
    VOCORA_RESULT(VOCORA_PLAY_ERR_NOT_STARTED, "the player is not started, or its thread would not start")
    VOCORA_RESULT(VOCORA_PLAY_ERR_GET_VOLUME, "the player did not report its volume")
    VOCORA_RESULT(VOCORA_PLAY_ERR_SET_VOLUME, "the player refused the volume")
    VOCORA_RESULT(VOCORA_PLAY_ERR_WRITE, "the block could not be queued (a full waveOut ring is retried)")
    VOCORA_RESULT(VOCORA_PLAY_ERR_UNLOCK, "the sound buffer could not be unlocked")
    VOCORA_RESULT(VOCORA_PLAY_ERR_PLAY, "the sound buffer would not play")
    VOCORA_RESULT(VOCORA_ERR_ZERO_BLOCK, "the block works out to 0 bytes")
    VOCORA_RESULT(VOCORA_PLAY_ERR_GET_POSITION, "the sound buffer did not report its position")
    VOCORA_RESULT(VOCORA_PLAY_ERR_SET_POSITION, "the sound buffer refused its position")
};
#undef VOCORA_RESULT

const ResultText& Lookup(uint32_t ulResult)
{
    static const ResultText kstUnknown = {0, "unknown", "a code this tool does not know"};
    for (const ResultText& st : kastResults) {
        if (st.ulCode == ulResult) {
            return st;
        }
    }
    return kstUnknown;
}

}  // namespace

const char* ResultName(uint32_t ulResult)
{
    return Lookup(ulResult).pszName;
}

// A failure says what it means, for whoever reads the run.
uint32_t Report(const std::string& strCall, uint32_t ulResult)
{
    const ResultText& stText = Lookup(ulResult);
    std::printf("%s -> 0x%x (%s)%s%s\n", strCall.c_str(), ulResult, stText.pszName, ulResult != VOCORA_OK ? ": " : "",
                ulResult != VOCORA_OK ? stText.pszMeaning : "");
    std::fflush(stdout);
    return ulResult;
}

// The callback goes in first, so that the build banner is seen too.
CSession::CSession() : m_hrCom(CoInitializeEx(nullptr, COINIT_MULTITHREADED))
{
    SetConsoleCtrlHandler(&OnConsoleCtrl, TRUE);
    Report("Vocora_SetLogCB", Vocora_SetLogCB(&PrintLog));
    Report("Vocora_SetLogLevel(4)", Vocora_SetLogLevel(VOCORA_LOG_INFO));
    Report("Vocora_GlobalInit", Vocora_GlobalInit());
    m_ulInit = Report("Vocora_Init", Vocora_Init());
}

CSession::~CSession()
{
    Report("Vocora_Cleanup", Vocora_Cleanup());
    if (SUCCEEDED(m_hrCom)) {
        CoUninitialize();
    }
}

AudioParam Pcm16(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBlockBytes)
{
    return AudioParam{ulSampleRate, ulChannels, 16, ulBlockBytes};
}

// The waveOut player logs nothing when it opens; the DirectSound one logs
// the format.
uint32_t CPlayHandle::Create(const AudioParam& stParam)
{
    TakeLoggedFunctions();
    const uint32_t ulResult = Report("Vocora_CreatePlayDec", Vocora_CreatePlayDec(&stParam, &m_h));
    if (ulResult == VOCORA_OK) {
        m_pszBackend = AnyFrom(TakeLoggedFunctions(), "CDirectSoundPlay") ? "DirectSound" : "waveOut";
    }
    return ulResult;
}

uint32_t CPlayHandle::Destroy()
{
    const uint32_t ulResult = m_h != nullptr ? Report("Vocora_DestoryPlayDec", Vocora_DestoryPlayDec(m_h)) : VOCORA_OK;
    m_h = nullptr;
    return ulResult;
}

uint32_t CCaptureHandle::Create(const AudioParam& stParam, uint32_t ulSelector)
{
    TakeLoggedFunctions();
    const uint32_t ulResult = Report("Vocora_CreateCaptureDec(selector " + std::to_string(ulSelector) + ")",
                                     Vocora_CreateCaptureDec(&stParam, ulSelector, &m_h));
    if (ulResult == VOCORA_OK) {
        const bool bPlain = ulSelector != 0 || AnyFrom(TakeLoggedFunctions(), "CDirectSoundCapture");
        m_pszBackend = !bPlain            ? "echo-cancelling capture"
                       : ulSelector != 0 ? "DirectSound capture"
                                         : "DirectSound capture (echo cancellation is not offered here)";
    }
    return ulResult;
}

uint32_t CCaptureHandle::Destroy()
{
    const uint32_t ulResult =
        m_h != nullptr ? Report("Vocora_DestoryCaptureDec", Vocora_DestoryCaptureDec(m_h)) : VOCORA_OK;
    m_h = nullptr;
    return ulResult;
}

double Now()
{
    LARGE_INTEGER stFrequency;
    LARGE_INTEGER stNow;
    QueryPerformanceFrequency(&stFrequency);
    QueryPerformanceCounter(&stNow);
    return static_cast<double>(stNow.QuadPart) / static_cast<double>(stFrequency.QuadPart);
}

bool CtrlCPressed()
{
    return sm_bCtrlC;
}

// 1 ms sleeps while feeding: the default 15.6 ms tick would hand 20 ms blocks
// over in bursts.
CFeeder::CFeeder(VocoraPlayHandle hPlay, uint32_t ulBlockBytes, double dBlockSeconds)
    : m_hPlay(hPlay), m_dBlockSeconds(dBlockSeconds), m_vecCopy(ulBlockBytes)
{
    timeBeginPeriod(1);
}

CFeeder::~CFeeder()
{
    timeEndPeriod(1);
}

bool CFeeder::Feed(const uint8_t* pucBlock)
{
    const double dNow = Now();
    if (m_ullBlocks == 0) {
        m_dStart = dNow;
    }
    const double dDue = m_dStart + static_cast<double>(m_ullBlocks) * m_dBlockSeconds - kdLeadSeconds;
    if (dDue > dNow) {
        Sleep(static_cast<DWORD>((dDue - dNow) * 1000.0));
    }
    const double dGiveUp = Now() + kdStallSeconds + kulDeepestQueue * m_dBlockSeconds;
    for (;;) {
        // The waveOut player applies its gain in place: every try gets the block as it was.
        std::memcpy(m_vecCopy.data(), pucBlock, m_vecCopy.size());
        m_ulFailure = Vocora_Play(m_hPlay, m_vecCopy.data(), static_cast<uint32_t>(m_vecCopy.size()));
        if (m_ulFailure == VOCORA_OK) {
            m_vecHandedAt.push_back(Now());
            ++m_ullBlocks;
            return true;
        }
        const bool bFull = m_ulFailure == VOCORA_ERR_NO_MEMORY || m_ulFailure == VOCORA_PLAY_ERR_WRITE;
        if (!bFull || CtrlCPressed() || Now() > dGiveUp) {
            return false;
        }
        Sleep(std::max<DWORD>(1, static_cast<DWORD>(m_dBlockSeconds * 500.0)));
    }
}

void CFeeder::Drain() const
{
    const double dEnd = m_dStart + static_cast<double>(m_ullBlocks) * m_dBlockSeconds + kdTailSeconds;
    while (!CtrlCPressed() && Now() < dEnd) {
        Sleep(10);
    }
}

void VOCORA_CALL CCaptureQueue::OnCapture(const uint8_t* pucData, uint32_t ulLength, void* pUserData)
{
    auto* poQueue = static_cast<CCaptureQueue*>(pUserData);
    const double dNow = Now();
    if (poQueue->m_bClosed) {
        ++poQueue->m_ullLate;
        return;
    }
    const std::lock_guard<std::mutex> oLock(poQueue->m_mtx);
    poQueue->m_vecPending.insert(poQueue->m_vecPending.end(), pucData, pucData + ulLength);
    poQueue->m_ullBytes += ulLength;
    if (poQueue->m_bTimed) {
        poQueue->m_vecArrivals.emplace_back(poQueue->m_ullBytes, dNow);
    }
    ++poQueue->m_ullCallbacks;
}

std::vector<uint8_t> CCaptureQueue::TakeAll()
{
    const std::lock_guard<std::mutex> oLock(m_mtx);
    return std::move(m_vecPending);
}

std::vector<std::pair<uint64_t, double>> CCaptureQueue::Arrivals()
{
    const std::lock_guard<std::mutex> oLock(m_mtx);
    return m_vecArrivals;
}

void CLevel::Add(const int16_t* psSamples, size_t ulCount)
{
    for (size_t i = 0; i < ulCount; ++i) {
        m_dSquares += static_cast<double>(psSamples[i]) * psSamples[i];
        m_lPeak = std::max(m_lPeak, std::abs(static_cast<int32_t>(psSamples[i])));
    }
    m_ullCount += ulCount;
}

// Silence reads as -inf.
double CLevel::PeakDbfs() const
{
    return 20.0 * std::log10(m_lPeak / 32768.0);
}

double CLevel::RmsDbfs() const
{
    return 10.0 * std::log10(m_dSquares / static_cast<double>(std::max<uint64_t>(m_ullCount, 1)) / (32768.0 * 32768.0));
}
