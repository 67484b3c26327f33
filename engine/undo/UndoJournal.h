#pragma once
// Every action that runs servers keeps what puts the registry back: before
// the first server runs, a snapshot of the registration keys goes to disk;
// after the last one ends, the registry is compared with it and the undo
// file written. A press that never ends (the process killed) leaves its
// snapshot, and the next start completes the undo file from it.
#include "framework/CString.h"
#include "engine/undo/RegistrySnapshot.h"
#include "engine/undo/UndoFile.h"
#include <functional>
#include <vector>

// Where undo files go: "Kelvara\Forge Support\Undo" under the user's local
// application data, or under the common application data when running as
// the system account. There every folder is made with rights for SYSTEM and
// Administrators alone, and one that exists with another owner, rights for
// others or as a reparse point is refused: standard users may create
// folders in the common application data. Empty when it cannot be, with
// the reason in pstrError.
std::wstring UndoFolder(CString* pstrError = nullptr);

// The process's own account as a SID string ("S-1-5-21-..."): whose
// HKEY_CURRENT_USER an undo file it writes changes.
std::wstring CurrentUserSid();

// The key that seals what this process writes: the machine's where it may
// read it (administrators, the system), else the user's own. ERROR_SUCCESS
// or why neither can be had.
DWORD CurrentUndoSeal(UndoSeal& seal);

// What one recording left.
struct UndoOutcome {
    bool bRecorded = false;     // a snapshot was taken: some server ran
    bool bWritten = false;      // an undo file holds the changes
    bool bSetAside = false;     // an interrupted snapshot could not be used and was set aside as strFile
    std::wstring strFile;       // its path
    UndoCounts counts;          // what it restores; none: the registry did not change
    CString strError;           // why the snapshot or the undo file could not be written or used
    double dAgeHours = 0;       // for a completed or set-aside snapshot: how long ago its change began
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
    // Between two servers: compares and rewrites the undo file, so that a
    // press that never ends leaves one for what ran. Skipped while the
    // comparisons would take more than a quarter of the press's time.
    void Checkpoint();
    // Compares and writes the undo file; nothing when Begin never ran. A
    // second call gives what the first did.
    UndoOutcome End(CWorkProgress* pProgress = nullptr);

private:
    CString m_strAction;
    CString m_strError;
    std::wstring m_strStem;          // folder, time and action: the files' names without extension
    std::wstring m_strUndoFile;      // the stem's undo file, which no earlier press has taken
    std::wstring m_strTime;
    CRegistrySnapshot m_snapshot;
    UndoSeal m_seal;
    HANDLE m_hSnapshot = INVALID_HANDLE_VALUE;   // held open: the snapshot is in use
    bool m_bEnded = false;
    UndoOutcome m_outcome;
    ULONGLONG m_nLastCheckpoint = 0;      // when the last comparison ended, in ms
    ULONGLONG m_nCheckpointCost = 0;      // ... and what it took
};

// The longest a press lasts: a left snapshot older than this is no longer
// what the registry was just before the servers that changed it ran.
constexpr double MAX_PRESS_HOURS = 2.0;
// Asked whether to complete a snapshot that old, with its action and age.
using OldSnapshotQuestion = std::function<bool(const std::wstring& strAction, double dHours)>;
// Completes the undo files of recordings whose process ended before they
// did. A snapshot another running process holds is left to it; one older
// than a press lasts is set aside unless askOld says to complete it.
std::vector<UndoOutcome> CompletePendingUndo(const OldSnapshotQuestion& askOld = nullptr);
// What a start tells of one such completion: where the file is and what it
// restores, or why it could not be written.
CString CompletedUndoMessage(const UndoOutcome& outcome);

// The undo file whose change began last, by the time sealed inside it,
// among those of the undo folder this process can check; empty when there
// is none.
std::wstring LastUndoFile();

// What applying an undo file did.
enum class UndoApplyStatus {
    Applied,
    Unreadable,    // the file could not be read, or its own undo file not written
    Refused,       // damaged, forged, or a change no undo makes: nothing changed
    NoRights,      // the registry may not be written, or the seal not checked: nothing changed
    Failed,        // some change failed after others were made
    Untrusted,     // as the system account, a file in a folder that others can change: nothing changed
};

// An undo file read and checked, as it is shown before it is applied.
struct UndoFileContent {
    std::wstring strFile;
    UndoFileInfo info;
    std::vector<RegistryKeyChange> changes;
    std::vector<std::wstring> machineDeletes;    // the machine's keys it deletes
    std::wstring strUserHive;    // written for another account: its hive under HKEY_USERS
};

struct UndoApplyResult {
    UndoApplyStatus status = UndoApplyStatus::Unreadable;
    CString strReason;
    UndoCounts counts;                   // what the file restores
    std::vector<std::wstring> keys;      // the keys it touches
    UndoOutcome own;                     // the undo file of this undo
};

// Reads and checks an undo file; Applied when it may be applied, else the
// status and reason that refuse it.
UndoApplyStatus ReadUndoFile(const std::wstring& strFile, UndoFileContent& content, CString& strReason);
// Applies what was read, after writing the undo file of what it changes.
UndoApplyResult ApplyUndoContent(const UndoFileContent& content);
// Both of these.
UndoApplyResult ApplyUndoFile(const std::wstring& strFile);
