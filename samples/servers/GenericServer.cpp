// ForgeSampleServer.dll: the well-behaved in-process server. Installed under a
// catalogue file name it registers that entry's ProgID.
#include "CatalogueIdentity.h"

namespace {
HMODULE g_hModule = nullptr;

ServerIdentity Identity()
{
    return CatalogueIdentity(ModulePath(g_hModule), "Kelvara.SampleServer.1", "InprocServer32");
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD nReason, LPVOID)
{
    if (nReason == DLL_PROCESS_ATTACH) g_hModule = hInstance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return WriteRegistration(Identity());
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return RemoveRegistration(Identity());
}
