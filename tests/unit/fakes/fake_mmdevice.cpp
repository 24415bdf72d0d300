#include "fake_mmdevice.h"

#include "aec/aec_ids.h"
#include "fake_platform.h"

namespace {

// KSNODETYPE_MICROPHONE, what a plain microphone jack leads to.
const GUID kNodeTypeMicrophone = {
    0xdff21be1, 0xf70f, 0x11d0, {0xb9, 0x17, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};

}  // namespace

HRESULT CFakeJack::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (riid == kIidPart) {
        if (FAILED(Step(JackBreak::kQueryPart))) {
            return m_hrBreak;
        }
        *ppv = static_cast<IPart*>(this);
    } else if (riid == kIidDeviceTopology || riid == IID_IUnknown) {
        *ppv = static_cast<IDeviceTopology*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT CFakeJack::GetConnector(UINT ulIndex, IConnector** ppConnector)
{
    *ppConnector = nullptr;
    if (ulIndex != 0) {
        return E_INVALIDARG;
    }
    if (FAILED(Step(JackBreak::kGetConnector))) {
        return m_hrBreak;
    }
    AddRef();
    *ppConnector = this;
    return S_OK;
}

HRESULT CFakeJack::GetConnectedTo(IConnector** ppConnector)
{
    *ppConnector = nullptr;
    if (FAILED(Step(JackBreak::kGetConnectedTo))) {
        return m_hrBreak;
    }
    AddRef();
    *ppConnector = this;
    return S_OK;
}

HRESULT CFakeJack::GetSubType(GUID* pstSubtype)
{
    if (FAILED(Step(JackBreak::kGetSubType))) {
        return m_hrBreak;
    }
    *pstSubtype = m_bMicArray ? kNodeTypeMicrophoneArray : kNodeTypeMicrophone;
    return S_OK;
}

HRESULT CFakeEndpoint::Activate(REFIID riid, DWORD, PROPVARIANT*, void** ppv)
{
    *ppv = nullptr;
    if (riid != kIidDeviceTopology) {
        return E_NOINTERFACE;
    }
    return FAILED(m_oJack.Step(JackBreak::kActivate)) ? m_oJack.m_hrBreak
                                                       : m_oJack.QueryInterface(riid, ppv);
}

HRESULT CFakeEndpoint::OpenPropertyStore(DWORD ulAccess, IPropertyStore** ppStore)
{
    *ppStore = nullptr;
    if (ulAccess != STGM_READ) {
        return E_ACCESSDENIED;
    }
    if (FAILED(m_hrOpenPropertyStore)) {
        return m_hrOpenPropertyStore;
    }
    AddRef();
    *ppStore = this;
    return S_OK;
}

HRESULT CFakeEndpoint::GetId(LPWSTR* ppwszId)
{
    *ppwszId = nullptr;
    if (FAILED(m_hrGetId)) {
        return m_hrGetId;
    }
    *ppwszId = CFakePlatform::TaskText(m_wstrId);
    return S_OK;
}

HRESULT CFakeEndpoint::GetValue(REFPROPERTYKEY stKey, PROPVARIANT* pstValue)
{
    PropVariantInit(pstValue);
    if (FAILED(m_hrGetValue)) {
        return m_hrGetValue;
    }
    if (stKey.fmtid == kPkeyDeviceFriendlyName.fmtid && stKey.pid == kPkeyDeviceFriendlyName.pid) {
        pstValue->vt = VT_LPWSTR;
        pstValue->pwszVal = CFakePlatform::TaskText(m_wstrName);
    }
    return S_OK;
}

CFakeEndpoint& CFakeEndpointList::Add(const std::wstring& wstrName, bool bMicArray)
{
    const std::wstring wstrId = L"{0.0.0.00000000}.{" + std::to_wstring(m_vecEndpoints.size()) + L"}";
    m_vecEndpoints.push_back(std::make_unique<CFakeEndpoint>(wstrName, wstrId));
    m_vecEndpoints.back()->m_oJack.m_bMicArray = bMicArray;
    return *m_vecEndpoints.back();
}

LONG CFakeEndpointList::References() const
{
    LONG lRefs = m_lRefs;
    for (const auto& pEndpoint : m_vecEndpoints) {
        lRefs += pEndpoint->References();
    }
    return lRefs;
}

HRESULT CFakeEndpointList::GetCount(UINT* pulCount)
{
    ++m_iCountCalls;
    if (FAILED(m_hrGetCount)) {
        return m_hrGetCount;
    }
    *pulCount = static_cast<UINT>(m_vecEndpoints.size());
    if (!m_dqCounts.empty()) {
        *pulCount = m_dqCounts.front();
        m_dqCounts.pop_front();
    }
    return S_OK;
}

HRESULT CFakeEndpointList::Item(UINT ulIndex, IMMDevice** ppDevice)
{
    *ppDevice = nullptr;
    if (ulIndex >= m_vecEndpoints.size()) {
        return E_INVALIDARG;
    }
    CFakeEndpoint& oEndpoint = *m_vecEndpoints[ulIndex];
    if (FAILED(oEndpoint.m_hrItem)) {
        return oEndpoint.m_hrItem;
    }
    oEndpoint.AddRef();
    *ppDevice = &oEndpoint;
    return S_OK;
}

LONG CFakeDeviceEnumerator::References() const
{
    return m_lRefs + m_oCapture.References() + m_oRender.References();
}

HRESULT CFakeDeviceEnumerator::Create(REFIID riid, void** ppv)
{
    return FAILED(m_hrCreate) ? m_hrCreate : QueryInterface(riid, ppv);
}

HRESULT CFakeDeviceEnumerator::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (riid != kIidMMDeviceEnumerator && riid != IID_IUnknown) {
        return E_NOINTERFACE;
    }
    AddRef();
    *ppv = static_cast<IMMDeviceEnumerator*>(this);
    return S_OK;
}

CFakeEndpointList* CFakeDeviceEnumerator::List(EDataFlow eFlow)
{
    return eFlow == eCapture ? &m_oCapture : eFlow == eRender ? &m_oRender : nullptr;
}

HRESULT CFakeDeviceEnumerator::EnumAudioEndpoints(EDataFlow eFlow, DWORD ulStates,
                                                  IMMDeviceCollection** ppDevices)
{
    *ppDevices = nullptr;
    m_vecEnumerated.push_back(eFlow);
    CFakeEndpointList* pList = List(eFlow);
    if (pList == nullptr || ulStates != DEVICE_STATE_ACTIVE) {
        return E_INVALIDARG;
    }
    if (FAILED(m_hrEnumAudioEndpoints)) {
        return m_hrEnumAudioEndpoints;
    }
    pList->AddRef();
    *ppDevices = pList;
    return S_OK;
}

HRESULT CFakeDeviceEnumerator::GetDefaultAudioEndpoint(EDataFlow eFlow, ERole,
                                                       IMMDevice** ppEndpoint)
{
    *ppEndpoint = nullptr;
    CFakeEndpointList* pList = List(eFlow);
    if (pList == nullptr) {
        return E_INVALIDARG;
    }
    if (FAILED(m_hrGetDefaultAudioEndpoint)) {
        return m_hrGetDefaultAudioEndpoint;
    }
    if (pList->m_ulDefault >= pList->m_vecEndpoints.size()) {
        return E_NOTFOUND;
    }
    CFakeEndpoint& oEndpoint = (*pList)[pList->m_ulDefault];
    oEndpoint.AddRef();
    *ppEndpoint = &oEndpoint;
    return S_OK;
}
