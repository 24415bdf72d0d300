// DirectSound capture: the process-wide capture object created from the
// DirectSound module that playback loaded, and the device behind a plain
// capture handle.
#ifndef VOCORA_DIRECTSOUND_DIRECTSOUNDCAPTURE_H
#define VOCORA_DIRECTSOUND_DIRECTSOUNDCAPTURE_H

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <cstdint>

#include "common/audio_base.h"
#include "common/capture_target.h"
#include "common/com_ptr.h"

using PfnDirectSoundCaptureCreate8 = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUNDCAPTURE8*, LPUNKNOWN);

// Written by initialisation, clean-up and a device Init that finds no capture
// object, all on the host's set-up thread.
extern PfnDirectSoundCaptureCreate8 sm_pfnDirectSoundCaptureCreate8;
extern IDirectSoundCapture8* sm_gpDSoundCapture;

uint32_t DirectSoundCaptureInit();
uint32_t DirectSoundCaptureCleanup();

// Records into a looping capture buffer of sixteen blocks; DirectSound signals
// one event as each block fills, and the capture thread hands the block to the
// host's callback straight from the locked buffer.
class CDirectSoundCapture : public CCaptureDevice {
public:
    static constexpr uint32_t kulBlocks = 16;
    static constexpr DWORD kulWaitMs = 500;
    // No block this long means the device is gone; it is reopened this often.
    static constexpr DWORD kulSilentMs = 1000;
    static constexpr DWORD kulRetryMs = 500;

    CDirectSoundCapture();
    ~CDirectSoundCapture() override;

    uint32_t Init(const AudioParam* pstAudioParam) override;
    uint32_t Start() override;
    uint32_t Stop() override;
    uint32_t Close() override;

    // The capture loop, run on the capture thread only.
    uint32_t CaptureThread();
    uint32_t ReadOffset() const { return m_ulReadOffset; }

private:
    HRESULT CreateBuffer();
    uint32_t Reopen();
    void ReleaseCaptureObjects();

    // The process-wide capture object, or one of its own when that refuses a
    // buffer or its device has gone.
    CComPtr<IDirectSoundCapture8> m_pCaptureObject;
    WAVEFORMATEX m_stFormat = {};
    bool m_bHoldsModule = false;

    uint32_t m_ulBufferSize = 65535;
    HANDLE m_hCaptureThread = nullptr;
    CComPtr<IDirectSoundCaptureBuffer> m_pstBuffer;
    uint32_t m_ulNotifySize = 65535;
    CComPtr<IDirectSoundNotify> m_pNotify;
    DSBPOSITIONNOTIFY m_astNotifyPos[kulBlocks] = {};
    std::atomic<uint32_t> m_ulReadOffset{0};
    std::atomic<int32_t> m_bCapturing{0};
    HANDLE m_hNotifyEvent = nullptr;
};

#endif
