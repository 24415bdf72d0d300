// Measures recorded PCM: where a tone is, whether it is continuous, its pitch
// and its level. Used to prove that sound really went through the rig.
#ifndef VOCORA_TESTS_PCM_ANALYSIS_H
#define VOCORA_TESTS_PCM_ANALYSIS_H

#include <cstdint>
#include <string>
#include <vector>

// Mono signed 16-bit little-endian samples from a raw file; empty on failure.
std::vector<int16_t> ReadRawPcm(const std::string& strPath);

// Root mean square of samples [ulBegin, ulBegin + ulCount), in sample units.
double Rms(const std::vector<int16_t>& vecSamples, size_t ulBegin, size_t ulCount);

// Level relative to a full-scale sine (0 dB for amplitude 32767).
double RmsToDbfs(double dRms);

struct ToneSpan {
    size_t ulBegin = 0;  // first sample of the first loud window
    size_t ulEnd = 0;    // one past the last sample of the last loud window
    size_t ulQuietWindowsInside = 0;  // windows inside the span below the threshold
    double dMedianRms = 0;
    bool bFound = false;
};

// The span from the first to the last window of ulWindow samples whose level
// exceeds dThresholdRms, with a count of quiet windows (gaps) inside it.
ToneSpan FindToneSpan(const std::vector<int16_t>& vecSamples, size_t ulWindow,
                      double dThresholdRms);

// Frequency estimated from rising zero crossings over [ulBegin, ulEnd).
double EstimateFrequency(const std::vector<int16_t>& vecSamples, size_t ulBegin, size_t ulEnd,
                         uint32_t ulSampleRate);

#endif
