#include "framework/CWinApp.h"
#include "framework/CException.h"
#include <ole2.h>

CWinApp* CWinApp::s_pApp = nullptr;

CWinApp::CWinApp(const char* pszAppName)
    : m_strAppName(pszAppName)
{
    s_pApp = this;
}

CWinApp::~CWinApp()
{
    if (s_pApp == this) s_pApp = nullptr;
}

CString CWinApp::GetAppName() const
{
    return m_strAppName.IsEmpty() ? ExecutableBaseName() : m_strAppName;
}

CString CWinApp::ExecutableBaseName()
{
    // Wide: a path of fewer than MAX_PATH characters may pass MAX_PATH bytes
    // in UTF-8, and the A function would cut it.
    wchar_t szPath[MAX_PATH] = L"";
    const DWORD n = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    CString name = CString::FromWide(szPath, n < MAX_PATH ? static_cast<int>(n) : MAX_PATH - 1);
    const int slash = name.ReverseFind('\\');
    if (slash >= 0) name = name.Mid(slash + 1);
    const int dot = name.ReverseFind('.');
    if (dot > 0) name = name.Left(dot);
    return name;
}

int CWinApp::MessageBox(const char* pszText, UINT nType)
{
    const CString caption = s_pApp ? s_pApp->GetAppName() : ExecutableBaseName();
    return ::MessageBoxA(GetActiveWindow(), pszText, caption, nType);
}

LRESULT CWinApp::ProcessWndProcException(CException* e, const MSG*)
{
    e->ReportError(MB_ICONSTOP);
    e->Delete();
    return 0;
}

bool CWinApp::OleInit()
{
    if (m_bOleInitialized) return true;
    if (FAILED(OleInitialize(nullptr))) return false;
    m_bOleInitialized = true;
    m_pDefaultFilter = std::make_unique<COleMessageFilter>();
    m_pDefaultFilter->Register();
    return true;
}

int CWinApp::Run()
{
    // The programs of this framework live inside a modal window that
    // InitInstance runs, so there is no message loop here.
    InitInstance();
    const int nExitCode = ExitInstance();
    if (m_pDefaultFilter) m_pDefaultFilter->Revoke();
    m_pDefaultFilter.reset();
    if (m_bOleInitialized) OleUninitialize();
    m_bOleInitialized = false;
    return nExitCode;
}
