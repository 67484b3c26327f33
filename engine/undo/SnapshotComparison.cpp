// The registry as it is now against a snapshot: what puts it back.
#include "engine/undo/RegistrySnapshot.h"
#include "engine/undo/SnapshotKeys.h"
#include "system/Registry.h"
#include <algorithm>
#include <cstring>
#include <utility>

using namespace snapshot_keys;

std::vector<RegistryKeyChange> CRegistrySnapshot::CompareWithRegistry(CWorkProgress* pProgress) const
{
    std::vector<RegistryKeyChange> out;
    size_t i = 0;
    for (const SnapshotRoot& root : SnapshotRoots()) {
        std::wstring strName;
        if (i < m_keys.size()) NameOf(i, strName);
        const bool bBefore = i < m_keys.size() && strName == root.pszPath;
        CRegKey key;
        const LONG nResult = OpenRoot(root, key);
        if (bBefore && nResult == ERROR_SUCCESS) CompareKey(i, key.Get(), root.pszPath, out, pProgress);
        else if (bBefore && nResult == ERROR_FILE_NOT_FOUND) RecreateSubtree(i, root.pszPath, out);
        else if (!bBefore && nResult == ERROR_SUCCESS) AddCreatedRoot(key.Get(), root.pszPath, out);
        if (bBefore) i += m_keys[i].nSubtree;
    }
    return out;
}

void CRegistrySnapshot::AddCreatedRoot(HKEY hRoot, const std::wstring& strRoot, std::vector<RegistryKeyChange>& out) const
{
    // A root made during the press (a profile that had no classes key): what
    // it holds was made then too. The root itself stays, as no undo deletes
    // a root.
    KeyInfo info;
    if (!QueryInfo(hRoot, info)) return;
    for (const SubKey& subKey : SubKeys(hRoot, info)) {
        const std::wstring strChild = strRoot + L'\\' + subKey.strName;
        if (!IsLeftOutKey(strChild) && !IsProtectedKey(strChild) && !PredatesSnapshot(subKey.ftWrite))
            out.push_back({strChild, true, {}});
    }
}

namespace {
// The values that put the key's values back as they were, read with the
// key's counts as just queried.
void CompareValues(const std::vector<RegistryValue>& oldValues, HKEY hAfter, const KeyInfo& info, const std::wstring& strPath,
                   std::vector<RegistryKeyChange>& out)
{
    std::vector<BYTE> packed;
    ReadValues(hAfter, info, packed);
    std::vector<RegistryValue> newValues;
    UnpackValues(packed.data(), packed.size(), newValues);
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
                                   std::vector<RegistryKeyChange>& out, CWorkProgress* pProgress, const FILETIME* pListedAt) const
{
    Step(pProgress, iBefore);
    const Key& before = m_keys[iBefore];
    if (before.bUnreadable) return;
    KeyInfo info;
    if (pListedAt && CompareFileTime(pListedAt, &before.ftWrite) == 0 && Ticks(before.ftWrite) + UNCHANGED_MARGIN < Ticks(m_ftTaken)) {
        // Listed by its parent as last written at the snapshot's old time:
        // its values and its list of subkeys are as they were, and need no
        // asking. A machine's CLSID key holds hundreds of thousands of these.
        info.ftWrite = before.ftWrite;
        info.nSubKeys = before.nSubKeys;
        info.nValues = before.nValues;
        info.nMaxSubKeyChars = MAX_KEY_NAME_CHARS;
    } else if (!QueryInfo(hAfter, info)) {
        return;
    }
    // Not written since well before the snapshot: the same values and the
    // same subkeys, whose own state is still to be looked at.
    const bool bUnchanged = CompareFileTime(&info.ftWrite, &before.ftWrite) == 0 && info.nValues == before.nValues &&
                            info.nSubKeys == before.nSubKeys && Ticks(before.ftWrite) + UNCHANGED_MARGIN < Ticks(m_ftTaken);
    if (!bUnchanged) CompareValues(ValuesOf(iBefore), hAfter, info, strPath, out);

    // The subkeys before and after, both in name order, side by side.
    const size_t nEnd = iBefore + before.nSubtree;
    std::vector<SubKey> after = SubKeys(hAfter, info);
    if (IsViewTop(strPath))
        after.erase(std::remove_if(after.begin(), after.end(),
                                   [&](const SubKey& subKey) { return IsLeftOutKey(strPath + L'\\' + subKey.strName); }),
                    after.end());
    std::wstring strName;
    size_t j = iBefore + 1, a = 0;
    while (j < nEnd || a < after.size()) {
        const int nOrder = j >= nEnd            ? 1
                           : a >= after.size() ? -1
                                                : CompareNames(NameOf(j, strName), after[a].strName);
        if (nOrder < 0) {
            RecreateSubtree(j, strPath + L'\\' + NameOf(j, strName), out);   // deleted since
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
            if (bOpened) CompareKey(j, child.Get(), strPath + L'\\' + after[a].strName, out, pProgress, &after[a].ftWrite);
            j += m_keys[j].nSubtree;
        }
        ++a;
    }
}
