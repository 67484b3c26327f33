#include "framework/CDialog.h"
#include "framework/ExceptionBarrier.h"
#include "framework/Resources.h"

INT_PTR CDialog::DoModal(HWND hOwner)
{
    return DialogBoxParamA(ResourceInstance(), MAKEINTRESOURCEA(m_nIDTemplate), hOwner, &CDialog::DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(HWND hOwner)
{
    return CreateDialogParamA(ResourceInstance(), MAKEINTRESOURCEA(m_nIDTemplate), hOwner, &CDialog::DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

BOOL CDialog::OnCommand(int nID, int)
{
    if (nID != IDOK && nID != IDCANCEL) return FALSE;
    EndDialog(nID);
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog* pDialog = nullptr;
    if (msg == WM_INITDIALOG) {
        pDialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hDlg, DWLP_USER, lParam);
        pDialog->Attach(hDlg);
    } else {
        pDialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hDlg, DWLP_USER));
    }
    if (!pDialog) return FALSE;   // messages before WM_INITDIALOG get the default

    const MSG current = {hDlg, msg, wParam, lParam, 0, {0, 0}};
    INT_PTR result = FALSE;
    switch (msg) {
    case WM_INITDIALOG:
        result = CallGuarded(current, TRUE, [&] { return static_cast<INT_PTR>(pDialog->OnInitDialog()); });
        break;
    case WM_COMMAND:
        result = CallGuarded(current, TRUE, [&] { return static_cast<INT_PTR>(pDialog->OnCommand(LOWORD(wParam), HIWORD(wParam))); });
        break;
    case WM_NCDESTROY:
        pDialog->Detach();
        SetWindowLongPtrA(hDlg, DWLP_USER, 0);
        break;
    default:
        break;
    }
    return result;
}
