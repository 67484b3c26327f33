#include "ui/SupportMessageFilter.h"
#include "ui/StopPrompt.h"
#include "framework/CPaintPump.h"

BOOL CSupportMessageFilter::OnMessagePending(const MSG* pMsg)
{
    CPaintPump::DispatchPaints();
    return pMsg && pMsg->message == WM_PAINT;
}

bool CSupportMessageFilter::CancelPendingCall()
{
    CStopPrompt* pPrompt = CStopPrompt::Current();
    return pPrompt && pPrompt->IsStopRequested();
}
