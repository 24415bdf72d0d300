// DirectSound device and sound buffer fakes. Every result is scripted, the
// test moves the cursors, and references are counted so that each test can
// check that what the player obtained it also released.
#ifndef VOCORA_TESTS_FAKE_DSOUND_H
#define VOCORA_TESTS_FAKE_DSOUND_H

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class CFakeSoundBuffer : public IDirectSoundBuffer8 {
public:
    explicit CFakeSoundBuffer(DWORD ulBytes) : m_vecMemory(ulBytes, 0xAB) {}

    // Scripted results.
    HRESULT m_hrQueryInterface = S_OK;
    HRESULT m_hrSetCurrentPosition = DS_OK;
    HRESULT m_hrPlay = DS_OK;
    HRESULT m_hrSetVolume = DS_OK;
    HRESULT m_hrGetVolume = DS_OK;
    HRESULT m_hrGetCurrentPosition = DS_OK;
    HRESULT m_hrLock = DS_OK;
    HRESULT m_hrUnlock = DS_OK;
    bool m_bLockReturnsNull = false;
    bool m_bLostForGood = false;  // Restore cannot bring the buffer back

    // What the test moves and reads.
    void SetWriteCursor(DWORD ulCursor);
    void SetStatus(DWORD ulStatus);
    std::vector<uint8_t> Memory(DWORD ulOffset, DWORD ulLength);
    LONG Volume();
    std::vector<DWORD> LockOffsets();
    int Calls(const char* pszMethod);
    LONG References() const { return m_lRefs; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_lRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_lRefs; }
    // IDirectSoundBuffer
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD pulPlay, LPDWORD pulWrite) override;
    HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolume(LPLONG plVolume) override;
    HRESULT STDMETHODCALLTYPE GetPan(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD pulStatus) override;
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Lock(DWORD ulOffset, DWORD ulBytes, LPVOID* ppv1, LPDWORD pul1,
                                   LPVOID* ppv2, LPDWORD pul2, DWORD ulFlags) override;
    HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD ulFlags) override;
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(DWORD ulPosition) override;
    HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetVolume(LONG lVolume) override;
    HRESULT STDMETHODCALLTYPE SetPan(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFrequency(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID pv1, DWORD ul1, LPVOID pv2, DWORD ul2) override;
    HRESULT STDMETHODCALLTYPE Restore() override;
    // IDirectSoundBuffer8
    HRESULT STDMETHODCALLTYPE SetFX(DWORD, LPDSEFFECTDESC, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AcquireResources(DWORD, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectInPath(REFGUID, DWORD, REFGUID, LPVOID*) override
    {
        return E_NOTIMPL;
    }

private:
    void Count(const char* pszMethod);

    std::mutex m_mtx;
    std::vector<uint8_t> m_vecMemory;
    std::atomic<LONG> m_lRefs{0};
    DWORD m_ulWriteCursor = 0;
    DWORD m_ulStatus = 0;
    LONG m_lVolume = 0;
    std::vector<DWORD> m_vecLockOffsets;
    std::vector<std::pair<const char*, int>> m_vecCalls;
};

class CFakeDirectSound : public IDirectSound8 {
public:
    HRESULT m_hrSetCooperativeLevel = DS_OK;
    HRESULT m_hrCreateSoundBuffer = DS_OK;
    HRESULT m_hrNewBufferQueryInterface = S_OK;  // scripted into each new buffer

    // The buffer the last successful CreateSoundBuffer made, and what it was asked for.
    CFakeSoundBuffer* Buffer() { return m_pBuffer.get(); }
    DSBUFFERDESC m_stLastDesc = {};
    WAVEFORMATEX m_stLastFormat = {};
    HWND m_hCooperativeWindow = nullptr;
    DWORD m_ulCooperativeLevel = 0;
    LONG References() const { return m_lRefs; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_lRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_lRefs; }
    // IDirectSound
    HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC pDesc, LPDIRECTSOUNDBUFFER* ppBuffer,
                                                LPUNKNOWN) override;
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER, LPDIRECTSOUNDBUFFER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND hWindow, DWORD ulLevel) override;
    HRESULT STDMETHODCALLTYPE Compact() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSpeakerConfig(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSpeakerConfig(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return E_NOTIMPL; }
    // IDirectSound8
    HRESULT STDMETHODCALLTYPE VerifyCertification(LPDWORD) override { return E_NOTIMPL; }

private:
    std::atomic<LONG> m_lRefs{0};
    std::unique_ptr<CFakeSoundBuffer> m_pBuffer;
};

// DirectSoundCreate8 as DSOUND.DLL exports it, handing out the current fake
// device with the scripted result.
struct FakeDirectSoundCreate {
    static CFakeDirectSound* sm_pDevice;
    static HRESULT sm_hrResult;
    static int sm_iCalls;
    static HRESULT WINAPI Create(LPCGUID pGuid, LPDIRECTSOUND8* ppDevice, LPUNKNOWN pOuter);
};

#endif
