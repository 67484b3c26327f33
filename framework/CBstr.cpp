#include "framework/CBstr.h"

CBstr::CBstr(const char* pszText)
{
    const std::wstring wide = CString(pszText).ToWide();
    m_bstr = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

CString CBstr::ToAnsi() const
{
    return m_bstr ? CString::FromWide(m_bstr, static_cast<int>(SysStringLen(m_bstr))) : CString();
}
