#pragma once
#include "framework/CString.h"
#include <commctrl.h>

// A view of a window that someone else owns (a dialog, a control made by a
// dialog template). It holds the handle and never destroys the window.
class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    void Detach() { m_hWnd = nullptr; }

    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    CString GetWindowText() const { return GetText(m_hWnd); }
    void SetWindowText(const CString& text) const { ::SetWindowTextA(m_hWnd, text); }
    CString GetDlgItemText(int nID) const { return GetText(GetDlgItem(nID)); }
    void SetDlgItemText(int nID, const CString& text) const { ::SetDlgItemTextA(m_hWnd, nID, text); }
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, msg, wParam, lParam);
    }
    // With redraw off a window does not repaint after each change. Whether it
    // invalidates itself when redraw comes back on is up to its class.
    void SetRedraw(BOOL bRedraw) const { SendMessage(WM_SETREDRAW, static_cast<WPARAM>(bRedraw)); }
    void Invalidate() const { ::InvalidateRect(m_hWnd, nullptr, TRUE); }

    // The window's dots per inch, and a size given for 96 of them at that DPI.
    UINT GetDpi() const;
    int ScaleByDpi(int nPixels) const;

    // A notification that the parent hands back to the control that sent it.
    // Returns true when handled, with the notification's result in 'result'.
    virtual bool OnReflectedNotify(const NMHDR&, LRESULT&) { return false; }

    // The whole text of any window, however long.
    static CString GetText(HWND hWnd);

    HWND m_hWnd = nullptr;
};
