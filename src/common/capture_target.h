// The host's end of a capture device: its callback with the user value, and
// the stored volume. The host's thread sets them while the device's worker
// reads them for every block.
#ifndef VOCORA_COMMON_CAPTURE_TARGET_H
#define VOCORA_COMMON_CAPTURE_TARGET_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/audio_base.h"
#include "vocora.h"

class CCaptureTarget {
public:
    // One consistent pair, so that every part of a block goes to the same place.
    struct Call {
        VocoraCaptureCallback pfnCallback;
        void* pUserData;

        explicit operator bool() const { return pfnCallback != nullptr; }
        void operator()(const uint8_t* pucData, uint32_t ulLength) const
        {
            pfnCallback(pucData, ulLength, pUserData);
        }
    };

    // The pair is replaced and read as one, so that a host swapping both
    // never has its new user value handed to its old callback.
    void Set(VocoraCaptureCallback pfnCallback, void* pUserData)
    {
        std::lock_guard<std::mutex> oLock(m_mtxCall);
        m_stCall = Call{pfnCallback, pUserData};
    }
    Call Current() const
    {
        std::lock_guard<std::mutex> oLock(m_mtxCall);
        return m_stCall;
    }

    void SetVolume(uint32_t ulVolume) { m_ulVolume = ulVolume; }
    uint32_t Volume() const { return m_ulVolume; }

private:
    mutable std::mutex m_mtxCall;
    Call m_stCall{nullptr, nullptr};
    std::atomic<uint32_t> m_ulVolume{255};
};

// The slots both capture devices fill alike: they only store or report what
// the host gave them.
class CCaptureDevice : public CAudioCaptureBase {
public:
    uint32_t SetCaptureCallBack(VocoraCaptureCallback pfnAudioCaptureCallBack,
                                void* pUserData) final
    {
        m_oCaptureTarget.Set(pfnAudioCaptureCallBack, pUserData);
        return VOCORA_OK;
    }
    uint32_t SetVolume(uint32_t ulVolume) final
    {
        m_oCaptureTarget.SetVolume(ulVolume);
        return VOCORA_OK;
    }
    uint32_t GetVolume(uint32_t* pulVolume) final
    {
        *pulVolume = m_oCaptureTarget.Volume();
        return VOCORA_OK;
    }

    bool OnOwnThread() const final { return m_oWorker.IsCurrent(); }

protected:
    CCaptureTarget m_oCaptureTarget;
    CWorkerThread m_oWorker;
};

#endif
