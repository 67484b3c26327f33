// While "&Test Project" waits for a slow call into the local server, the
// application's message filter is installed and the sheet still gets painted.
#include "AutomationServer.h"
#include "ui/SupportMessageFilter.h"
#include "res/resource.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <cstdio>

namespace {
bool s_bInCall = false;
int s_nPaintsDuringCall = 0;
int s_nFilterCalls = 0;

// The application's filter, counting how often COM consults it.
class CCountingFilter : public CSupportMessageFilter {
public:
    BOOL OnMessagePending(const MSG* pMsg) override
    {
        ++s_nFilterCalls;
        return CSupportMessageFilter::OnMessagePending(pMsg);
    }
};

LRESULT CALLBACK CountPaints(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (msg == WM_PAINT && s_bInCall) ++s_nPaintsDuringCall;
    return DefSubclassProc(hWnd, msg, wParam, lParam);
}

// Tests one slow project with the sheet freshly invalidated, counting the
// paints the sheet received before the button's handler returned.
PageResult TestSlowProject(const std::string& path)
{
    s_nPaintsDuringCall = 0;
    s_nFilterCalls = 0;
    return RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>&) {
        HWND hSheet = GetParent(hPage);
        SetWindowSubclass(hSheet, &CountPaints, 1, 0);
        SetDlgItemTextA(hPage, IDC_PROJECT_PATH, path.c_str());
        UpdateWindow(hSheet);
        InvalidateRect(hSheet, nullptr, TRUE);
        s_bInCall = true;
        ClickButton(hPage, IDC_TEST_PROJECT);
        s_bInCall = false;
        RemoveWindowSubclass(hSheet, &CountPaints, 1);
    });
}

const char SLOW_PROJECT[] = "type 3\nfeature Remote\nslow get_Type 1500\n";
}

TEST(MessageFilter, SheetIsPaintedWhileASlowLocalServerCallWaits)
{
    CLocalServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CCountingFilter filter;
    ASSERT_TRUE(filter.Register());
    CTempDir dir;
    const PageResult result = TestSlowProject(dir.MakeFile("slow.kvp", SLOW_PROJECT));
    filter.Revoke();

    EXPECT_EQ("Swift Project #0 +\n  Remote #1\n", result.tree);
    EXPECT_TRUE(result.errors.empty());
    EXPECT_GT(s_nPaintsDuringCall, 0);
    // Reported, not asserted: whether this COM consults IMessageFilter::MessagePending.
    std::printf("IMessageFilter::MessagePending calls during the slow call: %d\n", s_nFilterCalls);
    RecordProperty("MessagePendingCalls", s_nFilterCalls);
}

TEST(MessageFilter, AnInProcessCallDoesNotPaintMeanwhile)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CTempDir dir;
    const PageResult result = TestSlowProject(dir.MakeFile("slow.kvp", "type 3\nfeature Remote\nslow get_Type 300\n"));
    EXPECT_EQ("Swift Project #0 +\n  Remote #1\n", result.tree);
    EXPECT_EQ(0, s_nPaintsDuringCall);
}
