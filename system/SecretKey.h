#pragma once
#include <windows.h>
#include <vector>

// Where the secret that keys this program's own files is kept.
enum class KeyScope {
    Machine,   // HKEY_LOCAL_MACHINE\SOFTWARE\Kelvara\Forge Support\Keys (64-bit view always: both bitnesses share it), readable by SYSTEM and Administrators only
    User,      // HKEY_CURRENT_USER\Software\Kelvara\Forge Support\Keys, the user's own
};

// Reads the 32-byte key of the scope, making it (random) the first time.
// ERROR_SUCCESS, or the error: ERROR_ACCESS_DENIED for Machine in a process
// without administrator rights; ERROR_INVALID_SECURITY_DESCR when an existing
// machine key's rights let anyone but SYSTEM and Administrators read or
// change it (then it is not used).
DWORD ReadSecretKey(KeyScope scope, std::vector<BYTE>& key);
