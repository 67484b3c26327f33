#include "framework/COleMessageFilter.h"

namespace {
// A server that keeps rejecting a call is given this long before the call is
// cancelled, retrying every RETRY_MS.
constexpr DWORD RETRY_LIMIT_MS = 8000;
constexpr DWORD RETRY_MS = 100;
// How many CCleanup objects live on this thread.
thread_local int t_nCleanups = 0;
}

COleMessageFilter::CCleanup::CCleanup()
{
    ++t_nCleanups;
}

COleMessageFilter::CCleanup::~CCleanup()
{
    --t_nCleanups;
}

COleMessageFilter::COleMessageFilter() : m_filter(*this) {}

COleMessageFilter::~COleMessageFilter()
{
    Revoke();
}

bool COleMessageFilter::Register()
{
    if (m_bRegistered) return true;
    IMessageFilter* pPrevious = nullptr;
    if (FAILED(CoRegisterMessageFilter(&m_filter, &pPrevious))) return false;
    m_pPrevious = pPrevious;
    m_bRegistered = true;
    return true;
}

void COleMessageFilter::Revoke()
{
    if (!m_bRegistered) return;
    IMessageFilter* pOurs = nullptr;
    CoRegisterMessageFilter(m_pPrevious, &pOurs);
    if (m_pPrevious) m_pPrevious->Release();
    m_pPrevious = nullptr;
    m_bRegistered = false;
}

BOOL COleMessageFilter::OnMessagePending(const MSG*)
{
    return FALSE;
}

bool COleMessageFilter::CancelPendingCall()
{
    return false;
}

bool COleMessageFilter::ShouldCancelPendingCall()
{
    return t_nCleanups == 0 && CancelPendingCall();
}

STDMETHODIMP COleMessageFilter::CFilter::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMessageFilter)) {
        *ppv = static_cast<IMessageFilter*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(DWORD) COleMessageFilter::CFilter::HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO)
{
    return SERVERCALL_ISHANDLED;
}

STDMETHODIMP_(DWORD) COleMessageFilter::CFilter::RetryRejectedCall(HTASK, DWORD dwTickCount, DWORD dwRejectType)
{
    if (dwRejectType == SERVERCALL_REJECTED || dwTickCount >= RETRY_LIMIT_MS)
        return static_cast<DWORD>(-1);   // cancel the call
    return RETRY_MS;
}

STDMETHODIMP_(DWORD) COleMessageFilter::CFilter::MessagePending(HTASK, DWORD, DWORD)
{
    // The message that woke the thread is looked at, not removed: whatever the
    // override leaves in the queue is COM's default processing to handle.
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD))
        m_owner.OnMessagePending(&msg);
    return m_owner.ShouldCancelPendingCall() ? PENDINGMSG_CANCELCALL : PENDINGMSG_WAITDEFPROCESS;
}
