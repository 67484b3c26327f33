// The keys a snapshot covers, and the rules its paths keep.
#include "engine/undo/RegistrySnapshot.h"
#include "engine/undo/SnapshotKeys.h"
#include "system/Registry.h"
#include <algorithm>
#include <cstring>
#include <utility>

using namespace snapshot_keys;

const std::vector<SnapshotRoot>& SnapshotRoots()
{
    static const std::vector<SnapshotRoot> s_roots = {
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"},
        {HKEY_CURRENT_USER, L"Software\\Classes", L"HKEY_CURRENT_USER\\Software\\Classes"},
    };
    return s_roots;
}

const SnapshotRoot* RootOfPath(const std::wstring& strPath, std::wstring* pSubKey)
{
    for (const SnapshotRoot& root : SnapshotRoots()) {
        const size_t nRoot = wcslen(root.pszPath);
        if (strPath.size() < nRoot || CompareNames(strPath.substr(0, nRoot), root.pszPath) != 0) continue;
        if (strPath.size() > nRoot && strPath[nRoot] != L'\\') continue;
        if (pSubKey) *pSubKey = std::wstring(root.pszSubKey) + strPath.substr(nRoot);
        return &root;
    }
    return nullptr;
}

namespace {
bool IsSoundName(size_t nStart, size_t nEnd)
{
    return nEnd > nStart && nEnd - nStart <= MAX_KEY_NAME_CHARS;
}
}

bool IsWrittenBefore(const FILETIME& ftWrite, const FILETIME& ftTaken)
{
    return Ticks(ftWrite) + KEY_TIME_MARGIN < Ticks(ftTaken);
}

bool IsRootPath(const std::wstring& strPath)
{
    for (const SnapshotRoot& root : SnapshotRoots())
        if (CompareNames(strPath, root.pszPath) == 0) return true;
    return false;
}

bool IsChildPath(const std::wstring& strParent, const std::wstring& strChild)
{
    const size_t n = strParent.size();
    return strChild.size() > n + 1 && strChild.compare(0, n, strParent) == 0 && strChild[n] == L'\\' &&
           strChild.find(L'\\', n + 1) == std::wstring::npos && IsSoundName(n + 1, strChild.size());
}

bool IsWellFormedKeyPath(const std::wstring& strPath)
{
    const SnapshotRoot* pRoot = RootOfPath(strPath);
    if (!pRoot) return false;
    const size_t nRoot = wcslen(pRoot->pszPath);
    for (size_t nStart = nRoot + 1; nStart <= strPath.size() && nRoot < strPath.size();) {
        size_t nEnd = strPath.find(L'\\', nStart);
        if (nEnd == std::wstring::npos) nEnd = strPath.size();
        if (!IsSoundName(nStart, nEnd)) return false;
        nStart = nEnd + 1;
    }
    return true;
}

bool IsProtectedKey(const std::wstring& strPath)
{
    const SnapshotRoot* pRoot = RootOfPath(strPath);
    if (!pRoot) return false;
    std::wstring strRest = strPath.substr(wcslen(pRoot->pszPath));
    if (strRest.empty()) return true;
    strRest.erase(0, 1);
    static const wchar_t s_szWow[] = L"Wow6432Node";
    const size_t nWow = wcslen(s_szWow);
    if (CompareNames(strRest.substr(0, nWow), s_szWow) == 0 && (strRest.size() == nWow || strRest[nWow] == L'\\')) {
        if (strRest.size() == nWow) return true;
        strRest.erase(0, nWow + 1);
    }
    for (const wchar_t* pszName : {L"CLSID", L"Interface", L"TypeLib", L"AppID", L"Installer"})
        if (CompareNames(strRest, pszName) == 0) return true;
    return false;
}

REGSAM SnapshotView()
{
    return ViewAccess(64);
}

std::vector<RegistryValue> UnpackValues(const std::vector<BYTE>& packed)
{
    std::vector<RegistryValue> values;
    UnpackChecked(packed, values);
    return values;
}
