#pragma once
// What the snapshot's reading, its file form and its comparison share: the
// registry calls they make, bounded by each key's own counts, and the
// packed form of a key's values.
#include "engine/undo/RegistrySnapshot.h"
#include "framework/CRegKey.h"
#include <cstdint>
#include <string>
#include <vector>

namespace snapshot_keys {
// The snapshot's bytes: this start, the time it was taken, each key's
// record in depth-first order (its depth plus one, name, last write,
// counts, whether it could be read, its packed values), then a zero, this
// end and the number of keys.
const char SNAPSHOT_MAGIC[8] = {'F', 'S', 'S', 'N', 'A', 'P', '0', '3'};
const char SNAPSHOT_END[8] = {'F', 'S', 'S', 'N', 'A', 'P', 'E', 'N'};
// A key last written this long before the snapshot was taken, and written
// at the same time afterwards, has not been written since: a write during
// the press stamps it with a later time, even on a clock that ticks every
// 16 ms.
constexpr uint64_t UNCHANGED_MARGIN = 2ULL * 10000000ULL;   // 2 s in 100 ns units
// How many keys are read between two calls of the progress.
constexpr size_t KEYS_PER_STEP = 256;
// The smallest subtree below a root worth a watch of its own.
constexpr uint32_t WATCHED_SUBTREE = 64;

void Step(CWorkProgress* pProgress, size_t nKeys);
uint64_t Ticks(const FILETIME& ft);
// Opens a subkey for reading as itself: a symbolic link is opened, not
// followed.
LONG OpenForReading(HKEY hParent, const wchar_t* pszName, CRegKey& key);
// Opens a root as the system has it: HKEY_CURRENT_USER's classes are a link
// to the user's own classes hive on Windows, and the link is followed.
LONG OpenRoot(const SnapshotRoot& root, CRegKey& key);

struct KeyInfo {
    DWORD nSubKeys = 0, nMaxSubKeyChars = 0, nValues = 0, nMaxNameChars = 0, nMaxDataBytes = 0;
    FILETIME ftWrite = {};
};
bool QueryInfo(HKEY hKey, KeyInfo& info);
// A link has no subkeys and one value, its target, of the link type.
bool IsLink(HKEY hKey, const KeyInfo& info);
bool NameLess(const std::wstring& a, const std::wstring& b);
int CompareNames(const std::wstring& a, const std::wstring& b);

// A subkey as its parent lists it: the name, and when it was last written.
struct SubKey {
    std::wstring strName;
    FILETIME ftWrite;
};
// The key's subkeys, in the order names compare in the registry.
std::vector<SubKey> SubKeys(HKEY hKey, const KeyInfo& info);

void AppendBytes(std::vector<BYTE>& out, const void* pBytes, size_t nBytes);
void AppendWord(std::vector<BYTE>& out, uint32_t n);
// Reads every value into the packed form: for each, the name's length in
// characters, the type, the data's length in bytes, the name, the data.
uint32_t ReadValues(HKEY hKey, const KeyInfo& info, std::vector<BYTE>& packed);
// The values sorted by name, as the registry compares them.
std::vector<const RegistryValue*> ByName(const std::vector<RegistryValue>& values);
// Two readings of a key that agree: nothing was written to it in between.
bool SameReading(const KeyInfo& a, const KeyInfo& b);
}
