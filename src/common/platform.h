// Every call the library makes into the platform goes through this table.
// It holds the real functions unless a test installs a table of its own, which
// is the one seam the unit tests use to script results and record calls.
#ifndef VOCORA_COMMON_PLATFORM_H
#define VOCORA_COMMON_PLATFORM_H

#include <windows.h>
#include <mmsystem.h>
#include <mediaobj.h>
#include <objbase.h>
#include <propidl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

struct PlatformApi {
    // kernel32
    HANDLE(WINAPI* pfnCreateEventW)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
    BOOL(WINAPI* pfnSetEvent)(HANDLE);
    BOOL(WINAPI* pfnCloseHandle)(HANDLE);
    DWORD(WINAPI* pfnWaitForSingleObject)(HANDLE, DWORD);
    void(WINAPI* pfnSleep)(DWORD);
    DWORD(WINAPI* pfnGetLastError)();
    HMODULE(WINAPI* pfnLoadLibraryA)(LPCSTR);
    FARPROC(WINAPI* pfnGetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* pfnFreeLibrary)(HMODULE);
    BOOL(WINAPI* pfnDisableThreadLibraryCalls)(HMODULE);
    BOOL(WINAPI* pfnGetModuleHandleExW)(DWORD, LPCWSTR, HMODULE*);
    int(WINAPI* pfnWideCharToMultiByte)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);

    // C runtime
    uintptr_t (*pfnBeginThreadEx)(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                                  unsigned*);
    void* (*pfnMalloc)(size_t);
    void (*pfnFree)(void*);

    // user32
    HWND(WINAPI* pfnGetDesktopWindow)();

    // winmm: device census, waveOut, mixer, timers
    UINT(WINAPI* pfnWaveInGetNumDevs)();
    UINT(WINAPI* pfnWaveOutGetNumDevs)();
    MMRESULT(WINAPI* pfnWaveOutOpen)(LPHWAVEOUT, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR,
                                     DWORD);
    MMRESULT(WINAPI* pfnWaveOutPrepareHeader)(HWAVEOUT, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* pfnWaveOutUnprepareHeader)(HWAVEOUT, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* pfnWaveOutWrite)(HWAVEOUT, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* pfnWaveOutReset)(HWAVEOUT);
    MMRESULT(WINAPI* pfnWaveOutClose)(HWAVEOUT);
    MMRESULT(WINAPI* pfnMixerOpen)(LPHMIXER, UINT, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT(WINAPI* pfnMixerClose)(HMIXER);
    MMRESULT(WINAPI* pfnMixerGetDevCapsW)(UINT_PTR, LPMIXERCAPSW, UINT);
    MMRESULT(WINAPI* pfnMixerGetLineInfoW)(HMIXEROBJ, LPMIXERLINEW, DWORD);
    MMRESULT(WINAPI* pfnMixerGetLineControlsW)(HMIXEROBJ, LPMIXERLINECONTROLSW, DWORD);
    MMRESULT(WINAPI* pfnMixerGetControlDetailsW)(HMIXEROBJ, LPMIXERCONTROLDETAILS, DWORD);
    MMRESULT(WINAPI* pfnMixerSetControlDetails)(HMIXEROBJ, LPMIXERCONTROLDETAILS, DWORD);
    MMRESULT(WINAPI* pfnTimeSetEvent)(UINT, UINT, LPTIMECALLBACK, DWORD_PTR, UINT);
    MMRESULT(WINAPI* pfnTimeKillEvent)(UINT);
    MMRESULT(WINAPI* pfnTimeBeginPeriod)(UINT);
    MMRESULT(WINAPI* pfnTimeEndPeriod)(UINT);

    // COM
    HRESULT(WINAPI* pfnCoCreateInstance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
    void(WINAPI* pfnCoTaskMemFree)(LPVOID);
    HRESULT(WINAPI* pfnPropVariantClear)(PROPVARIANT*);

    // msdmo
    HRESULT(WINAPI* pfnMoInitMediaType)(DMO_MEDIA_TYPE*, DWORD);
    HRESULT(WINAPI* pfnMoFreeMediaType)(DMO_MEDIA_TYPE*);
};

// The table in force.
const PlatformApi& Platform();

// The real functions; a test copies this and replaces what it fakes.
const PlatformApi& PlatformDefaults();

// Installs pstApi (which must outlive its use), or the real functions for null.
// Only while no library thread is running.
void Platform_Install(const PlatformApi* pstApi);

// Objects and buffers come from the platform's allocator without throwing, so
// that a failed allocation is an ordinary result, and one tests can provoke.
class CPlatformAllocated {
public:
    static void* operator new(size_t ulSize, const std::nothrow_t&) noexcept
    {
        return Platform().pfnMalloc(ulSize);
    }
    static void operator delete(void* pObject) noexcept { Platform().pfnFree(pObject); }
    static void operator delete(void* pObject, const std::nothrow_t&) noexcept
    {
        Platform().pfnFree(pObject);
    }
    static void* operator new(size_t) = delete;
};

struct PlatformFree {
    void operator()(uint8_t* pucBuffer) const { Platform().pfnFree(pucBuffer); }
};
using CPlatformBuffer = std::unique_ptr<uint8_t[], PlatformFree>;

// Empty when the allocation fails.
inline CPlatformBuffer AllocatePlatformBuffer(size_t ulSize)
{
    return CPlatformBuffer(static_cast<uint8_t*>(Platform().pfnMalloc(ulSize)));
}

#endif
