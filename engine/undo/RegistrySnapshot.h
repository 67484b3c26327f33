#pragma once
// A copy of the registry keys that registering a server writes (the
// machine's classes, both views, and the user's classes), taken before a
// press and compared with the registry after it. The comparison gives what
// puts the earlier state back, exactly: deleted keys and values with their
// types and bytes, created ones to delete, changed values with their old
// data.
#include <windows.h>
#include "engine/components/WorkProgress.h"
#include "system/FileView.h"
#include <cstdint>
#include <string>
#include <vector>

// One value as the registry holds it: the name ("" for the default value),
// the type and the bytes, unconverted.
struct RegistryValue {
    std::wstring strName;
    DWORD dwType = REG_NONE;
    std::vector<BYTE> data;
};

// One step of putting a key back, as a registry file says it: the key is
// deleted with its subtree (bDelete), or opened (created when missing) and
// its values set, or deleted when a value's bDelete is set.
struct RegistryValueChange {
    RegistryValue value;
    bool bDelete = false;
};
struct RegistryKeyChange {
    std::wstring strPath;        // "HKEY_LOCAL_MACHINE\SOFTWARE\Classes\..."
    bool bDelete = false;
    std::vector<RegistryValueChange> values;
};

// The keys the snapshot covers, by the names a registry file gives them.
// Each is read in the 64-bit view on a 64-bit system, which shows the
// 32-bit view's own keys under its "Wow6432Node" subkey; symbolic links
// (which join the two views' shared keys) are not followed.
struct SnapshotRoot {
    HKEY hRoot;
    const wchar_t* pszSubKey;
    const wchar_t* pszPath;
};
const std::vector<SnapshotRoot>& SnapshotRoots();
// The root that holds a key's path, or null when the path is under none.
const SnapshotRoot* RootOfPath(const std::wstring& strPath, std::wstring* pSubKey = nullptr);
// The access flag that opens every root in the view described above.
REGSAM SnapshotView();

// The longest name the registry gives a key.
const size_t MAX_KEY_NAME_CHARS = 255;
// True for a root's own path.
bool IsRootPath(const std::wstring& strPath);
// True when strChild is strParent and one more name.
bool IsChildPath(const std::wstring& strParent, const std::wstring& strChild);
// A path under a root, each of its names present and no longer than a key
// name may be: no empty part, no trailing backslash.
bool IsWellFormedKeyPath(const std::wstring& strPath);
// The keys no registration makes and no undo deletes: a root, its
// "Wow6432Node", and the "CLSID", "Interface", "TypeLib", "AppID" and
// "Installer" keys of either view.
bool IsProtectedKey(const std::wstring& strPath);
// The subtrees below each root (and its "Wow6432Node") that are not
// registration data and change on their own: Explorer's and the Store's
// state, the installer's. The snapshot leaves them out; no undo touches them.
const std::vector<const wchar_t*>& LeftOutSubtrees();
bool IsLeftOutKey(const std::wstring& strPath);
// A root or a root's "Wow6432Node": the only keys whose subkeys may be left
// out, so that no other key's subkeys need the test.
bool IsViewTop(const std::wstring& strPath);
// How much earlier than a snapshot a key's last write must be for the key
// to be known as older than the snapshot: the registry's clock and the one
// that stamps the snapshot may tick apart by a few milliseconds.
const uint64_t KEY_TIME_MARGIN = 10000000ULL;   // 1 s in 100 ns units
bool IsWrittenBefore(const FILETIME& ftWrite, const FILETIME& ftTaken);

// Where a snapshot's bytes go as the keys are read: memory, or a file
// that is sealed as it is written.
class CSnapshotOutput {
public:
    virtual ~CSnapshotOutput() = default;
    // False when the bytes could not be kept: the capture fails.
    virtual bool Write(const void* pBytes, size_t nBytes) = 0;
};

class CRegistrySnapshot {
public:
    CRegistrySnapshot() = default;
    ~CRegistrySnapshot();
    CRegistrySnapshot(const CRegistrySnapshot&) = delete;
    CRegistrySnapshot& operator=(const CRegistrySnapshot&) = delete;

    // Reads every covered key and value, kept in memory. False only when a
    // root could not be read at all; keys that deny reading are kept as
    // such. The progress hears every few hundred keys, so that a window
    // keeps painting.
    bool Capture(CWorkProgress* pProgress = nullptr);
    // The same, each key written to out as it is read: only an index of the
    // keys stays in memory, and the names and values are read back from the
    // file once Attach has mapped it. Also false when out fails.
    bool CaptureTo(CSnapshotOutput& out, CWorkProgress* pProgress = nullptr);
    // The file CaptureTo wrote, mapped; the snapshot's bytes begin at nOffset.
    bool Attach(CFileView&& view, size_t nOffset);
    // A snapshot's bytes, checked: anything damaged, cut short or naming a
    // key no snapshot holds is refused. The file's bytes are used where they
    // are mapped, not copied.
    bool Load(std::vector<BYTE> bytes);
    bool Load(CFileView&& view, size_t nOffset, size_t nBytes);
    // Lets the snapshot's file go: a mapped file can be neither deleted nor
    // renamed.
    void Release();

    // What puts the registry as it is now back to this snapshot, in the
    // order a registry file applies it. A key whose last-write time and
    // counts are those of the snapshot, and that was last written well
    // before it was taken, has the values and subkeys it had then: they are
    // not read again. A large subtree just below a root that the system has
    // seen no change in since before it was read (a capture watches them;
    // a loaded snapshot has no watches) is not walked at all.
    std::vector<RegistryKeyChange> CompareWithRegistry(CWorkProgress* pProgress = nullptr) const;

    size_t KeyCount() const { return m_keys.size(); }
    size_t ValueCount() const;
    size_t ByteCount() const { return m_nBytes; }
    FILETIME TakenAt() const { return m_ftTaken; }

    // One key, by where its name and values lie among the snapshot's bytes:
    // a machine's classes make hundreds of thousands of these, so no path
    // and no value is held apart from those bytes.
    struct Key {
        uint32_t nNameAt = 0;
        uint32_t nPackedAt = 0;
        uint32_t nPackedBytes = 0;
        uint32_t nValues = 0;
        uint32_t nSubKeys = 0;       // as the key counts them, links included
        uint32_t nSubtree = 1;       // keys in its subtree, itself included
        FILETIME ftWrite = {};
        uint16_t nNameChars = 0;     // a root's name is its whole path
        bool bUnreadable = false;    // it could not be opened: never compared
    };
    // A subtree the system tells of any change in, from before it was read.
    struct Watch {
        size_t iKey;
        HKEY hKey;
        HANDLE hEvent;
    };
    // The key's own name (a root's: its path), and its values.
    const std::wstring& NameOf(size_t iKey, std::wstring& strName) const;
    std::vector<RegistryValue> ValuesOf(size_t iKey) const;

private:
    friend class CSnapshotReader;
    // pListedAt: when its parent lists the key, the last write it lists.
    void CompareKey(size_t iBefore, HKEY hAfter, const std::wstring& strPath, std::vector<RegistryKeyChange>& out,
                    CWorkProgress* pProgress, const FILETIME* pListedAt = nullptr) const;
    bool IsWatchedUnchanged(size_t iKey) const;
    void AddCreatedRoot(HKEY hRoot, const std::wstring& strRoot, std::vector<RegistryKeyChange>& out) const;
    // The changes that make a deleted key (whose path is given) and its
    // subtree again.
    void RecreateSubtree(size_t iFirst, const std::wstring& strPath, std::vector<RegistryKeyChange>& out) const;
    bool PredatesSnapshot(const FILETIME& ftWrite) const { return IsWrittenBefore(ftWrite, m_ftTaken); }
    bool Parse();
    void CloseWatches();

    std::vector<Key> m_keys;   // depth first, each key's subkeys in the registry's order of names
    FILETIME m_ftTaken = {};
    std::vector<Watch> m_watches;   // in key order
    std::vector<BYTE> m_memory;     // the bytes, when they are kept in memory
    CFileView m_view;               // ... or the file, mapped
    const BYTE* m_pBytes = nullptr;
    size_t m_nBytes = 0;
};

// Values packed as a snapshot keeps them; false when they are damaged or
// cut short.
bool UnpackValues(const BYTE* pPacked, size_t nBytes, std::vector<RegistryValue>& values);

// Called, where a test sets it, after a key's first subkey is listed: a
// second thread may then change the key as another program would.
using SubKeyListingHook = void (*)(HKEY hKey);
void SetSubKeyListingHook(SubKeyListingHook pHook);
