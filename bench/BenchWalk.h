#pragma once
// A plain recursive walk of the snapshot's roots: the floor of any snapshot,
// against which the benchmarks measure it.
#include "engine/undo/RegistrySnapshot.h"
#include "framework/CRegKey.h"
#include <algorithm>
#include <vector>

struct WalkCount {
    size_t nKeys = 0;
    size_t nValues = 0;
};

// Every key opened, queried and listed, every value read whole into buffers
// sized from the key's own figures.
inline void WalkKey(HKEY hKey, WalkCount& count)
{
    DWORD nSubKeys = 0, nMaxSubKeyChars = 0, nValues = 0, nMaxNameChars = 0, nMaxDataBytes = 0;
    if (RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, &nSubKeys, &nMaxSubKeyChars, nullptr, &nValues, &nMaxNameChars,
                         &nMaxDataBytes, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    ++count.nKeys;
    std::vector<wchar_t> name(std::max(nMaxSubKeyChars, nMaxNameChars) + 1);
    std::vector<BYTE> data(nMaxDataBytes + 1);
    for (DWORD i = 0; i < nValues; ++i) {
        DWORD nChars = static_cast<DWORD>(name.size()), nBytes = static_cast<DWORD>(data.size()), dwType = REG_NONE;
        if (RegEnumValueW(hKey, i, name.data(), &nChars, nullptr, &dwType, data.data(), &nBytes) == ERROR_SUCCESS) ++count.nValues;
    }
    for (DWORD i = 0; i < nSubKeys; ++i) {
        DWORD nChars = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(hKey, i, name.data(), &nChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
        CRegKey child;
        // Opened as the snapshot opens it: a link is not followed.
        if (RegOpenKeyExW(hKey, name.data(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | SnapshotView(),
                          child.Receive()) == ERROR_SUCCESS)
            WalkKey(child.Get(), count);
    }
}

inline WalkCount WalkRoots()
{
    WalkCount count;
    for (const SnapshotRoot& root : SnapshotRoots()) {
        CRegKey key;
        if (RegOpenKeyExW(root.hRoot, root.pszSubKey, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | SnapshotView(),
                          key.Receive()) == ERROR_SUCCESS)
            WalkKey(key.Get(), count);
    }
    return count;
}
