// vocora_stress: a hostile host on the rig's real devices. Each line says "ok"
// or "FAIL" with what was tried and seen; the exit status counts the failures.
// e2e.py feeds the microphone a tone meanwhile.
//
//   vocora_stress quick|full   four captures, many players, leak cycles
//   vocora_stress lost MARKER  a player and a capture ride out a device that goes
//                              and comes back (MARKER appears when it is back),
//                              and a new player plays beside the old one
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vocora.h"

namespace {

int sm_iFailures = 0;
std::atomic<int> sm_iErrors{0};
std::atomic<int> sm_iLosses{0};
std::atomic<int> sm_iReturns{0};
const AudioParam kstVoice = {16000, 1, 16, 640};
// Wine's capture buffers leave about 220 bytes behind each, with or without
// this library (a bare create/release loop shows the same).
constexpr size_t kulPlatformBytesPerCapture = 256;

__attribute__((format(gnu_printf, 2, 3))) void Check(bool bOk, const char* pszFormat, ...)
{
    va_list vaArgs;
    va_start(vaArgs, pszFormat);
    std::printf(bOk ? "ok   " : "FAIL ");
    std::vprintf(pszFormat, vaArgs);
    std::puts("");
    va_end(vaArgs);
    sm_iFailures += bOk ? 0 : 1;
}

void VOCORA_CALL OnLog(void*, int32_t lLevel, const char*, uint32_t, const char*, const char* pszFormat, va_list)
{
    sm_iErrors += lLevel == VOCORA_LOG_ERROR;
    sm_iLosses += std::strstr(pszFormat, "has gone silent") || std::strstr(pszFormat, "no capture data");
    sm_iReturns += std::strstr(pszFormat, "plays again") || std::strstr(pszFormat, "captures again");
}

struct Capture {
    VocoraCaptureHandle h = nullptr;
    std::atomic<int> iCalls{0};
    std::atomic<int> iPeak{0};  // of the blocks since it was last read
    std::atomic<DWORD> ulBlockMs{0};

    bool Start()
    {
        return Vocora_CreateCaptureDec(&kstVoice, 1, &h) == VOCORA_OK &&
               Vocora_SetCaptureCallBack(h, &Capture::Callback, this) == VOCORA_OK;
    }
    static void VOCORA_CALL Callback(const uint8_t* puc, uint32_t ulLength, void* pUser)
    {
        auto* pst = static_cast<Capture*>(pUser);
        for (uint32_t i = 0; i + 1 < ulLength; i += 2) {
            const int iSample = std::abs(static_cast<int16_t>(puc[i] | puc[i + 1] << 8));
            pst->iPeak = std::max<int>(pst->iPeak, iSample);
        }
        ++pst->iCalls;
        Sleep(pst->ulBlockMs.exchange(0));
    }
};

std::vector<uint8_t> Tone(double dHz, size_t ulBytes = 640)
{
    std::vector<uint8_t> vec(ulBytes);
    for (size_t i = 0; i + 1 < ulBytes; i += 2) {
        const auto s = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265 * dHz * static_cast<double>(i / 2) / 16000));
        std::memcpy(&vec[i], &s, 2);
    }
    return vec;
}

// Polls for up to 10 s: on a busy machine a capture's blocks can come seconds late.
template <class TCondition>
bool Eventually(TCondition fnCondition)
{
    for (int i = 0; i < 100 && !fnCondition(); ++i) {
        Sleep(100);
    }
    return fnCondition();
}

VocoraPlayHandle StartPlayer(uint32_t ulVolume = 128)
{
    VocoraPlayHandle h = nullptr;
    const bool bOk = Vocora_CreatePlayDec(&kstVoice, &h) == VOCORA_OK && Vocora_SetPlayVolume(h, ulVolume) == VOCORA_OK &&
                     Vocora_PlayStart(h) == VOCORA_OK;
    return bOk ? h : nullptr;
}

// Handles, threads and committed private memory of this process, counted the
// slow way: Wine leaves the process counters of psapi at zero.
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
            st.ulPrivateBytes += stRegion.State == MEM_COMMIT && stRegion.Type == MEM_PRIVATE ? stRegion.RegionSize : 0;
        }
        return st;
    }
};

// Four captures of the fed tone at once; one whose callback blocks for 2 s
// goes on afterwards.
void Captures()
{
    Capture astCaptures[4];
    int iStarted = 0;
    for (Capture& st : astCaptures) {
        iStarted += st.Start();
    }
    int iHearing = 0;
    Eventually([&] {
        iHearing = 0;
        for (Capture& st : astCaptures) {
            iHearing += st.iPeak > 1000;
        }
        return iHearing == 4;
    });
    astCaptures[0].ulBlockMs = 2000;
    const int iBefore = (Sleep(2500), astCaptures[0].iCalls.load());
    Check(iStarted == 4 && iHearing == 4 && Eventually([&] { return astCaptures[0].iCalls > iBefore; }),
          "four captures at once: %d started, %d hear the fed tone (blocks %d %d %d %d); one whose callback blocks 2 s "
          "goes on", iStarted, iHearing, astCaptures[0].iCalls.load(), astCaptures[1].iCalls.load(),
          astCaptures[2].iCalls.load(), astCaptures[3].iCalls.load());
    for (Capture& st : astCaptures) {
        Vocora_DestoryCaptureDec(st.h);
    }
}

// Hands each player its block every 20 ms for ulMs, or until fnDone says so.
template <class TDone>
void Feed(const std::vector<VocoraPlayHandle>& vecPlayers, const std::vector<std::vector<uint8_t>>& vecBlocks, DWORD ulMs,
          TDone fnDone, int& iFailed)
{
    const DWORD ulStart = GetTickCount();
    for (DWORD ulBlock = 1; GetTickCount() - ulStart < ulMs && !fnDone(); ++ulBlock) {
        for (size_t i = 0; i < vecPlayers.size(); ++i) {
            std::vector<uint8_t> vecCopy = vecBlocks[i];  // the waveOut player's gain works in place
            iFailed += Vocora_Play(vecPlayers[i], vecCopy.data(), 640) != VOCORA_OK;
        }
        const DWORD ulElapsed = GetTickCount() - ulStart;
        Sleep(20 * ulBlock > ulElapsed ? 20 * ulBlock - ulElapsed : 0);
    }
}

// Players fed in real time: no call fails.
void Players(int iCount, int iSeconds)
{
    std::vector<VocoraPlayHandle> vecPlayers(iCount);
    int iFailed = 0;
    for (VocoraPlayHandle& h : vecPlayers) {
        h = StartPlayer(40);
        iFailed += h == nullptr;
    }
    Feed(vecPlayers, std::vector<std::vector<uint8_t>>(iCount, Tone(300)), iSeconds * 1000, [] { return false; }, iFailed);
    for (VocoraPlayHandle h : vecPlayers) {
        iFailed += Vocora_DestoryPlayDec(h) != VOCORA_OK;
    }
    Check(iFailed == 0, "%d players fed in real time for %d s: %d calls failed", iCount, iSeconds, iFailed);
}

// Create, start, play a few blocks, stop and destroy, again and again: what
// the process holds afterwards must be what it held before.
void Cycles(int iPlayers, int iCaptures)
{
    const Usage stBefore = Usage::Now();
    const std::vector<uint8_t> vecBlock = Tone(440);
    int iBad = 0;
    for (int i = 0; i < 2 * iPlayers; ++i) {
        if (i == iPlayers) {
            Vocora_ForceUseWaveout();
        }
        const VocoraPlayHandle h = StartPlayer();
        for (int j = 0; j < 3; ++j) {
            std::vector<uint8_t> vecCopy = vecBlock;
            iBad += Vocora_Play(h, vecCopy.data(), 640) != VOCORA_OK;
        }
        iBad += h == nullptr || Vocora_PlayStop(h) != VOCORA_OK || Vocora_DestoryPlayDec(h) != VOCORA_OK;
    }
    for (int i = 0; i < iCaptures; ++i) {
        Capture stCapture;
        iBad += !stCapture.Start() || Vocora_DestoryCaptureDec(stCapture.h) != VOCORA_OK;
    }
    const Usage stAfter = Usage::Now();
    Check(iBad == 0 && stAfter.iHandles <= stBefore.iHandles + 8 && stAfter.iThreads <= stBefore.iThreads + 2 &&
              stAfter.ulPrivateBytes <= stBefore.ulPrivateBytes + 64 * 1024 + kulPlatformBytesPerCapture * iCaptures,
          "%d DirectSound, %d waveOut and %d capture cycles: %d calls failed; handles %d -> %d, threads %d -> %d, memory %zu -> "
          "%zu KiB",
          iPlayers, iPlayers, iCaptures, iBad, stBefore.iHandles, stAfter.iHandles, stBefore.iThreads, stAfter.iThreads,
          stBefore.ulPrivateBytes / 1024, stAfter.ulPrivateBytes / 1024);
}

// A 450 Hz player and a capture from before the loss, and a 700 Hz player
// made after the device is back, play together for e2e.py to hear.
void Lost(const char* pszMarker)
{
    const VocoraPlayHandle hOld = StartPlayer(255);
    Capture stCapture;
    stCapture.Start();
    std::printf("playing and capturing; waiting for %s\n", pszMarker);
    const std::vector<std::vector<uint8_t>> vecTones = {Tone(450), Tone(700)};
    int iRefused = 0;  // while the device is gone the staging fills up: that is expected
    Feed({hOld}, vecTones, 30000, [&] { return GetFileAttributesA(pszMarker) != INVALID_FILE_ATTRIBUTES; }, iRefused);
    const DWORD ulBack = GetTickCount();
    Feed({hOld}, vecTones, 10000, [&] { return sm_iReturns >= 2; }, iRefused);
    const DWORD ulAgain = GetTickCount() - ulBack;
    stCapture.iPeak = 0;
    const VocoraPlayHandle hNew = StartPlayer(255);
    Feed({hOld, hNew}, vecTones, 2500, [] { return false; }, iRefused);
    Check(sm_iLosses == 2 && sm_iReturns == 2, "the loss reported once by the player and the capture, and their return: %d, %d",
          sm_iLosses.load(), sm_iReturns.load());
    Check(ulAgain < 3000 && hNew != nullptr && stCapture.iPeak > 1000,
          "both are back %lu ms after the device, a new player starts, the capture hears the fed tone again (peak %d)",
          ulAgain, stCapture.iPeak.load());
    Check(Vocora_DestoryPlayDec(hOld) == 0 && Vocora_DestoryPlayDec(hNew) == 0 && Vocora_DestoryCaptureDec(stCapture.h) == 0,
          "all destroyed");
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // each line as it comes, for e2e.py
    const std::string strMode = argc > 1 ? argv[1] : "";
    if (strMode != "quick" && strMode != "full" && !(strMode == "lost" && argc == 3)) {
        std::fputs("usage: vocora_stress quick|full\n       vocora_stress lost MARKER_FILE\n", stderr);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Vocora_SetLogCB(&OnLog);
    Vocora_Init();
    if (strMode == "lost") {
        Lost(argv[2]);
    } else {
        const bool bFull = strMode == "full";
        Captures();
        Players(16, bFull ? 180 : 5);
        Cycles(bFull ? 1000 : 100, bFull ? 500 : 50);
    }
    // As a host should. Leaving with the device object alive after the sound
    // server was killed has now and then ended the process with SIGSEGV at exit:
    // outside Windows code (a crash in Windows code, this library's too, exits 5).
    Vocora_Cleanup();
    std::printf("%d failed; the library logged %d errors\n", sm_iFailures, sm_iErrors.load());
    return sm_iFailures;
}
