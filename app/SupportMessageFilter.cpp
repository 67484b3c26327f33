#include "app/SupportMessageFilter.h"

namespace {
// WM_PAINT stays in the queue until the window validates itself; a window
// that never does would keep this loop going, so the loop is bounded.
constexpr int MAX_PAINTS_PER_CALL = 256;
}

BOOL CSupportMessageFilter::OnMessagePending(const MSG* pMsg)
{
    MSG msg;
    for (int n = 0; n < MAX_PAINTS_PER_CALL && PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_NOYIELD); ++n)
        DispatchMessageA(&msg);
    return pMsg && pMsg->message == WM_PAINT;
}
