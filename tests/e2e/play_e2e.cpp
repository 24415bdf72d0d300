// Plays known signals through the library ("play") and finds them in a
// recording of the rig's output ("check"): every block handed over must be
// heard whole, in order, at the pitch and level asked for, and nothing once the
// handle is gone. play_e2e.sh records between the two runs.
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/com_ptr.h"
#include "pcm_analysis.h"
#include "vocora.h"

namespace {

constexpr double kdPi = 3.14159265358979323846;
constexpr double kdAmplitude = 16384;  // -6 dBFS: headroom for the resamplers
constexpr size_t kulBlocksPerSecond = 50;  // 20 ms, what voice hosts hand over
constexpr size_t kulPreroll = 8;  // blocks staged ahead, so host jitter never starves the player
constexpr double kdFadeSeconds = 0.01;
// The share of a window the signal leaves unexplained: a silenced, lost or
// repeated block leaves nearly all of it, about 0 dB; resampling, under -35 dB.
constexpr double kdMatchLimitDb = -20;
constexpr double kdSilenceDbfs = -60;
constexpr double kdLoudRms = 1000;  // far above the silence, far below the signals
constexpr size_t kulVolumeChangeBlock = 100;
constexpr uint32_t kulQueueFull = VOCORA_ERR_NO_MEMORY;  // wait and hand the block over again
constexpr size_t kulQueueBlocks = 40;
constexpr DWORD kulMarkerLeadMs = 50;
constexpr double kdCutTolerance = 0.03;  // a couple of mixing periods
constexpr double kdVolumeStepDb = -5.98;  // 20 * log10(128 / 255)

struct Format {
    uint32_t ulRate;
    uint32_t ulChannels;
    size_t BlockFrames() const { return ulRate / kulBlocksPerSecond; }
    size_t BlockSamples() const { return BlockFrames() * ulChannels; }
    size_t Window() const { return ulRate / 100; }  // 10 ms
};

// A linear sweep over [0, dSpan) from dFrom to dTo Hz, faded in and out so the
// resamplers do not ring at its edges. No 20 ms of it resembles any other, so
// a lost, repeated or silenced block cannot pass for the right one.
SignalFunction Sweep(double dSpan, double dFrom, double dTo)
{
    return [=](double dT) {
        if (dT < 0 || dT >= dSpan) {
            return 0.0;
        }
        const double dFade = std::sin(kdPi / 2 * std::min({1.0, dT / kdFadeSeconds,
                                                           (dSpan - dT) / kdFadeSeconds}));
        return kdAmplitude * dFade * dFade *
               std::sin(2 * kdPi * (dFrom * dT + (dTo - dFrom) * dT * dT / (2 * dSpan)));
    };
}

double SweepFrequency(double dT, double dSpan, double dFrom, double dTo)
{
    return dFrom + (dTo - dFrom) * dT / dSpan;
}

// Every sweep starts low: its first half second then spans octaves, so the
// recording lines up with it at one lag only, not one period either side.
// The channels sweep at different speeds, so swapped channels show.
constexpr double kdSweepBottom = 200;

double SweepTop(const Format& stFormat, uint32_t ulChannel)
{
    // Well inside every resampler's passband.
    return (ulChannel == 0 ? 0.3 : 0.2) * stFormat.ulRate;
}

std::vector<SignalFunction> StreamSweeps(const Format& stFormat, double dSpan)
{
    return {Sweep(dSpan, kdSweepBottom, SweepTop(stFormat, 0)),
            Sweep(dSpan, kdSweepBottom, SweepTop(stFormat, 1))};
}

constexpr double kdStreamSeconds = 4;
constexpr double kdVolumeSeconds = 4;
constexpr double kdMarkerHz = 1000;
// Stopped while 35 blocks (0.7 s) are staged, which the stop must discard.
constexpr size_t kulBeforeStopPreroll = 35;
constexpr double kdBeforeStopSeconds = 2.2;
constexpr double kdAfterRestartSeconds = 2.5;
// About 1.5 s plays before the stop; had the staged 0.7 s survived it, 2.2 s.
constexpr double kdHeardBeforeStopLimit = 1.85;
// Long enough never to run out while the staging queue is kept full.
constexpr double kdDestroySweepSeconds = 10;

SignalFunction VolumeSweep(const Format& stFormat) { return StreamSweeps(stFormat, kdVolumeSeconds)[0]; }
SignalFunction BeforeStop() { return Sweep(kdBeforeStopSeconds, 300, 3000); }
SignalFunction AfterRestart(const Format& stFormat)
{
    return Sweep(kdAfterRestartSeconds, kdSweepBottom, SweepTop(stFormat, 0));
}
SignalFunction DestroySweep() { return Sweep(kdDestroySweepSeconds, 300, 3000); }

std::vector<int16_t> Render(const std::vector<SignalFunction>& vecChannels, const Format& stFormat,
                            double dSeconds)
{
    const auto ulFrames = static_cast<size_t>(dSeconds * stFormat.ulRate);
    std::vector<int16_t> vecPcm(ulFrames * stFormat.ulChannels, 0);
    for (size_t i = 0; i < ulFrames; ++i) {
        for (uint32_t ulChannel = 0; ulChannel < stFormat.ulChannels; ++ulChannel) {
            if (ulChannel < vecChannels.size()) {
                vecPcm[i * stFormat.ulChannels + ulChannel] = static_cast<int16_t>(
                    std::lround(vecChannels[ulChannel](static_cast<double>(i) / stFormat.ulRate)));
            }
        }
    }
    return vecPcm;
}

int Fail(const char* pszWhat, unsigned long ulCode)
{
    std::fprintf(stderr, "FAIL: %s (returned 0x%08lx)\n", pszWhat, ulCode);
    return 1;
}

bool Succeeded(const char* pszCall, uint32_t ulResult)
{
    return ulResult == VOCORA_OK || Fail(pszCall, ulResult) == 0;
}

// ---- play ---------------------------------------------------------------

// COM and the library for the life of one run; the library's warnings and
// errors go to stderr, next to the test's own diagnostics.
class CSession {
public:
    CSession()
    {
        m_bCom = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        Vocora_GlobalInit();
        Vocora_SetLogCB(&CSession::OnLog);
        Vocora_SetLogLevel(VOCORA_LOG_WARNING);
        // Without a capture backend this reports 4, yet playback is ready.
        Vocora_Init();
    }
    ~CSession()
    {
        Vocora_Cleanup();
        if (m_bCom) {
            CoUninitialize();
        }
    }
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

private:
    // Only the first few: a host keeping the queue full is told so on every try.
    static void VOCORA_CALL OnLog(void*, int32_t lLevel, const char* pszFile, uint32_t ulLine,
                                  const char*, const char* pszFormat, va_list vaArgs)
    {
        static std::atomic<int> s_lShown{0};
        const int lShown = s_lShown++;
        if (lShown < 5) {
            std::fprintf(stderr, "vocora log %d %s:%u: ", lLevel, pszFile, ulLine);
            std::vfprintf(stderr, pszFormat, vaArgs);
            std::fputc('\n', stderr);
        } else if (lShown == 5) {
            std::fprintf(stderr, "vocora log: further lines not shown\n");
        }
    }

    bool m_bCom = false;
};

class CPlayer {
public:
    explicit CPlayer(const Format& stFormat)
    {
        const AudioParam stParam = {stFormat.ulRate, stFormat.ulChannels, 16,
                                    static_cast<uint32_t>(stFormat.BlockSamples() * 2)};
        m_ulCreated = Vocora_CreatePlayDec(&stParam, &m_hPlayer);
    }
    ~CPlayer() { Destroy(); }
    CPlayer(const CPlayer&) = delete;
    CPlayer& operator=(const CPlayer&) = delete;

    uint32_t Created() const { return m_ulCreated; }
    VocoraPlayHandle Get() const { return m_hPlayer; }
    uint32_t Destroy()
    {
        uint32_t ulResult = VOCORA_OK;
        if (m_hPlayer != nullptr) {
            ulResult = Vocora_DestoryPlayDec(m_hPlayer);
            m_hPlayer = nullptr;
        }
        return ulResult;
    }

private:
    VocoraPlayHandle m_hPlayer = nullptr;
    uint32_t m_ulCreated = VOCORA_ERR_NOT_AVAILABLE;
};

uint8_t* BlockAt(std::vector<int16_t>& vecPcm, const Format& stFormat, size_t ulBlock)
{
    return reinterpret_cast<uint8_t*>(&vecPcm[ulBlock * stFormat.BlockSamples()]);
}

// Hands every whole block of vecPcm over as a host does: kulPreroll at once,
// the rest at real-time pace, waiting whenever the staging queue is full.
// fnBeforeBlock may act between blocks.
bool HandOver(VocoraPlayHandle hPlayer, std::vector<int16_t>& vecPcm, const Format& stFormat,
              size_t ulPreroll, const std::function<bool(size_t)>& fnBeforeBlock = nullptr)
{
    const size_t ulBlocks = vecPcm.size() / stFormat.BlockSamples();
    const auto ulBytes = static_cast<uint32_t>(stFormat.BlockSamples() * 2);
    const auto tPaceFrom = std::chrono::steady_clock::now();
    for (size_t ulBlock = 0; ulBlock < ulBlocks; ++ulBlock) {
        if (ulBlock > ulPreroll) {
            std::this_thread::sleep_until(tPaceFrom + std::chrono::microseconds(1000000 / kulBlocksPerSecond) *
                                                          (ulBlock - ulPreroll));
        }
        if (fnBeforeBlock && !fnBeforeBlock(ulBlock)) {
            return false;
        }
        uint32_t ulResult = VOCORA_PLAY_ERR_NOT_STARTED;
        for (int i = 0; i < 400; ++i) {
            ulResult = Vocora_Play(hPlayer, BlockAt(vecPcm, stFormat, ulBlock), ulBytes);
            if (ulResult != kulQueueFull) {
                break;
            }
            Sleep(5);
        }
        if (ulResult != VOCORA_OK) {
            std::fprintf(stderr, "at block %zu of %zu: ", ulBlock, ulBlocks);
            return Succeeded("Vocora_Play", ulResult);
        }
    }
    return true;
}

// What is still staged, plus the device's last periods, before the handle goes.
void AwaitDrain()
{
    Sleep(static_cast<DWORD>(kulPreroll * 1000 / kulBlocksPerSecond + 300));
}

// A tone in channel 1 only, played by the platform's DirectSound beside the
// library: started kulMarkerLeadMs before Vocora_DestoryPlayDec and stopped when
// it returns, it marks that moment in the recording, through the same mixer and
// latency as the library's sound. The lead makes sure the mixer has taken it up:
// the call itself may be over within one mixing period.
class CMarker {
public:
    HRESULT Start() { return m_pBuffer->Play(0, 0, DSBPLAY_LOOPING); }
    void Stop() { m_pBuffer->Stop(); }

    HRESULT Prepare(uint32_t ulRate)
    {
        HRESULT hr = DirectSoundCreate8(nullptr, m_pDevice.Put(), nullptr);
        if (SUCCEEDED(hr)) {
            hr = m_pDevice->SetCooperativeLevel(GetDesktopWindow(), DSSCL_NORMAL);
        }
        WAVEFORMATEX stWave = {WAVE_FORMAT_PCM, 2, ulRate, ulRate * 4, 4, 16, 0};
        DSBUFFERDESC stDesc = {};
        stDesc.dwSize = sizeof stDesc;
        stDesc.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
        stDesc.dwBufferBytes = ulRate / 10 * 4;  // 100 whole periods: it loops seamlessly
        stDesc.lpwfxFormat = &stWave;
        if (SUCCEEDED(hr)) {
            hr = m_pDevice->CreateSoundBuffer(&stDesc, m_pBuffer.Put(), nullptr);
        }
        void* pRegion = nullptr;
        DWORD ulRegion = 0;
        if (SUCCEEDED(hr)) {
            hr = m_pBuffer->Lock(0, stDesc.dwBufferBytes, &pRegion, &ulRegion, nullptr, nullptr, 0);
        }
        if (SUCCEEDED(hr)) {
            auto* psFrames = static_cast<int16_t*>(pRegion);
            for (DWORD i = 0; i < ulRegion / 4; ++i) {
                psFrames[2 * i] = 0;
                psFrames[2 * i + 1] = static_cast<int16_t>(
                    kdAmplitude * std::cos(2 * kdPi * kdMarkerHz * i / ulRate));
            }
            hr = m_pBuffer->Unlock(pRegion, ulRegion, nullptr, 0);
        }
        return hr;
    }

private:
    CComPtr<IDirectSound8> m_pDevice;
    CComPtr<IDirectSoundBuffer> m_pBuffer;
};

int PlayDestroy(CPlayer& oPlayer, const Format& stFormat)
{
    CMarker oMarker;
    const HRESULT hr = oMarker.Prepare(stFormat.ulRate);
    if (FAILED(hr)) {
        return Fail("preparing the marker through DirectSound", static_cast<unsigned long>(hr));
    }
    std::vector<int16_t> vecPcm = Render({DestroySweep()}, stFormat, kdDestroySweepSeconds);
    const size_t ulBlocks = vecPcm.size() / stFormat.BlockSamples();
    const auto ulBytes = static_cast<uint32_t>(stFormat.BlockSamples() * 2);
    // Keep the staging queue full for a second, so that a destroy which let
    // the staged blocks play out would be heard going on for the queue's length.
    const auto tUntil = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    size_t ulBlock = 0;
    bool bFull = false;
    while (!bFull || std::chrono::steady_clock::now() < tUntil) {
        if (ulBlock == ulBlocks) {
            return Fail("the staging queue never filled up", ulBlock);
        }
        const uint32_t ulResult = Vocora_Play(oPlayer.Get(), BlockAt(vecPcm, stFormat, ulBlock), ulBytes);
        bFull = ulResult == kulQueueFull;
        if (ulResult == VOCORA_OK) {
            ++ulBlock;
        } else if (bFull) {
            Sleep(5);
        } else {
            return Fail("Vocora_Play", ulResult);
        }
    }
    const HRESULT hrMarker = oMarker.Start();
    if (FAILED(hrMarker)) {
        return Fail("starting the marker", static_cast<unsigned long>(hrMarker));
    }
    Sleep(kulMarkerLeadMs);
    const uint32_t ulResult = oPlayer.Destroy();
    oMarker.Stop();
    if (!Succeeded("Vocora_DestoryPlayDec", ulResult)) {
        return 1;
    }
    std::printf("destroyed the handle with %zu blocks handed over and the staging queue full\n",
                ulBlock);
    Sleep(300);
    return 0;
}

int Play(const std::string& strScenario, const Format& stFormat)
{
    CSession oSession;
    CPlayer oPlayer(stFormat);
    const VocoraPlayHandle hPlayer = oPlayer.Get();
    // A new player is silent until given a volume.
    if (!Succeeded("Vocora_CreatePlayDec", oPlayer.Created()) ||
        !Succeeded("Vocora_SetPlayVolume(255)", Vocora_SetPlayVolume(hPlayer, 255)) ||
        !Succeeded("Vocora_PlayStart", Vocora_PlayStart(hPlayer))) {
        return 1;
    }
    if (strScenario == "stream") {
        std::vector<int16_t> vecPcm = Render(StreamSweeps(stFormat, kdStreamSeconds), stFormat,
                                             kdStreamSeconds);
        if (!HandOver(hPlayer, vecPcm, stFormat, kulPreroll)) {
            return 1;
        }
    } else if (strScenario == "volume") {
        std::vector<int16_t> vecPcm = Render({VolumeSweep(stFormat)}, stFormat, kdVolumeSeconds);
        const auto fnHalve = [&](size_t ulBlock) {
            return ulBlock != kulVolumeChangeBlock ||
                   Succeeded("Vocora_SetPlayVolume(128)", Vocora_SetPlayVolume(hPlayer, 128));
        };
        if (!HandOver(hPlayer, vecPcm, stFormat, kulPreroll, fnHalve)) {
            return 1;
        }
    } else if (strScenario == "restart") {
        std::vector<int16_t> vecBefore = Render({BeforeStop()}, stFormat, kdBeforeStopSeconds);
        if (!HandOver(hPlayer, vecBefore, stFormat, kulBeforeStopPreroll) ||
            !Succeeded("Vocora_PlayStop", Vocora_PlayStop(hPlayer))) {
            return 1;
        }
        Sleep(300);
        std::vector<int16_t> vecAfter = Render({AfterRestart(stFormat)}, stFormat, kdAfterRestartSeconds);
        if (!Succeeded("Vocora_PlayStart after Vocora_PlayStop", Vocora_PlayStart(hPlayer)) ||
            !HandOver(hPlayer, vecAfter, stFormat, kulPreroll)) {
            return 1;
        }
    } else if (strScenario == "destroy") {
        return PlayDestroy(oPlayer, stFormat);
    }
    AwaitDrain();
    std::printf("played scenario %s at %u Hz x %u\n", strScenario.c_str(), stFormat.ulRate,
                stFormat.ulChannels);
    return 0;
}

// ---- check --------------------------------------------------------------

// Prints every check with what was expected and what was measured, and
// remembers whether any failed, or whether the take is void.
class CVerdict {
public:
    static constexpr int klVoid = 3;

    void Void(const std::string& strWhy)
    {
        std::printf("  VOID %s\n", strWhy.c_str());
        m_bVoid = true;
    }
    __attribute__((format(gnu_printf, 3, 4))) void Expect(bool bHeld, const char* pszFormat, ...)
    {
        va_list vaArgs;
        va_start(vaArgs, pszFormat);
        std::printf("%s ", bHeld ? "  ok  " : "  FAIL");
        std::vprintf(pszFormat, vaArgs);
        std::printf("\n");
        va_end(vaArgs);
        m_bFailed = m_bFailed || !bHeld;
    }
    int Result() const
    {
        if (m_bVoid) {
            std::printf("void: the sound server ran dry, which can disturb the player's "
                        "refills for a while; take again\n");
            return klVoid;
        }
        std::printf("%s\n", m_bFailed ? "FAILED" : "passed");
        return m_bFailed ? 1 : 0;
    }

private:
    bool m_bFailed = false;
    bool m_bVoid = false;
};

double Db(double dPowerRatio)
{
    return 10 * std::log10(std::max(dPowerRatio, 1e-12));
}

double GainDb(double dGain)
{
    return Db(dGain * dGain);
}


// A known signal followed through one channel of the recording.
struct Heard {
    SignalMatch stStart;
    SignalTrack stTrack;
    size_t ulFirstBad = 0;  // every window before it was heard as handed over
    size_t ulBad = 0;
    size_t ulWorst = 0;
    double dWorstDb = -200;
    std::string strBad;       // where the bad windows are, in seconds into the signal
    std::string strDropouts;  // where the sound server ran dry, and for how long
};

// Sums up the windows, but for ulExcused.
void Summarize(Heard& stHeard, const Format& stFormat, size_t ulExcused)
{
    const SignalTrack& stTrack = stHeard.stTrack;
    stHeard.ulFirstBad = stTrack.vecErrors.size();
    stHeard.ulBad = 0;
    stHeard.dWorstDb = -200;
    stHeard.strBad.clear();
    stHeard.strDropouts.clear();
    char szText[64];
    for (size_t i = 0; i < stTrack.vecErrors.size(); ++i) {
        const double dError = Db(stTrack.vecErrors[i]);
        if (stTrack.vecInDropout[i] || i == ulExcused) {
            continue;
        }
        if (dError > stHeard.dWorstDb) {
            stHeard.dWorstDb = dError;
            stHeard.ulWorst = i;
        }
        if (dError <= kdMatchLimitDb) {
            continue;
        }
        stHeard.ulFirstBad = std::min(stHeard.ulFirstBad, i);
        // Stretches, so a lost block reads apart from a late start or a bad end.
        if (stHeard.ulBad++ == 0 || Db(stTrack.vecErrors[i - 1]) <= kdMatchLimitDb) {
            size_t ulLast = i;
            while (ulLast + 1 < stTrack.vecErrors.size() &&
                   Db(stTrack.vecErrors[ulLast + 1]) > kdMatchLimitDb) {
                ++ulLast;
            }
            std::snprintf(szText, sizeof szText, " %.2f-%.2f s", static_cast<double>(i) / 100,
                          static_cast<double>(ulLast + 1) / 100);
            stHeard.strBad += stHeard.strBad.size() < 100 ? szText : "";
        }
    }
    for (const Dropout& stDropout : stTrack.vecDropouts) {
        std::snprintf(szText, sizeof szText, " at %.2f s for %.1f ms",
                      static_cast<double>(stDropout.ulWindow) / 100,
                      1000.0 * static_cast<double>(stDropout.ulDelay) / stFormat.ulRate);
        stHeard.strDropouts += szText;
    }
}

// Lines the signal up by its first half second, which spans octaves and so
// fits at one lag only. Should the sound server run dry within it, though, the
// stretch after the dropout may fit best and leave the start unexplained, so
// the first tenth is tried too, and the better account of the recording stands.
Heard Follow(const std::vector<int16_t>& vecRecording, const Format& stFormat,
             const SignalFunction& fnSignal, double dSeconds)
{
    Heard stBest;
    for (double dAlignSeconds : {0.5, 0.1}) {
        Heard stHeard;
        stHeard.stStart = AlignSignal(vecRecording, stFormat.ulRate, fnSignal, dAlignSeconds);
        stHeard.stTrack = TrackSignal(vecRecording, stFormat.ulRate, fnSignal, stHeard.stStart,
                                      dSeconds, stFormat.Window(),
                                      std::pow(10, kdMatchLimitDb / 10));
        Summarize(stHeard, stFormat, SIZE_MAX);
        if (stBest.stTrack.vecErrors.empty() || stHeard.ulBad < stBest.ulBad) {
            stBest = stHeard;
        }
    }
    return stBest;
}

size_t DropoutDelay(const Heard& stHeard)
{
    size_t ulDelay = 0;
    for (const Dropout& stDropout : stHeard.stTrack.vecDropouts) {
        ulDelay += stDropout.ulDelay;
    }
    return ulDelay;
}

// Every 10 ms window of the signal heard, in order.
void ExpectInOrder(CVerdict& oVerdict, const Heard& stHeard, const Format& stFormat,
                   const char* pszWhat)
{
    oVerdict.Expect(stHeard.ulBad == 0,
                    "%s, lined up at %.4f s of the recording: %zu of %zu windows of 10 ms "
                    "differ from what was handed over (error above %.0f dB)%s%s; the worst "
                    "error %.1f dB at %.2f s",
                    pszWhat,
                    (static_cast<double>(stHeard.stStart.ulLag) + stHeard.stStart.dDelay) /
                        stFormat.ulRate,
                    stHeard.ulBad, stHeard.stTrack.vecErrors.size(), kdMatchLimitDb,
                    stHeard.ulBad != 0 ? ", at" : "", stHeard.strBad.c_str(), stHeard.dWorstDb,
                    static_cast<double>(stHeard.ulWorst) / 100);
    // The sound server runs dry now and then even on an idle machine, with
    // the platform's own DirectSound too. The player's refills then see the
    // cursor jump, which by design may replay a stale block: the take proves
    // nothing either way.
    if (!stHeard.stTrack.vecDropouts.empty()) {
        oVerdict.Void(std::string(pszWhat) + ": the sound server ran dry" + stHeard.strDropouts +
                      ", delaying the rest");
    }
}

// Nothing but silence from ulAfter on and, unless 0, before ulBefore.
void ExpectSilence(CVerdict& oVerdict, const std::vector<int16_t>& vecRecording,
                   const Format& stFormat, size_t ulBefore, size_t ulAfter, const char* pszWhere)
{
    const size_t ulWindow = stFormat.Window();
    const double dBefore = RmsToDbfs(
        LoudestWindowRms(vecRecording, 0, ulBefore - std::min(ulBefore, ulWindow), ulWindow));
    const double dAfter = RmsToDbfs(
        LoudestWindowRms(vecRecording, ulAfter + ulWindow, vecRecording.size(), ulWindow));
    char szBefore[48] = "";
    if (ulBefore != 0) {
        std::snprintf(szBefore, sizeof szBefore, " before %.1f dBFS,", dBefore);
    }
    oVerdict.Expect(std::max(dBefore, dAfter) <= kdSilenceDbfs,
                    "silence %s: loudest 10 ms%s after %.1f dBFS (limit %.0f dBFS)", pszWhere,
                    szBefore, dAfter, kdSilenceDbfs);
}

void CheckStream(CVerdict& oVerdict, const std::vector<int16_t>& vecFrames, const Format& stFormat)
{
    const std::vector<SignalFunction> vecSweeps = StreamSweeps(stFormat, kdStreamSeconds);
    const auto ulCount = static_cast<size_t>(kdStreamSeconds * stFormat.ulRate);
    std::vector<double> vecOffsets;
    for (uint32_t ulChannel = 0; ulChannel < stFormat.ulChannels; ++ulChannel) {
        const std::vector<int16_t> vecRecording = ChannelOf(vecFrames, stFormat.ulChannels, ulChannel);
        char szWhat[64];
        std::snprintf(szWhat, sizeof szWhat, "channel %u, %.2f s sweep", ulChannel, kdStreamSeconds);
        const Heard stHeard = Follow(vecRecording, stFormat, vecSweeps[ulChannel], kdStreamSeconds);
        ExpectInOrder(oVerdict, stHeard, stFormat, szWhat);
        vecOffsets.push_back(static_cast<double>(stHeard.stStart.ulLag) + stHeard.stStart.dDelay);

        double dLowest = 200, dHighest = -200;
        for (size_t i = 0; i < stHeard.stTrack.vecGains.size(); ++i) {
            if (!stHeard.stTrack.vecInDropout[i]) {
                dLowest = std::min(dLowest, GainDb(stHeard.stTrack.vecGains[i]));
                dHighest = std::max(dHighest, GainDb(stHeard.stTrack.vecGains[i]));
            }
        }
        oVerdict.Expect(dLowest >= -1 && dHighest <= 1,
                        "%s at volume 255: every window %+.2f to %+.2f dB against what was "
                        "handed over (expected 0 within 1 dB)", szWhat, dLowest, dHighest);
        ExpectSilence(oVerdict, vecRecording, stFormat, stHeard.stStart.ulLag,
                      stHeard.stTrack.ulEndLag + ulCount, "around it");

        // Measured on the sound itself rather than through the alignment, so
        // a wrong rate reads as the wrong pitch, not only as a mismatch.
        const ToneSpan stSpan = FindToneSpan(vecRecording, stFormat.Window(), kdLoudRms);
        std::string strPitches;
        bool bPitchesRight = stSpan.bFound;
        for (double dShare : {0.25, 0.5, 0.75}) {
            const auto ulAt = stSpan.ulBegin + static_cast<size_t>(
                                                   dShare * static_cast<double>(stSpan.ulEnd - stSpan.ulBegin));
            const size_t ulHalf = stFormat.ulRate / 50;
            const double dMeasured = EstimateFrequency(vecRecording, ulAt - std::min(ulAt, ulHalf),
                                                       ulAt + ulHalf, stFormat.ulRate);
            const double dWanted = SweepFrequency(dShare * kdStreamSeconds, kdStreamSeconds,
                                                  kdSweepBottom, SweepTop(stFormat, ulChannel));
            bPitchesRight = bPitchesRight && std::fabs(dMeasured - dWanted) <= 0.02 * dWanted;
            char szPitch[64];
            std::snprintf(szPitch, sizeof szPitch, " %.0f%% in %.1f Hz (expected %.1f)",
                          dShare * 100, dMeasured, dWanted);
            strPitches += szPitch;
        }
        oVerdict.Expect(bPitchesRight, "%s pitch within 2%%:%s", szWhat, strPitches.c_str());
    }
    if (vecOffsets.size() == 2) {
        oVerdict.Expect(std::fabs(vecOffsets[0] - vecOffsets[1]) <= 0.5,
                        "channels in step: they start at samples %.2f and %.2f (within 0.5)",
                        vecOffsets[0], vecOffsets[1]);
    }
}

void CheckVolume(CVerdict& oVerdict, const std::vector<int16_t>& vecRecording, const Format& stFormat)
{
    Heard stHeard = Follow(vecRecording, stFormat, VolumeSweep(stFormat), kdVolumeSeconds);
    const SignalTrack& stTrack = stHeard.stTrack;
    const size_t ulWindows = stTrack.vecGains.size();
    // Medians of the first and last second, clear of the fades.
    const auto fnMedian = [&](size_t ulFrom, size_t ulTo) {
        std::vector<double> vecLevels;
        for (size_t i = ulFrom; i < std::min(ulTo, ulWindows); ++i) {
            if (!stTrack.vecInDropout[i]) {
                vecLevels.push_back(GainDb(stTrack.vecGains[i]));
            }
        }
        if (vecLevels.empty()) {
            return -200.0;
        }
        std::nth_element(vecLevels.begin(), vecLevels.begin() + static_cast<long>(vecLevels.size() / 2),
                         vecLevels.end());
        return vecLevels[vecLevels.size() / 2];
    };
    const double dFull = fnMedian(10, 100);
    const double dHalf = fnMedian(ulWindows - std::min<size_t>(ulWindows, 100), ulWindows - 10);
    oVerdict.Expect(std::fabs(dFull) <= 1.0,
                    "level at volume 255: %+.2f dB against what was handed over (expected 0 "
                    "within 1 dB)", dFull);
    oVerdict.Expect(std::fabs(dHalf - dFull - kdVolumeStepDb) <= 0.5,
                    "level at volume 128 against 255: %+.2f dB (expected %+.2f within 0.5 dB)",
                    dHalf - dFull, kdVolumeStepDb);

    // One clean step, and no later than the first block handed over after the
    // volume was set: the volume applies to what plays from then on.
    const double dMiddle = (dFull + dHalf) / 2;
    size_t ulStep = 1;
    while (ulStep < ulWindows && (stTrack.vecInDropout[ulStep] || GainDb(stTrack.vecGains[ulStep]) >= dMiddle)) {
        ++ulStep;
    }
    double dSpread = 0;
    for (size_t i = 1; i + 1 < ulWindows; ++i) {
        if (!stTrack.vecInDropout[i] && (i + 1 < ulStep || i > ulStep + 1)) {
            dSpread = std::max(dSpread, std::fabs(GainDb(stTrack.vecGains[i]) - (i < ulStep ? dFull : dHalf)));
        }
    }
    // The window the step falls in fits neither level.
    Summarize(stHeard, stFormat, ulStep);
    ExpectInOrder(oVerdict, stHeard, stFormat, "the sweep at both volumes");
    const double dStepAt = static_cast<double>(ulStep) / 100;
    const double dSetAt = static_cast<double>(kulVolumeChangeBlock) / kulBlocksPerSecond;
    oVerdict.Expect(dStepAt <= dSetAt + 0.01 && dSpread <= 0.5,
                    "the level steps down once, %.2f s into the sweep (the volume was set before "
                    "the block at %.2f s, so no later than that); elsewhere within %.2f dB of "
                    "the two levels (limit 0.5 dB)",
                    dStepAt, dSetAt, dSpread);
}

void CheckRestart(CVerdict& oVerdict, const std::vector<int16_t>& vecRecording, const Format& stFormat)
{
    const Heard stHeard = Follow(vecRecording, stFormat, AfterRestart(stFormat), kdAfterRestartSeconds);
    ExpectInOrder(oVerdict, stHeard, stFormat, "the sweep handed over after the restart");
    ExpectSilence(oVerdict, vecRecording, stFormat, 0,
                  stHeard.stTrack.ulEndLag + static_cast<size_t>(kdAfterRestartSeconds * stFormat.ulRate),
                  "after it");
    size_t ulLoud = 0;
    for (size_t ulAt = 0; ulAt + stFormat.Window() <= stHeard.stStart.ulLag; ulAt += stFormat.Window()) {
        ulLoud += Rms(vecRecording, ulAt, stFormat.Window()) > kdLoudRms ? 1 : 0;
    }
    const double dHeard = static_cast<double>(ulLoud) / 100;
    oVerdict.Expect(dHeard >= 0.5 && dHeard <= kdHeardBeforeStopLimit,
                    "before the restart %.2f s sounded of the %.2f s handed over; the %.2f s "
                    "still staged at the stop must be discarded (expected 0.5 to %.2f s)",
                    dHeard, kdBeforeStopSeconds,
                    static_cast<double>(kulBeforeStopPreroll) / kulBlocksPerSecond,
                    kdHeardBeforeStopLimit);
}

// Channel 0 holds the library's sweep, channel 1 the marker that sounded
// while Vocora_DestoryPlayDec ran.
void CheckDestroy(CVerdict& oVerdict, const std::vector<int16_t>& vecFrames, const Format& stFormat)
{
    const std::vector<int16_t> vecSweep = ChannelOf(vecFrames, 2, 0);
    const std::vector<int16_t> vecMarker = ChannelOf(vecFrames, 2, 1);
    const Heard stHeard = Follow(vecSweep, stFormat, DestroySweep(), kdDestroySweepSeconds);
    const double dHeard = static_cast<double>(stHeard.ulFirstBad) / 100;
    oVerdict.Expect(dHeard >= 0.5,
                    "the sweep played in order for %.2f s before it broke off (expected at least "
                    "0.5 s: it was kept queued for 1 s)", dHeard);
    if (!stHeard.stTrack.vecDropouts.empty()) {
        oVerdict.Void("the sound server ran dry" + stHeard.strDropouts);
    }
    const size_t ulCut = stHeard.stStart.ulLag + DropoutDelay(stHeard) +
                         stHeard.ulFirstBad * stFormat.Window();
    ExpectSilence(oVerdict, vecSweep, stFormat, 0, ulCut, "after the sweep broke off");

    const auto fnLoud = [](int16_t s) { return std::abs(s) > kdLoudRms * 2; };
    const auto itMarkerOn = std::find_if(vecMarker.begin(), vecMarker.end(), fnLoud);
    const auto itMarkerOff = std::find_if(vecMarker.rbegin(), vecMarker.rend(), fnLoud);
    const auto itLastSound = std::find_if(vecSweep.rbegin(), vecSweep.rend(), fnLoud);
    if (itMarkerOn == vecMarker.end() || itLastSound == vecSweep.rend()) {
        oVerdict.Expect(false, "the marker and the sweep are both in the recording");
        return;
    }
    const double dRate = stFormat.ulRate;
    const double dCalled = static_cast<double>(itMarkerOn - vecMarker.begin()) / dRate +
                           kulMarkerLeadMs / 1000.0;
    const double dReturned = static_cast<double>(vecMarker.rend() - itMarkerOff) / dRate;
    const double dEnd = static_cast<double>(vecSweep.rend() - itLastSound) / dRate;
    oVerdict.Expect(dEnd >= dCalled - kdCutTolerance && dEnd <= dReturned + kdCutTolerance,
                    "the sweep ends at %.4f s of the recording; Vocora_DestoryPlayDec ran from "
                    "%.4f s to %.4f s (expected the end in between, within %.2f s; a queue "
                    "that played out would run %.2f s longer)",
                    dEnd, dCalled, dReturned, kdCutTolerance,
                    static_cast<double>(kulQueueBlocks) / kulBlocksPerSecond);
}

int Check(const std::string& strScenario, const Format& stFormat, const std::string& strPath)
{
    const std::vector<int16_t> vecFrames = ReadRawPcm(strPath);
    if (vecFrames.empty()) {
        std::fprintf(stderr, "FAIL: the recording is empty: nothing reached the sink's monitor\n");
        return 1;
    }
    std::printf("%s at %u Hz x %u: %.2f s recorded\n", strScenario.c_str(), stFormat.ulRate,
                stFormat.ulChannels,
                static_cast<double>(vecFrames.size()) / stFormat.ulChannels / stFormat.ulRate);
    CVerdict oVerdict;
    if (strScenario == "stream") {
        CheckStream(oVerdict, vecFrames, stFormat);
    } else if (strScenario == "volume") {
        CheckVolume(oVerdict, vecFrames, stFormat);
    } else if (strScenario == "restart") {
        CheckRestart(oVerdict, vecFrames, stFormat);
    } else {
        CheckDestroy(oVerdict, vecFrames, stFormat);
    }
    return oVerdict.Result();
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string strMode = argc > 1 ? argv[1] : "";
    const std::string strScenario = argc > 2 ? argv[2] : "";
    const Format stFormat = {argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 0,
                             argc > 4 ? static_cast<uint32_t>(std::atoi(argv[4])) : 0};
    const bool bKnown = strScenario == "stream" || strScenario == "volume" ||
                        strScenario == "restart" || strScenario == "destroy";
    // Every scenario keeps to one channel but these two.
    const bool bFormatFits = stFormat.ulRate % kulBlocksPerSecond == 0 &&
                             (strScenario == "stream" ? stFormat.ulChannels == 1 || stFormat.ulChannels == 2
                              : strScenario == "destroy" ? stFormat.ulChannels == 2
                                                         : stFormat.ulChannels == 1);
    if (bKnown && bFormatFits && strMode == "play" && argc == 5) {
        return Play(strScenario, stFormat);
    }
    if (bKnown && bFormatFits && strMode == "check" && argc == 6) {
        return Check(strScenario, stFormat, argv[5]);
    }
    std::fprintf(stderr,
                 "usage: play_e2e play SCENARIO RATE CHANNELS\n"
                 "       play_e2e check SCENARIO RATE CHANNELS RECORDING\n"
                 "scenarios: stream (1 or 2 channels), volume, restart (1), destroy (2)\n");
    return 2;
}
