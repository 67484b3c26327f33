#pragma once
// Undo files: the changes that put the registry back, written in the
// system's registry export format ("Windows Registry Editor Version 5.00",
// UTF-16LE with a byte-order mark), so that regedit or "reg import" apply
// them on any machine and a person can read them. Ours carry a line that
// names them as ours and a last line with a check over everything before
// it, so that a damaged or altered file is known before anything changes.
#include "engine/undo/RegistrySnapshot.h"
#include <string>
#include <vector>

// What the file's opening comment says about the change it undoes.
struct UndoFileHeader {
    std::wstring strAction;      // "Register Selected", "Repair", "Undo"...
    std::wstring strTime;        // local time the change began
    std::wstring strComputer;
    std::wstring strUser;
    std::wstring strNote;        // one more comment line, or empty
};

// How many keys the changes touch (deleted, created or with values set or
// deleted) and how many values they set or delete.
struct UndoCounts {
    int nKeys = 0;
    int nValues = 0;
};
UndoCounts CountChanges(const std::vector<RegistryKeyChange>& changes);

// The whole file as bytes, and what it restores. Keys and values whose
// names no registry file can carry (control characters) are left out and
// named in a comment.
std::vector<BYTE> FormatUndoFile(const std::vector<RegistryKeyChange>& changes, const UndoFileHeader& header,
                                 UndoCounts* pCounts = nullptr);

enum class UndoFileProblem {
    None,
    NotOurs,     // not a registry file this program wrote, or one for keys outside those it covers
    Damaged,     // ours, but changed or cut short since
};
// Reads a file's bytes back into its changes; on a problem, strDetail says
// where (a line number, or what is missing).
UndoFileProblem ParseUndoFile(const std::vector<BYTE>& bytes, std::vector<RegistryKeyChange>& changes,
                              std::wstring& strDetail);

// Applies the changes in order, each key in the view the snapshot reads.
// Goes on past a change that fails; false when any did, with the first
// failure's error and key.
bool ApplyRegistryChanges(const std::vector<RegistryKeyChange>& changes, DWORD& dwFirstError, std::wstring& strFirstKey);
