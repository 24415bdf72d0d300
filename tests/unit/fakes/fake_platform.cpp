#include "fake_platform.h"

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {
CFakePlatform* sm_pCurrent = nullptr;
}

const HMODULE CFakePlatform::khFakeModule = reinterpret_cast<HMODULE>(uintptr_t{0x5D0});

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
    return _beginthreadex(pSecurity, ulStack, pfnEntry, pArgument, ulFlags, pulThreadId);
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
