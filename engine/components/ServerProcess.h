#pragma once
#include "engine/components/WorkProgress.h"
#include <string>

// How one run of a program the utility started went.
struct ProcessRun {
    bool bStarted = false;
    DWORD dwStartError = 0;       // why it could not be started
    bool bEnded = false;          // it ended by itself, with dwExitCode
    DWORD dwExitCode = 0;
    bool bStopped = false;        // it was ended: at the user's request ...
    bool bTimedOut = false;       // ... or at the time limit
    DWORD dwElapsedMs = 0;
    std::string output;           // its standard output, when asked for
};

// Starts the program hidden, with the arguments, in strFolder, and waits
// until it ends. Every process it starts belongs to one job: when the time
// limit passes, or progress asks to stop, the program and all it started are
// ended. While it waits, progress hears what it waits for every tenth of a
// second. bCaptureOutput: its standard output is kept (up to 64 KB).
ProcessRun RunHidden(const CString& strProgram, const CString& strArguments, const CString& strFolder,
                     const CString& strWaitingFor, DWORD dwTimeLimitMs, CWorkProgress& progress,
                     bool bCaptureOutput = false);
