#pragma once
#include <unknwn.h>
#include <utility>

// Owns one reference to a COM object: copying adds a reference, and the
// reference is released when the owner goes out of scope, on every path.
template <class T>
class CComPtr {
public:
    CComPtr() = default;
    // Takes a new reference to p.
    explicit CComPtr(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    CComPtr(const CComPtr& from) : CComPtr(from.m_p) {}
    CComPtr(CComPtr&& from) noexcept : m_p(std::exchange(from.m_p, nullptr)) {}
    ~CComPtr() { Release(); }
    CComPtr& operator=(CComPtr from) noexcept { std::swap(m_p, from.m_p); return *this; }

    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // For an out parameter: drops the reference held so far, so the callee's
    // reference is the only one kept.
    T** operator&() { Release(); return &m_p; }

    void Release() { if (T* p = std::exchange(m_p, nullptr)) p->Release(); }

    // Queries the held object for another interface; the result is empty
    // when nothing is held or the object gave no pointer.
    template <class Q>
    HRESULT QueryInterface(REFIID riid, CComPtr<Q>& target) const
    {
        if (!m_p) { target.Release(); return E_POINTER; }
        return m_p->QueryInterface(riid, reinterpret_cast<void**>(&target));
    }

private:
    T* m_p = nullptr;
};
