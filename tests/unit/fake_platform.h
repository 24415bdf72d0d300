// The platform behind the library's table, for unit tests: devices the test
// controls (waveOut, mixer, timer, modules, COM classes), a record of what
// was taken and not yet given back, and fault injection: every call that can
// fail asks Fault() first.
#ifndef VOCORA_TESTS_FAKE_PLATFORM_H
#define VOCORA_TESTS_FAKE_PLATFORM_H

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/platform.h"

class CFakePlatform {
public:
    CFakePlatform();
    ~CFakePlatform() { Platform_Install(nullptr); sm_pCurrent = nullptr; }
    static CFakePlatform& Current() { return *sm_pCurrent; }
    static constexpr UINT kulTimerId = 7;

    // True when this call is to fail. Calls on the arming thread are numbered
    // from 1 and call number iHostCall fails; a site armed by name fails at
    // its next call from any thread.
    static bool Fault(const char* pszSite);
    void FailHostCall(int iHostCall) { m_iFailHostCall = iHostCall; }
    int HostCalls() const { return m_iHostCalls; }
    std::atomic<bool> bCounting{true};  // off: host calls neither count nor fail
    void FailSite(const std::string& strSite, int iTimes = 1) { m_strFailSite = strSite, m_iFailTimes = iTimes; }
    // "site#n" of the injected fault (n counts that site's host calls), or "".
    std::string Injected() const { std::lock_guard<std::recursive_mutex> oLock(mtx); return m_strInjected; }

    // What is still taken: memory, handles, modules, mixers, timers and their
    // periods, waveOut devices. Empty when everything was given back.
    std::string Outstanding() const;
    void Take(const void* p) { Count(p, 1); }
    bool Give(const void* p) { return Count(p, -1); }
    bool Holds(const void* p) const { std::lock_guard<std::recursive_mutex> oLock(mtx); return m_setHeld.count(p) != 0; }
    void Take(const std::string& str) { Count(str, 1); }
    void Give(const std::string& str) { Count(str, -1); }
    void* TaskMemory(size_t ulBytes) { void* p = ::CoTaskMemAlloc(ulBytes); Take(p); return p; }  // for the library to free
    static wchar_t* TaskText(const wchar_t* pwszText);

    // Devices.
    std::atomic<UINT> ulInputDevices{1}, ulOutputDevices{1};
    std::map<std::string, FARPROC> mapDirectSound;        // exports; empty: no DSOUND.DLL
    std::vector<std::pair<CLSID, IUnknown*>> vecClasses;  // what CoCreateInstance finds
    std::vector<DWORD> vecMixerSources;                   // component type per source; 0: does not answer
    DWORD ulMixerValue = 0, ulMixerLine = 0;              // the level; the line whose control was asked for
    std::vector<std::vector<uint8_t>> vecWaveOut;         // blocks written, in order
    void(CALLBACK* pfnWaveOutProc)(HWAVEOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) = nullptr;
    std::vector<WAVEHDR*> vecQueued;                      // written, not yet done
    uintptr_t ulWaveOutOpened = 0;
    std::string strTimerSet;                              // "delay resolution flags" of the last timer
    std::function<void()> fnTimer, fnBeforeUnload;        // the timer's callback while it runs; called as DSOUND.DLL goes
    std::vector<HMODULE> vecQuietModules;                 // thread notifications turned off
    std::vector<DWORD> vecPins;                           // flags of each GetModuleHandleExW
    std::atomic<int> aiSleeps[16] = {};                   // sleeps by length in ms (15: longer)
    void CompleteWaveOut(size_t ulCount);                 // the device finishes its oldest entries
    void FireTimer() { const std::function<void()> fn = fnTimer; fn ? fn() : void(); }  // one tick, here; the tick may stop the timer
    mutable std::recursive_mutex mtx;

private:
    bool Count(const void* p, int iDelta) { std::lock_guard<std::recursive_mutex> oLock(mtx); return iDelta > 0 ? m_setHeld.insert(p).second : m_setHeld.erase(p) != 0; }
    void Count(const std::string& str, int iDelta) { std::lock_guard<std::recursive_mutex> oLock(mtx); m_mapHeld[str] += iDelta; }

    static CFakePlatform* sm_pCurrent;
    PlatformApi m_stApi;
    DWORD m_ulHostThread = 0;
    int m_iFailHostCall = 0;
    int m_iHostCalls = 0;
    std::map<std::string, int> m_mapHostSiteCalls;
    std::string m_strFailSite;
    int m_iFailTimes = 0;
    std::string m_strInjected;
    std::set<const void*> m_setHeld;
    std::map<std::string, int> m_mapHeld;
};

#endif
