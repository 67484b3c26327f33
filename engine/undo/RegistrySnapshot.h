#pragma once
// A copy of the registry keys that registering a server writes (the
// machine's classes, both views, and the user's classes), taken before a
// press and compared with the registry after it. The comparison gives what
// puts the earlier state back, exactly: deleted keys and values with their
// types and bytes, created ones to delete, changed values with their old
// data.
#include <windows.h>
#include "engine/components/WorkProgress.h"
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

class CRegistrySnapshot {
public:
    CRegistrySnapshot() = default;
    ~CRegistrySnapshot();
    CRegistrySnapshot(const CRegistrySnapshot&) = delete;
    CRegistrySnapshot& operator=(const CRegistrySnapshot&) = delete;

    // Reads every covered key and value. False only when a root could not
    // be read at all; keys that deny reading are kept as such. The progress
    // hears every few hundred keys, so that a window keeps painting.
    bool Capture(CWorkProgress* pProgress = nullptr);
    // The snapshot as bytes for a file, and back; Load refuses anything
    // damaged or cut short.
    std::vector<BYTE> Serialize() const;
    bool Load(const std::vector<BYTE>& bytes);

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
    FILETIME TakenAt() const { return m_ftTaken; }

    struct Key {
        std::wstring strPath;
        FILETIME ftWrite = {};
        uint32_t nValues = 0;
        uint32_t nSubKeys = 0;       // as the key counts them, links included
        uint32_t nSubtree = 1;       // keys in its subtree, itself included
        bool bUnreadable = false;    // it could not be opened: never compared
        std::vector<BYTE> packed;    // its values, packed
    };
    // A subtree the system tells of any change in, from before it was read.
    struct Watch {
        size_t iKey;
        HKEY hKey;
        HANDLE hEvent;
    };

private:
    void CompareKey(size_t iBefore, HKEY hAfter, const std::wstring& strPath, std::vector<RegistryKeyChange>& out,
                    CWorkProgress* pProgress) const;
    bool IsWatchedUnchanged(size_t iKey) const;
    void AddCreatedRoot(HKEY hRoot, const std::wstring& strRoot, std::vector<RegistryKeyChange>& out) const;
    bool PredatesSnapshot(const FILETIME& ftWrite) const { return IsWrittenBefore(ftWrite, m_ftTaken); }
    void CloseWatches();

    std::vector<Key> m_keys;   // depth first, each key's subkeys in the registry's order of names
    FILETIME m_ftTaken = {};
    std::vector<Watch> m_watches;   // in key order
};

// The values of a snapshot key.
std::vector<RegistryValue> UnpackValues(const std::vector<BYTE>& packed);
