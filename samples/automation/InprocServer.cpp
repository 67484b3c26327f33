// The in-process build of the sample server: TorvexAppServices.dll.
#include "Server.h"

namespace {
HMODULE g_hModule = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hModule = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_AppServices)) return CLASS_E_CLASSNOTAVAILABLE;
    IClassFactory* pFactory = CreateAppServicesFactory();
    const HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}

STDAPI DllCanUnloadNow()
{
    return ServerObjectCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    wchar_t szPath[MAX_PATH] = L"";
    const DWORD n = GetModuleFileNameW(g_hModule, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return E_UNEXPECTED;
    return RegisterAppServices(szPath, false);
}

STDAPI DllUnregisterServer()
{
    return UnregisterAppServices();
}

// For the benchmark: the calls this server has received since it was loaded.
extern "C" __declspec(dllexport) void WINAPI TorvexGetCallCounts(LONG* pnMethods, LONG* pnRefCounts)
{
    GetServerCallCounts(pnMethods, pnRefCounts);
}
