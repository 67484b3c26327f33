#include "comtester/ComTester.h"
#include "app/SupportSheet.h"
#include "framework/CInputDiscard.h"
#include "res/resource.h"

namespace {
const char INSTALL_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0";
}

CString SystemFolderFromInstallLocation(const CString& strInstallLocation)
{
    CString strFolder = strInstallLocation;
    if (!strFolder.IsEmpty() && !strFolder.EndsWith('\\')) strFolder += '\\';
    strFolder += "System";
    return strFolder;
}

CString ToolSystemFolder(const CVerificationSite& site)
{
    return SystemFolderFromInstallLocation(site.ReadRegString(HKEY_LOCAL_MACHINE, INSTALL_KEY, "Install Location"));
}

CComTester::CComTester()
    : CPropertyPage(IDD_COMTESTER)
{
    m_psp.dwFlags &= ~static_cast<DWORD>(PSP_HASHELP);
}

void CComTester::DoDataExchange()
{
    DDX_Control(IDC_PROGRESS, m_progress);
    DDX_Control(IDC_COMPONENT_LIST, m_list);
}

BOOL CComTester::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    m_pSheet = static_cast<CSupportSheet*>(GetParentSheet());
    SetDlgItemText(IDC_SYSTEM_FOLDER, ToolSystemFolder(*this));
    m_list.InitList(this);
    m_details.Attach(&m_list, ::GetParent(m_hWnd));
    return TRUE;
}

BOOL CComTester::OnCommand(int nID, int nCode)
{
    if (nCode != BN_CLICKED) return FALSE;
    // Clicks and keys made while a command is busy are dropped when it ends.
    const CInputDiscard discard;
    switch (nID) {
    case IDC_BROWSE_SYSTEM_FOLDER: OnBrowse();             return TRUE;
    case IDC_VERIFY_COM:           OnVerifyCom();          return TRUE;
    case IDC_REGISTER_SELECTED:    OnRegisterSelected();   return TRUE;
    case IDC_UNREGISTER_SELECTED:  OnUnregisterSelected(); return TRUE;
    case IDC_VERIFY_FILES:         OnVerifyFiles();        return TRUE;
    case IDC_COPY_COM_RESULTS:     OnCopyResults();        return TRUE;
    default:                       return FALSE;
    }
}

BOOL CComTester::OnNotify(const NMHDR& nm, LRESULT& result)
{
    return m_details.OnListNotify(nm, result);
}

void CComTester::OnBrowse()
{
    const CString strFolder = m_pSheet->BrowseForFolder(GetDlgItemText(IDC_SYSTEM_FOLDER), IDS_BROWSE_SYSTEM_FOLDER);
    if (!strFolder.IsEmpty()) SetDlgItemText(IDC_SYSTEM_FOLDER, strFolder);
}

void CComTester::OnVerifyCom()
{
    m_list.VerifyRegistration();
}

void CComTester::OnRegisterSelected()
{
    m_list.RegisterSelected(true);
}

void CComTester::OnUnregisterSelected()
{
    m_list.RegisterSelected(false);
}

void CComTester::OnVerifyFiles()
{
    m_list.VerifyFiles();
}

void CComTester::OnCopyResults()
{
    m_pSheet->CopyToClipboard(m_list.GetResultsText());
}

CString CComTester::GetSystemFolder() const
{
    return GetDlgItemText(IDC_SYSTEM_FOLDER);
}

void CComTester::SetProgressRange(short nLower, short nUpper) const
{
    m_nProgressUpper = nUpper;
    m_nWalkPos = 0;
    m_progress.SetRange(nLower, nUpper);
}

void CComTester::SetProgressPos(int nPos) const
{
    m_progress.SetPos(nPos);
    m_pump.Step();
}

void CComTester::OnFolderEntered() const
{
    if (!m_pump.Step()) return;
    m_nWalkPos = (m_nWalkPos + m_nProgressUpper / 20 + 1) % (m_nProgressUpper + 1);
    m_progress.SetPos(m_nWalkPos);
}

bool CComTester::RegisterServerFile(const CString& strPath, bool bRegister, RegistrationResult* pResult) const
{
    return m_pSheet->RegisterServerFile(strPath, bRegister, pResult);
}

bool CComTester::GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS) const
{
    return m_pSheet->GetFileVersion(strPath, dwVersionMS, dwVersionLS);
}

CString CComTester::ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName) const
{
    return m_pSheet->ReadRegString(hRoot, strSubKey, strValueName);
}

CString CComTester::FindFileInTree(const CString& strFolder, const CString& strFileName) const
{
    return m_pSheet->FindFileInTree(strFolder, strFileName);
}

CString CComTester::MakeFilePath(const CString& strFolder, const CString& strFileName) const
{
    return m_pSheet->MakeFilePath(strFolder, strFileName);
}
