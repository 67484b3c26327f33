// LocalSrv.exe and SlowSrv.exe: executable servers that handle "/regserver"
// and "/unregserver" and end at once. SlowSrv.exe (SAMPLE_SLOW) first waits
// two seconds, so that a caller that does not wait sees nothing registered.
#include "CatalogueIdentity.h"

#ifdef SAMPLE_SLOW
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

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR pszCommandLine, int)
{
    const bool bRegister = HasSwitch(pszCommandLine, "regserver");
    const bool bUnregister = HasSwitch(pszCommandLine, "unregserver");
    if (!bRegister && !bUnregister) return 0;
#ifdef SAMPLE_SLOW
    Sleep(2000);
#endif
    const ServerIdentity server = CatalogueIdentity(ModulePath(nullptr), c_szDefaultProgID, "LocalServer32");
    const HRESULT hr = bUnregister ? RemoveRegistration(server) : WriteRegistration(server);
    return SUCCEEDED(hr) ? 0 : 1;
}
