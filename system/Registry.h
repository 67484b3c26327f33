#pragma once
#include "framework/CString.h"

// A registry value as stored: its type, and for the two string types
// (REG_SZ, REG_EXPAND_SZ) its text up to the first NUL, unexpanded.
struct RegValue {
    bool bExists = false;
    DWORD dwType = REG_NONE;
    CString strText;
};

// Reads one value whole, whatever its length; samView adds KEY_WOW64_32KEY
// or KEY_WOW64_64KEY to choose a registry view. Missing key or value: bExists
// false.
RegValue ReadRegValue(HKEY hRoot, const CString& strSubKey, const char* pszValueName, REGSAM samView = 0);

// A REG_SZ value's text; empty when the key or value is missing or the value
// is of another type (an expandable string is not expanded). This is the rule
// by which a ProgID's "Clsid" counts.
CString ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName);

// "REG_SZ", "REG_EXPAND_SZ", ... or "type N" for a type the system does not name.
CString RegTypeName(DWORD dwType);

// The registry view of a bitness (32 or 64): the access flag that opens it
// from either build; 0 on a 32-bit system, which has one view.
REGSAM ViewAccess(int nViewBits);
// The view this build reads without a flag: 64 or 32.
int OwnViewBits();

// True when this process may create keys under the machine's classes
// (HKEY_LOCAL_MACHINE\SOFTWARE\Classes), as registering a server does.
bool CanWriteMachineClasses();
