#pragma once
#include "framework/CString.h"
#include <optional>
#include <utility>

// An open registry key, closed on every path out of scope.
class CRegKey {
public:
    // Opens the key for reading; nothing when it is missing or not readable.
    static std::optional<CRegKey> Open(HKEY hRoot, const CString& strSubKey, REGSAM samDesired = KEY_READ);
    // Empty, to receive a key from a call that opens or creates one.
    CRegKey() = default;
    CRegKey(CRegKey&& from) noexcept : m_hKey(std::exchange(from.m_hKey, nullptr)) {}
    CRegKey& operator=(CRegKey&&) = delete;
    ~CRegKey() { if (m_hKey) RegCloseKey(m_hKey); }
    HKEY Get() const { return m_hKey; }
    HKEY* Receive() { return &m_hKey; }
    // Hands the key to a new owner.
    HKEY Release() { return std::exchange(m_hKey, nullptr); }

private:
    explicit CRegKey(HKEY hKey) : m_hKey(hKey) {}
    HKEY m_hKey = nullptr;
};
