#include "backend_inference.h"

namespace {

constexpr const char* kszDirectSoundProbe = "DirectSoundInit";
constexpr const char* kszEchoCancellingInit = "CAecAudioCapture::Init";
constexpr const char* kszDirectSoundCaptureInit = "CDirectSoundCapture::Init";

bool AnyFromClass(const std::vector<LogRecord>& vecRecords, const std::string& strClass)
{
    const std::string strPrefix = strClass + "::";
    for (const LogRecord& stRecord : vecRecords) {
        if (stRecord.strFunction.compare(0, strPrefix.size(), strPrefix) == 0) {
            return true;
        }
    }
    return false;
}

std::string Quoted(const std::string& strText)
{
    return "\"" + strText + "\"";
}

}  // namespace

EPlayBackend PlayBackendFromLog(const std::vector<LogRecord>& vecRecords, bool bCreated)
{
    if (AnyFromClass(vecRecords, "CDirectSoundPlay")) {
        return EPlayBackend::kDirectSound;
    }
    if (AnyFromClass(vecRecords, "CWaveOutPlay") || bCreated) {
        return EPlayBackend::kWaveOut;
    }
    return EPlayBackend::kUnknown;
}

ECaptureBackend CaptureBackendFromLog(const std::vector<LogRecord>& vecRecords,
                                      uint32_t ulSelector, bool bCreated)
{
    // The message is looked for even for a failed creation: it says the
    // echo-cancelling set-up was passed over or gave up.
    if (!FirstMessageFrom(vecRecords, kszDirectSoundCaptureInit).empty() ||
        (bCreated && ulSelector != 0)) {
        return ECaptureBackend::kDirectSound;
    }
    return bCreated ? ECaptureBackend::kEchoCancelling : ECaptureBackend::kUnknown;
}

std::string FirstMessageFrom(const std::vector<LogRecord>& vecRecords, const char* pszFunction)
{
    for (const LogRecord& stRecord : vecRecords) {
        if (stRecord.strFunction == pszFunction) {
            return stRecord.strText;
        }
    }
    return "";
}

std::string DescribePlayBackend(EPlayBackend ePlay, bool bForcedWaveOut,
                                const std::vector<LogRecord>& vecInit)
{
    switch (ePlay) {
    case EPlayBackend::kDirectSound:
        return "DirectSound";
    case EPlayBackend::kWaveOut: {
        const std::string strRefusal = FirstMessageFrom(vecInit, kszDirectSoundProbe);
        if (!strRefusal.empty()) {
            return "waveOut: DirectSound playback is not available; its probe logged " +
                   Quoted(strRefusal);
        }
        return bForcedWaveOut ? "waveOut, as forced by Vocora_ForceUseWaveout"
                              : "waveOut (the library logged no reason for passing DirectSound by)";
    }
    case EPlayBackend::kUnknown:
        break;
    }
    return "unknown: the handle was not created";
}

std::string DescribeCaptureBackend(ECaptureBackend eCapture, uint32_t ulSelector,
                                   uint32_t ulChannels, const std::vector<LogRecord>& vecInit,
                                   const std::vector<LogRecord>& vecCreate)
{
    switch (eCapture) {
    case ECaptureBackend::kEchoCancelling:
        return "echo-cancelling capture";
    case ECaptureBackend::kDirectSound: {
        if (ulSelector != 0) {
            return "plain DirectSound capture (selector " + std::to_string(ulSelector) +
                   " asks for it)";
        }
        const std::string strSetUp = FirstMessageFrom(vecCreate, kszEchoCancellingInit);
        if (!strSetUp.empty()) {
            return "plain DirectSound capture: echo cancellation could not be set up, so the "
                   "library fell back; it logged " +
                   Quoted(strSetUp);
        }
        const std::string strProbe = FirstMessageFrom(vecInit, kszEchoCancellingInit);
        if (!strProbe.empty()) {
            return "plain DirectSound capture: echo cancellation is not offered; its probe "
                   "in Vocora_Init logged " +
                   Quoted(strProbe);
        }
        // The library passes echo cancellation by in silence for more than
        // one channel.
        if (ulChannels != 1) {
            return "plain DirectSound capture: echo cancellation takes mono only, and " +
                   std::to_string(ulChannels) + " channels were asked for";
        }
        return "plain DirectSound capture: echo cancellation was not used (the library "
               "logged no reason)";
    }
    case ECaptureBackend::kUnknown:
        break;
    }
    return "unknown: the handle was not created";
}
