#pragma once
#include <windows.h>

// Loads a DLL of the system folder only (LOAD_LIBRARY_SEARCH_SYSTEM32; where
// that flag is unknown, by the full path in the system directory). Never the
// program's folder or the current directory: a module of that name already
// loaded from elsewhere is refused too. Null when it cannot be had.
HMODULE LoadSystemLibrary(const wchar_t* pszName);

// First thing in every process of ours: SetDefaultDllDirectories
// (LOAD_LIBRARY_SEARCH_SYSTEM32), looked up from kernel32 since an unpatched
// Windows 7 lacks it (there SetDllDirectoryW(L"") at least), so that nothing
// the system loads later by bare name comes from the program's folder or the
// current directory.
void RestrictDllSearch();

// A function of a module loaded with LoadSystemLibrary, typed by the caller;
// null when the module or the function is missing.
template <class F>
F SystemProc(HMODULE hModule, const char* pszName)
{
    return hModule ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName))) : nullptr;
}
