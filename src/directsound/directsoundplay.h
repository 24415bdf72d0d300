// DirectSound playback: the run-time loaded DSOUND.DLL with its process-wide
// device object, and the player behind a DirectSound playback handle.
#ifndef VOCORA_DIRECTSOUND_DIRECTSOUNDPLAY_H
#define VOCORA_DIRECTSOUND_DIRECTSOUNDPLAY_H

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/audio_base.h"
#include "common/com_ptr.h"
#include "common/platform.h"

using PfnDirectSoundCreate8 = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND8*, LPUNKNOWN);

// Written by DirectSoundInit and DirectSoundCleanup (the host's set-up and
// clean-up thread), and sm_gpDSound also by a player's thread that finds the
// device object dead, all under the runtime's lock.
extern HMODULE sm_hDSoundModule;
extern PfnDirectSoundCreate8 sm_pfnDirectSoundCreate8;
extern IDirectSound8* sm_gpDSound;

// The fixed English text for a DirectSound result; never null.
const char* DirectSoundErrorText(HRESULT hr);

uint32_t DirectSoundLoadLibrary();
uint32_t DirectSoundFreeLibrary();
uint32_t DirectSoundInit();
uint32_t DirectSoundCleanup();

// Devices holding objects made by DSOUND.DLL keep it loaded: a clean-up while
// any lives unloads the module when the last of them lets go.
void DirectSoundHoldModule();
void DirectSoundLetGoModule();

// Keeps a looping sound buffer of four blocks filled from a staging queue: the
// play thread refills the block after the one the write cursor has entered.
// When the device stops playing, the thread says so once and makes its buffer
// anew every half second, from a new device object where the old one died,
// until the device plays again.
class CDirectSoundPlay : public CAudioPlayBase {
public:
    // Results of ReadAudioData besides 0 and 2.
    static constexpr uint32_t kulNothingStaged = 6;
    static constexpr uint32_t kulBlocksInBuffer = 4;
    static constexpr uint32_t kulBlocksStaged = 40;
    // A write cursor that stands still this long means the device is gone.
    static constexpr DWORD kulSilentMs = 1000;
    static constexpr DWORD kulRetryMs = 500;

    CDirectSoundPlay();
    ~CDirectSoundPlay() override;

    uint32_t Init(const AudioParam* pstAudioParam) override;
    uint32_t Start() override;
    uint32_t Stop() override;
    uint32_t Play(uint8_t* pucData, uint32_t ulLength) override;
    uint32_t SetVolume(uint32_t ulVolume) override;
    uint32_t GetVolume(int32_t* plVolume) override;
    uint32_t Close() override;
    bool OnOwnThread() const override { return m_oWorker.IsCurrent(); }
    virtual uint32_t PlayThread();

    uint32_t WaitPlayDone();
    uint32_t UpdatePlayBuffer();

    // The staging queue: an all-or-nothing append that reports the fill level
    // afterwards, and a take of up to *pulLength bytes.
    uint32_t WriteAudioData(const uint8_t* pucPcmData, uint32_t ulLength);
    uint32_t ReadAudioData(uint8_t* pucPcmData, uint32_t* pulLength);

    static unsigned __stdcall SoundPlayThreadProc(void* pArgument);

    // The device object died: the buffer made from it goes, so that the
    // platform can give a new one. Under the runtime's lock.
    void DropBuffer();
    CDirectSoundPlay* m_poNextPlayer = nullptr;  // the runtime's list of players

private:
    // What a failing step of the play thread reports, while it still reports.
    static constexpr uint32_t kulDeviceGone = 0xFFFFFFFF;

    CComPtr<IDirectSoundBuffer8> Buffer();
    uint32_t CreateBuffer(IDirectSound8* pDevice, CComPtr<IDirectSoundBuffer8>& pBuffer);
    uint32_t Reopen();
    void Pause(DWORD ulMs);
    void ReleaseBuffers();

    DSBUFFERDESC m_stBufferDesc = {};
    WAVEFORMATEX m_stFormat = {};
    uint32_t m_ulSampleRate = 8000;
    uint32_t m_ulFramesPerBlock = 1;
    std::mutex m_mtxBuffer;  // the buffer and the device object a lost device takes away
    CComPtr<IDirectSoundBuffer8> m_pSoundBuffer;
    CComPtr<IDirectSound8> m_pDevice;
    uint32_t m_ulDeviceEpoch = 0;
    bool m_bHoldsModule = false;
    std::atomic<bool> m_bDropped{false};
    std::atomic<bool> m_bLost{false};  // reported gone and not playing again yet
    HANDLE m_hPlayThread = nullptr;
    std::atomic<uint32_t> m_bRunning{0};
    std::atomic<int32_t> m_lVolume{DSBVOLUME_MIN};
    std::mutex m_mtxPcmBuffer;
    CPlatformBuffer m_pucPcmDataBuffer;
    CPlatformBuffer m_pucPcmReadBuffer;
    uint32_t m_ulReadPos = 0;
    uint32_t m_ulWritePos = 0;
    uint32_t m_ulPcmDataBufferSize = 0;
    uint32_t m_ulBlockSize = 1;
    uint32_t m_ulPlayBlock = 0;
    CWorkerThread m_oWorker;
};

#endif
