#include "ui/WakeTicker.h"

namespace {
constexpr DWORD TICK_MS = 100;
}

CWakeTicker::CWakeTicker()
{
    const DWORD dwThread = GetCurrentThreadId();
    m_thread = std::thread([this, dwThread] {
        while (m_bRunning) {
            // WM_NULL to the thread: nothing handles it, it only wakes.
            PostThreadMessageA(dwThread, WM_NULL, 0, 0);
            Sleep(TICK_MS);
        }
    });
}

CWakeTicker::~CWakeTicker()
{
    m_bRunning = false;
    m_thread.join();
}
