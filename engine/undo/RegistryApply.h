#pragma once
// Putting registry changes in place, each key in the view the snapshot reads.
// A change to HKEY_CURRENT_USER goes to another user's hive under
// HKEY_USERS when strUserHive names one (that user's SID): the file was
// written for that account, not for the one applying it.
#include "engine/undo/RegistrySnapshot.h"
#include <string>
#include <vector>

// A key the changes delete that was last written before the snapshot was
// taken: no press made it, so no undo of one deletes it. Empty when none.
std::wstring FirstOlderDeletedKey(const std::vector<RegistryKeyChange>& changes, const FILETIME& ftTaken,
                                  const std::wstring& strUserHive = std::wstring());

// Applies the changes in order. Goes on past a change that fails; false
// when any did, with the first failure's error and key. pbAnyMade: whether
// anything was changed at all.
bool ApplyRegistryChanges(const std::vector<RegistryKeyChange>& changes, DWORD& dwFirstError, std::wstring& strFirstKey,
                          bool* pbAnyMade = nullptr, const std::wstring& strUserHive = std::wstring());
