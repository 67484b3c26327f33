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

namespace {
const wchar_t WOW_NODE[] = L"Wow6432Node";

// The path below its root, and below the root's "Wow6432Node" when it is
// under it; bRoot: the path is a root, bWow: it is a root's "Wow6432Node".
std::wstring BelowRoot(const std::wstring& strPath, bool& bRoot, bool& bWow)
{
    bRoot = bWow = false;
    const SnapshotRoot* pRoot = RootOfPath(strPath);
    if (!pRoot) return std::wstring();
    std::wstring strRest = strPath.substr(wcslen(pRoot->pszPath));
    bRoot = strRest.empty();
    if (bRoot) return strRest;
    strRest.erase(0, 1);
    const size_t nWow = wcslen(WOW_NODE);
    if (CompareNames(strRest.substr(0, nWow), WOW_NODE) == 0 && (strRest.size() == nWow || strRest[nWow] == L'\\')) {
        bWow = strRest.size() == nWow;
        strRest.erase(0, std::min(strRest.size(), nWow + 1));
    }
    return strRest;
}

bool IsOneOf(const std::wstring& strName, const std::vector<const wchar_t*>& names)
{
    for (const wchar_t* pszName : names)
        if (CompareNames(strName, pszName) == 0) return true;
    return false;
}
}

bool IsProtectedKey(const std::wstring& strPath)
{
    bool bRoot = false, bWow = false;
    const std::wstring strRest = BelowRoot(strPath, bRoot, bWow);
    return bRoot || bWow || IsOneOf(strRest, {L"CLSID", L"Interface", L"TypeLib", L"AppID", L"Installer"});
}

const std::vector<const wchar_t*>& LeftOutSubtrees()
{
    static const std::vector<const wchar_t*> s_names = {L"Local Settings", L"ActivatableClasses", L"PackagedCom",
                                                        L"Extensions", L"Installer"};
    return s_names;
}

bool IsViewTop(const std::wstring& strPath)
{
    bool bRoot = false, bWow = false;
    BelowRoot(strPath, bRoot, bWow);
    return bRoot || bWow;
}

bool IsLeftOutKey(const std::wstring& strPath)
{
    bool bRoot = false, bWow = false;
    const std::wstring strRest = BelowRoot(strPath, bRoot, bWow);
    return !bRoot && !bWow && IsOneOf(strRest, LeftOutSubtrees());
}

LONG snapshot_keys::OpenRoot(const SnapshotRoot& root, CRegKey& key)
{
    return RegOpenKeyExW(root.hRoot, root.pszSubKey, 0,
                         KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | SnapshotView(), key.Receive());
}

REGSAM SnapshotView()
{
    return ViewAccess(64);
}
