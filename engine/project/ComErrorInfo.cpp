#include "engine/project/ComErrorInfo.h"
#include "framework/CBstr.h"
#include "framework/CComPtr.h"
#include "system/SystemMessage.h"

CComErrorInfo::CComErrorInfo(HRESULT hr) : m_hr(hr) {}

void CComErrorInfo::Fill()
{
    m_strDescription.Empty();
    m_strSource.Empty();
    m_iid = GUID_NULL;
    m_clsid = GUID_NULL;
    // Whatever error object the thread holds is taken, whoever set it; the
    // callers clear it before each checked call so it belongs to that call.
    CComPtr<IErrorInfo> spErrorInfo;
    if (GetErrorInfo(0, &spErrorInfo) == S_OK && spErrorInfo)
        FillFromErrorObject(*spErrorInfo.Get());
    else
        FillFromSystem();
}

void CComErrorInfo::FillFromErrorObject(IErrorInfo& errorInfo)
{
    CBstr description;
    if (SUCCEEDED(errorInfo.GetDescription(&description))) m_strDescription = description.ToAnsi();
    // A failure here leaves GUID_NULL, which the call may have written anyway.
    GUID iid = GUID_NULL;
    if (FAILED(errorInfo.GetGUID(&iid))) iid = GUID_NULL;
    m_iid = iid;
    CBstr source;
    if (SUCCEEDED(errorInfo.GetSource(&source))) m_strSource = source.ToAnsi();
    if (source.Get() && FAILED(CLSIDFromProgID(source.Get(), &m_clsid))) m_clsid = GUID_NULL;
}

void CComErrorInfo::FillFromSystem()
{
    // Exactly as the system gives it, its closing line end included.
    m_strDescription = SystemMessageText(static_cast<DWORD>(m_hr), MessageForm::AsGiven);
    if (m_strDescription.IsEmpty()) m_strDescription = "Unknown error";
}
