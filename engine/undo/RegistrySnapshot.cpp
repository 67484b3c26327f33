#include "engine/undo/RegistrySnapshot.h"
#include "system/Registry.h"
#include "framework/CRegKey.h"
#include <algorithm>
#include <cstring>
#include <utility>

namespace {
// A key last written this long before the snapshot was taken, and written
// at the same time afterwards, has not been written since: a write during
// the press stamps it with a later time, even on a clock that ticks every
// 16 ms.
const uint64_t UNCHANGED_MARGIN = 2ULL * 10000000ULL;   // 2 s in 100 ns units
// How many keys are read between two calls of the progress.
const size_t KEYS_PER_STEP = 256;
// The smallest subtree below a root worth a watch of its own.
const uint32_t WATCHED_SUBTREE = 64;

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

struct KeyInfo {
    DWORD nSubKeys = 0, nMaxSubKeyChars = 0, nValues = 0, nMaxNameChars = 0, nMaxDataBytes = 0;
    FILETIME ftWrite = {};
};

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

// A subkey as its parent lists it: the name, and when it was last written.
struct SubKey {
    std::wstring strName;
    FILETIME ftWrite;
};

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

namespace {
// The only value of a link, naming its target.
bool IsLinkValue(const std::vector<BYTE>& packed, uint32_t nValues)
{
    static const wchar_t s_szName[] = L"SymbolicLinkValue";
    const size_t nName = wcslen(s_szName);
    uint32_t nChars = 0, dwType = 0;
    if (nValues != 1 || packed.size() < 12 + nName * sizeof(wchar_t)) return false;
    std::memcpy(&nChars, packed.data(), 4);
    std::memcpy(&dwType, packed.data() + 4, 4);
    return nChars == nName && dwType == REG_LINK && std::memcmp(packed.data() + 12, s_szName, nName * sizeof(wchar_t)) == 0;
}

// Asks the system to signal any change below the key from now on; null
// when it will not.
HANDLE WatchSubtree(HKEY hKey)
{
    HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (hEvent && RegNotifyChangeKeyValue(hKey, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, hEvent, TRUE) ==
                      ERROR_SUCCESS)
        return hEvent;
    if (hEvent) CloseHandle(hEvent);
    return nullptr;
}

// Reads a key and its subtree, depth first; a link is left out. With
// watches (a root's), each large subtree below it is watched from before it
// is read.
void CaptureKey(HKEY hKey, const std::wstring& strPath, std::vector<CRegistrySnapshot::Key>& keys, CWorkProgress* pProgress,
                std::vector<CRegistrySnapshot::Watch>* pWatches = nullptr)
{
    const size_t index = keys.size();
    Step(pProgress, index);
    keys.emplace_back();
    keys[index].strPath = strPath;
    KeyInfo info;
    if (!QueryInfo(hKey, info)) {
        keys[index].bUnreadable = true;
        return;
    }
    keys[index].ftWrite = info.ftWrite;
    keys[index].nSubKeys = info.nSubKeys;
    keys[index].nValues = ReadValues(hKey, info, keys[index].packed);
    if (info.nSubKeys == 0 && IsLinkValue(keys[index].packed, keys[index].nValues)) {
        keys.pop_back();
        return;
    }
    for (const SubKey& subKey : SubKeys(hKey, info)) {
        const std::wstring& strName = subKey.strName;
        const std::wstring strChild = strPath + L'\\' + strName;
        CRegKey child;
        if (OpenForReading(hKey, strName.c_str(), child) == ERROR_SUCCESS) {
            const size_t iChild = keys.size();
            HANDLE hEvent = pWatches ? WatchSubtree(child.Get()) : nullptr;
            CaptureKey(child.Get(), strChild, keys, pProgress);
            if (hEvent && keys.size() > iChild && keys[iChild].nSubtree >= WATCHED_SUBTREE)
                pWatches->push_back({iChild, child.Release(), hEvent});
            else if (hEvent)
                CloseHandle(hEvent);
            continue;
        }
        keys.emplace_back();
        keys.back().strPath = strChild;
        keys.back().bUnreadable = true;
    }
    keys[index].nSubtree = static_cast<uint32_t>(keys.size() - index);
}
}

CRegistrySnapshot::~CRegistrySnapshot()
{
    CloseWatches();
}

void CRegistrySnapshot::CloseWatches()
{
    for (const Watch& watch : m_watches) {
        CloseHandle(watch.hEvent);
        RegCloseKey(watch.hKey);
    }
    m_watches.clear();
}

bool CRegistrySnapshot::IsWatchedUnchanged(size_t iKey) const
{
    const auto it = std::lower_bound(m_watches.begin(), m_watches.end(), iKey,
                                     [](const Watch& watch, size_t i) { return watch.iKey < i; });
    if (it == m_watches.end() || it->iKey != iKey || WaitForSingleObject(it->hEvent, 0) != WAIT_TIMEOUT) return false;
    // Still the key that was read: one deleted and made again is another.
    KeyInfo info;
    return QueryInfo(it->hKey, info) && CompareFileTime(&info.ftWrite, &m_keys[iKey].ftWrite) == 0;
}

bool CRegistrySnapshot::Capture(CWorkProgress* pProgress)
{
    CloseWatches();
    m_keys.clear();
    GetSystemTimeAsFileTime(&m_ftTaken);
    for (const SnapshotRoot& root : SnapshotRoots()) {
        CRegKey key;
        const LONG nResult = OpenForReading(root.hRoot, root.pszSubKey, key);
        if (nResult == ERROR_FILE_NOT_FOUND) continue;
        if (nResult != ERROR_SUCCESS) return false;
        CaptureKey(key.Get(), root.pszPath, m_keys, pProgress, &m_watches);
    }
    return true;
}

size_t CRegistrySnapshot::ValueCount() const
{
    size_t nCount = 0;
    for (const Key& key : m_keys) nCount += key.nValues;
    return nCount;
}

namespace {
const char SNAPSHOT_MAGIC[8] = {'F', 'S', 'S', 'N', 'A', 'P', '0', '2'};
const char SNAPSHOT_END[8] = {'F', 'S', 'S', 'N', 'A', 'P', 'E', 'N'};
}

std::vector<BYTE> CRegistrySnapshot::Serialize() const
{
    size_t nSize = 64;
    for (const Key& key : m_keys) nSize += 32 + key.strPath.size() * sizeof(wchar_t) + key.packed.size();
    std::vector<BYTE> out;
    out.reserve(nSize);
    AppendBytes(out, SNAPSHOT_MAGIC, 8);
    AppendWord(out, m_ftTaken.dwLowDateTime);
    AppendWord(out, m_ftTaken.dwHighDateTime);
    AppendWord(out, static_cast<uint32_t>(m_keys.size()));
    for (const Key& key : m_keys) {
        AppendWord(out, static_cast<uint32_t>(key.strPath.size()));
        AppendBytes(out, key.strPath.data(), key.strPath.size() * sizeof(wchar_t));
        AppendWord(out, key.ftWrite.dwLowDateTime);
        AppendWord(out, key.ftWrite.dwHighDateTime);
        AppendWord(out, key.nValues);
        AppendWord(out, key.nSubKeys);
        AppendWord(out, key.nSubtree);
        AppendWord(out, key.bUnreadable ? 1 : 0);
        AppendWord(out, static_cast<uint32_t>(key.packed.size()));
        AppendBytes(out, key.packed.data(), key.packed.size());
    }
    AppendBytes(out, SNAPSHOT_END, 8);
    AppendWord(out, static_cast<uint32_t>(m_keys.size()));
    return out;
}

bool CRegistrySnapshot::Load(const std::vector<BYTE>& bytes)
{
    CloseWatches();
    m_keys.clear();
    if (bytes.size() < 28 || std::memcmp(bytes.data(), SNAPSHOT_MAGIC, 8) != 0) return false;
    size_t pos = 8;
    uint32_t nCount = 0;
    TakeWord(bytes, pos, m_ftTaken.dwLowDateTime);
    TakeWord(bytes, pos, m_ftTaken.dwHighDateTime);
    TakeWord(bytes, pos, nCount);
    std::vector<size_t> ends;   // where each open key's subtree ends
    std::vector<size_t> parents;   // ... and the key that opened it
    for (uint32_t i = 0; i < nCount; ++i) {
        Key key;
        uint32_t nChars = 0, nUnreadable = 0, nPacked = 0;
        if (!TakeWord(bytes, pos, nChars) || bytes.size() - pos < static_cast<size_t>(nChars) * sizeof(wchar_t)) return false;
        key.strPath.resize(nChars);
        if (nChars) std::memcpy(&key.strPath[0], bytes.data() + pos, nChars * sizeof(wchar_t));
        pos += nChars * sizeof(wchar_t);
        if (!TakeWord(bytes, pos, key.ftWrite.dwLowDateTime) || !TakeWord(bytes, pos, key.ftWrite.dwHighDateTime) ||
            !TakeWord(bytes, pos, key.nValues) || !TakeWord(bytes, pos, key.nSubKeys) || !TakeWord(bytes, pos, key.nSubtree) ||
            !TakeWord(bytes, pos, nUnreadable) ||
            !TakeWord(bytes, pos, nPacked) || bytes.size() - pos < nPacked)
            return false;
        key.bUnreadable = nUnreadable != 0;
        key.packed.assign(bytes.data() + pos, bytes.data() + pos + nPacked);
        pos += nPacked;
        // Subtrees nest: each lies within its parent's, and the values are whole.
        while (!ends.empty() && ends.back() <= i) {
            ends.pop_back();
            parents.pop_back();
        }
        // Each key is its parent's path and one name; a subtree's first key
        // is a root itself. Nothing else names a key the undo may touch.
        const bool bPathSound = ends.empty() ? IsRootPath(key.strPath)
                                             : IsChildPath(m_keys[parents.back()].strPath, key.strPath);
        std::vector<RegistryValue> values;
        if (!bPathSound || key.nSubtree == 0 || i + static_cast<size_t>(key.nSubtree) > nCount ||
            (!ends.empty() && i + static_cast<size_t>(key.nSubtree) > ends.back()) ||
            !UnpackChecked(key.packed, values) || values.size() != key.nValues)
            return false;
        ends.push_back(i + key.nSubtree);
        parents.push_back(m_keys.size());
        m_keys.push_back(std::move(key));
    }
    uint32_t nEndCount = 0;
    if (bytes.size() - pos != 12 || std::memcmp(bytes.data() + pos, SNAPSHOT_END, 8) != 0) return false;
    pos += 8;
    return TakeWord(bytes, pos, nEndCount) && nEndCount == nCount;
}

std::vector<RegistryKeyChange> CRegistrySnapshot::CompareWithRegistry(CWorkProgress* pProgress) const
{
    // A root missing from the snapshot (a profile without its classes key)
    // is left as it is now: deleting a whole root is no undo.
    std::vector<RegistryKeyChange> out;
    size_t i = 0;
    for (const SnapshotRoot& root : SnapshotRoots()) {
        const bool bBefore = i < m_keys.size() && m_keys[i].strPath == root.pszPath;
        CRegKey key;
        const LONG nResult = OpenForReading(root.hRoot, root.pszSubKey, key);
        if (bBefore && nResult == ERROR_SUCCESS) CompareKey(i, key.Get(), root.pszPath, out, pProgress);
        else if (bBefore && nResult == ERROR_FILE_NOT_FOUND) RecreateSubtree(m_keys, i, out);
        if (bBefore) i += m_keys[i].nSubtree;
    }
    return out;
}

namespace {
// The values that put the key's values back as they were, read with the
// key's counts as just queried.
void CompareValues(const CRegistrySnapshot::Key& before, HKEY hAfter, const KeyInfo& info, const std::wstring& strPath,
                   std::vector<RegistryKeyChange>& out)
{
    std::vector<BYTE> packed;
    ReadValues(hAfter, info, packed);
    const std::vector<RegistryValue> oldValues = UnpackValues(before.packed);
    const std::vector<RegistryValue> newValues = UnpackValues(packed);
    const std::vector<const RegistryValue*> olds = ByName(oldValues), news = ByName(newValues);
    RegistryKeyChange change;
    change.strPath = strPath;
    size_t o = 0, n = 0;
    while (o < olds.size() || n < news.size()) {
        const int nOrder = o >= olds.size() ? 1 : n >= news.size() ? -1 : CompareNames(olds[o]->strName, news[n]->strName);
        if (nOrder > 0) {
            change.values.push_back({*news[n++], true});   // created since: deleted
            continue;
        }
        // Deleted since, or changed: put back as it was.
        const RegistryValue& old = *olds[o++];
        const bool bSame = nOrder == 0 && old.dwType == news[n]->dwType && old.data == news[n]->data;
        if (nOrder == 0) ++n;
        if (!bSame) change.values.push_back({old, false});
    }
    if (!change.values.empty()) out.push_back(std::move(change));
}
}

void CRegistrySnapshot::CompareKey(size_t iBefore, HKEY hAfter, const std::wstring& strPath,
                                   std::vector<RegistryKeyChange>& out, CWorkProgress* pProgress) const
{
    Step(pProgress, iBefore);
    const Key& before = m_keys[iBefore];
    KeyInfo info;
    if (before.bUnreadable || !QueryInfo(hAfter, info)) return;
    // Not written since well before the snapshot: the same values and the
    // same subkeys, whose own state is still to be looked at.
    const bool bUnchanged = CompareFileTime(&info.ftWrite, &before.ftWrite) == 0 && info.nValues == before.nValues &&
                            info.nSubKeys == before.nSubKeys && Ticks(before.ftWrite) + UNCHANGED_MARGIN < Ticks(m_ftTaken);
    if (!bUnchanged) CompareValues(before, hAfter, info, strPath, out);

    // The subkeys before and after, both in name order, side by side.
    const size_t nEnd = iBefore + before.nSubtree;
    const std::vector<SubKey> after = SubKeys(hAfter, info);
    std::wstring strName;
    size_t j = iBefore + 1, a = 0;
    while (j < nEnd || a < after.size()) {
        const int nOrder = j >= nEnd            ? 1
                           : a >= after.size() ? -1
                                                : CompareNames(ChildName(m_keys[j].strPath, strPath.size(), strName), after[a].strName);
        if (nOrder < 0) {
            RecreateSubtree(m_keys, j, out);   // deleted since
            j += m_keys[j].nSubtree;
            continue;
        }
        // A key without subkeys that its parent lists as written at the same
        // old time is as it was, and needs no opening; a watched subtree
        // with no change in it needs no walk.
        const Key* pChild = nOrder == 0 ? &m_keys[j] : nullptr;
        if (pChild && ((pChild->nSubKeys == 0 && !pChild->bUnreadable &&
                        CompareFileTime(&after[a].ftWrite, &pChild->ftWrite) == 0 &&
                        Ticks(pChild->ftWrite) + UNCHANGED_MARGIN < Ticks(m_ftTaken)) ||
                       IsWatchedUnchanged(j))) {
            j += pChild->nSubtree;
            ++a;
            continue;
        }
        CRegKey child;
        const bool bOpened = OpenForReading(hAfter, after[a].strName.c_str(), child) == ERROR_SUCCESS;
        if (nOrder > 0) {
            // Created since, unless it is a link, which the snapshot leaves
            // out, or a key no press makes: one of the registration roots'
            // own keys, or one last written before the snapshot was taken
            // (missed while another program changed its parent as it was
            // read). Deleting either would take what was there before.
            KeyInfo childInfo;
            const bool bInfo = bOpened && QueryInfo(child.Get(), childInfo);
            const std::wstring strChild = strPath + L'\\' + after[a].strName;
            const FILETIME& ftWrite = bInfo ? childInfo.ftWrite : after[a].ftWrite;
            if (!(bInfo && IsLink(child.Get(), childInfo)) && !IsProtectedKey(strChild) && !PredatesSnapshot(ftWrite))
                out.push_back({strChild, true, {}});
        } else {
            if (bOpened) CompareKey(j, child.Get(), m_keys[j].strPath, out, pProgress);
            j += m_keys[j].nSubtree;
        }
        ++a;
    }
}
