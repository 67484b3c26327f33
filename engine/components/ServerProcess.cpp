#include "engine/components/ServerProcess.h"
#include "framework/CHandle.h"
#include <vector>

namespace {
constexpr DWORD SLICE_MS = 100;
constexpr size_t MAX_OUTPUT_BYTES = 64 * 1024;

// Takes what the pipe holds without waiting for more.
void Drain(HANDLE hRead, std::string& output)
{
    DWORD nAvailable = 0;
    while (hRead && PeekNamedPipe(hRead, nullptr, 0, nullptr, &nAvailable, nullptr) && nAvailable > 0) {
        char buffer[4096];
        DWORD nRead = 0;
        if (!ReadFile(hRead, buffer, sizeof buffer < nAvailable ? sizeof buffer : nAvailable, &nRead, nullptr) || nRead == 0)
            return;
        if (output.size() < MAX_OUTPUT_BYTES) output.append(buffer, nRead < MAX_OUTPUT_BYTES - output.size() ? nRead : MAX_OUTPUT_BYTES - output.size());
    }
}
}

ProcessRun RunHidden(const CString& strProgram, const CString& strArguments, const CString& strFolder,
                     const CString& strWaitingFor, DWORD dwTimeLimitMs, CWorkProgress& progress, bool bCaptureOutput)
{
    ProcessRun run;
    HANDLE hRead = nullptr, hWrite = nullptr;
    if (bCaptureOutput) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(&hRead, &hWrite, &inherit, 64 * 1024)) {
            run.dwStartError = GetLastError();
            return run;
        }
        SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    }
    const CHandle readEnd(hRead), writeEnd(hWrite);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (bCaptureOutput) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdOutput = hWrite;
        startup.hStdError = hWrite;
    }
    std::wstring commandLine = L"\"" + strProgram.ToWide() + L"\"";
    if (!strArguments.IsEmpty()) commandLine += L" " + strArguments.ToWide();
    const std::wstring program = strProgram.ToWide(), folder = strFolder.ToWide();
    PROCESS_INFORMATION info = {};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, bCaptureOutput, CREATE_SUSPENDED, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        run.dwStartError = GetLastError();
        return run;
    }
    const CHandle process(info.hProcess), thread(info.hThread);
    // A job for the program and everything it starts, with no limits of its
    // own: a server that ended normally leaves what it started alone.
    const CHandle job(CreateJobObjectW(nullptr, nullptr));
    // A process already in a job that forbids nesting stays outside ours:
    // then stopping ends the program alone.
    const bool bInJob = job.IsValid() && AssignProcessToJobObject(job.Get(), process.Get());
    ResumeThread(thread.Get());
    run.bStarted = true;

    const DWORD dwStart = GetTickCount();
    for (;;) {
        // Messages sent to the thread's windows meanwhile (a server's
        // broadcast, say) are answered, so that the server is not kept
        // waiting for this thread.
        HANDLE hProcess = process.Get();
        const DWORD dwWait = MsgWaitForMultipleObjects(1, &hProcess, FALSE, SLICE_MS, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        Drain(hRead, run.output);
        run.dwElapsedMs = GetTickCount() - dwStart;
        if (dwWait == WAIT_OBJECT_0) {
            run.bEnded = GetExitCodeProcess(process.Get(), &run.dwExitCode) != FALSE;
            break;
        }
        if (dwWait == WAIT_FAILED) break;
        progress.OnWaiting(strWaitingFor, run.dwElapsedMs);
        const bool bStop = progress.IsStopRequested();
        if (bStop || run.dwElapsedMs >= dwTimeLimitMs) {
            run.bStopped = true;
            run.bTimedOut = !bStop;
            if (bInJob) TerminateJobObject(job.Get(), ERROR_CANCELLED);
            else TerminateProcess(process.Get(), ERROR_CANCELLED);
            WaitForSingleObject(process.Get(), 5000);
            break;
        }
    }
    Drain(hRead, run.output);
    return run;
}
