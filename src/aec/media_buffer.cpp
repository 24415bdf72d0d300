#include "aec/media_buffer.h"

namespace {

// IMediaBuffer {59EFF8B9-938C-4A26-82F2-95CB84CDC837}.
const GUID kIidMediaBuffer = {
    0x59eff8b9, 0x938c, 0x4a26, {0x82, 0xf2, 0x95, 0xcb, 0x84, 0xcd, 0xc8, 0x37}};

}  // namespace

HRESULT CBaseMediaBuffer::QueryInterface(REFIID riid, void** ppvObject)
{
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == kIidMediaBuffer) {
        AddRef();  // through the table: a static buffer answers with its fixed count
        *ppvObject = static_cast<IMediaBuffer*>(this);
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG CBaseMediaBuffer::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_lRef));
}

ULONG CBaseMediaBuffer::Release()
{
    const LONG lRef = InterlockedDecrement(&m_lRef);
    if (lRef == 0) {
        // The interface's slots leave no room for a virtual destructor; only
        // plain CBaseMediaBuffer objects are counted down to zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
        delete this;  // the object only; the memory it stood for is its owner's
#pragma GCC diagnostic pop
    }
    return static_cast<ULONG>(lRef);
}

HRESULT CBaseMediaBuffer::SetLength(DWORD ulLength)
{
    if (ulLength > m_ulMaxLength) {
        return E_INVALIDARG;
    }
    m_ulLength = ulLength;
    return S_OK;
}

HRESULT CBaseMediaBuffer::GetMaxLength(DWORD* pulMaxLength)
{
    if (pulMaxLength == nullptr) {
        return E_POINTER;
    }
    *pulMaxLength = m_ulMaxLength;
    return S_OK;
}

HRESULT CBaseMediaBuffer::GetBufferAndLength(BYTE** ppucBuffer, DWORD* pulLength)
{
    if (ppucBuffer != nullptr) {
        *ppucBuffer = m_pucData;
    }
    if (pulLength != nullptr) {
        *pulLength = m_ulLength;
    }
    return S_OK;
}
