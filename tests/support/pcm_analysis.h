// Measures recorded PCM: where a tone is, whether it is continuous, its pitch
// and its level. Used to prove that sound really went through the rig.
#ifndef VOCORA_TESTS_PCM_ANALYSIS_H
#define VOCORA_TESTS_PCM_ANALYSIS_H

#include <cstdint>
#include <functional>
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

// One channel of interleaved frames.
std::vector<int16_t> ChannelOf(const std::vector<int16_t>& vecFrames, uint32_t ulChannels,
                               uint32_t ulChannel);

// The loudest RMS among the windows of ulWindow samples that lie wholly in
// [ulBegin, ulEnd); 0 when none does.
double LoudestWindowRms(const std::vector<int16_t>& vecSamples, size_t ulBegin, size_t ulEnd,
                        size_t ulWindow);

// The recording sample at which vecReference's first sample lines up best, by
// cross-correlation over every lag from 0 to the end of the recording.
size_t BestLag(const std::vector<int16_t>& vecRecording, const std::vector<double>& vecReference);

// A known signal as a function of time in seconds, in sample units, so it can
// be evaluated between samples.
using SignalFunction = std::function<double(double dSeconds)>;

// Where a known signal lies in a recording: recording sample ulLag + n holds
// dGain * signal((n - dDelay) / rate). The fraction of a sample matters: the
// resamplers on the way delay by one, and a high tone half a sample off looks
// like a different signal.
struct SignalMatch {
    size_t ulLag = 0;
    double dDelay = 0;
    double dGain = 0;  // least squares over the whole signal
};

// Lines fnSignal's first dSeconds up with the recording.
SignalMatch AlignSignal(const std::vector<int16_t>& vecRecording, uint32_t ulRate,
                        const SignalFunction& fnSignal, double dSeconds);

// A stretch of digital silence after which the signal resumes delayed by
// about as long: the sound server ran dry and held the stream up, losing and
// repeating nothing.
struct Dropout {
    size_t ulWindow = 0;  // the signal's window where it struck
    size_t ulDelay = 0;   // samples the rest of the signal was delayed by
};

struct SignalTrack {
    // Per window of the signal: the share of the recording's energy that is
    // not the signal (near 0 where heard as it is, 1 where missing or where
    // something else plays), and the recording's level against the signal.
    std::vector<double> vecErrors;
    std::vector<double> vecGains;
    std::vector<bool> vecInDropout;  // straddles a dropout: neither error nor gain is its own
    std::vector<Dropout> vecDropouts;
    size_t ulEndLag = 0;  // the lag in force at the signal's end
};

// Follows fnSignal's first dSeconds through the recording, window by window,
// from where stStart lines it up. A window whose error exceeds dErrorLimit
// beside a run of digital silence is a dropout if the signal resumes after
// the silence delayed by the silence's length, give or take the resamplers'
// smear; a lost or repeated block would move it by a whole block instead.
SignalTrack TrackSignal(const std::vector<int16_t>& vecRecording, uint32_t ulRate,
                        const SignalFunction& fnSignal, const SignalMatch& stStart,
                        double dSeconds, size_t ulWindow, double dErrorLimit);

#endif
