#pragma once
#include "framework/CDialog.h"

// The way to stop a long command: Esc at any time, and, once the command has
// taken a few seconds, a small window over the sheet that says what is
// waited for and has a Stop button. One lives for one command; the page asks
// it between steps and while the command waits. Input meant for the sheet
// meanwhile is dropped, as it is for any busy command.
class CStopPrompt : public CDialog {
public:
    // The window shows this long after the command began.
    static constexpr DWORD SHOW_AFTER_MS = 2000;

    explicit CStopPrompt(HWND hOwner);
    ~CStopPrompt() override;
    CStopPrompt(const CStopPrompt&) = delete;
    CStopPrompt& operator=(const CStopPrompt&) = delete;

    // What the command waits for now (a server's file; empty: its own work).
    void OnWaiting(const CString& strWhat);
    // Takes the input that arrived since last asked: Esc anywhere in the
    // thread, a click or key on the window. True once a stop was asked for.
    bool IsStopRequested();
    // The stop asked for has been acted on.
    void ResetStop() { m_bStop = false; }
    // The prompt of the command running on this thread; null between commands.
    static CStopPrompt* Current();
    // What a command's progress passes on to that prompt, when there is one:
    // the file waited for, by its name, with the sheet painted meanwhile;
    // whether a stop was asked for; that it was acted on.
    static void OnCurrentWaiting(const CString& strFile);
    static bool IsCurrentStopRequested();
    static void ResetCurrentStop();

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int nID, int nCode) override;

private:
    void ShowWhenDue();
    bool IsOwnWindow(HWND hWnd) const;

    HWND m_hOwner;
    DWORD m_dwStart = GetTickCount();
    CString m_strWhat;
    bool m_bStop = false;
    bool m_bCreated = false;
    DWORD m_dwLastLook = 0;
    CStopPrompt* m_pPrevious;
};
