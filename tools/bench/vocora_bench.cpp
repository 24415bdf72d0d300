// vocora_bench: how much the playback path costs, printed as figures.
//
//   1. Vocora_Play handing blocks to the staging queue, against memcpy of the
//      same blocks into a queue-sized buffer, in the same run.
//   2. The CPU time a playing handle's play thread takes per second of audio.
//
//   vocora_bench [--cpu-seconds S]
//
// Nothing here passes or fails: the figures depend on the machine and, under
// Wine, on Wine's emulation, so they are for reading and comparing between
// builds on one machine.
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "vocora.h"

namespace {

// The player's staging queue holds this many blocks; the memcpy comparison
// copies into a buffer of the same size so that both touch as much memory.
constexpr uint32_t kulStagingBlocks = 40;
// Per block size: stop after this much wall time or this many queue refills.
constexpr double kdThroughputBudgetSeconds = 2.0;
constexpr uint32_t kulMaxRefills = 5000;
constexpr double kdLeadSeconds = 0.100;
constexpr double kdTailSeconds = 0.300;
constexpr double kdPi = 3.14159265358979323846;
constexpr uint64_t kullTenMsTicks = 100000;  // in the 100 ns units of FILETIME

std::atomic<int> sm_aiMessagesByLevel[VOCORA_LOG_MAX + 1];
std::atomic<int> sm_iMessagesPrinted{0};
constexpr int kiMaxMessagesPrinted = 5;

// Counts every message but prints only the first few failures and warnings:
// the player reports each "queue full" answer, and printing thousands of them
// would flood the output and cost time inside the calls being measured.
void VOCORA_CALL CountLog(void*, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                          const char* pszFunction, const char* pszFormat, va_list vaArgs)
{
    if (lLevel >= 0 && lLevel <= VOCORA_LOG_MAX) {
        ++sm_aiMessagesByLevel[lLevel];
    }
    if (lLevel != VOCORA_LOG_ERROR && lLevel != VOCORA_LOG_WARNING) {
        return;
    }
    const int iPrinted = sm_iMessagesPrinted++;
    if (iPrinted < kiMaxMessagesPrinted) {
        char szText[1024];
        std::vsnprintf(szText, sizeof szText, pszFormat, vaArgs);
        std::printf("  log[%d] %s (%s:%u): %s\n", static_cast<int>(lLevel), pszFunction, pszFile,
                    ulLine, szText);
    } else if (iPrinted == kiMaxMessagesPrinted) {
        std::printf("  (further failures and warnings are only counted)\n");
    }
}

class CHandle {
public:
    explicit CHandle(HANDLE hHandle = nullptr) : m_hHandle(hHandle) {}
    ~CHandle()
    {
        if (IsValid()) {
            CloseHandle(m_hHandle);
        }
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& oOther) noexcept : m_hHandle(oOther.m_hHandle) { oOther.m_hHandle = nullptr; }

    HANDLE Get() const { return m_hHandle; }
    bool IsValid() const { return m_hHandle != nullptr && m_hHandle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_hHandle;
};

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

// Vocora_GlobalInit .. Vocora_Cleanup. Vocora_Init speaks for capture only;
// playback handles are created whatever it says.
class CVocoraSession {
public:
    CVocoraSession()
    {
        Vocora_SetLogCB(&CountLog);
        Vocora_SetLogLevel(VOCORA_LOG_INFO);
        Vocora_GlobalInit();
        m_ulInit = Vocora_Init();
    }
    ~CVocoraSession() { Vocora_Cleanup(); }
    CVocoraSession(const CVocoraSession&) = delete;
    CVocoraSession& operator=(const CVocoraSession&) = delete;

    uint32_t InitResult() const { return m_ulInit; }

private:
    uint32_t m_ulInit = VOCORA_OK;
};

class CPlayHandle {
public:
    CPlayHandle() = default;
    ~CPlayHandle()
    {
        if (m_hPlay != nullptr) {
            Vocora_DestoryPlayDec(m_hPlay);
        }
    }
    CPlayHandle(const CPlayHandle&) = delete;
    CPlayHandle& operator=(const CPlayHandle&) = delete;

    uint32_t Create(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBlockBytes)
    {
        AudioParam stParam = {};
        stParam.ulSampleRate = ulSampleRate;
        stParam.ulChannels = ulChannels;
        stParam.ulBitsPerSample = 16;
        stParam.ulDataLen = ulBlockBytes;
        return Vocora_CreatePlayDec(&stParam, &m_hPlay);
    }
    VocoraPlayHandle Get() const { return m_hPlay; }

private:
    VocoraPlayHandle m_hPlay = nullptr;
};

int64_t Ticks()
{
    LARGE_INTEGER stNow;
    QueryPerformanceCounter(&stNow);
    return stNow.QuadPart;
}

double TickSeconds()
{
    static const double s_dSeconds = [] {
        LARGE_INTEGER stFrequency;
        QueryPerformanceFrequency(&stFrequency);
        return 1.0 / static_cast<double>(stFrequency.QuadPart);
    }();
    return s_dSeconds;
}

// Keeps the compiler from dropping a copy whose destination is never read.
void KeepWritten(void* pMemory)
{
    asm volatile("" : : "r"(pMemory) : "memory");
}

// Quiet sine blocks (-20 dBFS), so what the device plays meanwhile is sound.
std::vector<uint8_t> ToneBlock(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBlockBytes)
{
    std::vector<uint8_t> vecBlock(ulBlockBytes);
    const uint32_t ulFrames = ulBlockBytes / (2 * ulChannels);
    for (uint32_t i = 0; i < ulFrames; ++i) {
        const auto sSample =
            static_cast<int16_t>(3277.0 * std::sin(2.0 * kdPi * 1000.0 * i / ulSampleRate));
        for (uint32_t c = 0; c < ulChannels; ++c) {
            std::memcpy(vecBlock.data() + (static_cast<size_t>(i) * ulChannels + c) * 2, &sSample,
                        2);
        }
    }
    return vecBlock;
}

struct CallTimes {
    std::vector<int64_t> vecTicks;
    int64_t llTotal = 0;

    void Add(int64_t llTicks)
    {
        vecTicks.push_back(llTicks);
        llTotal += llTicks;
    }
    double MicrosAt(double dFraction)
    {
        if (vecTicks.empty()) {
            return 0.0;
        }
        const size_t ulIndex =
            static_cast<size_t>(dFraction * static_cast<double>(vecTicks.size() - 1));
        std::nth_element(vecTicks.begin(), vecTicks.begin() + static_cast<ptrdiff_t>(ulIndex),
                         vecTicks.end());
        return static_cast<double>(vecTicks[ulIndex]) * TickSeconds() * 1e6;
    }
};

void PrintRate(const char* pszWhat, CallTimes& stTimes, uint32_t ulBlockBytes)
{
    const double dSeconds = static_cast<double>(stTimes.llTotal) * TickSeconds();
    const size_t ulCalls = stTimes.vecTicks.size();
    const double dBytes = static_cast<double>(ulCalls) * ulBlockBytes;
    std::printf(
        "  %-24s %8zu calls, %7.1f MB in %.4f s -> %9.1f MB/s  (per call: mean %.3f us, "
        "median %.1f, 99th %.1f)\n",
        pszWhat, ulCalls, dBytes / 1e6, dSeconds, dSeconds > 0 ? dBytes / 1e6 / dSeconds : 0.0,
        ulCalls > 0 ? dSeconds * 1e6 / static_cast<double>(ulCalls) : 0.0, stTimes.MicrosAt(0.5),
        stTimes.MicrosAt(0.99));
}

double MegabytesPerSecond(const CallTimes& stTimes, uint32_t ulBlockBytes)
{
    const double dSeconds = static_cast<double>(stTimes.llTotal) * TickSeconds();
    return dSeconds > 0
               ? static_cast<double>(stTimes.vecTicks.size()) * ulBlockBytes / 1e6 / dSeconds
               : 0.0;
}

// Fills the staging queue with Vocora_Play calls until it reports full,
// empties it with PlayStop + PlayStart, and again, within the budget; then
// memcpy copies as many blocks of the same size round a queue-sized buffer.
// Both are timed the same way: one counter read after each call, each call
// charged the interval since the previous read. Summed, the intervals
// telescope, so the counter's 0.1 us steps do not pile up; an answer "full"
// is left out of the sum.
bool MeasureThroughput(const char* pszLabel, uint32_t ulSampleRate, uint32_t ulChannels,
                       uint32_t ulBlockBytes)
{
    std::printf(
        "\n[%s] Vocora_Play into the staging queue vs memcpy: %u Hz, %u channel(s), "
        "%u-byte blocks (%.1f ms)\n",
        pszLabel, ulSampleRate, ulChannels, ulBlockBytes,
        1000.0 * ulBlockBytes / (2.0 * ulChannels * ulSampleRate));
    CPlayHandle oPlay;
    uint32_t ulResult = oPlay.Create(ulSampleRate, ulChannels, ulBlockBytes);
    if (ulResult != VOCORA_OK) {
        std::printf("  Vocora_CreatePlayDec -> 0x%x: skipped\n", ulResult);
        return false;
    }
    Vocora_SetPlayVolume(oPlay.Get(), 255);
    ulResult = Vocora_PlayStart(oPlay.Get());
    if (ulResult != VOCORA_OK) {
        std::printf("  Vocora_PlayStart -> 0x%x: skipped\n", ulResult);
        return false;
    }

    std::vector<uint8_t> vecBlock = ToneBlock(ulSampleRate, ulChannels, ulBlockBytes);
    CallTimes stPlay;
    CallTimes stRejected;
    CallTimes stRefill;
    uint32_t ulFailure = VOCORA_OK;
    const int64_t llDeadline =
        Ticks() + static_cast<int64_t>(kdThroughputBudgetSeconds / TickSeconds());
    while (ulFailure == VOCORA_OK && stRefill.vecTicks.size() < kulMaxRefills &&
           Ticks() < llDeadline) {
        int64_t llPrevious = Ticks();
        for (;;) {
            ulResult = Vocora_Play(oPlay.Get(), vecBlock.data(), ulBlockBytes);
            const int64_t llNow = Ticks();
            if (ulResult == VOCORA_OK) {
                stPlay.Add(llNow - llPrevious);
                llPrevious = llNow;
                continue;
            }
            if (ulResult == VOCORA_ERR_NO_MEMORY) {
                stRejected.Add(llNow - llPrevious);
            } else {
                ulFailure = ulResult;
            }
            break;
        }
        const int64_t llStart = Ticks();
        Vocora_PlayStop(oPlay.Get());
        ulResult = Vocora_PlayStart(oPlay.Get());
        stRefill.Add(Ticks() - llStart);
        if (ulResult != VOCORA_OK && ulFailure == VOCORA_OK) {
            ulFailure = ulResult;
        }
    }
    Vocora_PlayStop(oPlay.Get());

    std::vector<uint8_t> vecQueue(static_cast<size_t>(ulBlockBytes) * kulStagingBlocks);
    const size_t ulCalls = stPlay.vecTicks.size();
    CallTimes stCopy;
    int64_t llPrevious = Ticks();
    for (size_t i = 0; i < ulCalls; ++i) {
        uint8_t* pucSlot = vecQueue.data() + (i % kulStagingBlocks) * ulBlockBytes;
        std::memcpy(pucSlot, vecBlock.data(), ulBlockBytes);
        KeepWritten(pucSlot);
        const int64_t llNow = Ticks();
        stCopy.Add(llNow - llPrevious);
        llPrevious = llNow;
    }
    // The same copies without a counter read between them, and the reads
    // alone, so the reader can see what one read adds to each call.
    const int64_t llBulkStart = Ticks();
    for (size_t i = 0; i < ulCalls; ++i) {
        uint8_t* pucSlot = vecQueue.data() + (i % kulStagingBlocks) * ulBlockBytes;
        std::memcpy(pucSlot, vecBlock.data(), ulBlockBytes);
        KeepWritten(pucSlot);
    }
    const double dBulkSeconds = static_cast<double>(Ticks() - llBulkStart) * TickSeconds();
    const int64_t llReadsStart = Ticks();
    for (size_t i = 0; i < ulCalls; ++i) {
        KeepWritten(reinterpret_cast<void*>(Ticks()));
    }
    const double dReadSeconds = ulCalls > 0 ? static_cast<double>(Ticks() - llReadsStart) *
                                                  TickSeconds() / static_cast<double>(ulCalls)
                                            : 0.0;

    if (ulFailure != VOCORA_OK) {
        std::printf("  a call failed with 0x%x; the figures cover what ran before it\n", ulFailure);
    }
    PrintRate("Vocora_Play (accepted):", stPlay, ulBlockBytes);
    PrintRate("memcpy, same timing:", stCopy, ulBlockBytes);
    const double dBulkRate =
        dBulkSeconds > 0 ? static_cast<double>(ulCalls) * ulBlockBytes / 1e6 / dBulkSeconds : 0.0;
    std::printf("  %-24s %8zu calls, %7.1f MB in %.4f s -> %9.1f MB/s  (per call: mean %.3f us)\n",
                "memcpy, no counter reads:", ulCalls,
                static_cast<double>(ulCalls) * ulBlockBytes / 1e6, dBulkSeconds, dBulkRate,
                ulCalls > 0 ? dBulkSeconds * 1e6 / static_cast<double>(ulCalls) : 0.0);
    const double dPlayRate = MegabytesPerSecond(stPlay, ulBlockBytes);
    const double dCopyRate = MegabytesPerSecond(stCopy, ulBlockBytes);
    if (dPlayRate > 0) {
        std::printf(
            "  ratio: memcpy moves %.2fx the bytes per second Vocora_Play does (same timing); "
            "%.2fx without counter reads\n",
            dCopyRate / dPlayRate, dBulkRate / dPlayRate);
    }
    std::printf(
        "  one counter read costs %.3f us and is in each per-call figure above; the counter "
        "ticks every %.3f us\n",
        dReadSeconds * 1e6, TickSeconds() * 1e6);
    const double dPlayNetMicros = ulCalls > 0
                                      ? static_cast<double>(stPlay.llTotal) * TickSeconds() * 1e6 /
                                                static_cast<double>(ulCalls) -
                                            dReadSeconds * 1e6
                                      : 0.0;
    if (dPlayNetMicros > 0 && dBulkRate > 0) {
        const double dPlayNetRate = ulBlockBytes / dPlayNetMicros;
        std::printf(
            "  net of the counter read: Vocora_Play %.3f us per call -> %.1f MB/s; memcpy "
            "without reads moves %.2fx that\n",
            dPlayNetMicros, dPlayNetRate, dBulkRate / dPlayNetRate);
    }
    std::printf(
        "  answers 'full': %zu (median %.3f us); refills, PlayStop + PlayStart: %zu "
        "(median %.3f ms)\n",
        stRejected.vecTicks.size(), stRejected.MicrosAt(0.5), stRefill.vecTicks.size(),
        stRefill.MicrosAt(0.5) / 1000.0);
    return ulFailure == VOCORA_OK;
}

std::set<DWORD> ThreadsOfThisProcess()
{
    std::set<DWORD> setIds;
    const CHandle oSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!oSnapshot.IsValid()) {
        return setIds;
    }
    const DWORD ulProcess = GetCurrentProcessId();
    THREADENTRY32 stEntry = {};
    stEntry.dwSize = sizeof stEntry;
    for (BOOL bMore = Thread32First(oSnapshot.Get(), &stEntry); bMore;
         bMore = Thread32Next(oSnapshot.Get(), &stEntry)) {
        if (stEntry.th32OwnerProcessID == ulProcess) {
            setIds.insert(stEntry.th32ThreadID);
        }
        stEntry.dwSize = sizeof stEntry;
    }
    return setIds;
}

uint64_t FileTimeTicks(const FILETIME& stTime)
{
    return (static_cast<uint64_t>(stTime.dwHighDateTime) << 32) | stTime.dwLowDateTime;
}

// Kernel plus user time in 100 ns units, or false when it cannot be read.
bool ThreadCpu(HANDLE hThread, uint64_t& ullCpu)
{
    FILETIME stCreation, stExit, stKernel, stUser;
    if (!GetThreadTimes(hThread, &stCreation, &stExit, &stKernel, &stUser)) {
        return false;
    }
    ullCpu = FileTimeTicks(stKernel) + FileTimeTicks(stUser);
    return true;
}

uint64_t ProcessCpu()
{
    FILETIME stCreation, stExit, stKernel, stUser;
    if (!GetProcessTimes(GetCurrentProcess(), &stCreation, &stExit, &stKernel, &stUser)) {
        return 0;
    }
    return FileTimeTicks(stKernel) + FileTimeTicks(stUser);
}

struct WatchedThread {
    DWORD ulId;
    CHandle oHandle;
    uint64_t ullCpuStart = 0;
    bool bReadable = false;
};

// Plays real-time audio for dSeconds and reads the CPU time of the thread(s)
// that PlayStart created.
bool MeasurePlayThreadCpu(uint32_t ulSampleRate, uint32_t ulChannels, uint32_t ulBlockBytes,
                          double dSeconds)
{
    const double dBlockSeconds = ulBlockBytes / (2.0 * ulChannels * ulSampleRate);
    std::printf(
        "\n[2] CPU of the play thread: %u Hz, %u channel(s), %u-byte blocks, %.1f s of "
        "real-time audio\n",
        ulSampleRate, ulChannels, ulBlockBytes, dSeconds);
    CPlayHandle oPlay;
    uint32_t ulResult = oPlay.Create(ulSampleRate, ulChannels, ulBlockBytes);
    if (ulResult != VOCORA_OK) {
        std::printf("  Vocora_CreatePlayDec -> 0x%x: skipped\n", ulResult);
        return false;
    }
    Vocora_SetPlayVolume(oPlay.Get(), 255);

    const std::set<DWORD> setBefore = ThreadsOfThisProcess();
    ulResult = Vocora_PlayStart(oPlay.Get());
    if (ulResult != VOCORA_OK) {
        std::printf("  Vocora_PlayStart -> 0x%x: skipped\n", ulResult);
        return false;
    }
    const std::set<DWORD> setAfter = ThreadsOfThisProcess();
    std::vector<WatchedThread> vecThreads;
    for (const DWORD ulId : setAfter) {
        if (setBefore.count(ulId) == 0) {
            WatchedThread stThread{ulId,
                                   CHandle(OpenThread(THREAD_QUERY_INFORMATION, FALSE, ulId))};
            stThread.bReadable = stThread.oHandle.IsValid() &&
                                 ThreadCpu(stThread.oHandle.Get(), stThread.ullCpuStart);
            vecThreads.push_back(std::move(stThread));
        }
    }
    if (vecThreads.size() != 1) {
        std::printf("  PlayStart created %zu threads (one was expected); all are listed\n",
                    vecThreads.size());
    }

    const uint64_t ullProcessStart = ProcessCpu();
    uint64_t ullFeederStart = 0;
    ThreadCpu(GetCurrentThread(), ullFeederStart);
    const std::vector<uint8_t> vecBlock = ToneBlock(ulSampleRate, ulChannels, ulBlockBytes);
    const uint64_t ullBlocks = static_cast<uint64_t>(std::llround(dSeconds / dBlockSeconds));
    const uint64_t ullLead = static_cast<uint64_t>(std::llround(kdLeadSeconds / dBlockSeconds));
    uint64_t ullFullWaits = 0;
    uint32_t ulFailure = VOCORA_OK;
    const int64_t llStart = Ticks();
    for (uint64_t k = 0; k < ullBlocks && ulFailure == VOCORA_OK; ++k) {
        if (k > ullLead) {
            const double dDue = static_cast<double>(k - ullLead) * dBlockSeconds;
            const double dLeft = dDue - static_cast<double>(Ticks() - llStart) * TickSeconds();
            if (dLeft > 0) {
                Sleep(static_cast<DWORD>(dLeft * 1000.0));
            }
        }
        for (;;) {
            ulResult =
                Vocora_Play(oPlay.Get(), const_cast<uint8_t*>(vecBlock.data()), ulBlockBytes);
            if (ulResult != VOCORA_ERR_NO_MEMORY) {
                break;
            }
            ++ullFullWaits;
            Sleep(1);
        }
        ulFailure = ulResult;
    }
    // Until the queue has played out, so the thread's whole share is counted.
    const double dPlayed = static_cast<double>(ullBlocks) * dBlockSeconds;
    while (static_cast<double>(Ticks() - llStart) * TickSeconds() < dPlayed) {
        Sleep(10);
    }
    const double dElapsed = static_cast<double>(Ticks() - llStart) * TickSeconds();
    const uint64_t ullProcessCpu = ProcessCpu() - ullProcessStart;
    uint64_t ullFeederCpu = 0;
    ThreadCpu(GetCurrentThread(), ullFeederCpu);
    ullFeederCpu -= ullFeederStart;

    if (ulFailure != VOCORA_OK) {
        std::printf("  Vocora_Play failed with 0x%x; the figures cover what ran before it\n",
                    ulFailure);
    }
    std::printf("  %.2f s of audio handed over in %.2f s, %llu waits on a full queue\n", dPlayed,
                dElapsed, static_cast<unsigned long long>(ullFullWaits));
    for (WatchedThread& stThread : vecThreads) {
        uint64_t ullCpuEnd = 0;
        if (!stThread.bReadable || !ThreadCpu(stThread.oHandle.Get(), ullCpuEnd)) {
            std::printf("  thread %lu: its times cannot be read (error %lu)\n",
                        static_cast<unsigned long>(stThread.ulId),
                        static_cast<unsigned long>(GetLastError()));
            continue;
        }
        const double dCpuMs = static_cast<double>(ullCpuEnd - stThread.ullCpuStart) / 1e4;
        std::printf(
            "  play thread %lu: %.1f ms CPU in %.2f s -> %.2f ms of CPU per second of "
            "playback\n",
            static_cast<unsigned long>(stThread.ulId), dCpuMs, dElapsed, dCpuMs / dElapsed);
        // Wine reads thread times from the host kernel's scheduler ticks;
        // two readings that are both whole ticks say the figure is that coarse.
        if (stThread.ullCpuStart % kullTenMsTicks == 0 && ullCpuEnd % kullTenMsTicks == 0) {
            std::printf("    (its times moved in 10 ms steps: the figure is within +-%.2f ms/s)\n",
                        10.0 / dElapsed);
        }
    }
    std::printf(
        "  for comparison: the feeding thread %.2f ms/s, the whole process (Wine's mixer "
        "and audio threads included) %.2f ms/s\n",
        static_cast<double>(ullFeederCpu) / 1e4 / dElapsed,
        static_cast<double>(ullProcessCpu) / 1e4 / dElapsed);

    Sleep(static_cast<DWORD>(kdTailSeconds * 1000));
    Vocora_PlayStop(oPlay.Get());
    return ulFailure == VOCORA_OK && vecThreads.size() == 1;
}

void PrintEnvironment()
{
    using PfnWineGetVersion = const char*(CDECL*)();
    const HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    const auto pfnWineGetVersion =
        hNtdll != nullptr ? reinterpret_cast<PfnWineGetVersion>(
                                reinterpret_cast<void*>(GetProcAddress(hNtdll, "wine_get_version")))
                          : nullptr;
    SYSTEM_INFO stSystem = {};
    GetSystemInfo(&stSystem);
    std::printf("environment: %s%s; %lu logical processors; performance counter %.3f MHz\n",
                pfnWineGetVersion != nullptr ? "Wine " : "Windows",
                pfnWineGetVersion != nullptr ? pfnWineGetVersion() : "",
                static_cast<unsigned long>(stSystem.dwNumberOfProcessors), 1e-6 / TickSeconds());
    if (pfnWineGetVersion != nullptr) {
        std::printf(
            "caveat: under Wine, DirectSound, the thread scheduler, the timers and the "
            "thread times are Wine's, over\n"
            "        the host kernel and PulseAudio: these figures describe this build "
            "here, not on Windows.\n");
    }
}

bool ParseArgs(int argc, char** argv, double& dCpuSeconds)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cpu-seconds") == 0 && i + 1 < argc) {
            char* pszEnd = nullptr;
            dCpuSeconds = std::strtod(argv[++i], &pszEnd);
            if (*pszEnd != '\0' || !(dCpuSeconds >= 1.0 && dCpuSeconds <= 600.0)) {
                std::fprintf(stderr, "vocora_bench: --cpu-seconds needs 1 to 600\n");
                return false;
            }
        } else {
            std::fprintf(stderr, "usage: vocora_bench [--cpu-seconds S]\n");
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    double dCpuSeconds = 5.0;
    if (!ParseArgs(argc, argv, dCpuSeconds)) {
        return 2;
    }
    std::printf("vocora_bench: figures only, nothing is asserted\n");
    PrintEnvironment();

    const CComThread oCom;
    bool bAllRan = true;
    {
        const CVocoraSession oSession;
        {
            CPlayHandle oProbe;
            const uint32_t ulResult = oProbe.Create(16000, 1, 640);
            if (ulResult != VOCORA_OK) {
                std::printf(
                    "\nplayback is not available: Vocora_CreatePlayDec -> 0x%x "
                    "(Vocora_Init -> 0x%x); nothing to measure\n",
                    ulResult, oSession.InitResult());
                return 1;
            }
        }
        bAllRan &= MeasureThroughput("1a", 16000, 1, 640);
        bAllRan &= MeasureThroughput("1b", 44100, 2, 7056);
        bAllRan &= MeasurePlayThreadCpu(16000, 1, 640, dCpuSeconds);
    }
    std::printf("\nlog messages: %d failures, %d warnings, %d notes\n",
                sm_aiMessagesByLevel[VOCORA_LOG_ERROR].load(),
                sm_aiMessagesByLevel[VOCORA_LOG_WARNING].load(),
                sm_aiMessagesByLevel[VOCORA_LOG_INFO].load());
    return bAllRan ? 0 : 1;
}
