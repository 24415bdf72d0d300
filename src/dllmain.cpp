#include "common/platform.h"

// Loading and unloading do no work of the library's own; thread notifications
// are turned off since nothing here keeps per-thread state.
BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD ulReason, LPVOID)
{
    if (ulReason == DLL_PROCESS_ATTACH) {
        Platform().pfnDisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}
