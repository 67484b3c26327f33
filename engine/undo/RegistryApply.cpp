// Putting registry changes in place, as a registry file of ours says them.
#include "engine/undo/RegistryApply.h"

namespace {
typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE);

// Deletes the key and everything under it. Each key is opened as itself, so
// a symbolic link is deleted, never what it points to.
LONG DeleteTree(HKEY hParent, const std::wstring& strName, bool& bMade)
{
    static const NtDeleteKeyFn s_pDelete =
        reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    HKEY hKey = nullptr;
    LONG nResult = RegOpenKeyExW(hParent, strName.c_str(), REG_OPTION_OPEN_LINK,
                                 KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE | SnapshotView(), &hKey);
    if (nResult == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (nResult != ERROR_SUCCESS) return nResult;
    std::vector<std::wstring> children;
    wchar_t szName[256] = L"";
    for (DWORD i = 0;; ++i) {
        DWORD nChars = 256;
        if (RegEnumKeyExW(hKey, i, szName, &nChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(szName, nChars);
    }
    for (const std::wstring& strChild : children)
        if ((nResult = DeleteTree(hKey, strChild, bMade)) != ERROR_SUCCESS) break;
    if (nResult == ERROR_SUCCESS) nResult = s_pDelete && s_pDelete(hKey) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    if (nResult == ERROR_SUCCESS) bMade = true;
    RegCloseKey(hKey);
    return nResult;
}

// The root and subkey that a change's path names, for the hive given.
bool TargetOf(const std::wstring& strPath, const std::wstring& strUserHive, HKEY& hRoot, std::wstring& strSubKey)
{
    const SnapshotRoot* pRoot = RootOfPath(strPath, &strSubKey);
    if (!pRoot) return false;
    hRoot = pRoot->hRoot;
    if (hRoot == HKEY_CURRENT_USER && !strUserHive.empty()) {
        hRoot = HKEY_USERS;
        strSubKey = strUserHive + L'\\' + strSubKey;
    }
    return true;
}

// bMade: something of the change was made, even when it then failed.
LONG ApplyChange(const RegistryKeyChange& change, const std::wstring& strUserHive, bool& bMade)
{
    std::wstring strSubKey;
    HKEY hRoot = nullptr;
    if (!TargetOf(change.strPath, strUserHive, hRoot, strSubKey)) return ERROR_INVALID_PARAMETER;
    if (change.bDelete) {
        const size_t nSlash = strSubKey.rfind(L'\\');
        HKEY hParent = nullptr;
        const LONG nResult = RegOpenKeyExW(hRoot, strSubKey.substr(0, nSlash).c_str(), 0,
                                           KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | SnapshotView(), &hParent);
        if (nResult == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (nResult != ERROR_SUCCESS) return nResult;
        const LONG nDeleted = DeleteTree(hParent, strSubKey.substr(nSlash + 1), bMade);
        RegCloseKey(hParent);
        return nDeleted;
    }
    HKEY hKey = nullptr;
    DWORD dwDisposition = 0;
    LONG nResult = RegCreateKeyExW(hRoot, strSubKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_QUERY_VALUE | SnapshotView(), nullptr, &hKey, &dwDisposition);
    if (nResult != ERROR_SUCCESS) return nResult;
    if (dwDisposition == REG_CREATED_NEW_KEY) bMade = true;
    for (const RegistryValueChange& item : change.values) {
        const RegistryValue& value = item.value;
        LONG nOne = item.bDelete ? RegDeleteValueW(hKey, value.strName.c_str())
                                 : RegSetValueExW(hKey, value.strName.c_str(), 0, value.dwType,
                                                  value.data.empty() ? nullptr : value.data.data(),
                                                  static_cast<DWORD>(value.data.size()));
        if (nOne == ERROR_SUCCESS) bMade = true;
        if (item.bDelete && nOne == ERROR_FILE_NOT_FOUND) nOne = ERROR_SUCCESS;
        if (nResult == ERROR_SUCCESS) nResult = nOne;
    }
    RegCloseKey(hKey);
    return nResult;
}
}

std::wstring FirstOlderDeletedKey(const std::vector<RegistryKeyChange>& changes, const FILETIME& ftTaken,
                                  const std::wstring& strUserHive)
{
    for (const RegistryKeyChange& change : changes) {
        std::wstring strSubKey;
        HKEY hRoot = nullptr, hKey = nullptr;
        if (!change.bDelete || !TargetOf(change.strPath, strUserHive, hRoot, strSubKey) ||
            RegOpenKeyExW(hRoot, strSubKey.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | SnapshotView(), &hKey) !=
                ERROR_SUCCESS)
            continue;
        FILETIME ftWrite = {};
        const bool bOlder = RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, &ftWrite) == ERROR_SUCCESS &&
                            IsWrittenBefore(ftWrite, ftTaken);
        RegCloseKey(hKey);
        if (bOlder) return change.strPath;
    }
    return std::wstring();
}

bool ApplyRegistryChanges(const std::vector<RegistryKeyChange>& changes, DWORD& dwFirstError, std::wstring& strFirstKey,
                          bool* pbAnyMade, const std::wstring& strUserHive)
{
    dwFirstError = ERROR_SUCCESS;
    bool bMade = false;
    if (pbAnyMade) *pbAnyMade = false;
    for (const RegistryKeyChange& change : changes) {
        const LONG nResult = ApplyChange(change, strUserHive, bMade);
        if (pbAnyMade) *pbAnyMade = bMade;
        if (nResult == ERROR_SUCCESS || dwFirstError != ERROR_SUCCESS) continue;
        dwFirstError = static_cast<DWORD>(nResult);
        strFirstKey = change.strPath;
    }
    return dwFirstError == ERROR_SUCCESS;
}
