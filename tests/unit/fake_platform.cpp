#include "fake_platform.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

extern "C" {
#include <dmort.h>
}

CFakePlatform* CFakePlatform::sm_pCurrent = nullptr;

namespace {
const HMODULE khDirectSound = reinterpret_cast<HMODULE>(uintptr_t{0x5D0});
constexpr DWORD kulVolumeControl = 0xC7;
}  // namespace

// The fakes, as the table's plain functions; each reaches the current fake.
struct PlatformFakes {
    static CFakePlatform& F() { return CFakePlatform::Current(); }
    static bool Fault(const char* pszSite) { return CFakePlatform::Fault(pszSite); }
    template <class T>
    static T Held(T h) { return F().Take(reinterpret_cast<const void*>(h)), h; }
    static void Refuse(const void* p) { std::fprintf(stderr, "freeing %p, which the platform did not hand out\n", p), std::abort(); }

    static void* Malloc(size_t ulSize) { return Fault("malloc") ? nullptr : Held(std::malloc(ulSize)); }
    static void Free(void* p) { p == nullptr || F().Give(p) ? std::free(p) : Refuse(p); }
    static HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES p, BOOL b1, BOOL b2, LPCWSTR psz) { return Fault("CreateEventW") ? nullptr : Held(::CreateEventW(p, b1, b2, psz)); }
    static uintptr_t BeginThreadEx(void* p, unsigned ul, unsigned(__stdcall* pfn)(void*), void* pArg, unsigned ulFlags, unsigned* pulId)
    {
        return Fault("_beginthreadex") ? 0 : Held(_beginthreadex(p, ul, pfn, pArg, ulFlags, pulId));
    }
    static BOOL WINAPI CloseHandle(HANDLE h) { return F().Give(h) && ::CloseHandle(h); }
    static BOOL WINAPI SetEvent(HANDLE h) { return !Fault("SetEvent") && ::SetEvent(h); }
    // Time-outs are cut short, so that polling loops go round quickly.
    static DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ulMs)
    {
        return ulMs == INFINITE ? ::WaitForSingleObject(h, ulMs) : Fault("WaitForSingleObject") ? WAIT_FAILED : ::WaitForSingleObject(h, std::min<DWORD>(ulMs, 5));
    }
    static void WINAPI Sleep(DWORD ulMs) { ++F().aiSleeps[std::min<DWORD>(ulMs, 15)], ::Sleep(std::min<DWORD>(ulMs, 10)); }
    static BOOL WINAPI DisableThreadLibraryCalls(HMODULE h) { return F().vecQuietModules.push_back(h), TRUE; }
    static BOOL WINAPI GetModuleHandleExW(DWORD ulFlags, LPCWSTR, HMODULE*) { return F().vecPins.push_back(ulFlags), !Fault("GetModuleHandleExW"); }

    // DSOUND.DLL is there when the test gave it exports.
    static HMODULE WINAPI LoadLibraryA(LPCSTR pszName)
    {
        const bool bFound = !F().mapDirectSound.empty() && std::strcmp(pszName, "DSOUND.DLL") == 0;
        return Fault("LoadLibraryA") || !bFound ? nullptr : (F().Take("modules"), khDirectSound);
    }
    static FARPROC WINAPI GetProcAddress(HMODULE h, LPCSTR pszName)
    {
        const auto it = F().mapDirectSound.find(pszName);
        return h == khDirectSound && it != F().mapDirectSound.end() && !Fault("GetProcAddress") ? it->second : nullptr;
    }
    static BOOL WINAPI FreeLibrary(HMODULE h)
    {
        h == khDirectSound && F().fnBeforeUnload ? F().fnBeforeUnload() : void();
        return F().Give(h == khDirectSound ? "modules" : "foreign modules"), TRUE;
    }

    static UINT WINAPI WaveInGetNumDevs() { return Fault("waveInGetNumDevs") ? 0 : F().ulInputDevices.load(); }
    static UINT WINAPI WaveOutGetNumDevs() { return Fault("waveOutGetNumDevs") ? 0 : F().ulOutputDevices.load(); }
    static MMRESULT WINAPI WaveOutOpen(LPHWAVEOUT ph, UINT, LPCWAVEFORMATEX, DWORD_PTR ulProc, DWORD_PTR, DWORD)
    {
        F().pfnWaveOutProc = reinterpret_cast<decltype(F().pfnWaveOutProc)>(ulProc);
        return Fault("waveOutOpen") ? MMSYSERR_NODRIVER : (*ph = Held(reinterpret_cast<HWAVEOUT>(0x3A70 + ++F().ulWaveOutOpened)), 0);
    }
    static MMRESULT WINAPI WaveOutPrepareHeader(HWAVEOUT, LPWAVEHDR pst, UINT) { return Fault("waveOutPrepareHeader") ? MMSYSERR_NOMEM : (pst->dwFlags |= WHDR_PREPARED, 0); }
    static MMRESULT WINAPI WaveOutUnprepareHeader(HWAVEOUT, LPWAVEHDR pst, UINT)
    {
        return (pst->dwFlags & WHDR_INQUEUE) != 0 ? WAVERR_STILLPLAYING : Fault("waveOutUnprepareHeader") ? MMSYSERR_INVALPARAM : (pst->dwFlags &= ~WHDR_PREPARED, 0);
    }
    static MMRESULT WINAPI WaveOutWrite(HWAVEOUT, LPWAVEHDR pst, UINT)
    {
        if ((pst->dwFlags & WHDR_PREPARED) == 0 || Fault("waveOutWrite")) {
            return WAVERR_UNPREPARED;
        }
        std::lock_guard<std::recursive_mutex> oLock(F().mtx);
        pst->dwFlags = (pst->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
        F().vecWaveOut.emplace_back(pst->lpData, pst->lpData + pst->dwBufferLength);
        return F().vecQueued.push_back(pst), MMSYSERR_NOERROR;
    }
    static MMRESULT WINAPI WaveOutReset(HWAVEOUT) { return Fault("waveOutReset") ? MMSYSERR_NODRIVER : (F().CompleteWaveOut(SIZE_MAX), 0); }
    static MMRESULT WINAPI WaveOutClose(HWAVEOUT h) { return !F().vecQueued.empty() || !F().Give(h) ? WAVERR_STILLPLAYING : Fault("waveOutClose") ? MMSYSERR_NODRIVER : 0; }

    // Each open is a handle of its own, which only works until it is closed.
    static MMRESULT WINAPI MixerOpen(LPHMIXER ph, UINT, DWORD_PTR, DWORD_PTR, DWORD)
    {
        static std::atomic<uintptr_t> sm_ulOpened{0x313};
        return Fault("mixerOpen") ? MMSYSERR_BADDEVICEID : (*ph = Held(reinterpret_cast<HMIXER>(++sm_ulOpened)), 0);
    }
    static MMRESULT WINAPI MixerClose(HMIXER h) { return !F().Give(h) || Fault("mixerClose") ? MMSYSERR_INVALHANDLE : 0; }
    static MMRESULT WINAPI MixerGetDevCapsW(UINT_PTR, LPMIXERCAPSW, UINT) { return Fault("mixerGetDevCapsW") ? MMSYSERR_INVALHANDLE : 0; }
    // The recording destination, then its sources by index.
    static MMRESULT WINAPI MixerGetLineInfoW(HMIXEROBJ, LPMIXERLINEW pst, DWORD ulFlags)
    {
        const auto& vecSources = F().vecMixerSources;
        if (Fault("mixerGetLineInfoW")) {
            return MMSYSERR_INVALPARAM;
        }
        if ((ulFlags & MIXER_GETLINEINFOF_QUERYMASK) == MIXER_GETLINEINFOF_COMPONENTTYPE) {
            return pst->cConnections = static_cast<DWORD>(vecSources.size()), MMSYSERR_NOERROR;
        }
        const bool bAnswers = pst->dwSource < vecSources.size() && vecSources[pst->dwSource] != 0;
        return bAnswers ? (pst->dwComponentType = vecSources[pst->dwSource], pst->dwLineID = 0x100 + pst->dwSource, 0) : MIXERR_INVALLINE;
    }
    static MMRESULT WINAPI MixerGetLineControlsW(HMIXEROBJ, LPMIXERLINECONTROLSW pst, DWORD)
    {
        F().ulMixerLine = pst->dwLineID;
        return pst->pamxctrl->dwControlID = kulVolumeControl, Fault("mixerGetLineControlsW") ? MIXERR_INVALCONTROL : 0;
    }
    // One channel of one unsigned value, of the control the line query found.
    static DWORD* Value(HMIXEROBJ h, LPMIXERCONTROLDETAILS pst, const char* pszSite)
    {
        const bool bBad = !F().Holds(h) || pst->dwControlID != kulVolumeControl || pst->cChannels != 1 ||
                          pst->cMultipleItems != 0 || pst->cbDetails != sizeof(MIXERCONTROLDETAILS_UNSIGNED);
        return bBad || Fault(pszSite) ? nullptr : &static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(pst->paDetails)->dwValue;
    }
    static MMRESULT WINAPI MixerGetControlDetailsW(HMIXEROBJ h, LPMIXERCONTROLDETAILS pst, DWORD)
    {
        DWORD* pul = Value(h, pst, "mixerGetControlDetailsW");
        return pul == nullptr ? MIXERR_INVALCONTROL : (*pul = F().ulMixerValue, 0);
    }
    static MMRESULT WINAPI MixerSetControlDetails(HMIXEROBJ h, LPMIXERCONTROLDETAILS pst, DWORD)
    {
        DWORD* pul = Value(h, pst, "mixerSetControlDetails");
        return pul == nullptr ? MIXERR_INVALCONTROL : (F().ulMixerValue = *pul, 0);
    }

    static MMRESULT WINAPI TimeSetEvent(UINT ulDelay, UINT ulResolution, LPTIMECALLBACK pfn, DWORD_PTR ulUser, UINT ulFlags)
    {
        if (Fault("timeSetEvent")) {
            return 0;
        }
        F().strTimerSet = std::to_string(ulDelay) + " " + std::to_string(ulResolution) + " " + std::to_string(ulFlags);
        F().fnTimer = [pfn, ulUser] { pfn(CFakePlatform::kulTimerId, 0, ulUser, 0, 0); };
        return F().Take("timers"), CFakePlatform::kulTimerId;
    }
    static MMRESULT WINAPI TimeKillEvent(UINT ulId) { return F().Give(ulId == CFakePlatform::kulTimerId ? "timers" : "foreign timers"), F().fnTimer = nullptr, 0; }
    static MMRESULT WINAPI TimeBeginPeriod(UINT ulMs) { return F().Take("periods of " + std::to_string(ulMs)), 0; }
    static MMRESULT WINAPI TimeEndPeriod(UINT ulMs) { return F().Give("periods of " + std::to_string(ulMs)), 0; }

    static HRESULT WINAPI CoCreateInstance(REFCLSID stClsid, LPUNKNOWN, DWORD, REFIID riid, LPVOID* ppv)
    {
        const auto it = std::find_if(F().vecClasses.begin(), F().vecClasses.end(), [&](auto& st) { return st.first == stClsid; });
        *ppv = nullptr;
        return Fault("CoCreateInstance") ? E_OUTOFMEMORY : it == F().vecClasses.end() ? REGDB_E_CLASSNOTREG : it->second->QueryInterface(riid, ppv);
    }
    static void WINAPI CoTaskMemFree(LPVOID p) { F().Give(p), ::CoTaskMemFree(p); }
    static HRESULT WINAPI PropVariantClear(PROPVARIANT* pst) { return pst->vt == VT_LPWSTR ? CoTaskMemFree(pst->pwszVal) : void(), PropVariantInit(pst), S_OK; }
    static HRESULT WINAPI MoInitMediaType(DMO_MEDIA_TYPE* pst, DWORD ulBytes)
    {
        return Fault("MoInitMediaType") ? E_OUTOFMEMORY : (*pst = {}, pst->cbFormat = ulBytes, pst->pbFormat = static_cast<BYTE*>(F().TaskMemory(ulBytes)), S_OK);
    }
    static HRESULT WINAPI MoFreeMediaType(DMO_MEDIA_TYPE* pst) { return CoTaskMemFree(pst->pbFormat), S_OK; }
    static int WINAPI WideCharToMultiByte(UINT ulPage, DWORD ulFlags, LPCWCH pwsz, int i, LPSTR psz, int iBytes, LPCCH pszDefault, LPBOOL pb)
    {
        return Fault("WideCharToMultiByte") ? 0 : ::WideCharToMultiByte(ulPage, ulFlags, pwsz, i, psz, iBytes, pszDefault, pb);
    }
};

CFakePlatform::CFakePlatform() : m_stApi(PlatformDefaults()), m_ulHostThread(GetCurrentThreadId())
{
    sm_pCurrent = this;
#define VOCORA_FAKE(name) m_stApi.pfn##name = &PlatformFakes::name;
    VOCORA_FAKE(Malloc) VOCORA_FAKE(Free) VOCORA_FAKE(CreateEventW) VOCORA_FAKE(BeginThreadEx)
    VOCORA_FAKE(CloseHandle) VOCORA_FAKE(SetEvent) VOCORA_FAKE(WaitForSingleObject) VOCORA_FAKE(Sleep)
    VOCORA_FAKE(DisableThreadLibraryCalls) VOCORA_FAKE(GetModuleHandleExW) VOCORA_FAKE(LoadLibraryA) VOCORA_FAKE(GetProcAddress)
    VOCORA_FAKE(FreeLibrary) VOCORA_FAKE(WaveInGetNumDevs) VOCORA_FAKE(WaveOutGetNumDevs) VOCORA_FAKE(WaveOutOpen)
    VOCORA_FAKE(WaveOutPrepareHeader) VOCORA_FAKE(WaveOutUnprepareHeader) VOCORA_FAKE(WaveOutWrite)
    VOCORA_FAKE(WaveOutReset) VOCORA_FAKE(WaveOutClose) VOCORA_FAKE(MixerOpen) VOCORA_FAKE(MixerClose)
    VOCORA_FAKE(MixerGetDevCapsW) VOCORA_FAKE(MixerGetLineInfoW) VOCORA_FAKE(MixerGetLineControlsW)
    VOCORA_FAKE(MixerGetControlDetailsW) VOCORA_FAKE(MixerSetControlDetails) VOCORA_FAKE(TimeSetEvent)
    VOCORA_FAKE(TimeKillEvent) VOCORA_FAKE(TimeBeginPeriod) VOCORA_FAKE(TimeEndPeriod)
    VOCORA_FAKE(CoCreateInstance) VOCORA_FAKE(CoTaskMemFree) VOCORA_FAKE(PropVariantClear)
    VOCORA_FAKE(MoInitMediaType) VOCORA_FAKE(MoFreeMediaType) VOCORA_FAKE(WideCharToMultiByte)
#undef VOCORA_FAKE
    vecMixerSources = {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE};
    Platform_Install(&m_stApi);
}

bool CFakePlatform::Fault(const char* pszSite)
{
    CFakePlatform& o = Current();
    std::lock_guard<std::recursive_mutex> oLock(o.mtx);
    bool bFail = o.m_strFailSite == pszSite;
    std::string strSite = pszSite;
    o.m_strFailSite.erase(0, bFail && --o.m_iFailTimes == 0 ? std::string::npos : 0);
    if (GetCurrentThreadId() == o.m_ulHostThread && o.bCounting) {
        strSite += "#" + std::to_string(++o.m_mapHostSiteCalls[pszSite]);
        bFail = bFail || ++o.m_iHostCalls == o.m_iFailHostCall;
    }
    o.m_strInjected += bFail && o.m_strInjected.empty() ? strSite : "";  // the first fault only
    return bFail;
}

std::string CFakePlatform::Outstanding() const
{
    std::lock_guard<std::recursive_mutex> oLock(mtx);
    std::string strOut = m_setHeld.empty() ? "" : std::to_string(m_setHeld.size()) + " memory blocks, handles or devices; ";
    for (const auto& [str, iCount] : m_mapHeld) {
        strOut += iCount != 0 ? str + " " + std::to_string(iCount) + "; " : "";
    }
    return strOut;
}

void CFakePlatform::CompleteWaveOut(size_t ulCount)
{
    std::vector<WAVEHDR*> vecDone;
    {
        std::lock_guard<std::recursive_mutex> oLock(mtx);
        const auto itEnd = vecQueued.begin() + static_cast<ptrdiff_t>(std::min(ulCount, vecQueued.size()));
        vecDone.assign(vecQueued.begin(), itEnd);
        vecQueued.erase(vecQueued.begin(), itEnd);
    }
    for (WAVEHDR* pst : vecDone) {
        pst->dwFlags = (pst->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
        pfnWaveOutProc(nullptr, WOM_DONE, 0, reinterpret_cast<DWORD_PTR>(pst), 0);
    }
}

wchar_t* CFakePlatform::TaskText(const wchar_t* pwszText)
{
    const size_t ulBytes = (std::wcslen(pwszText) + 1) * sizeof(wchar_t);
    return static_cast<wchar_t*>(std::memcpy(Current().TaskMemory(ulBytes), pwszText, ulBytes));
}
