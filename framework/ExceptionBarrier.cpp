#include "framework/ExceptionBarrier.h"
#include "framework/CException.h"
#include "framework/CWinApp.h"
#include <exception>

namespace {
// Carries the text of a standard exception to the same report.
class CStdException : public CException {
public:
    explicit CStdException(const char* pszWhat) : m_strWhat(pszWhat) {}
    BOOL GetErrorMessage(LPSTR pszError, UINT nMaxError, PUINT) override
    {
        if (!pszError || nMaxError == 0) return FALSE;
        lstrcpynA(pszError, m_strWhat, static_cast<int>(nMaxError));
        return TRUE;
    }
private:
    CString m_strWhat;
};
}

// Called from inside a catch (...): rethrows to learn the exception's kind.
void ReportEscapedException(const MSG& msg)
{
    CException* pException = nullptr;
    try {
        throw;
    } catch (CException* e) {
        pException = e;
    } catch (const std::exception& e) {
        pException = new (std::nothrow) CStdException(e.what());
    } catch (...) {
        pException = new (std::nothrow) CException;
    }
    if (!pException) return;   // out of memory: nothing left to report with
    try {
        if (CWinApp* pApp = CWinApp::Get())
            pApp->ProcessWndProcException(pException, &msg);
        else {
            pException->ReportError(MB_ICONSTOP);
            pException->Delete();
        }
    } catch (...) {
        // The report itself failed; the exception must still not escape.
    }
}
