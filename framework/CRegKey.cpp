#include "framework/CRegKey.h"

std::optional<CRegKey> CRegKey::Open(HKEY hRoot, const CString& strSubKey, REGSAM samDesired)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, strSubKey, 0, samDesired, &hKey) != ERROR_SUCCESS) return std::nullopt;
    return CRegKey(hKey);
}
