#pragma once
#include "framework/CPropertySheet.h"
#include "ui/comtester/ComTester.h"
#include "ui/projecttester/ProjectTester.h"
#include "ui/general/General.h"

// The program's one window: a property sheet with the General, COM tester and
// Project tester pages.
class CSupportSheet : public CPropertySheet {
public:
    CSupportSheet(const CString& strCaption, CWnd* pParentWnd, UINT iSelectPage);
    ~CSupportSheet() override = default;

    // Puts the system summary followed by the text on the clipboard.
    void CopyToClipboard(const CString& strText) const;

private:
    HICON m_hIcon;   // a shared resource icon: never destroyed
    CComTester m_pageComTester;
    CProjectTester m_pageProjectTester;
    CGeneral m_pageGeneral;
};
