#pragma once
#include "framework/CWnd.h"
#include <prsht.h>
#include <vector>

class CPropertyPage;

// A modal property sheet of the common controls. The pages are the caller's
// objects; the sheet window is the system's, so this object is a view of it
// for as long as the modal run lasts.
class CPropertySheet : public CWnd {
public:
    CPropertySheet(const CString& strCaption, CWnd* pParentWnd = nullptr, UINT iSelectPage = 0);

    // Adds a page; pages show as tabs in the order they are added.
    void AddPage(CPropertyPage* pPage);
    // Shows the sheet and returns when it closes: IDOK, IDCANCEL, or -1 when
    // the sheet could not be created.
    INT_PTR DoModal();

    // Filled by the constructor; a derived sheet may change flags and icon.
    PROPSHEETHEADERA m_psh;

private:
    friend class CPropertyPage;
    // The system creates the sheet window; the first page to initialise tells us.
    void AttachToWindow(HWND hWnd) { if (!m_hWnd) Attach(hWnd); }

    CString m_strCaption;
    std::vector<CPropertyPage*> m_pages;
};
