#include "common/platform.h"

#include <process.h>

#include <cstdlib>

// mingw-w64's dmort.h lacks the C linkage block.
extern "C" {
#include <dmort.h>
}

namespace {

const PlatformApi sm_stRealPlatform = {
    &CreateEventW,
    &SetEvent,
    &CloseHandle,
    &WaitForSingleObject,
    &Sleep,
    &GetLastError,
    &LoadLibraryA,
    &GetProcAddress,
    &FreeLibrary,
    &DisableThreadLibraryCalls,
    &GetModuleHandleExW,
    &WideCharToMultiByte,

    &_beginthreadex,
    &malloc,
    &free,

    &GetDesktopWindow,

    &waveInGetNumDevs,
    &waveOutGetNumDevs,
    &waveOutOpen,
    &waveOutPrepareHeader,
    &waveOutUnprepareHeader,
    &waveOutWrite,
    &waveOutReset,
    &waveOutClose,
    &mixerOpen,
    &mixerClose,
    &mixerGetDevCapsW,
    &mixerGetLineInfoW,
    &mixerGetLineControlsW,
    &mixerGetControlDetailsW,
    &mixerSetControlDetails,
    &timeSetEvent,
    &timeKillEvent,
    &timeBeginPeriod,
    &timeEndPeriod,

    &CoCreateInstance,
    &CoTaskMemFree,
    &PropVariantClear,

    &MoInitMediaType,
    &MoFreeMediaType,
};

const PlatformApi* sm_pstPlatform = &sm_stRealPlatform;

}  // namespace

const PlatformApi& Platform()
{
    return *sm_pstPlatform;
}

const PlatformApi& PlatformDefaults()
{
    return sm_stRealPlatform;
}

void Platform_Install(const PlatformApi* pstApi)
{
    sm_pstPlatform = pstApi != nullptr ? pstApi : &sm_stRealPlatform;
}
