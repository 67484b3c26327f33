// SampleShareSrv.dll: an in-process server whose unregistration removes more
// than its registration writes, as a heavy-handed uninstaller does. Installed
// under a catalogue file name it registers that entry's ProgID; its
// unregistration then also deletes
//   - the whole "CLSID\{CLSID}" key, with whatever an installer put there;
//   - the installer's "InstalledBy" value beside the ProgID's "Clsid";
//   - the type library "TypeLib\{SHARE_LIBID}" that other products share;
//   - the AppID "AppID\{SHARE_APPID}" with its settings.
// SAMPLE_KILL_HOST (SampleShareKill.dll): registers, then ends the process
// that loaded it, as a server that crashes hard does.
#include "CatalogueIdentity.h"

namespace {
const char SHARE_LIBID[] = "{4B46A0E1-5C3D-4F21-9A7B-6E0D1C2B3A41}";
const char SHARE_APPID[] = "{4B46A0E2-5C3D-4F21-9A7B-6E0D1C2B3A42}";

HMODULE g_hModule = nullptr;

ServerIdentity Identity()
{
    return CatalogueIdentity(ModulePath(g_hModule), "Kelvara.ShareSample.1", "InprocServer32");
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD nReason, LPVOID)
{
    if (nReason == DLL_PROCESS_ATTACH) g_hModule = hInstance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    const ServerIdentity server = Identity();
    const HRESULT hr = WriteRegistration(server);
    const std::string strClsidKey = "CLSID\\" + server.strClsid;
    RegSetKeyValueA(HKEY_CLASSES_ROOT, strClsidKey.c_str(), "AppID", REG_SZ, SHARE_APPID, sizeof SHARE_APPID);
#ifdef SAMPLE_KILL_HOST
    TerminateProcess(GetCurrentProcess(), 9);
#endif
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    const ServerIdentity server = Identity();
    const HRESULT hr = RemoveRegistration(server);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + server.strClsid).c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ("CLSID\\" + server.strClsid).c_str());
    if (!server.strProgID.empty()) RegDeleteKeyValueA(HKEY_CLASSES_ROOT, server.strProgID.c_str(), "InstalledBy");
    for (const std::string& strShared : {std::string("TypeLib\\") + SHARE_LIBID, std::string("AppID\\") + SHARE_APPID}) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, strShared.c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, strShared.c_str());
    }
    return hr;
}
