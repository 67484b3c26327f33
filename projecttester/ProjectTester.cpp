#include "projecttester/ProjectTester.h"
#include "app/SupportSheet.h"
#include "res/resource.h"

CProjectTester::CProjectTester()
    : CPropertyPage(IDD_PROJECTTESTER)
{
    m_psp.dwFlags &= ~static_cast<DWORD>(PSP_HASHELP);
}

BOOL CProjectTester::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    m_pSheet = static_cast<CSupportSheet*>(GetParentSheet());
    return TRUE;
}
