#include "system/SecretKey.h"
#include "system/Crypto.h"
#include "system/FolderTrust.h"
#include "framework/CRegKey.h"

namespace {
constexpr DWORD kKeyBytes = 32;
const wchar_t kValueName[] = L"Undo";
const wchar_t kMachineKey[] = L"SOFTWARE\\Kelvara\\Forge Support\\Keys";
const wchar_t kUserKey[] = L"Software\\Kelvara\\Forge Support\\Keys";
// SYSTEM and Administrators alone, nothing inherited from above: a standard
// user, and an administrator's filtered token, cannot even open it.
const wchar_t kMachineSddl[] = L"O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)";
// For a secret any right of anyone else is one too many, reading included.
constexpr ACCESS_MASK kAnyRight = ~static_cast<ACCESS_MASK>(0);
// How long a process that found the key waits for its maker's value: about a second.
constexpr int kValueWaits = 40;
constexpr DWORD kValueWaitMs = 25;

// ERROR_SUCCESS with the 32 bytes, ERROR_FILE_NOT_FOUND when the value is
// missing, ERROR_INVALID_DATA when it is of another type or size.
LONG QueryKey(HKEY hKey, std::vector<BYTE>& key)
{
    BYTE buffer[kKeyBytes + 1] = {};
    DWORD dwType = REG_NONE;
    DWORD cbData = sizeof buffer;
    const LONG lResult = RegQueryValueExW(hKey, kValueName, nullptr, &dwType, buffer, &cbData);
    if (lResult == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
    if (lResult != ERROR_SUCCESS) return lResult;
    if (dwType != REG_BINARY || cbData != kKeyBytes) return ERROR_INVALID_DATA;
    key.assign(buffer, buffer + kKeyBytes);
    SecureZeroMemory(buffer, sizeof buffer);
    return ERROR_SUCCESS;
}

LONG WriteNewKey(HKEY hKey)
{
    BYTE secret[kKeyBytes];
    if (!RandomBytes(secret, sizeof secret)) return ERROR_GEN_FAILURE;
    const LONG lResult = RegSetValueExW(hKey, kValueName, 0, REG_BINARY, secret, sizeof secret);
    SecureZeroMemory(secret, sizeof secret);
    return lResult;
}

// The key's owner and rights, judged as a trusted folder's are.
LONG JudgeKey(HKEY hKey)
{
    const SECURITY_INFORMATION info = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD cbSecurity = 0;
    LONG lResult = RegGetKeySecurity(hKey, info, nullptr, &cbSecurity);
    if (lResult != ERROR_INSUFFICIENT_BUFFER || cbSecurity == 0) return ERROR_INVALID_SECURITY_DESCR;
    std::vector<BYTE> security(cbSecurity);
    lResult = RegGetKeySecurity(hKey, info, security.data(), &cbSecurity);
    if (lResult != ERROR_SUCCESS) return ERROR_INVALID_SECURITY_DESCR;
    return JudgeOwnerAndGrants(security.data(), kAnyRight) == TrustProblem::None ? ERROR_SUCCESS : ERROR_INVALID_SECURITY_DESCR;
}
}

DWORD ReadSecretKey(KeyScope scope, std::vector<BYTE>& key)
{
    key.clear();
    const bool bMachine = scope == KeyScope::Machine;
    const SecurityPtr security = bMachine ? SecurityFromSddl(kMachineSddl) : SecurityPtr();
    if (bMachine && !security) return GetLastError();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.get(), FALSE};

    // Both bitnesses share the 64-bit view: a file keyed by one is checked by the other.
    CRegKey hKey;
    DWORD dwDisposition = 0;
    LONG lResult = RegCreateKeyExW(bMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, bMachine ? kMachineKey : kUserKey, 0,
                                   nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE | READ_CONTROL | KEY_WOW64_64KEY,
                                   bMachine ? &attributes : nullptr, hKey.Receive(), &dwDisposition);
    if (lResult != ERROR_SUCCESS) return static_cast<DWORD>(lResult);
    if (bMachine && (lResult = JudgeKey(hKey.Get())) != ERROR_SUCCESS) return static_cast<DWORD>(lResult);

    // Only the process that made the key writes the first secret; one that
    // found it waits a little for the maker's value, so that both agree.
    std::vector<BYTE> value;
    lResult = QueryKey(hKey.Get(), value);
    if (lResult == ERROR_FILE_NOT_FOUND && dwDisposition == REG_CREATED_NEW_KEY) {
        if ((lResult = WriteNewKey(hKey.Get())) != ERROR_SUCCESS) return static_cast<DWORD>(lResult);
        lResult = QueryKey(hKey.Get(), value);
    }
    for (int nWait = 0; lResult == ERROR_FILE_NOT_FOUND && nWait < kValueWaits; ++nWait) {
        Sleep(kValueWaitMs);
        lResult = QueryKey(hKey.Get(), value);
    }
    // A maker that ended before writing, or a damaged value: a new secret
    // replaces it (files keyed with a lost one are unusable anyway), and what
    // is read back is the one used.
    if (lResult == ERROR_FILE_NOT_FOUND || lResult == ERROR_INVALID_DATA) {
        if ((lResult = WriteNewKey(hKey.Get())) != ERROR_SUCCESS) return static_cast<DWORD>(lResult);
        lResult = QueryKey(hKey.Get(), value);
    }
    if (lResult != ERROR_SUCCESS) return static_cast<DWORD>(lResult);
    key.swap(value);
    return ERROR_SUCCESS;
}
