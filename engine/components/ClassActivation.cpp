#include "engine/components/ClassActivation.h"
#include "engine/components/ServerHost.h"
#include "engine/components/ServerProcess.h"
#include "engine/components/Sibling.h"
#include "engine/components/Verification.h"
#include "engine/diagnosis/Diagnosis.h"
#include "engine/diagnosis/DiagnosisText.h"
#include "system/FaultGuard.h"
#include "system/Paths.h"
#include "system/Registry.h"
#include "framework/CHandle.h"
#include "framework/CRegKey.h"
#include "res/resource.h"
#include <ole2.h>
#include <tlhelp32.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {
const char CREATE[] = "create\t";
const char STAGE_NOTE[] = "stage ";
const char ANSWER[] = "created ";
// How long a local server is given to end by itself once released.
constexpr DWORD SERVER_GRACE_MS = 1000;

double MillisecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart ? 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) : 0;
}

bool WriteAll(HANDLE hFile, const std::string& bytes)
{
    DWORD nWritten = 0;
    return WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &nWritten, nullptr) && nWritten == bytes.size();
}

// ---- The helper's side ------------------------------------------------

// One class to create, and how far it got. Filled by the creating thread
// while the helper's main thread waits for it.
struct CreationJob {
    std::wstring progID;
    std::wstring path;
    bool bLocal = false;
    bool bMta = false;
    bool bDispatch = false;
    HANDLE hAnswers = nullptr;

    ActivationStage nStage = ACTIVATION_NONE;
    HRESULT hr = S_OK;
    DWORD dwFaultCode = 0;
    CString strFaultModule;
    double dMilliseconds = 0;
    CLSID clsid = {};
    HMODULE hModule = nullptr;
    IClassFactory* pFactory = nullptr;
    IUnknown* pUnknown = nullptr;

    // The utility hears of each stage as it begins: a helper ended at the
    // time limit can no longer say where it was.
    void Enter(ActivationStage nNext)
    {
        nStage = nNext;
        WriteAll(hAnswers, STAGE_NOTE + std::to_string(static_cast<int>(nNext)) + "\n");
    }
};

HRESULT LastErrorResult()
{
    const DWORD dwError = GetLastError();
    return HRESULT_FROM_WIN32(dwError ? dwError : ERROR_GEN_FAILURE);
}

// What a local server's start answers when the class object, not the
// start, failed.
bool IsClassObjectFailure(HRESULT hr)
{
    return hr == CLASS_E_CLASSNOTAVAILABLE || hr == REGDB_E_CLASSNOTREG || hr == E_NOINTERFACE;
}

void RunStages(void* pContext)
{
    CreationJob& job = *static_cast<CreationJob*>(pContext);
    job.Enter(ACTIVATION_PROGID);
    job.hr = CLSIDFromProgID(job.progID.c_str(), &job.clsid);
    if (FAILED(job.hr)) return;
    job.Enter(ACTIVATION_LOAD);
    if (!job.bLocal) {
        // Loaded first on its own, so that a DLL that cannot load is told
        // apart from a class object that is refused; COM then finds it loaded.
        job.hModule = LoadLibraryExW(job.path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!job.hModule) {
            job.hr = LastErrorResult();
            return;
        }
        job.Enter(ACTIVATION_CLASS_OBJECT);
    }
    job.hr = CoGetClassObject(job.clsid, job.bLocal ? CLSCTX_LOCAL_SERVER : CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(&job.pFactory));
    if (FAILED(job.hr) && job.bLocal && IsClassObjectFailure(job.hr)) job.nStage = ACTIVATION_CLASS_OBJECT;
    if (SUCCEEDED(job.hr) && !job.pFactory) job.hr = E_POINTER;
    if (FAILED(job.hr)) return;
    job.Enter(ACTIVATION_CREATE);
    job.hr = job.pFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&job.pUnknown));
    if (SUCCEEDED(job.hr) && !job.pUnknown) job.hr = E_POINTER;
    if (FAILED(job.hr)) return;
    if (job.bDispatch) {
        job.Enter(ACTIVATION_DISPATCH);
        IDispatch* pDispatch = nullptr;
        job.hr = job.pUnknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch));
        if (SUCCEEDED(job.hr) && !pDispatch) job.hr = E_POINTER;
        if (FAILED(job.hr)) return;
        UINT nInfos = 0;
        job.hr = pDispatch->GetTypeInfoCount(&nInfos);
        if (SUCCEEDED(job.hr) && nInfos == 0) job.hr = TYPE_E_ELEMENTNOTFOUND;
        ITypeInfo* pInfo = nullptr;
        if (SUCCEEDED(job.hr)) job.hr = pDispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pInfo);
        if (SUCCEEDED(job.hr) && !pInfo) job.hr = E_POINTER;
        if (pInfo) pInfo->Release();
        pDispatch->Release();
        if (FAILED(job.hr)) return;
    }
    job.nStage = ACTIVATION_CREATED;
    job.hr = S_OK;
}

void ReleaseObjects(void* pContext)
{
    CreationJob& job = *static_cast<CreationJob*>(pContext);
    if (IUnknown* pUnknown = std::exchange(job.pUnknown, nullptr)) pUnknown->Release();
    if (IClassFactory* pFactory = std::exchange(job.pFactory, nullptr)) pFactory->Release();
}

void FreeServer(void* pContext)
{
    FreeLibrary(std::exchange(static_cast<CreationJob*>(pContext)->hModule, nullptr));
}

// Called at once after the guard caught something, while the module that
// faulted is still loaded.
void NoteFault(CreationJob& job, DWORD dwCode)
{
    if (!dwCode || job.dwFaultCode) return;
    job.dwFaultCode = dwCode;
    HMODULE hModule = nullptr;
    const void* pAddress = LastGuardedFaultAddress();
    if (pAddress && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                       static_cast<LPCSTR>(pAddress), &hModule))
        job.strFaultModule = ModuleFilePath(hModule);
}

// A thread of its own per class, so that the class meets the apartment its
// clients give it. After a fault nothing more is released or uninitialised:
// the apartment may be in any state, and the utility ends this helper.
DWORD WINAPI CreationThread(void* pContext)
{
    CreationJob& job = *static_cast<CreationJob*>(pContext);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const HRESULT hrInit = CoInitializeEx(nullptr, job.bMta ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    if (FAILED(hrInit)) {
        job.hr = hrInit;
        return 0;
    }
    NoteFault(job, CallFaultGuarded(RunStages, &job));
    job.dMilliseconds = MillisecondsSince(start);
    if (job.dwFaultCode) return 0;
    NoteFault(job, CallFaultGuarded(ReleaseObjects, &job));
    if (job.dwFaultCode) return 0;
    CoUninitialize();
    if (job.hModule) NoteFault(job, CallFaultGuarded(FreeServer, &job));
    return 0;
}

std::vector<std::string> SplitTabs(const std::string& strLine)
{
    std::vector<std::string> fields;
    size_t nStart = 0;
    for (size_t nTab; (nTab = strLine.find('\t', nStart)) != std::string::npos; nStart = nTab + 1)
        fields.push_back(strLine.substr(nStart, nTab - nStart));
    fields.push_back(strLine.substr(nStart));
    return fields;
}

// ---- The utility's side -----------------------------------------------

// The processes running the file at strPath now, by their full image path.
std::vector<DWORD> ServerProcesses(const CString& strPath)
{
    std::vector<DWORD> ids;
    const int nSlash = strPath.ReverseFind('\\');
    const std::wstring name = strPath.Mid(nSlash + 1).ToWide();
    const HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return ids;
    const CHandle snapshot(hSnapshot);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL bMore = Process32FirstW(hSnapshot, &entry); bMore; bMore = Process32NextW(hSnapshot, &entry)) {
        // Wine gives the base name, Windows too: the full path is asked of the process.
        const wchar_t* pszBase = wcsrchr(entry.szExeFile, L'\\');
        pszBase = pszBase ? pszBase + 1 : entry.szExeFile;
        if (CompareStringOrdinal(pszBase, -1, name.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
        const CHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t szImage[MAX_PATH] = L"";
        DWORD nChars = MAX_PATH;
        if (!process.IsValid() || !QueryFullProcessImageNameW(process.Get(), 0, szImage, &nChars)) continue;
        if (IsSameFile(CString::FromWide(szImage, static_cast<int>(nChars)), strPath)) ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

// Asks each thread of the process to leave its message loop, as a server
// that is told to end is: it revokes its class objects on the way out. Wine
// keeps the class objects of a server that is only terminated registered,
// and the next client's start of that server then fails with
// RPC_S_SERVER_UNAVAILABLE.
void AskToQuit(DWORD dwProcessId)
{
    const HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return;
    const CHandle snapshot(hSnapshot);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore; bMore = Thread32Next(hSnapshot, &entry))
        if (entry.th32OwnerProcessID == dwProcessId) PostThreadMessageW(entry.th32ThreadID, WM_QUIT, 0, 0);
}

// Ends the processes of the local server that were not running before the
// check and still run after its release: asked first, then terminated.
// Gives how many were still running.
int EndStartedServers(const CString& strPath, const std::vector<DWORD>& before)
{
    std::vector<CHandle> started;
    for (const DWORD dwId : ServerProcesses(strPath)) {
        if (std::find(before.begin(), before.end(), dwId) != before.end()) continue;
        CHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwId));
        if (!process.IsValid()) continue;
        AskToQuit(dwId);
        started.push_back(std::move(process));
    }
    int nEnded = 0;
    const DWORD dwStart = GetTickCount();
    for (const CHandle& process : started) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        ++nEnded;
        if (WaitForSingleObject(process.Get(), dwElapsed < SERVER_GRACE_MS ? SERVER_GRACE_MS - dwElapsed : 0) == WAIT_OBJECT_0)
            continue;
        TerminateProcess(process.Get(), ERROR_CANCELLED);
        WaitForSingleObject(process.Get(), 5000);
    }
    return nEnded;
}

// The class says it is meant for scripts: a Programmable key or a TypeLib.
bool IsProgrammable(const CString& strClsid, int nViewBits)
{
    const CString strKey = "CLSID\\" + strClsid;
    const REGSAM samView = ViewAccess(nViewBits);
    return CRegKey::Open(HKEY_CLASSES_ROOT, strKey + "\\Programmable", KEY_QUERY_VALUE | samView).has_value() ||
           CRegKey::Open(HKEY_CLASSES_ROOT, strKey + "\\TypeLib", KEY_QUERY_VALUE | samView).has_value();
}

// Reads the helper's last line into result; false when it is none.
bool ParseAnswer(const std::string& strLine, ActivationResult& result)
{
    int nStage = -1, nUsed = 0;
    unsigned long nHr = 0, nFault = 0;
    double dMs = 0;
    if (strLine.compare(0, sizeof ANSWER - 1, ANSWER) != 0 ||
        std::sscanf(strLine.c_str() + sizeof ANSWER - 1, "%d 0x%lx %lf 0x%lx %n", &nStage, &nHr, &dMs, &nFault, &nUsed) < 4 ||
        nStage < ACTIVATION_NONE || nStage > ACTIVATION_CREATED)
        return false;
    result.nStage = static_cast<ActivationStage>(nStage);
    result.hr = static_cast<HRESULT>(nHr);
    result.dMilliseconds = dMs;
    result.dwFaultCode = nFault;
    result.strFaultModule = CString(strLine.substr(std::min(strLine.size(), sizeof ANSWER - 1 + static_cast<size_t>(nUsed))));
    return true;
}

CString StageName(const ActivationResult& result)
{
    if (result.nStage == ACTIVATION_LOAD && result.bLocalServer) return LoadResourceString(IDS_ACTIVATION_STAGE_START);
    return LoadResourceString(IDS_ACTIVATION_STAGE_NONE + static_cast<UINT>(result.nStage));
}

void AddLine(CString& strText, const CString& strLine)
{
    strText += strLine;
    strText += "\r\n";
}
} // namespace

bool CanCreateClass(const ComponentDiagnosis& diagnosis)
{
    ComponentDiagnosis before = diagnosis;
    before.activation = ActivationResult();
    const CString& strKey = diagnosis.registration.rowView.strServerKey;
    return (strKey == "InprocServer32" || strKey == "LocalServer32") &&
           ComponentVerdict(before) == LoadResourceString(IDS_VERDICT_SOUND);
}

ActivationResult CreateRowClass(const ComponentDiagnosis& d, const ActivationOptions& options)
{
    ActivationResult result;
    if (!CanCreateClass(d)) return result;
    result.bTried = true;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const ClassRegistration& reg = d.registration;
    result.bLocalServer = reg.rowView.strServerKey == "LocalServer32";
    // The helper of the registration's view: a server of the other bitness
    // is asked of the sibling, when there is one.
    result.strProgram = HostProgramPath();
    if (reg.nViewBits != OwnViewBits()) {
        const CString strSibling = SiblingProgramPath();
        if (GetFileAttributesW(strSibling.ToWide().c_str()) != INVALID_FILE_ATTRIBUTES) result.strProgram = strSibling;
    }
    // Clients of an apartment-threaded class, or of one that names no model,
    // are single-threaded apartments; only a free-threaded class asks for the
    // multithreaded one. A local server's clients are taken to be windows.
    const bool bMta = !result.bLocalServer && reg.rowView.strThreadingModel.CompareNoCase("Free") == 0;
    const std::string strRequest = std::string(CREATE) + d.strProgID.Str() + "\t" + (result.bLocalServer ? "1" : "0") + "\t" +
                                   (bMta ? "mta" : "sta") + "\t" + (IsProgrammable(reg.strClsid, reg.nViewBits) ? "1" : "0") +
                                   "\t" + d.strPath.Str() + "\n";

    const std::vector<DWORD> before = result.bLocalServer ? ServerProcesses(d.strPath) : std::vector<DWORD>();
    CServerHosts lone;
    CServerHosts& hosts = options.pHosts ? *options.pHosts : lone;
    CWorkProgress noProgress;
    bool bAnswered = false;
    const auto onLine = [&](const std::string& strLine) {
        if (strLine.compare(0, sizeof STAGE_NOTE - 1, STAGE_NOTE) == 0) {
            const int nStage = std::atoi(strLine.c_str() + sizeof STAGE_NOTE - 1);
            if (nStage > ACTIVATION_NONE && nStage < ACTIVATION_CREATED) result.nStage = static_cast<ActivationStage>(nStage);
            return true;
        }
        bAnswered = ParseAnswer(strLine, result);
        return false;
    };
    const CServerHosts::Exchange exchange = hosts.Converse(result.strProgram, strRequest, onLine, d.strPath, options.dwTimeLimitMs,
                                                           options.pProgress ? *options.pProgress : noProgress);
    switch (exchange.nKind) {
    case CServerHosts::Exchange::ANSWERED:
        // A fault leaves the helper's state unknown; a garbled answer, the helper itself.
        if (!bAnswered) result.hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        if (!bAnswered || result.dwFaultCode) hosts.Replace(result.strProgram);
        break;
    case CServerHosts::Exchange::NOT_STARTED:
        result.nStage = ACTIVATION_NONE;
        result.hr = HRESULT_FROM_WIN32(exchange.dwCode);
        break;
    case CServerHosts::Exchange::ENDED:
        result.bHostEnded = true;
        result.dwExitCode = exchange.dwCode;
        result.hr = HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED);
        break;
    case CServerHosts::Exchange::STOPPED:
        result.bStopped = true;
        result.bTimedOut = exchange.bTimedOut;
        result.hr = HRESULT_FROM_WIN32(exchange.bTimedOut ? ERROR_TIMEOUT : ERROR_CANCELLED);
        break;
    default:
        result.hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        break;
    }
    if (!bAnswered) result.dMilliseconds = MillisecondsSince(start);
    if (result.bLocalServer) result.nServersEnded = EndStartedServers(d.strPath, before);
    return result;
}

void CreateRecordClasses(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                         CWorkProgress& progress, ActivationOptions options)
{
    CServerHosts lone;
    if (!options.pHosts) options.pHosts = &lone;
    options.pProgress = &progress;
    progress.SetProgressRange(static_cast<int>(records.size()));
    std::vector<ComponentItem*> unknown;
    for (ComponentItem* pItem : records)
        if (pItem && !pItem->bLookedFor) unknown.push_back(pItem);
    if (!unknown.empty()) ResolveLocations(unknown, folders, progress);
    const CImportResolver resolver;
    for (size_t i = 0; i < records.size() && !progress.IsStopRequested(); ++i) {
        progress.SetProgressPos(static_cast<int>(i + 1));
        ComponentItem* pItem = records[i];
        if (!pItem) continue;
        const ComponentDiagnosis d = DiagnoseComponent(pItem->strFileName, pItem->strProgID, pItem->strLocation,
                                                       pItem->lastAction, resolver);
        pItem->lastActivation = CreateRowClass(d, options);
        if (pItem->lastActivation.bStopped && !pItem->lastActivation.bTimedOut) break;
    }
    progress.ResetStop();
    progress.SetProgressPos(0);
}

CString ActivationVerdict(const ActivationResult& r)
{
    if (!r.Failed()) return CString();
    const CString strStage = StageName(r);
    const unsigned long nSeconds = static_cast<unsigned long>((r.dMilliseconds + 500) / 1000);
    if (r.bStopped && r.bTimedOut) return FormatId(IDS_ACTIVATION_STOPPED_LIMIT, strStage.GetString(), nSeconds);
    if (r.bStopped) return FormatId(IDS_ACTIVATION_STOPPED_USER, nSeconds, strStage.GetString());
    if (r.dwFaultCode)
        return FormatId(IDS_ACTIVATION_CRASHED, strStage.GetString(), FaultName(r.dwFaultCode).GetString(),
                        static_cast<unsigned long>(r.dwFaultCode),
                        (r.strFaultModule.IsEmpty() ? LoadResourceString(IDS_UNKNOWN_MODULE) : r.strFaultModule).GetString());
    if (r.bHostEnded) return FormatId(IDS_ACTIVATION_HOST_ENDED, strStage.GetString(), ExitCodeText(r.dwExitCode).GetString());
    if (r.nStage == ACTIVATION_NONE)
        return FormatId(IDS_ACTIVATION_NOT_STARTED, r.strProgram.GetString(), SystemErrorText(r.hr).GetString());
    return FormatId(IDS_ACTIVATION_FAILED, strStage.GetString(), static_cast<unsigned long>(r.hr), SystemErrorText(r.hr).GetString());
}

CString FormatActivationDetails(const ActivationResult& r)
{
    CString t;
    AddLine(t, LoadResourceString(IDS_ACTIVATION_DIAG_TITLE));
    if (!r.bTried) {
        AddLine(t, LoadResourceString(IDS_ACTIVATION_DIAG_NOT_TRIED));
        return t;
    }
    AddLine(t, FormatId(IDS_ACTIVATION_DIAG_STAGE, StageName(r).GetString(), static_cast<unsigned long>(r.hr),
                        SystemErrorText(r.hr).GetString(), r.dMilliseconds));
    if (r.dwFaultCode)
        AddLine(t, FormatId(IDS_DIAG_FAULT, static_cast<unsigned long>(r.dwFaultCode), FaultName(r.dwFaultCode).GetString(),
                            (r.strFaultModule.IsEmpty() ? LoadResourceString(IDS_UNKNOWN_MODULE) : r.strFaultModule).GetString()));
    if (r.bHostEnded) AddLine(t, FormatId(IDS_DIAG_HOST_ENDED, ExitCodeText(r.dwExitCode).GetString()));
    if (r.nServersEnded) AddLine(t, FormatId(IDS_ACTIVATION_DIAG_ENDED, r.nServersEnded));
    if (!r.strProgram.IsEmpty()) AddLine(t, FormatId(IDS_DIAG_RUN_BY, r.strProgram.GetString()));
    return t;
}

CString ActivationInfoTipLine(const ActivationResult& r)
{
    return r.bTried ? FormatId(IDS_ACTIVATION_INFOTIP, StageName(r).GetString(), r.dMilliseconds) : CString();
}

const char* ActivationStageKey(ActivationStage nStage)
{
    static const char* const s_keys[] = {"none", "progId", "load", "classObject", "createInstance", "dispatch", "created"};
    return nStage >= ACTIVATION_NONE && nStage <= ACTIVATION_CREATED ? s_keys[nStage] : "none";
}

bool IsActivationRequest(const std::string& strLine)
{
    return strLine.compare(0, sizeof CREATE - 1, CREATE) == 0;
}

bool ServeActivation(const std::string& strLine, HANDLE hAnswers)
{
    CreationJob job;
    job.hAnswers = hAnswers;
    const std::vector<std::string> fields = SplitTabs(strLine);
    if (fields.size() != 6 || fields[1].empty() || fields[5].empty()) {
        job.hr = E_INVALIDARG;
    } else {
        job.progID = CString(fields[1]).ToWide();
        job.bLocal = fields[2] == "1";
        job.bMta = fields[3] == "mta";
        job.bDispatch = fields[4] == "1";
        job.path = CString(fields[5]).ToWide();
        // The waiting thread answers what is sent to it (a server's
        // broadcast), as any waiting in the helper does.
        const CHandle thread(CreateThread(nullptr, 0, &CreationThread, &job, 0, nullptr));
        if (!thread.IsValid()) job.hr = LastErrorResult();
        const HANDLE hThread = thread.Get();
        while (hThread) {
            const DWORD dwWait = WaitAnswering(1, &hThread, 1000);
            if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED) break;
        }
    }
    char szAnswer[128];
    std::snprintf(szAnswer, sizeof szAnswer, "%s%d 0x%08lX %.1f 0x%08lX ", ANSWER, static_cast<int>(job.nStage),
                  static_cast<unsigned long>(job.hr), job.dMilliseconds, static_cast<unsigned long>(job.dwFaultCode));
    return WriteAll(hAnswers, szAnswer + job.strFaultModule.Str() + "\n");
}
