#include "fake_platform.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sstream>

extern "C" {
#include <dmort.h>
}

CFakePlatform* CFakePlatform::sm_pCurrent = nullptr;

namespace {
const HWAVEOUT khWaveOut = reinterpret_cast<HWAVEOUT>(uintptr_t{0x3A7});
const HMIXER khMixer = reinterpret_cast<HMIXER>(uintptr_t{0x313});
const HMODULE khDirectSound = reinterpret_cast<HMODULE>(uintptr_t{0x5D0});
constexpr UINT kulTimerId = 7;
constexpr DWORD kulVolumeControl = 0xC7;
}  // namespace

// The fakes, as the table's plain functions; each reaches the current fake.
struct PlatformFakes {
    using Lock = std::lock_guard<std::recursive_mutex>;
    static CFakePlatform& F() { return CFakePlatform::Current(); }
    static bool Fault(const char* pszSite) { return CFakePlatform::Fault(pszSite); }
    template <class T>
    static T Track(T h)
    {
        Lock oLock(F().m_mtx);
        F().m_setHandles.insert(reinterpret_cast<HANDLE>(h));
        return h;
    }
    static void* Detach(void* p)
    {
        Lock oLock(F().m_mtx);
        return F().m_mapAllocations.erase(p) != 0 || F().m_setTaskMemory.erase(p) != 0 ? p : nullptr;
    }

    static void* Malloc(size_t ulSize)
    {
        void* p = Fault("malloc") ? nullptr : std::malloc(ulSize);
        Lock oLock(F().m_mtx);
        F().m_mapAllocations[p] = ulSize;
        F().m_mapAllocations.erase(nullptr);
        return p;
    }
    static void Free(void* p)
    {
        if (p != nullptr && Detach(p) == nullptr) {
            std::fprintf(stderr, "freeing %p, which the platform did not hand out\n", p);
            std::abort();
        }
        std::free(p);
    }
    static HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES p, BOOL b1, BOOL b2, LPCWSTR psz)
    {
        return Fault("CreateEventW") ? nullptr : Track(::CreateEventW(p, b1, b2, psz));
    }
    static uintptr_t BeginThreadEx(void* p, unsigned ul, unsigned(__stdcall* pfn)(void*), void* pArg,
                                   unsigned ulFlags, unsigned* pulId)
    {
        return Fault("_beginthreadex") ? 0 : Track(_beginthreadex(p, ul, pfn, pArg, ulFlags, pulId));
    }
    static BOOL WINAPI CloseHandle(HANDLE h)
    {
        Lock oLock(F().m_mtx);
        return F().m_setHandles.erase(h) != 0 && ::CloseHandle(h);
    }
    static BOOL WINAPI SetEvent(HANDLE h) { return !Fault("SetEvent") && ::SetEvent(h); }
    // Time-outs are cut short, so that polling loops go round quickly.
    static DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ulMs)
    {
        if (ulMs != INFINITE && Fault("WaitForSingleObject")) {
            return WAIT_FAILED;
        }
        return ::WaitForSingleObject(h, ulMs == INFINITE ? ulMs : std::min<DWORD>(ulMs, 5));
    }
    static void WINAPI Sleep(DWORD ulMs)
    {
        ++F().aiSleeps[std::min<DWORD>(ulMs, 15)];
        ::Sleep(std::min<DWORD>(ulMs, 10));
    }
    static BOOL WINAPI DisableThreadLibraryCalls(HMODULE h) { return F().vecQuietModules.push_back(h), TRUE; }

    static HMODULE WINAPI LoadLibraryA(LPCSTR pszName)
    {
        if (Fault("LoadLibraryA") || F().mapDirectSound.empty() || std::strcmp(pszName, "DSOUND.DLL") != 0) {
            return nullptr;
        }
        ++F().m_iModules;
        return khDirectSound;
    }
    static FARPROC WINAPI GetProcAddress(HMODULE h, LPCSTR pszName)
    {
        const auto it = F().mapDirectSound.find(pszName);
        const bool bFound = h == khDirectSound && it != F().mapDirectSound.end();
        return bFound && !Fault("GetProcAddress") ? it->second : nullptr;
    }
    static BOOL WINAPI FreeLibrary(HMODULE h) { return (F().m_iModules -= h == khDirectSound ? 1 : 1000), TRUE; }

    static UINT WINAPI WaveInGetNumDevs() { return Fault("waveInGetNumDevs") ? 0 : F().ulInputDevices.load(); }
    static UINT WINAPI WaveOutGetNumDevs() { return Fault("waveOutGetNumDevs") ? 0 : F().ulOutputDevices.load(); }
    static MMRESULT WINAPI WaveOutOpen(LPHWAVEOUT ph, UINT, LPCWAVEFORMATEX pst, DWORD_PTR ulProc, DWORD_PTR, DWORD)
    {
        if (Fault("waveOutOpen")) {
            return MMSYSERR_NODRIVER;
        }
        F().stWaveOutFormat = *pst;
        F().m_ulWaveOutProc = ulProc;
        *ph = F().m_hWaveOut = khWaveOut;
        return MMSYSERR_NOERROR;
    }
    static MMRESULT WINAPI WaveOutPrepareHeader(HWAVEOUT, LPWAVEHDR pst, UINT)
    {
        return Fault("waveOutPrepareHeader") ? MMSYSERR_NOMEM : (pst->dwFlags |= WHDR_PREPARED, MMSYSERR_NOERROR);
    }
    static MMRESULT WINAPI WaveOutUnprepareHeader(HWAVEOUT, LPWAVEHDR pst, UINT)
    {
        if ((pst->dwFlags & WHDR_INQUEUE) != 0) {
            return WAVERR_STILLPLAYING;
        }
        return Fault("waveOutUnprepareHeader") ? MMSYSERR_INVALPARAM
                                                 : (pst->dwFlags &= ~WHDR_PREPARED, MMSYSERR_NOERROR);
    }
    static MMRESULT WINAPI WaveOutWrite(HWAVEOUT, LPWAVEHDR pst, UINT)
    {
        if ((pst->dwFlags & WHDR_PREPARED) == 0 || Fault("waveOutWrite")) {
            return WAVERR_UNPREPARED;
        }
        Lock oLock(F().m_mtx);
        pst->dwFlags = (pst->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
        F().vecWaveOut.emplace_back(pst->lpData, pst->lpData + pst->dwBufferLength);
        F().m_vecQueued.push_back(pst);
        return MMSYSERR_NOERROR;
    }
    static MMRESULT WINAPI WaveOutReset(HWAVEOUT)
    {
        return Fault("waveOutReset") ? MMSYSERR_NODRIVER : (F().CompleteWaveOut(SIZE_MAX), MMSYSERR_NOERROR);
    }
    static MMRESULT WINAPI WaveOutClose(HWAVEOUT h)
    {
        if (h != F().m_hWaveOut || F().QueuedWaveOut() != 0) {
            return WAVERR_STILLPLAYING;
        }
        F().m_hWaveOut = nullptr;
        return Fault("waveOutClose") ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
    }

    static MMRESULT WINAPI MixerOpen(LPHMIXER ph, UINT, DWORD_PTR, DWORD_PTR, DWORD)
    {
        return Fault("mixerOpen") ? MMSYSERR_BADDEVICEID : (++F().m_iMixers, *ph = khMixer, MMSYSERR_NOERROR);
    }
    static MMRESULT WINAPI MixerClose(HMIXER h)
    {
        F().m_iMixers -= h == khMixer ? 1 : 1000;
        return Fault("mixerClose") ? MMSYSERR_INVALHANDLE : MMSYSERR_NOERROR;
    }
    static MMRESULT WINAPI MixerGetDevCapsW(UINT_PTR, LPMIXERCAPSW, UINT)
    {
        return Fault("mixerGetDevCapsW") ? MMSYSERR_INVALHANDLE : MMSYSERR_NOERROR;
    }
    // The recording destination, then its sources by index; a source of
    // component type 0 does not answer.
    static MMRESULT WINAPI MixerGetLineInfoW(HMIXEROBJ, LPMIXERLINEW pst, DWORD ulFlags)
    {
        const auto& vecSources = F().vecMixerSources;
        if (Fault("mixerGetLineInfoW")) {
            return MMSYSERR_INVALPARAM;
        }
        if ((ulFlags & MIXER_GETLINEINFOF_QUERYMASK) == MIXER_GETLINEINFOF_COMPONENTTYPE) {
            return pst->cConnections = static_cast<DWORD>(vecSources.size()), MMSYSERR_NOERROR;
        }
        if (pst->dwSource >= vecSources.size() || vecSources[pst->dwSource] == 0) {
            return MIXERR_INVALLINE;
        }
        pst->dwComponentType = vecSources[pst->dwSource];
        pst->dwLineID = 0x100 + pst->dwSource;
        return MMSYSERR_NOERROR;
    }
    static MMRESULT WINAPI MixerGetLineControlsW(HMIXEROBJ, LPMIXERLINECONTROLSW pst, DWORD)
    {
        if (Fault("mixerGetLineControlsW")) {
            return MIXERR_INVALCONTROL;
        }
        F().ulMixerLine = pst->dwLineID;
        pst->pamxctrl->dwControlID = kulVolumeControl;
        return MMSYSERR_NOERROR;
    }
    static DWORD& Value(LPMIXERCONTROLDETAILS pst)
    {
        return static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(pst->paDetails)->dwValue;
    }
    // One channel of one unsigned value, of the control the line query found.
    static bool BadDetails(LPMIXERCONTROLDETAILS pst)
    {
        return pst->dwControlID != kulVolumeControl || pst->cChannels != 1 || pst->cMultipleItems != 0 ||
               pst->cbDetails != sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    }
    static MMRESULT WINAPI MixerGetControlDetailsW(HMIXEROBJ, LPMIXERCONTROLDETAILS pst, DWORD)
    {
        const bool bFail = BadDetails(pst) || Fault("mixerGetControlDetailsW");
        return bFail ? MIXERR_INVALCONTROL : (Value(pst) = F().ulMixerValue, MMSYSERR_NOERROR);
    }
    static MMRESULT WINAPI MixerSetControlDetails(HMIXEROBJ, LPMIXERCONTROLDETAILS pst, DWORD)
    {
        const bool bFail = BadDetails(pst) || Fault("mixerSetControlDetails");
        return bFail ? MIXERR_INVALCONTROL : (F().ulMixerValue = Value(pst), MMSYSERR_NOERROR);
    }

    static MMRESULT WINAPI TimeSetEvent(UINT ulDelay, UINT ulResolution, LPTIMECALLBACK pfn, DWORD_PTR ulUser,
                                        UINT ulFlags)
    {
        if (Fault("timeSetEvent")) {
            return 0;
        }
        F().strTimerSet = std::to_string(ulDelay) + " " + std::to_string(ulResolution) + " " + std::to_string(ulFlags);
        F().m_pfnTimer = pfn;
        F().m_ulTimerUser = ulUser;
        return kulTimerId;
    }
    static MMRESULT WINAPI TimeKillEvent(UINT ulId)
    {
        const bool bRunning = ulId == kulTimerId && F().m_pfnTimer != nullptr;
        return bRunning ? (F().m_pfnTimer = nullptr, TIMERR_NOERROR) : TIMERR_NOCANDO;
    }
    static MMRESULT WINAPI TimeBeginPeriod(UINT ulMs) { return ++F().m_mapPeriods[ulMs], TIMERR_NOERROR; }
    static MMRESULT WINAPI TimeEndPeriod(UINT ulMs) { return --F().m_mapPeriods[ulMs], TIMERR_NOERROR; }

    static HRESULT WINAPI CoCreateInstance(REFCLSID stClsid, LPUNKNOWN, DWORD, REFIID riid, LPVOID* ppv)
    {
        *ppv = nullptr;
        if (Fault("CoCreateInstance")) {
            return E_OUTOFMEMORY;
        }
        for (const auto& [stClass, pObject] : F().vecClasses) {
            if (stClass == stClsid) {
                return pObject->QueryInterface(riid, ppv);
            }
        }
        return REGDB_E_CLASSNOTREG;
    }
    static void WINAPI CoTaskMemFree(LPVOID p) { ::CoTaskMemFree(Detach(p)); }
    static HRESULT WINAPI PropVariantClear(PROPVARIANT* pst)
    {
        if (pst->vt == VT_LPWSTR) {
            CoTaskMemFree(pst->pwszVal);
        }
        return PropVariantInit(pst), S_OK;
    }
    static HRESULT WINAPI MoInitMediaType(DMO_MEDIA_TYPE* pst, DWORD ulBytes)
    {
        if (Fault("MoInitMediaType")) {
            return E_OUTOFMEMORY;
        }
        *pst = {};
        pst->cbFormat = ulBytes;
        pst->pbFormat = static_cast<BYTE*>(F().TaskMemory(ulBytes));
        return S_OK;
    }
    static HRESULT WINAPI MoFreeMediaType(DMO_MEDIA_TYPE* pst) { return CoTaskMemFree(pst->pbFormat), S_OK; }
    static int WINAPI WideCharToMultiByte(UINT ulPage, DWORD ulFlags, LPCWCH pwsz, int i, LPSTR psz, int iBytes,
                                          LPCCH pszDefault, LPBOOL pb)
    {
        return Fault("WideCharToMultiByte") ? 0 : ::WideCharToMultiByte(ulPage, ulFlags, pwsz, i, psz, iBytes,
                                                                           pszDefault, pb);
    }
};

CFakePlatform::CFakePlatform() : m_stApi(PlatformDefaults()), m_ulHostThread(GetCurrentThreadId())
{
    sm_pCurrent = this;
#define VOCORA_FAKE(name) m_stApi.pfn##name = &PlatformFakes::name;
    VOCORA_FAKE(Malloc) VOCORA_FAKE(Free) VOCORA_FAKE(CreateEventW) VOCORA_FAKE(BeginThreadEx)
    VOCORA_FAKE(CloseHandle) VOCORA_FAKE(SetEvent) VOCORA_FAKE(WaitForSingleObject) VOCORA_FAKE(Sleep)
    VOCORA_FAKE(DisableThreadLibraryCalls)
    VOCORA_FAKE(LoadLibraryA) VOCORA_FAKE(GetProcAddress) VOCORA_FAKE(FreeLibrary)
    VOCORA_FAKE(WaveInGetNumDevs) VOCORA_FAKE(WaveOutGetNumDevs) VOCORA_FAKE(WaveOutOpen)
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

CFakePlatform::~CFakePlatform()
{
    Platform_Install(nullptr);
    sm_pCurrent = nullptr;
}

bool CFakePlatform::Fault(const char* pszSite)
{
    CFakePlatform& o = Current();
    std::lock_guard<std::recursive_mutex> oLock(o.m_mtx);
    const int iOccurrence = ++o.m_mapSiteCalls[pszSite];
    bool bFail = o.m_strFailSite == pszSite && o.m_iFailOccurrence == iOccurrence;
    std::string strSite = std::string(pszSite) + "#" + std::to_string(iOccurrence);
    if (GetCurrentThreadId() == o.m_ulHostThread) {
        const int iHostOccurrence = ++o.m_mapHostSiteCalls[pszSite];
        if (++o.m_iHostCalls == o.m_iFailHostCall) {
            bFail = true;
            strSite = std::string(pszSite) + "#" + std::to_string(iHostOccurrence);
        }
    }
    if (bFail && o.m_strInjected.empty()) {
        o.m_strInjected = strSite;
    }
    return bFail;
}

void CFakePlatform::FailSite(const std::string& strSite, int iOccurrence)
{
    std::lock_guard<std::recursive_mutex> oLock(m_mtx);
    m_strFailSite = strSite;
    m_iFailOccurrence = iOccurrence + m_mapSiteCalls[strSite];
}

std::string CFakePlatform::Injected() const
{
    std::lock_guard<std::recursive_mutex> oLock(m_mtx);
    return m_strInjected;
}

std::string CFakePlatform::Outstanding() const
{
    std::lock_guard<std::recursive_mutex> oLock(m_mtx);
    std::ostringstream oOut;
    const auto fnAdd = [&](const std::string& strWhat, long lCount) {
        if (lCount != 0) {
            oOut << strWhat << " " << lCount << "; ";
        }
    };
    fnAdd("allocations", static_cast<long>(m_mapAllocations.size()));
    fnAdd("handles", static_cast<long>(m_setHandles.size()));
    fnAdd("task memory", static_cast<long>(m_setTaskMemory.size()));
    fnAdd("modules", m_iModules);
    fnAdd("mixers", m_iMixers);
    for (const auto& [ulMs, iCount] : m_mapPeriods) {
        fnAdd("timer periods of " + std::to_string(ulMs) + " ms", iCount);
    }
    fnAdd("timers", m_pfnTimer != nullptr);
    fnAdd("waveOut devices", m_hWaveOut != nullptr);
    return oOut.str();
}

void CFakePlatform::CompleteWaveOut(size_t ulCount)
{
    std::vector<WAVEHDR*> vecDone;
    {
        std::lock_guard<std::recursive_mutex> oLock(m_mtx);
        const auto itEnd = m_vecQueued.begin() + static_cast<ptrdiff_t>(std::min(ulCount, m_vecQueued.size()));
        vecDone.assign(m_vecQueued.begin(), itEnd);
        m_vecQueued.erase(m_vecQueued.begin(), itEnd);
    }
    using WaveOutProc = void(CALLBACK*)(HWAVEOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    for (WAVEHDR* pst : vecDone) {
        pst->dwFlags = (pst->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
        reinterpret_cast<WaveOutProc>(m_ulWaveOutProc)(m_hWaveOut, WOM_DONE, 0, reinterpret_cast<DWORD_PTR>(pst), 0);
    }
}

size_t CFakePlatform::QueuedWaveOut()
{
    std::lock_guard<std::recursive_mutex> oLock(m_mtx);
    return m_vecQueued.size();
}

void CFakePlatform::FireTimer()
{
    if (m_pfnTimer != nullptr) {
        m_pfnTimer(kulTimerId, 0, m_ulTimerUser, 0, 0);
    }
}

void* CFakePlatform::TaskMemory(size_t ulBytes)
{
    void* p = ::CoTaskMemAlloc(ulBytes);
    std::lock_guard<std::recursive_mutex> oLock(m_mtx);
    m_setTaskMemory.insert(p);
    return p;
}

wchar_t* CFakePlatform::TaskText(const wchar_t* pwszText)
{
    const size_t ulBytes = (std::wcslen(pwszText) + 1) * sizeof(wchar_t);
    return static_cast<wchar_t*>(std::memcpy(Current().TaskMemory(ulBytes), pwszText, ulBytes));
}
