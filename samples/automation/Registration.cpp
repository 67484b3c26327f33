#include "Server.h"
#include <string>

namespace {
const wchar_t PROGID[] = L"Torvex.AppServices.1";
const wchar_t DESCRIPTION[] = L"Torvex Application Services";

std::wstring ClsidKey()
{
    wchar_t szClsid[64] = L"";
    StringFromGUID2(CLSID_AppServices, szClsid, 64);
    return std::wstring(L"CLSID\\") + szClsid;
}

LONG SetValue(const std::wstring& key, const wchar_t* pszName, const std::wstring& value)
{
    HKEY hKey = nullptr;
    LONG result = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
    if (result != ERROR_SUCCESS) return result;
    result = RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
    return result;
}

LONG DeleteTree(const std::wstring& key)
{
    const LONG result = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) {
        RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        return ERROR_SUCCESS;
    }
    return result;
}

#ifdef _WIN64
const SYSKIND TYPELIB_SYSKIND = SYS_WIN64;
#else
const SYSKIND TYPELIB_SYSKIND = SYS_WIN32;
#endif
}

HRESULT RegisterAppServices(const wchar_t* pszModulePath, bool bLocalServer)
{
    const std::wstring clsidKey = ClsidKey();
    wchar_t szClsid[64] = L"";
    StringFromGUID2(CLSID_AppServices, szClsid, 64);
    LONG result = SetValue(PROGID, nullptr, DESCRIPTION);
    if (result == ERROR_SUCCESS) result = SetValue(std::wstring(PROGID) + L"\\CLSID", nullptr, szClsid);
    if (result == ERROR_SUCCESS) result = SetValue(clsidKey, nullptr, DESCRIPTION);
    if (result == ERROR_SUCCESS) result = SetValue(clsidKey + L"\\ProgID", nullptr, PROGID);
    if (result == ERROR_SUCCESS && bLocalServer) {
        DeleteTree(clsidKey + L"\\InprocServer32");
        result = SetValue(clsidKey + L"\\LocalServer32", nullptr, std::wstring(L"\"") + pszModulePath + L"\"");
    } else if (result == ERROR_SUCCESS) {
        DeleteTree(clsidKey + L"\\LocalServer32");
        result = SetValue(clsidKey + L"\\InprocServer32", nullptr, pszModulePath);
        if (result == ERROR_SUCCESS) result = SetValue(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    }
    if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
    if (!bLocalServer) return S_OK;
    // The type library in the executable's resources describes the
    // interfaces, so that the universal marshaler carries them across
    // processes; registering it also registers every interface.
    ITypeLib* pTypeLib = nullptr;
    const HRESULT hr = LoadTypeLibEx(pszModulePath, REGKIND_REGISTER, &pTypeLib);
    if (pTypeLib) pTypeLib->Release();
    return hr;
}

HRESULT UnregisterAppServices()
{
    UnRegisterTypeLib(LIBID_TorvexAutomation, 1, 0, LOCALE_NEUTRAL, TYPELIB_SYSKIND);
    const LONG resultClass = DeleteTree(ClsidKey());
    const LONG resultProgID = DeleteTree(PROGID);
    if (resultClass != ERROR_SUCCESS) return HRESULT_FROM_WIN32(resultClass);
    return HRESULT_FROM_WIN32(resultProgID);
}
