#include "engine/components/ServerProcess.h"
#include "framework/CHandle.h"
#include <algorithm>

namespace {
constexpr DWORD SLICE_MS = 100;
constexpr DWORD SLICE_BYTES = 64 * 1024;
constexpr size_t MAX_OUTPUT_BYTES = 64 * 1024;
// What is left in the pipe once the program has ended is read for so many
// slices at most: whatever it started may still be writing.
constexpr int FINAL_SLICES = 16;

// The attribute list that names the handles a child inherits, deleted on
// every path.
class CInheritList {
public:
    explicit CInheritList(std::vector<HANDLE> handles) : m_handles(std::move(handles))
    {
        SIZE_T nSize = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &nSize);
        m_bytes.resize(nSize);
        m_pList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_bytes.data());
        if (!InitializeProcThreadAttributeList(m_pList, 1, 0, &nSize)) {
            m_pList = nullptr;
            return;
        }
        if (!UpdateProcThreadAttribute(m_pList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_handles.data(),
                                       m_handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(m_pList);
            m_pList = nullptr;
        }
    }
    ~CInheritList() { if (m_pList) DeleteProcThreadAttributeList(m_pList); }
    CInheritList(const CInheritList&) = delete;
    CInheritList& operator=(const CInheritList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return m_pList; }

private:
    std::vector<HANDLE> m_handles;   // the list points into it
    std::vector<BYTE> m_bytes;
    LPPROC_THREAD_ATTRIBUTE_LIST m_pList = nullptr;
};

// Reads one slice of what the pipe holds, never waiting for more; keeps
// what fits in output and drops the rest. False when there was nothing.
bool ReadSlice(HANDLE hRead, std::string& output)
{
    DWORD nAvailable = 0;
    if (!hRead || !PeekNamedPipe(hRead, nullptr, 0, nullptr, &nAvailable, nullptr) || nAvailable == 0) return false;
    std::string slice(std::min(nAvailable, SLICE_BYTES), '\0');
    DWORD nRead = 0;
    if (!ReadFile(hRead, slice.data(), static_cast<DWORD>(slice.size()), &nRead, nullptr) || nRead == 0) return false;
    const size_t nKeep = std::min<size_t>(nRead, MAX_OUTPUT_BYTES - std::min(MAX_OUTPUT_BYTES, output.size()));
    output.append(slice, 0, nKeep);
    return true;
}
}

CHiddenProcess::~CHiddenProcess()
{
    if (m_hProcess) CloseHandle(m_hProcess);
    if (m_hJob) CloseHandle(m_hJob);
}

DWORD CHiddenProcess::Start(const CString& strProgram, const CString& strArguments, const CString& strFolder,
                            const std::vector<HANDLE>& inherit, HANDLE hOutput)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const CHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                  OPEN_EXISTING, 0, nullptr));
    if (!nul.IsValid()) return GetLastError();
    // The list is exact: without it the child would inherit every
    // inheritable handle of ours, a management tool's output pipe among them.
    std::vector<HANDLE> handles = inherit;
    handles.push_back(nul.Get());
    if (hOutput && std::find(handles.begin(), handles.end(), hOutput) == handles.end()) handles.push_back(hOutput);
    const CInheritList list(handles);
    if (!list.Get()) return GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER;

    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = nul.Get();
    startup.StartupInfo.hStdOutput = hOutput ? hOutput : nul.Get();
    startup.StartupInfo.hStdError = startup.StartupInfo.hStdOutput;
    startup.lpAttributeList = list.Get();
    std::wstring commandLine = L"\"" + strProgram.ToWide() + L"\"";
    if (!strArguments.IsEmpty()) commandLine += L" " + strArguments.ToWide();
    const std::wstring program = strProgram.ToWide(), folder = strFolder.ToWide();
    PROCESS_INFORMATION info = {};
    DWORD dwError = ERROR_SUCCESS;
    {
        // Suspended until it is in the job, so that nothing it starts escapes.
        const CQuietErrorMode quiet;
        if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                            CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &info))
            dwError = GetLastError();
    }
    if (dwError != ERROR_SUCCESS) return dwError;
    m_hProcess = info.hProcess;
    m_hJob = CreateJobObjectW(nullptr, nullptr);
    if (m_hJob) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
        SetInformationJobObject(m_hJob, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    // A process already in a job that forbids nesting stays outside ours:
    // then ending it ends the program alone.
    m_bInJob = m_hJob && AssignProcessToJobObject(m_hJob, m_hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    return ERROR_SUCCESS;
}

bool CHiddenProcess::HasEnded(DWORD* pdwExitCode) const
{
    if (!m_hProcess || WaitForSingleObject(m_hProcess, 0) != WAIT_OBJECT_0) return false;
    DWORD dwExitCode = 0;
    GetExitCodeProcess(m_hProcess, &dwExitCode);
    if (pdwExitCode) *pdwExitCode = dwExitCode;
    return true;
}

void CHiddenProcess::End()
{
    if (!m_hProcess) return;
    if (m_bInJob) TerminateJobObject(m_hJob, ERROR_CANCELLED);
    else TerminateProcess(m_hProcess, ERROR_CANCELLED);
    WaitForSingleObject(m_hProcess, 5000);
}

DWORD WaitAnswering(DWORD nCount, const HANDLE* pHandles, DWORD dwMs)
{
    const DWORD dwWait = MsgWaitForMultipleObjects(nCount, pHandles, FALSE, dwMs, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    return dwWait;
}

ProcessRun RunHidden(const CString& strProgram, const CString& strArguments, const CString& strFolder,
                     const CString& strWaitingFor, DWORD dwTimeLimitMs, CWorkProgress& progress, bool bCaptureOutput)
{
    ProcessRun run;
    HANDLE hRead = nullptr, hWrite = nullptr;
    if (bCaptureOutput) {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        if (!CreatePipe(&hRead, &hWrite, &inheritable, SLICE_BYTES)) {
            run.dwStartError = GetLastError();
            return run;
        }
        SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    }
    const CHandle readEnd(hRead);
    CHiddenProcess child;
    run.dwStartError = child.Start(strProgram, strArguments, strFolder, hWrite ? std::vector<HANDLE>{hWrite} : std::vector<HANDLE>{},
                                   hWrite);
    // Only the child holds the write end now: the pipe breaks when it ends.
    if (hWrite) CloseHandle(hWrite);
    if (run.dwStartError != ERROR_SUCCESS) return run;
    run.bStarted = true;

    const DWORD dwStart = GetTickCount();
    for (;;) {
        const HANDLE hProcess = child.Process();
        const DWORD dwWait = WaitAnswering(1, &hProcess, SLICE_MS);
        ReadSlice(hRead, run.output);
        run.dwElapsedMs = GetTickCount() - dwStart;
        if (child.HasEnded(&run.dwExitCode)) {
            run.bEnded = true;
            break;
        }
        if (dwWait == WAIT_FAILED) break;
        progress.OnWaiting(strWaitingFor, run.dwElapsedMs);
        const bool bStop = progress.IsStopRequested();
        if (bStop || run.dwElapsedMs >= dwTimeLimitMs) {
            run.bStopped = true;
            run.bTimedOut = !bStop;
            child.End();
            break;
        }
    }
    for (int nSlice = 0; nSlice < FINAL_SLICES && ReadSlice(hRead, run.output); ++nSlice) {}
    return run;
}
