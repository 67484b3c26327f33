#include "framework/CPropertySheet.h"
#include "framework/CPropertyPage.h"
#include "framework/Resources.h"

CPropertySheet::CPropertySheet(const CString& strCaption, CWnd* pParentWnd, UINT iSelectPage)
    : m_psh(), m_strCaption(strCaption)
{
    m_psh.dwSize = sizeof m_psh;
    m_psh.dwFlags = PSH_PROPSHEETPAGE;
    m_psh.hwndParent = pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr;
    m_psh.hInstance = ResourceInstance();
    m_psh.nStartPage = iSelectPage;
}

void CPropertySheet::AddPage(CPropertyPage* pPage)
{
    pPage->m_pParentSheet = this;
    m_pages.push_back(pPage);
}

INT_PTR CPropertySheet::DoModal()
{
    std::vector<PROPSHEETPAGEA> pages;
    pages.reserve(m_pages.size());
    for (CPropertyPage* pPage : m_pages) pages.push_back(pPage->m_psp);

    PROPSHEETHEADERA header = m_psh;
    header.dwFlags &= ~static_cast<DWORD>(PSH_MODELESS);
    header.pszCaption = m_strCaption;
    header.nPages = static_cast<UINT>(pages.size());
    header.ppsp = pages.data();

    const INT_PTR nResult = PropertySheetA(&header);
    Detach();
    if (nResult < 0) return -1;
    return nResult > 0 ? IDOK : IDCANCEL;
}
