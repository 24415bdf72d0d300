// Collects what the library delivers to its log callback, formatted the way a
// host would, so tests can check levels, origins and texts.
#ifndef VOCORA_TESTS_LOG_CAPTURE_H
#define VOCORA_TESTS_LOG_CAPTURE_H

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "vocora.h"

struct LogRecord {
    void* pContext;
    int32_t lLevel;
    std::string strFile;
    uint32_t ulLine;
    std::string strFunction;
    std::string strFormat;
    std::string strText;  // the format applied to its arguments
};

// Only one capture is active at a time; the callback it hands out stays valid
// for the life of the process, since a library cannot go back to discarding.
class CLogCapture {
public:
    CLogCapture();
    ~CLogCapture();
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    static VocoraLogCallback Callback();

    std::vector<LogRecord> Records() const;
    // Records whose format is fmt, in order.
    std::vector<LogRecord> WithFormat(const std::string& strFormat) const;
    void Clear();

private:
    static void VOCORA_CALL OnLog(void* pContext, int32_t lLevel, const char* pszFile,
                                  uint32_t ulLine, const char* pszFunction,
                                  const char* pszFormat, va_list vaArgs);

    mutable std::mutex m_mtxRecords;
    std::vector<LogRecord> m_vecRecords;
};

#endif
