#include "comtester/SelfRegistration.h"
#include "app/SupportSheet.h"
#include "framework/FaultGuard.h"
#include "framework/CPaintPump.h"
#include <shellapi.h>

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
    const char* pszPath;
    const char* pszEntryPoint;
    HMODULE hProbe = nullptr;
    bool bExported = false;
    HMODULE hModule = nullptr;
    bool bResult = false;
};

// Maps the file without running any of it (no DllMain, no imports) and asks
// whether it exports the entry point: a file that is no self-registering
// server is never run. Guarded too, since the file's export table is as
// untrusted as its code.
void ProbeEntryPoint(void* pContext)
{
    auto* pCall = static_cast<InProcessCall*>(pContext);
    pCall->hProbe = LoadLibraryExA(pCall->pszPath, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (pCall->hProbe) pCall->bExported = GetProcAddress(pCall->hProbe, pCall->pszEntryPoint) != nullptr;
}

// A fault in DllMain during LoadLibraryA is caught by the loader itself
// (Windows and Wine alike): the load fails with ERROR_NOACCESS, the module is
// dropped and the loader's lock released, so the guard never sees it. Only a
// loader that let it escape would leave the guard to catch it, with the
// half-loaded module and the loader's lock left behind on this thread.
void LoadAndCall(void* pContext)
{
    auto* pCall = static_cast<InProcessCall*>(pContext);
    pCall->hModule = LoadLibraryA(pCall->pszPath);
    if (!pCall->hModule) return;
    const FARPROC pfnProc = GetProcAddress(pCall->hModule, pCall->pszEntryPoint);
    if (!pfnProc) return;
    const auto pfnEntry = reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(pfnProc));
    pCall->bResult = pfnEntry() == S_OK;
}

void FreeLoadedModule(void* pContext)
{
    auto* pCall = static_cast<InProcessCall*>(pContext);
    const HMODULE hModule = pCall->hModule;
    pCall->hModule = nullptr;   // never freed twice, even if its detach faults
    FreeLibrary(hModule);
}

bool CallEntryPoint(const CString& strPath, bool bRegister)
{
    InProcessCall call;
    call.pszPath = strPath;
    call.pszEntryPoint = bRegister ? "DllRegisterServer" : "DllUnregisterServer";
    const bool bProbeFaulted = CallFaultGuarded(ProbeEntryPoint, &call) != 0;
    if (call.hProbe) FreeLibrary(call.hProbe);   // a mapping only: no code runs
    if (bProbeFaulted || !call.bExported) return false;

    const bool bFaulted = CallFaultGuarded(LoadAndCall, &call) != 0;
    if (call.hModule) CallFaultGuarded(FreeLoadedModule, &call);
    return call.bResult && !bFaulted;
}

} // namespace

bool RegisterServerFile(const CString& strPath, bool bRegister)
{
    // Nothing is loaded, started or changed for a path that is empty or would
    // not fit the system's path buffers.
    if (strPath.IsEmpty() || strPath.GetLength() >= MAX_PATH) return false;

    const std::string strSavedDir = CurrentDirectory();
    SetCurrentDirectoryA(FolderOf(strPath));

    bool bResult = false;
    if (IsExecutablePath(strPath))
        ExecuteAndWait(strPath, bRegister ? "/regserver" : "/unregserver");
    else
        bResult = CallEntryPoint(strPath, bRegister);

    SetCurrentDirectoryA(strSavedDir.c_str());
    return bResult;
}

void ExecuteAndWait(const CString& strPath, const CString& strParameters)
{
    // "C:\srv.exe" gives "C:", which names the root because the caller has
    // just made the root the current directory.
    const int nSlash = strPath.ReverseFind('\\');
    const CString strFolder = nSlash < 0 ? CString() : strPath.Left(nSlash);

    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = strPath;
    info.lpParameters = strParameters;
    info.lpDirectory = strFolder;
    info.nShow = SW_HIDE;
    // hProcess stays null when the file was handed to a running program
    // instead of starting a process: then there is nothing to wait for.
    if (!ShellExecuteExA(&info) || !info.hProcess) return;
    // No time-out: a server may take its time. The sheet keeps painting.
    CPaintPump::WaitPainting(info.hProcess);
    CloseHandle(info.hProcess);
}

bool CSupportSheet::RegisterServerFile(const CString& strPath, bool bRegister) const
{
    return ::RegisterServerFile(strPath, bRegister);
}

void CSupportSheet::ExecuteAndWait(const CString& strPath, const CString& strParameters) const
{
    ::ExecuteAndWait(strPath, strParameters);
}
