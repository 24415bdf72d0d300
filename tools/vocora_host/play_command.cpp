#include "play_command.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "backend_inference.h"
#include "block_handover.h"
#include "host_common.h"
#include "log_watch.h"
#include "result_names.h"
#include "vocora.h"
#include "wav_file.h"

namespace {

constexpr double kdPi = 3.14159265358979323846;
constexpr uint32_t kulBytesPerSample = 2;
// -6 dBFS: loud enough to find in a recording, far from clipping.
constexpr double kdToneAmplitude = 16384.0;
constexpr double kdDefaultBlockSeconds = 0.020;
// The blocks each player holds before Vocora_Play answers "full": the
// DirectSound player's staging queue, the waveOut player's ring of entries.
constexpr uint32_t kulDirectSoundQueueBlocks = 40;
constexpr uint32_t kulWaveOutQueueBlocks = 128;
// The DirectSound player's 255 is no attenuation; the waveOut player's gain
// multiplies by 8 there (saturating), and its unity band is 109..144. Either
// way the default plays the source as it is.
constexpr uint32_t kulDirectSoundDefaultVolume = 255;
constexpr uint32_t kulWaveOutDefaultVolume = 128;
// A queue that stays full this much longer than it takes to play out means
// the device has stopped taking audio.
constexpr double kdQueueStallSeconds = 2.0;
// How far ahead of real time the host keeps the player's queue:
// enough to ride out a late wake-up, little enough to leave most of the queue
// free.
constexpr double kdLeadSeconds = 0.100;
constexpr uint32_t kulMinLeadBlocks = 2;
constexpr uint32_t kulMaxLeadBlocks = 20;
// The device still holds the last few periods when the last block has been
// handed over; destroying the handle at once would cut them.
constexpr double kdTailSeconds = 0.300;
constexpr double kdProgressSeconds = 0.1;
constexpr uint32_t kulMaxBlockBytes = 4u << 20;

struct PlayOptions {
    std::string strFile;
    bool bTone = false;
    double dToneHz = 0.0;
    double dSeconds = 0.0;
    bool bSecondsGiven = false;
    uint32_t ulSampleRate = 48000;
    bool bRateGiven = false;
    uint32_t ulChannels = 1;
    bool bChannelsGiven = false;
    uint32_t ulVolume = 0;
    bool bVolumeGiven = false;  // otherwise the player's own unity volume
    uint32_t ulBlockBytes = 0;  // 0: 20 ms of audio
    bool bWaveOut = false;
};

bool ParsePlayOptions(int argc, char** argv, PlayOptions& stOptions, std::string& strError)
{
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        const char* pszValue = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto Bad = [&](const char* pszExpected) {
            strError = strArg + " needs " + pszExpected +
                       (pszValue != nullptr ? std::string(", not '") + pszValue + "'" : "");
            return false;
        };
        if (strArg == "--waveout") {
            stOptions.bWaveOut = true;
            continue;
        }
        if (strArg == "--tone") {
            if (!ParsePositive(pszValue, stOptions.dToneHz)) {
                return Bad("a frequency in Hz above 0");
            }
            stOptions.bTone = true;
        } else if (strArg == "--seconds") {
            if (!ParsePositive(pszValue, stOptions.dSeconds) || stOptions.dSeconds > 3600.0) {
                return Bad("a duration in seconds above 0 and at most 3600");
            }
            stOptions.bSecondsGiven = true;
        } else if (strArg == "--rate") {
            if (!ParseUint(pszValue, 192000, stOptions.ulSampleRate) ||
                stOptions.ulSampleRate < 8000) {
                return Bad("a sample rate from 8000 to 192000 Hz");
            }
            stOptions.bRateGiven = true;
        } else if (strArg == "--channels") {
            if (!ParseUint(pszValue, 8, stOptions.ulChannels) || stOptions.ulChannels == 0) {
                return Bad("a channel count from 1 to 8");
            }
            stOptions.bChannelsGiven = true;
        } else if (strArg == "--volume") {
            if (!ParseUint(pszValue, 255, stOptions.ulVolume)) {
                return Bad("a volume from 0 to 255");
            }
            stOptions.bVolumeGiven = true;
        } else if (strArg == "--block") {
            if (!ParseUint(pszValue, kulMaxBlockBytes, stOptions.ulBlockBytes) ||
                stOptions.ulBlockBytes == 0) {
                return Bad("a block size in bytes from 1 to 4194304");
            }
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

    if (stOptions.bTone == !stOptions.strFile.empty()) {
        strError = stOptions.bTone ? "give either a WAV file or --tone, not both"
                                   : "nothing to play: give a WAV file or --tone HZ --seconds S";
        return false;
    }
    if (stOptions.bTone) {
        if (!stOptions.bSecondsGiven) {
            strError = "--tone needs --seconds S";
            return false;
        }
        if (stOptions.dToneHz >= stOptions.ulSampleRate / 2.0) {
            char szText[160];
            std::snprintf(szText, sizeof szText,
                          "a %.1f Hz tone cannot be played at %u Hz (it must stay below %.1f Hz)",
                          stOptions.dToneHz, stOptions.ulSampleRate, stOptions.ulSampleRate / 2.0);
            strError = szText;
            return false;
        }
    } else if (stOptions.bSecondsGiven || stOptions.bRateGiven || stOptions.bChannelsGiven) {
        strError =
            "--seconds, --rate and --channels go with --tone; a WAV file carries its own format";
        return false;
    }
    return true;
}

// Where the played samples come from.
class CPcmSource {
public:
    virtual ~CPcmSource() = default;
    // Fills up to ulBytes; ulRead 0 means the end.
    virtual bool Read(uint8_t* pucBuffer, uint32_t ulBytes, uint32_t& ulRead,
                      std::string& strError) = 0;
};

class CWavSource : public CPcmSource {
public:
    explicit CWavSource(CWavReader& oReader) : m_oReader(oReader) {}
    bool Read(uint8_t* pucBuffer, uint32_t ulBytes, uint32_t& ulRead,
              std::string& strError) override
    {
        return m_oReader.Read(pucBuffer, ulBytes, ulRead, strError);
    }

private:
    CWavReader& m_oReader;
};

// The same sine in every channel, sample by sample, so any length can be
// generated without holding it all.
class CToneSource : public CPcmSource {
public:
    CToneSource(double dHz, uint32_t ulSampleRate, uint32_t ulChannels, uint64_t ullFrames)
        : m_dStep(2.0 * kdPi * dHz / ulSampleRate),
          m_ulChannels(ulChannels),
          m_ullFramesLeft(ullFrames)
    {
    }

    bool Read(uint8_t* pucBuffer, uint32_t ulBytes, uint32_t& ulRead, std::string&) override
    {
        const uint32_t ulFrameBytes = m_ulChannels * kulBytesPerSample;
        uint64_t ullFrames = ulBytes / ulFrameBytes;
        ullFrames = ullFrames < m_ullFramesLeft ? ullFrames : m_ullFramesLeft;
        for (uint64_t i = 0; i < ullFrames; ++i) {
            const int16_t sSample =
                static_cast<int16_t>(std::lround(kdToneAmplitude * std::sin(m_dPhase)));
            // The phase is kept within one turn so that long tones keep their pitch.
            m_dPhase += m_dStep;
            if (m_dPhase >= 2.0 * kdPi) {
                m_dPhase -= 2.0 * kdPi;
            }
            for (uint32_t c = 0; c < m_ulChannels; ++c) {
                std::memcpy(pucBuffer, &sSample, sizeof sSample);
                pucBuffer += sizeof sSample;
            }
        }
        m_ullFramesLeft -= ullFrames;
        ulRead = static_cast<uint32_t>(ullFrames * ulFrameBytes);
        return true;
    }

private:
    double m_dPhase = 0.0;
    double m_dStep;
    uint32_t m_ulChannels;
    uint64_t m_ullFramesLeft;
};

// Sleep accuracy of 1 ms for the pacing while it runs; the default 15.6 ms
// tick on Windows would let 20 ms blocks arrive in bursts.
class CTimerResolution {
public:
    CTimerResolution() : m_bSet(timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~CTimerResolution()
    {
        if (m_bSet) {
            timeEndPeriod(1);
        }
    }
    CTimerResolution(const CTimerResolution&) = delete;
    CTimerResolution& operator=(const CTimerResolution&) = delete;

private:
    bool m_bSet;
};

struct PlaySource {
    std::string strWhat;  // for the summary
    uint32_t ulSampleRate = 0;
    uint32_t ulChannels = 0;
    uint64_t ullBytes = 0;
};

// What a volume does on each player, for the user.
std::string VolumeText(EPlayBackend ePlay, uint32_t ulVolume)
{
    if (ulVolume == 0) {
        return "silent";
    }
    char szText[96];
    if (ePlay == EPlayBackend::kWaveOut) {
        // The waveOut player's bands of 36 steps, around the unity band 109..144.
        static const char* const kaszGains[] = {"x1/8", "x1/4", "x1/2", "x1 (unchanged)",
                                                "x2",   "x4",   "x8"};
        const uint32_t ulBand = std::min<uint32_t>((ulVolume - 1) / 36, 6);
        std::snprintf(szText, sizeof szText, "the samples are multiplied %s%s",
                      kaszGains[ulBand], ulBand > 3 ? ", saturating" : "");
    } else {
        std::snprintf(szText, sizeof szText, "%.1f dB", 20.0 * std::log10(ulVolume / 255.0));
    }
    return szText;
}

struct PlayStats {
    uint64_t ullBlocks = 0;       // blocks accepted by Vocora_Play
    uint64_t ullFullWaits = 0;    // calls answered "queue full"
    bool bStalled = false;        // the queue stayed full
    uint32_t ulPaddingBytes = 0;  // silence added to complete the last block
    uint32_t ulPlayFailure = VOCORA_OK;
    std::string strSourceError;
    bool bInterrupted = false;
    double dWallSeconds = 0.0;
};

void ShowProgress(double dPlayed, double dTotal)
{
    std::printf("\rplayed %6.1f / %.1f s", dPlayed < dTotal ? dPlayed : dTotal, dTotal);
    std::fflush(stdout);
    MarkProgressLineOpen();
}

// Hands the source to the player block by block, block k no earlier than
// (k - lead) block-durations after the start, so the player's queue stays a
// little ahead of the device without filling up.
void Feed(VocoraPlayHandle hPlay, CPcmSource& oSource, const PlaySource& stSource,
          uint32_t ulBlockBytes, EPlayBackend ePlay, PlayStats& stStats)
{
    const uint32_t ulFrameBytes = stSource.ulChannels * kulBytesPerSample;
    const double dBlockSeconds =
        static_cast<double>(ulBlockBytes / ulFrameBytes) / stSource.ulSampleRate;
    const double dTotal =
        static_cast<double>(stSource.ullBytes / ulFrameBytes) / stSource.ulSampleRate;
    uint32_t ulLead = static_cast<uint32_t>(std::lround(kdLeadSeconds / dBlockSeconds));
    ulLead = ulLead < kulMinLeadBlocks ? kulMinLeadBlocks : ulLead;
    ulLead = ulLead > kulMaxLeadBlocks ? kulMaxLeadBlocks : ulLead;
    const DWORD ulRetryMs = dBlockSeconds >= 0.004 ? static_cast<DWORD>(dBlockSeconds * 500.0) : 1;

    const uint32_t ulQueueBlocks =
        ePlay == EPlayBackend::kWaveOut ? kulWaveOutQueueBlocks : kulDirectSoundQueueBlocks;
    const double dStallSeconds = ulQueueBlocks * dBlockSeconds + kdQueueStallSeconds;

    std::vector<uint8_t> vecBlock(ulBlockBytes);
    CBlockHandOver oHandOver(&Vocora_Play, hPlay, ePlay, ulBlockBytes);
    const CStopwatch oClock;
    double dNextProgress = 0.0;
    double dLastAccepted = 0.0;
    for (uint64_t k = 0; !CtrlCPressed(); ++k) {
        uint32_t ulRead = 0;
        if (!oSource.Read(vecBlock.data(), ulBlockBytes, ulRead, stStats.strSourceError)) {
            break;
        }
        if (ulRead == 0) {
            break;
        }
        if (ulRead < ulBlockBytes) {
            // The player takes whole blocks only.
            std::memset(vecBlock.data() + ulRead, 0, ulBlockBytes - ulRead);
            stStats.ulPaddingBytes = ulBlockBytes - ulRead;
        }
        if (k > ulLead) {
            oClock.SleepUntil(static_cast<double>(k - ulLead) * dBlockSeconds);
        }
        const double dFirstTry = oClock.Seconds();
        for (;;) {
            uint32_t ulResult = VOCORA_OK;
            const EPlayAnswer eAnswer = oHandOver.Try(vecBlock.data(), ulResult);
            if (eAnswer == EPlayAnswer::kTaken) {
                ++stStats.ullBlocks;
                break;
            }
            if (eAnswer == EPlayAnswer::kFailed) {
                stStats.ulPlayFailure = ulResult;
                break;
            }
            // The queue is full: the device is behind the clock.
            ++stStats.ullFullWaits;
            if (CtrlCPressed()) {
                break;
            }
            if (oClock.Seconds() - dFirstTry > dStallSeconds) {
                stStats.ulPlayFailure = ulResult;
                stStats.bStalled = true;
                break;
            }
            Sleep(ulRetryMs);
        }
        if (stStats.ulPlayFailure != VOCORA_OK) {
            Report("Vocora_Play", stStats.ulPlayFailure);
            break;
        }
        dLastAccepted = oClock.Seconds();
        if (dLastAccepted >= dNextProgress) {
            ShowProgress(dLastAccepted, dTotal);
            dNextProgress = dLastAccepted + kdProgressSeconds;
        }
    }

    // What is still queued plays out in real time; then the tail. A queue
    // that was ever full means the device runs behind the clock, and may
    // still hold all its blocks.
    if (stStats.ulPlayFailure == VOCORA_OK && stStats.strSourceError.empty()) {
        double dDone = static_cast<double>(stStats.ullBlocks) * dBlockSeconds + kdTailSeconds;
        if (stStats.ullFullWaits != 0) {
            dDone = std::max(dDone,
                             dLastAccepted + ulQueueBlocks * dBlockSeconds + kdTailSeconds);
        }
        while (!CtrlCPressed() && oClock.Seconds() < dDone) {
            ShowProgress(oClock.Seconds(), dTotal);
            Sleep(static_cast<DWORD>(kdProgressSeconds * 1000.0));
        }
        ShowProgress(oClock.Seconds(), dTotal);
    }
    EndProgressLine();
    stStats.bInterrupted = CtrlCPressed();
    stStats.dWallSeconds = oClock.Seconds();
}

uint32_t DefaultBlockBytes(uint32_t ulSampleRate, uint32_t ulChannels)
{
    uint32_t ulFrames = static_cast<uint32_t>(ulSampleRate * kdDefaultBlockSeconds);
    ulFrames = ulFrames == 0 ? 1 : ulFrames;
    return ulFrames * ulChannels * kulBytesPerSample;
}

// Creates the player, feeds it and takes it down; prints the summary.
int PlaySourceThroughLibrary(CPcmSource& oSource, const PlaySource& stSource,
                             const PlayOptions& stOptions)
{
    const uint32_t ulFrameBytes = stSource.ulChannels * kulBytesPerSample;
    const uint32_t ulBlockBytes =
        stOptions.ulBlockBytes != 0 ? stOptions.ulBlockBytes
                                    : DefaultBlockBytes(stSource.ulSampleRate, stSource.ulChannels);
    if (ulBlockBytes % ulFrameBytes != 0) {
        std::fprintf(stderr,
                     "vocora-host play: --block %u is not a whole number of %u-byte frames "
                     "(%u channel(s) of 16 bits)\n",
                     ulBlockBytes, ulFrameBytes, stSource.ulChannels);
        return 2;
    }
    const uint64_t ullBlocksDue = (stSource.ullBytes + ulBlockBytes - 1) / ulBlockBytes;
    const double dBlockMs = 1000.0 * (ulBlockBytes / ulFrameBytes) / stSource.ulSampleRate;
    std::printf("playing %s: %u Hz, %u channel(s), 16-bit; %llu blocks of %u bytes (%.1f ms)%s\n",
                stSource.strWhat.c_str(), stSource.ulSampleRate, stSource.ulChannels,
                static_cast<unsigned long long>(ullBlocksDue), ulBlockBytes, dBlockMs,
                stOptions.bWaveOut ? "; waveOut forced" : "");
    std::fflush(stdout);

    WatchForCtrlC();
    const CComThread oCom;
    const CTimerResolution oTimer;
    PlayStats stStats;
    bool bTeardownFailed = false;
    uint32_t ulSetupFailure = VOCORA_OK;
    EPlayBackend ePlay = EPlayBackend::kUnknown;
    std::string strPlayer;
    uint32_t ulVolume = stOptions.ulVolume;
    {
        // Only the set-up is watched; the watch ends before the feeding.
        std::optional<CLogWatch> oWatch;
        oWatch.emplace();
        const CVocoraSession oSession;
        const std::vector<LogRecord> vecInit = oWatch->Take();
        if (stOptions.bWaveOut) {
            Vocora_ForceUseWaveout();
            std::printf("Vocora_ForceUseWaveout called\n");
        }
        CPlayHandle oPlay;
        AudioParam stParam = {};
        stParam.ulSampleRate = stSource.ulSampleRate;
        stParam.ulChannels = stSource.ulChannels;
        stParam.ulBitsPerSample = 16;
        stParam.ulDataLen = ulBlockBytes;
        ulSetupFailure = oPlay.Create(stParam);
        ePlay = PlayBackendFromLog(oWatch->Take(), ulSetupFailure == VOCORA_OK);
        oWatch.reset();
        strPlayer = DescribePlayBackend(ePlay, stOptions.bWaveOut, vecInit);
        if (ulSetupFailure == VOCORA_OK) {
            if (!stOptions.bVolumeGiven) {
                ulVolume = ePlay == EPlayBackend::kWaveOut ? kulWaveOutDefaultVolume
                                                           : kulDirectSoundDefaultVolume;
            }
            std::printf("player: %s; volume %u: %s\n", strPlayer.c_str(), ulVolume,
                        VolumeText(ePlay, ulVolume).c_str());
            // A new waveOut player is silent until it is given a volume.
            const std::string strCall = "Vocora_SetPlayVolume(" + std::to_string(ulVolume) + ")";
            ulSetupFailure = Report(strCall.c_str(), Vocora_SetPlayVolume(oPlay.Get(), ulVolume));
        }
        if (ulSetupFailure == VOCORA_OK) {
            // The waveOut player plays from its creation; the call is made
            // anyway, as a host does not know which player it has.
            ulSetupFailure = Report("Vocora_PlayStart", Vocora_PlayStart(oPlay.Get()));
        }
        if (ulSetupFailure == VOCORA_OK) {
            Feed(oPlay.Get(), oSource, stSource, ulBlockBytes, ePlay, stStats);
            bTeardownFailed |= Report("Vocora_PlayStop", Vocora_PlayStop(oPlay.Get())) != VOCORA_OK;
        }
        bTeardownFailed |= oPlay.Destroy() != VOCORA_OK;
    }

    // Asked for waveOut and given something else is a failure: the run
    // would pass off the other player as a working waveOut path.
    const bool bWrongPlayer = stOptions.bWaveOut && ePlay == EPlayBackend::kDirectSound;
    const bool bComplete = ulSetupFailure == VOCORA_OK && stStats.ullBlocks == ullBlocksDue &&
                           stStats.ulPlayFailure == VOCORA_OK && stStats.strSourceError.empty() &&
                           !bWrongPlayer;
    std::printf("\nsummary: %s\n", stSource.strWhat.c_str());
    std::printf("  player: %s\n", strPlayer.c_str());
    if (bWrongPlayer) {
        std::printf("  --waveout was given, but the handle is a DirectSound player\n");
    }
    if (ulSetupFailure != VOCORA_OK) {
        std::printf(
            "  playback could not start: 0x%x (%s)%s\n", ulSetupFailure, ResultName(ulSetupFailure),
            ulSetupFailure == VOCORA_ERR_NOT_AVAILABLE ? " - this build of vocora.dll cannot play"
                                                       : "");
    } else {
        std::printf(
            "  handed over %llu of %llu blocks (%.2f s of audio) in %.2f s; "
            "%llu waits on a full queue; %u bytes of silence completed the last block\n",
            static_cast<unsigned long long>(stStats.ullBlocks),
            static_cast<unsigned long long>(ullBlocksDue),
            static_cast<double>(stStats.ullBlocks) * dBlockMs / 1000.0, stStats.dWallSeconds,
            static_cast<unsigned long long>(stStats.ullFullWaits), stStats.ulPaddingBytes);
        if (stStats.bStalled) {
            std::printf("  the player's queue stayed full: the device stopped taking audio\n");
        } else if (stStats.ulPlayFailure != VOCORA_OK) {
            std::printf("  Vocora_Play failed: 0x%x (%s)\n", stStats.ulPlayFailure,
                        ResultName(stStats.ulPlayFailure));
        }
        if (!stStats.strSourceError.empty()) {
            std::printf("  reading the source failed: %s\n", stStats.strSourceError.c_str());
        }
        if (stStats.bInterrupted) {
            std::printf("  interrupted\n");
        }
    }
    std::printf("  log messages: %d failures, %d warnings, %d notes\n",
                LogMessageCount(VOCORA_LOG_ERROR), LogMessageCount(VOCORA_LOG_WARNING),
                LogMessageCount(VOCORA_LOG_INFO));
    const bool bOk = bComplete && !bTeardownFailed;
    std::printf("result: %s\n",
                bOk ? "played completely"
                    : (bComplete ? "played, but the handle did not come down cleanly" : "FAILED"));
    return bOk ? 0 : 1;
}

}  // namespace

const char* PlayUsage()
{
    return "  play FILE.wav [--volume N] [--block BYTES] [--waveout]\n"
           "  play --tone HZ --seconds S [--rate R] [--channels C] [--volume N] [--block BYTES]\n"
           "       [--waveout]\n"
           "          play 16-bit PCM WAV, or a -6 dBFS sine (default 48000 Hz mono), in real\n"
           "          time; block default 20 ms of audio. --waveout makes the library use\n"
           "          its waveOut player. Volume 0..255; the default leaves the audio as it\n"
           "          is: 255 on DirectSound (no attenuation), 128 on waveOut, whose gain\n"
           "          goes in bands of 36: 109..144 unchanged, below that 1/2, 1/4, 1/8,\n"
           "          above it x2, x4, x8 with clipping (255 multiplies by 8)\n";
}

int RunPlay(int argc, char** argv)
{
    PlayOptions stOptions;
    std::string strError;
    if (!ParsePlayOptions(argc, argv, stOptions, strError)) {
        std::fprintf(stderr, "vocora-host play: %s\nusage:\n%s", strError.c_str(), PlayUsage());
        return 2;
    }

    PlaySource stSource;
    if (stOptions.bTone) {
        const uint64_t ullFrames =
            static_cast<uint64_t>(std::llround(stOptions.dSeconds * stOptions.ulSampleRate));
        char szWhat[96];
        std::snprintf(szWhat, sizeof szWhat, "a %g Hz tone for %g s", stOptions.dToneHz,
                      stOptions.dSeconds);
        stSource.strWhat = szWhat;
        stSource.ulSampleRate = stOptions.ulSampleRate;
        stSource.ulChannels = stOptions.ulChannels;
        stSource.ullBytes = ullFrames * stOptions.ulChannels * kulBytesPerSample;
        CToneSource oTone(stOptions.dToneHz, stOptions.ulSampleRate, stOptions.ulChannels,
                          ullFrames);
        return PlaySourceThroughLibrary(oTone, stSource, stOptions);
    }

    CWavReader oReader;
    if (!oReader.Open(stOptions.strFile, strError)) {
        std::fprintf(stderr, "vocora-host play: %s\n", strError.c_str());
        return 1;
    }
    if (oReader.DataBytes() == 0) {
        std::fprintf(stderr, "vocora-host play: %s: the data chunk holds no samples\n",
                     stOptions.strFile.c_str());
        return 1;
    }
    char szSeconds[32];
    std::snprintf(szSeconds, sizeof szSeconds, " (%.2f s)", oReader.Seconds());
    stSource.strWhat = stOptions.strFile + szSeconds;
    stSource.ulSampleRate = oReader.Format().ulSampleRate;
    stSource.ulChannels = oReader.Format().ulChannels;
    stSource.ullBytes = oReader.DataBytes();
    CWavSource oWav(oReader);
    return PlaySourceThroughLibrary(oWav, stSource, stOptions);
}
