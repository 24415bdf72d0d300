// One machine for a unit test: the fake platform, DirectSound (when asked
// for), the endpoints and the voice-capture DSP (when asked for), and the
// library's log. Leaving it says what was not given back.
#ifndef VOCORA_TESTS_WORLD_H
#define VOCORA_TESTS_WORLD_H

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "com_mocks.h"
#include "fake_platform.h"
#include "vocora.h"

using ::testing::NiceMock;

// Voice: 16 kHz mono, blocks of 20 ms.
const AudioParam kstVoice = {16000, 1, 16, 640};

// strText: the format applied to its arguments.
struct LogRecord { int32_t lLevel; std::string strFile, strFunction, strFormat, strText; };

// What the library logs, kept as a host would format it.
struct CLog {
    static void VOCORA_CALL Callback(void*, int32_t lLevel, const char* pszFile, uint32_t, const char* pszFunction, const char* pszFormat, va_list vaArgs);
    static std::vector<LogRecord> Records() { std::lock_guard<std::mutex> oLock(sm_mtx); return sm_vec; }
    static void Clear() { std::lock_guard<std::mutex> oLock(sm_mtx); sm_vec.clear(); }

private:
    static inline std::mutex sm_mtx;
    static inline std::vector<LogRecord> sm_vec;
};

// bEchoCancelling: one microphone, one loudspeaker and a DSP.
struct WorldOptions { bool bDirectSound = true, bEchoCancelling = false; };

class CWorld {
public:
    explicit CWorld(WorldOptions stOptions = {});
    ~CWorld();

    // COM references, handles, memory and devices still held; "" when none.
    std::string Unreleased() const;
    // Level-2 formats (or texts) logged since the last call, in order.
    std::vector<std::string> TakeErrors(bool bTexts = false);
    // How many records of this format were logged.
    int Logged(const std::string& strFormat) const
    {
        const std::vector<LogRecord> vec = CLog::Records();
        return static_cast<int>(std::count_if(vec.begin(), vec.end(), [&](auto& st) { return st.strFormat == strFormat; }));
    }
    std::string strWhen = "at the end";  // for the check that everything was given back

    CFakePlatform oPlatform;
    NiceMock<MockDirectSound> oDirectSound;
    NiceMock<MockDirectSoundCapture> oCapture;
    NiceMock<MockEnumerator> oEnumerator;
    NiceMock<MockEndpoint> oMicrophone{L"Microphone", L"{0.0.1.00000000}.{mic}"};
    NiceMock<MockEndpoint> oSpeaker{L"Speakers", L"{0.0.0.00000000}.{spk}"};
    NiceMock<MockDsp> oDsp;

private:
    size_t m_ulSeen = 0;
};

// Polls a condition another thread makes true; false if it never did.
bool WaitUntil(const std::function<bool()>& fnCondition, DWORD ulTimeoutMs = 3000);

// Whether every byte follows the one before it, as the fakes record them.
bool IsCounter(const std::vector<uint8_t>& vec);

// What a capture callback received, for the capture tests.
struct Received {
    std::mutex mtx;
    std::vector<uint8_t> vecBytes;
    std::vector<uint32_t> vecLengths;
    std::atomic<int> iCalls{0};
    VocoraCaptureHandle hSelf = nullptr;  // set: the callback tries once to destroy it
    std::atomic<uint32_t> ulSelfDestroyed{99};
    static void VOCORA_CALL Callback(const uint8_t* puc, uint32_t ul, void* pUser);
};

// A fault sweep: a host's session with one device, run again and again with
// host call 1, 2, 3, ... of the platform failing, until a run meets no fault.
// Every run must give back everything it took; each fault's outcome (where it
// struck, which export met it, that export's result and first error) is
// collected for the test to compare with the outcomes a host relies on.
class CRun {
public:
    CRun(CWorld& oWorld, const std::set<std::string>& setUsual) : m_oWorld(oWorld), m_setUsual(setUsual) {}
    // Runs one export (or a tick) and notes the outcome if the fault struck in
    // it: the export, its result and the errors it logged that a run without
    // faults does not.
    uint32_t Call(const char* pszExport, const std::function<uint32_t()>& fnCall);
    // Runs the export that makes the handle: when it fails, the host cleans up and the session is over.
    bool Made(const char* pszExport, const std::function<uint32_t()>& fnCall) { return Call(pszExport, fnCall) == 0 || (Call("Vocora_Cleanup", &Vocora_Cleanup), false); }
    const std::string& Outcome() const { return m_strOutcome; }
    // Every error format logged, by the exports or by the worker threads between them.
    const std::set<std::string>& Seen() const { return m_setSeen; }

private:
    CWorld& m_oWorld;
    const std::set<std::string>& m_setUsual;  // errors a run without faults logs too
    std::set<std::string> m_setSeen;
    std::string m_strOutcome;
};

using Scenario = std::function<void(CWorld&, CRun&)>;

// The outcome of every fault, in the order the host met them.
std::vector<std::string> Sweep(const WorldOptions& stOptions, const Scenario& fnScenario);

#endif
