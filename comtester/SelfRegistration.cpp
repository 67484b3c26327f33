#include "comtester/SelfRegistration.h"
#include "app/SupportSheet.h"
#include <shellapi.h>

namespace {

using EntryPoint = HRESULT (STDAPICALLTYPE*)();

bool IsExecutablePath(const CString& strPath)
{
    const int nLength = strPath.GetLength();
    CString strTail = nLength < 4 ? strPath : strPath.Right(4);
    strTail.MakeLower();
    return strTail == ".exe";
}

// The folder part of a path with its trailing separator ("C:\Servers\"),
// the drive alone ("C:") for "C:name", empty for a bare name.
CString FolderOf(const CString& strPath)
{
    const std::string& path = strPath.Str();
    const size_t nSlash = path.find_last_of("\\/");
    if (nSlash != std::string::npos) return CString(path.substr(0, nSlash + 1));
    if (path.size() >= 2 && path[1] == ':') return CString(path.substr(0, 2));
    return CString();
}

bool CallEntryPoint(const CString& strPath, const char* pszEntryPoint)
{
    HMODULE hProbe = LoadLibraryExA(strPath, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!hProbe) return false;
    const bool bExported = GetProcAddress(hProbe, pszEntryPoint) != nullptr;
    FreeLibrary(hProbe);
    if (!bExported) return false;

    HMODULE hModule = LoadLibraryA(strPath);
    if (!hModule) return false;
    bool bResult = false;
    if (auto pfn = reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, pszEntryPoint))))
        bResult = pfn() == S_OK;
    FreeLibrary(hModule);
    return bResult;
}

} // namespace

bool RegisterServerFile(const CString& strPath, bool bRegister)
{
    if (strPath.IsEmpty() || strPath.GetLength() >= MAX_PATH) return false;

    const DWORD nSaved = GetCurrentDirectoryA(0, nullptr);
    std::string savedDir(nSaved, '\0');
    GetCurrentDirectoryA(nSaved, savedDir.data());
    savedDir.resize(savedDir.find('\0'));
    SetCurrentDirectoryA(FolderOf(strPath));

    bool bResult = false;
    if (IsExecutablePath(strPath))
        ExecuteAndWait(strPath, bRegister ? "/regserver" : "/unregserver");
    else
        bResult = CallEntryPoint(strPath, bRegister ? "DllRegisterServer" : "DllUnregisterServer");

    SetCurrentDirectoryA(savedDir.c_str());
    return bResult;
}

void ExecuteAndWait(const CString& strPath, const CString& strParameters)
{
    const int nSlash = strPath.ReverseFind('\\');
    const CString strFolder = nSlash < 0 ? CString() : strPath.Left(nSlash);

    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = strPath;
    info.lpParameters = strParameters;
    info.lpDirectory = strFolder;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExA(&info) || !info.hProcess) return;
    WaitForSingleObject(info.hProcess, INFINITE);
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
