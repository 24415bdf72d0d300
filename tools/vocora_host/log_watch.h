// What the tool keeps of the library's log messages: a count by level, and
// the messages of the calls a command asks about. The library says which
// backend stands behind a handle only there.
#ifndef VOCORA_TOOLS_LOG_WATCH_H
#define VOCORA_TOOLS_LOG_WATCH_H

#include <cstdint>
#include <string>
#include <vector>

struct LogRecord {
    int32_t lLevel = 0;
    std::string strFunction;
    std::string strText;  // formatted
};

// Keeps every message delivered while it exists, in order. One watch at a
// time: a second one is refused (IsActive() false) rather than splitting the
// messages between the two. Capped, so that a watch left running through a
// long capture cannot grow without bound.
class CLogWatch {
public:
    static constexpr size_t kulMaxRecords = 256;

    CLogWatch();
    ~CLogWatch();
    CLogWatch(const CLogWatch&) = delete;
    CLogWatch& operator=(const CLogWatch&) = delete;

    bool IsActive() const { return m_bActive; }
    // Everything kept since construction or the previous Take.
    std::vector<LogRecord> Take();

    // Called by the log callback for every message, on whatever thread the
    // library logs from: counts it and hands it to the watch in force.
    static void Deliver(int32_t lLevel, const char* pszFunction, const char* pszText);

private:
    std::vector<LogRecord> m_vecRecords;
    bool m_bActive;
};

// Messages delivered at lLevel (0 for a level out of range).
int LogMessageCount(int32_t lLevel);

#endif
