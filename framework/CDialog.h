#pragma once
#include "framework/CWnd.h"

// A dialog on a dialog template of the program, modal or modeless. Its
// procedure hands messages to the virtual hooks below, behind the exception
// barrier.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {}

    // Shows the dialog owned by hOwner (disabled meanwhile) and returns the
    // value given to EndDialog, or -1 when it could not be created.
    INT_PTR DoModal(HWND hOwner);
    void EndDialog(INT_PTR nResult) const { ::EndDialog(m_hWnd, nResult); }
    // Creates the dialog modeless, owned by hOwner, hidden unless its
    // template says otherwise; false when it could not be created. The
    // caller destroys it (DestroyWindow) before the object goes.
    bool Create(HWND hOwner);

protected:
    // TRUE lets the dialog manager set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // OK and Cancel (Escape, the close box) end the dialog with their id.
    virtual BOOL OnCommand(int nID, int nCode);

private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
    UINT m_nIDTemplate;
};
