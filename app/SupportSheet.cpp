#include "app/SupportSheet.h"
#include "app/SystemServices.h"
#include "framework/Resources.h"
#include "res/resource.h"

CSupportSheet::CSupportSheet(const CString& strCaption, CWnd* pParentWnd, UINT iSelectPage)
    : CPropertySheet(strCaption, pParentWnd, iSelectPage),
      m_hIcon(LoadIconA(ResourceInstance(), MAKEINTRESOURCEA(IDR_MAINFRAME)))
{
    m_psh.hIcon = m_hIcon;
    m_psh.dwFlags |= PSH_NOAPPLYNOW | PSH_USEHICON;
    m_psh.dwFlags &= ~static_cast<DWORD>(PSH_HASHELP);

    AddPage(&m_pageGeneral);
    AddPage(&m_pageComTester);
    AddPage(&m_pageProjectTester);
}

CString CSupportSheet::ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName) const
{
    return ::ReadRegString(hRoot, strSubKey, strValueName);
}

bool CSupportSheet::GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS) const
{
    return ::GetFileVersion(strPath, dwVersionMS, dwVersionLS);
}

void CSupportSheet::GetOSInfo(CString& strName, CString& strVersion, CString& strServicePack) const
{
    ::GetOSInfo(strName, strVersion, strServicePack);
}

CString CSupportSheet::GetIEVersion() const
{
    return ::GetIEVersion();
}

CString CSupportSheet::GetSystemSummary() const
{
    return ::GetSystemSummary();
}

void CSupportSheet::CopyToClipboard(const CString& strText) const
{
    PlaceTextOnClipboard(GetSafeHwnd(), GetSystemSummary() + strText);
}
