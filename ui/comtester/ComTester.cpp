#include "ui/comtester/ComTester.h"
#include "ui/comtester/FolderPicker.h"
#include "ui/SupportSheet.h"
#include "engine/components/ToolLocations.h"
#include "framework/CInputDiscard.h"
#include "res/resource.h"

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
    SetDlgItemText(IDC_SYSTEM_FOLDER, ToolSystemFolder());
    m_list.InitList();
    m_undo.Attach(m_hWnd, &m_list, [this] { return Folders(); });
    m_creation.Attach(m_hWnd, &m_list, [this] { return Folders(); }, &m_undo);
    m_details.Attach(&m_list, ::GetParent(m_hWnd), [this] { return Folders(); }, &m_creation);
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

VerificationFolders CComTester::Folders() const
{
    return MachineFolders(GetDlgItemText(IDC_SYSTEM_FOLDER));
}

void CComTester::OnBrowse()
{
    const CString strFolder = BrowseForFolder(::GetParent(m_hWnd), GetDlgItemText(IDC_SYSTEM_FOLDER),
                                              LoadResourceString(IDS_BROWSE_SYSTEM_FOLDER));
    if (!strFolder.IsEmpty()) SetDlgItemText(IDC_SYSTEM_FOLDER, strFolder);
}

void CComTester::OnVerifyCom()
{
    // Esc, or the prompt's Stop once it shows, stops the command.
    CStopPrompt prompt(::GetParent(m_hWnd));
    m_list.VerifyRegistration(Folders(), *this);
}

void CComTester::OnRegisterSelected()
{
    RegisterSelected(true);
}

void CComTester::OnUnregisterSelected()
{
    RegisterSelected(false);
}

void CComTester::RegisterSelected(bool bRegister)
{
    CChangeRecording recording(bRegister ? "Register Selected" : "Unregister Selected");
    UndoOutcome outcome;
    {
        // Esc, or the prompt's Stop once it shows, stops the command.
    CStopPrompt prompt(::GetParent(m_hWnd));
        m_list.RegisterSelected(bRegister, Folders(), *this, &recording);
        outcome = recording.End();
    }
    m_undo.ShowOutcome(outcome);
}

void CComTester::OnVerifyFiles()
{
    // Esc, or the prompt's Stop once it shows, stops the command.
    CStopPrompt prompt(::GetParent(m_hWnd));
    m_list.VerifyFiles(Folders(), *this);
}

void CComTester::OnCopyResults()
{
    m_pSheet->CopyToClipboard(m_list.GetResultsText());
}

void CComTester::SetProgressRange(int nUpper)
{
    m_nProgressUpper = nUpper;
    m_nWalkPos = 0;
    m_progress.SetRange(0, static_cast<short>(nUpper));
}

void CComTester::SetProgressPos(int nPos)
{
    m_progress.SetPos(nPos);
    m_pump.Step();
}

void CComTester::OnWaiting(const CString& strFile, DWORD)
{
    CStopPrompt::OnCurrentWaiting(strFile);
}

bool CComTester::IsStopRequested()
{
    return CStopPrompt::IsCurrentStopRequested();
}

void CComTester::ResetStop()
{
    CStopPrompt::ResetCurrentStop();
}

void CComTester::OnFolderEntered()
{
    if (!m_pump.Step()) return;
    m_nWalkPos = (m_nWalkPos + m_nProgressUpper / 20 + 1) % (m_nProgressUpper + 1);
    m_progress.SetPos(m_nWalkPos);
}
