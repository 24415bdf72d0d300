// Figures for one tick of the echo-cancelling engine: the time it takes and
// what it allocates, with a streaming test DSP standing in for the platform's
// (Wine has none). The endpoint count each pass makes goes to the platform's
// real device enumerator, then to a counted stand-in, so the two costs show
// apart. Prints figures; asserts nothing.
#include <windows.h>
#include <mediaobj.h>
#include <propsys.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <new>

#include "aec/aec_ids.h"
#include "aec/aec_mic_array_capture.h"
#include "common/platform.h"

namespace {

#define BENCH_STUB(name, args) \
    HRESULT STDMETHODCALLTYPE name args override { return E_NOTIMPL; }

// A DSP that always has 10 ms of 16 kHz mono ready, as a running one does,
// and accepts every setting. One object for the whole run.
class CStreamingVoiceDsp final : public IMediaObject, public IPropertyStore {
public:
    static constexpr DWORD kulBytesPerPull = 320;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == kIidPropertyStore ? static_cast<IPropertyStore*>(this)
                                         : static_cast<void*>(static_cast<IMediaObject*>(this));
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD, DWORD, DMO_OUTPUT_DATA_BUFFER* pstBuffers,
                                            DWORD*) override
    {
        BYTE* pucData = nullptr;
        DWORD ulMax = 0;
        pstBuffers[0].pBuffer->GetMaxLength(&ulMax);
        pstBuffers[0].pBuffer->GetBufferAndLength(&pucData, nullptr);
        const DWORD ulBytes = std::min(kulBytesPerPull, ulMax);
        std::memset(pucData, 0x55, ulBytes);
        return pstBuffers[0].pBuffer->SetLength(ulBytes);
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY, PROPVARIANT* pstValue) override
    {
        PropVariantInit(pstValue);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD, const DMO_MEDIA_TYPE*, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AllocateStreamingResources() override { return S_OK; }
    BENCH_STUB(GetStreamCount, (DWORD*, DWORD*)) BENCH_STUB(GetInputStreamInfo, (DWORD, DWORD*))
    BENCH_STUB(GetOutputStreamInfo, (DWORD, DWORD*)) BENCH_STUB(GetInputType, (DWORD, DWORD, DMO_MEDIA_TYPE*))
    BENCH_STUB(GetOutputType, (DWORD, DWORD, DMO_MEDIA_TYPE*)) BENCH_STUB(Flush, ())
    BENCH_STUB(SetInputType, (DWORD, const DMO_MEDIA_TYPE*, DWORD)) BENCH_STUB(FreeStreamingResources, ())
    BENCH_STUB(GetInputCurrentType, (DWORD, DMO_MEDIA_TYPE*)) BENCH_STUB(Discontinuity, (DWORD))
    BENCH_STUB(GetOutputCurrentType, (DWORD, DMO_MEDIA_TYPE*)) BENCH_STUB(Lock, (LONG))
    BENCH_STUB(GetInputSizeInfo, (DWORD, DWORD*, DWORD*, DWORD*)) BENCH_STUB(GetOutputSizeInfo, (DWORD, DWORD*, DWORD*))
    BENCH_STUB(GetInputMaxLatency, (DWORD, REFERENCE_TIME*)) BENCH_STUB(SetInputMaxLatency, (DWORD, REFERENCE_TIME))
    BENCH_STUB(GetInputStatus, (DWORD, DWORD*))
    BENCH_STUB(ProcessInput, (DWORD, IMediaBuffer*, DWORD, REFERENCE_TIME, REFERENCE_TIME))
    BENCH_STUB(GetCount, (DWORD*)) BENCH_STUB(GetAt, (DWORD, PROPERTYKEY*)) BENCH_STUB(Commit, ())
};

CStreamingVoiceDsp sm_oDsp;

std::atomic<long> sm_lHeapAllocations{0};
std::atomic<long> sm_lPlatformAllocations{0};
bool sm_bRealCount = true;

// A sink that only counts, as cheap as a host's callback can be.
class CCountingSink : public IAecCaptureEvent {
public:
    uint32_t OnCaptureData(const uint8_t*, uint32_t ulLength, uint32_t, uint32_t) override
    {
        m_ullBytes += ulLength;
        return 0;
    }
    uint32_t OnMicDisConnect() override { return 0; }
    unsigned long long m_ullBytes = 0;
};

void* CountedMalloc(size_t ulSize)
{
    ++sm_lPlatformAllocations;
    return std::malloc(ulSize);
}

// The DSP class goes to the test DSP; with sm_bRealCount off, the enumerator
// is refused too, so each pass carries on without a count (no enumerator cost).
HRESULT WINAPI RoutedCoCreateInstance(REFCLSID rclsid, LPUNKNOWN pOuter, DWORD ulContext,
                                      REFIID riid, LPVOID* ppv)
{
    if (rclsid == kClsidWMAudioAec) {
        return sm_oDsp.QueryInterface(riid, ppv);
    }
    if (!sm_bRealCount && rclsid == kClsidMMDeviceEnumerator) {
        return REGDB_E_CLASSNOTREG;
    }
    return CoCreateInstance(rclsid, pOuter, ulContext, riid, ppv);
}

double MeasureTicks(CAecMicArrayCapture& oEngine, int iTicks, long* plHeap, long* plPlatform)
{
    LARGE_INTEGER stFrequency, stFrom, stTo;
    QueryPerformanceFrequency(&stFrequency);
    const long lHeapBefore = sm_lHeapAllocations;
    const long lPlatformBefore = sm_lPlatformAllocations;
    QueryPerformanceCounter(&stFrom);
    for (int i = 0; i < iTicks; ++i) {
        oEngine.ProcessCapture();
    }
    QueryPerformanceCounter(&stTo);
    *plHeap = sm_lHeapAllocations - lHeapBefore;
    *plPlatform = sm_lPlatformAllocations - lPlatformBefore;
    return static_cast<double>(stTo.QuadPart - stFrom.QuadPart) * 1e6 /
           static_cast<double>(stFrequency.QuadPart) / iTicks;
}

}  // namespace

// Every C++ allocation in this process is counted, the library's included.
void* operator new(size_t ulSize)
{
    ++sm_lHeapAllocations;
    if (void* p = std::malloc(ulSize)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}

int main()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    PlatformApi stApi = PlatformDefaults();
    stApi.pfnCoCreateInstance = &RoutedCoCreateInstance;
    stApi.pfnMalloc = &CountedMalloc;
    Platform_Install(&stApi);
    {
        CAecMicArrayCapture oEngine;
        CCountingSink oSink;
        oEngine.EnumDevices();
        oEngine.SetCaptureDeviceIndex(0);
        oEngine.SetAecMode(0, 16000);
        oEngine.AddEventSink(&oSink);
        const uint32_t ulInit = oEngine.Init(1, 16000, 16, 0);
        std::printf("engine Init -> 0x%x; %u capture and %u render endpoints under Wine\n", ulInit,
                    oEngine.GetCaptureDeviceCount(), oEngine.GetRenderDeviceCount());
        oEngine.ProcessCapture();  // first use of everything out of the way

        const int kiTicks = 2000;
        long lHeap = 0;
        long lPlatform = 0;
        const double dWithCount = MeasureTicks(oEngine, kiTicks, &lHeap, &lPlatform);
        std::printf("one tick with the platform's endpoint count: %8.1f us; per tick %.2f C++ and "
                    "%.2f library allocations\n",
                    dWithCount, double(lHeap) / kiTicks, double(lPlatform) / kiTicks);
        sm_bRealCount = false;
        const double dWithoutCount = MeasureTicks(oEngine, kiTicks, &lHeap, &lPlatform);
        std::printf("one tick without it (the engine's own work):  %8.1f us; per tick %.2f C++ and "
                    "%.2f library allocations\n",
                    dWithoutCount, double(lHeap) / kiTicks, double(lPlatform) / kiTicks);
        std::printf("(%d ticks each, %u bytes delivered per tick; the enumerator's own allocations "
                    "are Wine's and not counted here)\n",
                    kiTicks, static_cast<unsigned>(CStreamingVoiceDsp::kulBytesPerPull));
    }
    Platform_Install(nullptr);
    CoUninitialize();
    return 0;
}
