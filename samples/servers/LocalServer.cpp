// LocalSrv.exe and SlowSrv.exe: executable servers that handle "/regserver"
// and "/unregserver" and end at once. SlowSrv.exe (SAMPLE_SLOW) first waits
// two seconds, so that a caller that does not wait sees nothing registered.
// HangSrv.exe (SAMPLE_HANG) never ends, as a server showing a hidden dialog;
// HangParentSrv.exe (SAMPLE_HANG_CHILD) starts a copy of itself with "/hang",
// which never ends either, and waits for it.
#include "CatalogueIdentity.h"
#include <string>

#if defined(SAMPLE_HANG)
static const char c_szDefaultProgID[] = "Kelvara.HangSample.1";
#elif defined(SAMPLE_SLOW)
static const char c_szDefaultProgID[] = "Kelvara.SlowSample.1";
#else
static const char c_szDefaultProgID[] = "Kelvara.LocalSample.1";
#endif

static bool HasSwitch(const char* pszCommandLine, const char* pszName)
{
    // Accepts "/name" and "-name", in any letter case, as a whole word.
    const size_t nName = lstrlenA(pszName);
    for (const char* p = pszCommandLine; *p; ++p) {
        if ((*p != '/' && *p != '-') || (p != pszCommandLine && p[-1] != ' ' && p[-1] != '\t'))
            continue;
        if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, p + 1, static_cast<int>(nName),
                           pszName, static_cast<int>(nName)) == CSTR_EQUAL
            && (p[1 + nName] == '\0' || p[1 + nName] == ' ' || p[1 + nName] == '\t'))
            return true;
    }
    return false;
}

#ifdef SAMPLE_HANG
[[noreturn]] static void HangForever()
{
#ifdef SAMPLE_HANG_CHILD
    wchar_t szPath[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring commandLine = std::wstring(L"\"") + szPath + L"\" /hang";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(szPath, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        WaitForSingleObject(info.hProcess, INFINITE);
#endif
    for (;;) Sleep(INFINITE);
}
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR pszCommandLine, int)
{
#ifdef SAMPLE_HANG
    if (HasSwitch(pszCommandLine, "hang"))
        for (;;) Sleep(INFINITE);   // the child: it starts nothing more
#endif
    const bool bRegister = HasSwitch(pszCommandLine, "regserver");
    const bool bUnregister = HasSwitch(pszCommandLine, "unregserver");
    if (!bRegister && !bUnregister) return 0;
#ifdef SAMPLE_SLOW
    Sleep(2000);
#endif
#ifdef SAMPLE_HANG
    HangForever();
#endif
    const ServerIdentity server = CatalogueIdentity(ModulePath(nullptr), c_szDefaultProgID, "LocalServer32");
    const HRESULT hr = bUnregister ? RemoveRegistration(server) : WriteRegistration(server);
    return SUCCEEDED(hr) ? 0 : 1;
}
