#pragma once
#include <windows.h>
#include <utility>

// A kernel object handle (a file, a process), closed on every path out of
// scope. INVALID_HANDLE_VALUE and null both mean "none".
class CHandle {
public:
    explicit CHandle(HANDLE hHandle = nullptr) : m_hHandle(hHandle) {}
    CHandle(CHandle&& from) noexcept : m_hHandle(std::exchange(from.m_hHandle, nullptr)) {}
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    ~CHandle() { if (IsValid()) CloseHandle(m_hHandle); }

    bool IsValid() const { return m_hHandle && m_hHandle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_hHandle; }

private:
    HANDLE m_hHandle;
};
