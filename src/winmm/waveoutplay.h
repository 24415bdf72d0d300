// The waveOut player: used where DirectSound playback is missing or the host
// forces waveOut. Each Play copies one block into a free entry of a fixed ring
// and queues it on the wave mapper; the platform's callback frees entries.
#ifndef VOCORA_WINMM_WAVEOUTPLAY_H
#define VOCORA_WINMM_WAVEOUTPLAY_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "common/audio_base.h"

// The entries and the device they are queued on. They live apart from the
// player: a device that cannot be reset may still write to its entries, so a
// ring its player leaves behind stays until the device hands every entry
// back or closes.
class CWaveOutRing : public CPlatformAllocated {
public:
    static constexpr uint32_t kulEntries = 128;

    bool IsFree(uint32_t ulIndex) const;
    bool AllBack() const;
    void WaitBack(uint32_t ulTimeoutMs) const;
    // Detaches the entries and closes the device, each failure reported when
    // bReport; false while the device keeps the entries.
    bool Release(bool bReport);
    void FreeBuffers();

    HWAVEOUT hWaveOut = nullptr;
    WAVEHDR astEntries[kulEntries] = {};
    DWORD aulDueAt[kulEntries] = {};  // when each queued entry should be back, on the tick count
    DWORD ulLastDue = 0;
    bool bDeviceOpen = false;
    bool bEntriesAttached = false;
    CWaveOutRing* poNextLeft = nullptr;  // in the list of rings left behind
};

// Frees the rings players left behind whose devices have handed their entries
// back or closed meanwhile.
void WaveOutReleaseLeftRings();

class CWaveOutPlay : public CAudioPlayBase {
public:
    static constexpr uint32_t kulEntries = CWaveOutRing::kulEntries;
    static constexpr uint32_t kulDefaultBufferSize = 300000;
    // An entry not back this long after it should have played out means the
    // device is gone; it is opened anew at most this often.
    static constexpr DWORD kulOverdueMs = 1000;
    static constexpr DWORD kulRetryMs = 500;

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
    bool IsOverdue() const;
    uint32_t Reopen();
    uint32_t BlockMilliseconds(uint32_t ulBytes) const;

    uint32_t m_ulBitsPerSample = 16;
    uint32_t m_ulSampleRate = 8000;
    uint32_t m_ulChannels = 1;
    WAVEFORMATEX m_stWaveFormat = {};
    CWaveOutRing* m_poRing = nullptr;
    uint32_t m_ulBufferSize = 0;
    uint32_t m_ulVolume = 0;
    uint32_t m_bStarted = 0;
    bool m_bLost = false;  // reported gone and not open again yet
    DWORD m_ulLastTry = 0;
};

#endif
