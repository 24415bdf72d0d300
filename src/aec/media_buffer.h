// IMediaBuffer over memory that someone else owns: the DSP writes its output
// through it. CStaticMediaBuffer lives inside its owner, so the DSP may take
// and drop references during a call without ever destroying it.
#ifndef VOCORA_AEC_MEDIA_BUFFER_H
#define VOCORA_AEC_MEDIA_BUFFER_H

#include <windows.h>
#include <mediaobj.h>

#include <cstdint>

#include "common/platform.h"

class CBaseMediaBuffer : public IMediaBuffer, public CPlatformAllocated {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SetLength(DWORD ulLength) override;
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pulMaxLength) override;
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** ppucBuffer, DWORD* pulLength) override;

protected:
    // Destroyed through Release only; the interface has no virtual destructor.
    ~CBaseMediaBuffer() = default;

    uint8_t* m_pucData = nullptr;
    uint32_t m_ulMaxLength = 0;
    uint32_t m_ulLength = 0;
    LONG m_lRef = 0;
};

class CStaticMediaBuffer : public CBaseMediaBuffer {
public:
    CStaticMediaBuffer() = default;
    ~CStaticMediaBuffer() = default;

    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    void SetBuffer(uint8_t* pucData, uint32_t ulMaxLength, uint32_t ulLength)
    {
        m_pucData = pucData;
        m_ulMaxLength = ulMaxLength;
        m_ulLength = ulLength;
    }
};

#endif
