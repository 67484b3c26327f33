#pragma once
#include "engine/components/WorkProgress.h"
#include <string>
#include <vector>

// A program the utility started: hidden, with no console, its standard
// input, output and error the NUL device unless told otherwise, inheriting
// only the handles it is given, with no crash dialog, and in a job of its
// own that ends it and everything it started when the job is closed.
class CHiddenProcess {
public:
    CHiddenProcess() = default;
    // Closing the job (kill on close) ends whatever is left of it.
    ~CHiddenProcess();
    CHiddenProcess(const CHiddenProcess&) = delete;
    CHiddenProcess& operator=(const CHiddenProcess&) = delete;

    // Starts "strProgram" strArguments in strFolder (empty: ours). The
    // handles in inherit (each inheritable) are the only ones it inherits;
    // hOutput, when given, is its standard output and error. ERROR_SUCCESS
    // or the system's error.
    DWORD Start(const CString& strProgram, const CString& strArguments, const CString& strFolder,
                const std::vector<HANDLE>& inherit = {}, HANDLE hOutput = nullptr);
    HANDLE Process() const { return m_hProcess; }
    // True once it has ended, with its exit code.
    bool HasEnded(DWORD* pdwExitCode = nullptr) const;
    // Ends it and everything it started, and waits a few seconds at most
    // for it to be gone.
    void End();

private:
    HANDLE m_hProcess = nullptr;
    HANDLE m_hJob = nullptr;
    bool m_bInJob = false;
};

// While it lives, the system shows no error box for this process (a missing
// DLL, a drive not ready, a crash): the call fails, or the process ends,
// instead. A process started meanwhile inherits the mode.
class CQuietErrorMode {
public:
    CQuietErrorMode() : m_uPrevious(SetErrorMode(QUIET_ERROR_MODE)) {}
    ~CQuietErrorMode() { SetErrorMode(m_uPrevious); }
    CQuietErrorMode(const CQuietErrorMode&) = delete;
    CQuietErrorMode& operator=(const CQuietErrorMode&) = delete;
    static constexpr UINT QUIET_ERROR_MODE = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
private:
    UINT m_uPrevious;
};

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

// Starts the program as a CHiddenProcess, with the arguments, in strFolder,
// and waits until it ends. When the time limit passes, or progress asks to
// stop, the program and all it started are ended. While it waits, progress
// hears what it waits for every tenth of a second. bCaptureOutput: its
// standard output and error are kept (up to 64 KB, the rest read and
// dropped), read a bounded slice at a time.
ProcessRun RunHidden(const CString& strProgram, const CString& strArguments, const CString& strFolder,
                     const CString& strWaitingFor, DWORD dwTimeLimitMs, CWorkProgress& progress,
                     bool bCaptureOutput = false);

// Waits up to dwMs for the handles (any of them), answering the messages
// sent to this thread's windows meanwhile (a server's broadcast), so that
// no other program is kept waiting for this thread. As WaitForMultipleObjects.
DWORD WaitAnswering(DWORD nCount, const HANDLE* pHandles, DWORD dwMs);
