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

// One capture's state: where the records go, the index being built, and
// buffers reused from key to key.
struct CaptureRun {
    CSnapshotOutput& out;
    std::vector<CRegistrySnapshot::Key>& keys;
    CWorkProgress* pProgress;
    uint64_t nWritten = 0;
    bool bFailed = false;
    std::vector<BYTE> packed;

    void Put(const void* pBytes, size_t nBytes)
    {
        if (!bFailed && !out.Write(pBytes, nBytes)) bFailed = true;
        nWritten += nBytes;
    }
    void PutWord(uint32_t n) { Put(&n, sizeof n); }
    // A key's record: its depth, name, counts and values. The index keeps
    // where its name and values lie.
    void PutKey(uint32_t nDepth, const std::wstring& strName, CRegistrySnapshot::Key& key)
    {
        // The index holds 32-bit offsets: a snapshot beyond 4 GB fails.
        if (nWritten + strName.size() * sizeof(wchar_t) + packed.size() + 64 > UINT32_MAX) bFailed = true;
        PutWord(nDepth + 1);
        PutWord(static_cast<uint32_t>(strName.size()));
        key.nNameAt = static_cast<uint32_t>(nWritten);
        key.nNameChars = static_cast<uint16_t>(strName.size());
        Put(strName.data(), strName.size() * sizeof(wchar_t));
        PutWord(key.ftWrite.dwLowDateTime);
        PutWord(key.ftWrite.dwHighDateTime);
        PutWord(key.nValues);
        PutWord(key.nSubKeys);
        PutWord(key.bUnreadable ? 1 : 0);
        PutWord(static_cast<uint32_t>(key.bUnreadable ? 0 : packed.size()));
        key.nPackedAt = static_cast<uint32_t>(nWritten);
        key.nPackedBytes = key.bUnreadable ? 0 : static_cast<uint32_t>(packed.size());
        if (!key.bUnreadable) Put(packed.data(), packed.size());
    }
};

// Reads a key's values and subkeys; read again while another program
// changes the key meanwhile, since reading by index skips a subkey (or a
// value) when one before it is deleted, and a skipped key would look made by
// the press. A list of one cannot skip: such keys, most of a machine's, are
// not asked again.
bool ReadSettled(HKEY hKey, KeyInfo& info, std::vector<BYTE>& packed, uint32_t& nValues, std::vector<SubKey>& subKeys)
{
    if (!QueryInfo(hKey, info)) return false;
    for (int nTry = 0;; ++nTry) {
        packed.clear();
        nValues = ReadValues(hKey, info, packed);
        subKeys = SubKeys(hKey, info);
        KeyInfo now;
        if ((info.nValues < 2 && info.nSubKeys < 2) || !QueryInfo(hKey, now) || SameReading(now, info) || nTry == 4) return true;
        info = now;
    }
}

// Reads a key and its subtree, depth first; a link is left out. With
// watches (a root's), each large subtree below it is watched from before it
// is read.
void CaptureKey(CaptureRun& run, HKEY hKey, const std::wstring& strPath, const std::wstring& strName, uint32_t nDepth,
                std::vector<CRegistrySnapshot::Watch>* pWatches = nullptr)
{
    const size_t index = run.keys.size();
    Step(run.pProgress, index);
    CRegistrySnapshot::Key key;
    KeyInfo info;
    std::vector<SubKey> subKeys;
    if (!ReadSettled(hKey, info, run.packed, key.nValues, subKeys)) {
        key.bUnreadable = true;
        run.PutKey(nDepth, strName, key);
        run.keys.push_back(key);
        return;
    }
    if (info.nSubKeys == 0 && IsLinkValue(run.packed, key.nValues)) return;
    key.ftWrite = info.ftWrite;
    key.nSubKeys = info.nSubKeys;
    run.PutKey(nDepth, strName, key);
    run.keys.push_back(key);
    const bool bViewTop = IsViewTop(strPath);
    for (const SubKey& subKey : subKeys) {
        const std::wstring strChild = strPath + L'\\' + subKey.strName;
        if (bViewTop && IsLeftOutKey(strChild)) continue;
        CRegKey child;
        if (OpenForReading(hKey, subKey.strName.c_str(), child) == ERROR_SUCCESS) {
            const size_t iChild = run.keys.size();
            HANDLE hEvent = pWatches ? WatchSubtree(child.Get()) : nullptr;
            CaptureKey(run, child.Get(), strChild, subKey.strName, nDepth + 1);
            if (hEvent && run.keys.size() > iChild && run.keys[iChild].nSubtree >= WATCHED_SUBTREE)
                pWatches->push_back({iChild, child.Release(), hEvent});
            else if (hEvent)
                CloseHandle(hEvent);
            continue;
        }
        CRegistrySnapshot::Key unreadable;
        unreadable.bUnreadable = true;
        run.PutKey(nDepth + 1, subKey.strName, unreadable);
        run.keys.push_back(unreadable);
    }
    run.keys[index].nSubtree = static_cast<uint32_t>(run.keys.size() - index);
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

bool CRegistrySnapshot::CaptureTo(CSnapshotOutput& out, CWorkProgress* pProgress)
{
    Release();
    GetSystemTimeAsFileTime(&m_ftTaken);
    CaptureRun run{out, m_keys, pProgress, 0, false, {}};
    run.Put(SNAPSHOT_MAGIC, sizeof SNAPSHOT_MAGIC);
    run.PutWord(m_ftTaken.dwLowDateTime);
    run.PutWord(m_ftTaken.dwHighDateTime);
    for (const SnapshotRoot& root : SnapshotRoots()) {
        CRegKey key;
        const LONG nResult = OpenRoot(root, key);
        if (nResult == ERROR_FILE_NOT_FOUND) continue;
        if (nResult != ERROR_SUCCESS) return false;
        CaptureKey(run, key.Get(), root.pszPath, root.pszPath, 0, &m_watches);
        if (run.bFailed) return false;
    }
    run.PutWord(0);
    run.Put(SNAPSHOT_END, sizeof SNAPSHOT_END);
    run.PutWord(static_cast<uint32_t>(m_keys.size()));
    m_nBytes = static_cast<size_t>(run.nWritten);
    return !run.bFailed;
}
