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
    // A snapshot older than a press lasts is completed only on the user's word.
    const auto askOld = [&](const std::wstring& strAction, double dHours) {
        CString strText;
        strText.Format(LoadResourceString(IDS_UNDO_ASK_OLD), CString::FromWide(strAction.c_str()).GetString(),
                       static_cast<int>(dHours));
        return ::MessageBoxA(nullptr, strText, strCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    };
    for (const UndoOutcome& outcome : CompletePendingUndo(askOld))
        ::MessageBoxA(nullptr, CompletedUndoMessage(outcome), strCaption,
                      MB_OK | (outcome.bWritten ? MB_ICONINFORMATION : MB_ICONWARNING));
}

int CSupportApp::ExitInstance()
{
    m_messageFilter.Revoke();
    return CWinApp::ExitInstance();
}
