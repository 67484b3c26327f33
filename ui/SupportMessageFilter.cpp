#include "ui/SupportMessageFilter.h"
#include "framework/CPaintPump.h"

BOOL CSupportMessageFilter::OnMessagePending(const MSG* pMsg)
{
    CPaintPump::DispatchPaints();
    return pMsg && pMsg->message == WM_PAINT;
}
