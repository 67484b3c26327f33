#include "ui/SupportSheet.h"
#include "system/ClipboardText.h"
#include "system/SystemInfo.h"
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

void CSupportSheet::CopyToClipboard(const CString& strText) const
{
    PlaceTextOnClipboard(GetSafeHwnd(), GetSystemSummary() + strText);
}
