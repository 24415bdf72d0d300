// The echo-cancelling road through the DLL's exports, under Wine, with COM
// activation pointed at two test classes registered in this process:
//  - a voice-capture DSP that streams a known byte pattern, since Wine has no
//    such DSP;
//  - a device enumerator that forwards to Wine's own but shows exactly one
//    loudspeaker (Wine lists a default endpoint beside every sink), and can
//    make the microphones disappear.
// Everything else — DirectSound, the multimedia timer, the threads — is real.
#include <windows.h>
#include <mmsystem.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "aec/aec_ids.h"
#include "fakes/fake_voice_dsp.h"
#include "vocora.h"

namespace {

int sm_iFailures = 0;

void Check(bool bOk, const std::string& strWhat)
{
    std::printf("%s: %s\n", bOk ? "ok  " : "FAIL", strWhat.c_str());
    if (!bOk) {
        ++sm_iFailures;
    }
}

bool WaitFor(const std::function<bool()>& fnCondition, DWORD ulTimeoutMs = 5000)
{
    const ULONGLONG ullDeadline = GetTickCount64() + ulTimeoutMs;
    while (!fnCondition()) {
        if (GetTickCount64() > ullDeadline) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

// ---- The library's messages ------------------------------------------------------

std::mutex sm_mtxLog;
std::vector<std::pair<std::string, std::string>> sm_vecLog;  // function, text

void VOCORA_CALL OnLog(void*, int32_t, const char*, uint32_t, const char* pszFunction,
                       const char* pszFormat, va_list vaArgs)
{
    char szText[512];
    std::vsnprintf(szText, sizeof szText, pszFormat, vaArgs);
    std::lock_guard<std::mutex> oLock(sm_mtxLog);
    sm_vecLog.emplace_back(pszFunction, szText);
}

size_t MessagesFrom(const std::string& strFunction)
{
    std::lock_guard<std::mutex> oLock(sm_mtxLog);
    size_t ulCount = 0;
    for (const auto& stEntry : sm_vecLog) {
        ulCount += stEntry.first == strFunction ? 1 : 0;
    }
    return ulCount;
}

// ---- An enumerator that forwards to Wine's own -------------------------------------

std::atomic<bool> sm_bMicrophonesGone{false};

// IUnknown for a heap object that answers for one interface and starts with
// one reference, its creator's.
template <class TInterface>
class CCounted : public TInterface {
public:
    explicit CCounted(const IID& stIid) : m_stIid(stIid) {}
    virtual ~CCounted() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == m_stIid) {
            AddRef();
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_lRefs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG lRefs = --m_lRefs;
        if (lRefs == 0) {
            delete this;
        }
        return static_cast<ULONG>(lRefs);
    }

private:
    const IID m_stIid;
    std::atomic<LONG> m_lRefs{1};
};

// A fixed list of endpoints.
class CDeviceList final : public CCounted<IMMDeviceCollection> {
public:
    explicit CDeviceList(std::vector<IMMDevice*> vecDevices)
        : CCounted(__uuidof(IMMDeviceCollection)), m_vecDevices(std::move(vecDevices))
    {
    }
    ~CDeviceList()
    {
        for (IMMDevice* pDevice : m_vecDevices) {
            pDevice->Release();
        }
    }

    HRESULT STDMETHODCALLTYPE GetCount(UINT* pulCount) override
    {
        *pulCount = static_cast<UINT>(m_vecDevices.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT ulIndex, IMMDevice** ppDevice) override
    {
        if (ulIndex >= m_vecDevices.size()) {
            *ppDevice = nullptr;
            return E_INVALIDARG;
        }
        *ppDevice = m_vecDevices[ulIndex];
        (*ppDevice)->AddRef();
        return S_OK;
    }

private:
    std::vector<IMMDevice*> m_vecDevices;
};

class COneSpeakerEnumerator final : public CCounted<IMMDeviceEnumerator> {
public:
    explicit COneSpeakerEnumerator(IMMDeviceEnumerator* pInner)
        : CCounted(kIidMMDeviceEnumerator), m_pInner(pInner)
    {
        m_pInner->AddRef();
    }
    ~COneSpeakerEnumerator() { m_pInner->Release(); }

    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow eFlow, DWORD ulMask,
                                                 IMMDeviceCollection** ppDevices) override
    {
        // The one loudspeaker is the default one, so that whoever looks the
        // default up in the list finds it there.
        std::vector<IMMDevice*> vecDevices;
        if (eFlow == eRender) {
            IMMDevice* pDefault = nullptr;
            if (SUCCEEDED(m_pInner->GetDefaultAudioEndpoint(eRender, eConsole, &pDefault))) {
                vecDevices.push_back(pDefault);
            }
        } else if (!sm_bMicrophonesGone) {
            IMMDeviceCollection* pInner = nullptr;
            const HRESULT hr = m_pInner->EnumAudioEndpoints(eFlow, ulMask, &pInner);
            if (FAILED(hr)) {
                return hr;
            }
            UINT ulCount = 0;
            pInner->GetCount(&ulCount);
            for (UINT i = 0; i < ulCount; ++i) {
                IMMDevice* pDevice = nullptr;
                if (SUCCEEDED(pInner->Item(i, &pDevice))) {
                    vecDevices.push_back(pDevice);
                }
            }
            pInner->Release();
        }
        *ppDevices = new CDeviceList(std::move(vecDevices));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow eFlow, ERole eRole,
                                                      IMMDevice** ppDevice) override
    {
        return m_pInner->GetDefaultAudioEndpoint(eFlow, eRole, ppDevice);
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR pwszId, IMMDevice** ppDevice) override
    {
        return m_pInner->GetDevice(pwszId, ppDevice);
    }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* p) override
    {
        return m_pInner->RegisterEndpointNotificationCallback(p);
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* p) override
    {
        return m_pInner->UnregisterEndpointNotificationCallback(p);
    }

private:
    IMMDeviceEnumerator* m_pInner;
};

// ---- Class factories ------------------------------------------------------------------

template <class Fn>
class CFactory : public IClassFactory {
public:
    explicit CFactory(Fn fnCreate) : m_fnCreate(fnCreate) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Lives for the whole program.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        return pOuter != nullptr ? CLASS_E_NOAGGREGATION : m_fnCreate(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    Fn m_fnCreate;
};

// ---- What the host receives ----------------------------------------------------------

struct Received {
    std::mutex mtx;
    std::vector<uint8_t> vecBytes;
    std::atomic<int> iBlocks{0};
};

void VOCORA_CALL OnCapture(const uint8_t* pucData, uint32_t ulLength, void* pUserData)
{
    auto* pstReceived = static_cast<Received*>(pUserData);
    std::lock_guard<std::mutex> oLock(pstReceived->mtx);
    pstReceived->vecBytes.insert(pstReceived->vecBytes.end(), pucData, pucData + ulLength);
    ++pstReceived->iBlocks;
}

// True when the bytes are the DSP's pattern without a gap, from wherever they start.
bool IsUnbrokenPattern(Received& stReceived)
{
    std::lock_guard<std::mutex> oLock(stReceived.mtx);
    const std::vector<uint8_t>& vecBytes = stReceived.vecBytes;
    if (vecBytes.empty()) {
        return false;
    }
    // The pattern repeats every 256 bytes: find the phase of the first byte.
    size_t ulStart = 0;
    while (ulStart < 256 && CFakeVoiceDsp::ByteAt(ulStart) != vecBytes[0]) {
        ++ulStart;
    }
    for (size_t i = 0; i < vecBytes.size(); ++i) {
        if (vecBytes[i] != CFakeVoiceDsp::ByteAt(ulStart + i)) {
            return false;
        }
    }
    return true;
}

VocoraCaptureHandle CreateEchoCancelling(const char* pszWhat)
{
    const AudioParam stParam = {16000, 1, 16, 0};
    const size_t ulPlainBefore = MessagesFrom("CDirectSoundCapture::Init");
    VocoraCaptureHandle hCapture = nullptr;
    Check(Vocora_CreateCaptureDec(&stParam, 0, &hCapture) == VOCORA_OK && hCapture != nullptr,
          std::string(pszWhat) + ": selector 0 creates a capture handle");
    Check(MessagesFrom("CDirectSoundCapture::Init") == ulPlainBefore,
          std::string(pszWhat) + ": it is the echo-cancelling device, not DirectSound capture");
    return hCapture;
}

}  // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::printf("FAIL: COM could not be initialised\n");
        return 1;
    }
    // Wine's own enumerator, taken before the test class stands in for it.
    IMMDeviceEnumerator* pWineEnumerator = nullptr;
    if (FAILED(CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL, kIidMMDeviceEnumerator,
                                reinterpret_cast<void**>(&pWineEnumerator)))) {
        std::printf("FAIL: no device enumerator under Wine\n");
        return 1;
    }
    auto fnCreateDsp = [](REFIID riid, void** ppv) { return CStreamingVoiceDsp::CreateInstance(riid, ppv); };
    auto fnCreateEnumerator = [pWineEnumerator](REFIID riid, void** ppv) {
        auto* poEnumerator = new COneSpeakerEnumerator(pWineEnumerator);
        const HRESULT hr = poEnumerator->QueryInterface(riid, ppv);
        poEnumerator->Release();
        return hr;
    };
    CFactory<decltype(fnCreateDsp)> oDspFactory(fnCreateDsp);
    CFactory<decltype(fnCreateEnumerator)> oEnumeratorFactory(fnCreateEnumerator);
    DWORD ulDspCookie = 0;
    DWORD ulEnumeratorCookie = 0;
    Check(SUCCEEDED(CoRegisterClassObject(kClsidWMAudioAec, &oDspFactory, CLSCTX_INPROC_SERVER,
                                          REGCLS_MULTIPLEUSE, &ulDspCookie)),
          "the test DSP is registered");
    Check(SUCCEEDED(CoRegisterClassObject(kClsidMMDeviceEnumerator, &oEnumeratorFactory,
                                          CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                          &ulEnumeratorCookie)),
          "the one-speaker enumerator is registered");

    Vocora_SetLogCB(&OnLog);
    Check(Vocora_Init() == VOCORA_OK, "Vocora_Init succeeds");
    Check(MessagesFrom("CAecAudioCapture::Init") == 0, "the echo-cancelling probe passes");
    Check(CStreamingVoiceDsp::sm_iLive == 0, "the probe's DSP is gone with the probe");

    // Blocks flow from the real multimedia timer to the host's callback.
    Received stFirst;
    VocoraCaptureHandle hCapture = CreateEchoCancelling("first handle");
    Vocora_SetCaptureCallBack(hCapture, &OnCapture, &stFirst);
    Check(WaitFor([&] { return stFirst.iBlocks >= 30; }), "the timer delivers blocks to the host");
    Check(IsUnbrokenPattern(stFirst), "the delivered bytes are the DSP's output without a gap");

    // The microphone level goes through the mixer, which Wine cannot find; the
    // device keeps its volume and goes on delivering.
    int32_t lVolume = -1;
    Check(Vocora_SetMicVolume(hCapture, 0) == VOCORA_CAP_ERR_MIXER_LINE,
          "setting the microphone level reports the mixer's failure");
    const int iBefore = stFirst.iBlocks;
    Check(WaitFor([&] { return stFirst.iBlocks >= iBefore + 5; }), "delivery goes on after it");
    (void)lVolume;

    // The microphones disappear: the disconnection is reported once and the
    // timer stops.
    sm_bMicrophonesGone = true;
    Check(WaitFor([] { return MessagesFrom("CAecAudioCapture::OnMicDisConnect") > 0; }),
          "a lost microphone is reported");
    Sleep(50);
    const int iAtLoss = stFirst.iBlocks;
    Sleep(300);
    Check(stFirst.iBlocks == iAtLoss, "nothing is delivered after the loss");
    Check(MessagesFrom("CAecAudioCapture::OnMicDisConnect") == 1, "the loss is reported once");
    Check(Vocora_DestoryCaptureDec(hCapture) == VOCORA_OK, "the handle is destroyed as usual");
    sm_bMicrophonesGone = false;

    // Destroying a delivering handle stops every tick before it returns.
    Received stSecond;
    hCapture = CreateEchoCancelling("second handle");
    Vocora_SetCaptureCallBack(hCapture, &OnCapture, &stSecond);
    Check(WaitFor([&] { return stSecond.iBlocks >= 10; }), "the second handle delivers");
    Check(Vocora_DestoryCaptureDec(hCapture) == VOCORA_OK, "the second handle is destroyed");
    const int iAtDestroy = stSecond.iBlocks;
    Sleep(300);
    Check(stSecond.iBlocks == iAtDestroy, "no block arrives after the destroy call returned");
    Check(CStreamingVoiceDsp::sm_iLive == 0, "every DSP was released");

    Vocora_Cleanup();
    CoRevokeClassObject(ulDspCookie);
    CoRevokeClassObject(ulEnumeratorCookie);
    pWineEnumerator->Release();
    CoUninitialize();
    std::printf("%d failed\n", sm_iFailures);
    return sm_iFailures == 0 ? 0 : 1;
}
