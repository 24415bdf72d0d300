// Owns one reference to a COM interface and releases it on every path.
#ifndef VOCORA_COMMON_COM_PTR_H
#define VOCORA_COMMON_COM_PTR_H

#include <utility>

template <class T>
class CComPtr {
public:
    CComPtr() = default;
    ~CComPtr() { Reset(); }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    CComPtr(CComPtr&& oOther) noexcept : m_pInterface(std::exchange(oOther.m_pInterface, nullptr)) {}
    CComPtr& operator=(CComPtr&& oOther) noexcept
    {
        if (this != &oOther) {
            Reset();
            m_pInterface = std::exchange(oOther.m_pInterface, nullptr);
        }
        return *this;
    }

    // Holds a reference of its own to pInterface (or nothing for null).
    static CComPtr Share(T* pInterface)
    {
        CComPtr oShared;
        if (pInterface != nullptr) {
            pInterface->AddRef();
            oShared.m_pInterface = pInterface;
        }
        return oShared;
    }

    T* Get() const { return m_pInterface; }
    T* operator->() const { return m_pInterface; }
    explicit operator bool() const { return m_pInterface != nullptr; }

    // For out-parameters: drops what is held and lends the slot.
    T** Put()
    {
        Reset();
        return &m_pInterface;
    }

    void Reset()
    {
        if (m_pInterface != nullptr) {
            std::exchange(m_pInterface, nullptr)->Release();
        }
    }

private:
    T* m_pInterface = nullptr;
};

#endif
