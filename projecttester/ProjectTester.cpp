#include "projecttester/ProjectTester.h"
#include "app/SupportSheet.h"
#include "framework/CBstr.h"
#include "framework/CComPtr.h"
#include "framework/CFileDialog.h"
#include "framework/CInputDiscard.h"
#include "framework/CWaitCursor.h"
#include "res/resource.h"
#include <Automation.h>
#include <rpc.h>

namespace {
const char PROJECT_SETTINGS_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0\\Project Settings";
const char PROJECT_LOCATION_VALUE[] = "Project Location";
const char APP_SERVICES_PROGID[] = "Torvex.AppServices.1";
// The server is created for IUnknown, which every server answers, and then
// asked for its application-services interface.
const char CREATION_IID_TEXT[] = "00000000-0000-0000-C000-000000000046";
}

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

    m_strProjectLocation = m_pSheet->ReadRegString(HKEY_CURRENT_USER, PROJECT_SETTINGS_KEY, PROJECT_LOCATION_VALUE);
    if (m_strProjectLocation.IsEmpty())
        m_strProjectLocation = m_pSheet->ReadRegString(HKEY_LOCAL_MACHINE, PROJECT_SETTINGS_KEY, PROJECT_LOCATION_VALUE);

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

bool CProjectTester::ReportIfFailed(HRESULT hr, const CString& strText)
{
    if (hr >= 0) return false;
    AddError(strText);
    return true;
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

bool CProjectTester::CreateAppServices(IAppServices** ppAppServices)
{
    *ppAppServices = nullptr;
    const CBstr bstrProgID(APP_SERVICES_PROGID);
    CLSID clsid = GUID_NULL;
    if (ReportIfFailed(CLSIDFromProgID(bstrProgID.Get(), &clsid), "Failure at:CProjectTester::OnTestProject Function:CLSIDFromProgID"))
        return false;

    char szIID[260] = {};
    lstrcpynA(szIID, CREATION_IID_TEXT, sizeof szIID);
    IID iidCreate = GUID_NULL;
    UuidFromStringA(reinterpret_cast<RPC_CSTR>(szIID), &iidCreate);

    CComPtr<IUnknown> spCreated;
    if (ReportIfFailed(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                        iidCreate, reinterpret_cast<void**>(&spCreated)),
                       "Failure at:CProjectTester::OnTestProject Function:CoCreateInstance"))
        return false;
    // A server may create its object and still refuse the interface; the
    // test cannot go on without it.
    if (!spCreated || FAILED(spCreated->QueryInterface(IID_IAppServices, reinterpret_cast<void**>(ppAppServices))) || !*ppAppServices) {
        *ppAppServices = nullptr;
        AddError("Failure at:CProjectTester::OnTestProject Function:QueryInterface For IAppServices");
        return false;
    }
    return true;
}

void CProjectTester::OnTestProject()
{
    const CWaitCursor wait;
    CComPtr<IAppServices> spAppServices;
    if (!CreateAppServices(&spAppServices)) return;

    CBstr bstrPath(GetDlgItemText(IDC_PROJECT_PATH));
    CComPtr<IUnknown> spProject;
    long nIgnored = 0;
    const HRESULT hr = spAppServices->ProjectOpen(bstrPath.Get(), nullptr, nullptr, 0, &spProject, &nIgnored);
    bstrPath.Free();
    ReportIfFailed(hr, "Failure at:CProjectTester::OnTestProject Function:spAppServices->ProjectOpen");
    // Also after a failure: the tree is emptied and shows whatever came back.
    m_tree.PopulateTree(spProject.Get());
}
