// The platform behind the library's table, for unit tests: devices the test
// controls (waveOut, mixer, timer, modules, COM classes), a record of what
// was taken and given back, and fault injection: every call that can fail
// asks Fault() first.
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
    ~CFakePlatform();
    CFakePlatform(const CFakePlatform&) = delete;
    CFakePlatform& operator=(const CFakePlatform&) = delete;
    static CFakePlatform& Current() { return *sm_pCurrent; }

    // True when this call is to fail. Calls on the arming thread are numbered
    // from 1 and call number iHostCall fails; a site armed by name fails at
    // its iOccurrence-th call from any thread.
    static bool Fault(const char* pszSite);
    void FailHostCall(int iHostCall) { m_iFailHostCall = iHostCall; }
    void FailSite(const std::string& strSite, int iOccurrence = 1);
    // "site#n" of the injected fault (n counts that site's host calls), or "".
    std::string Injected() const;

    // What is still taken: allocations, handles, timers, periods, modules,
    // mixer, waveOut, task memory. Empty when everything was given back.
    std::string Outstanding() const;

    // Devices.
    std::atomic<UINT> ulInputDevices{1};
    std::atomic<UINT> ulOutputDevices{1};
    std::map<std::string, FARPROC> mapDirectSound;  // exports; empty: no DSOUND.DLL
    std::vector<std::pair<CLSID, IUnknown*>> vecClasses;  // what CoCreateInstance finds
    std::vector<DWORD> vecMixerSources;              // component type per source
    DWORD ulMixerValue = 0;
    DWORD ulMixerLine = 0;                           // line whose control was asked for
    std::vector<std::vector<uint8_t>> vecWaveOut;    // blocks written, in order
    WAVEFORMATEX stWaveOutFormat = {};
    std::string strTimerSet;                         // "delay resolution flags" of the last timer
    std::vector<HMODULE> vecQuietModules;            // thread notifications turned off
    std::atomic<int> aiSleeps[16] = {};              // sleeps by length in ms (15: longer)
    void CompleteWaveOut(size_t ulCount);            // the device finishes its oldest entries
    size_t QueuedWaveOut();
    void FireTimer();                                // one tick, on the calling thread

    void* TaskMemory(size_t ulBytes);                   // for the library to free
    static wchar_t* TaskText(const wchar_t* pwszText);

private:
    static CFakePlatform* sm_pCurrent;
    PlatformApi m_stApi;
    mutable std::recursive_mutex m_mtx;
    DWORD m_ulHostThread = 0;
    int m_iFailHostCall = 0;
    int m_iHostCalls = 0;
    std::map<std::string, int> m_mapHostSiteCalls;
    std::string m_strFailSite;
    int m_iFailOccurrence = 0;
    std::map<std::string, int> m_mapSiteCalls;
    std::string m_strInjected;

    std::map<void*, size_t> m_mapAllocations;
    std::set<HANDLE> m_setHandles;
    std::set<void*> m_setTaskMemory;
    int m_iModules = 0;
    int m_iMixers = 0;
    std::map<UINT, int> m_mapPeriods;
    HWAVEOUT m_hWaveOut = nullptr;
    DWORD_PTR m_ulWaveOutProc = 0;
    std::vector<WAVEHDR*> m_vecQueued;
    LPTIMECALLBACK m_pfnTimer = nullptr;
    DWORD_PTR m_ulTimerUser = 0;

    friend struct PlatformFakes;
};

#endif
