// vocora-host loopback: a test signal played through the DLL is captured
// through the DLL (over a cable, a loudspeaker and a microphone, or the
// rig's monitor routed into its microphone), found again, and measured: the
// round trip from handing a block to Vocora_Play to the same sound reaching
// the capture callback, the dropouts on the way, and the level.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "host.h"
#include "vocora.h"
#include "wav_file.h"

namespace {

constexpr double kdPi = 3.14159265358979323846;
// A linear sweep to look at plus band-limited noise, whose correlation peak
// is sharp everywhere: the sweep alone repeats itself within a window.
constexpr double kdSweepAmplitude = 0.25 * 32767;
constexpr double kdNoiseAmplitude = 0.15 * 32767;
constexpr double kdSweepFromHz = 300.0;
constexpr double kdSweepToHz = 3400.0;
// The signal is looked for this long after its first block was handed over.
constexpr double kdLongestRoundTrip = 2.0;
constexpr double kdFindSeconds = 0.2;    // of signal, to find its start
constexpr double kdWindowSeconds = 0.02;  // of signal, checked one after another
// Below this correlation a window is not the signal any more.
constexpr double kdMatch = 0.5;
// Clocks of the output and the input drift a little: each window may sit
// this many samples off the one before.
constexpr size_t kulDrift = 3;
// Capture runs this long before the signal, and after its last block.
constexpr DWORD kulLeadInMs = 300;
constexpr DWORD kulTailMs = 1000;

std::vector<int16_t> TestSignal(uint32_t ulRate, double dSeconds)
{
    std::vector<int16_t> vec(static_cast<size_t>(dSeconds * ulRate));
    const double dToHz = std::min(kdSweepToHz, 0.4 * ulRate);
    uint32_t ulSeed = 12345;
    double dNoise = 0.0;
    for (size_t n = 0; n < vec.size(); ++n) {
        const double t = static_cast<double>(n) / ulRate;
        const double dPhase = 2 * kdPi * (kdSweepFromHz * t + (dToHz - kdSweepFromHz) * t * t / (2 * dSeconds));
        ulSeed = ulSeed * 1664525u + 1013904223u;
        // One pole of low-pass keeps the noise below the top of the band.
        dNoise = 0.5 * dNoise + 0.5 * (static_cast<double>(ulSeed >> 8) / (1 << 23) - 1.0);
        vec[n] = static_cast<int16_t>(std::lround(kdSweepAmplitude * std::sin(dPhase) + kdNoiseAmplitude * dNoise));
    }
    return vec;
}

// Normalised correlation of ulLength samples of a at ulA and b at ulB.
double Correlation(const std::vector<int16_t>& a, size_t ulA, const std::vector<int16_t>& b, size_t ulB, size_t ulLength)
{
    if (ulA + ulLength > a.size() || ulB + ulLength > b.size()) {
        return 0.0;
    }
    double dAb = 0.0, dAa = 0.0, dBb = 0.0;
    for (size_t i = 0; i < ulLength; ++i) {
        dAb += static_cast<double>(a[ulA + i]) * b[ulB + i];
        dAa += static_cast<double>(a[ulA + i]) * a[ulA + i];
        dBb += static_cast<double>(b[ulB + i]) * b[ulB + i];
    }
    return dAa > 0 && dBb > 0 ? dAb / std::sqrt(dAa * dBb) : 0.0;
}

// The lag in [ulFrom, ulTo) where ulLength samples of the signal from ulAt
// match the capture best.
std::pair<size_t, double> BestLag(const std::vector<int16_t>& vecSignal, size_t ulAt, const std::vector<int16_t>& vecCapture,
                                  size_t ulFrom, size_t ulTo, size_t ulLength)
{
    std::pair<size_t, double> stBest{ulFrom, -1.0};
    for (size_t ulLag = ulFrom; ulLag < ulTo; ++ulLag) {
        const double d = Correlation(vecSignal, ulAt, vecCapture, ulLag, ulLength);
        stBest = d > stBest.second ? std::make_pair(ulLag, d) : stBest;
    }
    return stBest;
}

struct Finding {
    size_t ulStart = 0;  // capture sample where the signal begins
    double dCorrelation = 0.0;
    std::vector<size_t> vecDropouts;  // capture samples where a dropout begins
};

// Walks the signal window by window along the capture; a window that does
// not match starts a dropout, after which the signal is looked for again
// (it may come back later, after silence, or earlier, with samples lost).
Finding Follow(const std::vector<int16_t>& vecSignal, const std::vector<int16_t>& vecCapture, size_t ulFrom, uint32_t ulRate)
{
    Finding st;
    const auto ulFind = static_cast<size_t>(kdFindSeconds * ulRate);
    const auto ulWindow = static_cast<size_t>(kdWindowSeconds * ulRate);
    const size_t ulTo = std::min(vecCapture.size(), ulFrom + static_cast<size_t>(kdLongestRoundTrip * ulRate));
    std::tie(st.ulStart, st.dCorrelation) = BestLag(vecSignal, 0, vecCapture, ulFrom, ulTo, ulFind);
    if (st.dCorrelation < kdMatch) {
        return st;
    }
    size_t ulLag = st.ulStart;
    bool bInDropout = false;
    for (size_t ulAt = 0; ulAt + ulWindow <= vecSignal.size(); ulAt += ulWindow) {
        const size_t ulExpected = ulLag + ulAt;
        auto stHere = BestLag(vecSignal, ulAt, vecCapture, ulExpected - std::min(ulExpected, kulDrift), ulExpected + kulDrift + 1,
                              ulWindow);
        if (stHere.second < kdMatch) {
            const size_t ulReach = static_cast<size_t>(kdLongestRoundTrip * ulRate / 4);
            stHere = BestLag(vecSignal, ulAt, vecCapture, ulExpected - std::min(ulExpected, ulReach), ulExpected + ulReach, ulWindow);
            if (!bInDropout) {
                st.vecDropouts.push_back(ulExpected);
            }
        }
        bInDropout = stHere.second < kdMatch;
        ulLag = bInDropout ? ulLag : stHere.first - ulAt;
    }
    return st;
}

// The capture sample arriving at dTime, from the arrival time of each delivery.
size_t SampleAt(const std::vector<std::pair<uint64_t, double>>& vecArrivals, double dTime)
{
    size_t ulBytes = 0;
    for (const auto& stArrival : vecArrivals) {
        ulBytes = stArrival.second <= dTime ? stArrival.first : ulBytes;
    }
    return ulBytes / kulBytesPerSample;
}

double ArrivalOf(const std::vector<std::pair<uint64_t, double>>& vecArrivals, size_t ulSample)
{
    for (const auto& stArrival : vecArrivals) {
        if (stArrival.first / kulBytesPerSample > ulSample) {
            return stArrival.second;
        }
    }
    return 0.0;
}

bool Save(const std::string& strPath, const std::vector<int16_t>& vec, uint32_t ulRate)
{
    CWavWriter oWriter;
    std::string strError;
    const bool bOk = oWriter.Create(strPath, ulRate, 1, strError) &&
                     oWriter.Append(vec.data(), static_cast<uint32_t>(vec.size() * kulBytesPerSample), strError) &&
                     oWriter.Finish(strError);
    std::printf("  %s%s\n", bOk ? "saved " : "", bOk ? strPath.c_str() : strError.c_str());
    return bOk;
}

// What a run leaves: the signal, the capture, and the findings for the picture.
struct Run {
    std::vector<int16_t> vecCapture;
    size_t ulHandedAt = 0;  // the capture sample arriving when the first block was handed over
    double dLatencyMs = 0.0;
    Finding stFound;
};

void SaveRun(const std::string& strPrefix, const Run& st, const std::vector<int16_t>& vecSignal, uint32_t ulRate,
             const char* pszPlayer)
{
    std::FILE* pFile = std::fopen((strPrefix + ".txt").c_str(), "w");
    if (pFile != nullptr) {
        std::fprintf(pFile, "rate %u\nplayer %s\nhanded_at %zu\nstart %zu\ncorrelation %.3f\nlatency_ms %.1f\ndropouts", ulRate,
                     pszPlayer, st.ulHandedAt, st.stFound.ulStart, st.stFound.dCorrelation, st.dLatencyMs);
        for (size_t ulDropout : st.stFound.vecDropouts) {
            std::fprintf(pFile, " %zu", ulDropout);
        }
        std::fprintf(pFile, "\n");
        std::fclose(pFile);
    }
    Save(strPrefix + "-played.wav", vecSignal, ulRate);
    Save(strPrefix + "-captured.wav", st.vecCapture, ulRate);
}

// Plays the signal in 20 ms blocks while capturing in 10 ms blocks, from a
// little before it to a little after.
bool PlayAndCapture(CPlayHandle& oPlay, CCaptureHandle& oCapture, const std::vector<int16_t>& vecSignal, uint32_t ulRate,
                    Run& stRun)
{
    CCaptureQueue oQueue(true);
    if (Report("Vocora_SetCaptureCallBack", Vocora_SetCaptureCallBack(oCapture.Get(), &CCaptureQueue::OnCapture, &oQueue)) ||
        Report("Vocora_PlayStart", Vocora_PlayStart(oPlay.Get()))) {
        oCapture.Destroy();
        return false;
    }
    Sleep(kulLeadInMs);
    const uint32_t ulBlockBytes = ulRate / 50 * kulBytesPerSample;
    CFeeder oFeeder(oPlay.Get(), ulBlockBytes, 0.02);
    std::vector<int16_t> vecBlock(ulBlockBytes / kulBytesPerSample);
    bool bFed = true;
    for (size_t ulAt = 0; ulAt < vecSignal.size() && bFed && !CtrlCPressed(); ulAt += vecBlock.size()) {
        std::fill(vecBlock.begin(), vecBlock.end(), 0);
        std::copy_n(vecSignal.begin() + static_cast<ptrdiff_t>(ulAt), std::min(vecBlock.size(), vecSignal.size() - ulAt),
                    vecBlock.begin());
        bFed = oFeeder.Feed(reinterpret_cast<const uint8_t*>(vecBlock.data()));
    }
    oFeeder.Drain();
    Sleep(kulTailMs);
    oCapture.Destroy();  // no callback after this: the queue is the capture's alone
    if (!bFed) {
        Report("Vocora_Play", oFeeder.Failure());
        return false;
    }
    const std::vector<uint8_t> vecBytes = oQueue.TakeAll();
    stRun.vecCapture.resize(vecBytes.size() / kulBytesPerSample);
    std::memcpy(stRun.vecCapture.data(), vecBytes.data(), stRun.vecCapture.size() * kulBytesPerSample);
    const auto vecArrivals = oQueue.Arrivals();
    const double dHanded = oFeeder.HandedAt().front();
    stRun.ulHandedAt = SampleAt(vecArrivals, dHanded);
    stRun.stFound = Follow(vecSignal, stRun.vecCapture, stRun.ulHandedAt, ulRate);
    stRun.dLatencyMs = 1000.0 * (ArrivalOf(vecArrivals, stRun.stFound.ulStart) - dHanded);
    return true;
}

}  // namespace

int RunLoopback(const LoopbackOptions& stOptions)
{
    const uint32_t ulRate = stOptions.ulSampleRate;
    const std::vector<int16_t> vecSignal = TestSignal(ulRate, stOptions.dSeconds);
    const CSession oSession;
    if (stOptions.bWaveOut) {
        Vocora_ForceUseWaveout();
    }
    CCaptureHandle oCapture;
    CPlayHandle oPlay;
    if (oCapture.Create(Pcm16(ulRate, 1, ulRate / 100 * kulBytesPerSample), 1) != VOCORA_OK ||
        oPlay.Create(Pcm16(ulRate, 1, ulRate / 50 * kulBytesPerSample)) != VOCORA_OK) {
        return Result(false, "");
    }
    const uint32_t ulVolume = stOptions.iVolume >= 0 ? static_cast<uint32_t>(stOptions.iVolume) : UnityVolume(oPlay.Backend());
    std::printf("loopback: %s into %s, %u Hz mono, %g s, volume %u (%s)\n", oPlay.Backend(), oCapture.Backend(), ulRate,
                stOptions.dSeconds, ulVolume, VolumeText(oPlay.Backend(), ulVolume).c_str());
    Run stRun;
    if (Report("Vocora_SetPlayVolume", Vocora_SetPlayVolume(oPlay.Get(), ulVolume)) ||
        !PlayAndCapture(oPlay, oCapture, vecSignal, ulRate, stRun)) {
        return Result(false, "");
    }
    const Finding& stFound = stRun.stFound;
    const bool bFound = stFound.dCorrelation >= kdMatch;
    std::printf("\nsummary:\n  path: %s into %s\n", oPlay.Backend(), oCapture.Backend());
    if (bFound) {
        CLevel oPlayed;
        CLevel oCaptured;
        oPlayed.Add(vecSignal.data(), vecSignal.size());
        oCaptured.Add(stRun.vecCapture.data() + stFound.ulStart,
                      std::min(vecSignal.size(), stRun.vecCapture.size() - stFound.ulStart));
        std::printf("  round-trip latency: %.1f ms (correlation %.2f)\n  dropouts: %zu\n"
                    "  level: played %.1f dBFS, captured %.1f dBFS RMS (%+.1f dB)\n",
                    stRun.dLatencyMs, stFound.dCorrelation, stFound.vecDropouts.size(), oPlayed.RmsDbfs(), oCaptured.RmsDbfs(),
                    oCaptured.RmsDbfs() - oPlayed.RmsDbfs());
    } else {
        std::printf("  the signal was not found in the capture (best correlation %.2f): is the output looped back into "
                    "the input?\n",
                    stFound.dCorrelation);
    }
    if (!stOptions.strSave.empty()) {
        SaveRun(stOptions.strSave, stRun, vecSignal, ulRate, oPlay.Backend());
    }
    const bool bStopped = Report("Vocora_PlayStop", Vocora_PlayStop(oPlay.Get())) == VOCORA_OK;
    return Result(bFound && stFound.vecDropouts.empty() && bStopped, "the signal came back whole");
}
