// The handles a host holds. A handle is its device's address, so a handle
// already destroyed, one of the other kind or any other pointer would be
// called through memory that holds no such device: every wrapper looks its
// handle up among the live ones first, comparing addresses without reading
// through them, and holds the device for the length of the call, so that a
// destroy on another thread waits for the calls in flight before it deletes.
// The list runs through the devices themselves: a lookup allocates nothing
// and cannot fail for want of memory. Nothing is logged under the lock: a
// host's log callback may call back in.
#ifndef VOCORA_COMMON_LIVE_HANDLES_H
#define VOCORA_COMMON_LIVE_HANDLES_H

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "log/log.h"
#include "vocora.h"

// Stopping a device on its own worker thread (from its capture callback, or a
// log callback called there) would wait for that very thread: refused at once.
inline bool RefusedOnOwnThread(bool bOwnThread, const char* pszWrapper, const char* pszWhat)
{
    if (bOwnThread) {
        VOCORA_LOG(VOCORA_LOG_ERROR, pszWrapper, "Failed, %s from the handle's own thread, Error:[0x%x].", pszWhat,
                   VOCORA_ERR_INVALID_ARG);
    }
    return bOwnThread;
}

template <class TDevice>
class CLiveHandles;

// A device's place in its kind's list of live handles.
class CLiveHandle {
private:
    template <class TDevice>
    friend class CLiveHandles;
    CLiveHandle* m_pNextLive = nullptr;
    uint32_t m_ulUses = 0;
    bool m_bTaken = false;  // a destroy waits for the calls that use it
};

template <class TDevice>
class CLiveHandles {
public:
    // One call's hold on a live device; empty (logged) when the handle is not one.
    class CUse {
    public:
        CUse(CLiveHandles& oHandles, void* hHandle, const char* pszWrapper, const char* pszWhat)
            : m_oHandles(oHandles), m_poDevice(oHandles.Use(hHandle, pszWrapper, pszWhat))
        {
        }
        ~CUse()
        {
            if (m_poDevice != nullptr) {
                m_oHandles.Release(m_poDevice);
            }
        }
        CUse(const CUse&) = delete;
        CUse& operator=(const CUse&) = delete;
        explicit operator bool() const { return m_poDevice != nullptr; }
        TDevice* operator->() const { return m_poDevice; }

    private:
        CLiveHandles& m_oHandles;
        TDevice* m_poDevice;
    };

    explicit CLiveHandles(const char* pszKind) : m_pszKind(pszKind) {}

    void Add(TDevice* poDevice)
    {
        std::lock_guard<std::mutex> oLock(m_mtxList);
        CLiveHandle* poEntry = poDevice;
        poEntry->m_pNextLive = m_poFirst;
        m_poFirst = poEntry;
    }

    // For a destroy: the device off the list, so that no later call finds it,
    // once no other call holds it; nullptr (logged) when the handle is not
    // live, or when the device's own worker asks.
    TDevice* Take(void* hHandle, const char* pszWrapper)
    {
        std::unique_lock<std::mutex> oLock(m_mtxList);
        CLiveHandle** ppoLink = Locate(hHandle);
        CLiveHandle* poEntry = ppoLink != nullptr ? *ppoLink : nullptr;
        const bool bOwnThread = poEntry != nullptr && static_cast<TDevice*>(poEntry)->OnOwnThread();
        if (poEntry == nullptr || bOwnThread) {
            oLock.unlock();
            if (!RefusedOnOwnThread(bOwnThread, pszWrapper, "DestoryDec")) {
                Refuse(hHandle, pszWrapper, "DestoryDec");
            }
            return nullptr;
        }
        *ppoLink = poEntry->m_pNextLive;
        poEntry->m_bTaken = true;
        m_cvReleased.wait(oLock, [poEntry] { return poEntry->m_ulUses == 0; });
        return static_cast<TDevice*>(poEntry);
    }

private:
    // The link that points at the device behind hHandle, or nullptr.
    CLiveHandle** Locate(void* hHandle)
    {
        for (CLiveHandle** ppoLink = &m_poFirst; *ppoLink != nullptr; ppoLink = &(*ppoLink)->m_pNextLive) {
            if (static_cast<void*>(static_cast<TDevice*>(*ppoLink)) == hHandle) {
                return ppoLink;
            }
        }
        return nullptr;
    }

    TDevice* Use(void* hHandle, const char* pszWrapper, const char* pszWhat)
    {
        {
            std::lock_guard<std::mutex> oLock(m_mtxList);
            CLiveHandle** ppoLink = Locate(hHandle);
            if (ppoLink != nullptr) {
                ++(*ppoLink)->m_ulUses;
                return static_cast<TDevice*>(*ppoLink);
            }
        }
        Refuse(hHandle, pszWrapper, pszWhat);
        return nullptr;
    }

    // Only a destroy waits: a call on a handle nobody destroys wakes no one.
    void Release(TDevice* poDevice)
    {
        CLiveHandle* poEntry = poDevice;
        std::lock_guard<std::mutex> oLock(m_mtxList);
        if (--poEntry->m_ulUses == 0 && poEntry->m_bTaken) {
            m_cvReleased.notify_all();
        }
    }

    void Refuse(void* hHandle, const char* pszWrapper, const char* pszWhat) const
    {
        VOCORA_LOG(VOCORA_LOG_ERROR, pszWrapper, "Failed, %s on %p, which is not a live %s handle, Error:[0x%x].",
                   pszWhat, hHandle, m_pszKind, VOCORA_ERR_INVALID_ARG);
    }

    const char* m_pszKind;
    std::mutex m_mtxList;
    std::condition_variable m_cvReleased;
    CLiveHandle* m_poFirst = nullptr;
};

#endif
