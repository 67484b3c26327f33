#include "ui/SupportApp.h"
#include "ui/SupportSheet.h"
#include "engine/undo/UndoJournal.h"
#include "res/resource.h"
#include <commctrl.h>

CSupportApp theApp;

BOOL CSupportApp::InitInstance()
{
    // OLE puts the thread in a single-threaded apartment with the framework's
    // default filter; ours replaces it. Without OLE there is no filter to
    // replace, and the sheet is shown all the same.
    if (OleInit()) {
        if (COleMessageFilter* pDefault = GetDefaultMessageFilter()) pDefault->Revoke();
        m_messageFilter.Register();
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    CString strCaption;
    strCaption.LoadString(IDS_SHEET_CAPTION);
    ReportCompletedUndo(strCaption);
    CSupportSheet sheet(strCaption, nullptr, 0);
    m_pMainWnd = &sheet;
    sheet.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

void CSupportApp::ReportCompletedUndo(const CString& strCaption)
{
    for (const UndoOutcome& outcome : CompletePendingUndo())
        ::MessageBoxA(nullptr, CompletedUndoMessage(outcome), strCaption,
                      MB_OK | (outcome.bWritten ? MB_ICONINFORMATION : MB_ICONWARNING));
}

int CSupportApp::ExitInstance()
{
    m_messageFilter.Revoke();
    return CWinApp::ExitInstance();
}
