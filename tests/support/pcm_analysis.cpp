#include "pcm_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <fstream>
#include <iterator>

std::vector<int16_t> ReadRawPcm(const std::string& strPath)
{
    std::ifstream oFile(strPath, std::ios::binary);
    const std::vector<char> vecBytes((std::istreambuf_iterator<char>(oFile)),
                                     std::istreambuf_iterator<char>());
    std::vector<int16_t> vecSamples(vecBytes.size() / 2);
    for (size_t i = 0; i < vecSamples.size(); ++i) {
        const auto ucLow = static_cast<uint8_t>(vecBytes[2 * i]);
        const auto ucHigh = static_cast<uint8_t>(vecBytes[2 * i + 1]);
        vecSamples[i] = static_cast<int16_t>(ucLow | (ucHigh << 8));
    }
    return vecSamples;
}

double Rms(const std::vector<int16_t>& vecSamples, size_t ulBegin, size_t ulCount)
{
    ulCount = std::min(ulCount, vecSamples.size() - std::min(ulBegin, vecSamples.size()));
    if (ulCount == 0) {
        return 0;
    }
    double dSum = 0;
    for (size_t i = ulBegin; i < ulBegin + ulCount; ++i) {
        dSum += static_cast<double>(vecSamples[i]) * vecSamples[i];
    }
    return std::sqrt(dSum / static_cast<double>(ulCount));
}

double RmsToDbfs(double dRms)
{
    const double dFullScaleSineRms = 32767.0 / std::sqrt(2.0);
    return 20.0 * std::log10(std::max(dRms, 1e-9) / dFullScaleSineRms);
}

ToneSpan FindToneSpan(const std::vector<int16_t>& vecSamples, size_t ulWindow,
                      double dThresholdRms)
{
    std::vector<double> vecRms;
    for (size_t ulAt = 0; ulAt + ulWindow <= vecSamples.size(); ulAt += ulWindow) {
        vecRms.push_back(Rms(vecSamples, ulAt, ulWindow));
    }
    ToneSpan stSpan;
    const auto itFirst = std::find_if(vecRms.begin(), vecRms.end(),
                                      [&](double d) { return d > dThresholdRms; });
    if (itFirst == vecRms.end()) {
        return stSpan;
    }
    const auto itLast = std::find_if(vecRms.rbegin(), vecRms.rend(),
                                     [&](double d) { return d > dThresholdRms; });
    const size_t ulFirst = static_cast<size_t>(itFirst - vecRms.begin());
    const size_t ulLast = vecRms.size() - 1 - static_cast<size_t>(itLast - vecRms.rbegin());

    std::vector<double> vecInside(vecRms.begin() + ulFirst, vecRms.begin() + ulLast + 1);
    stSpan.ulQuietWindowsInside = static_cast<size_t>(std::count_if(
        vecInside.begin(), vecInside.end(), [&](double d) { return d <= dThresholdRms; }));
    std::nth_element(vecInside.begin(), vecInside.begin() + vecInside.size() / 2,
                     vecInside.end());
    stSpan.dMedianRms = vecInside[vecInside.size() / 2];
    stSpan.ulBegin = ulFirst * ulWindow;
    stSpan.ulEnd = (ulLast + 1) * ulWindow;
    stSpan.bFound = true;
    return stSpan;
}

double EstimateFrequency(const std::vector<int16_t>& vecSamples, size_t ulBegin, size_t ulEnd,
                         uint32_t ulSampleRate)
{
    size_t ulFirstCrossing = 0, ulLastCrossing = 0, ulCrossings = 0;
    for (size_t i = ulBegin + 1; i < ulEnd && i < vecSamples.size(); ++i) {
        if (vecSamples[i - 1] < 0 && vecSamples[i] >= 0) {
            if (ulCrossings == 0) {
                ulFirstCrossing = i;
            }
            ulLastCrossing = i;
            ++ulCrossings;
        }
    }
    if (ulCrossings < 2) {
        return 0;
    }
    const double dPeriods = static_cast<double>(ulCrossings - 1);
    return dPeriods * ulSampleRate / static_cast<double>(ulLastCrossing - ulFirstCrossing);
}

std::vector<int16_t> ChannelOf(const std::vector<int16_t>& vecFrames, uint32_t ulChannels,
                               uint32_t ulChannel)
{
    std::vector<int16_t> vecChannel;
    vecChannel.reserve(vecFrames.size() / ulChannels);
    for (size_t i = ulChannel; i < vecFrames.size(); i += ulChannels) {
        vecChannel.push_back(vecFrames[i]);
    }
    return vecChannel;
}

double LoudestWindowRms(const std::vector<int16_t>& vecSamples, size_t ulBegin, size_t ulEnd,
                        size_t ulWindow)
{
    double dLoudest = 0;
    for (size_t ulAt = ulBegin; ulAt + ulWindow <= std::min(ulEnd, vecSamples.size());
         ulAt += ulWindow) {
        dLoudest = std::max(dLoudest, Rms(vecSamples, ulAt, ulWindow));
    }
    return dLoudest;
}

namespace {

using Spectrum = std::vector<std::complex<double>>;

// In-place radix-2 transform; the size must be a power of two.
void Fft(Spectrum& vecData, bool bInverse)
{
    const size_t ulSize = vecData.size();
    for (size_t i = 1, j = 0; i < ulSize; ++i) {
        size_t ulBit = ulSize >> 1;
        for (; (j & ulBit) != 0; ulBit >>= 1) {
            j ^= ulBit;
        }
        j ^= ulBit;
        if (i < j) {
            std::swap(vecData[i], vecData[j]);
        }
    }
    const double dPi = std::acos(-1.0);
    for (size_t ulSpan = 2; ulSpan <= ulSize; ulSpan <<= 1) {
        const double dAngle = (bInverse ? 2 : -2) * dPi / static_cast<double>(ulSpan);
        const std::complex<double> cStep(std::cos(dAngle), std::sin(dAngle));
        for (size_t ulAt = 0; ulAt < ulSize; ulAt += ulSpan) {
            std::complex<double> cTwiddle(1);
            for (size_t k = 0; k < ulSpan / 2; ++k) {
                const std::complex<double> cEven = vecData[ulAt + k];
                const std::complex<double> cOdd = vecData[ulAt + k + ulSpan / 2] * cTwiddle;
                vecData[ulAt + k] = cEven + cOdd;
                vecData[ulAt + k + ulSpan / 2] = cEven - cOdd;
                cTwiddle *= cStep;
            }
        }
    }
}

}  // namespace

size_t BestLag(const std::vector<int16_t>& vecRecording, const std::vector<double>& vecReference)
{
    // Zero-padded past both lengths, so no lag wraps onto another.
    size_t ulSize = 1;
    while (ulSize < vecRecording.size() + vecReference.size()) {
        ulSize <<= 1;
    }
    Spectrum vecRec(ulSize), vecRef(ulSize);
    std::copy(vecRecording.begin(), vecRecording.end(), vecRec.begin());
    std::copy(vecReference.begin(), vecReference.end(), vecRef.begin());
    Fft(vecRec, false);
    Fft(vecRef, false);
    for (size_t i = 0; i < ulSize; ++i) {
        vecRec[i] *= std::conj(vecRef[i]);
    }
    Fft(vecRec, true);
    size_t ulBest = 0;
    for (size_t ulLag = 1; ulLag < vecRecording.size(); ++ulLag) {
        if (vecRec[ulLag].real() > vecRec[ulBest].real()) {
            ulBest = ulLag;
        }
    }
    return ulBest;
}

namespace {

double RecordedAt(const std::vector<int16_t>& vecRecording, size_t ulAt)
{
    return ulAt < vecRecording.size() ? vecRecording[ulAt] : 0.0;
}

}  // namespace

SignalMatch AlignSignal(const std::vector<int16_t>& vecRecording, uint32_t ulRate,
                        const SignalFunction& fnSignal, double dSeconds)
{
    const auto ulCount = static_cast<size_t>(dSeconds * ulRate);
    std::vector<double> vecReference(ulCount);
    for (size_t n = 0; n < ulCount; ++n) {
        vecReference[n] = fnSignal(static_cast<double>(n) / ulRate);
    }
    SignalMatch stMatch;
    stMatch.ulLag = BestLag(vecRecording, vecReference);

    // The fraction: the delay whose shifted signal correlates best once its
    // energy is normalised, coarse first and then around the best.
    double dBestScore = -1e300;
    auto fnTry = [&](double dDelay) {
        double dCross = 0, dEnergy = 0;
        for (size_t n = 0; n < ulCount; ++n) {
            const double dSignal = fnSignal((static_cast<double>(n) - dDelay) / ulRate);
            dCross += RecordedAt(vecRecording, stMatch.ulLag + n) * dSignal;
            dEnergy += dSignal * dSignal;
        }
        const double dScore = dCross / std::sqrt(std::max(dEnergy, 1e-9));
        if (dScore > dBestScore) {
            dBestScore = dScore;
            stMatch.dDelay = dDelay;
            stMatch.dGain = dCross / std::max(dEnergy, 1e-9);
        }
    };
    for (int i = -10; i <= 10; ++i) {
        fnTry(i * 0.1);
    }
    const double dCoarse = stMatch.dDelay;
    for (int i = -10; i <= 10; ++i) {
        fnTry(dCoarse + i * 0.01);
    }
    return stMatch;
}

namespace {

// The share of the recording's energy over signal samples [ulFrom, ulTo),
// lined up at ulLag, that the signal does not explain, and the gain that fits.
double FitError(const std::vector<int16_t>& vecRecording, uint32_t ulRate,
                const SignalFunction& fnSignal, size_t ulLag, double dDelay, size_t ulFrom,
                size_t ulTo, double* pdGain)
{
    double dCross = 0, dSignal = 0, dRecorded = 0;
    for (size_t n = ulFrom; n < ulTo; ++n) {
        const double dExpected = fnSignal((static_cast<double>(n) - dDelay) / ulRate);
        const double dHeard = RecordedAt(vecRecording, ulLag + n);
        dCross += dHeard * dExpected;
        dSignal += dExpected * dExpected;
        dRecorded += dHeard * dHeard;
    }
    *pdGain = dCross / std::max(dSignal, 1e-9);
    if (dRecorded < 1e-9 || dSignal < 1e-9) {
        return 1;
    }
    return std::max(0.0, 1 - dCross * dCross / (dSignal * dRecorded));
}

// FitError at the best delay within a sample of dDelay: the resamplers'
// phase wanders by a fraction of a sample from one mixing period to the next,
// which at the top of a sweep reads as a different signal. A misplaced block
// is hundreds of samples off, far beyond this.
double FitNear(const std::vector<int16_t>& vecRecording, uint32_t ulRate,
               const SignalFunction& fnSignal, size_t ulLag, double dDelay, size_t ulFrom,
               size_t ulTo, double* pdGain)
{
    double dBest = 2, dBestDelay = dDelay;
    for (double dStep : {0.5, 0.1, 0.02}) {
        const double dAround = dBestDelay;
        for (int i = -2; i <= 2; ++i) {
            const double dTry = dAround + i * dStep;
            if (std::fabs(dTry - dDelay) > 1.0) {
                continue;
            }
            double dGain = 0;
            const double dError = FitError(vecRecording, ulRate, fnSignal, ulLag, dTry, ulFrom,
                                           ulTo, &dGain);
            if (dError < dBest) {
                dBest = dError;
                dBestDelay = dTry;
                *pdGain = dGain;
            }
        }
    }
    return dBest;
}

// The first run of at least ulMinRun silent samples that starts in
// [ulFrom, ulTo), as [begin, end); begin == end when there is none.
std::pair<size_t, size_t> SilenceRun(const std::vector<int16_t>& vecRecording, size_t ulFrom,
                                     size_t ulTo, size_t ulMinRun)
{
    for (size_t ulAt = ulFrom; ulAt < std::min(ulTo, vecRecording.size()); ++ulAt) {
        size_t ulEnd = ulAt;
        while (ulEnd < vecRecording.size() && std::abs(vecRecording[ulEnd]) <= 1) {
            ++ulEnd;
        }
        if (ulEnd - ulAt >= ulMinRun) {
            return {ulAt, ulEnd};
        }
        ulAt = ulEnd;
    }
    return {ulTo, ulTo};
}

}  // namespace

SignalTrack TrackSignal(const std::vector<int16_t>& vecRecording, uint32_t ulRate,
                        const SignalFunction& fnSignal, const SignalMatch& stStart,
                        double dSeconds, size_t ulWindow, double dErrorLimit)
{
    const auto ulCount = static_cast<size_t>(dSeconds * ulRate);
    const size_t ulMs = ulRate / 1000;
    SignalTrack stTrack;
    size_t ulLag = stStart.ulLag;
    size_t ulSilenceSeen = 0;  // silence up to here has been looked into already
    for (size_t ulFrom = 0; ulFrom < ulCount; ulFrom += ulWindow) {
        double dGain = 0;
        const double dError = FitNear(vecRecording, ulRate, fnSignal, ulLag, stStart.dDelay,
                                       ulFrom, std::min(ulFrom + ulWindow, ulCount), &dGain);
        stTrack.vecErrors.push_back(dError);
        stTrack.vecGains.push_back(dGain);
        stTrack.vecInDropout.push_back(false);
        if (dError <= dErrorLimit || ulLag + ulFrom + ulWindow < ulSilenceSeen) {
            continue;
        }
        const auto [ulSilence, ulSilenceEnd] =
            SilenceRun(vecRecording, ulLag + ulFrom - std::min(ulFrom, ulWindow),
                       ulLag + ulFrom + 2 * ulWindow, std::max<size_t>(8, ulMs));
        if (ulSilence == ulSilenceEnd) {
            continue;
        }
        ulSilenceSeen = ulSilenceEnd;
        // Had nothing been lost, the signal due at the silence's start comes
        // right after it: try 40 ms from there, at every delay the smear allows.
        const size_t ulRun = ulSilenceEnd - ulSilence;
        const size_t ulResume = ulSilence + 2 * ulMs - ulLag;
        const size_t ulResumeEnd = std::min(ulResume + 40 * ulMs, ulCount);
        double dBestError = 2, dIgnored = 0;
        size_t ulBestDelay = 0;
        for (size_t ulDelay = ulRun - std::min(ulRun, ulMs); ulDelay <= ulRun + 8 * ulMs; ++ulDelay) {
            const double dTry = FitError(vecRecording, ulRate, fnSignal, ulLag + ulDelay,
                                         stStart.dDelay, ulResume, ulResumeEnd, &dIgnored);
            if (dTry < dBestError) {
                dBestError = dTry;
                ulBestDelay = ulDelay;
            }
        }
        dBestError = FitNear(vecRecording, ulRate, fnSignal, ulLag + ulBestDelay, stStart.dDelay,
                             ulResume, ulResumeEnd, &dIgnored);
        if (dBestError > dErrorLimit) {
            continue;
        }
        const size_t ulWindowIndex = stTrack.vecErrors.size() - 1;
        stTrack.vecDropouts.push_back({ulWindowIndex, ulBestDelay});
        stTrack.vecInDropout.back() = true;
        ulLag += ulBestDelay;
        // The windows the silence and the smear straddle are nobody's.
        while (ulFrom + ulWindow < ulResume && ulFrom + ulWindow < ulCount) {
            ulFrom += ulWindow;
            stTrack.vecErrors.push_back(0);
            stTrack.vecGains.push_back(0);
            stTrack.vecInDropout.push_back(true);
        }
    }
    stTrack.ulEndLag = ulLag;
    return stTrack;
}
