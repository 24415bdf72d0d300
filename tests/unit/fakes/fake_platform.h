// A platform table for unit tests: the real functions, except for what a test
// scripts — module loading, the allocator, thread creation, COM classes, the
// multimedia timer — and a record of those calls. Installed for the lifetime
// of the object.
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

// The winmm mixer of input device 0: a recording destination with scripted
// sources, one volume control, and a scripted failure for each call.
struct FakeMixer {
    MMRESULT mrOpen = MMSYSERR_NOERROR;
    MMRESULT mrCaps = MMSYSERR_NOERROR;
    MMRESULT mrDestination = MMSYSERR_NOERROR;
    MMRESULT mrControls = MMSYSERR_NOERROR;
    MMRESULT mrGetDetails = MMSYSERR_NOERROR;
    MMRESULT mrSetDetails = MMSYSERR_NOERROR;
    MMRESULT mrClose = MMSYSERR_NOERROR;
    // Component type of each source; 0 makes that source's query fail.
    std::vector<DWORD> vecSources = {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE};
    DWORD ulValue = 0;  // the volume control's value

    // What the library asked for.
    int iOpens = 0;
    int iCloses = 0;
    UINT ulOpenedDevice = 99;
    DWORD ulOpenFlags = 0;
    DWORD ulControlLine = 0;  // line whose volume control was asked for
    std::vector<DWORD> vecDetailsFlags;
};

// A waveOut device: scripted results, the blocks written to it in order, and
// completion that the test triggers (on its own thread or another one).
struct FakeWaveOut {
    UINT ulDevices = 1;
    MMRESULT mrOpen = MMSYSERR_NOERROR;
    MMRESULT mrPrepare = MMSYSERR_NOERROR;
    MMRESULT mrUnprepare = MMSYSERR_NOERROR;
    MMRESULT mrWrite = MMSYSERR_NOERROR;
    MMRESULT mrReset = MMSYSERR_NOERROR;
    MMRESULT mrClose = MMSYSERR_NOERROR;

    // What the library asked for.
    int iOpens = 0;
    int iCloses = 0;
    UINT ulDeviceId = 0;
    WAVEFORMATEX stFormat = {};
    DWORD_PTR ulCallback = 0;
    DWORD_PTR ulInstance = 99;
    DWORD ulOpenFlags = 0;
    std::vector<std::vector<uint8_t>> vecWritten;  // each block, as written
    std::vector<WAVEHDR*> vecQueued;              // written and not yet done
};

// The multimedia timer: nothing runs by itself, the test fires the callback.
struct FakeTimer {
    bool bFailSet = false;  // timeSetEvent answers 0
    // timeBeginPeriod, timeSetEvent, timeEndPeriod and timeKillEvent in order,
    // e.g. "begin 20", "set 10 20 0x101", "end 20", "kill 1".
    std::vector<std::string> vecCalls;
    LPTIMECALLBACK pfnCallback = nullptr;  // of the last timer set
    DWORD_PTR ulUser = 0;
    UINT ulId = 0;
    std::function<void()> fnOnKill;  // runs inside timeKillEvent

    // One tick of the last timer set, on the calling thread.
    void Fire() const { pfnCallback(ulId, 0, ulUser, 0, 0); }
};

// MoInitMediaType and MoFreeMediaType.
struct FakeMediaTypes {
    HRESULT hrInit = S_OK;
    int iInits = 0;
    int iFrees = 0;
};

class CFakePlatform {
public:
    // What LoadLibraryA hands out for a module the test provides.
    static const HMODULE khFakeModule;

    CFakePlatform();
    ~CFakePlatform();
    CFakePlatform(const CFakePlatform&) = delete;
    CFakePlatform& operator=(const CFakePlatform&) = delete;

    // Modules: a loaded name answers khFakeModule; each export is looked up here.
    void ProvideModule(const std::string& strName) { m_vecModules.push_back(strName); }
    void ProvideExport(const std::string& strName, FARPROC pfnExport) { m_mapExports[strName] = pfnExport; }
    std::vector<std::string> LoadedModules() const;
    int FreedModules() const { return m_iFreedModules; }

    // Allocation: the next allocations can be made to fail, and every byte
    // handed out is tracked until it is freed.
    void FailAllocation(int iFromNow) { m_iFailAllocationIn = iFromNow; }
    std::vector<size_t> AllocationSizes() const;
    size_t OutstandingAllocations() const;

    void FailThreadCreation() { m_bFailThreads = true; }
    void SetInputDevices(UINT ulCount) { m_ulInputDevices = ulCount; }
    void FailEventCreation() { m_bFailEvents = true; }
    // SetEvent fails from now on, leaving ulError as the last error.
    void FailSetEvent(DWORD ulError) { m_ulSetEventError = ulError; }
    FakeMixer& Mixer() { return m_stMixer; }
    FakeWaveOut& WaveOut() { return m_stWaveOut; }
    static const HWAVEOUT khFakeWaveOut;
    static constexpr size_t kulAll = static_cast<size_t>(-1);
    // The device finishes its ulCount oldest queued blocks: WHDR_DONE, then
    // WOM_DONE through the library's callback, on the calling thread.
    void CompleteWaveOut(size_t ulCount);
    size_t QueuedWaveOut();
    // Events and threads the library created and has not closed yet.
    size_t OpenHandles() const;
    static const HMIXER khFakeMixer;
    int ThreadsCreated() const { return m_iThreadsCreated; }

    // COM classes: CoCreateInstance answers through fnCreate for a class the
    // test provides, REGDB_E_CLASSNOTREG for any other.
    using ClassFactory = std::function<HRESULT(REFIID, void**)>;
    void ProvideClass(const CLSID& stClsid, ClassFactory fnCreate);
    struct CoCreateCall {
        CLSID stClsid;
        DWORD ulContext;
        IID stIid;
    };
    std::vector<CoCreateCall> CoCreateCalls() const;
    // Task memory the fakes hand out; the library frees it through the table
    // (CoTaskMemFree, PropVariantClear, MoFreeMediaType).
    static wchar_t* TaskText(const std::wstring& wstrText);
    size_t OutstandingTaskMemory() const;
    FakeTimer& Timer() { return m_stTimer; }
    FakeMediaTypes& MediaTypes() { return m_stMediaTypes; }
    std::vector<UINT> CodePages() const;  // of every WideCharToMultiByte
    int Sleeps(DWORD ulMs) const;         // calls to Sleep(ulMs); each still sleeps

    HWND DesktopWindow() const { return reinterpret_cast<HWND>(uintptr_t{0xD35C}); }

    static CFakePlatform& Current();

private:
    static HMODULE WINAPI LoadLibraryA(LPCSTR pszName);
    static FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR pszName);
    static BOOL WINAPI FreeLibrary(HMODULE hModule);
    static HWND WINAPI GetDesktopWindow();
    static void* Malloc(size_t ulSize);
    static void Free(void* p);
    static UINT WINAPI WaveInGetNumDevs();
    static HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
    static BOOL WINAPI SetEvent(HANDLE hEvent);
    static BOOL WINAPI CloseHandle(HANDLE hObject);
    void TrackHandle(HANDLE hObject);
    static DWORD WINAPI GetLastError();
    static MMRESULT WINAPI MixerOpen(LPHMIXER phMixer, UINT ulDevice, DWORD_PTR, DWORD_PTR,
                                     DWORD ulFlags);
    static MMRESULT WINAPI MixerClose(HMIXER hMixer);
    static MMRESULT WINAPI MixerGetDevCapsW(UINT_PTR, LPMIXERCAPSW, UINT);
    static MMRESULT WINAPI MixerGetLineInfoW(HMIXEROBJ, LPMIXERLINEW pstLine, DWORD ulFlags);
    static MMRESULT WINAPI MixerGetLineControlsW(HMIXEROBJ, LPMIXERLINECONTROLSW pstControls,
                                                 DWORD ulFlags);
    static MMRESULT WINAPI MixerGetControlDetailsW(HMIXEROBJ, LPMIXERCONTROLDETAILS pstDetails,
                                                   DWORD ulFlags);
    static MMRESULT WINAPI MixerSetControlDetails(HMIXEROBJ, LPMIXERCONTROLDETAILS pstDetails,
                                                  DWORD ulFlags);
    static UINT WINAPI WaveOutGetNumDevs();
    static MMRESULT WINAPI WaveOutOpen(LPHWAVEOUT phWaveOut, UINT ulDevice, LPCWAVEFORMATEX pstFormat,
                                       DWORD_PTR ulCallback, DWORD_PTR ulInstance, DWORD ulFlags);
    static MMRESULT WINAPI WaveOutPrepareHeader(HWAVEOUT, LPWAVEHDR pstHeader, UINT ulSize);
    static MMRESULT WINAPI WaveOutUnprepareHeader(HWAVEOUT, LPWAVEHDR pstHeader, UINT ulSize);
    static MMRESULT WINAPI WaveOutWrite(HWAVEOUT, LPWAVEHDR pstHeader, UINT ulSize);
    static MMRESULT WINAPI WaveOutReset(HWAVEOUT);
    static MMRESULT WINAPI WaveOutClose(HWAVEOUT);
    static HRESULT WINAPI CoCreateInstance(REFCLSID stClsid, LPUNKNOWN, DWORD ulContext,
                                           REFIID riid, LPVOID* ppv);
    void* TaskAlloc(size_t ulSize);
    static void WINAPI CoTaskMemFree(LPVOID pMemory);
    static HRESULT WINAPI PropVariantClear(PROPVARIANT* pstValue);
    static HRESULT WINAPI MoInitMediaType(DMO_MEDIA_TYPE* pstType, DWORD ulFormatBytes);
    static HRESULT WINAPI MoFreeMediaType(DMO_MEDIA_TYPE* pstType);
    static MMRESULT WINAPI TimeSetEvent(UINT ulDelay, UINT ulResolution, LPTIMECALLBACK pfnCallback,
                                        DWORD_PTR ulUser, UINT ulFlags);
    static MMRESULT WINAPI TimeKillEvent(UINT ulId);
    static MMRESULT WINAPI TimeBeginPeriod(UINT ulPeriod);
    static MMRESULT WINAPI TimeEndPeriod(UINT ulPeriod);
    static int WINAPI WideCharToMultiByte(UINT ulCodePage, DWORD ulFlags, LPCWCH pwszText, int iUnits,
                                          LPSTR pszOut, int iBytes, LPCCH pszDefault, LPBOOL pbUsed);
    static void WINAPI Sleep(DWORD ulMs);
    static uintptr_t BeginThreadEx(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                                   unsigned*);

    PlatformApi m_stApi;
    mutable std::mutex m_mtx;
    std::vector<std::string> m_vecModules;
    std::map<std::string, FARPROC> m_mapExports;
    std::vector<std::string> m_vecLoaded;
    std::atomic<int> m_iFreedModules{0};
    std::map<void*, size_t> m_mapAllocations;
    std::vector<size_t> m_vecAllocationSizes;
    int m_iFailAllocationIn = -1;
    bool m_bFailThreads = false;
    std::atomic<int> m_iThreadsCreated{0};
    std::atomic<UINT> m_ulInputDevices{1};
    bool m_bFailEvents = false;
    std::atomic<DWORD> m_ulSetEventError{0};
    FakeMixer m_stMixer;
    std::mutex m_mtxWaveOut;
    FakeWaveOut m_stWaveOut;
    std::vector<HANDLE> m_vecOpenHandles;
    std::vector<std::pair<CLSID, ClassFactory>> m_vecClasses;
    std::vector<CoCreateCall> m_vecCoCreateCalls;
    std::set<void*> m_setTaskMemory;
    FakeTimer m_stTimer;
    FakeMediaTypes m_stMediaTypes;
    std::vector<UINT> m_vecCodePages;
    std::map<DWORD, int> m_mapSleeps;
};

// Polls a condition that another thread makes true; false if it never did.
bool WaitUntil(const std::function<bool()>& fnCondition, DWORD ulTimeoutMs = 5000);

#endif
