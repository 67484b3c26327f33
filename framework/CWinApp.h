#pragma once
#include "framework/CString.h"
#include "framework/COleMessageFilter.h"
#include <memory>

class CException;
class CWnd;

// The program object: one global instance, whose InitInstance runs the
// program. Also the place that reports an exception a message handler let out.
class CWinApp {
public:
    // A null name makes the executable's file name, without extension, the
    // program's name.
    explicit CWinApp(const char* pszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    static CWinApp* Get() { return s_pApp; }

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }
    // Reports an exception that escaped the handling of pMsg and deletes it;
    // the message then counts as handled.
    virtual LRESULT ProcessWndProcException(CException* e, const MSG* pMsg);

    // What WinMain runs: InitInstance, then ExitInstance, whose value is the exit code.
    int Run();

    CString GetAppName() const;
    // The executable's file name without folder and extension.
    static CString ExecutableBaseName();
    // A message box captioned with the program's name, owned by the active window.
    static int MessageBox(const char* pszText, UINT nType);

    // Initialises OLE for this thread and installs the framework's default
    // message filter. False when OLE could not be initialised.
    bool OleInit();
    // The default filter OleInit installed; null when OleInit failed.
    COleMessageFilter* GetDefaultMessageFilter() { return m_pDefaultFilter.get(); }

    CWnd* m_pMainWnd = nullptr;

private:
    static CWinApp* s_pApp;
    CString m_strAppName;
    std::unique_ptr<COleMessageFilter> m_pDefaultFilter;
    bool m_bOleInitialized = false;
};
