#include "log_capture.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace {
std::atomic<CLogCapture*> sm_pActiveCapture{nullptr};
}

CLogCapture::CLogCapture()
{
    CLogCapture* pExpected = nullptr;
    if (!sm_pActiveCapture.compare_exchange_strong(pExpected, this)) {
        throw std::logic_error("only one CLogCapture at a time");
    }
}

CLogCapture::~CLogCapture()
{
    sm_pActiveCapture.store(nullptr);
}

VocoraLogCallback CLogCapture::Callback()
{
    return &CLogCapture::OnLog;
}

void VOCORA_CALL CLogCapture::OnLog(void* pContext, int32_t lLevel, const char* pszFile,
                                    uint32_t ulLine, const char* pszFunction,
                                    const char* pszFormat, va_list vaArgs)
{
    CLogCapture* pCapture = sm_pActiveCapture.load();
    if (pCapture == nullptr) {
        return;
    }
    char szText[1024];
    std::vsnprintf(szText, sizeof szText, pszFormat, vaArgs);
    LogRecord stRecord{pContext,
                       lLevel,
                       pszFile != nullptr ? pszFile : "(null)",
                       ulLine,
                       pszFunction != nullptr ? pszFunction : "(null)",
                       pszFormat,
                       szText};
    std::lock_guard<std::mutex> oLock(pCapture->m_mtxRecords);
    pCapture->m_vecRecords.push_back(std::move(stRecord));
}

std::vector<LogRecord> CLogCapture::Records() const
{
    std::lock_guard<std::mutex> oLock(m_mtxRecords);
    return m_vecRecords;
}

std::vector<LogRecord> CLogCapture::WithFormat(const std::string& strFormat) const
{
    std::vector<LogRecord> vecMatches;
    for (const LogRecord& stRecord : Records()) {
        if (stRecord.strFormat == strFormat) {
            vecMatches.push_back(stRecord);
        }
    }
    return vecMatches;
}

void CLogCapture::Clear()
{
    std::lock_guard<std::mutex> oLock(m_mtxRecords);
    m_vecRecords.clear();
}
