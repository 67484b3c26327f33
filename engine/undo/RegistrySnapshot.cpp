#include "engine/undo/RegistrySnapshot.h"
#include "engine/undo/SnapshotKeys.h"
#include "system/Registry.h"
#include <algorithm>
#include <cstring>
#include <utility>

using namespace snapshot_keys;

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
    const bool bViewTop = IsViewTop(strPath);
    for (const SubKey& subKey : SubKeys(hKey, info)) {
        const std::wstring& strName = subKey.strName;
        const std::wstring strChild = strPath + L'\\' + strName;
        if (bViewTop && IsLeftOutKey(strChild)) continue;
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
        const LONG nResult = OpenRoot(root, key);
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
