#include "ui/general/General.h"
#include "system/SystemInfo.h"
#include "res/resource.h"

CGeneral::CGeneral()
    : CPropertyPage(IDD_GENERAL)
{
    m_psp.dwFlags &= ~static_cast<DWORD>(PSP_HASHELP);
}

CString FormatOperatingSystemLine(const CString& strName, const CString& strVersion, const CString& strServicePack)
{
    CString strLine;
    strLine.Format("%s, %s, %s", strName.GetString(), strVersion.GetString(), strServicePack.GetString());
    return strLine;
}

BOOL CGeneral::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    CString strName, strVersion, strServicePack;
    GetOSInfo(strName, strVersion, strServicePack);
    SetDlgItemText(IDC_OPERATING_SYSTEM, FormatOperatingSystemLine(strName, strVersion, strServicePack));
    SetDlgItemText(IDC_IE_VERSION, GetIEVersion());
    return TRUE;
}
