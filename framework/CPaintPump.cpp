#include "framework/CPaintPump.h"

namespace {
// WM_PAINT stays in the queue until the window validates itself; a window
// that never does would keep a dispatch loop going, so the loop is bounded.
constexpr int MAX_PAINTS_PER_CALL = 256;
}

void CPaintPump::DispatchPaints()
{
    MSG msg;
    for (int n = 0; n < MAX_PAINTS_PER_CALL && PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_NOYIELD); ++n)
        DispatchMessageA(&msg);
}

bool CPaintPump::Step()
{
    const DWORD dwNow = GetTickCount();
    if (++m_nSteps < STEPS && dwNow - m_dwLast < INTERVAL_MS) return false;
    m_nSteps = 0;
    m_dwLast = dwNow;
    DispatchPaints();
    return true;
}

bool CPaintPump::WaitPainting(HANDLE hObject)
{
    for (;;) {
        // QS_PAINT wakes the wait only for paints that are new since the last
        // look at the queue, so a window that never validates cannot spin it.
        switch (MsgWaitForMultipleObjects(1, &hObject, FALSE, INFINITE, QS_PAINT)) {
        case WAIT_OBJECT_0:     return true;
        case WAIT_OBJECT_0 + 1: DispatchPaints(); break;
        default:                return false;
        }
    }
}
