#pragma once
#include <windows.h>

// Keeps the thread's windows painted while the thread is busy with long work
// (a folder walk, a wait for another process): paint messages only, never
// input, so nothing the user does meanwhile starts a second command.
class CPaintPump {
public:
    // Dispatches the paint messages waiting for the thread's windows.
    static void DispatchPaints();
    // Counts one step of the work; every STEPS steps, or when INTERVAL_MS have
    // passed, it dispatches the waiting paints and answers true, so that the
    // caller can move its progress bar at the same pace.
    bool Step();

private:
    static constexpr int STEPS = 128;
    static constexpr DWORD INTERVAL_MS = 100;
    int m_nSteps = 0;
    DWORD m_dwLast = GetTickCount();
};
