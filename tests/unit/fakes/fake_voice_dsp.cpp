#include "fake_voice_dsp.h"

#include <algorithm>
#include <cstdio>

#include "aec/aec_ids.h"

namespace {

// The property id when the key is one of the DSP's own, else none.
bool DspPropertyId(REFPROPERTYKEY stKey, DWORD* pulId)
{
    *pulId = stKey.pid;
    return stKey.fmtid == kPkeyAecSystemMode.fmtid;
}

}  // namespace

HRESULT CFakeVoiceDsp::Create(REFIID riid, void** ppv)
{
    return FAILED(m_hrCreate) ? m_hrCreate : QueryInterface(riid, ppv);
}

HRESULT CFakeVoiceDsp::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (riid == kIidPropertyStore) {
        if (FAILED(m_hrQueryProperties)) {
            return m_hrQueryProperties;
        }
        *ppv = static_cast<IPropertyStore*>(this);
    } else if (riid == kIidMediaObject || riid == IID_IUnknown) {
        *ppv = static_cast<IMediaObject*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT CFakeVoiceDsp::SetValue(REFPROPERTYKEY stKey, REFPROPVARIANT stValue)
{
    DWORD ulId = 0;
    if (!DspPropertyId(stKey, &ulId)) {
        m_vecCalls.push_back("foreign");
        return E_INVALIDARG;
    }
    const long lValue = stValue.vt == VT_BOOL ? stValue.boolVal : stValue.lVal;
    char szCall[64];
    std::snprintf(szCall, sizeof szCall, "set %lu vt%u %ld", ulId, stValue.vt, lValue);
    m_vecCalls.push_back(szCall);
    const auto it = m_mapSetFailures.find(ulId);
    if (it != m_mapSetFailures.end() && FAILED(it->second)) {
        return it->second;
    }
    m_mapValues[ulId] = stValue;
    return S_OK;
}

HRESULT CFakeVoiceDsp::GetValue(REFPROPERTYKEY stKey, PROPVARIANT* pstValue)
{
    DWORD ulId = 0;
    if (!DspPropertyId(stKey, &ulId)) {
        m_vecCalls.push_back("foreign");
        return E_INVALIDARG;
    }
    m_vecCalls.push_back("get " + std::to_string(ulId));
    const auto it = m_mapGetFailures.find(ulId);
    if (it != m_mapGetFailures.end() && FAILED(it->second)) {
        return it->second;
    }
    PropVariantInit(pstValue);
    const auto itValue = m_mapValues.find(ulId);
    if (itValue != m_mapValues.end()) {
        *pstValue = itValue->second;  // plain numbers only: nothing to copy deeply
    }
    return S_OK;
}

HRESULT CFakeVoiceDsp::SetOutputType(DWORD ulStream, const DMO_MEDIA_TYPE* pstType, DWORD ulFlags)
{
    m_vecCalls.push_back(ulStream == 0 && ulFlags == 0 ? "type" : "type elsewhere");
    m_stOutputType = *pstType;
    m_stOutputType.pbFormat = nullptr;
    if (pstType->pbFormat != nullptr) {
        std::copy_n(pstType->pbFormat, std::min<size_t>(pstType->cbFormat, sizeof m_stOutputFormat),
                    reinterpret_cast<BYTE*>(&m_stOutputFormat));
    }
    return m_hrSetOutputType;
}

HRESULT CFakeVoiceDsp::AllocateStreamingResources()
{
    m_vecCalls.push_back("alloc");
    return m_hrAllocate;
}

HRESULT CFakeVoiceDsp::ProcessOutput(DWORD ulFlags, DWORD ulCount,
                                     DMO_OUTPUT_DATA_BUFFER* pstBuffers, DWORD* pulStatus)
{
    if (ulFlags != 0 || ulCount != 1 || pstBuffers == nullptr || pulStatus == nullptr) {
        return E_INVALIDARG;
    }
    ++m_iPulls;
    if (m_dqSteps.empty()) {
        return S_FALSE;
    }
    const DspStep stStep = m_dqSteps.front();
    m_dqSteps.pop_front();
    IMediaBuffer* pBuffer = pstBuffers[0].pBuffer;
    DWORD ulMax = 0;
    DWORD ulLength = 0;
    BYTE* pucData = nullptr;
    if (FAILED(pBuffer->GetMaxLength(&ulMax)) ||
        FAILED(pBuffer->GetBufferAndLength(&pucData, &ulLength))) {
        return E_FAIL;
    }
    const DWORD ulBytes = std::min(stStep.ulBytes, ulMax - ulLength);
    m_vecWrittenAt.push_back(pucData + ulLength);
    for (DWORD i = 0; i < ulBytes; ++i) {
        pucData[ulLength + i] = ByteAt(m_ulProduced++);
    }
    pBuffer->SetLength(ulLength + ulBytes);
    if (stStep.bIncomplete) {
        pstBuffers[0].dwStatus |= DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
    }
    return stStep.hr;
}

std::atomic<int> CStreamingVoiceDsp::sm_iLive{0};

ULONG CStreamingVoiceDsp::Release()
{
    const LONG lRefs = --m_lStreamRefs;
    if (lRefs == 0) {
        delete this;
    }
    return static_cast<ULONG>(lRefs);
}

HRESULT CStreamingVoiceDsp::ProcessOutput(DWORD, DWORD ulCount, DMO_OUTPUT_DATA_BUFFER* pstBuffers,
                                          DWORD*)
{
    BYTE* pucData = nullptr;
    DWORD ulLength = 0;
    DWORD ulMax = 0;
    if (ulCount != 1 || FAILED(pstBuffers[0].pBuffer->GetMaxLength(&ulMax)) ||
        FAILED(pstBuffers[0].pBuffer->GetBufferAndLength(&pucData, &ulLength))) {
        return E_INVALIDARG;
    }
    const DWORD ulBytes = std::min<DWORD>(kulBytesPerPull, ulMax - ulLength);
    for (DWORD i = 0; i < ulBytes; ++i) {
        pucData[ulLength + i] = ByteAt(m_ulStreamed++);
    }
    pstBuffers[0].pBuffer->SetLength(ulLength + ulBytes);
    return S_OK;
}

HRESULT CStreamingVoiceDsp::CreateInstance(REFIID riid, void** ppv)
{
    auto* poDsp = new CStreamingVoiceDsp();
    poDsp->AddRef();
    const HRESULT hr = poDsp->QueryInterface(riid, ppv);
    poDsp->Release();
    return hr;
}
