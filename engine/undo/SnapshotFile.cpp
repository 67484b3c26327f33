// The snapshot's bytes: kept in memory or mapped from its file, checked when
// loaded, and read back a key at a time.
#include "engine/undo/RegistrySnapshot.h"
#include "engine/undo/SnapshotKeys.h"
#include <cstring>
#include <utility>

using namespace snapshot_keys;

namespace {
// Appends what a capture writes to the snapshot's own memory.
class CMemoryOutput : public CSnapshotOutput {
public:
    explicit CMemoryOutput(std::vector<BYTE>& bytes)
        : m_bytes(bytes)
    {
    }
    bool Write(const void* pBytes, size_t nBytes) override
    {
        AppendBytes(m_bytes, pBytes, nBytes);
        return true;
    }

private:
    std::vector<BYTE>& m_bytes;
};

// Reads the snapshot's bytes in order; every read is bounded by what is left.
struct ByteReader {
    const BYTE* pBytes;
    size_t nBytes;
    size_t pos = 0;

    bool Word(uint32_t& n)
    {
        if (nBytes - pos < sizeof n) return false;
        std::memcpy(&n, pBytes + pos, sizeof n);
        pos += sizeof n;
        return true;
    }
    bool Word(DWORD& n)
    {
        uint32_t nWord = 0;
        if (!Word(nWord)) return false;
        n = nWord;
        return true;
    }
    bool Skip(size_t n)
    {
        if (nBytes - pos < n) return false;
        pos += n;
        return true;
    }
};

// A key's own name: one name, or for a root the root's path.
bool IsSoundName(const std::wstring& strName, bool bRoot)
{
    if (bRoot) return IsRootPath(strName);
    return !strName.empty() && strName.size() <= MAX_KEY_NAME_CHARS && strName.find(L'\\') == std::wstring::npos;
}
}

bool CRegistrySnapshot::Capture(CWorkProgress* pProgress)
{
    std::vector<BYTE> bytes;
    CMemoryOutput out(bytes);
    if (!CaptureTo(out, pProgress)) return false;
    m_memory = std::move(bytes);
    m_pBytes = m_memory.data();
    return true;
}

bool CRegistrySnapshot::Attach(CFileView&& view, size_t nOffset)
{
    if (!view.Data() || view.Size() < nOffset || view.Size() - nOffset < m_nBytes) return false;
    m_view = std::move(view);
    m_pBytes = m_view.Data() + nOffset;
    return true;
}

bool CRegistrySnapshot::Load(std::vector<BYTE> bytes)
{
    Release();
    m_memory = std::move(bytes);
    m_pBytes = m_memory.data();
    m_nBytes = m_memory.size();
    if (Parse()) return true;
    Release();
    return false;
}

bool CRegistrySnapshot::Load(CFileView&& view, size_t nOffset, size_t nBytes)
{
    Release();
    if (!view.Data() || view.Size() < nOffset || view.Size() - nOffset < nBytes) return false;
    m_view = std::move(view);
    m_pBytes = m_view.Data() + nOffset;
    m_nBytes = nBytes;
    if (Parse()) return true;
    Release();
    return false;
}

void CRegistrySnapshot::Release()
{
    CloseWatches();
    m_keys.clear();
    m_keys.shrink_to_fit();
    m_memory.clear();
    m_memory.shrink_to_fit();
    m_view.Close();
    m_pBytes = nullptr;
    m_nBytes = 0;
}

// Builds the index from the bytes, and refuses them unless each record is
// whole, each key one level at most below the one before, each root a
// registration root in order, each other key one plain name, and the
// values well formed: nothing else names a key the undo may touch.
bool CRegistrySnapshot::Parse()
{
    ByteReader in{m_pBytes, m_nBytes};
    if (m_nBytes < sizeof SNAPSHOT_MAGIC || std::memcmp(m_pBytes, SNAPSHOT_MAGIC, sizeof SNAPSHOT_MAGIC) != 0) return false;
    in.pos = sizeof SNAPSHOT_MAGIC;
    if (!in.Word(m_ftTaken.dwLowDateTime) || !in.Word(m_ftTaken.dwHighDateTime)) return false;
    std::vector<size_t> open;   // the keys whose subtrees the next key may be in, outermost first
    const std::vector<SnapshotRoot>& roots = SnapshotRoots();
    size_t iNextRoot = 0;
    std::wstring strName;
    std::vector<RegistryValue> values;
    for (;;) {
        uint32_t nDepthPlusOne = 0, nChars = 0, nUnreadable = 0, nPacked = 0;
        if (!in.Word(nDepthPlusOne)) return false;
        if (nDepthPlusOne == 0) break;
        const size_t nDepth = nDepthPlusOne - 1;
        if (nDepth > open.size()) return false;
        while (open.size() > nDepth) {
            m_keys[open.back()].nSubtree = static_cast<uint32_t>(m_keys.size() - open.back());
            open.pop_back();
        }
        Key key;
        if (!in.Word(nChars) || nChars > MAX_KEY_NAME_CHARS) return false;
        key.nNameAt = static_cast<uint32_t>(in.pos);
        key.nNameChars = static_cast<uint16_t>(nChars);
        if (!in.Skip(nChars * sizeof(wchar_t))) return false;
        strName.assign(nChars, L'\0');
        if (nChars) std::memcpy(&strName[0], m_pBytes + key.nNameAt, nChars * sizeof(wchar_t));
        if (!IsSoundName(strName, nDepth == 0)) return false;
        if (nDepth == 0) {
            while (iNextRoot < roots.size() && strName != roots[iNextRoot].pszPath) ++iNextRoot;
            if (iNextRoot++ == roots.size()) return false;
        }
        if (!in.Word(key.ftWrite.dwLowDateTime) || !in.Word(key.ftWrite.dwHighDateTime) || !in.Word(key.nValues) ||
            !in.Word(key.nSubKeys) || !in.Word(nUnreadable) || nUnreadable > 1 || !in.Word(nPacked))
            return false;
        key.bUnreadable = nUnreadable != 0;
        key.nPackedAt = static_cast<uint32_t>(in.pos);
        key.nPackedBytes = nPacked;
        if (!in.Skip(nPacked)) return false;
        values.clear();
        if (!UnpackValues(m_pBytes + key.nPackedAt, nPacked, values) || values.size() != key.nValues) return false;
        open.push_back(m_keys.size());
        m_keys.push_back(key);
    }
    while (!open.empty()) {
        m_keys[open.back()].nSubtree = static_cast<uint32_t>(m_keys.size() - open.back());
        open.pop_back();
    }
    uint32_t nCount = 0;
    if (m_nBytes - in.pos != sizeof SNAPSHOT_END + sizeof nCount ||
        std::memcmp(m_pBytes + in.pos, SNAPSHOT_END, sizeof SNAPSHOT_END) != 0)
        return false;
    in.pos += sizeof SNAPSHOT_END;
    return in.Word(nCount) && nCount == m_keys.size();
}

const std::wstring& CRegistrySnapshot::NameOf(size_t iKey, std::wstring& strName) const
{
    const Key& key = m_keys[iKey];
    strName.assign(key.nNameChars, L'\0');
    if (key.nNameChars) std::memcpy(&strName[0], m_pBytes + key.nNameAt, key.nNameChars * sizeof(wchar_t));
    return strName;
}

std::vector<RegistryValue> CRegistrySnapshot::ValuesOf(size_t iKey) const
{
    std::vector<RegistryValue> values;
    const Key& key = m_keys[iKey];
    if (m_pBytes) UnpackValues(m_pBytes + key.nPackedAt, key.nPackedBytes, values);
    return values;
}

size_t CRegistrySnapshot::ValueCount() const
{
    size_t nCount = 0;
    for (const Key& key : m_keys) nCount += key.nValues;
    return nCount;
}

void CRegistrySnapshot::RecreateSubtree(size_t iFirst, const std::wstring& strPath, std::vector<RegistryKeyChange>& out) const
{
    // Each key's path is its parent's and its name: the open keys' paths
    // are kept, outermost first.
    std::vector<std::pair<size_t, std::wstring>> open;   // where each subtree ends, and its key's path
    std::wstring strName;
    for (size_t k = iFirst; k < iFirst + m_keys[iFirst].nSubtree; ++k) {
        while (!open.empty() && open.back().first <= k) open.pop_back();
        NameOf(k, strName);
        std::wstring strKey = open.empty() ? strPath : open.back().second + L'\\' + strName;
        if (!m_keys[k].bUnreadable) {
            RegistryKeyChange change;
            change.strPath = strKey;
            for (RegistryValue& value : ValuesOf(k)) change.values.push_back({std::move(value), false});
            out.push_back(std::move(change));
        }
        if (m_keys[k].nSubtree > 1) open.emplace_back(k + m_keys[k].nSubtree, std::move(strKey));
    }
}
