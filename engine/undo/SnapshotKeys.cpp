#include "engine/undo/SnapshotKeys.h"
#include "system/Registry.h"
#include <algorithm>
#include <cstring>

namespace {
SubKeyListingHook s_pSubKeyListingHook = nullptr;
}

namespace snapshot_keys {

void Step(CWorkProgress* pProgress, size_t nKeys)
{
    if (pProgress && nKeys % KEYS_PER_STEP == 0) pProgress->OnFolderEntered();
}

uint64_t Ticks(const FILETIME& ft)
{
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Opens a subkey for reading as itself: a symbolic link is opened, not
// followed.
LONG OpenForReading(HKEY hParent, const wchar_t* pszName, CRegKey& key)
{
    return RegOpenKeyExW(hParent, pszName, REG_OPTION_OPEN_LINK,
                         KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | SnapshotView(), key.Receive());
}

bool QueryInfo(HKEY hKey, KeyInfo& info)
{
    return RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, &info.nSubKeys, &info.nMaxSubKeyChars, nullptr,
                            &info.nValues, &info.nMaxNameChars, &info.nMaxDataBytes, nullptr, &info.ftWrite) == ERROR_SUCCESS;
}

// A link has no subkeys and one value, its target, of the link type.
bool IsLink(HKEY hKey, const KeyInfo& info)
{
    if (info.nSubKeys != 0 || info.nValues != 1) return false;
    DWORD dwType = REG_NONE;
    return RegQueryValueExW(hKey, L"SymbolicLinkValue", nullptr, &dwType, nullptr, nullptr) == ERROR_SUCCESS &&
           dwType == REG_LINK;
}

bool NameLess(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

int CompareNames(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) - CSTR_EQUAL;
}

// The key's subkeys, in the order names compare in the registry.
std::vector<SubKey> SubKeys(HKEY hKey, const KeyInfo& info)
{
    std::vector<SubKey> subKeys;
    subKeys.reserve(info.nSubKeys);
    std::vector<wchar_t> buffer(info.nMaxSubKeyChars + 2);
    for (DWORD i = 0; i < info.nSubKeys; ++i) {
        DWORD nChars = static_cast<DWORD>(buffer.size());
        FILETIME ftWrite = {};
        const LONG nResult = RegEnumKeyExW(hKey, i, buffer.data(), &nChars, nullptr, nullptr, nullptr, &ftWrite);
        if (nResult == ERROR_MORE_DATA && buffer.size() < 32768) {
            buffer.resize(32768);
            --i;
            continue;
        }
        if (nResult != ERROR_SUCCESS) break;
        subKeys.push_back({std::wstring(buffer.data(), nChars), ftWrite});
        if (i == 0 && s_pSubKeyListingHook) s_pSubKeyListingHook(hKey);
    }
    // The registry lists them in that order already, but for a name it
    // compares otherwise: sorted only when needed.
    const auto less = [](const SubKey& a, const SubKey& b) { return NameLess(a.strName, b.strName); };
    if (!std::is_sorted(subKeys.begin(), subKeys.end(), less)) std::sort(subKeys.begin(), subKeys.end(), less);
    return subKeys;
}

void AppendBytes(std::vector<BYTE>& out, const void* pBytes, size_t nBytes)
{
    const size_t nAt = out.size();
    out.resize(nAt + nBytes);
    if (nBytes) std::memcpy(out.data() + nAt, pBytes, nBytes);
}

void AppendWord(std::vector<BYTE>& out, uint32_t n)
{
    AppendBytes(out, &n, sizeof n);
}

// Reads every value into the packed form: for each, the name's length in
// characters, the type, the data's length in bytes, the name, the data. The
// counts the key gave bound the calls: every call is a trip to the registry.
uint32_t ReadValues(HKEY hKey, const KeyInfo& info, std::vector<BYTE>& packed)
{
    std::vector<wchar_t> name(info.nMaxNameChars + 2);
    std::vector<BYTE> data(std::max<DWORD>(info.nMaxDataBytes, 16));
    uint32_t nCount = 0;
    for (DWORD i = 0; i < info.nValues; ++i) {
        DWORD nChars = static_cast<DWORD>(name.size());
        DWORD nBytes = static_cast<DWORD>(data.size());
        DWORD dwType = REG_NONE;
        const LONG nResult = RegEnumValueW(hKey, i, name.data(), &nChars, nullptr, &dwType, data.data(), &nBytes);
        if (nResult == ERROR_MORE_DATA) {
            // Written while being read: grow to what the key holds now.
            KeyInfo now;
            if (!QueryInfo(hKey, now) || (now.nMaxNameChars + 2 <= name.size() && now.nMaxDataBytes <= data.size())) break;
            name.resize(std::max<size_t>(name.size(), now.nMaxNameChars + 2));
            data.resize(std::max<size_t>(data.size(), now.nMaxDataBytes));
            --i;
            continue;
        }
        if (nResult != ERROR_SUCCESS) break;
        AppendWord(packed, nChars);
        AppendWord(packed, dwType);
        AppendWord(packed, nBytes);
        AppendBytes(packed, name.data(), nChars * sizeof(wchar_t));
        AppendBytes(packed, data.data(), nBytes);
        ++nCount;
    }
    return nCount;
}

// The values sorted by name, as the registry compares them.
std::vector<const RegistryValue*> ByName(const std::vector<RegistryValue>& values)
{
    std::vector<const RegistryValue*> sorted;
    for (const RegistryValue& value : values) sorted.push_back(&value);
    std::sort(sorted.begin(), sorted.end(),
              [](const RegistryValue* a, const RegistryValue* b) { return NameLess(a->strName, b->strName); });
    return sorted;
}
bool SameReading(const KeyInfo& a, const KeyInfo& b)
{
    return CompareFileTime(&a.ftWrite, &b.ftWrite) == 0 && a.nSubKeys == b.nSubKeys && a.nValues == b.nValues;
}
}

namespace {
bool TakeWord(const BYTE* pBytes, size_t nBytes, size_t& pos, uint32_t& n)
{
    if (pos > nBytes || nBytes - pos < sizeof n) return false;
    std::memcpy(&n, pBytes + pos, sizeof n);
    pos += sizeof n;
    return true;
}
}

void SetSubKeyListingHook(SubKeyListingHook pHook)
{
    s_pSubKeyListingHook = pHook;
}

bool UnpackValues(const BYTE* pPacked, size_t nBytes, std::vector<RegistryValue>& values)
{
    size_t pos = 0;
    while (pos < nBytes) {
        uint32_t nChars = 0, nData = 0, dwType = 0;
        RegistryValue value;
        if (!TakeWord(pPacked, nBytes, pos, nChars) || !TakeWord(pPacked, nBytes, pos, dwType) ||
            !TakeWord(pPacked, nBytes, pos, nData))
            return false;
        value.dwType = dwType;
        const size_t nNameBytes = static_cast<size_t>(nChars) * sizeof(wchar_t);
        if (nBytes - pos < nNameBytes || nBytes - pos - nNameBytes < nData) return false;
        value.strName.resize(nChars);
        if (nChars) std::memcpy(&value.strName[0], pPacked + pos, nNameBytes);
        pos += nNameBytes;
        value.data.assign(pPacked + pos, pPacked + pos + nData);
        pos += nData;
        values.push_back(std::move(value));
    }
    return true;
}
