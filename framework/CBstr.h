#pragma once
#include "framework/CString.h"
#include <oleauto.h>
#include <utility>

// Owns one BSTR (possibly null), freed with SysFreeString on every path.
class CBstr {
public:
    CBstr() = default;
    // Converts ANSI text with the active code page.
    explicit CBstr(const char* pszText);
    CBstr(CBstr&& from) noexcept : m_bstr(std::exchange(from.m_bstr, nullptr)) {}
    CBstr& operator=(CBstr&& from) noexcept { std::swap(m_bstr, from.m_bstr); return *this; }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    ~CBstr() { Free(); }

    BSTR Get() const { return m_bstr; }
    // For an out parameter: frees what is held first.
    BSTR* operator&() { Free(); return &m_bstr; }
    void Free() { if (m_bstr) SysFreeString(std::exchange(m_bstr, nullptr)); }

    // The text in the active ANSI code page, however many bytes that takes;
    // a null BSTR gives "".
    CString ToAnsi() const;

private:
    BSTR m_bstr = nullptr;
};
