#include "ServerRegistration.h"
#include <cstdio>
#include <cstdint>

namespace {

// Paths are kept in UTF-8 and reach the system through the W functions, so a
// server registers its real path whatever code page its process runs with.
std::wstring Widen(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const wchar_t* pText, int nLength)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, pText, nLength, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, pText, nLength, &text[0], n, nullptr, nullptr);
    return text;
}

// FNV-1a over the lower-cased name: the same name always gives the same CLSID.
uint64_t HashName(const std::string& strName, uint64_t nSeed)
{
    uint64_t nHash = nSeed;
    for (char ch : strName) {
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        nHash ^= static_cast<unsigned char>(ch);
        nHash *= 1099511628211ull;
    }
    return nHash;
}

LONG SetDefaultValue(const std::string& strKey, const std::string& strValue)
{
    HKEY hKey = nullptr;
    LONG nError = RegCreateKeyExA(HKEY_CLASSES_ROOT, strKey.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &hKey, nullptr);
    if (nError != ERROR_SUCCESS) return nError;
    const std::wstring value = Widen(strValue);
    nError = RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
    return nError;
}

// The REG_SZ default value of a key; false when the key or value is absent or
// of another type.
bool GetDefaultValue(const std::string& strKey, std::string& strValue)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, strKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return false;
    wchar_t szValue[1024] = L"";
    DWORD nType = 0, nSize = sizeof szValue - sizeof(wchar_t);
    const LONG nError = RegQueryValueExW(hKey, nullptr, nullptr, &nType,
                                         reinterpret_cast<BYTE*>(szValue), &nSize);
    RegCloseKey(hKey);
    if (nError != ERROR_SUCCESS || nType != REG_SZ) return false;
    szValue[nSize / sizeof(wchar_t)] = L'\0';
    strValue = Narrow(szValue, -1);
    if (!strValue.empty() && strValue.back() == '\0') strValue.pop_back();
    return true;
}

// Deletes a key we made when nothing else (value or subkey) lives in it.
void DeleteIfEmpty(const std::string& strKey)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, strKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return;
    DWORD nSubKeys = 0, nValues = 0;
    const LONG nError = RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &nSubKeys, nullptr, nullptr,
                                         &nValues, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(hKey);
    if (nError == ERROR_SUCCESS && nSubKeys == 0 && nValues == 0)
        RegDeleteKeyA(HKEY_CLASSES_ROOT, strKey.c_str());
}

// Deletes a key holding only the default value we wrote, while it still says
// what we wrote; another server's registration is left alone.
void DeleteOwnKey(const std::string& strKey, const std::string& strExpected)
{
    std::string strValue;
    const std::wstring expected = Widen(strExpected);
    if (GetDefaultValue(strKey, strValue) &&
        CompareStringOrdinal(Widen(strValue).c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, strKey.c_str(), 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueA(hKey, nullptr);
            RegCloseKey(hKey);
        }
    }
    DeleteIfEmpty(strKey);
}

} // namespace

std::string DeriveClsid(const std::string& strName)
{
    const uint64_t nHigh = HashName(strName, 14695981039346656037ull);
    const uint64_t nLow = HashName(strName, 0x6b656c76617261ull);
    char szClsid[40];
    std::snprintf(szClsid, sizeof szClsid, "{%08X-%04X-%04X-%04X-%012llX}",
                  static_cast<unsigned>(nHigh >> 32), static_cast<unsigned>((nHigh >> 16) & 0xFFFF),
                  static_cast<unsigned>((nHigh & 0x0FFF) | 0x5000),
                  static_cast<unsigned>(((nLow >> 48) & 0x3FFF) | 0x8000),
                  static_cast<unsigned long long>(nLow & 0xFFFFFFFFFFFFull));
    return szClsid;
}

std::string ModulePath(HMODULE hModule)
{
    wchar_t szPath[MAX_PATH] = L"";
    const DWORD nLength = GetModuleFileNameW(hModule, szPath, MAX_PATH);
    return nLength > 0 && nLength < MAX_PATH ? Narrow(szPath, static_cast<int>(nLength)) : std::string();
}

ServerIdentity FixedIdentity(const std::string& strPath, const char* pszProgID, const char* pszServerKey)
{
    return {strPath, pszProgID, DeriveClsid(pszProgID), pszServerKey};
}

HRESULT WriteRegistration(const ServerIdentity& server)
{
    if (server.strPath.empty()) return E_FAIL;
    LONG nError = SetDefaultValue("CLSID\\" + server.strClsid + "\\" + server.pszServerKey, server.strPath);
    if (nError == ERROR_SUCCESS && !server.strProgID.empty())
        nError = SetDefaultValue(server.strProgID + "\\Clsid", server.strClsid);
    return HRESULT_FROM_WIN32(nError);
}

HRESULT RemoveRegistration(const ServerIdentity& server)
{
    if (!server.strProgID.empty()) {
        DeleteOwnKey(server.strProgID + "\\Clsid", server.strClsid);
        DeleteIfEmpty(server.strProgID);
    }
    const std::string strClsidKey = "CLSID\\" + server.strClsid;
    DeleteOwnKey(strClsidKey + "\\" + server.pszServerKey, server.strPath);
    DeleteIfEmpty(strClsidKey);
    return S_OK;
}
