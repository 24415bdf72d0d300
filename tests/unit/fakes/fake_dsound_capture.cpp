#include "fake_dsound_capture.h"

#include <algorithm>

CFakeCaptureBuffer::CFakeCaptureBuffer(DWORD ulBytes) : m_vecMemory(ulBytes, 0) {}

HRESULT CFakeCaptureBuffer::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (riid == IID_IDirectSoundNotify) {
        if (m_hrQueryNotify != S_OK) {
            return m_hrQueryNotify;
        }
        *ppv = static_cast<IDirectSoundNotify*>(this);
    } else if (riid == IID_IDirectSoundCaptureBuffer || riid == IID_IUnknown) {
        *ppv = static_cast<IDirectSoundCaptureBuffer*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

void CFakeCaptureBuffer::Advance(DWORD ulBytes)
{
    std::vector<HANDLE> vecToSignal;
    {
        std::lock_guard<std::mutex> oLock(m_mtx);
        const uint64_t ullSize = m_vecMemory.size();
        for (DWORD i = 0; i < ulBytes; ++i) {
            const uint64_t ullAt = m_ullCaptured + i;
            m_vecMemory[ullAt % ullSize] = ByteAt(ullAt);
            for (const DSBPOSITIONNOTIFY& stPosition : m_vecPositions) {
                if (ullAt % ullSize == stPosition.dwOffset) {
                    vecToSignal.push_back(stPosition.hEventNotify);
                }
            }
        }
        m_ullCaptured += ulBytes;
    }
    for (HANDLE hEvent : vecToSignal) {
        SetEvent(hEvent);
    }
}

std::vector<DSBPOSITIONNOTIFY> CFakeCaptureBuffer::Positions()
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_vecPositions;
}

HRESULT CFakeCaptureBuffer::GetCurrentPosition(LPDWORD pulCapture, LPDWORD pulRead)
{
    if (m_hrGetCurrentPosition != DS_OK) {
        return m_hrGetCurrentPosition;
    }
    std::lock_guard<std::mutex> oLock(m_mtx);
    *pulRead = static_cast<DWORD>(m_ullCaptured % m_vecMemory.size());
    *pulCapture = *pulRead;
    return DS_OK;
}

HRESULT CFakeCaptureBuffer::Lock(DWORD ulOffset, DWORD ulBytes, LPVOID* ppv1, LPDWORD pul1,
                                 LPVOID* ppv2, LPDWORD pul2, DWORD)
{
    ++m_iLocks;
    if (m_hrLock != DS_OK) {
        return m_hrLock;
    }
    std::lock_guard<std::mutex> oLock(m_mtx);
    const DWORD ulSize = static_cast<DWORD>(m_vecMemory.size());
    if (ulOffset >= ulSize || ulBytes > ulSize) {
        return DSERR_INVALIDPARAM;
    }
    DWORD ulFirst = std::min(ulBytes, ulSize - ulOffset);
    if (const DWORD ulSplit = m_ulSplitNextLockAt.exchange(0); ulSplit != 0 && ulSplit < ulFirst) {
        ulFirst = ulSplit;
    }
    *ppv1 = m_vecMemory.data() + ulOffset;
    *pul1 = ulFirst;
    if (m_bNextLockEmpty.exchange(false)) {
        *ppv1 = nullptr;
        *pul1 = 0;
    }
    *ppv2 = nullptr;
    *pul2 = 0;
    if (ulFirst < ulBytes) {
        *ppv2 = m_vecMemory.data() + (ulOffset + ulFirst) % ulSize;
        *pul2 = ulBytes - ulFirst;
    }
    return DS_OK;
}

HRESULT CFakeCaptureBuffer::Start(DWORD ulFlags)
{
    m_ulStartFlags = ulFlags;
    return m_hrStart;
}

HRESULT CFakeCaptureBuffer::Stop()
{
    ++m_iStops;
    return m_hrStop;
}

HRESULT CFakeCaptureBuffer::SetNotificationPositions(DWORD ulCount, LPCDSBPOSITIONNOTIFY pstPositions)
{
    if (m_hrSetNotificationPositions != DS_OK) {
        return m_hrSetNotificationPositions;
    }
    std::lock_guard<std::mutex> oLock(m_mtx);
    m_vecPositions.assign(pstPositions, pstPositions + ulCount);
    return DS_OK;
}

HRESULT CFakeDirectSoundCapture::CreateCaptureBuffer(LPCDSCBUFFERDESC pDesc,
                                                     LPDIRECTSOUNDCAPTUREBUFFER* ppBuffer, LPUNKNOWN)
{
    m_stLastDesc = *pDesc;
    m_stLastFormat = *pDesc->lpwfxFormat;
    if (m_hrCreateCaptureBuffer != DS_OK) {
        return m_hrCreateCaptureBuffer;
    }
    m_pBuffer = std::make_unique<CFakeCaptureBuffer>(pDesc->dwBufferBytes);
    m_pBuffer->m_hrQueryNotify = m_hrNewBufferQueryNotify;
    m_pBuffer->m_hrSetNotificationPositions = m_hrNewBufferNotificationPositions;
    m_pBuffer->AddRef();
    *ppBuffer = m_pBuffer.get();
    return DS_OK;
}

CFakeDirectSoundCapture* FakeDirectSoundCaptureCreate::sm_pDevice = nullptr;
HRESULT FakeDirectSoundCaptureCreate::sm_hrResult = DS_OK;
GUID FakeDirectSoundCaptureCreate::sm_stLastDevice = {};

HRESULT WINAPI FakeDirectSoundCaptureCreate::Create(LPCGUID pGuid, LPDIRECTSOUNDCAPTURE8* ppDevice,
                                                    LPUNKNOWN pOuter)
{
    sm_stLastDevice = pGuid != nullptr ? *pGuid : GUID{};
    if (pOuter != nullptr) {
        return DSERR_INVALIDPARAM;
    }
    if (FAILED(sm_hrResult)) {
        return sm_hrResult;
    }
    sm_pDevice->AddRef();
    *ppDevice = sm_pDevice;
    return sm_hrResult;
}
