#include "aec/aec_mic_array_capture.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

#include "aec/aec_ids.h"
#include "common/com_ptr.h"

// mingw-w64's dmort.h lacks the C linkage block.
extern "C" {
#include <dmort.h>
}

namespace {

constexpr uint32_t kulInvalidArgument = 2;
constexpr DWORD kulOutputIncomplete = DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;

// Records from the platform's allocator, zero-filled; null for none.
AecEndpointInfo* AllocateRecords(uint32_t ulCount)
{
    if (ulCount == 0) {
        return nullptr;
    }
    const size_t ulBytes = sizeof(AecEndpointInfo) * ulCount;
    auto* pstRecords = static_cast<AecEndpointInfo*>(Platform().pfnMalloc(ulBytes));
    if (pstRecords != nullptr) {
        std::memset(pstRecords, 0, ulBytes);
    }
    return pstRecords;
}

void FreeRecords(AecEndpointInfo*& pstRecords)
{
    Platform().pfnFree(pstRecords);
    pstRecords = nullptr;
}

// Rebuilds one endpoint list; the count stays when it cannot be read.
void BuildList(EDataFlow eFlow, AecEndpointInfo*& pstRecords, uint32_t& ulCount)
{
    FreeRecords(pstRecords);
    CountEndpoints(eFlow, &ulCount);
    pstRecords = AllocateRecords(ulCount);
    if (pstRecords == nullptr) {
        ulCount = 0;
        return;
    }
    ListEndpoints(eFlow, ulCount, pstRecords);
}

// A name in the calling thread's ANSI code page, in a buffer of twice the
// name's UTF-16 length (terminator included): a name that needs more fails.
class CAnsiName {
public:
    explicit CAnsiName(const wchar_t* pwszName)
    {
        const size_t ulUnits = std::wcslen(pwszName) + 1;
        if (ulUnits <= sizeof m_szText / 2) {
            m_pszText = WideToAnsi(m_szText, pwszName, static_cast<uint32_t>(ulUnits * 2),
                                   CP_THREAD_ACP);
        }
    }

    // Null when the name could not be converted.
    const char* Text() const { return m_pszText; }

private:
    char m_szText[2 * kulEndpointTextUnits] = {};
    const char* m_pszText = nullptr;
};

}  // namespace

CAecMicArrayCapture::CAecMicArrayCapture()
    : m_pucOutputBuffer(AllocatePlatformBuffer(kulOutputBufferSize))
{
    m_stOutputDataBuffer.pBuffer = &m_oMediaBuffer;
    m_stOutputDataBuffer.dwStatus = 0;
}

CAecMicArrayCapture::~CAecMicArrayCapture()
{
    // The timer goes first: no tick may run while anything below is released.
    try {
        Stop();
    } catch (...) {
    }
    try {
        ReleaseDmo();
    } catch (...) {
        m_pMediaObject = nullptr;
    }
    FreeRecords(m_pstCaptureDevices);
    FreeRecords(m_pstRenderDevices);
}

uint32_t CAecMicArrayCapture::AddRef()
{
    return static_cast<uint32_t>(InterlockedIncrement(&m_lRefCount));
}

uint32_t CAecMicArrayCapture::Release()
{
    const LONG lRefCount = InterlockedDecrement(&m_lRefCount);
    if (lRefCount == 0) {
        delete this;
    }
    return static_cast<uint32_t>(lRefCount);
}

void CAecMicArrayCapture::ReleaseDmo()
{
    if (m_pMediaObject != nullptr) {
        std::exchange(m_pMediaObject, nullptr)->Release();
    }
    m_lAppliedCaptureIndex = -2;
    m_lAppliedRenderIndex = -2;
}

uint32_t CAecMicArrayCapture::Uninit()
{
    Stop();
    ReleaseDmo();
    return 0;
}

uint32_t CAecMicArrayCapture::EnumDevices()
{
    BuildList(eCapture, m_pstCaptureDevices, m_ulCaptureDeviceNums);
    BuildList(eRender, m_pstRenderDevices, m_ulRenderDeviceNums);
    return 0;
}

uint32_t CAecMicArrayCapture::GetCaptureDeviceCount()
{
    return m_ulCaptureDeviceNums;
}

uint32_t CAecMicArrayCapture::GetRenderDeviceCount()
{
    return m_ulRenderDeviceNums;
}

int32_t CAecMicArrayCapture::FindByName(const AecEndpointInfo* pstRecords, uint32_t ulCount,
                                        const char* pszName)
{
    for (uint32_t i = 0; i < ulCount; ++i) {
        const CAnsiName oName(pstRecords[i].wszName);
        if (oName.Text() != nullptr && std::strcmp(oName.Text(), pszName) == 0) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

uint32_t CAecMicArrayCapture::SelectCaptureDeviceByName(const char* pszName)
{
    if (m_pstCaptureDevices == nullptr || pszName == nullptr) {
        return kulInvalidArgument;
    }
    const int32_t lIndex = FindByName(m_pstCaptureDevices, m_ulCaptureDeviceNums, pszName);
    if (lIndex >= 0) {
        m_lCaptureDeviceIndex = lIndex;
    }
    return 0;
}

uint32_t CAecMicArrayCapture::SelectRenderDeviceByName(const char* pszName)
{
    if (m_pstRenderDevices == nullptr || pszName == nullptr) {
        return kulInvalidArgument;
    }
    const int32_t lIndex = FindByName(m_pstRenderDevices, m_ulRenderDeviceNums, pszName);
    if (lIndex >= 0) {
        m_lRenderDeviceIndex = lIndex;
    }
    return 0;
}

uint32_t CAecMicArrayCapture::SetCaptureDeviceIndex(uint32_t ulIndex)
{
    if (ulIndex >= m_ulCaptureDeviceNums) {
        return kulInvalidArgument;
    }
    m_lCaptureDeviceIndex = static_cast<int32_t>(ulIndex);
    return 0;
}

uint32_t CAecMicArrayCapture::SetRenderDeviceIndex(int32_t lIndex)
{
    if (lIndex < 0 || static_cast<uint32_t>(lIndex) >= m_ulRenderDeviceNums) {
        return kulInvalidArgument;
    }
    m_lRenderDeviceIndex = lIndex;
    return 0;
}

uint32_t CAecMicArrayCapture::GetRenderDeviceName(uint32_t ulIndex, char* pszName)
{
    if (ulIndex >= m_ulRenderDeviceNums || m_pstRenderDevices == nullptr) {
        return kulInvalidArgument;
    }
    const CAnsiName oName(m_pstRenderDevices[ulIndex].wszName);
    if (oName.Text() != nullptr) {
        std::strcpy(pszName, oName.Text());
    }
    return 0;
}

uint32_t CAecMicArrayCapture::SelectDefaultCaptureDevice()
{
    AecEndpointInfo stDefault;
    if (FAILED(ReadDefaultEndpoint(eCapture, &stDefault))) {
        return 0;
    }
    const CAnsiName oName(stDefault.wszName);
    if (oName.Text() != nullptr) {
        SelectCaptureDeviceByName(oName.Text());
    }
    return 0;
}

uint32_t CAecMicArrayCapture::SetAecMode(uint32_t ulMode, uint32_t ulSampleRate)
{
    if (ulMode == kulSingleChannelAec || ulMode == kulAdaptiveArrayAndAec ||
        ulMode == kulOptibeamArrayAndAec) {
        m_ulAecMode = ulMode;
    }
    if (ulSampleRate == 8000 || ulSampleRate == 11025 || ulSampleRate == 16000 ||
        ulSampleRate == 22050) {
        m_ulSampleRate = ulSampleRate;
    }
    return 0;
}

uint32_t CAecMicArrayCapture::IsDeviceChanged()
{
    return m_lCaptureDeviceIndex != m_lAppliedCaptureIndex ||
                   m_lRenderDeviceIndex != m_lAppliedRenderIndex
               ? 1
               : 0;
}

HRESULT CAecMicArrayCapture::WriteProperty(IPropertyStore* pProperties, const PROPERTYKEY& stKey,
                                           VARTYPE usType, int32_t lValue)
{
    PROPVARIANT stValue;
    PropVariantInit(&stValue);
    stValue.vt = usType;
    if (usType == VT_BOOL) {
        stValue.boolVal = lValue != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        stValue.lVal = lValue;
    }
    HRESULT hr = pProperties->SetValue(stKey, stValue);
    if (SUCCEEDED(hr)) {
        // Read back as the DSP stores it; the value itself is not needed.
        hr = pProperties->GetValue(stKey, &stValue);
    }
    Platform().pfnPropVariantClear(&stValue);
    return hr;
}

HRESULT CAecMicArrayCapture::SetOutputType(uint32_t ulChannels, uint32_t ulSamplesPerSec,
                                           uint32_t ulBitsPerSample)
{
    DMO_MEDIA_TYPE stType = {};
    HRESULT hr = Platform().pfnMoInitMediaType(&stType, sizeof(WAVEFORMATEX));
    if (FAILED(hr)) {
        return hr;
    }
    stType.majortype = kMediaTypeAudio;
    stType.subtype = kMediaSubtypePcm;
    stType.bFixedSizeSamples = TRUE;
    stType.bTemporalCompression = FALSE;
    stType.lSampleSize = 0;
    stType.formattype = kFormatWaveFormatEx;
    stType.pUnk = nullptr;
    WAVEFORMATEX stFormat = {};
    stFormat.wFormatTag = WAVE_FORMAT_PCM;
    stFormat.nChannels = static_cast<WORD>(ulChannels);
    stFormat.nSamplesPerSec = ulSamplesPerSec;
    stFormat.nBlockAlign = static_cast<WORD>(ulChannels * ulBitsPerSample / 8);
    stFormat.nAvgBytesPerSec = ulSamplesPerSec * stFormat.nBlockAlign;
    stFormat.wBitsPerSample = static_cast<WORD>(ulBitsPerSample);
    stFormat.cbSize = 0;
    std::memcpy(stType.pbFormat, &stFormat, sizeof stFormat);
    hr = m_pMediaObject->SetOutputType(0, &stType, 0);
    Platform().pfnMoFreeMediaType(&stType);
    return hr;
}

uint32_t CAecMicArrayCapture::Init(uint32_t ulChannels, uint32_t ulSamplesPerSec,
                                   uint32_t ulBitsPerSample, uint32_t ulFrameSize)
{
    if (IsDeviceChanged() == 0) {
        return 1;  // the DSP is already set up for these endpoints
    }
    Stop();
    ReleaseDmo();
    m_stDspFormat = {ulChannels, ulSamplesPerSec, ulBitsPerSample, ulFrameSize};
    return SetUpDsp();
}

uint32_t CAecMicArrayCapture::SetUpDsp()
{
    const auto [ulChannels, ulSamplesPerSec, ulBitsPerSample, ulFrameSize] = m_stDspFormat;
    // Every tick collects into this buffer: without it there is no capture.
    if (!m_pucOutputBuffer) {
        return static_cast<uint32_t>(E_OUTOFMEMORY);
    }
    HRESULT hr = Platform().pfnCoCreateInstance(kClsidWMAudioAec, nullptr, CLSCTX_INPROC_SERVER,
                                                kIidMediaObject,
                                                reinterpret_cast<void**>(&m_pMediaObject));
    if (FAILED(hr)) {
        m_pMediaObject = nullptr;
        return static_cast<uint32_t>(hr);
    }
    CComPtr<IPropertyStore> pProperties;
    hr = m_pMediaObject->QueryInterface(kIidPropertyStore,
                                        reinterpret_cast<void**>(pProperties.Put()));
    if (FAILED(hr)) {
        return static_cast<uint32_t>(hr);
    }
    hr = WriteProperty(pProperties.Get(), kPkeyAecSystemMode, VT_I4,
                       static_cast<int32_t>(m_ulAecMode));
    if (SUCCEEDED(hr) && (m_lCaptureDeviceIndex >= 0 || m_lRenderDeviceIndex >= 0)) {
        // Render index in the high word, capture index in the low word.
        const uint32_t ulIndexes = static_cast<uint32_t>(m_lRenderDeviceIndex) * 65536u +
                                   (static_cast<uint32_t>(m_lCaptureDeviceIndex) & 0xFFFFu);
        hr = WriteProperty(pProperties.Get(), kPkeyAecDeviceIndexes, VT_I4,
                           static_cast<int32_t>(ulIndexes));
    }
    if (SUCCEEDED(hr) && m_bFeatureMode == 1) {
        hr = WriteProperty(pProperties.Get(), kPkeyAecFeatureMode, VT_BOOL,
                           static_cast<int32_t>(m_bFeatureMode));
        if (SUCCEEDED(hr)) {
            hr = WriteProperty(pProperties.Get(), kPkeyAecNoiseSuppress, VT_I4,
                               static_cast<int32_t>(m_ulNoiseSuppress));
        }
        if (SUCCEEDED(hr)) {
            hr = WriteProperty(pProperties.Get(), kPkeyAecAgc, VT_BOOL, static_cast<int32_t>(m_bAgc));
        }
        if (SUCCEEDED(hr)) {
            hr = WriteProperty(pProperties.Get(), kPkeyAecCenterClip, VT_BOOL,
                               static_cast<int32_t>(m_bCenterClip));
        }
    }
    if (SUCCEEDED(hr)) {
        hr = SetOutputType(ulChannels, ulSamplesPerSec, ulBitsPerSample);
    }
    if (SUCCEEDED(hr)) {
        hr = WriteProperty(pProperties.Get(), kPkeyAecFrameSize, VT_I4,
                           static_cast<int32_t>(ulFrameSize));
    }
    if (SUCCEEDED(hr)) {
        hr = m_pMediaObject->AllocateStreamingResources();
    }
    if (FAILED(hr)) {
        return static_cast<uint32_t>(hr);
    }
    m_lAppliedCaptureIndex = m_lCaptureDeviceIndex;
    m_lAppliedRenderIndex = m_lRenderDeviceIndex;
    return 0;
}

HRESULT CAecMicArrayCapture::PullOutput(uint32_t* pulProduced)
{
    *pulProduced = 0;
    DWORD ulStatus = 0;
    // S_FALSE: nothing ready. Any other answer, failures included, leaves in
    // the buffer whatever the DSP managed to write.
    if (m_pMediaObject->ProcessOutput(0, 1, &m_stOutputDataBuffer, &ulStatus) == S_FALSE) {
        return S_OK;
    }
    DWORD ulLength = 0;
    const HRESULT hr = m_oMediaBuffer.GetBufferAndLength(nullptr, &ulLength);
    if (SUCCEEDED(hr)) {
        *pulProduced = ulLength;
    }
    return hr;
}

void CAecMicArrayCapture::PointMediaBuffer(uint8_t* pucAt, uint32_t ulRoom)
{
    m_oMediaBuffer.SetBuffer(pucAt, ulRoom, 0);
    m_stOutputDataBuffer.dwStatus = 0;
}

uint32_t CAecMicArrayCapture::ProcessCapture()
{
    if (!m_pucOutputBuffer) {
        return 1;  // nothing can be collected
    }
    uint8_t* const pucStart = m_pucOutputBuffer.get();
    uint32_t ulProduced = 0;
    uint32_t ulRoom = kulOutputBufferSize;
    const DWORD ulNow = GetTickCount();
    do {
        // A count that cannot be read is no news: only a count of zero means
        // the microphone is gone.
        uint32_t ulCaptureEndpoints = 0;
        if (SUCCEEDED(CountEndpoints(eCapture, &ulCaptureEndpoints)) && ulCaptureEndpoints == 0 &&
            m_poEventSink != nullptr) {
            ReportLoss(ulNow);
            return 0;
        }
        if (m_bLost && !Reopen(ulNow)) {
            return 1;
        }
        PointMediaBuffer(pucStart + ulProduced, ulRoom);
        if (m_pMediaObject == nullptr) {
            return 0;
        }
        uint32_t ulLength = 0;
        const HRESULT hr = PullOutput(&ulLength);
        if (FAILED(hr)) {
            return static_cast<uint32_t>(hr);
        }
        ulProduced += ulLength;
        ulRoom -= ulLength;
    } while ((m_stOutputDataBuffer.dwStatus & kulOutputIncomplete) != 0 && ulRoom != 0);
    if (ulProduced == 0) {
        // A running DSP has output every tick: one silent this long lost its device.
        if (ulNow - m_ulLastOutput > kulSilentMs) {
            ReportLoss(ulNow);
        }
        return 1;
    }
    m_ulLastOutput = ulNow;
    if (m_poEventSink != nullptr) {
        m_poEventSink->OnCaptureData(pucStart, ulProduced, m_ulSampleRate, 1);
    }
    return 0;
}

// The sink hears of a loss once; the DSP is then set up anew every half
// second, for the default microphone of the moment, until it works.
void CAecMicArrayCapture::ReportLoss(DWORD ulNow)
{
    if (m_bLost) {
        return;
    }
    m_bLost = true;
    m_ulLastTry = ulNow - kulRetryMs;
    if (m_poEventSink != nullptr) {
        m_poEventSink->OnMicDisConnect();
    }
}

bool CAecMicArrayCapture::Reopen(DWORD ulNow)
{
    if (ulNow - m_ulLastTry < kulRetryMs) {
        return false;
    }
    m_ulLastTry = ulNow;
    EnumDevices();
    SelectDefaultCaptureDevice();
    ReleaseDmo();
    if (SetUpDsp() != 0) {
        return false;
    }
    m_bLost = false;
    m_ulLastOutput = ulNow;
    return true;
}

void CALLBACK CAecMicArrayCapture::AecTimerProc(UINT, UINT, DWORD_PTR ulUser, DWORD_PTR, DWORD_PTR)
{
    if (ulUser != 0) {
        reinterpret_cast<CAecMicArrayCapture*>(ulUser)->ProcessCapture();
    }
}

uint32_t CAecMicArrayCapture::ReadCaptureData(uint8_t* pucData, uint32_t* pulSize)
{
    uint32_t ulCapacity = *pulSize;
    *pulSize = 0;
    uint32_t ulTotal = 0;
    do {
        Platform().pfnSleep(10);
        PointMediaBuffer(pucData, ulCapacity);
        if (m_pMediaObject == nullptr) {
            return 0;
        }
        uint32_t ulLength = 0;
        const HRESULT hr = PullOutput(&ulLength);
        if (FAILED(hr)) {
            return static_cast<uint32_t>(hr);
        }
        ulTotal += ulLength;
        ulCapacity -= ulLength;
        pucData += ulLength;
    } while ((m_stOutputDataBuffer.dwStatus & kulOutputIncomplete) != 0 && ulCapacity != 0);
    *pulSize = ulTotal;
    return 0;
}

uint32_t CAecMicArrayCapture::Start()
{
    if (m_uiTimerId != 0) {
        return 0;
    }
    m_ulLastOutput = GetTickCount();
    Platform().pfnTimeBeginPeriod(kulTimerResolutionMs);
    m_uiTimerId = Platform().pfnTimeSetEvent(kulTimerPeriodMs, kulTimerResolutionMs, &AecTimerProc,
                                            reinterpret_cast<DWORD_PTR>(this),
                                            TIME_PERIODIC | TIME_KILL_SYNCHRONOUS);
    if (m_uiTimerId == 0) {
        Platform().pfnTimeEndPeriod(kulTimerResolutionMs);
    }
    return 0;
}

// Also called from inside a tick (the owner may stop on a lost microphone):
// the platform does not wait for the running tick when the timer thread itself
// kills the timer. The host's thread and the timer thread may stop at once:
// only the one that takes the timer's identifier ends it.
uint32_t CAecMicArrayCapture::Stop()
{
    const UINT uiTimerId = m_uiTimerId.exchange(0);
    if (uiTimerId == 0) {
        return 0;
    }
    Platform().pfnTimeEndPeriod(kulTimerResolutionMs);
    Platform().pfnTimeKillEvent(uiTimerId);
    return 0;
}

uint32_t CAecMicArrayCapture::AddEventSink(IAecCaptureEvent* poSink)
{
    IAecCaptureEvent** const ppoEnd = m_apoEventSinks + m_ulEventSinks;
    IAecCaptureEvent** const ppoAt = std::lower_bound(m_apoEventSinks, ppoEnd, poSink);
    const bool bKnown = ppoAt != ppoEnd && *ppoAt == poSink;
    if (poSink == nullptr || (!bKnown && m_ulEventSinks == kulMaxSinks)) {
        return 0xFFFFFFFF;
    }
    if (!bKnown) {
        std::copy_backward(ppoAt, ppoEnd, ppoEnd + 1);
        *ppoAt = poSink;
        ++m_ulEventSinks;
    }
    UpdateSingleSink();
    return 0;
}

uint32_t CAecMicArrayCapture::RemoveEventSink(IAecCaptureEvent* poSink)
{
    IAecCaptureEvent** const ppoEnd = m_apoEventSinks + m_ulEventSinks;
    m_ulEventSinks = poSink == nullptr ? 0 : static_cast<size_t>(std::remove(m_apoEventSinks, ppoEnd, poSink) - m_apoEventSinks);
    UpdateSingleSink();
    return 0;
}

// Events go to a sink only while it is the one registered.
void CAecMicArrayCapture::UpdateSingleSink()
{
    m_poEventSink = m_ulEventSinks == 1 ? m_apoEventSinks[0] : nullptr;
}
