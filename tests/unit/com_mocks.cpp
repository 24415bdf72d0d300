#include "com_mocks.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "aec/aec_ids.h"

namespace {

// A default action that fails with hrFail when the fault strikes its site,
// and otherwise does what fnDo does.
template <class F>
auto Fallible(const char* pszSite, HRESULT hrFail, F fnDo)
{
    return [=](auto... args) -> HRESULT { return CFakePlatform::Fault(pszSite) ? hrFail : fnDo(args...); };
}
// The default action of a method whose fault site is named after it.
#define FALLIBLE(method, hrFail, ...) ON_CALL(*this, method).WillByDefault(Fallible(#method, hrFail, __VA_ARGS__))

// A lock of a looping buffer: the part up to its end, and the wrapped rest
// when the caller takes a second region.
template <class TMock>
auto LockAction(TMock* pMock, HRESULT hrFail)
{
    return Fallible("Lock", hrFail, [pMock](DWORD ulOffset, DWORD ulBytes, LPVOID* pp1, LPDWORD pul1, LPVOID* pp2, LPDWORD pul2, DWORD) {
        std::vector<uint8_t>& vecMemory = pMock->vecMemory;
        *pp1 = vecMemory.data() + ulOffset;
        *pul1 = std::min<DWORD>(ulBytes, static_cast<DWORD>(vecMemory.size()) - ulOffset);
        if (pp2 != nullptr) {
            *pul2 = ulBytes - *pul1;
            *pp2 = *pul2 != 0 ? vecMemory.data() : nullptr;
        }
        return S_OK;
    });
}

// Takes the description a buffer is created with, and hands the buffer out.
template <class TBuffer, class TDesc, class TInterface>
HRESULT CreateBuffer(TBuffer& oBuffer, const TDesc* pstDesc, TInterface** pp)
{
    oBuffer.stDesc = *pstDesc;
    oBuffer.stFormat = *pstDesc->lpwfxFormat;
    oBuffer.stDesc.lpwfxFormat = &oBuffer.stFormat;
    oBuffer.vecMemory.assign(pstDesc->dwBufferBytes, 0);
    return oBuffer.template Give<TInterface>(pp);
}

}  // namespace

MockSoundBuffer::MockSoundBuffer()
{
    Answer<IDirectSoundBuffer>(IID_IDirectSoundBuffer), Answer<IDirectSoundBuffer8>(IID_IDirectSoundBuffer8);
    // The write cursor moves on half a block at every look, as if the device played.
    FALLIBLE(GetCurrentPosition, DSERR_NODRIVER, [this](LPDWORD pulPlay, LPDWORD pulWrite) {
        const auto ulSize = static_cast<DWORD>(vecMemory.size());
        *pulWrite = ulWriteCursor = (ulWriteCursor + (bStuck ? 0 : ulSize / 8)) % ulSize;
        *pulPlay = (*pulWrite + ulSize - ulSize / 16) % ulSize;
        return S_OK;
    });
    ON_CALL(*this, GetStatus).WillByDefault([this](LPDWORD pul) {
        const DWORD ulLost = iLostLooks > 0 && iLostLooks-- > 0 ? DSBSTATUS_BUFFERLOST : 0;
        return *pul = (bPlaying ? DSBSTATUS_PLAYING | DSBSTATUS_LOOPING : 0) | ulLost, S_OK;
    });
    ON_CALL(*this, Restore).WillByDefault([this] { return ++iRestored, S_OK; });
    FALLIBLE(GetVolume, DSERR_CONTROLUNAVAIL, [this](LPLONG pl) { return *pl = lVolume, S_OK; });
    FALLIBLE(SetVolume, DSERR_CONTROLUNAVAIL, [this](LONG l) { return lVolume = l, S_OK; });
    FALLIBLE(Play, DSERR_BUFFERLOST, [this](DWORD ulReserved, DWORD ulPriority, DWORD) {
        return ulReserved != 0 || ulPriority != 0 ? DSERR_INVALIDPARAM : (bPlaying = true, S_OK);
    });
    FALLIBLE(Stop, DSERR_INVALIDCALL, [this] { return bPlaying = false, S_OK; });
    FALLIBLE(SetCurrentPosition, DSERR_INVALIDCALL, [this](DWORD ul) { return ulWriteCursor = ul, S_OK; });
    // Up to the write cursor the device has taken the audio: a lock across it writes over what plays.
    // A driver may also answer a lock with success and no region ("no region").
    ON_CALL(*this, Lock).WillByDefault([this, fnLock = LockAction(this, DSERR_BUFFERLOST)](DWORD ulOffset, DWORD ulBytes, LPVOID* pp, auto... args) {
        iBehindCursor += ulWriteCursor - ulOffset < ulBytes;
        return CFakePlatform::Fault("no region") ? (*pp = nullptr, S_OK) : fnLock(ulOffset, ulBytes, pp, args...);
    });
    FALLIBLE(Unlock, DSERR_INVALIDCALL, [this](LPVOID p1, DWORD ul1, LPVOID p2, DWORD ul2) {
        std::lock_guard<std::mutex> oLock(mtxPlayed);
        vecPlayed.insert(vecPlayed.end(), static_cast<uint8_t*>(p1), static_cast<uint8_t*>(p1) + ul1);
        return p2 == nullptr && ul2 != 0 ? DSERR_INVALIDPARAM : S_OK;
    });
}

MockDirectSound::MockDirectSound()
{
    FALLIBLE(SetCooperativeLevel, DSERR_PRIOLEVELNEEDED, [](HWND, DWORD) { return S_OK; });
    FALLIBLE(CreateSoundBuffer, DSERR_BADFORMAT, [this](LPCDSBUFFERDESC pst, LPLPDIRECTSOUNDBUFFER pp, IUnknown*) { return CreateBuffer(oBuffer, pst, pp); });
}

HRESULT WINAPI MockDirectSound::Create8(LPCGUID, LPDIRECTSOUND8* pp, LPUNKNOWN)
{
    sm_pCurrent->lBuffersAtCreate = sm_pCurrent->oBuffer.References();
    return CFakePlatform::Fault("DirectSoundCreate8") ? DSERR_NODRIVER : (++sm_pCurrent->iCreated, sm_pCurrent->Give(pp));
}

// Each start and each look at the cursor completes one more block of a byte
// counter and signals it, as the device does when its position passes a
// block's end.
MockCaptureBuffer::MockCaptureBuffer()
{
    Answer<IDirectSoundCaptureBuffer>(IID_IDirectSoundCaptureBuffer), Answer<IDirectSoundNotify>(IID_IDirectSoundNotify);
    FALLIBLE(SetNotificationPositions, DSERR_INVALIDPARAM, [this](DWORD ulCount, LPCDSBPOSITIONNOTIFY pst) { return vecNotify.assign(pst, pst + ulCount), S_OK; });
    FALLIBLE(Start, DSERR_NODRIVER, [this](DWORD) { return ::SetEvent(vecNotify.at(0).hEventNotify), S_OK; });
    ON_CALL(*this, GetCurrentPosition).WillByDefault([this](LPDWORD pulCapture, LPDWORD pulRead) -> HRESULT {
        ::Sleep(1);
        if (bStuck) {
            return *pulCapture = *pulRead = ulReadPos, S_OK;
        }
        ::SetEvent(vecNotify.at(0).hEventNotify);  // the device goes on whatever the reader meets
        if (CFakePlatform::Fault("GetCurrentPosition")) {
            return DSERR_NODRIVER;
        }
        const size_t ulBlock = vecMemory.size() / vecNotify.size();
        for (size_t i = 0; i < ulBlock; ++i) {
            vecMemory[(ulReadPos + i) % vecMemory.size()] = ucNext++;
        }
        *pulCapture = *pulRead = ulReadPos = static_cast<DWORD>((ulReadPos + ulBlock) % vecMemory.size());
        return S_OK;
    });
    ON_CALL(*this, Lock).WillByDefault(LockAction(this, DSERR_INVALIDCALL));
    FALLIBLE(Unlock, DSERR_INVALIDCALL, [](LPVOID, DWORD, LPVOID, DWORD) { return S_OK; });
    FALLIBLE(Stop, DSERR_NODRIVER, [] { return S_OK; });
}

MockDirectSoundCapture::MockDirectSoundCapture()
{
    // A new buffer starts at its beginning.
    FALLIBLE(CreateCaptureBuffer, DSERR_ALLOCATED, [this](LPCDSCBUFFERDESC pst, LPDIRECTSOUNDCAPTUREBUFFER* pp, LPUNKNOWN) {
        return oBuffer.ulReadPos = 0, CreateBuffer(oBuffer, pst, pp);
    });
}

HRESULT WINAPI MockDirectSoundCapture::Create8(LPCGUID pstDevice, LPDIRECTSOUNDCAPTURE8* pp, LPUNKNOWN)
{
    sm_pCurrent->stDevice = *pstDevice;
    sm_pCurrent->lBuffersAtCreate = sm_pCurrent->oBuffer.References();
    return CFakePlatform::Fault("DirectSoundCaptureCreate8") ? DSERR_NODRIVER : (++sm_pCurrent->iCreated, sm_pCurrent->Give(pp));
}

MockEndpoint::MockEndpoint(std::wstring wstrName, std::wstring wstrId)
    : wstrName(std::move(wstrName)), wstrId(std::move(wstrId))
{
    FALLIBLE(OpenPropertyStore, E_ACCESSDENIED, [this](DWORD, IPropertyStore** pp) { return Give(pp); });
    FALLIBLE(GetId, E_OUTOFMEMORY, [this](LPWSTR* ppwsz) { return *ppwsz = CFakePlatform::TaskText(this->wstrId.c_str()), S_OK; });
    FALLIBLE(GetValue, E_FAIL, [this](REFPROPERTYKEY stKey, PROPVARIANT* pst) {
        return pst->vt = VT_LPWSTR, pst->pwszVal = CFakePlatform::TaskText(this->wstrName.c_str()), stKey.pid == kPkeyDeviceFriendlyName.pid ? S_OK : E_INVALIDARG;
    });
}

MockEnumerator::MockEnumerator()
{
    Answer<IMMDeviceEnumerator>(kIidMMDeviceEnumerator);
    FALLIBLE(EnumAudioEndpoints, E_OUTOFMEMORY, [this](EDataFlow e, DWORD ulMask, IMMDeviceCollection** pp) {
        return eFlow = e, ulMask == DEVICE_STATE_ACTIVE ? Give(pp) : E_INVALIDARG;
    });
    FALLIBLE(GetDefaultAudioEndpoint, E_NOTFOUND, [this](EDataFlow e, ERole eRole, IMMDevice** pp) {
        return eRole == eConsole && !avecEndpoints[e].empty() ? avecEndpoints[e].back()->Give(pp) : E_NOTFOUND;
    });
    FALLIBLE(GetCount, E_FAIL, [this](UINT* pul) { return *pul = static_cast<UINT>(avecEndpoints[eFlow].size()), S_OK; });
    FALLIBLE(Item, E_INVALIDARG, [this](UINT ul, IMMDevice** pp) { return ul < avecEndpoints[eFlow].size() ? avecEndpoints[eFlow][ul]->Give(pp) : E_INVALIDARG; });
}

MockDsp::MockDsp()
{
    Answer<IMediaObject>(kIidMediaObject), Answer<IPropertyStore>(kIidPropertyStore);
    FALLIBLE(SetValue, E_INVALIDARG, [this](REFPROPERTYKEY stKey, REFPROPVARIANT stValue) {
        return mapProperties[stKey.pid] = stValue, vecWritten.push_back(stKey.pid), S_OK;
    });
    FALLIBLE(GetValue, E_FAIL, [this](REFPROPERTYKEY stKey, PROPVARIANT* pst) { return *pst = mapProperties[stKey.pid], S_OK; });
    FALLIBLE(SetOutputType, E_INVALIDARG, [this](DWORD, const DMO_MEDIA_TYPE* pst, DWORD) {
        return stOutputType = *pst, stOutputType.pbFormat = nullptr, std::memcpy(&stOutput, pst->pbFormat, sizeof stOutput), S_OK;
    });
    FALLIBLE(AllocateStreamingResources, E_OUTOFMEMORY, [] { return S_OK; });
    // What is ready this pass, cycling through vecReady; more to come while the cycle lasts.
    FALLIBLE(ProcessOutput, E_FAIL, [this](DWORD, DWORD ulBuffers, DMO_OUTPUT_DATA_BUFFER* pst, DWORD*) {
        if (ulBuffers != 1) {
            return E_INVALIDARG;
        }
        const DWORD ulReady = vecReady[ulPass++ % vecReady.size()];
        BYTE* puc = nullptr;
        DWORD ulMax = 0;
        if (FAILED(pst->pBuffer->GetBufferAndLength(&puc, nullptr)) || FAILED(pst->pBuffer->GetMaxLength(&ulMax))) {
            return E_FAIL;  // as the DSP does with a buffer it cannot use
        }
        const DWORD ulLength = std::min(ulReady, ulMax);
        std::iota(puc, puc + ulLength, ucNext), ucNext = static_cast<uint8_t>(ucNext + ulLength);
        pst->pBuffer->SetLength(ulLength);
        pst->dwStatus = ulPass % vecReady.size() != 0 ? DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE : 0;
        return ulReady == 0 ? S_FALSE : S_OK;
    });
}
