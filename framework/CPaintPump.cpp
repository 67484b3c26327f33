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
