// The platform's COM objects as GoogleMock mocks whose default actions behave
// like a working device; every call that can fail asks the fake platform
// first, so a fault sweep reaches each of them. The objects belong to the
// test: a reference count back at zero is what "released" means.
#ifndef VOCORA_TESTS_COM_MOCKS_H
#define VOCORA_TESTS_COM_MOCKS_H

#include <windows.h>
#include <mmsystem.h>
#include <dmo.h>
#include <dsound.h>
#include <mmdeviceapi.h>
#include <propsys.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "fake_platform.h"

// A method the tests drive, and one no test reaches.
#define COM_METHOD(name, args) MOCK_METHOD(HRESULT, name, args, (override, Calltype(STDMETHODCALLTYPE)))
#define COM_STUB(name, args) HRESULT STDMETHODCALLTYPE name args override { return E_NOTIMPL; }

template <class TFirst, class... TMore>
class CComMock : public TFirst, public TMore... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        const auto it = std::find_if(m_vecAnswers.begin(), m_vecAnswers.end(), [&](auto& st) { return st.first == riid; });
        *ppv = it != m_vecAnswers.end() && !CFakePlatform::Fault("QueryInterface") ? (AddRef(), it->second) : nullptr;
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_lRefs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_lRefs); }
    long References() const { return m_lRefs; }
    // Hands the object out through an out-parameter, with a reference.
    template <class T>
    HRESULT Give(T** pp) { return AddRef(), *pp = static_cast<T*>(this), S_OK; }

protected:
    CComMock() { Answer<TFirst>(IID_IUnknown); }
    template <class T>
    void Answer(REFIID riid) { m_vecAnswers.emplace_back(riid, static_cast<T*>(this)); }

private:
    std::atomic<long> m_lRefs{0};
    std::vector<std::pair<IID, void*>> m_vecAnswers;
};

class MockSoundBuffer : public CComMock<IDirectSoundBuffer8, IDirectSoundBuffer> {
public:
    MockSoundBuffer();
    COM_METHOD(GetCurrentPosition, (LPDWORD, LPDWORD)); COM_METHOD(GetVolume, (LPLONG)); COM_METHOD(GetStatus, (LPDWORD));
    COM_METHOD(Lock, (DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD)); COM_METHOD(Play, (DWORD, DWORD, DWORD));
    COM_METHOD(SetCurrentPosition, (DWORD)); COM_METHOD(SetVolume, (LONG)); COM_METHOD(Stop, ());
    COM_METHOD(Unlock, (LPVOID, DWORD, LPVOID, DWORD)); COM_METHOD(Restore, ());
    COM_STUB(GetCaps, (LPDSBCAPS)) COM_STUB(GetFormat, (LPWAVEFORMATEX, DWORD, LPDWORD)) COM_STUB(GetPan, (LPLONG))
    COM_STUB(GetFrequency, (LPDWORD)) COM_STUB(SetPan, (LONG)) COM_STUB(Initialize, (LPDIRECTSOUND, LPCDSBUFFERDESC))
    COM_STUB(SetFormat, (LPCWAVEFORMATEX)) COM_STUB(SetFrequency, (DWORD)) COM_STUB(SetFX, (DWORD, LPDSEFFECTDESC, LPDWORD))
    COM_STUB(AcquireResources, (DWORD, DWORD, LPDWORD)) COM_STUB(GetObjectInPath, (REFGUID, DWORD, REFGUID, LPVOID*))

    // bStuck: the device is gone, the cursor stands still. iLostLooks: looks at the status that
    // find the buffer lost. iBehindCursor: locks across the write cursor. vecPlayed: every region
    // unlocked, in order.
    DSBUFFERDESC stDesc = {};
    WAVEFORMATEX stFormat = {};
    std::vector<uint8_t> vecMemory, vecPlayed;
    std::atomic<DWORD> ulWriteCursor{0};
    std::atomic<bool> bPlaying{false}, bStuck{false};
    std::atomic<int> iLostLooks{0}, iRestored{0}, iBehindCursor{0};
    std::atomic<LONG> lVolume{0};
    std::mutex mtxPlayed;
};

class MockDirectSound : public CComMock<IDirectSound8> {
public:
    MockDirectSound();
    COM_METHOD(CreateSoundBuffer, (LPCDSBUFFERDESC, LPLPDIRECTSOUNDBUFFER, IUnknown*));
    COM_METHOD(SetCooperativeLevel, (HWND, DWORD));
    COM_STUB(GetCaps, (LPDSCAPS)) COM_STUB(Compact, ()) COM_STUB(GetSpeakerConfig, (LPDWORD))
    COM_STUB(DuplicateSoundBuffer, (LPDIRECTSOUNDBUFFER, LPLPDIRECTSOUNDBUFFER)) COM_STUB(SetSpeakerConfig, (DWORD))
    COM_STUB(Initialize, (LPCGUID)) COM_STUB(VerifyCertification, (LPDWORD))
    static HRESULT WINAPI Create8(LPCGUID, LPDIRECTSOUND8* pp, LPUNKNOWN);

    static inline MockDirectSound* sm_pCurrent = nullptr;
    std::atomic<int> iCreated{0};
    std::atomic<long> lBuffersAtCreate{0};  // the buffer's references as a new object is made
    ::testing::NiceMock<MockSoundBuffer> oBuffer;
};

class MockCaptureBuffer : public CComMock<IDirectSoundCaptureBuffer, IDirectSoundNotify> {
public:
    MockCaptureBuffer();
    COM_METHOD(GetCurrentPosition, (LPDWORD, LPDWORD));
    COM_METHOD(Lock, (DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD)); COM_METHOD(Start, (DWORD));
    COM_METHOD(Stop, ()); COM_METHOD(Unlock, (LPVOID, DWORD, LPVOID, DWORD));
    COM_METHOD(SetNotificationPositions, (DWORD, LPCDSBPOSITIONNOTIFY));
    COM_STUB(GetCaps, (LPDSCBCAPS)) COM_STUB(GetFormat, (LPWAVEFORMATEX, DWORD, LPDWORD)) COM_STUB(GetStatus, (LPDWORD))
    COM_STUB(Initialize, (LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC))

    // bStuck: the device is gone, no block, no signal. ucNext: the device records a byte counter.
    DSCBUFFERDESC stDesc = {};
    WAVEFORMATEX stFormat = {};
    std::vector<uint8_t> vecMemory;
    std::vector<DSBPOSITIONNOTIFY> vecNotify;
    std::atomic<DWORD> ulReadPos{0};
    std::atomic<bool> bStuck{false};
    uint8_t ucNext = 0;
};

class MockDirectSoundCapture : public CComMock<IDirectSoundCapture> {
public:
    MockDirectSoundCapture();
    COM_METHOD(CreateCaptureBuffer, (LPCDSCBUFFERDESC, LPDIRECTSOUNDCAPTUREBUFFER*, LPUNKNOWN));
    COM_STUB(GetCaps, (LPDSCCAPS)) COM_STUB(Initialize, (LPCGUID))
    static HRESULT WINAPI Create8(LPCGUID, LPDIRECTSOUNDCAPTURE8* pp, LPUNKNOWN);

    static inline MockDirectSoundCapture* sm_pCurrent = nullptr;
    std::atomic<int> iCreated{0};
    std::atomic<long> lBuffersAtCreate{0};
    GUID stDevice = {};
    ::testing::NiceMock<MockCaptureBuffer> oBuffer;
};

// An endpoint with its name and identifier; it has no device topology.
class MockEndpoint : public CComMock<IMMDevice, IPropertyStore> {
public:
    MockEndpoint(std::wstring wstrName, std::wstring wstrId);
    COM_METHOD(OpenPropertyStore, (DWORD, IPropertyStore**)); COM_METHOD(GetId, (LPWSTR*));
    COM_METHOD(GetValue, (REFPROPERTYKEY, PROPVARIANT*));
    COM_STUB(Activate, (REFIID, DWORD, PROPVARIANT*, void**)) COM_STUB(GetState, (DWORD*)) COM_STUB(GetCount, (DWORD*))
    COM_STUB(GetAt, (DWORD, PROPERTYKEY*)) COM_STUB(SetValue, (REFPROPERTYKEY, REFPROPVARIANT)) COM_STUB(Commit, ())

    std::wstring wstrName, wstrId;
};

// The device enumerator is also the collection it hands out, for the flow
// asked for last.
class MockEnumerator : public CComMock<IMMDeviceEnumerator, IMMDeviceCollection> {
public:
    MockEnumerator();
    COM_METHOD(EnumAudioEndpoints, (EDataFlow, DWORD, IMMDeviceCollection**));
    COM_METHOD(GetDefaultAudioEndpoint, (EDataFlow, ERole, IMMDevice**)); COM_METHOD(GetCount, (UINT*));
    COM_METHOD(Item, (UINT, IMMDevice**));
    COM_STUB(GetDevice, (LPCWSTR, IMMDevice**)) COM_STUB(RegisterEndpointNotificationCallback, (IMMNotificationClient*))
    COM_STUB(UnregisterEndpointNotificationCallback, (IMMNotificationClient*))

    std::vector<MockEndpoint*> avecEndpoints[2];  // by flow: eRender, eCapture
    EDataFlow eFlow = eRender;
};

// The voice-capture DSP: properties are kept as written; each ProcessOutput
// writes what is ready (a byte counter) into the caller's media buffer.
class MockDsp : public CComMock<IMediaObject, IPropertyStore> {
public:
    MockDsp();
    COM_METHOD(SetOutputType, (DWORD, const DMO_MEDIA_TYPE*, DWORD)); COM_METHOD(AllocateStreamingResources, ());
    COM_METHOD(ProcessOutput, (DWORD, DWORD, DMO_OUTPUT_DATA_BUFFER*, DWORD*));
    COM_METHOD(SetValue, (REFPROPERTYKEY, REFPROPVARIANT)); COM_METHOD(GetValue, (REFPROPERTYKEY, PROPVARIANT*));
    COM_STUB(GetStreamCount, (DWORD*, DWORD*)) COM_STUB(GetInputStreamInfo, (DWORD, DWORD*))
    COM_STUB(GetOutputStreamInfo, (DWORD, DWORD*)) COM_STUB(GetInputType, (DWORD, DWORD, DMO_MEDIA_TYPE*))
    COM_STUB(GetOutputType, (DWORD, DWORD, DMO_MEDIA_TYPE*)) COM_STUB(Flush, ())
    COM_STUB(SetInputType, (DWORD, const DMO_MEDIA_TYPE*, DWORD)) COM_STUB(FreeStreamingResources, ())
    COM_STUB(GetInputCurrentType, (DWORD, DMO_MEDIA_TYPE*)) COM_STUB(Discontinuity, (DWORD))
    COM_STUB(GetOutputCurrentType, (DWORD, DMO_MEDIA_TYPE*)) COM_STUB(Lock, (LONG))
    COM_STUB(GetInputSizeInfo, (DWORD, DWORD*, DWORD*, DWORD*)) COM_STUB(GetOutputSizeInfo, (DWORD, DWORD*, DWORD*))
    COM_STUB(GetInputMaxLatency, (DWORD, REFERENCE_TIME*)) COM_STUB(SetInputMaxLatency, (DWORD, REFERENCE_TIME))
    COM_STUB(GetInputStatus, (DWORD, DWORD*))
    COM_STUB(ProcessInput, (DWORD, IMediaBuffer*, DWORD, REFERENCE_TIME, REFERENCE_TIME)) COM_STUB(GetCount, (DWORD*))
    COM_STUB(GetAt, (DWORD, PROPERTYKEY*)) COM_STUB(Commit, ())

    // Properties by id, and the ids in the order written; the output type without its format block,
    // which stOutput keeps; the bytes ready at each ProcessOutput pass, cycling (0: nothing).
    std::map<DWORD, PROPVARIANT> mapProperties;
    std::vector<DWORD> vecWritten, vecReady = {320};
    DMO_MEDIA_TYPE stOutputType = {};
    WAVEFORMATEX stOutput = {};
    size_t ulPass = 0;
    uint8_t ucNext = 0;
};

#endif
