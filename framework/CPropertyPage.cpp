#include "framework/CPropertyPage.h"
#include "framework/CPropertySheet.h"
#include "framework/ExceptionBarrier.h"
#include "framework/Resources.h"

CPropertyPage::CPropertyPage(UINT nIDTemplate)
    : m_psp()
{
    m_psp.dwSize = sizeof m_psp;
    m_psp.dwFlags = PSP_DEFAULT;
    m_psp.hInstance = ResourceInstance();
    m_psp.pszTemplate = MAKEINTRESOURCEA(nIDTemplate);
    m_psp.pfnDlgProc = &CPropertyPage::DialogProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(this);
}

BOOL CPropertyPage::OnInitDialog()
{
    DoDataExchange();
    return TRUE;
}

void CPropertyPage::DDX_Control(int nID, CWnd& control)
{
    control.Attach(GetDlgItem(nID));
    for (CWnd* pKnown : m_controls)
        if (pKnown == &control) return;
    m_controls.push_back(&control);
}

INT_PTR CALLBACK CPropertyPage::DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CPropertyPage* pPage = nullptr;
    if (msg == WM_INITDIALOG) {
        // lParam is the sheet's copy of our PROPSHEETPAGE; its lParam is the page.
        const auto* pPsp = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
        pPage = reinterpret_cast<CPropertyPage*>(pPsp->lParam);
        SetWindowLongPtrA(hDlg, DWLP_USER, reinterpret_cast<LONG_PTR>(pPage));
        pPage->Attach(hDlg);
        if (pPage->m_pParentSheet) pPage->m_pParentSheet->AttachToWindow(GetParent(hDlg));
    } else {
        pPage = reinterpret_cast<CPropertyPage*>(GetWindowLongPtrA(hDlg, DWLP_USER));
    }
    if (!pPage) return FALSE;   // messages before WM_INITDIALOG get the default

    const MSG current = {hDlg, msg, wParam, lParam, 0, {0, 0}};
    const INT_PTR result = CallGuarded(current, TRUE, [&] { return pPage->HandleMessage(msg, wParam, lParam); });
    if (msg == WM_NCDESTROY) {
        for (CWnd* pControl : pPage->m_controls) pControl->Detach();
        pPage->m_controls.clear();
        pPage->Detach();
        SetWindowLongPtrA(hDlg, DWLP_USER, 0);
    }
    return result;
}

INT_PTR CPropertyPage::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_NOTIFY:
        return HandleNotify(*reinterpret_cast<const NMHDR*>(lParam));
    default:
        return FALSE;
    }
}

INT_PTR CPropertyPage::HandleNotify(const NMHDR& nm)
{
    // A dialog procedure answers WM_NOTIFY through DWLP_MSGRESULT.
    LRESULT result = 0;
    bool bHandled = false;
    for (CWnd* pControl : m_controls) {
        if (pControl->GetSafeHwnd() == nm.hwndFrom) {
            bHandled = pControl->OnReflectedNotify(nm, result);
            break;
        }
    }
    if (!bHandled) {
        switch (nm.code) {
        case PSN_SETACTIVE:
            result = OnSetActive() ? 0 : -1;
            bHandled = true;
            break;
        case PSN_KILLACTIVE:
            result = OnKillActive() ? FALSE : TRUE;
            bHandled = true;
            break;
        default:
            bHandled = OnNotify(nm, result) != FALSE;
            break;
        }
    }
    if (bHandled) SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return bHandled ? TRUE : FALSE;
}
