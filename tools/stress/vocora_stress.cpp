// vocora_stress: a hostile host. It drives vocora.dll the way careless and
// unlucky hosts do, on the machine's real devices, and says for each trial
// whether the process came through: codes instead of crashes, nothing leaked,
// nothing hung, nothing delivered after destroy, sound again after the device
// comes back.
//
//   vocora_stress quick|full        the trials below, briefly or at length
//   vocora_stress lost MARKER       plays and captures while the sound server
//                                   restarts; MARKER is a file that appears
//                                   once the server is back
//
// Each line says "ok" or "FAIL", what was tried and what was seen; the exit
// status is the number of failures.
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vocora.h"

namespace {

int sm_iFailures = 0;
std::atomic<int> sm_aiLogged[VOCORA_LOG_MAX + 1];
std::atomic<int> sm_iLogCallsIntoTheApi{0};
std::atomic<bool> sm_bLogCallsBack{false};
std::atomic<bool> sm_bLogShown{false};
char sm_szLastError[512];
std::atomic<int> sm_iLosses{0};
std::atomic<int> sm_iReturns{0};

__attribute__((format(gnu_printf, 2, 3))) bool Check(bool bOk, const char* pszFormat, ...)
{
    va_list vaArgs;
    va_start(vaArgs, pszFormat);
    std::printf("%s ", bOk ? "ok  " : "FAIL");
    std::vprintf(pszFormat, vaArgs);
    std::printf("\n");
    std::fflush(stdout);
    va_end(vaArgs);
    sm_iFailures += bOk ? 0 : 1;
    return bOk;
}

void VOCORA_CALL OnLog(void*, int32_t lLevel, const char*, uint32_t, const char* pszFunction, const char* pszFormat,
                       va_list vaArgs)
{
    ++sm_aiLogged[lLevel];
    if (lLevel == VOCORA_LOG_ERROR) {
        std::vsnprintf(sm_szLastError, sizeof sm_szLastError, pszFormat, vaArgs);
    }
    const std::string strFormat = pszFormat;
    sm_iLosses += strFormat.find("has gone silent") != std::string::npos ||
                  strFormat.find("no capture data") != std::string::npos ||
                  strFormat.find("stopped handing back") != std::string::npos;
    sm_iReturns += strFormat.find("plays again") != std::string::npos ||
                   strFormat.find("captures again") != std::string::npos ||
                   strFormat.find("is open again") != std::string::npos;
    if (sm_bLogShown) {
        std::printf("  log %d %s: %s\n", static_cast<int>(lLevel), pszFunction, sm_szLastError);
    }
    // A host may call the library from its log callback.
    if (sm_bLogCallsBack && Vocora_SetLogLevel(VOCORA_LOG_INFO) == VOCORA_OK) {
        ++sm_iLogCallsIntoTheApi;
    }
}

struct Capture {
    std::atomic<uint64_t> ullBytes{0};
    std::atomic<int> iCalls{0};
    std::atomic<DWORD> ulBlockMs{0};  // how long the callback keeps the thread
    VocoraCaptureHandle h = nullptr;
    std::atomic<uint32_t> ulOwnDestroy{99};
    char cTag = 0;
    static std::atomic<int> sm_iMismatches;
    static void VOCORA_CALL Callback(const uint8_t*, uint32_t ulLength, void* pUser)
    {
        auto* pst = static_cast<Capture*>(pUser);
        pst->ullBytes += ulLength;
        ++pst->iCalls;
        Sleep(pst->ulBlockMs.exchange(0));
    }
    // Each of these expects the user value it was registered with.
    static void VOCORA_CALL TaggedA(const uint8_t*, uint32_t, void* pUser)
    {
        sm_iMismatches += static_cast<Capture*>(pUser)->cTag != 'A';
    }
    static void VOCORA_CALL TaggedB(const uint8_t*, uint32_t, void* pUser)
    {
        sm_iMismatches += static_cast<Capture*>(pUser)->cTag != 'B';
    }
    static void VOCORA_CALL DestroyItself(const uint8_t*, uint32_t, void* pUser)
    {
        auto* pst = static_cast<Capture*>(pUser);
        uint32_t ulUntried = 99;
        pst->ulOwnDestroy.compare_exchange_strong(ulUntried, Vocora_DestoryCaptureDec(pst->h));
    }
};

std::atomic<int> Capture::sm_iMismatches{0};

// Handles, threads and committed private memory of this process, counted
// the slow way: Wine leaves the process counters of psapi at zero.
struct Usage {
    int iHandles = 0;
    int iThreads = 0;
    size_t ulPrivateBytes = 0;
    static Usage Now()
    {
        Usage st;
        DWORD ulFlags = 0;
        for (uintptr_t ulValue = 4; ulValue < 0x10000; ulValue += 4) {
            st.iHandles += GetHandleInformation(reinterpret_cast<HANDLE>(ulValue), &ulFlags) != 0;
        }
        const HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 stThread = {sizeof stThread, 0, 0, 0, 0, 0, 0};
        for (BOOL b = Thread32First(hSnapshot, &stThread); b; b = Thread32Next(hSnapshot, &stThread)) {
            st.iThreads += stThread.th32OwnerProcessID == GetCurrentProcessId();
        }
        CloseHandle(hSnapshot);
        MEMORY_BASIC_INFORMATION stRegion = {};
        for (const char* pc = nullptr; VirtualQuery(pc, &stRegion, sizeof stRegion) == sizeof stRegion;
             pc = static_cast<const char*>(stRegion.BaseAddress) + stRegion.RegionSize) {
            if (stRegion.State == MEM_COMMIT && stRegion.Type == MEM_PRIVATE) {
                st.ulPrivateBytes += stRegion.RegionSize;
            }
        }
        return st;
    }
};

// Wine's capture buffers leave about 220 bytes behind each, with or without
// this library (a bare create/release loop shows the same).
const size_t kulPlatformBytesPerCapture = 256;

const AudioParam kstVoice = {16000, 1, 16, 640};

std::vector<uint8_t> Tone(size_t ulBytes, double dHz = 440)
{
    std::vector<uint8_t> vec(ulBytes);
    for (size_t i = 0; i + 1 < ulBytes; i += 2) {
        const auto s = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265 * dHz * static_cast<double>(i / 2) / 16000));
        std::memcpy(&vec[i], &s, 2);
    }
    return vec;
}

// Create, start, play a few blocks, stop and destroy, again and again: what
// the process holds afterwards must be what it held before.
void Cycles(int iPlayers, int iCaptures)
{
    std::vector<uint8_t> vecBlock = Tone(640);
    const Usage stBefore = Usage::Now();
    int iBad = 0;
    for (int i = 0; i < 2 * iPlayers + iCaptures; ++i) {
        if (i == iPlayers) {
            Vocora_ForceUseWaveout();
        }
        if (i < 2 * iPlayers) {
            VocoraPlayHandle h = nullptr;
            iBad += Vocora_CreatePlayDec(&kstVoice, &h) != VOCORA_OK;
            iBad += Vocora_SetPlayVolume(h, 128) + Vocora_PlayStart(h) != VOCORA_OK;
            for (int j = 0; j < 3; ++j) {
                iBad += Vocora_Play(h, vecBlock.data(), 640) != VOCORA_OK;
            }
            iBad += Vocora_PlayStop(h) + Vocora_DestoryPlayDec(h) != VOCORA_OK;
        } else {
            VocoraCaptureHandle h = nullptr;
            Capture stCapture;
            iBad += Vocora_CreateCaptureDec(&kstVoice, 1, &h) != VOCORA_OK;
            iBad += Vocora_SetCaptureCallBack(h, &Capture::Callback, &stCapture) + Vocora_DestoryCaptureDec(h) != 0;
        }
    }
    const Usage stAfter = Usage::Now();
    Check(iBad == 0, "%d DirectSound, %d waveOut player and %d capture cycles: every call succeeds (%d did not)",
          iPlayers, iPlayers, iCaptures, iBad);
    Check(stAfter.iHandles <= stBefore.iHandles + 8 && stAfter.iThreads <= stBefore.iThreads + 2 &&
              stAfter.ulPrivateBytes <= stBefore.ulPrivateBytes + 64 * 1024 + kulPlatformBytesPerCapture * static_cast<size_t>(iCaptures),
          "... and leave handles, threads and memory flat: %d -> %d handles, %d -> %d threads, %zu -> %zu KiB",
          stBefore.iHandles, stAfter.iHandles, stBefore.iThreads, stAfter.iThreads, stBefore.ulPrivateBytes / 1024,
          stAfter.ulPrivateBytes / 1024);
}

// Records the platform cannot take as plain PCM get a code, on every device.
void BadRecords()
{
    const AudioParam astBad[] = {{0, 1, 16, 0},          {1, 1, 16, 0},        {400000, 1, 16, 0},
                                 {0xFFFFFFFF, 1, 16, 0}, {16000, 0, 16, 0},    {16000, 3, 16, 640},
                                 {16000, 0x10000, 16, 0}, {16000, 1, 0, 640},  {16000, 1, 24, 640},
                                 {16000, 1, 16, 0x80000001}, {16000, 1, 16, 0xFFFFFFFF}};
    int iCreated = 0;
    for (const AudioParam& st : astBad) {
        VocoraPlayHandle hPlay = nullptr;
        VocoraCaptureHandle hCapture = nullptr;
        iCreated += Vocora_CreatePlayDec(&st, &hPlay) == VOCORA_OK;
        iCreated += Vocora_CreateCaptureDec(&st, 1, &hCapture) == VOCORA_OK;
        iCreated += Vocora_CreateCaptureDec(&st, 0, &hCapture) == VOCORA_OK;
    }
    Check(iCreated == 0, "%zu records the platform cannot take, on each device: refused with a code (%d taken)",
          sizeof astBad / sizeof astBad[0], iCreated);
    std::vector<uint8_t> vecLarge(64 << 20);
    VocoraPlayHandle h = nullptr;
    Vocora_CreatePlayDec(&kstVoice, &h);
    Vocora_PlayStart(h);
    const uint32_t aulLengths[] = {0, 0xFFFFFFFF, 0x80000000, 64u << 20};
    uint32_t aulResults[4] = {};
    for (int i = 0; i < 4; ++i) {
        aulResults[i] = Vocora_Play(h, vecLarge.data(), aulLengths[i]);
    }
    Check(Vocora_Play(h, nullptr, 4) == VOCORA_ERR_INVALID_ARG && aulResults[0] == VOCORA_OK &&
              aulResults[1] == VOCORA_ERR_NO_MEMORY && aulResults[2] == VOCORA_ERR_NO_MEMORY &&
              aulResults[3] == VOCORA_ERR_NO_MEMORY,
          "lengths NULL, 0, 0xFFFFFFFF, 0x80000000 and 64 MiB: 2, then 0x%x 0x%x 0x%x 0x%x", aulResults[0],
          aulResults[1], aulResults[2], aulResults[3]);
    Vocora_DestoryPlayDec(h);
}

// A clean-up under live handles, a handle destroyed from its own callback,
// several captures at once, a blocking callback, a log callback calling back,
// pairs swapped while delivering.
void Mistakes()
{
    std::vector<uint8_t> vecBlock = Tone(640);
    VocoraPlayHandle hPlay = nullptr;
    Capture stCapture;
    Vocora_CreatePlayDec(&kstVoice, &hPlay);
    Vocora_PlayStart(hPlay);
    Vocora_CreateCaptureDec(&kstVoice, 1, &stCapture.h);
    Vocora_SetCaptureCallBack(stCapture.h, &Capture::Callback, &stCapture);
    Vocora_Cleanup();
    Sleep(300);
    const int iCalls = stCapture.iCalls;
    Sleep(300);
    Check(Vocora_Play(hPlay, vecBlock.data(), 640) == VOCORA_OK && stCapture.iCalls > iCalls,
          "after Vocora_Cleanup under live handles they keep playing and capturing");
    Check(Vocora_DestoryPlayDec(hPlay) == VOCORA_OK && Vocora_DestoryCaptureDec(stCapture.h) == VOCORA_OK,
          "... and are destroyed cleanly");
    Vocora_Init();

    Capture astCaptures[4];
    int iCreated = 0;
    for (Capture& st : astCaptures) {
        iCreated += Vocora_CreateCaptureDec(&kstVoice, 1, &st.h) == VOCORA_OK;
        Vocora_SetCaptureCallBack(st.h, &Capture::Callback, &st);
    }
    Sleep(500);
    int iDelivering = 0;
    for (Capture& st : astCaptures) {
        iDelivering += st.iCalls > 0;
    }
    astCaptures[0].ulBlockMs = 2000;  // a callback that keeps the thread two seconds
    Sleep(2500);
    const int iAfterBlock = astCaptures[0].iCalls;
    Sleep(500);
    Check(iCreated == 4 && iDelivering == 4 && astCaptures[0].iCalls > iAfterBlock,
          "four captures at once: %d created, %d delivering; one whose callback blocks 2 s goes on", iCreated,
          iDelivering);
    // Swapping the callback and its user value while blocks arrive: every
    // block reaches the callback with its own user value.
    Capture stA;
    Capture stB;
    stA.cTag = 'A';
    stB.cTag = 'B';
    std::atomic<bool> bSwapping{true};
    std::thread oSwapper([&] {
        for (int i = 0; bSwapping; ++i) {
            Vocora_SetCaptureCallBack(astCaptures[1].h, (i % 2) ? &Capture::TaggedA : &Capture::TaggedB,
                                      (i % 2) ? &stA : &stB);
        }
    });
    Sleep(1000);
    bSwapping = false;
    oSwapper.join();
    Check(Capture::sm_iMismatches == 0, "callback and user value swapped while blocks arrive: %d blocks saw a mismatch",
          Capture::sm_iMismatches.load());
    for (Capture& st : astCaptures) {
        Vocora_DestoryCaptureDec(st.h);
    }
    Capture stSelf;
    Vocora_CreateCaptureDec(&kstVoice, 1, &stSelf.h);
    Vocora_SetCaptureCallBack(stSelf.h, &Capture::DestroyItself, &stSelf);
    for (int i = 0; i < 200 && stSelf.ulOwnDestroy == 99; ++i) {
        Sleep(10);
    }
    Check(stSelf.ulOwnDestroy == VOCORA_ERR_INVALID_ARG && Vocora_DestoryCaptureDec(stSelf.h) == VOCORA_OK,
          "a capture destroyed from its own callback: 0x%x at once, destroyed afterwards",
          static_cast<unsigned>(stSelf.ulOwnDestroy));
    sm_bLogCallsBack = true;
    Vocora_PlayStart(nullptr);
    sm_bLogCallsBack = false;
    Check(sm_iLogCallsIntoTheApi > 0, "a log callback that calls into the library");
}

// Players fed in real time: no call fails.
void Players(int iCount, int iSeconds)
{
    std::vector<VocoraPlayHandle> vecPlayers(iCount);
    for (VocoraPlayHandle& h : vecPlayers) {
        Vocora_CreatePlayDec(&kstVoice, &h);
        Vocora_SetPlayVolume(h, 40);
        Vocora_PlayStart(h);
    }
    std::vector<uint8_t> vecBlock = Tone(640, 300);
    int iFailed = 0;
    const DWORD ulStart = GetTickCount();
    for (int iBlock = 0; GetTickCount() - ulStart < static_cast<DWORD>(iSeconds) * 1000; ++iBlock) {
        for (VocoraPlayHandle h : vecPlayers) {
            iFailed += Vocora_Play(h, vecBlock.data(), 640) != VOCORA_OK;
        }
        const DWORD ulDue = ulStart + 20 * static_cast<DWORD>(iBlock + 1);
        Sleep(static_cast<int32_t>(ulDue - GetTickCount()) > 0 ? ulDue - GetTickCount() : 0);
    }
    for (VocoraPlayHandle h : vecPlayers) {
        Vocora_DestoryPlayDec(h);
    }
    Check(iFailed == 0, "%d players fed in real time for %d s: %d calls failed", iCount, iSeconds, iFailed);
}

// A player and a capture go on while the sound server goes and comes back.
int Lost(const char* pszMarker)
{
    VocoraPlayHandle hPlay = nullptr;
    Capture stCapture;
    Vocora_CreatePlayDec(&kstVoice, &hPlay);
    Vocora_PlayStart(hPlay);
    Vocora_CreateCaptureDec(&kstVoice, 1, &stCapture.h);
    Vocora_SetCaptureCallBack(stCapture.h, &Capture::Callback, &stCapture);
    std::vector<uint8_t> vecBlock = Tone(640);
    std::printf("playing and capturing; waiting for %s\n", pszMarker);
    std::fflush(stdout);
    DWORD ulBack = 0;
    DWORD ulPlaysAgain = 0;
    DWORD ulCapturesAgain = 0;
    uint64_t ullAtBack = 0;
    for (const DWORD ulStart = GetTickCount(); GetTickCount() - ulStart < 30000;) {
        const uint32_t ulPlayed = Vocora_Play(hPlay, vecBlock.data(), 640);
        if (ulBack == 0 && GetFileAttributesA(pszMarker) != INVALID_FILE_ATTRIBUTES) {
            ulBack = GetTickCount();
            ullAtBack = stCapture.ullBytes;
        }
        if (ulBack != 0 && ulPlaysAgain == 0 && ulPlayed == VOCORA_OK && sm_iReturns > 0) {
            ulPlaysAgain = GetTickCount();
        }
        if (ulBack != 0 && ulCapturesAgain == 0 && stCapture.ullBytes > ullAtBack + 3200) {
            ulCapturesAgain = GetTickCount();
        }
        if (ulPlaysAgain != 0 && ulCapturesAgain != 0 && GetTickCount() - ulBack > 2000) {
            break;
        }
        Sleep(20);
    }
    Check(ulBack != 0, "the sound server came back");
    Check(sm_iLosses == 2, "the loss reported once by each handle (%d reports)", sm_iLosses.load());
    Check(ulPlaysAgain != 0 && ulCapturesAgain != 0 && sm_iReturns == 2,
          "both play and capture again by themselves: %ld and %ld ms after the server came back",
          ulPlaysAgain != 0 ? static_cast<long>(ulPlaysAgain - ulBack) : -1L,
          ulCapturesAgain != 0 ? static_cast<long>(ulCapturesAgain - ulBack) : -1L);
    Check(Vocora_DestoryPlayDec(hPlay) == VOCORA_OK && Vocora_DestoryCaptureDec(stCapture.h) == VOCORA_OK,
          "both destroyed");
    return sm_iFailures;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string strMode = argc > 1 ? argv[1] : "";
    if (strMode != "quick" && strMode != "full" && !(strMode == "lost" && argc == 3)) {
        std::fprintf(stderr, "usage: vocora_stress quick|full\n       vocora_stress lost MARKER_FILE\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Vocora_SetLogCB(&OnLog);
    Vocora_Init();
    if (strMode == "lost") {
        return Lost(argv[2]);
    }
    const bool bFull = strMode == "full";
    BadRecords();
    Mistakes();
    Players(16, bFull ? 180 : 5);
    Cycles(bFull ? 1000 : 100, bFull ? 500 : 50);
    Vocora_Cleanup();
    std::printf("%d failed; the library logged %d errors and %d warnings\n", sm_iFailures,
                sm_aiLogged[VOCORA_LOG_ERROR].load(), sm_aiLogged[VOCORA_LOG_WARNING].load());
    return sm_iFailures;
}
