// The vocora-host commands, each with options already checked by the parser.
#ifndef VOCORA_TOOLS_COMMANDS_H
#define VOCORA_TOOLS_COMMANDS_H

#include <cstdint>
#include <string>

struct PlayOptions {
    std::string strFile;  // or a tone:
    double dToneHz = 0.0;
    double dSeconds = 0.0;
    uint32_t ulSampleRate = 48000;
    uint32_t ulChannels = 1;
    int iVolume = -1;       // -1: the player's unity (255 DirectSound, 128 waveOut)
    uint32_t ulBlockBytes = 0;  // 0: 20 ms
    bool bWaveOut = false;
};

struct RecordOptions {
    std::string strFile;
    double dSeconds = 0.0;
    uint32_t ulSampleRate = 16000;
    uint32_t ulChannels = 1;
    uint32_t ulBlockBytes = 0;  // 0: the library's default
    bool bAec = false;
};

struct LoopbackOptions {
    double dSeconds = 3.0;
    uint32_t ulSampleRate = 16000;
    int iVolume = -1;
    bool bWaveOut = false;
    std::string strSave;  // PREFIX: PREFIX-played.wav, PREFIX-captured.wav, PREFIX.txt
};

int RunInfo();
int RunPlay(const PlayOptions& stOptions);
int RunRecord(const RecordOptions& stOptions);
int RunMicVolume(int iSet);  // -1: read only
int RunLoopback(const LoopbackOptions& stOptions);

// The gain a volume gives on each player, for the user.
std::string VolumeText(const char* pszBackend, uint32_t ulVolume);
uint32_t UnityVolume(const char* pszBackend);
// One result line and the process's exit status.
int Result(bool bOk, const char* pszWhat);

#endif
