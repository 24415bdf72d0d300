#include "fake_dsound.h"

#include <cstring>

HRESULT CFakeSoundBuffer::QueryInterface(REFIID riid, void** ppv)
{
    Count("QueryInterface");
    *ppv = nullptr;
    if (m_hrQueryInterface != S_OK) {
        return m_hrQueryInterface;
    }
    if (riid != IID_IDirectSoundBuffer8 && riid != IID_IDirectSoundBuffer && riid != IID_IUnknown) {
        return E_NOINTERFACE;
    }
    AddRef();
    *ppv = static_cast<IDirectSoundBuffer8*>(this);  // also serves the older interfaces
    return S_OK;
}

void CFakeSoundBuffer::Count(const char* pszMethod)
{
    for (auto& stCall : m_vecCalls) {
        if (std::strcmp(stCall.first, pszMethod) == 0) {
            ++stCall.second;
            return;
        }
    }
    m_vecCalls.emplace_back(pszMethod, 1);
}

int CFakeSoundBuffer::Calls(const char* pszMethod)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    for (const auto& stCall : m_vecCalls) {
        if (std::strcmp(stCall.first, pszMethod) == 0) {
            return stCall.second;
        }
    }
    return 0;
}

void CFakeSoundBuffer::SetWriteCursor(DWORD ulCursor)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    m_ulWriteCursor = ulCursor;
}

void CFakeSoundBuffer::SetStatus(DWORD ulStatus)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    m_ulStatus = ulStatus;
}

std::vector<uint8_t> CFakeSoundBuffer::Memory(DWORD ulOffset, DWORD ulLength)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return {m_vecMemory.begin() + ulOffset, m_vecMemory.begin() + ulOffset + ulLength};
}

LONG CFakeSoundBuffer::Volume()
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_lVolume;
}

std::vector<DWORD> CFakeSoundBuffer::LockOffsets()
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    return m_vecLockOffsets;
}

HRESULT CFakeSoundBuffer::GetCurrentPosition(LPDWORD pulPlay, LPDWORD pulWrite)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("GetCurrentPosition");
    if (m_hrGetCurrentPosition != DS_OK) {
        return m_hrGetCurrentPosition;
    }
    *pulPlay = m_ulWriteCursor;
    *pulWrite = m_ulWriteCursor;
    return DS_OK;
}

HRESULT CFakeSoundBuffer::GetVolume(LPLONG plVolume)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("GetVolume");
    if (m_hrGetVolume == DS_OK) {
        *plVolume = m_lVolume;
    }
    return m_hrGetVolume;
}

HRESULT CFakeSoundBuffer::GetStatus(LPDWORD pulStatus)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("GetStatus");
    *pulStatus = m_ulStatus;
    return DS_OK;
}

HRESULT CFakeSoundBuffer::Lock(DWORD ulOffset, DWORD ulBytes, LPVOID* ppv1, LPDWORD pul1,
                               LPVOID* ppv2, LPDWORD pul2, DWORD)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("Lock");
    if (m_hrLock != DS_OK) {
        return m_hrLock;
    }
    if ((m_ulStatus & DSBSTATUS_BUFFERLOST) != 0) {
        return DSERR_BUFFERLOST;
    }
    if (ppv2 != nullptr || pul2 != nullptr || ulOffset + ulBytes > m_vecMemory.size()) {
        return DSERR_INVALIDPARAM;
    }
    m_vecLockOffsets.push_back(ulOffset);
    *ppv1 = m_bLockReturnsNull ? nullptr : m_vecMemory.data() + ulOffset;
    *pul1 = ulBytes;
    return DS_OK;
}

HRESULT CFakeSoundBuffer::Play(DWORD, DWORD, DWORD ulFlags)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("Play");
    if (m_hrPlay == DS_OK && ulFlags == DSBPLAY_LOOPING) {
        m_ulStatus |= DSBSTATUS_PLAYING | DSBSTATUS_LOOPING;
    }
    return m_hrPlay;
}

HRESULT CFakeSoundBuffer::SetCurrentPosition(DWORD ulPosition)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("SetCurrentPosition");
    if (m_hrSetCurrentPosition == DS_OK) {
        m_ulWriteCursor = ulPosition;
    }
    return m_hrSetCurrentPosition;
}

HRESULT CFakeSoundBuffer::SetVolume(LONG lVolume)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("SetVolume");
    if (m_hrSetVolume == DS_OK) {
        m_lVolume = lVolume;
    }
    return m_hrSetVolume;
}

HRESULT CFakeSoundBuffer::Stop()
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("Stop");
    m_ulStatus &= ~static_cast<DWORD>(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    return DS_OK;
}

HRESULT CFakeSoundBuffer::Unlock(LPVOID, DWORD, LPVOID, DWORD)
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("Unlock");
    return m_hrUnlock;
}

HRESULT CFakeSoundBuffer::Restore()
{
    std::lock_guard<std::mutex> oLock(m_mtx);
    Count("Restore");
    if (!m_bLostForGood) {
        m_ulStatus &= ~static_cast<DWORD>(DSBSTATUS_BUFFERLOST);
    }
    return DS_OK;
}

HRESULT CFakeDirectSound::CreateSoundBuffer(LPCDSBUFFERDESC pDesc, LPDIRECTSOUNDBUFFER* ppBuffer,
                                            LPUNKNOWN)
{
    m_stLastDesc = *pDesc;
    m_stLastFormat = *pDesc->lpwfxFormat;
    if (m_hrCreateSoundBuffer != DS_OK) {
        return m_hrCreateSoundBuffer;
    }
    m_pBuffer = std::make_unique<CFakeSoundBuffer>(pDesc->dwBufferBytes);
    m_pBuffer->m_hrQueryInterface = m_hrNewBufferQueryInterface;
    m_pBuffer->AddRef();
    // The headers declare the two interfaces apart; the table of the later one
    // begins with the earlier one's.
    *ppBuffer = reinterpret_cast<IDirectSoundBuffer*>(static_cast<IDirectSoundBuffer8*>(m_pBuffer.get()));
    return DS_OK;
}

HRESULT CFakeDirectSound::SetCooperativeLevel(HWND hWindow, DWORD ulLevel)
{
    m_hCooperativeWindow = hWindow;
    m_ulCooperativeLevel = ulLevel;
    return m_hrSetCooperativeLevel;
}

CFakeDirectSound* FakeDirectSoundCreate::sm_pDevice = nullptr;
HRESULT FakeDirectSoundCreate::sm_hrResult = DS_OK;
int FakeDirectSoundCreate::sm_iCalls = 0;

HRESULT WINAPI FakeDirectSoundCreate::Create(LPCGUID pGuid, LPDIRECTSOUND8* ppDevice, LPUNKNOWN pOuter)
{
    ++sm_iCalls;
    if (pGuid != nullptr || pOuter != nullptr) {
        return DSERR_INVALIDPARAM;
    }
    if (FAILED(sm_hrResult)) {
        return sm_hrResult;
    }
    sm_pDevice->AddRef();
    *ppDevice = sm_pDevice;
    return sm_hrResult;
}
