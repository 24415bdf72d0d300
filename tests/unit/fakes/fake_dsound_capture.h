// DirectSound capture fakes. The test advances the capture and read positions;
// the fake signals the notification event as real DirectSound does when a
// position is passed, and can split, fail or empty a lock. References are
// counted over both interfaces of the buffer.
#ifndef VOCORA_TESTS_FAKE_DSOUND_CAPTURE_H
#define VOCORA_TESTS_FAKE_DSOUND_CAPTURE_H

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class CFakeCaptureBuffer : public IDirectSoundCaptureBuffer, public IDirectSoundNotify {
public:
    explicit CFakeCaptureBuffer(DWORD ulBytes);

    HRESULT m_hrQueryNotify = S_OK;
    HRESULT m_hrSetNotificationPositions = DS_OK;
    HRESULT m_hrStart = DS_OK;
    HRESULT m_hrStop = DS_OK;
    HRESULT m_hrUnlock = DS_OK;
    std::atomic<HRESULT> m_hrLock{DS_OK};
    std::atomic<HRESULT> m_hrGetCurrentPosition{DS_OK};
    std::atomic<DWORD> m_ulSplitNextLockAt{0};  // split the next lock after this many bytes
    std::atomic<bool> m_bNextLockEmpty{false};  // the next lock has no first region

    // Captures ulBytes more: the bytes are a running counter, and every
    // notification position passed signals its event.
    void Advance(DWORD ulBytes);
    // The byte the fake wrote at stream position ulPosition.
    static uint8_t ByteAt(uint64_t ullPosition) { return static_cast<uint8_t>(ullPosition * 7 + 3); }

    std::vector<DSBPOSITIONNOTIFY> Positions();
    DWORD StartFlags() const { return m_ulStartFlags; }
    int Stops() const { return m_iStops; }
    int Locks() const { return m_iLocks; }
    LONG References() const { return m_lRefs; }

    // IUnknown, shared by both interfaces
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_lRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_lRefs; }
    // IDirectSoundCaptureBuffer
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSCBCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD pulCapture, LPDWORD pulRead) override;
    HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Lock(DWORD ulOffset, DWORD ulBytes, LPVOID* ppv1, LPDWORD pul1,
                                   LPVOID* ppv2, LPDWORD pul2, DWORD ulFlags) override;
    HRESULT STDMETHODCALLTYPE Start(DWORD ulFlags) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return m_hrUnlock; }
    // IDirectSoundNotify
    HRESULT STDMETHODCALLTYPE SetNotificationPositions(DWORD ulCount,
                                                       LPCDSBPOSITIONNOTIFY pstPositions) override;

private:
    std::mutex m_mtx;
    std::vector<uint8_t> m_vecMemory;
    uint64_t m_ullCaptured = 0;  // bytes captured since creation
    std::vector<DSBPOSITIONNOTIFY> m_vecPositions;
    std::atomic<LONG> m_lRefs{0};
    DWORD m_ulStartFlags = 0;
    std::atomic<int> m_iStops{0};
    std::atomic<int> m_iLocks{0};
};

class CFakeDirectSoundCapture : public IDirectSoundCapture {
public:
    HRESULT m_hrCreateCaptureBuffer = DS_OK;
    HRESULT m_hrNewBufferQueryNotify = S_OK;  // scripted into each new buffer
    HRESULT m_hrNewBufferNotificationPositions = DS_OK;
    CFakeCaptureBuffer* Buffer() { return m_pBuffer.get(); }
    DSCBUFFERDESC m_stLastDesc = {};
    WAVEFORMATEX m_stLastFormat = {};
    LONG References() const { return m_lRefs; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_lRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_lRefs; }
    HRESULT STDMETHODCALLTYPE CreateCaptureBuffer(LPCDSCBUFFERDESC pDesc,
                                                  LPDIRECTSOUNDCAPTUREBUFFER* ppBuffer,
                                                  LPUNKNOWN) override;
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSCCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return E_NOTIMPL; }

private:
    std::atomic<LONG> m_lRefs{0};
    std::unique_ptr<CFakeCaptureBuffer> m_pBuffer;
};

// DirectSoundCaptureCreate8 as DSOUND.DLL exports it.
struct FakeDirectSoundCaptureCreate {
    static CFakeDirectSoundCapture* sm_pDevice;
    static HRESULT sm_hrResult;
    static GUID sm_stLastDevice;
    static HRESULT WINAPI Create(LPCGUID pGuid, LPDIRECTSOUNDCAPTURE8* ppDevice, LPUNKNOWN pOuter);
};

#endif
