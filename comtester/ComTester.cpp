#include "comtester/ComTester.h"
#include "app/SupportSheet.h"
#include "res/resource.h"

CComTester::CComTester()
    : CPropertyPage(IDD_COMTESTER)
{
    m_psp.dwFlags &= ~static_cast<DWORD>(PSP_HASHELP);
}

BOOL CComTester::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    m_pSheet = static_cast<CSupportSheet*>(GetParentSheet());
    return TRUE;
}
