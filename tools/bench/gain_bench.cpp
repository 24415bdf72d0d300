// Figures for the software gain of the waveOut path: adjustPcmWave over 64 KiB
// buffers in every band against memcpy of the same buffer, in the same run.
// Prints figures; asserts nothing.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/func_macros.h"

namespace {

constexpr size_t kulBufferBytes = 64 * 1024;
constexpr int kiRounds = 20000;

double Seconds(LARGE_INTEGER stFrom, LARGE_INTEGER stTo, LARGE_INTEGER stFrequency)
{
    return static_cast<double>(stTo.QuadPart - stFrom.QuadPart) /
           static_cast<double>(stFrequency.QuadPart);
}

// Best of several passes, so that a busy neighbour does not decide the figure.
template <class Fn>
double BestMegabytesPerSecond(Fn&& fnPass)
{
    LARGE_INTEGER stFrequency;
    QueryPerformanceFrequency(&stFrequency);
    double dBest = 0;
    for (int iPass = 0; iPass < 5; ++iPass) {
        LARGE_INTEGER stFrom, stTo;
        QueryPerformanceCounter(&stFrom);
        for (int i = 0; i < kiRounds; ++i) {
            fnPass();
        }
        QueryPerformanceCounter(&stTo);
        const double dRate = kulBufferBytes * double{kiRounds} / Seconds(stFrom, stTo, stFrequency) / 1e6;
        dBest = dRate > dBest ? dRate : dBest;
    }
    return dBest;
}

}  // namespace

int main()
{
    std::vector<uint8_t> vecSource(kulBufferBytes);
    for (size_t i = 0; i < vecSource.size(); ++i) {
        vecSource[i] = static_cast<uint8_t>(i * 31 + 7);
    }
    std::vector<uint8_t> vecTarget(kulBufferBytes);
    volatile uint8_t ucSink = 0;

    const double dMemcpy = BestMegabytesPerSecond([&] {
        std::memcpy(vecTarget.data(), vecSource.data(), kulBufferBytes);
        ucSink = ucSink + vecTarget[kulBufferBytes / 2];
    });
    std::printf("memcpy of 64 KiB:              %8.0f MB/s\n", dMemcpy);
    // (Volumes 109 to 144 leave the buffer as it is: there is no pass to time.)
    for (uint32_t ulVolume : {0u, 10u, 50u, 100u, 150u, 200u, 255u}) {
        const double dGain = BestMegabytesPerSecond([&] {
            adjustPcmWave(vecTarget.data(), kulBufferBytes, ulVolume);
            ucSink = ucSink + vecTarget[kulBufferBytes / 2];
        });
        std::printf("adjustPcmWave, volume %3u:     %8.0f MB/s  (%.2f of memcpy)\n", ulVolume, dGain,
                    dGain / dMemcpy);
    }
    std::printf("(in place over the same buffer each round; under Wine, on this machine)\n");
    return 0;
}
