#include "ui/projecttester/ProjectTester.h"
#include "ui/SupportSheet.h"
#include "engine/components/ToolLocations.h"
#include "engine/project/ProjectRun.h"
#include "ui/StopPrompt.h"
#include "ui/WakeTicker.h"
#include "framework/CFileDialog.h"
#include "framework/CInputDiscard.h"
#include "framework/CWaitCursor.h"
#include "res/resource.h"

CProjectTester::CProjectTester()
    : CPropertyPage(IDD_PROJECTTESTER)
{
    m_psp.dwFlags &= ~static_cast<DWORD>(PSP_HASHELP);
}

void CProjectTester::DoDataExchange()
{
    DDX_Control(IDC_ERROR_LIST, m_errorList);
    DDX_Control(IDC_PROJECT_TREE, m_tree);
}

BOOL CProjectTester::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    m_pSheet = static_cast<CSupportSheet*>(GetParentSheet());

    m_strProjectLocation = ProjectLocation();

    m_tree.InitTree(this);

    const int nIcon = ScaleByDpi(16);
    m_errorImages.Create(nIcon, nIcon, ILC_COLOR4 | ILC_MASK, 1, 0);
    m_errorImages.AddResourceIcon(IDI_ERROR_LINE);
    m_errorList.SetImageList(m_errorImages.GetSafeHandle(), LVSIL_SMALL);
    m_errorList.InsertColumn(0, LoadResourceString(IDS_COL_ERROR), LVCFMT_LEFT, ScaleByDpi(100));
    return TRUE;
}

BOOL CProjectTester::OnCommand(int nID, int nCode)
{
    if (nCode != BN_CLICKED) return FALSE;
    // Clicks and keys made while a command is busy are dropped when it ends.
    const CInputDiscard discard;
    switch (nID) {
    case IDC_BROWSE_PROJECT:       OnBrowse();       return TRUE;
    case IDC_TEST_PROJECT:         OnTestProject();  return TRUE;
    case IDC_COPY_PROJECT_RESULTS: OnCopyResults();  return TRUE;
    default:                       return FALSE;
    }
}

void CProjectTester::AddError(const CString& strText)
{
    m_errorList.InsertItem(m_errorList.GetItemCount(), strText, 0);
}

void CProjectTester::OnBrowse()
{
    CFileDialog dialog("KVP", nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, "Kelvara Project (*.kvp)|*.kvp||");
    dialog.SetInitialDir(m_strProjectLocation);
    if (dialog.DoModal() == IDOK) SetDlgItemText(IDC_PROJECT_PATH, dialog.GetPathName());
}

void CProjectTester::OnCopyResults()
{
    // Each line ends in CR LF so that the lines stay apart once pasted.
    CString strText;
    const int nCount = m_errorList.GetItemCount();
    for (int i = 0; i < nCount; ++i) strText += m_errorList.GetItemText(i, 0) + "\r\n";
    m_pSheet->CopyToClipboard(strText);
}

void CProjectTester::OnTestProject()
{
    const CWaitCursor wait;
    // Esc, or the prompt's Stop once it shows, cancels the call the test
    // waits on; the tree keeps what it was given.
    CStopPrompt prompt(::GetParent(m_hWnd));
    const CWakeTicker ticker;
    RunProjectTest(m_tree, GetDlgItemText(IDC_PROJECT_PATH));
}
