// Capture through the DLL, checked byte for byte: the virtual microphone is
// fed a counter (every frame one more than the last), so the bytes the host's
// callback receives, joined, must be one unbroken run of it — a lost,
// repeated or reordered block breaks the run.
//
//   capture_e2e feed FILE RATE CHANNELS SECONDS      writes the counter feed
//   capture_e2e capture RATE CHANNELS SECONDS SELECTOR [DATALEN]
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "vocora.h"

namespace {

int sm_iFailures = 0;
constexpr int kiVoidTake = 3;  // the rig spoiled the take: take it again

void Check(bool bOk, const std::string& strWhat)
{
    std::printf("%s: %s\n", bOk ? "ok  " : "FAIL", strWhat.c_str());
    sm_iFailures += bOk ? 0 : 1;
}

// Frame n carries n in its first channel and n + 0x4000 in the second, so
// that swapped or shifted channels break the run too.
int16_t CounterSample(uint32_t ulFrame, uint32_t ulChannel)
{
    return static_cast<int16_t>(static_cast<uint16_t>(ulFrame + ulChannel * 0x4000u));
}

int WriteFeed(const char* pszPath, uint32_t ulRate, uint32_t ulChannels, double dSeconds)
{
    const auto ulFrames = static_cast<uint32_t>(dSeconds * ulRate);
    std::vector<int16_t> vecSamples;
    vecSamples.reserve(size_t{ulFrames} * ulChannels);
    for (uint32_t ulFrame = 0; ulFrame < ulFrames; ++ulFrame) {
        for (uint32_t ulChannel = 0; ulChannel < ulChannels; ++ulChannel) {
            vecSamples.push_back(CounterSample(ulFrame, ulChannel));
        }
    }
    FILE* pFile = std::fopen(pszPath, "wb");
    const bool bWritten = pFile != nullptr &&
                          std::fwrite(vecSamples.data(), 2, vecSamples.size(), pFile) == vecSamples.size();
    if (pFile != nullptr) {
        std::fclose(pFile);
    }
    Check(bWritten, std::string("the feed is written to ") + pszPath);
    return bWritten ? 0 : 1;
}

struct Capture {
    std::mutex mtx;
    std::vector<uint8_t> vecBytes;
    std::vector<uint32_t> vecLengths;
    std::atomic<uint64_t> ullBytes{0};
};

void VOCORA_CALL OnCapture(const uint8_t* pucData, uint32_t ulLength, void* pUserData)
{
    auto* pstCapture = static_cast<Capture*>(pUserData);
    std::lock_guard<std::mutex> oLock(pstCapture->mtx);
    pstCapture->vecBytes.insert(pstCapture->vecBytes.end(), pucData, pucData + ulLength);
    pstCapture->vecLengths.push_back(ulLength);
    pstCapture->ullBytes += ulLength;
}

// Where the counter breaks, or SIZE_MAX when the run is whole. The feed is
// preceded and followed by the silence of an idle microphone, which is
// skipped at both ends.
size_t FirstBreak(const std::vector<uint8_t>& vecBytes, uint32_t ulChannels, size_t* pulFrames,
                  size_t* pulFirst)
{
    const size_t ulFrameBytes = 2 * size_t{ulChannels};
    const size_t ulFrames = vecBytes.size() / ulFrameBytes;
    auto fnSample = [&](size_t ulFrame, uint32_t ulChannel) {
        int16_t sSample;
        std::memcpy(&sSample, &vecBytes[ulFrame * ulFrameBytes + 2 * ulChannel], 2);
        return sSample;
    };
    auto fnSilent = [&](size_t ulFrame) {
        for (uint32_t ulChannel = 0; ulChannel < ulChannels; ++ulChannel) {
            if (fnSample(ulFrame, ulChannel) != 0) {
                return false;
            }
        }
        return true;
    };
    size_t ulFirst = 0;
    while (ulFirst < ulFrames && fnSilent(ulFirst)) {
        ++ulFirst;
    }
    size_t ulEnd = ulFrames;
    while (ulEnd > ulFirst && fnSilent(ulEnd - 1)) {
        --ulEnd;
    }
    *pulFrames = ulEnd - ulFirst;
    *pulFirst = ulFirst;
    if (ulFirst == ulEnd) {
        return 0;
    }
    const auto ulStart = static_cast<uint16_t>(fnSample(ulFirst, 0));
    for (size_t ulFrame = ulFirst; ulFrame < ulEnd; ++ulFrame) {
        for (uint32_t ulChannel = 0; ulChannel < ulChannels; ++ulChannel) {
            const auto ulExpected = static_cast<uint32_t>(ulStart + (ulFrame - ulFirst));
            if (fnSample(ulFrame, ulChannel) != CounterSample(ulExpected, ulChannel)) {
                return ulFrame;
            }
        }
    }
    return SIZE_MAX;
}

// What a break in the counter says. The library hands over whole blocks, so a
// block it lost or repeated moves the counter by a whole number of blocks. The
// sound server, now and then, runs the feed dry (a stretch of silence, after
// which the counter goes on) or drops a stretch that is no whole number of
// blocks: such a take says nothing about the library and is taken again.
bool IsRigDropout(const std::vector<uint8_t>& vecBytes, uint32_t ulChannels, size_t ulBreak,
                  size_t ulFirst, uint32_t ulBlockFrames)
{
    const size_t ulFrameBytes = 2 * size_t{ulChannels};
    auto fnFirstChannel = [&](size_t ulFrame) {
        int16_t sSample;
        std::memcpy(&sSample, &vecBytes[ulFrame * ulFrameBytes], 2);
        return static_cast<uint16_t>(sSample);
    };
    const auto ulExpected = static_cast<uint16_t>(fnFirstChannel(ulFirst) + (ulBreak - ulFirst));
    if (fnFirstChannel(ulBreak) == 0) {
        return true;  // silence inside the feed
    }
    const auto ulJump = static_cast<uint16_t>(fnFirstChannel(ulBreak) - ulExpected);
    const uint32_t ulForward = ulJump;
    const uint32_t ulBackward = 65536u - ulJump;
    return ulForward % ulBlockFrames != 0 && ulBackward % ulBlockFrames != 0;
}

// Every callback is one block, or the two parts of a block split at the end
// of the capture buffer.
bool BlocksAreWhole(const std::vector<uint32_t>& vecLengths, uint32_t ulBlock)
{
    for (size_t i = 0; i < vecLengths.size(); ++i) {
        if (vecLengths[i] == ulBlock) {
            continue;
        }
        if (i + 1 < vecLengths.size() && vecLengths[i] + vecLengths[i + 1] == ulBlock) {
            ++i;
            continue;
        }
        return false;
    }
    return true;
}

// The library's default block: about 46 ms of frames rounded up to a power of two.
uint32_t DefaultBlock(uint32_t ulRate, uint32_t ulChannels)
{
    uint32_t ulFrames = 1;
    while (ulFrames < ulRate / 1000 * 46) {
        ulFrames *= 2;
    }
    return 2 * ulChannels * ulFrames;
}

int RunCapture(uint32_t ulRate, uint32_t ulChannels, double dSeconds, uint32_t ulSelector,
               uint32_t ulDataLen)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Check(Vocora_Init() == VOCORA_OK, "Vocora_Init finds DirectSound capture");
    const AudioParam stParam = {ulRate, ulChannels, 16, ulDataLen};
    VocoraCaptureHandle hCapture = nullptr;
    const uint32_t ulCreate = Vocora_CreateCaptureDec(&stParam, ulSelector, &hCapture);
    Check(ulCreate == VOCORA_OK, "a capture handle with selector " + std::to_string(ulSelector));
    if (ulCreate != VOCORA_OK) {
        return 1;
    }
    // Capture runs from creation on; the callback comes a moment later and
    // receives from the next block on.
    Sleep(300);
    Capture stCapture;
    Vocora_SetCaptureCallBack(hCapture, &OnCapture, &stCapture);
    Sleep(static_cast<DWORD>(dSeconds * 1000));
    Check(Vocora_DestoryCaptureDec(hCapture) == VOCORA_OK, "the handle is destroyed");
    const uint64_t ullAtDestroy = stCapture.ullBytes;
    Sleep(300);
    Check(stCapture.ullBytes == ullAtDestroy, "no callback after Vocora_DestoryCaptureDec returned");
    Vocora_Cleanup();

    const uint32_t ulBlock = ulDataLen != 0 ? ulDataLen : DefaultBlock(ulRate, ulChannels);
    size_t ulFrames = 0;
    size_t ulFirst = 0;
    const size_t ulBreak = FirstBreak(stCapture.vecBytes, ulChannels, &ulFrames, &ulFirst);
    const double dFedSeconds = static_cast<double>(ulFrames) / ulRate;
    std::printf("%zu callbacks, %zu bytes; the counter runs for %.2f s\n", stCapture.vecLengths.size(),
                stCapture.vecBytes.size(), dFedSeconds);
    Check(BlocksAreWhole(stCapture.vecLengths, ulBlock),
          "every callback carries a block of " + std::to_string(ulBlock) + " bytes, or its two parts");
    Check(dFedSeconds >= dSeconds - 1.0, "the fed counter arrives for nearly the whole capture");
    if (ulBreak != SIZE_MAX && ulBreak != 0 &&
        IsRigDropout(stCapture.vecBytes, ulChannels, ulBreak, ulFirst, ulBlock / (2 * ulChannels))) {
        std::printf("take void: the sound server dropped the feed at frame %zu\n", ulBreak);
        return sm_iFailures == 0 ? kiVoidTake : 1;
    }
    Check(ulBreak == SIZE_MAX,
          ulBreak == SIZE_MAX ? "the counter is unbroken: nothing lost, repeated or reordered"
                              : "the counter breaks at frame " + std::to_string(ulBreak));
    std::printf("%d failed\n", sm_iFailures);
    return sm_iFailures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "feed") == 0) {
        return WriteFeed(argv[2], static_cast<uint32_t>(std::atoi(argv[3])),
                         static_cast<uint32_t>(std::atoi(argv[4])), std::atof(argv[5]));
    }
    if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "capture") == 0) {
        return RunCapture(static_cast<uint32_t>(std::atoi(argv[2])),
                          static_cast<uint32_t>(std::atoi(argv[3])), std::atof(argv[4]),
                          static_cast<uint32_t>(std::atoi(argv[5])),
                          argc == 7 ? static_cast<uint32_t>(std::atoi(argv[6])) : 0);
    }
    std::fprintf(stderr,
                 "usage: capture_e2e feed FILE RATE CHANNELS SECONDS\n"
                 "       capture_e2e capture RATE CHANNELS SECONDS SELECTOR [DATALEN]\n");
    return 2;
}
