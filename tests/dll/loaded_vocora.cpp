#include "loaded_vocora.h"

CLoadedVocora::CLoadedVocora() : m_hModule(LoadLibraryW(L"vocora.dll"))
{
    if (m_hModule == nullptr) {
        return;
    }
    m_bComplete = true;
#define VOCORA_RESOLVE_EXPORT(name)                                                      \
    name = reinterpret_cast<decltype(name)>(                                             \
        reinterpret_cast<void*>(GetProcAddress(m_hModule, #name)));                      \
    m_bComplete = m_bComplete && name != nullptr;
    VOCORA_EXPORTS(VOCORA_RESOLVE_EXPORT)
#undef VOCORA_RESOLVE_EXPORT
}

CLoadedVocora::~CLoadedVocora()
{
    if (m_hModule != nullptr) {
        FreeLibrary(m_hModule);
    }
}

bool IsVocoraLoaded()
{
    return GetModuleHandleW(L"vocora.dll") != nullptr;
}
