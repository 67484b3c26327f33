// The local-server build of the sample server: TorvexAppServicesServer.exe.
// "/regserver" and "/unregserver" register and unregister it; started by COM
// it serves its class until the last object is gone.
#include "Server.h"

namespace {
DWORD g_dwMainThread = 0;

void QuitWhenIdle()
{
    PostThreadMessageW(g_dwMainThread, WM_QUIT, 0, 0);
}

bool HasSwitch(const wchar_t* pszCommandLine, const wchar_t* pszSwitch)
{
    for (const wchar_t* p = pszCommandLine; (p = wcschr(p, pszSwitch[0])) != nullptr; ++p) {
        if (p != pszCommandLine && p[-1] != L'/' && p[-1] != L'-') continue;
        if (_wcsnicmp(p, pszSwitch, wcslen(pszSwitch)) == 0) return true;
    }
    return false;
}

int Serve()
{
    // A client that never connects must not leave the server behind.
    constexpr UINT FIRST_CLIENT_WAIT_MS = 30000;
    g_dwMainThread = GetCurrentThreadId();
    SetServerIdleCallback(&QuitWhenIdle);
    IClassFactory* pFactory = CreateAppServicesFactory();
    DWORD dwCookie = 0;
    const HRESULT hr = CoRegisterClassObject(CLSID_AppServices, pFactory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &dwCookie);
    const UINT_PTR idTimer = SetTimer(nullptr, 0, FIRST_CLIENT_WAIT_MS, nullptr);
    bool bServed = false;
    MSG msg;
    while (SUCCEEDED(hr) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.wParam == idTimer) {
            KillTimer(nullptr, idTimer);
            if (!bServed && ServerObjectCount() == 0) break;
            continue;
        }
        if (ServerObjectCount() > 0) bServed = true;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    SetServerIdleCallback(nullptr);
    if (SUCCEEDED(hr)) CoRevokeClassObject(dwCookie);
    pFactory->Release();
    return SUCCEEDED(hr) ? 0 : 1;
}
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR pszCommandLine, int)
{
    if (FAILED(CoInitialize(nullptr))) return 1;
    int nExit = 0;
    if (HasSwitch(pszCommandLine, L"unregserver")) {
        nExit = SUCCEEDED(UnregisterAppServices()) ? 0 : 1;
    } else if (HasSwitch(pszCommandLine, L"regserver")) {
        wchar_t szPath[MAX_PATH] = L"";
        const DWORD n = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
        nExit = n > 0 && n < MAX_PATH && SUCCEEDED(RegisterAppServices(szPath, true)) ? 0 : 1;
    } else {
        nExit = Serve();
    }
    CoUninitialize();
    return nExit;
}
