#include "log_watch.h"

#include <atomic>
#include <mutex>

#include "vocora.h"

namespace {

std::atomic<int> sm_aiMessagesByLevel[VOCORA_LOG_MAX + 1];

std::mutex sm_oWatchMutex;
CLogWatch* sm_pActiveWatch = nullptr;

}  // namespace

CLogWatch::CLogWatch()
{
    const std::lock_guard<std::mutex> oLock(sm_oWatchMutex);
    m_bActive = sm_pActiveWatch == nullptr;
    if (m_bActive) {
        sm_pActiveWatch = this;
    }
}

CLogWatch::~CLogWatch()
{
    const std::lock_guard<std::mutex> oLock(sm_oWatchMutex);
    if (m_bActive) {
        sm_pActiveWatch = nullptr;
    }
}

std::vector<LogRecord> CLogWatch::Take()
{
    std::vector<LogRecord> vecTaken;
    const std::lock_guard<std::mutex> oLock(sm_oWatchMutex);
    vecTaken.swap(m_vecRecords);
    return vecTaken;
}

void CLogWatch::Deliver(int32_t lLevel, const char* pszFunction, const char* pszText)
{
    if (lLevel >= 0 && lLevel <= VOCORA_LOG_MAX) {
        ++sm_aiMessagesByLevel[lLevel];
    }
    const std::lock_guard<std::mutex> oLock(sm_oWatchMutex);
    if (sm_pActiveWatch == nullptr || sm_pActiveWatch->m_vecRecords.size() >= kulMaxRecords) {
        return;
    }
    LogRecord stRecord;
    stRecord.lLevel = lLevel;
    stRecord.strFunction = pszFunction != nullptr ? pszFunction : "";
    stRecord.strText = pszText != nullptr ? pszText : "";
    sm_pActiveWatch->m_vecRecords.push_back(std::move(stRecord));
}

int LogMessageCount(int32_t lLevel)
{
    if (lLevel < 0 || lLevel > VOCORA_LOG_MAX) {
        return 0;
    }
    return sm_aiMessagesByLevel[lLevel].load();
}
