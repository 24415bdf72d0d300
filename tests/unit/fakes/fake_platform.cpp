#include "fake_platform.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

namespace {
CFakePlatform* sm_pCurrent = nullptr;
}

const HMODULE CFakePlatform::khFakeModule = reinterpret_cast<HMODULE>(uintptr_t{0x5D0});
const HWAVEOUT CFakePlatform::khFakeWaveOut = reinterpret_cast<HWAVEOUT>(uintptr_t{0x3A7});
const HMIXER CFakePlatform::khFakeMixer = reinterpret_cast<HMIXER>(uintptr_t{0x313});

namespace {
constexpr DWORD kulDestinationLine = 0xD0;
constexpr DWORD kulFirstSourceLine = 0x100;
constexpr DWORD kulVolumeControl = 0xC7;
}  // namespace

CFakePlatform::CFakePlatform() : m_stApi(PlatformDefaults())
{
    if (sm_pCurrent != nullptr) {
        throw std::logic_error("one CFakePlatform at a time");
    }
    sm_pCurrent = this;
    m_stApi.pfnLoadLibraryA = &CFakePlatform::LoadLibraryA;
    m_stApi.pfnGetProcAddress = &CFakePlatform::GetProcAddress;
    m_stApi.pfnFreeLibrary = &CFakePlatform::FreeLibrary;
    m_stApi.pfnGetDesktopWindow = &CFakePlatform::GetDesktopWindow;
    m_stApi.pfnMalloc = &CFakePlatform::Malloc;
    m_stApi.pfnFree = &CFakePlatform::Free;
    m_stApi.pfnBeginThreadEx = &CFakePlatform::BeginThreadEx;
    m_stApi.pfnWaveInGetNumDevs = &CFakePlatform::WaveInGetNumDevs;
    m_stApi.pfnCreateEventW = &CFakePlatform::CreateEventW;
    m_stApi.pfnSetEvent = &CFakePlatform::SetEvent;
    m_stApi.pfnCloseHandle = &CFakePlatform::CloseHandle;
    m_stApi.pfnGetLastError = &CFakePlatform::GetLastError;
    m_stApi.pfnWaveOutGetNumDevs = &CFakePlatform::WaveOutGetNumDevs;
    m_stApi.pfnWaveOutOpen = &CFakePlatform::WaveOutOpen;
    m_stApi.pfnWaveOutPrepareHeader = &CFakePlatform::WaveOutPrepareHeader;
    m_stApi.pfnWaveOutUnprepareHeader = &CFakePlatform::WaveOutUnprepareHeader;
    m_stApi.pfnWaveOutWrite = &CFakePlatform::WaveOutWrite;
    m_stApi.pfnWaveOutReset = &CFakePlatform::WaveOutReset;
    m_stApi.pfnWaveOutClose = &CFakePlatform::WaveOutClose;
    m_stApi.pfnMixerOpen = &CFakePlatform::MixerOpen;
    m_stApi.pfnMixerClose = &CFakePlatform::MixerClose;
    m_stApi.pfnMixerGetDevCapsW = &CFakePlatform::MixerGetDevCapsW;
    m_stApi.pfnMixerGetLineInfoW = &CFakePlatform::MixerGetLineInfoW;
    m_stApi.pfnMixerGetLineControlsW = &CFakePlatform::MixerGetLineControlsW;
    m_stApi.pfnMixerGetControlDetailsW = &CFakePlatform::MixerGetControlDetailsW;
    m_stApi.pfnMixerSetControlDetails = &CFakePlatform::MixerSetControlDetails;
    m_stApi.pfnCoCreateInstance = &CFakePlatform::CoCreateInstance;
    m_stApi.pfnCoTaskMemFree = &CFakePlatform::CoTaskMemFree;
    m_stApi.pfnPropVariantClear = &CFakePlatform::PropVariantClear;
    m_stApi.pfnMoInitMediaType = &CFakePlatform::MoInitMediaType;
    m_stApi.pfnMoFreeMediaType = &CFakePlatform::MoFreeMediaType;
    m_stApi.pfnTimeSetEvent = &CFakePlatform::TimeSetEvent;
    m_stApi.pfnTimeKillEvent = &CFakePlatform::TimeKillEvent;
    m_stApi.pfnTimeBeginPeriod = &CFakePlatform::TimeBeginPeriod;
    m_stApi.pfnTimeEndPeriod = &CFakePlatform::TimeEndPeriod;
    m_stApi.pfnWideCharToMultiByte = &CFakePlatform::WideCharToMultiByte;
    m_stApi.pfnSleep = &CFakePlatform::Sleep;
    Platform_Install(&m_stApi);
}

CFakePlatform::~CFakePlatform()
{
    Platform_Install(nullptr);
    sm_pCurrent = nullptr;
}

CFakePlatform& CFakePlatform::Current()
{
    return *sm_pCurrent;
}

std::vector<std::string> CFakePlatform::LoadedModules() const
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_vecLoaded;
}

std::vector<size_t> CFakePlatform::AllocationSizes() const
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_vecAllocationSizes;
}

size_t CFakePlatform::OutstandingAllocations() const
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_mapAllocations.size();
}

HMODULE WINAPI CFakePlatform::LoadLibraryA(LPCSTR pszName)
{
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtx);
    oFake.m_vecLoaded.push_back(pszName);
    for (const std::string& strModule : oFake.m_vecModules) {
        if (strModule == pszName) {
            return khFakeModule;
        }
    }
    return nullptr;
}

FARPROC WINAPI CFakePlatform::GetProcAddress(HMODULE hModule, LPCSTR pszName)
{
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtx);
    const auto it = oFake.m_mapExports.find(pszName);
    return hModule == khFakeModule && it != oFake.m_mapExports.end() ? it->second : nullptr;
}

BOOL WINAPI CFakePlatform::FreeLibrary(HMODULE hModule)
{
    if (hModule != khFakeModule) {
        return FALSE;
    }
    ++Current().m_iFreedModules;
    return TRUE;
}

HWND WINAPI CFakePlatform::GetDesktopWindow()
{
    return Current().DesktopWindow();
}

void* CFakePlatform::Malloc(size_t ulSize)
{
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtx);
    oFake.m_vecAllocationSizes.push_back(ulSize);
    if (oFake.m_iFailAllocationIn >= 0 && oFake.m_iFailAllocationIn-- == 0) {
        return nullptr;
    }
    void* p = std::malloc(ulSize);
    oFake.m_mapAllocations[p] = ulSize;
    return p;
}

void CFakePlatform::Free(void* p)
{
    if (p == nullptr) {
        return;
    }
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtx);
    if (oFake.m_mapAllocations.erase(p) == 0) {
        std::fprintf(stderr, "freeing %p, which the platform did not hand out\n", p);
        std::abort();
    }
    std::free(p);
}

uintptr_t CFakePlatform::BeginThreadEx(void* pSecurity, unsigned ulStack,
                                       unsigned(__stdcall* pfnEntry)(void*), void* pArgument,
                                       unsigned ulFlags, unsigned* pulThreadId)
{
    CFakePlatform& oFake = Current();
    if (oFake.m_bFailThreads) {
        return 0;
    }
    ++oFake.m_iThreadsCreated;
    const uintptr_t ulThread = _beginthreadex(pSecurity, ulStack, pfnEntry, pArgument, ulFlags,
                                              pulThreadId);
    if (ulThread != 0) {
        oFake.TrackHandle(reinterpret_cast<HANDLE>(ulThread));
    }
    return ulThread;
}

UINT WINAPI CFakePlatform::WaveInGetNumDevs()
{
    return Current().m_ulInputDevices;
}

HANDLE WINAPI CFakePlatform::CreateEventW(LPSECURITY_ATTRIBUTES pSecurity, BOOL bManualReset,
                                          BOOL bInitialState, LPCWSTR pszName)
{
    CFakePlatform& oFake = Current();
    if (oFake.m_bFailEvents) {
        return nullptr;
    }
    HANDLE hEvent = ::CreateEventW(pSecurity, bManualReset, bInitialState, pszName);
    oFake.TrackHandle(hEvent);
    return hEvent;
}

void CFakePlatform::TrackHandle(HANDLE hObject)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    m_vecOpenHandles.push_back(hObject);
}

size_t CFakePlatform::OpenHandles() const
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_vecOpenHandles.size();
}

BOOL WINAPI CFakePlatform::CloseHandle(HANDLE hObject)
{
    CFakePlatform& oFake = Current();
    {
        std::lock_guard<std::mutex> oLock(oFake.m_mtx);
        auto& vecOpen = oFake.m_vecOpenHandles;
        const auto it = std::find(vecOpen.begin(), vecOpen.end(), hObject);
        if (it == vecOpen.end()) {
            std::fprintf(stderr, "closing %p, which the library did not create\n", hObject);
            std::abort();
        }
        vecOpen.erase(it);
    }
    return ::CloseHandle(hObject);
}

BOOL WINAPI CFakePlatform::SetEvent(HANDLE hEvent)
{
    return Current().m_ulSetEventError != 0 ? FALSE : ::SetEvent(hEvent);
}

DWORD WINAPI CFakePlatform::GetLastError()
{
    const DWORD ulError = Current().m_ulSetEventError;
    return ulError != 0 ? ulError : ::GetLastError();
}

MMRESULT WINAPI CFakePlatform::MixerOpen(LPHMIXER phMixer, UINT ulDevice, DWORD_PTR, DWORD_PTR,
                                         DWORD ulFlags)
{
    FakeMixer& stMixer = Current().m_stMixer;
    stMixer.ulOpenedDevice = ulDevice;
    stMixer.ulOpenFlags = ulFlags;
    if (stMixer.mrOpen != MMSYSERR_NOERROR) {
        return stMixer.mrOpen;
    }
    ++stMixer.iOpens;
    *phMixer = khFakeMixer;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI CFakePlatform::MixerClose(HMIXER hMixer)
{
    FakeMixer& stMixer = Current().m_stMixer;
    if (hMixer != khFakeMixer) {
        return MMSYSERR_INVALHANDLE;
    }
    ++stMixer.iCloses;  // the handle is gone whatever the result says
    return stMixer.mrClose;
}

MMRESULT WINAPI CFakePlatform::MixerGetDevCapsW(UINT_PTR ulMixer, LPMIXERCAPSW, UINT)
{
    return ulMixer == reinterpret_cast<UINT_PTR>(khFakeMixer) ? Current().m_stMixer.mrCaps
                                                              : MMSYSERR_BADDEVICEID;
}

MMRESULT WINAPI CFakePlatform::MixerGetLineInfoW(HMIXEROBJ hMixer, LPMIXERLINEW pstLine,
                                                 DWORD ulFlags)
{
    FakeMixer& stMixer = Current().m_stMixer;
    if (hMixer != reinterpret_cast<HMIXEROBJ>(khFakeMixer) ||
        (ulFlags & MIXER_OBJECTF_HMIXER) != MIXER_OBJECTF_HMIXER ||
        pstLine->cbStruct != sizeof *pstLine) {
        return MMSYSERR_INVALPARAM;
    }
    const DWORD ulQuery = ulFlags & MIXER_GETLINEINFOF_QUERYMASK;
    if (ulQuery == MIXER_GETLINEINFOF_COMPONENTTYPE &&
        pstLine->dwComponentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN) {
        if (stMixer.mrDestination != MMSYSERR_NOERROR) {
            return stMixer.mrDestination;
        }
        pstLine->dwDestination = 1;
        pstLine->dwLineID = kulDestinationLine;
        pstLine->cConnections = static_cast<DWORD>(stMixer.vecSources.size());
        return MMSYSERR_NOERROR;
    }
    if (ulQuery == MIXER_GETLINEINFOF_SOURCE && pstLine->dwDestination == 1 &&
        pstLine->dwSource < stMixer.vecSources.size() &&
        stMixer.vecSources[pstLine->dwSource] != 0) {
        pstLine->dwComponentType = stMixer.vecSources[pstLine->dwSource];
        pstLine->dwLineID = kulFirstSourceLine + pstLine->dwSource;
        return MMSYSERR_NOERROR;
    }
    return MIXERR_INVALLINE;
}

MMRESULT WINAPI CFakePlatform::MixerGetLineControlsW(HMIXEROBJ hMixer,
                                                     LPMIXERLINECONTROLSW pstControls, DWORD ulFlags)
{
    FakeMixer& stMixer = Current().m_stMixer;
    if (hMixer != reinterpret_cast<HMIXEROBJ>(khFakeMixer) ||
        ulFlags != (MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) ||
        pstControls->dwControlType != MIXERCONTROL_CONTROLTYPE_VOLUME || pstControls->cControls != 1 ||
        pstControls->cbmxctrl != sizeof(MIXERCONTROLW)) {
        return MMSYSERR_INVALPARAM;
    }
    stMixer.ulControlLine = pstControls->dwLineID;
    if (stMixer.mrControls != MMSYSERR_NOERROR) {
        return stMixer.mrControls;
    }
    pstControls->pamxctrl->dwControlID = kulVolumeControl;
    return MMSYSERR_NOERROR;
}

namespace {

// A request for the volume control's single unsigned value.
bool IsVolumeRequest(HMIXEROBJ hMixer, const MIXERCONTROLDETAILS* pstDetails)
{
    return hMixer == reinterpret_cast<HMIXEROBJ>(CFakePlatform::khFakeMixer) &&
           pstDetails->cbStruct == sizeof *pstDetails && pstDetails->dwControlID == kulVolumeControl &&
           pstDetails->cChannels == 1 && pstDetails->cMultipleItems == 0 &&
           pstDetails->cbDetails == sizeof(MIXERCONTROLDETAILS_UNSIGNED);
}

}  // namespace

MMRESULT WINAPI CFakePlatform::MixerGetControlDetailsW(HMIXEROBJ hMixer,
                                                       LPMIXERCONTROLDETAILS pstDetails, DWORD ulFlags)
{
    FakeMixer& stMixer = Current().m_stMixer;
    stMixer.vecDetailsFlags.push_back(ulFlags);
    if (!IsVolumeRequest(hMixer, pstDetails)) {
        return MMSYSERR_INVALPARAM;
    }
    if (stMixer.mrGetDetails != MMSYSERR_NOERROR) {
        return stMixer.mrGetDetails;
    }
    static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(pstDetails->paDetails)->dwValue = stMixer.ulValue;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI CFakePlatform::MixerSetControlDetails(HMIXEROBJ hMixer,
                                                      LPMIXERCONTROLDETAILS pstDetails, DWORD ulFlags)
{
    FakeMixer& stMixer = Current().m_stMixer;
    stMixer.vecDetailsFlags.push_back(ulFlags);
    if (!IsVolumeRequest(hMixer, pstDetails)) {
        return MMSYSERR_INVALPARAM;
    }
    if (stMixer.mrSetDetails != MMSYSERR_NOERROR) {
        return stMixer.mrSetDetails;
    }
    stMixer.ulValue = static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(pstDetails->paDetails)->dwValue;
    return MMSYSERR_NOERROR;
}

UINT WINAPI CFakePlatform::WaveOutGetNumDevs()
{
    return Current().m_stWaveOut.ulDevices;
}

MMRESULT WINAPI CFakePlatform::WaveOutOpen(LPHWAVEOUT phWaveOut, UINT ulDevice,
                                           LPCWAVEFORMATEX pstFormat, DWORD_PTR ulCallback,
                                           DWORD_PTR ulInstance, DWORD ulFlags)
{
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtxWaveOut);
    FakeWaveOut& stDevice = oFake.m_stWaveOut;
    stDevice.ulDeviceId = ulDevice;
    stDevice.stFormat = *pstFormat;
    stDevice.ulCallback = ulCallback;
    stDevice.ulInstance = ulInstance;
    stDevice.ulOpenFlags = ulFlags;
    if (stDevice.mrOpen != MMSYSERR_NOERROR) {
        return stDevice.mrOpen;
    }
    ++stDevice.iOpens;
    *phWaveOut = khFakeWaveOut;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI CFakePlatform::WaveOutPrepareHeader(HWAVEOUT hWaveOut, LPWAVEHDR pstHeader,
                                                    UINT ulSize)
{
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtxWaveOut);
    if (hWaveOut != khFakeWaveOut || ulSize != sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    if (oFake.m_stWaveOut.mrPrepare != MMSYSERR_NOERROR) {
        return oFake.m_stWaveOut.mrPrepare;
    }
    pstHeader->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI CFakePlatform::WaveOutUnprepareHeader(HWAVEOUT hWaveOut, LPWAVEHDR pstHeader,
                                                      UINT ulSize)
{
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtxWaveOut);
    if (hWaveOut != khFakeWaveOut || ulSize != sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    if (oFake.m_stWaveOut.mrUnprepare != MMSYSERR_NOERROR) {
        return oFake.m_stWaveOut.mrUnprepare;
    }
    if ((pstHeader->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    pstHeader->dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI CFakePlatform::WaveOutWrite(HWAVEOUT hWaveOut, LPWAVEHDR pstHeader, UINT ulSize)
{
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtxWaveOut);
    FakeWaveOut& stDevice = oFake.m_stWaveOut;
    if (hWaveOut != khFakeWaveOut || ulSize != sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    if ((pstHeader->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    if (stDevice.mrWrite != MMSYSERR_NOERROR) {
        return stDevice.mrWrite;
    }
    pstHeader->dwFlags = (pstHeader->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
    const auto* pucData = reinterpret_cast<const uint8_t*>(pstHeader->lpData);
    stDevice.vecWritten.emplace_back(pucData, pucData + pstHeader->dwBufferLength);
    stDevice.vecQueued.push_back(pstHeader);
    return MMSYSERR_NOERROR;
}

void CFakePlatform::CompleteWaveOut(size_t ulCount)
{
    std::vector<WAVEHDR*> vecDone;
    DWORD_PTR ulCallback = 0;
    DWORD_PTR ulInstance = 0;
    {
        std::lock_guard<std::mutex> oLock(m_mtxWaveOut);
        auto& vecQueued = m_stWaveOut.vecQueued;
        ulCount = std::min(ulCount, vecQueued.size());
        vecDone.assign(vecQueued.begin(), vecQueued.begin() + static_cast<ptrdiff_t>(ulCount));
        vecQueued.erase(vecQueued.begin(), vecQueued.begin() + static_cast<ptrdiff_t>(ulCount));
        for (WAVEHDR* pstHeader : vecDone) {
            pstHeader->dwFlags = (pstHeader->dwFlags & ~static_cast<DWORD>(WHDR_INQUEUE)) | WHDR_DONE;
        }
        ulCallback = m_stWaveOut.ulCallback;
        ulInstance = m_stWaveOut.ulInstance;
    }
    for (WAVEHDR* pstHeader : vecDone) {
        reinterpret_cast<LPWAVECALLBACK>(ulCallback)(reinterpret_cast<HDRVR>(khFakeWaveOut), WOM_DONE,
                                                     ulInstance, reinterpret_cast<DWORD_PTR>(pstHeader), 0);
    }
}

size_t CFakePlatform::QueuedWaveOut()
{
    std::lock_guard<std::mutex> oLock(m_mtxWaveOut);
    return m_stWaveOut.vecQueued.size();
}

MMRESULT WINAPI CFakePlatform::WaveOutReset(HWAVEOUT hWaveOut)
{
    CFakePlatform& oFake = Current();
    if (hWaveOut != khFakeWaveOut) {
        return MMSYSERR_INVALHANDLE;
    }
    {
        std::lock_guard<std::mutex> oLock(oFake.m_mtxWaveOut);
        if (oFake.m_stWaveOut.mrReset != MMSYSERR_NOERROR) {
            return oFake.m_stWaveOut.mrReset;
        }
    }
    // Every queued block comes back, each with its WOM_DONE.
    oFake.CompleteWaveOut(CFakePlatform::kulAll);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI CFakePlatform::WaveOutClose(HWAVEOUT hWaveOut)
{
    CFakePlatform& oFake = Current();
    std::lock_guard<std::mutex> oLock(oFake.m_mtxWaveOut);
    FakeWaveOut& stDevice = oFake.m_stWaveOut;
    if (hWaveOut != khFakeWaveOut) {
        return MMSYSERR_INVALHANDLE;
    }
    if (stDevice.mrClose != MMSYSERR_NOERROR) {
        return stDevice.mrClose;
    }
    if (!stDevice.vecQueued.empty()) {
        return WAVERR_STILLPLAYING;
    }
    ++stDevice.iCloses;
    return MMSYSERR_NOERROR;
}

void CFakePlatform::ProvideClass(const CLSID& stClsid, ClassFactory fnCreate)
{
    m_vecClasses.emplace_back(stClsid, std::move(fnCreate));
}

std::vector<CFakePlatform::CoCreateCall> CFakePlatform::CoCreateCalls() const
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_vecCoCreateCalls;
}

HRESULT WINAPI CFakePlatform::CoCreateInstance(REFCLSID stClsid, LPUNKNOWN, DWORD ulContext,
                                               REFIID riid, LPVOID* ppv)
{
    CFakePlatform& oFake = Current();
    {
        std::lock_guard<std::mutex> oLock(oFake.m_mtx);
        oFake.m_vecCoCreateCalls.push_back({stClsid, ulContext, riid});
    }
    *ppv = nullptr;
    for (const auto& stClass : oFake.m_vecClasses) {
        if (stClass.first == stClsid) {
            return stClass.second(riid, ppv);
        }
    }
    return REGDB_E_CLASSNOTREG;
}

void* CFakePlatform::TaskAlloc(size_t ulSize)
{
    void* p = ::CoTaskMemAlloc(ulSize);
    std::lock_guard<std::mutex> oLock(m_mtx);
    m_setTaskMemory.insert(p);
    return p;
}

wchar_t* CFakePlatform::TaskText(const std::wstring& wstrText)
{
    const size_t ulBytes = (wstrText.size() + 1) * sizeof(wchar_t);
    auto* pwszText = static_cast<wchar_t*>(Current().TaskAlloc(ulBytes));
    std::copy(wstrText.c_str(), wstrText.c_str() + wstrText.size() + 1, pwszText);
    return pwszText;
}

size_t CFakePlatform::OutstandingTaskMemory() const
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_setTaskMemory.size();
}

void WINAPI CFakePlatform::CoTaskMemFree(LPVOID pMemory)
{
    if (pMemory == nullptr) {
        return;
    }
    CFakePlatform& oFake = Current();
    {
        std::lock_guard<std::mutex> oLock(oFake.m_mtx);
        if (oFake.m_setTaskMemory.erase(pMemory) == 0) {
            std::fprintf(stderr, "task-freeing %p, which no fake handed out\n", pMemory);
            std::abort();
        }
    }
    ::CoTaskMemFree(pMemory);
}

HRESULT WINAPI CFakePlatform::PropVariantClear(PROPVARIANT* pstValue)
{
    if (pstValue->vt == VT_LPWSTR) {
        CoTaskMemFree(pstValue->pwszVal);
        PropVariantInit(pstValue);
        return S_OK;
    }
    return ::PropVariantClear(pstValue);
}

HRESULT WINAPI CFakePlatform::MoInitMediaType(DMO_MEDIA_TYPE* pstType, DWORD ulFormatBytes)
{
    FakeMediaTypes& stTypes = Current().m_stMediaTypes;
    if (FAILED(stTypes.hrInit)) {
        return stTypes.hrInit;
    }
    ++stTypes.iInits;
    *pstType = {};
    pstType->cbFormat = ulFormatBytes;
    pstType->pbFormat = static_cast<BYTE*>(Current().TaskAlloc(ulFormatBytes));
    return S_OK;
}

HRESULT WINAPI CFakePlatform::MoFreeMediaType(DMO_MEDIA_TYPE* pstType)
{
    ++Current().m_stMediaTypes.iFrees;
    CoTaskMemFree(std::exchange(pstType->pbFormat, nullptr));
    pstType->cbFormat = 0;
    if (pstType->pUnk != nullptr) {
        std::exchange(pstType->pUnk, nullptr)->Release();
    }
    return S_OK;
}

MMRESULT WINAPI CFakePlatform::TimeSetEvent(UINT ulDelay, UINT ulResolution,
                                            LPTIMECALLBACK pfnCallback, DWORD_PTR ulUser,
                                            UINT ulFlags)
{
    FakeTimer& stTimer = Current().m_stTimer;
    char szCall[48];
    std::snprintf(szCall, sizeof szCall, "set %u %u 0x%x", ulDelay, ulResolution, ulFlags);
    stTimer.vecCalls.push_back(szCall);
    if (stTimer.bFailSet) {
        return 0;
    }
    stTimer.pfnCallback = pfnCallback;
    stTimer.ulUser = ulUser;
    return ++stTimer.ulId;
}

MMRESULT WINAPI CFakePlatform::TimeKillEvent(UINT ulId)
{
    FakeTimer& stTimer = Current().m_stTimer;
    stTimer.vecCalls.push_back("kill " + std::to_string(ulId));
    if (stTimer.fnOnKill) {
        stTimer.fnOnKill();
    }
    return TIMERR_NOERROR;
}

MMRESULT WINAPI CFakePlatform::TimeBeginPeriod(UINT ulPeriod)
{
    Current().m_stTimer.vecCalls.push_back("begin " + std::to_string(ulPeriod));
    return TIMERR_NOERROR;
}

MMRESULT WINAPI CFakePlatform::TimeEndPeriod(UINT ulPeriod)
{
    Current().m_stTimer.vecCalls.push_back("end " + std::to_string(ulPeriod));
    return TIMERR_NOERROR;
}

int WINAPI CFakePlatform::WideCharToMultiByte(UINT ulCodePage, DWORD ulFlags, LPCWCH pwszText,
                                              int iUnits, LPSTR pszOut, int iBytes,
                                              LPCCH pszDefault, LPBOOL pbUsed)
{
    {
        CFakePlatform& oFake = Current();
        std::lock_guard<std::mutex> oLock(oFake.m_mtx);
        oFake.m_vecCodePages.push_back(ulCodePage);
    }
    return ::WideCharToMultiByte(ulCodePage, ulFlags, pwszText, iUnits, pszOut, iBytes, pszDefault,
                                 pbUsed);
}

std::vector<UINT> CFakePlatform::CodePages() const
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_vecCodePages;
}

void WINAPI CFakePlatform::Sleep(DWORD ulMs)
{
    {
        CFakePlatform& oFake = Current();
        std::lock_guard<std::mutex> oLock(oFake.m_mtx);
        ++oFake.m_mapSleeps[ulMs];
    }
    ::Sleep(ulMs);
}

int CFakePlatform::Sleeps(DWORD ulMs) const
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    const auto it = m_mapSleeps.find(ulMs);
    return it != m_mapSleeps.end() ? it->second : 0;
}

bool WaitUntil(const std::function<bool()>& fnCondition, DWORD ulTimeoutMs)
{
    const ULONGLONG ullDeadline = GetTickCount64() + ulTimeoutMs;
    while (!fnCondition()) {
        if (GetTickCount64() > ullDeadline) {
            return false;
        }
        Sleep(1);
    }
    return true;
}
