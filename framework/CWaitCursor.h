#pragma once
#include <windows.h>

// Shows the hourglass for the life of the object; the previous cursor comes
// back on every path out of scope.
class CWaitCursor {
public:
    CWaitCursor() : m_hPrevious(SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)))) {}
    ~CWaitCursor() { SetCursor(m_hPrevious); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_hPrevious;
};
