// Long work on the COM tester page: the sheet keeps painting, the bar moves
// during a folder walk, and clicks made meanwhile are never acted on. Also
// servers that overflow their stack, pressed again and again.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/components/SelfRegistration.h"
#include "res/resource.h"
#include <gtest/gtest.h>

using namespace page_driver;

namespace {
const int COL_REGISTERED = 2;

// Counts the WM_PAINT messages the sheet window receives while 'inWork' is set.
struct SheetPaints {
    static inline WNDPROC s_pPrevious = nullptr;
    static inline bool s_bInWork = false;
    static inline int s_nPaints = 0;
    static LRESULT CALLBACK Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        if (msg == WM_PAINT && s_bInWork) ++s_nPaints;
        return CallWindowProcA(s_pPrevious, hWnd, msg, wParam, lParam);
    }
    explicit SheetPaints(HWND hSheet) : m_hSheet(hSheet)
    {
        s_nPaints = 0;
        s_pPrevious = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hSheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    }
    ~SheetPaints() { SetWindowLongPtrA(m_hSheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s_pPrevious)); }
    HWND m_hSheet;
};

// A mouse click on the button as the user makes it: queued, not sent.
void QueueClick(HWND hButton)
{
    RECT rc = {};
    GetClientRect(hButton, &rc);
    const LPARAM at = MAKELPARAM(rc.right / 2, rc.bottom / 2);
    PostMessageA(hButton, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(hButton, WM_LBUTTONUP, 0, at);
}

// Runs what is queued for the thread, as the sheet's loop would.
void RunQueued()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

struct DelayedPoke {
    HWND hSheet;
    HWND hButton;
};

// From another thread, once the server has been started: the sheet is
// invalidated and a click is queued while the page waits for the process.
DWORD WINAPI PokeDuringWait(void* pParam)
{
    const auto* pPoke = static_cast<DelayedPoke*>(pParam);
    Sleep(500);
    InvalidateRect(pPoke->hSheet, nullptr, TRUE);
    QueueClick(pPoke->hButton);
    return 0;
}

}

TEST(Responsiveness, SheetPaintsDuringAWalkAndAClickMadeMeanwhileIsDropped)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Tools\\System");
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 20; ++j) dir.MakeDir("Tools\\System\\F" + std::to_string(i) + "\\G" + std::to_string(j));
    CServerCopies servers(dir);
    servers.Add("ForgeSampleServer.dll", "Tools\\System\\F7\\KfBuild.dll");
    ASSERT_FALSE(IsProgIDRegistered("ForgeBuild.Builder.1"));

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        HWND hRegister = GetDlgItem(hPage, IDC_REGISTER_SELECTED);
        SetFolderBox(hPage, system);
        SelectRows(hList, {"KfBuild.dll"});
        const SheetPaints paints(hSheet);
        CProgressLog progress(GetDlgItem(hPage, IDC_PROGRESS));
        bool bPoked = false;
        progress.onPosition = [&](int) {
            if (bPoked) return;
            bPoked = true;
            InvalidateRect(hSheet, nullptr, TRUE);
            QueueClick(hRegister);
        };
        SheetPaints::s_bInWork = true;
        ClickButton(hPage, IDC_VERIFY_FILES);
        SheetPaints::s_bInWork = false;
        EXPECT_GT(SheetPaints::s_nPaints, 0) << "the sheet did not paint during the walk";
        // The bar moved while the tree was walked, before it counted the 95 rows.
        EXPECT_GT(progress.positions.size(), 96u);
        EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KfBuild.dll"), 3));

        RunQueued();
        EXPECT_FALSE(IsProgIDRegistered("ForgeBuild.Builder.1")) << "the click made during the walk registered";
        // The same click made while nothing is busy does register: the click is real.
        QueueClick(hRegister);
        RunQueued();
        EXPECT_TRUE(IsProgIDRegistered("ForgeBuild.Builder.1"));
        EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KfBuild.dll"), COL_REGISTERED));
    }, 1);
}

TEST(Responsiveness, SheetPaintsWhileAnExecutableServerRunsAndAClickMadeMeanwhileIsDropped)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Tools\\System");
    CServerCopies servers(dir);
    servers.Add("SlowSrv.exe", "Tools\\System\\KfBuildSrv.exe");
    ASSERT_FALSE(IsProgIDRegistered("ForgeBuild.Server.1"));

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        SelectRows(hList, {"KfBuildSrv.exe"});
        const SheetPaints paints(hSheet);
        DelayedPoke poke = {hSheet, GetDlgItem(hPage, IDC_UNREGISTER_SELECTED)};
        HANDLE hThread = nullptr;
        CProgressLog progress(GetDlgItem(hPage, IDC_PROGRESS));
        progress.onPosition = [&](int nPos) {
            if (nPos == 1 && !hThread) hThread = CreateThread(nullptr, 0, PokeDuringWait, &poke, 0, nullptr);
        };
        SheetPaints::s_bInWork = true;
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        SheetPaints::s_bInWork = false;
        ASSERT_NE(nullptr, hThread);
        WaitForSingleObject(hThread, INFINITE);
        CloseHandle(hThread);
        EXPECT_GT(SheetPaints::s_nPaints, 0) << "the sheet did not paint while the server ran";
        EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KfBuildSrv.exe"), COL_REGISTERED));

        // The Unregister click queued during the run must not unregister now.
        RunQueued();
        EXPECT_TRUE(IsProgIDRegistered("ForgeBuild.Server.1"));
        EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KfBuildSrv.exe"), COL_REGISTERED));
    }, 1);
}

TEST(Responsiveness, ServersOverflowingTheirStackAreSurvivedAgainAndAgain)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Tools\\System");
    CServerCopies servers(dir);
    servers.Add("SampleOverflowEntry.dll", "Tools\\System\\KfCore.dll");
    servers.Add("SampleOverflowMain.dll", "Tools\\System\\KfMedia.dll");
    servers.Add("SampleThrowEntry.dll", "Tools\\System\\KfScript.dll");
    servers.Add("ForgeSampleServer.dll", "Tools\\System\\KfBuild.dll");

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        for (int round = 0; round < 3; ++round) {
            SelectRows(hList, {"KfCore.dll", "KfMedia.dll", "KfScript.dll", "KfBuild.dll"});
            ClickButton(hPage, IDC_REGISTER_SELECTED);
            EXPECT_EQ("No", Cell(hList, FindRow(hList, "KfCore.dll"), COL_REGISTERED)) << round;
            EXPECT_EQ("No", Cell(hList, FindRow(hList, "KfMedia.dll"), COL_REGISTERED)) << round;
            EXPECT_EQ("No", Cell(hList, FindRow(hList, "KfScript.dll"), COL_REGISTERED)) << round;
            EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KfBuild.dll"), COL_REGISTERED)) << round;
            SelectRows(hList, {"KfBuild.dll"});
            ClickButton(hPage, IDC_UNREGISTER_SELECTED);
            EXPECT_EQ("No", Cell(hList, FindRow(hList, "KfBuild.dll"), COL_REGISTERED)) << round;
        }
    }, 1);
}
