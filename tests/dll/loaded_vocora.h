// vocora.dll loaded the way a host loads it, fresh for each test: unloading
// it between tests gives every test a library that has never been initialised.
#ifndef VOCORA_TESTS_LOADED_VOCORA_H
#define VOCORA_TESTS_LOADED_VOCORA_H

#include <windows.h>

#include "vocora.h"

#define VOCORA_EXPORTS(X)                                                                   \
    X(Vocora_SetLogCB) X(Vocora_SetLogLevel) X(Vocora_GlobalInit) X(Vocora_Init)            \
    X(Vocora_Cleanup) X(Vocora_DeviceDetect) X(Vocora_CreatePlayDec) X(Vocora_DestoryPlayDec) \
    X(Vocora_PlayStart) X(Vocora_PlayStop) X(Vocora_Play) X(Vocora_SetPlayVolume)           \
    X(Vocora_GetPlayVolume) X(Vocora_CreateCaptureDec) X(Vocora_SetMicVolume)               \
    X(Vocora_GetMicVolume) X(Vocora_SetCaptureCallBack) X(Vocora_DestoryCaptureDec)         \
    X(Vocora_ForceUseWaveout)

class CLoadedVocora {
public:
    CLoadedVocora();
    ~CLoadedVocora();
    CLoadedVocora(const CLoadedVocora&) = delete;
    CLoadedVocora& operator=(const CLoadedVocora&) = delete;

    // True when every export resolved.
    bool IsComplete() const { return m_bComplete; }

#define VOCORA_DECLARE_EXPORT(name) decltype(&::name) name = nullptr;
    VOCORA_EXPORTS(VOCORA_DECLARE_EXPORT)
#undef VOCORA_DECLARE_EXPORT

private:
    HMODULE m_hModule = nullptr;
    bool m_bComplete = false;
};

// Whether any copy of vocora.dll is mapped into this process.
bool IsVocoraLoaded();

#endif
