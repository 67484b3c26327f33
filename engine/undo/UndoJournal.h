#pragma once
// Every action that runs servers keeps what puts the registry back: before
// the first server runs, a snapshot of the registration keys goes to disk;
// after the last one ends, the registry is compared with it and the undo
// file written. A press that never ends (the process killed) leaves its
// snapshot, and the next start completes the undo file from it.
#include "framework/CString.h"
#include "engine/undo/RegistrySnapshot.h"
#include "engine/undo/UndoFile.h"
#include <vector>

// Where undo files go: "Kelvara\Forge Support\Undo" under the user's local
// application data, or under the common application data when running as
// the system account. Created when missing; empty when it cannot be.
CString UndoFolder();

// What one recording left.
struct UndoOutcome {
    bool bRecorded = false;     // a snapshot was taken: some server ran
    bool bWritten = false;      // an undo file holds the changes
    CString strFile;            // its path
    UndoCounts counts;          // what it restores; none: the registry did not change
    CString strError;           // why the snapshot or the undo file could not be written
};

// One action's recording: "Register Selected", "Unregister Selected",
// "Repair", "Undo".
class CChangeRecording {
public:
    explicit CChangeRecording(const CString& strAction);
    // A recording begun and never ended is ended here: its undo file is
    // still written.
    ~CChangeRecording();
    CChangeRecording(const CChangeRecording&) = delete;
    CChangeRecording& operator=(const CChangeRecording&) = delete;

    // Takes the snapshot and writes it to disk, the first time only. False
    // when it could not be written (Error() says why): then no server may run.
    // The progress hears the reading as it goes on.
    bool Begin(CWorkProgress* pProgress = nullptr);
    bool IsBegun() const { return m_hSnapshot != INVALID_HANDLE_VALUE; }
    const CString& Error() const { return m_strError; }
    // Compares and writes the undo file; nothing when Begin never ran. A
    // second call gives what the first did.
    UndoOutcome End(CWorkProgress* pProgress = nullptr);

private:
    CString m_strAction;
    CString m_strError;
    std::wstring m_strStem;          // folder, time and action: the files' names without extension
    std::wstring m_strTime;
    CRegistrySnapshot m_snapshot;
    HANDLE m_hSnapshot = INVALID_HANDLE_VALUE;   // held open: the snapshot is in use
    bool m_bEnded = false;
    UndoOutcome m_outcome;
};

// Completes the undo files of recordings whose process ended before they
// did. A snapshot another running process holds is left to it.
std::vector<UndoOutcome> CompletePendingUndo();
// What a start tells of one such completion: where the file is and what it
// restores, or why it could not be written.
CString CompletedUndoMessage(const UndoOutcome& outcome);

// The undo file written last in the undo folder; empty when there is none.
CString LastUndoFile();

// What applying an undo file did.
enum class UndoApplyStatus {
    Applied,
    Unreadable,    // the file could not be read, or its own undo file not written
    Refused,       // damaged, or not an undo file of ours: nothing changed
    NoRights,      // the registry may not be written
    Failed,        // some change failed; the rest were made
};
struct UndoApplyResult {
    UndoApplyStatus status = UndoApplyStatus::Unreadable;
    CString strReason;
    UndoCounts counts;                   // what the file restores
    std::vector<std::wstring> keys;      // the keys it touches
    UndoOutcome own;                     // the undo file of this undo
};
// Applies an undo file, after writing the undo file of what it changes.
UndoApplyResult ApplyUndoFile(const CString& strFile);
