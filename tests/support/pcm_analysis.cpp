#include "pcm_analysis.h"

#include <algorithm>
#include <cmath>
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
