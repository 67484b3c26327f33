#pragma once
#include <objidl.h>

// A COM message filter for the user-interface thread. While the thread waits
// for an outgoing call, COM asks it what to do with arriving messages; a
// derived class decides in OnMessagePending.
class COleMessageFilter {
public:
    COleMessageFilter();
    virtual ~COleMessageFilter();
    COleMessageFilter(const COleMessageFilter&) = delete;
    COleMessageFilter& operator=(const COleMessageFilter&) = delete;

    // Installs this filter for the calling thread; false when COM refuses
    // (no single-threaded apartment on this thread).
    bool Register();
    // Puts back the filter that was there before Register; harmless when not registered.
    void Revoke();
    bool IsRegistered() const { return m_bRegistered; }

    // Called for the message that woke the waiting thread. TRUE means the
    // message was handled here.
    virtual BOOL OnMessagePending(const MSG* pMsg);
    // Asked whenever a message wakes the waiting thread: true cancels the
    // call, which then fails with RPC_E_CALL_CANCELED.
    virtual bool CancelPendingCall();
    // The answer COM is given for the pending call: CancelPendingCall's,
    // but never while a CCleanup lives on the calling thread.
    bool ShouldCancelPendingCall();

    // While one lives on a thread, no call the thread makes is cancelled: a
    // stop cancels the call it interrupted, while the calls that let a server
    // end (closing what it opened, the last releases) must reach it.
    class CCleanup {
    public:
        CCleanup();
        ~CCleanup();
        CCleanup(const CCleanup&) = delete;
        CCleanup& operator=(const CCleanup&) = delete;
    };

private:
    class CFilter : public IMessageFilter {
    public:
        explicit CFilter(COleMessageFilter& owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        // The filter lives as long as its owner, so counting is only for COM's sake.
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
        STDMETHODIMP_(DWORD) HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override;
        STDMETHODIMP_(DWORD) RetryRejectedCall(HTASK, DWORD dwTickCount, DWORD dwRejectType) override;
        STDMETHODIMP_(DWORD) MessagePending(HTASK, DWORD, DWORD) override;
    private:
        COleMessageFilter& m_owner;
    };

    CFilter m_filter;
    IMessageFilter* m_pPrevious = nullptr;
    bool m_bRegistered = false;
};
