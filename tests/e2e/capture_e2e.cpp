// Captures the virtual microphone through the library and writes every byte
// the host's callback receives to FILE, for e2e.py to compare with the
// counter it fed. What only the program can see it checks itself: the size
// of each delivery, and that none comes after the handle is destroyed.
//
//   capture_e2e RATE CHANNELS SECONDS SELECTOR DATALEN FILE [--fault drop|repeat|zero N]
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "vocora.h"

namespace {

// What the callback received, and the fault to make on purpose (to delivery sm_ulFaultAt).
std::mutex sm_mtxCapture;
FILE* sm_pFile = nullptr;
std::vector<uint32_t> sm_vecLengths;
bool sm_bDestroyed = false;
size_t sm_ulLate = 0;
std::string sm_strFault;
size_t sm_ulFaultAt = SIZE_MAX;

void VOCORA_CALL OnCapture(const uint8_t* pucData, uint32_t ulLength, void*)
{
    std::lock_guard<std::mutex> oLock(sm_mtxCapture);
    if (sm_bDestroyed) {
        ++sm_ulLate;
        return;
    }
    std::vector<uint8_t> vecBlock(pucData, pucData + ulLength);
    const std::string strFault = sm_vecLengths.size() == sm_ulFaultAt ? sm_strFault : "";
    sm_vecLengths.push_back(ulLength);
    if (strFault == "zero") {
        std::memset(vecBlock.data(), 0, vecBlock.size());
    }
    const int iCopies = strFault == "drop" ? 0 : strFault == "repeat" ? 2 : 1;
    for (int i = 0; i < iCopies; ++i) {
        std::fwrite(vecBlock.data(), 1, vecBlock.size(), sm_pFile);
    }
}

// A block may reach the host in two parts where it wraps around the capture
// buffer. The first delivery that is neither, or 0.
uint32_t FirstMisfit(const std::vector<uint32_t>& vecLengths, uint32_t ulBlock)
{
    for (size_t i = 0; i < vecLengths.size(); ++i) {
        if (vecLengths[i] != ulBlock && (i + 1 == vecLengths.size() || vecLengths[i] + vecLengths[i + 1] != ulBlock)) {
            return vecLengths[i];
        }
        i += vecLengths[i] != ulBlock ? 1 : 0;
    }
    return 0;
}

bool Report(bool bOk, const std::string& strWhat)
{
    std::printf("%s %s\n", bOk ? "ok  " : "FAIL", strWhat.c_str());
    return bOk;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7 && (argc != 10 || std::strcmp(argv[7], "--fault") != 0)) {
        std::fputs("usage: capture_e2e RATE CHANNELS SECONDS SELECTOR DATALEN FILE [--fault drop|repeat|zero N]\n", stderr);
        return 2;
    }
    const auto ulRate = static_cast<uint32_t>(std::atoi(argv[1]));
    const auto ulChannels = static_cast<uint32_t>(std::atoi(argv[2]));
    const AudioParam stParam = {ulRate, ulChannels, 16, static_cast<uint32_t>(std::atoi(argv[5]))};
    sm_pFile = std::fopen(argv[6], "wb");
    sm_strFault = argc == 10 ? argv[8] : "";
    sm_ulFaultAt = argc == 10 ? static_cast<size_t>(std::atoi(argv[9])) : SIZE_MAX;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Vocora_Init();
    VocoraCaptureHandle hCapture = nullptr;
    const uint32_t ulCreated = Vocora_CreateCaptureDec(&stParam, static_cast<uint32_t>(std::atoi(argv[4])), &hCapture);
    if (!Report(sm_pFile != nullptr && ulCreated == VOCORA_OK, "Vocora_CreateCaptureDec returned " + std::to_string(ulCreated))) {
        return 1;
    }
    // Capture runs from creation on; the callback takes over a moment later.
    Sleep(300);
    Vocora_SetCaptureCallBack(hCapture, &OnCapture, nullptr);
    Sleep(static_cast<DWORD>(std::atof(argv[3]) * 1000));
    const uint32_t ulDestroyed = Vocora_DestoryCaptureDec(hCapture);
    {
        std::lock_guard<std::mutex> oLock(sm_mtxCapture);
        sm_bDestroyed = true;
    }
    Sleep(300);
    Vocora_Cleanup();
    std::fclose(sm_pFile);

    uint32_t ulFrames = 1;
    while (ulFrames < ulRate / 1000 * 46) {
        ulFrames *= 2;
    }
    const uint32_t ulBlock = stParam.ulDataLen != 0 ? stParam.ulDataLen : 2 * ulChannels * ulFrames;
    const uint32_t ulMisfit = FirstMisfit(sm_vecLengths, ulBlock);
    std::printf("block %u\n", ulBlock);
    // Not &&: every line is printed.
    const bool bOk = Report(ulDestroyed == VOCORA_OK && sm_ulLate == 0, "Vocora_DestoryCaptureDec returned " +
                                std::to_string(ulDestroyed) + "; callbacks after it returned: expected 0, measured " +
                                std::to_string(sm_ulLate)) &
                     Report(ulMisfit == 0, "each of " + std::to_string(sm_vecLengths.size()) + " callbacks one block of " +
                                               std::to_string(ulBlock) + " bytes or its two parts: the first misfit " +
                                               std::to_string(ulMisfit) + " bytes (0: none)");
    return bOk ? 0 : 1;
}
