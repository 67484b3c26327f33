#pragma once
// Undo files: the changes that put the registry back, written in the
// system's registry export format ("Windows Registry Editor Version 5.00",
// UTF-16LE with a byte-order mark), so that regedit or "reg import" apply
// them and a person can read them. Ours carry a line that names them as
// ours and a last line with a seal over everything before it: an HMAC with
// a key only this program reads (the machine's, for administrators and the
// system; the user's own otherwise). A damaged, altered or forged file is
// known before anything changes, and a file sealed with a user's key may
// change that user's keys only.
#include "engine/undo/RegistryApply.h"
#include "engine/undo/RegistrySnapshot.h"
#include "system/SecretKey.h"
#include <functional>
#include <string>
#include <vector>

// The key a file is sealed with.
struct UndoSeal {
    KeyScope scope = KeyScope::User;
    std::vector<BYTE> key;
};
// Gives the key of a scope for checking a seal: ERROR_SUCCESS, or why this
// process cannot read it.
using UndoKeyReader = std::function<DWORD(KeyScope, std::vector<BYTE>&)>;

// What the file's opening comment says about the change it undoes.
struct UndoFileHeader {
    std::wstring strAction;      // "Register Selected", "Repair", "Undo"...
    std::wstring strTime;        // local time the change began
    std::wstring strComputer;
    std::wstring strUser;
    std::wstring strUserSid;     // whose HKEY_CURRENT_USER the file's user keys are
    std::wstring strNote;        // one more comment line, or empty
    FILETIME ftTaken = {};       // when the snapshot before the change was taken (UTC)
};

// How many keys the changes touch (deleted, created or with values set or
// deleted) and how many values they set or delete.
struct UndoCounts {
    int nKeys = 0;
    int nValues = 0;
};
UndoCounts CountChanges(const std::vector<RegistryKeyChange>& changes);

// The whole file as bytes, sealed, and what it restores. Keys and values
// whose names no registry file can carry (control characters) are left out
// and named in a comment; so are the machine's keys in a file sealed with a
// user's key, which could never apply them.
std::vector<BYTE> FormatUndoFile(const std::vector<RegistryKeyChange>& changes, const UndoFileHeader& header,
                                 const UndoSeal& seal, UndoCounts* pCounts = nullptr);

enum class UndoFileProblem {
    None,
    NotOurs,      // not a registry file this program wrote, or not sealed by it on this computer
    Damaged,      // ours, but changed or cut short since
    Unsafe,       // sealed, but a change no undo of ours makes: a root or a registration root's own key, a malformed path
    NoKey,        // its seal needs a key this process cannot read (the machine's, without administrator rights)
};
// What a file says of itself, read with its changes.
struct UndoFileInfo {
    UndoFileHeader header;
    KeyScope scope = KeyScope::User;
    UndoCounts counts;
};
// Reads a file's bytes back into its changes, checking its seal with the
// keys given before anything else; on a problem, strDetail says where (a
// line number, or what is missing).
UndoFileProblem ParseUndoFile(const std::vector<BYTE>& bytes, std::vector<RegistryKeyChange>& changes,
                              std::wstring& strDetail, const UndoKeyReader& keys, UndoFileInfo* pInfo = nullptr);

// The snapshot time as the file's header line gives it, and back.
std::wstring SnapshotTimeText(const FILETIME& ft);
bool ReadSnapshotTime(const std::wstring& strText, FILETIME& ft);
