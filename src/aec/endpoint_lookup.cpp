#include "aec/endpoint_lookup.h"

#include <devicetopology.h>

#include <cstring>
#include <cwchar>

#include "aec/aec_ids.h"
#include "common/com_ptr.h"
#include "common/platform.h"

namespace {

HRESULT CreateEnumerator(CComPtr<IMMDeviceEnumerator>& pEnumerator)
{
    return Platform().pfnCoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                          kIidMMDeviceEnumerator,
                                          reinterpret_cast<void**>(pEnumerator.Put()));
}

// The active endpoints of a flow, and how many there are.
HRESULT ActiveEndpoints(EDataFlow eFlow, CComPtr<IMMDeviceCollection>& pCollection, UINT* pulCount)
{
    CComPtr<IMMDeviceEnumerator> pEnumerator;
    HRESULT hr = CreateEnumerator(pEnumerator);
    if (FAILED(hr)) {
        return hr;
    }
    hr = pEnumerator->EnumAudioEndpoints(eFlow, DEVICE_STATE_ACTIVE, pCollection.Put());
    if (FAILED(hr)) {
        return hr;
    }
    return pCollection->GetCount(pulCount);
}

void CopyText(wchar_t* pwszField, const wchar_t* pwszText)
{
    std::wcsncpy(pwszField, pwszText != nullptr ? pwszText : L"", kulEndpointTextUnits - 1);
    pwszField[kulEndpointTextUnits - 1] = L'\0';
}

// Frees the identifier from the task allocator when it goes.
struct TaskText {
    wchar_t* pwsz = nullptr;
    ~TaskText()
    {
        if (pwsz != nullptr) {
            Platform().pfnCoTaskMemFree(pwsz);
        }
    }
};

// Fills one record from its endpoint; the record is zero-filled by the caller.
HRESULT FillRecord(IMMDevice* pDevice, AecEndpointInfo* pstRecord)
{
    TaskText stId;
    HRESULT hr = pDevice->GetId(&stId.pwsz);
    if (FAILED(hr)) {
        return hr;
    }
    CComPtr<IPropertyStore> pProperties;
    hr = pDevice->OpenPropertyStore(STGM_READ, pProperties.Put());
    if (FAILED(hr)) {
        return hr;
    }
    PROPVARIANT stName;
    PropVariantInit(&stName);
    hr = pProperties->GetValue(kPkeyDeviceFriendlyName, &stName);
    if (FAILED(hr)) {
        return hr;
    }
    bool bMicArray = false;
    CheckMicArrayJack(pDevice, &bMicArray);
    CopyText(pstRecord->wszId, stId.pwsz);
    CopyText(pstRecord->wszName, stName.vt == VT_LPWSTR ? stName.pwszVal : nullptr);
    pstRecord->bMicArray = bMicArray;
    Platform().pfnPropVariantClear(&stName);
    return S_OK;
}

}  // namespace

HRESULT CountEndpoints(EDataFlow eFlow, uint32_t* pulCount)
{
    CComPtr<IMMDeviceCollection> pCollection;
    UINT ulCount = 0;
    const HRESULT hr = ActiveEndpoints(eFlow, pCollection, &ulCount);
    if (SUCCEEDED(hr)) {
        *pulCount = ulCount;
    }
    return hr;
}

HRESULT ListEndpoints(EDataFlow eFlow, uint32_t ulExpected, AecEndpointInfo* pstRecords)
{
    CComPtr<IMMDeviceCollection> pCollection;
    UINT ulCount = 0;
    HRESULT hr = ActiveEndpoints(eFlow, pCollection, &ulCount);
    if (FAILED(hr)) {
        return hr;
    }
    // An endpoint came or went since the caller counted.
    if (ulCount != ulExpected) {
        return E_INVALIDARG;
    }
    std::memset(pstRecords, 0, sizeof(AecEndpointInfo) * ulExpected);
    for (UINT i = 0; i < ulCount; ++i) {
        CComPtr<IMMDevice> pDevice;
        hr = pCollection->Item(i, pDevice.Put());
        if (FAILED(hr)) {
            return hr;
        }
        hr = FillRecord(pDevice.Get(), &pstRecords[i]);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT ReadDefaultEndpoint(EDataFlow eFlow, AecEndpointInfo* pstRecord)
{
    CComPtr<IMMDeviceEnumerator> pEnumerator;
    HRESULT hr = CreateEnumerator(pEnumerator);
    if (FAILED(hr)) {
        return hr;
    }
    CComPtr<IMMDevice> pDevice;
    hr = pEnumerator->GetDefaultAudioEndpoint(eFlow, eConsole, pDevice.Put());
    if (FAILED(hr)) {
        return hr;
    }
    std::memset(pstRecord, 0, sizeof *pstRecord);
    return FillRecord(pDevice.Get(), pstRecord);
}

HRESULT CheckMicArrayJack(IMMDevice* pDevice, bool* pbMicArray)
{
    if (pDevice == nullptr) {
        return E_POINTER;
    }
    GUID stSubtype = {};
    const HRESULT hr = QueryJackSubtype(pDevice, &stSubtype);
    *pbMicArray = stSubtype == kNodeTypeMicrophoneArray;
    return hr;
}

HRESULT QueryJackSubtype(IMMDevice* pDevice, GUID* pstSubtype)
{
    if (pDevice == nullptr) {
        return E_POINTER;
    }
    CComPtr<IDeviceTopology> pTopology;
    HRESULT hr = pDevice->Activate(kIidDeviceTopology, CLSCTX_INPROC_SERVER, nullptr,
                                   reinterpret_cast<void**>(pTopology.Put()));
    if (FAILED(hr)) {
        return hr;
    }
    CComPtr<IConnector> pConnector;
    hr = pTopology->GetConnector(0, pConnector.Put());
    if (FAILED(hr)) {
        return hr;
    }
    CComPtr<IConnector> pConnectedTo;
    hr = pConnector->GetConnectedTo(pConnectedTo.Put());
    if (FAILED(hr)) {
        return hr;
    }
    CComPtr<IPart> pPart;
    hr = pConnectedTo->QueryInterface(kIidPart, reinterpret_cast<void**>(pPart.Put()));
    if (FAILED(hr)) {
        return hr;
    }
    return pPart->GetSubType(pstSubtype);
}

char* WideToAnsi(char* pszBuffer, const wchar_t* pwszText, uint32_t ulBufferBytes,
                 uint32_t ulCodePage)
{
    if (pszBuffer == nullptr || pwszText == nullptr) {
        return nullptr;
    }
    pszBuffer[0] = '\0';
    const int iBytes = Platform().pfnWideCharToMultiByte(ulCodePage, 0, pwszText, -1, pszBuffer,
                                                         static_cast<int>(ulBufferBytes), nullptr,
                                                         nullptr);
    return iBytes == 0 ? nullptr : pszBuffer;
}
