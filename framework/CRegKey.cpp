#include "framework/CRegKey.h"

std::optional<CRegKey> CRegKey::Open(HKEY hRoot, const CString& strSubKey, REGSAM samDesired)
{
    HKEY hKey = nullptr;
    if (hRoot == HKEY_CLASSES_ROOT && (samDesired & (KEY_WOW64_64KEY | KEY_WOW64_32KEY))) {
        // Wine opens a new handle, never closed, for every key named below
        // HKEY_CLASSES_ROOT with a view flag. The merged view is read as
        // Windows gives it: the user's key when there is one, else the machine's.
        const CString strTail = strSubKey.IsEmpty() ? CString() : "\\" + strSubKey;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes" + strTail, 0, samDesired, &hKey) == ERROR_SUCCESS ||
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes" + strTail, 0, samDesired, &hKey) == ERROR_SUCCESS)
            return CRegKey(hKey);
        return std::nullopt;
    }
    if (RegOpenKeyExA(hRoot, strSubKey, 0, samDesired, &hKey) != ERROR_SUCCESS) return std::nullopt;
    return CRegKey(hKey);
}
