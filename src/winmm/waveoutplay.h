// The waveOut player: used where DirectSound playback is missing or the host
// forces waveOut. Each Play copies one block into a free entry of a fixed ring
// and queues it on the wave mapper; the platform's callback frees entries.
#ifndef VOCORA_WINMM_WAVEOUTPLAY_H
#define VOCORA_WINMM_WAVEOUTPLAY_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "common/audio_base.h"

class CWaveOutPlay : public CAudioPlayBase {
public:
    static constexpr uint32_t kulEntries = 128;
    static constexpr uint32_t kulDefaultBufferSize = 300000;

    CWaveOutPlay();
    ~CWaveOutPlay() override;

    uint32_t Init(const AudioParam* pstAudioParam) override;
    uint32_t Start() override;
    uint32_t Stop() override;
    uint32_t Play(uint8_t* pucData, uint32_t ulLength) override;
    uint32_t SetVolume(uint32_t ulVolume) override;
    uint32_t GetVolume(int32_t* plVolume) override;
    uint32_t Close() override;

    uint32_t openWaveOutDevice();
    uint32_t PlayWaveData(const uint8_t* pucData, uint32_t ulLength);

    static void CALLBACK WaveOutProc(HWAVEOUT hWaveOut, UINT ulMessage, DWORD_PTR ulInstance,
                                     DWORD_PTR ulParam1, DWORD_PTR ulParam2);

private:
    bool IsFree(const WAVEHDR& stEntry) const;
    void ReleaseEntry(WAVEHDR& stEntry);
    void FreeEntryBuffers();
    bool WaitForEntriesBack(uint32_t ulTimeoutMs);
    uint32_t QueuedMilliseconds() const;

    uint32_t m_ulBitsPerSample = 16;
    uint32_t m_ulSampleRate = 8000;
    uint32_t m_ulChannels = 1;
    HWAVEOUT m_hWaveOut = nullptr;
    WAVEFORMATEX m_stWaveFormat = {};
    WAVEHDR m_astWaveHdr[kulEntries] = {};
    uint32_t m_bDeviceOpen = 0;
    uint32_t m_bEntriesAttached = 0;
    uint32_t m_ulBufferSize = 0;
    uint32_t m_ulVolume = 0;
    uint32_t m_bStarted = 0;
};

#endif
