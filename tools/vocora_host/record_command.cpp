#include "record_command.h"

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backend_inference.h"
#include "host_common.h"
#include "log_watch.h"
#include "result_names.h"
#include "vocora.h"
#include "wav_file.h"

namespace {

constexpr uint32_t kulBytesPerSample = 2;
constexpr uint32_t kulMaxBlockBytes = 4u << 20;
constexpr double kdMaxSeconds = 86400.0;
// How often the main thread empties the queue: the library's default block
// is about 46 ms, so each pass finds one block or two. The header is brought
// up to date on each pass, so a killed process loses at most this much.
constexpr DWORD kulPollMs = 50;
constexpr double kdProgressSeconds = 0.1;
// The first block comes one block after the handle is created, and the next
// ones every block; this long without one means the capture has stopped.
constexpr double kdStallSeconds = 3.0;
// How far the writing may fall behind (a slow disk) before blocks are dropped
// and counted instead of taking ever more memory.
constexpr double kdQueueSeconds = 10.0;
constexpr uint32_t kulQueueMinBlocks = 4;

struct RecordOptions {
    std::string strFile;
    double dSeconds = 0.0;
    bool bSecondsGiven = false;
    uint32_t ulSampleRate = 16000;
    uint32_t ulChannels = 1;
    uint32_t ulBlockBytes = 0;  // 0: the library's default
    uint32_t ulSelector = 1;
    bool bSelectorGiven = false;
    bool bAec = false;
};

bool ParseRecordOptions(int argc, char** argv, RecordOptions& stOptions, std::string& strError)
{
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        const char* pszValue = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto Bad = [&](const char* pszExpected) {
            strError = strArg + " needs " + pszExpected +
                       (pszValue != nullptr ? std::string(", not '") + pszValue + "'" : "");
            return false;
        };
        if (strArg == "--aec") {
            stOptions.bAec = true;
            continue;
        }
        if (strArg == "--seconds") {
            if (!ParsePositive(pszValue, stOptions.dSeconds) || stOptions.dSeconds > kdMaxSeconds) {
                return Bad("a duration in seconds above 0 and at most 86400");
            }
            stOptions.bSecondsGiven = true;
        } else if (strArg == "--rate") {
            if (!ParseUint(pszValue, 192000, stOptions.ulSampleRate) ||
                stOptions.ulSampleRate < 8000) {
                return Bad("a sample rate from 8000 to 192000 Hz");
            }
        } else if (strArg == "--channels") {
            if (!ParseUint(pszValue, 8, stOptions.ulChannels) || stOptions.ulChannels == 0) {
                return Bad("a channel count from 1 to 8");
            }
        } else if (strArg == "--block") {
            if (!ParseUint(pszValue, kulMaxBlockBytes, stOptions.ulBlockBytes)) {
                return Bad("a block size in bytes from 0 (the library's default) to 4194304");
            }
        } else if (strArg == "--selector") {
            if (!ParseUint(pszValue, UINT32_MAX, stOptions.ulSelector)) {
                return Bad("a device selector from 0 to 4294967295");
            }
            stOptions.bSelectorGiven = true;
        } else if (strArg.size() > 1 && strArg[0] == '-') {
            strError = "unknown option " + strArg;
            return false;
        } else if (stOptions.strFile.empty()) {
            stOptions.strFile = strArg;
            continue;
        } else {
            strError =
                "more than one file given ('" + stOptions.strFile + "' and '" + strArg + "')";
            return false;
        }
        ++i;  // the option's value
    }

    if (stOptions.strFile.empty()) {
        strError = "nothing to record into: give FILE.wav and --seconds S";
        return false;
    }
    if (!stOptions.bSecondsGiven) {
        strError = "--seconds S is needed: how long to record";
        return false;
    }
    if (stOptions.bAec) {
        if (stOptions.bSelectorGiven && stOptions.ulSelector != 0) {
            strError = "--aec is --selector 0; it cannot go with --selector " +
                       std::to_string(stOptions.ulSelector);
            return false;
        }
        stOptions.ulSelector = 0;
    }
    const uint32_t ulFrameBytes = stOptions.ulChannels * kulBytesPerSample;
    if (stOptions.ulBlockBytes % ulFrameBytes != 0) {
        strError = "--block " + std::to_string(stOptions.ulBlockBytes) +
                   " is not a whole number of " + std::to_string(ulFrameBytes) + "-byte frames (" +
                   std::to_string(stOptions.ulChannels) + " channel(s) of 16 bits)";
        return false;
    }
    return true;
}

struct QueueCounts {
    uint64_t ullCallbacks = 0;
    uint64_t ullBytes = 0;         // everything the callback was given
    uint64_t ullDroppedBytes = 0;  // of which no room was left for
    uint32_t ulLargestCall = 0;
};

// What the capture thread hands over, waiting for the main thread to write
// it. The callback only copies under the lock: file I/O on the library's
// capture thread would hold up the blocks behind it.
class CCaptureQueue {
public:
    explicit CCaptureQueue(uint32_t ulMaxBytes) : m_ulMaxBytes(ulMaxBytes) {}

    static void VOCORA_CALL OnCapture(const uint8_t* pucData, uint32_t ulLength, void* pUserData)
    {
        static_cast<CCaptureQueue*>(pUserData)->Push(pucData, ulLength);
    }

    // Swaps everything queued into vecOut, whose old content is dropped; the
    // two buffers take turns, so steady recording allocates nothing.
    void TakeAll(std::vector<uint8_t>& vecOut)
    {
        vecOut.clear();
        const std::lock_guard<std::mutex> oLock(m_oMutex);
        m_vecPending.swap(vecOut);
    }

    QueueCounts Counts()
    {
        const std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_stCounts;
    }

private:
    void Push(const uint8_t* pucData, uint32_t ulLength)
    {
        const std::lock_guard<std::mutex> oLock(m_oMutex);
        ++m_stCounts.ullCallbacks;
        m_stCounts.ullBytes += ulLength;
        m_stCounts.ulLargestCall =
            ulLength > m_stCounts.ulLargestCall ? ulLength : m_stCounts.ulLargestCall;
        if (pucData == nullptr || m_vecPending.size() + ulLength > m_ulMaxBytes) {
            m_stCounts.ullDroppedBytes += ulLength;
            return;
        }
        m_vecPending.insert(m_vecPending.end(), pucData, pucData + ulLength);
    }

    std::mutex m_oMutex;
    std::vector<uint8_t> m_vecPending;
    QueueCounts m_stCounts;
    uint32_t m_ulMaxBytes;
};

// Peak and RMS of 16-bit little-endian samples, in dBFS (-inf for silence).
class CLevelMeter {
public:
    void Add(const uint8_t* pucData, uint32_t ulBytes)
    {
        for (uint32_t i = 0; i + 1 < ulBytes; i += 2) {
            const int32_t lSample =
                static_cast<int16_t>(static_cast<uint16_t>(pucData[i] | (pucData[i + 1] << 8)));
            const int32_t lMagnitude = lSample < 0 ? -lSample : lSample;
            m_lPeak = lMagnitude > m_lPeak ? lMagnitude : m_lPeak;
            m_dSumOfSquares += static_cast<double>(lSample) * lSample;
            ++m_ullSamples;
        }
    }
    bool IsSilent() const { return m_lPeak == 0; }
    double PeakDbfs() const { return ToDbfs(m_lPeak); }
    double RmsDbfs() const
    {
        return ToDbfs(m_ullSamples == 0
                          ? 0.0
                          : std::sqrt(m_dSumOfSquares / static_cast<double>(m_ullSamples)));
    }

private:
    static double ToDbfs(double dMagnitude) { return 20.0 * std::log10(dMagnitude / 32768.0); }

    int32_t m_lPeak = 0;
    double m_dSumOfSquares = 0.0;
    uint64_t m_ullSamples = 0;
};

struct RecordStats {
    uint64_t ullTargetBytes = 0;
    CLevelMeter oLevel;
    std::string strFileError;
    bool bInterrupted = false;
    bool bStalled = false;
    bool bFull = false;  // the WAV size limit was reached
    double dWallSeconds = 0.0;
};

// Writes what was taken from the queue, as far as the target allows, and
// brings the header up to date.
bool WriteCaptured(const std::vector<uint8_t>& vecData, CWavWriter& oWriter, RecordStats& stStats,
                   CLevelMeter& oRecent)
{
    const uint64_t ullWritten = oWriter.DataBytes();
    const uint64_t ullRoom =
        stStats.ullTargetBytes > ullWritten ? stStats.ullTargetBytes - ullWritten : 0;
    const auto ulWanted =
        static_cast<uint32_t>(vecData.size() < ullRoom ? vecData.size() : ullRoom);
    uint32_t ulTaken = 0;
    if (!oWriter.Append(vecData.data(), ulWanted, ulTaken, stStats.strFileError)) {
        return false;
    }
    stStats.oLevel.Add(vecData.data(), ulTaken);
    oRecent.Add(vecData.data(), ulTaken);
    stStats.bFull |= ulTaken < ulWanted;
    return ulTaken == 0 || oWriter.UpdateHeader(stStats.strFileError);
}

void ShowProgress(double dRecorded, double dTotal, const CLevelMeter& oRecent)
{
    std::printf("\rrecorded %6.1f / %.1f s, peak %6.1f dBFS", dRecorded, dTotal,
                oRecent.PeakDbfs());
    std::fflush(stdout);
    MarkProgressLineOpen();
}

// Writes what the capture thread queues until the target is reached, the
// user interrupts, the capture stops delivering or the file cannot take more.
void Record(CCaptureQueue& oQueue, CWavWriter& oWriter, const RecordOptions& stOptions,
            RecordStats& stStats)
{
    const double dBytesPerSecond =
        static_cast<double>(stOptions.ulSampleRate) * stOptions.ulChannels * kulBytesPerSample;
    std::vector<uint8_t> vecData;
    CLevelMeter oRecent;
    const CStopwatch oClock;
    double dLastData = 0.0;
    double dNextProgress = 0.0;
    while (!CtrlCPressed()) {
        Sleep(kulPollMs);
        oQueue.TakeAll(vecData);
        const double dNow = oClock.Seconds();
        if (!vecData.empty()) {
            dLastData = dNow;
        }
        if (!WriteCaptured(vecData, oWriter, stStats, oRecent) ||
            oWriter.DataBytes() >= stStats.ullTargetBytes || stStats.bFull) {
            break;
        }
        if (dNow - dLastData > kdStallSeconds) {
            stStats.bStalled = true;
            break;
        }
        if (dNow >= dNextProgress) {
            ShowProgress(static_cast<double>(oWriter.DataBytes()) / dBytesPerSecond,
                         stOptions.dSeconds, oRecent);
            oRecent = CLevelMeter();
            dNextProgress = dNow + kdProgressSeconds;
        }
    }
    ShowProgress(static_cast<double>(oWriter.DataBytes()) / dBytesPerSecond, stOptions.dSeconds,
                 oRecent);
    EndProgressLine();
    stStats.bInterrupted = CtrlCPressed();
    stStats.dWallSeconds = oClock.Seconds();
}

std::string LevelText(const CLevelMeter& oLevel)
{
    if (oLevel.IsSilent()) {
        return "silence (every sample is 0)";
    }
    char szText[64];
    std::snprintf(szText, sizeof szText, "peak %.1f dBFS, RMS %.1f dBFS", oLevel.PeakDbfs(),
                  oLevel.RmsDbfs());
    return szText;
}

}  // namespace

const char* RecordUsage()
{
    return "  record FILE.wav --seconds S [--rate R] [--channels C] [--block BYTES]\n"
           "         [--selector N | --aec]\n"
           "          capture from the default microphone into a 16-bit PCM WAV file\n"
           "          (replaced if it exists); default 16000 Hz mono, block 0 = the\n"
           "          library's default, selector 1 (plain capture; 0 or --aec asks for\n"
           "          echo cancellation, and the run says which device it got). Ctrl-C\n"
           "          stops early and still finishes the file; a killed run leaves a valid\n"
           "          file missing about its last 50 ms\n";
}

int RunRecord(int argc, char** argv)
{
    RecordOptions stOptions;
    std::string strError;
    if (!ParseRecordOptions(argc, argv, stOptions, strError)) {
        std::fprintf(stderr, "vocora-host record: %s\nusage:\n%s", strError.c_str(), RecordUsage());
        return 2;
    }
    const uint32_t ulFrameBytes = stOptions.ulChannels * kulBytesPerSample;
    const double dBytesPerSecond = static_cast<double>(stOptions.ulSampleRate) * ulFrameBytes;
    RecordStats stStats;
    uint64_t ullFrames =
        static_cast<uint64_t>(std::llround(stOptions.dSeconds * stOptions.ulSampleRate));
    ullFrames = ullFrames == 0 ? 1 : ullFrames;
    stStats.ullTargetBytes = ullFrames * ulFrameBytes;

    std::printf("recording %s: %u Hz, %u channel(s), 16-bit, %g s; ", stOptions.strFile.c_str(),
                stOptions.ulSampleRate, stOptions.ulChannels, stOptions.dSeconds);
    if (stOptions.ulBlockBytes == 0) {
        std::printf("the library's default block; ");
    } else {
        std::printf("blocks of %u bytes (%.1f ms); ", stOptions.ulBlockBytes,
                    1000.0 * stOptions.ulBlockBytes / dBytesPerSecond);
    }
    std::printf(
        "selector %u: %s asked for\n", stOptions.ulSelector,
        stOptions.ulSelector == 0 ? "echo-cancelling capture" : "plain DirectSound capture");
    if (stStats.ullTargetBytes > CWavWriter::kullMaxDataBytes) {
        std::printf("note: a WAV file holds at most %.0f s at this rate; recording stops there\n",
                    static_cast<double>(CWavWriter::kullMaxDataBytes) / dBytesPerSecond);
    }
    std::fflush(stdout);

    WatchForCtrlC();
    const CComThread oCom;
    uint32_t ulSetupFailure = VOCORA_OK;
    bool bFileOpened = false;
    bool bTeardownFailed = false;
    QueueCounts stCounts;
    uint64_t ullWritten = 0;
    ECaptureBackend eCapture = ECaptureBackend::kUnknown;
    bool bCaptureCreated = false;
    std::string strDevice;
    {
        // Only the set-up is watched: which device the handle got shows in
        // what Vocora_Init and the creation log.
        std::optional<CLogWatch> oWatch;
        oWatch.emplace();
        const CVocoraSession oSession;
        const std::vector<LogRecord> vecInit = oWatch->Take();
        // Declared in this order so that, on every way out, the handle comes
        // down first (no callback after that), then the file is finished,
        // then the queue the callback wrote into goes.
        const uint32_t ulBlocksOfQueue = stOptions.ulBlockBytes * kulQueueMinBlocks;
        const auto ulQueueBytes = static_cast<uint32_t>(kdQueueSeconds * dBytesPerSecond);
        CCaptureQueue oQueue(ulQueueBytes > ulBlocksOfQueue ? ulQueueBytes : ulBlocksOfQueue);
        CWavWriter oWriter;
        CCaptureHandle oCapture;

        AudioParam stParam = {};
        stParam.ulSampleRate = stOptions.ulSampleRate;
        stParam.ulChannels = stOptions.ulChannels;
        stParam.ulBitsPerSample = 16;
        stParam.ulDataLen = stOptions.ulBlockBytes;
        ulSetupFailure = oCapture.Create(stParam, stOptions.ulSelector);
        const std::vector<LogRecord> vecCreate = oWatch->Take();
        oWatch.reset();
        eCapture =
            CaptureBackendFromLog(vecCreate, stOptions.ulSelector, ulSetupFailure == VOCORA_OK);
        strDevice = DescribeCaptureBackend(eCapture, stOptions.ulSelector, stOptions.ulChannels,
                                           vecInit, vecCreate);
        bCaptureCreated = ulSetupFailure == VOCORA_OK;
        if (eCapture != ECaptureBackend::kUnknown) {
            std::printf("capture device: %s\n", strDevice.c_str());
        }
        if (ulSetupFailure == VOCORA_OK) {
            bFileOpened = oWriter.Create(stOptions.strFile, stOptions.ulSampleRate,
                                         stOptions.ulChannels, stStats.strFileError);
        }
        if (bFileOpened) {
            // Blocks captured before this are dropped by the library: the
            // recording starts here.
            ulSetupFailure = Report(
                "Vocora_SetCaptureCallBack",
                Vocora_SetCaptureCallBack(oCapture.Get(), &CCaptureQueue::OnCapture, &oQueue));
            if (ulSetupFailure == VOCORA_OK) {
                Record(oQueue, oWriter, stOptions, stStats);
            }
            bTeardownFailed |= oCapture.Destroy() != VOCORA_OK;
            // What arrived while the handle came down still belongs in the
            // file, as far as the duration goes.
            std::vector<uint8_t> vecTail;
            oQueue.TakeAll(vecTail);
            CLevelMeter oUnused;
            if (stStats.strFileError.empty()) {
                WriteCaptured(vecTail, oWriter, stStats, oUnused);
            }
            std::string strFinishError;
            if (!oWriter.Finish(strFinishError) && stStats.strFileError.empty()) {
                stStats.strFileError = strFinishError;
            }
            ullWritten = oWriter.DataBytes();
        }
        bTeardownFailed |= oCapture.Destroy() != VOCORA_OK;
        stCounts = oQueue.Counts();
    }

    const double dRecorded = static_cast<double>(ullWritten) / dBytesPerSecond;
    std::printf("\nsummary: %s\n", stOptions.strFile.c_str());
    if (eCapture != ECaptureBackend::kUnknown) {
        std::printf("  device: %s%s\n", strDevice.c_str(),
                    bCaptureCreated ? "" : " (not created)");
    }
    if (ulSetupFailure != VOCORA_OK) {
        std::printf("  capture could not start: 0x%x (%s): %s\n", ulSetupFailure,
                    ResultName(ulSetupFailure), CaptureResultMeaning(ulSetupFailure));
    } else if (!bFileOpened) {
        std::printf("  %s\n", stStats.strFileError.c_str());
    } else {
        std::printf("  recorded %.2f of %g s (%llu frames, %llu bytes) in %.2f s\n", dRecorded,
                    stOptions.dSeconds, static_cast<unsigned long long>(ullWritten / ulFrameBytes),
                    static_cast<unsigned long long>(ullWritten), stStats.dWallSeconds);
        std::printf("  the library called back %llu times with %llu bytes, at most %u at a time",
                    static_cast<unsigned long long>(stCounts.ullCallbacks),
                    static_cast<unsigned long long>(stCounts.ullBytes), stCounts.ulLargestCall);
        if (stCounts.ullDroppedBytes != 0) {
            std::printf("; %llu bytes dropped: writing fell %g s behind",
                        static_cast<unsigned long long>(stCounts.ullDroppedBytes), kdQueueSeconds);
        }
        std::printf("\n  level: %s\n", LevelText(stStats.oLevel).c_str());
        if (stStats.bInterrupted) {
            std::printf("  stopped early by Ctrl-C\n");
        }
        if (stStats.bStalled) {
            std::printf("  stopped: no audio arrived for %g s\n", kdStallSeconds);
        }
        if (stStats.bFull) {
            std::printf("  stopped: the file reached the largest size a WAV file can have\n");
        }
        if (!stStats.strFileError.empty()) {
            std::printf("  writing the file failed: %s\n", stStats.strFileError.c_str());
        }
    }
    std::printf("  log messages: %d failures, %d warnings, %d notes\n",
                LogMessageCount(VOCORA_LOG_ERROR), LogMessageCount(VOCORA_LOG_WARNING),
                LogMessageCount(VOCORA_LOG_INFO));

    const bool bFileGood = bFileOpened && stStats.strFileError.empty();
    const bool bComplete =
        ulSetupFailure == VOCORA_OK && bFileGood && ullWritten == stStats.ullTargetBytes;
    const bool bOk = bComplete && !bTeardownFailed;
    if (bOk) {
        std::printf("result: recorded completely\n");
    } else if (bComplete) {
        std::printf("result: recorded, but the handle did not come down cleanly\n");
    } else if (ulSetupFailure == VOCORA_OK && bFileGood) {
        std::printf("result: stopped early; %s holds %.2f s\n", stOptions.strFile.c_str(),
                    dRecorded);
    } else {
        std::printf("result: FAILED\n");
    }
    return bOk ? 0 : 1;
}
