#pragma once
#include "framework/COleMessageFilter.h"

// The program's COM message filter: while the user-interface thread waits for
// an out-of-process server, it keeps the windows painted, and cancels the
// call when the user stops the command that made it.
class CSupportMessageFilter : public COleMessageFilter {
public:
    ~CSupportMessageFilter() override = default;
    // Dispatches every queued WM_PAINT; TRUE when pMsg itself is one.
    BOOL OnMessagePending(const MSG* pMsg) override;
    bool CancelPendingCall() override;
};
