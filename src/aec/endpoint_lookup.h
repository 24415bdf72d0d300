// The active audio endpoints as the voice-capture DSP numbers them: counts,
// records with names and identifiers, the default endpoint, and whether an
// endpoint is a microphone array. Every function creates and releases its own
// device enumerator, so each may run on any thread where COM is usable.
#ifndef VOCORA_AEC_ENDPOINT_LOOKUP_H
#define VOCORA_AEC_ENDPOINT_LOOKUP_H

#include <windows.h>
#include <dmo.h>  // before the topology header, which needs its definitions
#include <mmdeviceapi.h>

#include <cstdint>

struct AecEndpointInfo {
    wchar_t wszName[512];
    wchar_t wszId[512];
    bool bMicArray;
};

// Names and identifiers are cut at 510 characters.
constexpr uint32_t kulEndpointTextUnits = 511;

HRESULT CountEndpoints(EDataFlow eFlow, uint32_t* pulCount);
// E_INVALIDARG, with nothing filled, when the count is no longer ulExpected.
HRESULT ListEndpoints(EDataFlow eFlow, uint32_t ulExpected, AecEndpointInfo* pstRecords);
HRESULT ReadDefaultEndpoint(EDataFlow eFlow, AecEndpointInfo* pstRecord);
HRESULT CheckMicArrayJack(IMMDevice* pDevice, bool* pbMicArray);
HRESULT QueryJackSubtype(IMMDevice* pDevice, GUID* pstSubtype);
// Converts to pszBuffer in ulCodePage; the buffer, or null when nothing converted.
char* WideToAnsi(char* pszBuffer, const wchar_t* pwszText, uint32_t ulBufferBytes,
                 uint32_t ulCodePage);

#endif
