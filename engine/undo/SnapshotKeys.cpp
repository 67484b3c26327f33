#include "engine/undo/SnapshotKeys.h"
#include "system/Registry.h"
#include <algorithm>
#include <cstring>

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
    }
    std::sort(subKeys.begin(), subKeys.end(), [](const SubKey& a, const SubKey& b) { return NameLess(a.strName, b.strName); });
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

// Reads one word at pos and moves past it; false past the end.
bool TakeWord(const std::vector<BYTE>& bytes, size_t& pos, uint32_t& n)
{
    if (bytes.size() - pos < sizeof n || pos > bytes.size()) return false;
    std::memcpy(&n, bytes.data() + pos, sizeof n);
    pos += sizeof n;
    return true;
}

bool TakeWord(const std::vector<BYTE>& bytes, size_t& pos, DWORD& n)
{
    uint32_t nWord = 0;
    if (!TakeWord(bytes, pos, nWord)) return false;
    n = nWord;
    return true;
}

bool UnpackChecked(const std::vector<BYTE>& packed, std::vector<RegistryValue>& values)
{
    size_t pos = 0;
    while (pos < packed.size()) {
        uint32_t nChars = 0, nBytes = 0;
        RegistryValue value;
        if (!TakeWord(packed, pos, nChars) || !TakeWord(packed, pos, value.dwType) || !TakeWord(packed, pos, nBytes))
            return false;
        const size_t nNameBytes = static_cast<size_t>(nChars) * sizeof(wchar_t);
        if (packed.size() - pos < nNameBytes || packed.size() - pos - nNameBytes < nBytes) return false;
        value.strName.resize(nChars);
        if (nChars) std::memcpy(&value.strName[0], packed.data() + pos, nNameBytes);
        pos += nNameBytes;
        value.data.assign(packed.data() + pos, packed.data() + pos + nBytes);
        pos += nBytes;
        values.push_back(std::move(value));
    }
    return true;
}

const std::wstring& ChildName(const std::wstring& strChildPath, size_t nParentLength, std::wstring& strName)
{
    strName.assign(strChildPath, nParentLength + 1, std::wstring::npos);
    return strName;
}

void RecreateSubtree(const std::vector<CRegistrySnapshot::Key>& keys, size_t iFirst, std::vector<RegistryKeyChange>& out)
{
    for (size_t k = iFirst; k < iFirst + keys[iFirst].nSubtree; ++k) {
        if (keys[k].bUnreadable) continue;
        RegistryKeyChange change;
        change.strPath = keys[k].strPath;
        for (RegistryValue& value : UnpackValues(keys[k].packed)) change.values.push_back({std::move(value), false});
        out.push_back(std::move(change));
    }
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
}
