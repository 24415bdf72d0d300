// The audio endpoint API: a device enumerator with one list of endpoints per
// data flow, each endpoint with its friendly name, identifier and jack (the
// topology chain to the part behind connector 0), and a scripted failure for
// every call. Strings come from the task allocator the fake platform tracks.
#ifndef VOCORA_TESTS_FAKE_MMDEVICE_H
#define VOCORA_TESTS_FAKE_MMDEVICE_H

#include <windows.h>
#include <dmo.h>
#include <mmdeviceapi.h>
#include <devicetopology.h>

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The step of the jack's chain that fails, if any.
enum class JackBreak { kNone, kActivate, kGetConnector, kGetConnectedTo, kQueryPart, kGetSubType };

// Topology, connector, the connector it leads to, and that one's part: one
// object, as only the subtype at the end matters.
class CFakeJack : public IDeviceTopology, public IConnector, public IPart {
public:
    bool m_bMicArray = false;  // else a plain microphone
    JackBreak m_eBreakAt = JackBreak::kNone;
    HRESULT m_hrBreak = E_FAIL;

    LONG References() const { return m_lRefs; }
    HRESULT Step(JackBreak eStep) const { return m_eBreakAt == eStep ? m_hrBreak : S_OK; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_lRefs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_lRefs); }
    // IDeviceTopology
    HRESULT STDMETHODCALLTYPE GetConnectorCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnector(UINT ulIndex, IConnector** ppConnector) override;
    HRESULT STDMETHODCALLTYPE GetSubunitCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSubunit(UINT, ISubUnit**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPartById(UINT, IPart**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDeviceId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSignalPath(IPart*, IPart*, WINBOOL, IPartsList**) override
    {
        return E_NOTIMPL;
    }
    // IConnector
    HRESULT STDMETHODCALLTYPE GetType(ConnectorType*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDataFlow(DataFlow*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectTo(IConnector*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsConnected(WINBOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnectedTo(IConnector** ppConnector) override;
    HRESULT STDMETHODCALLTYPE GetConnectorIdConnectedTo(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDeviceIdConnectedTo(LPWSTR*) override { return E_NOTIMPL; }
    // IPart
    HRESULT STDMETHODCALLTYPE GetName(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLocalId(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGlobalId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPartType(PartType*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSubType(GUID* pstSubtype) override;
    HRESULT STDMETHODCALLTYPE GetControlInterfaceCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetControlInterface(UINT, IControlInterface**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumPartsIncoming(IPartsList**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumPartsOutgoing(IPartsList**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTopologyObjects(IDeviceTopology**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Activate(DWORD, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterControlChangeCallback(REFGUID, IControlChangeNotify*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterControlChangeCallback(IControlChangeNotify*) override
    {
        return E_NOTIMPL;
    }

private:
    LONG m_lRefs = 0;
};

// An endpoint and its property store.
class CFakeEndpoint : public IMMDevice, public IPropertyStore {
public:
    CFakeEndpoint(std::wstring wstrName, std::wstring wstrId)
        : m_wstrName(std::move(wstrName)), m_wstrId(std::move(wstrId)) {}

    std::wstring m_wstrName;
    std::wstring m_wstrId;
    HRESULT m_hrItem = S_OK;  // the collection's Item for this endpoint
    HRESULT m_hrGetId = S_OK;
    HRESULT m_hrOpenPropertyStore = S_OK;
    HRESULT m_hrGetValue = S_OK;
    CFakeJack m_oJack;

    LONG References() const { return m_lRefs + m_oJack.References(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_lRefs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_lRefs); }
    // IMMDevice
    HRESULT STDMETHODCALLTYPE Activate(REFIID riid, DWORD ulContext, PROPVARIANT* pstParams,
                                       void** ppv) override;
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD ulAccess, IPropertyStore** ppStore) override;
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* ppwszId) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD*) override { return E_NOTIMPL; }
    // IPropertyStore
    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY stKey, PROPVARIANT* pstValue) override;
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }

private:
    LONG m_lRefs = 0;
};

// The active endpoints of one data flow.
class CFakeEndpointList : public IMMDeviceCollection {
public:
    std::vector<std::unique_ptr<CFakeEndpoint>> m_vecEndpoints;
    size_t m_ulDefault = 0;  // which one is the default endpoint
    HRESULT m_hrGetCount = S_OK;
    std::deque<UINT> m_dqCounts;  // what the next GetCount calls answer instead
    int m_iCountCalls = 0;

    CFakeEndpoint& Add(const std::wstring& wstrName, bool bMicArray = false);
    CFakeEndpoint& operator[](size_t i) { return *m_vecEndpoints[i]; }
    LONG References() const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_lRefs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_lRefs); }
    HRESULT STDMETHODCALLTYPE GetCount(UINT* pulCount) override;
    HRESULT STDMETHODCALLTYPE Item(UINT ulIndex, IMMDevice** ppDevice) override;

private:
    LONG m_lRefs = 0;
};

class CFakeDeviceEnumerator : public IMMDeviceEnumerator {
public:
    HRESULT m_hrCreate = S_OK;  // CoCreateInstance of the class
    HRESULT m_hrEnumAudioEndpoints = S_OK;
    HRESULT m_hrGetDefaultAudioEndpoint = S_OK;
    CFakeEndpointList m_oCapture;
    CFakeEndpointList m_oRender;
    std::vector<EDataFlow> m_vecEnumerated;  // the flow of each EnumAudioEndpoints

    // Every reference still held on the enumerator, its lists and endpoints.
    LONG References() const;
    HRESULT Create(REFIID riid, void** ppv);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_lRefs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_lRefs); }
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow eFlow, DWORD ulStates,
                                                 IMMDeviceCollection** ppDevices) override;
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow eFlow, ERole eRole,
                                                      IMMDevice** ppEndpoint) override;
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override
    {
        return E_NOTIMPL;
    }

private:
    CFakeEndpointList* List(EDataFlow eFlow);
    LONG m_lRefs = 0;
};

#endif
