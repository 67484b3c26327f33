#include "engine/components/SelfRegistration.h"
#include "engine/components/ServerHost.h"
#include "engine/components/ServerProcess.h"
#include "engine/components/Sibling.h"
#include "engine/diagnosis/PeFile.h"
#include "system/Paths.h"
#include "system/SystemInfo.h"
#include "system/FaultGuard.h"

namespace {

using EntryPoint = HRESULT (STDAPICALLTYPE*)();

bool IsExecutablePath(const CString& strPath)
{
    CString strTail = strPath.GetLength() < 4 ? strPath : strPath.Right(4);
    strTail.MakeLower();
    return strTail == ".exe";
}

// The folder part of a path with its trailing separator ("C:\Servers\"), the
// drive alone for "C:name", empty for a bare name, as _splitpath divides it.
CString FolderOf(const CString& strPath)
{
    const std::string& path = strPath.Str();
    const size_t nSlash = path.find_last_of("\\/");
    if (nSlash != std::string::npos) return CString(path.substr(0, nSlash + 1));
    if (path.size() >= 2 && path[1] == ':') return CString(path.substr(0, 2));
    return CString();
}

// The process's current directory, however long it is.
std::string CurrentDirectory()
{
    std::string strDir(MAX_PATH, '\0');
    DWORD nLength = GetCurrentDirectoryA(static_cast<DWORD>(strDir.size()), strDir.data());
    if (nLength >= strDir.size()) {
        strDir.assign(nLength, '\0');
        nLength = GetCurrentDirectoryA(nLength, strDir.data());
    }
    strDir.resize(nLength < strDir.size() ? nLength : 0);
    return strDir;
}

// One in-process self-registration call. Every step that runs server code
// (the full load with its DllMain, the entry point, the free with its
// detach) runs under the fault guard; a module is recorded here the moment
// it is loaded, so that whatever happens it is freed by the caller.
struct InProcessCall {
    std::wstring path;
    const char* pszEntryPoint;
    RegistrationResult* pResult;
    HMODULE hProbe = nullptr;
    bool bExported = false;
    HMODULE hModule = nullptr;
    bool bResult = false;
};

HRESULT LastErrorResult()
{
    const DWORD dwError = GetLastError();
    return HRESULT_FROM_WIN32(dwError ? dwError : ERROR_GEN_FAILURE);
}

// The file of the module that holds an address; empty when none does (the
// fault was in memory of no module, or its module is gone).
CString ModuleAt(const void* pAddress)
{
    HMODULE hModule = nullptr;
    if (!pAddress || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                         static_cast<LPCSTR>(pAddress), &hModule))
        return CString();
    return ModuleFilePath(hModule);
}

// Called at once after the guard caught something, while the module that
// faulted is still loaded.
void NoteFault(RegistrationResult& result, DWORD dwCode)
{
    if (!dwCode || result.dwFaultCode) return;
    result.dwFaultCode = dwCode;
    result.strFaultModule = ModuleAt(LastGuardedFaultAddress());
}

// Maps the file without running any of it (no DllMain, no imports) and asks
// whether it exports the entry point: a file that is no self-registering
// server is never run. Guarded too, since the file's export table is as
// untrusted as its code.
void ProbeEntryPoint(void* pContext)
{
    auto* pCall = static_cast<InProcessCall*>(pContext);
    pCall->hProbe = LoadLibraryExW(pCall->path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!pCall->hProbe) {
        pCall->pResult->hr = LastErrorResult();
        return;
    }
    pCall->pResult->nStage = STAGE_MAPPED;
    pCall->bExported = GetProcAddress(pCall->hProbe, pCall->pszEntryPoint) != nullptr;
    if (pCall->bExported) pCall->pResult->nStage = STAGE_ENTRY_FOUND;
    else pCall->pResult->hr = LastErrorResult();
}

// A fault in DllMain during the load is caught by the loader itself
// (Windows and Wine alike): the load fails with ERROR_NOACCESS, the module is
// dropped and the loader's lock released, so the guard never sees it. Only a
// loader that let it escape would leave the guard to catch it, with the
// half-loaded module and the loader's lock left behind on this thread.
// The server's own folder is searched for the DLLs it imports, as regsvr32
// searches it: an absolute path with LOAD_WITH_ALTERED_SEARCH_PATH takes
// precedence over SetDefaultDllDirectories (Wine follows Windows here).
void LoadAndCall(void* pContext)
{
    auto* pCall = static_cast<InProcessCall*>(pContext);
    RegistrationResult& result = *pCall->pResult;
    pCall->hModule = LoadLibraryExW(pCall->path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!pCall->hModule) {
        result.hr = LastErrorResult();
        return;
    }
    result.nStage = STAGE_LOADED;
    const FARPROC pfnProc = GetProcAddress(pCall->hModule, pCall->pszEntryPoint);
    if (!pfnProc) {
        result.hr = LastErrorResult();
        return;
    }
    const auto pfnEntry = reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(pfnProc));
    result.hr = pfnEntry();
    result.nStage = STAGE_ENTRY_RETURNED;
    pCall->bResult = result.hr == S_OK;
}

void FreeLoadedModule(void* pContext)
{
    auto* pCall = static_cast<InProcessCall*>(pContext);
    const HMODULE hModule = pCall->hModule;
    pCall->hModule = nullptr;   // never freed twice, even if its detach faults
    FreeLibrary(hModule);
}

bool CallEntryPoint(const CString& strPath, bool bRegister, RegistrationResult& result)
{
    InProcessCall call;
    call.path = strPath.ToWide();
    call.pszEntryPoint = bRegister ? "DllRegisterServer" : "DllUnregisterServer";
    call.pResult = &result;
    const DWORD dwProbeFault = CallFaultGuarded(ProbeEntryPoint, &call);
    NoteFault(result, dwProbeFault);
    if (call.hProbe) FreeLibrary(call.hProbe);   // a mapping only: no code runs
    if (dwProbeFault || !call.bExported) return false;

    const DWORD dwFault = CallFaultGuarded(LoadAndCall, &call);
    NoteFault(result, dwFault);
    if (call.hModule) NoteFault(result, CallFaultGuarded(FreeLoadedModule, &call));
    return call.bResult && !dwFault;
}

// An executable is read before it is started: a file that is no program of
// this system (empty, truncated, a DLL, another machine's) is never handed to
// the shell, which would answer with an error box that waits for a click.
HRESULT ProbeProgram(const CString& strPath)
{
    const PeFileInfo file = ReadPeFile(strPath);
    if (file.dwReadError) return HRESULT_FROM_WIN32(file.dwReadError);
    if (file.bFolder) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    if (!file.bModule || file.bDll || !IsRunnableMachine(file.wMachine)) return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    return S_OK;
}

double MillisecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart ? 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) : 0;
}

// Which program runs an in-process server: the helper of this bitness for
// its own (and for a module of any other machine: loading it fails there as
// anywhere), the sibling for the other.
RegistrationRoute RouteFor(const PeFileInfo& file, const RunOptions& options, CString& strProgram)
{
    const WORD wOwn = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    const bool bOther = (file.wMachine == IMAGE_FILE_MACHINE_AMD64 || file.wMachine == IMAGE_FILE_MACHINE_I386) &&
                        file.wMachine != wOwn;
    if (!bOther) {
        strProgram = HostProgramPath();
        return ROUTE_THIS_PROGRAM;
    }
    if (file.wMachine == IMAGE_FILE_MACHINE_AMD64 && !IsSixtyFourBitSystem()) return ROUTE_NOT_ON_THIS_SYSTEM;
    strProgram = SiblingProgramPath(options.strSiblingFolder);
    const DWORD dwAttributes = GetFileAttributesW(strProgram.ToWide().c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ROUTE_SIBLING : ROUTE_NO_SIBLING;
}

// The entry point run in this process, in the server's folder as the
// current directory, which is put back afterwards.
bool RunHere(const CString& strPath, bool bRegister, RegistrationResult& result)
{
    const std::string strSavedDir = CurrentDirectory();
    SetCurrentDirectoryA(FolderOf(strPath));
    bool bResult = false;
    {
        const CQuietErrorMode quiet;
        bResult = CallEntryPoint(strPath, bRegister, result);
    }
    SetCurrentDirectoryA(strSavedDir.c_str());
    return bResult;
}

// The entry point run by the helper of the server's bitness. A file that is
// no module never reaches one: loading it would fail there as here.
bool RunInHelper(const CString& strPath, bool bRegister, const RunOptions& options, RegistrationResult& result)
{
    const PeFileInfo file = ReadPeFile(strPath);
    if (file.dwReadError || file.bFolder || !file.bModule) {
        const DWORD dwError = file.dwReadError == ERROR_FILE_NOT_FOUND || file.dwReadError == ERROR_PATH_NOT_FOUND
                                  ? ERROR_MOD_NOT_FOUND
                                  : file.dwReadError ? file.dwReadError
                                  : file.bFolder     ? ERROR_ACCESS_DENIED
                                                     : ERROR_BAD_EXE_FORMAT;
        result.hr = HRESULT_FROM_WIN32(dwError);
        return false;
    }
    CString strProgram;
    switch (result.nRoute = RouteFor(file, options, strProgram)) {
    case ROUTE_THIS_PROGRAM:
    case ROUTE_SIBLING: {
        CServerHosts lone;
        return (options.pHosts ? *options.pHosts : lone).Run(strProgram, strPath, bRegister, options, result);
    }
    case ROUTE_NO_SIBLING:
        result.strProgram = strProgram;
        result.hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        break;
    case ROUTE_NOT_ON_THIS_SYSTEM:
        result.hr = HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
        break;
    }
    return false;
}

// As the system account, nothing runs from a path that others than
// administrators can change: a standard user could swap the file, or plant
// a DLL it imports beside it, and have it run with the system's rights.
bool IsRefused(const CString& strPath, const RunOptions& options, RegistrationResult& result)
{
    static const bool s_bLocalSystem = IsLocalSystem();
    if (!options.asSystem.value_or(s_bLocalSystem)) return false;
    std::wstring strWhere;
    result.nTrustProblem = CheckPathTrust(strPath.ToWide(), &strWhere);
    if (result.nTrustProblem == TrustProblem::None) return false;
    result.strUntrusted = strWhere.empty() ? strPath : CString::FromWide(strWhere.c_str(), static_cast<int>(strWhere.size()));
    result.hr = E_ACCESSDENIED;
    return true;
}

} // namespace

// The machines whose programs this system starts: its own and those it
// emulates (x86 everywhere; x64 on 64-bit systems; ARM64 on ARM64).
bool IsRunnableMachine(WORD wMachine)
{
    if (wMachine == IMAGE_FILE_MACHINE_I386) return true;
    if (!IsSixtyFourBitSystem()) return false;
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto pfnIsWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process2")));
    USHORT wProcess = 0, wNative = IMAGE_FILE_MACHINE_AMD64;
    if (pfnIsWow64Process2 && !pfnIsWow64Process2(GetCurrentProcess(), &wProcess, &wNative)) wNative = IMAGE_FILE_MACHINE_AMD64;
    if (wMachine == IMAGE_FILE_MACHINE_AMD64) return true;
    return wNative == IMAGE_FILE_MACHINE_ARM64 && wMachine == IMAGE_FILE_MACHINE_ARM64;
}

bool RegisterServerFile(const CString& strPath, bool bRegister, RegistrationResult* pResult, const RunOptions& options)
{
    RegistrationResult local;
    RegistrationResult& result = pResult ? *pResult : local;
    result = RegistrationResult();
    result.bDone = true;
    result.bRegister = bRegister;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);

    // Nothing is loaded, started or changed for a path that is empty or would
    // not fit the system's path buffers, which count characters: in UTF-8 a
    // path may pass MAX_PATH bytes and still fit.
    if (strPath.IsEmpty() || strPath.ToWide().size() >= MAX_PATH) {
        result.hr = HRESULT_FROM_WIN32(strPath.IsEmpty() ? ERROR_FILE_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    // The helper has a current directory of its own: it is given the full path.
    const CString strFull = FullPathName(strPath);
    bool bResult = false;
    if (strFull.IsEmpty()) {
        result.hr = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    } else if (IsRefused(strFull, options, result)) {
        // Nothing loaded or started.
    } else if (IsExecutablePath(strPath)) {
        // A file that is no program is not started: the stage stays STAGE_NONE.
        result.hr = ProbeProgram(strFull);
        if (SUCCEEDED(result.hr)) ExecuteAndWait(strFull, bRegister ? "/regserver" : "/unregserver", &result, options);
    } else if (options.bInThisProcess) {
        bResult = RunHere(strFull, bRegister, result);
    } else {
        bResult = RunInHelper(strFull, bRegister, options, result);
    }
    result.dMilliseconds = MillisecondsSince(start);
    return bResult;
}

void ExecuteAndWait(const CString& strPath, const CString& strParameters, RegistrationResult* pResult,
                    const RunOptions& options)
{
    RegistrationResult local;
    RegistrationResult& result = pResult ? *pResult : local;
    // "C:\srv.exe" gives "C:", which a process's folder, always a full
    // path, cannot be: the root's backslash is put back.
    const int nSlash = strPath.ReverseFind('\\');
    CString strFolder = nSlash < 0 ? CString() : strPath.Left(nSlash);
    if (strFolder.GetLength() == 2 && strFolder[1] == ':') strFolder += '\\';
    CWorkProgress noProgress;
    const ProcessRun run = RunHidden(strPath, strParameters, strFolder, strPath, options.dwTimeLimitMs,
                                     options.pProgress ? *options.pProgress : noProgress);
    if (!run.bStarted) {
        result.hr = HRESULT_FROM_WIN32(run.dwStartError ? run.dwStartError : ERROR_GEN_FAILURE);
        return;
    }
    result.nStage = STAGE_STARTED;
    if (run.bStopped) {
        result.bStopped = true;
        result.bTimedOut = run.bTimedOut;
        result.hr = HRESULT_FROM_WIN32(run.bTimedOut ? ERROR_TIMEOUT : ERROR_CANCELLED);
    } else if (run.bEnded) {
        result.nStage = STAGE_ENDED;
        result.dwExitCode = run.dwExitCode;
    }
}
