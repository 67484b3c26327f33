#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "framework/CRegKey.h"
#include <cstring>
#include <vector>

namespace {
constexpr DWORD VALUE_BUFFER_BYTES = 260;
}

RegValue ReadRegValue(HKEY hRoot, const CString& strSubKey, const char* pszValueName, REGSAM samView)
{
    RegValue value;
    const auto key = CRegKey::Open(hRoot, strSubKey, KEY_QUERY_VALUE | samView);
    if (!key) return value;

    // Most values fit the usual buffer; a longer one is read whole with the
    // size the first query reports (retried in case it grew in between).
    std::vector<BYTE> buffer(VALUE_BUFFER_BYTES);
    DWORD dwType = REG_NONE;
    DWORD cbData = 0;
    LONG lResult = ERROR_MORE_DATA;
    for (int nTry = 0; nTry < 4 && lResult == ERROR_MORE_DATA; ++nTry) {
        cbData = static_cast<DWORD>(buffer.size());
        lResult = RegQueryValueExA(key->Get(), pszValueName, nullptr, &dwType, buffer.data(), &cbData);
        if (lResult == ERROR_MORE_DATA) buffer.resize(static_cast<size_t>(cbData) + 1);
    }
    if (lResult != ERROR_SUCCESS) return value;
    value.bExists = true;
    value.dwType = dwType;
    if (dwType != REG_SZ && dwType != REG_EXPAND_SZ) return value;

    // The value need not end in NUL: take the bytes returned, up to the first NUL.
    const char* pText = reinterpret_cast<const char*>(buffer.data());
    const size_t nBytes = cbData < buffer.size() ? cbData : buffer.size();
    const void* pNul = std::memchr(pText, '\0', nBytes);
    const size_t nLength = pNul ? static_cast<size_t>(static_cast<const char*>(pNul) - pText) : nBytes;
    value.strText = CString(pText, static_cast<int>(nLength));
    return value;
}

CString ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName)
{
    const RegValue value = ReadRegValue(hRoot, strSubKey, strValueName);
    return value.bExists && value.dwType == REG_SZ ? value.strText : CString();
}

CString RegTypeName(DWORD dwType)
{
    switch (dwType) {
    case REG_NONE:                return "REG_NONE";
    case REG_SZ:                  return "REG_SZ";
    case REG_EXPAND_SZ:           return "REG_EXPAND_SZ";
    case REG_BINARY:              return "REG_BINARY";
    case REG_DWORD:               return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:    return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:                return "REG_LINK";
    case REG_MULTI_SZ:            return "REG_MULTI_SZ";
    case REG_RESOURCE_LIST:       return "REG_RESOURCE_LIST";
    case REG_QWORD:               return "REG_QWORD";
    default: {
        CString strName;
        strName.Format("type %lu", static_cast<unsigned long>(dwType));
        return strName;
    }
    }
}

REGSAM ViewAccess(int nViewBits)
{
    if (!IsSixtyFourBitSystem()) return 0;
    return nViewBits == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

int OwnViewBits()
{
    return sizeof(void*) == 8 ? 64 : 32;
}

bool CanWriteMachineClasses()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", 0, KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}
