#include "engine/components/ServerHost.h"
#include "engine/components/ClassActivation.h"
#include "engine/components/ServerProcess.h"
#include "engine/components/Sibling.h"
#include "framework/CHandle.h"
#include <ole2.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr DWORD SLICE_MS = 100;
// An answer is one short line; anything longer is no answer.
constexpr size_t MAX_LINE_BYTES = 16 * 1024;
// How long a helper whose answers' pipe broke is given to be gone.
constexpr DWORD GONE_MS = 5000;

const char REGISTER[] = "register ";
const char UNREGISTER[] = "unregister ";

bool WriteAll(HANDLE hFile, const std::string& bytes)
{
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        DWORD nWritten = 0;
        if (!WriteFile(hFile, bytes.data() + nDone, static_cast<DWORD>(bytes.size() - nDone), &nWritten, nullptr) || !nWritten)
            return false;
        nDone += nWritten;
    }
    return true;
}

// A name no other pipe has: this process, a count and the clock.
std::wstring UniquePipeName()
{
    static std::atomic<unsigned> s_nCount{0};
    wchar_t szName[96];
    std::swprintf(szName, 96, L"\\\\.\\pipe\\ForgeSupport-%lu-%u-%lu", GetCurrentProcessId(), ++s_nCount, GetTickCount());
    return szName;
}

// What came back from one request.
struct HostReply {
    enum Kind { ANSWERED, ENDED, STOPPED, GARBLED } nKind = ENDED;
    std::string line;        // ANSWERED: the answer, without its line end
    DWORD dwExitCode = 0;    // ENDED: the helper's
    bool bTimedOut = false;  // STOPPED: at the time limit, else at the user's request
};
}

// One helper process, its requests' pipe and its answers' pipe. The answers
// are read overlapped, so that the wait is for the answer or the helper's
// end, whichever comes first, and the clock is looked at between slices.
class CServerHost {
public:
    CServerHost() = default;
    ~CServerHost();
    CServerHost(const CServerHost&) = delete;
    CServerHost& operator=(const CServerHost&) = delete;

    DWORD Start(const CString& strProgram);
    bool HasEnded() const { return m_process.HasEnded(); }
    HostReply Ask(const std::string& strRequest, const CString& strWaitingFor, DWORD dwTimeLimitMs, CWorkProgress& progress);

private:
    bool BeginRead();
    DWORD GoneExitCode();

    CHiddenProcess m_process;
    HANDLE m_hRequests = nullptr;    // ours to write
    HANDLE m_hAnswers = nullptr;     // ours to read, overlapped
    HANDLE m_hEvent = nullptr;
    OVERLAPPED m_overlapped = {};
    bool m_bReading = false;
    char m_buffer[4096];
    std::string m_pending;   // what came after the last line answered
};

DWORD CServerHost::Start(const CString& strProgram)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE hRequestsIn = nullptr;
    if (!CreatePipe(&hRequestsIn, &m_hRequests, &inheritable, 0)) return GetLastError();
    SetHandleInformation(m_hRequests, HANDLE_FLAG_INHERIT, 0);
    const CHandle requestsIn(hRequestsIn);

    // One instance, connected at once by our own client end: no other
    // process can take its place.
    const std::wstring strName = UniquePipeName();
    m_hAnswers = CreateNamedPipeW(strName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
                                  sizeof m_buffer, 0, nullptr);
    if (m_hAnswers == INVALID_HANDLE_VALUE) {
        m_hAnswers = nullptr;
        return GetLastError();
    }
    const CHandle answersOut(CreateFileW(strName.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!answersOut.IsValid()) return GetLastError();
    m_hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_hEvent) return GetLastError();
    m_overlapped.hEvent = m_hEvent;

    CString strArguments;
    strArguments.Format("/host %llu %llu", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(requestsIn.Get())),
                        static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(answersOut.Get())));
    const int nSlash = strProgram.ReverseFind('\\');
    return m_process.Start(strProgram, strArguments, nSlash < 0 ? CString() : strProgram.Left(nSlash),
                           {requestsIn.Get(), answersOut.Get()});
}

CServerHost::~CServerHost()
{
    // Between requests the helper is idle: ending it loses nothing, and
    // whatever its servers started ends with it.
    m_process.End();
    if (m_bReading) {
        CancelIoEx(m_hAnswers, &m_overlapped);
        if (WaitForSingleObject(m_hEvent, GONE_MS) == WAIT_OBJECT_0) m_bReading = false;
    }
    if (m_hRequests) CloseHandle(m_hRequests);
    // A read that never completed keeps its buffer: the object is left behind
    // rather than freed under it.
    if (m_bReading) return;
    if (m_hAnswers) CloseHandle(m_hAnswers);
    if (m_hEvent) CloseHandle(m_hEvent);
}

bool CServerHost::BeginRead()
{
    ResetEvent(m_hEvent);
    if (!ReadFile(m_hAnswers, m_buffer, sizeof m_buffer, nullptr, &m_overlapped) && GetLastError() != ERROR_IO_PENDING)
        return false;
    m_bReading = true;
    return true;
}

// The helper's exit code once its answers' pipe has broken: it is ending,
// or it closed the pipe and is ended here.
DWORD CServerHost::GoneExitCode()
{
    if (WaitForSingleObject(m_process.Process(), GONE_MS) != WAIT_OBJECT_0) m_process.End();
    DWORD dwExitCode = 0;
    GetExitCodeProcess(m_process.Process(), &dwExitCode);
    return dwExitCode;
}

HostReply CServerHost::Ask(const std::string& strRequest, const CString& strWaitingFor, DWORD dwTimeLimitMs,
                           CWorkProgress& progress)
{
    HostReply reply;
    if (!WriteAll(m_hRequests, strRequest)) {
        reply.dwExitCode = GoneExitCode();
        return reply;
    }
    // A request may be answered with several lines: the next is served
    // from what was read with the last before the pipe is read again.
    std::string received = std::move(m_pending);
    m_pending.clear();
    const DWORD dwStart = GetTickCount();
    for (;;) {
        const size_t nLineEnd = received.find('\n');
        if (nLineEnd != std::string::npos) {
            reply.nKind = HostReply::ANSWERED;
            reply.line = received.substr(0, nLineEnd);
            m_pending = received.substr(nLineEnd + 1);
            return reply;
        }
        if (!m_bReading && !BeginRead()) {
            reply.dwExitCode = GoneExitCode();
            return reply;
        }
        const HANDLE handles[2] = {m_hEvent, m_process.Process()};
        DWORD dwWait = WaitAnswering(2, handles, SLICE_MS);
        // An answer written just before the helper ended is still in the
        // pipe: the read completes with it, or with the broken pipe.
        if (dwWait == WAIT_OBJECT_0 + 1) {
            if (WaitForSingleObject(m_hEvent, GONE_MS) != WAIT_OBJECT_0) {
                reply.dwExitCode = GoneExitCode();
                return reply;
            }
            dwWait = WAIT_OBJECT_0;
        }
        if (dwWait == WAIT_OBJECT_0) {
            DWORD nRead = 0;
            const BOOL bRead = GetOverlappedResult(m_hAnswers, &m_overlapped, &nRead, FALSE);
            m_bReading = false;
            if (!bRead) {
                reply.dwExitCode = GoneExitCode();
                return reply;
            }
            received.append(m_buffer, nRead);
            if (received.find('\n') != std::string::npos) continue;
        }
        if (dwWait == WAIT_FAILED || received.size() > MAX_LINE_BYTES) {
            reply.nKind = HostReply::GARBLED;
            m_process.End();
            return reply;
        }
        const DWORD dwElapsed = GetTickCount() - dwStart;
        progress.OnWaiting(strWaitingFor, dwElapsed);
        const bool bStop = progress.IsStopRequested();
        if (bStop || dwElapsed >= dwTimeLimitMs) {
            reply.nKind = HostReply::STOPPED;
            reply.bTimedOut = !bStop;
            m_process.End();
            return reply;
        }
    }
}

CServerHosts::CServerHosts() = default;

CServerHosts::~CServerHosts() = default;

bool CServerHosts::Run(const CString& strProgram, const CString& strPath, bool bRegister, const RunOptions& options,
                       RegistrationResult& result)
{
    result.strProgram = strProgram;
    DWORD dwError = ERROR_SUCCESS;
    CServerHost* const pStarted = HostFor(strProgram, dwError);
    if (!pStarted) {
        result.hr = HRESULT_FROM_WIN32(dwError);
        return false;
    }
    std::unique_ptr<CServerHost>& pHost = m_hosts[strProgram.Str()];
    CWorkProgress noProgress;
    const HostReply reply = pHost->Ask(std::string(bRegister ? REGISTER : UNREGISTER) + strPath.Str() + "\n", strPath,
                                       options.dwTimeLimitMs, options.pProgress ? *options.pProgress : noProgress);
    bool bResult = false;
    if (reply.nKind == HostReply::ANSWERED && ParseRegistrationLine(reply.line, result, bResult)) {
        result.bRegister = bRegister;
        return bResult;
    }
    // Whatever went wrong, this helper serves no other server.
    pHost.reset();
    result.bRegister = bRegister;
    switch (reply.nKind) {
    case HostReply::STOPPED:
        // The helper and the server in it were ended: as an executable
        // server's run that did not end.
        result.nStage = STAGE_STARTED;
        result.bStopped = true;
        result.bTimedOut = reply.bTimedOut;
        result.hr = HRESULT_FROM_WIN32(reply.bTimedOut ? ERROR_TIMEOUT : ERROR_CANCELLED);
        break;
    case HostReply::ENDED:
        result.nStage = STAGE_STARTED;
        result.bHostEnded = true;
        result.dwExitCode = reply.dwExitCode;
        result.hr = HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED);
        break;
    default:
        result.nStage = STAGE_NONE;
        result.hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        break;
    }
    return false;
}

CServerHost* CServerHosts::HostFor(const CString& strProgram, DWORD& dwError)
{
    std::unique_ptr<CServerHost>& pHost = m_hosts[strProgram.Str()];
    if (pHost && pHost->HasEnded()) pHost.reset();
    if (!pHost) {
        auto pStarted = std::make_unique<CServerHost>();
        dwError = pStarted->Start(strProgram);
        if (dwError != ERROR_SUCCESS) return nullptr;
        pHost = std::move(pStarted);
        ++m_nStarts;
    }
    return pHost.get();
}

void CServerHosts::Replace(const CString& strProgram)
{
    m_hosts.erase(strProgram.Str());
}

CServerHosts::Exchange CServerHosts::Converse(const CString& strProgram, const std::string& strRequest,
                                              const std::function<bool(const std::string&)>& onLine,
                                              const CString& strWaitingFor, DWORD dwTimeLimitMs, CWorkProgress& progress)
{
    Exchange exchange;
    CServerHost* const pHost = HostFor(strProgram, exchange.dwCode);
    if (!pHost) {
        exchange.nKind = Exchange::NOT_STARTED;
        return exchange;
    }
    const DWORD dwStart = GetTickCount();
    std::string strNext = strRequest;
    for (;;) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        const HostReply reply = pHost->Ask(strNext, strWaitingFor, dwElapsed < dwTimeLimitMs ? dwTimeLimitMs - dwElapsed : 0, progress);
        strNext.clear();
        if (reply.nKind == HostReply::ANSWERED) {
            if (!onLine(reply.line)) return exchange;
            continue;
        }
        exchange.nKind = reply.nKind == HostReply::STOPPED ? Exchange::STOPPED
                         : reply.nKind == HostReply::ENDED ? Exchange::ENDED
                                                           : Exchange::GARBLED;
        exchange.dwCode = reply.dwExitCode;
        exchange.bTimedOut = reply.bTimedOut;
        Replace(strProgram);
        return exchange;
    }
}

namespace {
// Reads the next request line into strLine; false at the end of the pipe
// or on a line no request can be.
bool ReadRequest(HANDLE hRequests, std::string& pending, std::string& strLine)
{
    for (;;) {
        const size_t nEnd = pending.find('\n');
        if (nEnd != std::string::npos) {
            strLine = pending.substr(0, nEnd);
            pending.erase(0, nEnd + 1);
            return true;
        }
        if (pending.size() > MAX_LINE_BYTES) return false;
        char buffer[4096];
        DWORD nRead = 0;
        if (!ReadFile(hRequests, buffer, sizeof buffer, &nRead, nullptr) || nRead == 0) return false;
        pending.append(buffer, nRead);
    }
}
}

int ServeRegistrations(HANDLE hRequests, HANDLE hAnswers)
{
    if (GetFileType(hRequests) != FILE_TYPE_PIPE || GetFileType(hAnswers) != FILE_TYPE_PIPE) return 2;
    // No crash dialog stalls a press: a fault the guard cannot catch ends
    // this process, and the utility says so. (Wine does not pass the mode on
    // to a child as Windows does.)
    SetErrorMode(CQuietErrorMode::QUIET_ERROR_MODE);
    // Whatever the servers start inherits neither pipe.
    SetHandleInformation(hRequests, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(hAnswers, HANDLE_FLAG_INHERIT, 0);
    // As regsvr32 does: servers that create COM objects while registering
    // (a registrar, the component categories) need COM in their thread.
    const HRESULT hrOle = OleInitialize(nullptr);
    RunOptions options;
    options.bInThisProcess = true;
    options.asSystem = false;   // the utility has judged the path already
    std::string pending, strLine;
    while (ReadRequest(hRequests, pending, strLine)) {
        if (IsActivationRequest(strLine)) {
            if (!ServeActivation(strLine, hAnswers)) break;
            continue;
        }
        const bool bRegister = strLine.compare(0, sizeof REGISTER - 1, REGISTER) == 0;
        if (!bRegister && strLine.compare(0, sizeof UNREGISTER - 1, UNREGISTER) != 0) break;
        const CString strPath(strLine.substr(bRegister ? sizeof REGISTER - 1 : sizeof UNREGISTER - 1));
        RegistrationResult result;
        const bool bResult = RegisterServerFile(strPath, bRegister, &result, options);
        if (!WriteAll(hAnswers, FormatRegistrationLine(result, bResult) + "\n")) break;
    }
    if (SUCCEEDED(hrOle)) OleUninitialize();
    return 0;
}
