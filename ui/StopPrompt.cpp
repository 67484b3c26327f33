#include "ui/StopPrompt.h"
#include "framework/CPaintPump.h"
#include "res/resource.h"

namespace {
// Looking at the input costs a few system calls: a folder walk asks far more
// often than anyone can press a key.
constexpr DWORD LOOK_EVERY_MS = 50;
thread_local CStopPrompt* t_pCurrent = nullptr;
}

CStopPrompt::CStopPrompt(HWND hOwner) : CDialog(IDD_STOP_PROMPT), m_hOwner(hOwner), m_pPrevious(t_pCurrent)
{
    t_pCurrent = this;
}

CStopPrompt::~CStopPrompt()
{
    t_pCurrent = m_pPrevious;
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

CStopPrompt* CStopPrompt::Current()
{
    return t_pCurrent;
}

void CStopPrompt::OnCurrentWaiting(const CString& strFile)
{
    CPaintPump::DispatchPaints();
    if (!t_pCurrent) return;
    const int nSlash = strFile.ReverseFind('\\');
    t_pCurrent->OnWaiting(strFile.Mid(nSlash + 1));
}

bool CStopPrompt::IsCurrentStopRequested()
{
    return t_pCurrent && t_pCurrent->IsStopRequested();
}

void CStopPrompt::ResetCurrentStop()
{
    if (t_pCurrent) t_pCurrent->ResetStop();
}

BOOL CStopPrompt::OnInitDialog()
{
    // Centred over the sheet, which stays where it is.
    RECT owner = {}, mine = {};
    ::GetWindowRect(m_hOwner, &owner);
    ::GetWindowRect(m_hWnd, &mine);
    const int cx = mine.right - mine.left, cy = mine.bottom - mine.top;
    ::SetWindowPos(m_hWnd, nullptr, owner.left + (owner.right - owner.left - cx) / 2,
                   owner.top + (owner.bottom - owner.top - cy) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return FALSE;
}

BOOL CStopPrompt::OnCommand(int nID, int nCode)
{
    if ((nID == IDC_STOP && nCode == BN_CLICKED) || nID == IDCANCEL) {
        m_bStop = true;
        return TRUE;
    }
    return FALSE;
}

void CStopPrompt::OnWaiting(const CString& strWhat)
{
    m_strWhat = strWhat;
}

bool CStopPrompt::IsOwnWindow(HWND hWnd) const
{
    return m_hWnd && hWnd && (hWnd == m_hWnd || ::IsChild(m_hWnd, hWnd));
}

void CStopPrompt::ShowWhenDue()
{
    const DWORD dwElapsed = GetTickCount() - m_dwStart;
    if (dwElapsed < SHOW_AFTER_MS) return;
    if (!m_bCreated) {
        m_bCreated = true;
        if (!Create(m_hOwner)) return;
        ::ShowWindow(m_hWnd, SW_SHOWNA);
    }
    if (!m_hWnd) return;
    CString strText;
    const unsigned long nSeconds = dwElapsed / 1000;
    if (m_strWhat.IsEmpty()) strText.Format(LoadResourceString(IDS_STOP_WORKING), nSeconds);
    else strText.Format(LoadResourceString(IDS_STOP_WAITING), m_strWhat.GetString(), nSeconds);
    if (GetDlgItemText(IDC_STOP_TEXT) != strText) SetDlgItemText(IDC_STOP_TEXT, strText);
}

bool CStopPrompt::IsStopRequested()
{
    const DWORD dwNow = GetTickCount();
    if (m_bStop || dwNow - m_dwLastLook < LOOK_EVERY_MS) return m_bStop;
    m_dwLastLook = dwNow;
    ShowWhenDue();
    MSG msg;
    // Keys: Esc anywhere stops; the window's own keys go to it; the rest is
    // dropped, as every input made while a command is busy is.
    while (PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
        if (IsOwnWindow(msg.hwnd) && IsDialogMessageA(m_hWnd, &msg)) continue;
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) m_bStop = true;
    }
    // The window and its button get their mouse and other messages; the
    // sheet's input stays queued for the command's end to drop.
    if (m_hWnd) {
        for (HWND hWnd : {m_hWnd, ::GetDlgItem(m_hWnd, IDC_STOP), ::GetDlgItem(m_hWnd, IDC_STOP_TEXT)}) {
            while (hWnd && PeekMessageA(&msg, hWnd, 0, 0, PM_REMOVE)) {
                if (!IsDialogMessageA(m_hWnd, &msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
        }
    }
    return m_bStop;
}
