// The two device interfaces behind every handle. The wrappers drive a device
// in a fixed order: construct, Init once (a failure deletes it at once), the
// host's calls, then Stop, Close and delete; the destructor calls Close again,
// so every Close must be harmless when repeated.
#ifndef VOCORA_COMMON_AUDIO_BASE_H
#define VOCORA_COMMON_AUDIO_BASE_H

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/live_handles.h"
#include "common/platform.h"
#include "vocora.h"

// The thread a device's worker runs on while it runs: a capture callback, or a
// log callback called there, that stops or destroys its own device would wait
// for itself, so the wrappers refuse that.
class CWorkerThread {
public:
    class Scope {
    public:
        explicit Scope(CWorkerThread& oWorker) : m_oWorker(oWorker) { m_oWorker.m_ulId = GetCurrentThreadId(); }
        ~Scope() { m_oWorker.m_ulId = 0; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        CWorkerThread& m_oWorker;
    };
    bool IsCurrent() const { return m_ulId != 0 && m_ulId == GetCurrentThreadId(); }

private:
    std::atomic<DWORD> m_ulId{0};
};

class CAudioPlayBase : public CPlatformAllocated, public CLiveHandle {
public:
    virtual ~CAudioPlayBase() = default;
    virtual uint32_t Init(const AudioParam* pstAudioParam) = 0;
    virtual uint32_t Start() = 0;
    virtual uint32_t Stop() = 0;
    virtual uint32_t Play(uint8_t* pucData, uint32_t ulLength) = 0;
    // 0..255; the DirectSound player reads the bits as signed.
    virtual uint32_t SetVolume(uint32_t ulVolume) = 0;
    virtual uint32_t GetVolume(int32_t* plVolume) = 0;
    virtual uint32_t Close() = 0;
    virtual bool OnOwnThread() const { return false; }
};

class CAudioCaptureBase : public CPlatformAllocated, public CLiveHandle {
public:
    virtual ~CAudioCaptureBase() = default;
    virtual uint32_t Init(const AudioParam* pstAudioParam) = 0;
    virtual uint32_t Start() = 0;
    virtual uint32_t Stop() = 0;
    virtual uint32_t SetCaptureCallBack(VocoraCaptureCallback pfnAudioCaptureCallBack,
                                        void* pUserData) = 0;
    virtual uint32_t SetVolume(uint32_t ulVolume) = 0;
    virtual uint32_t GetVolume(uint32_t* pulVolume) = 0;
    virtual uint32_t Close() = 0;
    virtual bool OnOwnThread() const { return false; }
};

#endif
