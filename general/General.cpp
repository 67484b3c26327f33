#include "general/General.h"
#include "app/SupportSheet.h"
#include "res/resource.h"

CGeneral::CGeneral()
    : CPropertyPage(IDD_GENERAL)
{
    m_psp.dwFlags &= ~static_cast<DWORD>(PSP_HASHELP);
}

BOOL CGeneral::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    m_pSheet = static_cast<CSupportSheet*>(GetParentSheet());

    CString strName, strVersion, strServicePack;
    m_pSheet->GetOSInfo(strName, strVersion, strServicePack);
    CString strSystem;
    strSystem.Format("%s, %s, %s", strName.GetString(), strVersion.GetString(), strServicePack.GetString());
    SetDlgItemText(IDC_OPERATING_SYSTEM, strSystem);
    SetDlgItemText(IDC_IE_VERSION, m_pSheet->GetIEVersion());
    return TRUE;
}
