#pragma once
#include "framework/CWinApp.h"
#include "ui/SupportMessageFilter.h"

// The Support Services Utility: initialises COM with its own message filter
// and runs the main sheet modally; the program ends when the sheet closes.
class CSupportApp : public CWinApp {
public:
    CSupportApp() : CWinApp(nullptr) {}
    ~CSupportApp() override = default;
    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    // An undo file left unfinished by a press that never ended is completed
    // before the sheet opens, and the user told where it is.
    static void ReportCompletedUndo(const CString& strCaption);

    CSupportMessageFilter m_messageFilter;
};

extern CSupportApp theApp;
