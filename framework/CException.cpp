#include "framework/CException.h"
#include "framework/CWinApp.h"

BOOL CException::GetErrorMessage(LPSTR pszError, UINT nMaxError, PUINT)
{
    if (pszError && nMaxError > 0) *pszError = '\0';
    return FALSE;
}

int CException::ReportError(UINT nType)
{
    char szText[1024];
    if (!GetErrorMessage(szText, sizeof szText))
        lstrcpynA(szText, "An unexpected error occurred.", sizeof szText);
    return CWinApp::MessageBox(szText, nType);
}
