// The application's message filter keeps windows painted during a COM wait.
#include "ui/SupportMessageFilter.h"
#include <gtest/gtest.h>

namespace {
int s_paints = 0;

LRESULT CALLBACK CountingProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PAINT) {
        ++s_paints;
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

HWND MakeWindow()
{
    static ATOM atom = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &CountingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ForgePaintCounter";
        return RegisterClassA(&wc);
    }();
    (void)atom;
    return CreateWindowA("ForgePaintCounter", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                         nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void DrainQueue()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}
}

TEST(MessageFilter, DispatchesEveryQueuedPaintAndClaimsOnlyPaintMessages)
{
    HWND hFirst = MakeWindow();
    HWND hSecond = MakeWindow();
    DrainQueue();
    s_paints = 0;

    InvalidateRect(hFirst, nullptr, TRUE);
    InvalidateRect(hSecond, nullptr, TRUE);
    PostMessageA(hFirst, WM_USER, 0, 0);   // not a paint message: stays queued

    CSupportMessageFilter filter;
    MSG pending = {hFirst, WM_PAINT, 0, 0, 0, {0, 0}};
    EXPECT_TRUE(filter.OnMessagePending(&pending));
    EXPECT_EQ(2, s_paints);

    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
    EXPECT_TRUE(PeekMessageA(&msg, hFirst, WM_USER, WM_USER, PM_REMOVE));

    InvalidateRect(hSecond, nullptr, TRUE);
    MSG timer = {hSecond, WM_TIMER, 1, 0, 0, {0, 0}};
    EXPECT_FALSE(filter.OnMessagePending(&timer));
    EXPECT_EQ(3, s_paints);

    DestroyWindow(hFirst);
    DestroyWindow(hSecond);
}
