#include "system/SystemLibrary.h"
#include <string>

namespace {
HMODULE Kernel32()
{
    // kernel32 is mapped into every process before our code runs.
    return GetModuleHandleW(L"kernel32.dll");
}

// The LOAD_LIBRARY_SEARCH_* flags exist where AddDllDirectory does (Windows 8,
// or Windows 7 with KB2533623); elsewhere LoadLibraryExW refuses them.
bool HasSearchFlags()
{
    static const bool s_bHas = GetProcAddress(Kernel32(), "AddDllDirectory") != nullptr;
    return s_bHas;
}

bool IsBareName(const wchar_t* pszName)
{
    if (!pszName || !*pszName) return false;
    for (const wchar_t* p = pszName; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') return false;
    return true;
}

// A folder the system names, with a closing backslash; empty when it has none.
template <class Get>
std::wstring SystemFolder(Get get)
{
    wchar_t szFolder[MAX_PATH + 1];
    const UINT nLength = get(szFolder, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) return std::wstring();
    std::wstring folder(szFolder, nLength);
    if (folder.back() != L'\\') folder += L'\\';
    return folder;
}

std::wstring SystemDirectory()
{
    return SystemFolder([](wchar_t* p, UINT n) { return GetSystemDirectoryW(p, n); });
}

bool IsInFolder(const std::wstring& file, const std::wstring& folder)
{
    if (folder.empty() || file.size() <= folder.size()) return false;
    if (file.find_first_of(L"\\/", folder.size()) != std::wstring::npos) return false;
    return CompareStringOrdinal(file.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

// A module of the name already in the process is handed back whatever its
// folder: one that a dependency loaded from the program's folder earlier
// (Wine's own user32 imports version.dll) is refused.
bool IsSystemModule(HMODULE hModule)
{
    wchar_t szFile[MAX_PATH + 1];
    const DWORD nLength = GetModuleFileNameW(hModule, szFile, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) return false;
    const std::wstring file(szFile, nLength);
    // A 32-bit process on 64-bit Windows names its system folder's files by
    // the WOW64 folder they really come from.
    return IsInFolder(file, SystemDirectory()) ||
           IsInFolder(file, SystemFolder([](wchar_t* p, UINT n) { return GetSystemWow64DirectoryW(p, n); }));
}

HMODULE LoadFromSystemFolder(const wchar_t* pszName)
{
    if (HasSearchFlags()) return LoadLibraryExW(pszName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const std::wstring path = SystemDirectory() + pszName;
    if (path == pszName) return nullptr;
    // By full path; the altered search path makes the DLL's own imports come
    // from the system folder too rather than from the program's.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
}

HMODULE LoadSystemLibrary(const wchar_t* pszName)
{
    if (!IsBareName(pszName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const HMODULE hModule = LoadFromSystemFolder(pszName);
    if (!hModule || IsSystemModule(hModule)) return hModule;
    FreeLibrary(hModule);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

void RestrictDllSearch()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto pSetDefault = SystemProc<SetDefaultDllDirectoriesFn>(Kernel32(), "SetDefaultDllDirectories");
    if (pSetDefault && pSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it the program's folder stays first, but the current directory
    // at least leaves the search.
    SetDllDirectoryW(L"");
}
