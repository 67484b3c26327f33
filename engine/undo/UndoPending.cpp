// Left snapshots of presses that never ended: completed, or set aside.
#include "engine/undo/UndoJournalFiles.h"
#include "system/Crypto.h"
#include "system/FileWrite.h"
#include "system/FolderTrust.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "system/SystemMessage.h"
#include "res/resource.h"
#include <shlobj.h>
#include <sddl.h>
#include <algorithm>
#include <cstring>

using namespace undo_journal;

namespace {
// Renames an unusable snapshot through its handle, so that it is kept for a
// person to look at and never read again.
void SetAside(HANDLE hFile, const std::wstring& strPath, const CString& strWhy, UndoOutcome& outcome)
{
    const std::wstring strTarget = strPath + SET_ASIDE_EXTENSION;
    std::vector<BYTE> info(sizeof(FILE_RENAME_INFO) + strTarget.size() * sizeof(wchar_t));
    auto* pRename = reinterpret_cast<FILE_RENAME_INFO*>(info.data());
    pRename->ReplaceIfExists = TRUE;
    pRename->FileNameLength = static_cast<DWORD>(strTarget.size() * sizeof(wchar_t));
    std::memcpy(pRename->FileName, strTarget.c_str(), strTarget.size() * sizeof(wchar_t));
    // Renamed, else deleted: either way it is not offered again.
    const bool bRenamed = SetFileInformationByHandle(hFile, FileRenameInfo, pRename, static_cast<DWORD>(info.size())) != FALSE;
    if (!bRenamed) DeleteOpenFile(hFile);
    outcome.bSetAside = true;
    outcome.strFile = bRenamed ? strTarget : strPath;
    outcome.strError = strWhy;
}

// Reads a left snapshot, mapped: its header, and the snapshot once its
// seal holds. ERROR_SUCCESS; ERROR_ACCESS_DENIED when its key cannot be
// read here (left for a process that can); another error when it is
// unusable.
DWORD ReadPending(CFileView&& view, UndoFileHeader& header, CRegistrySnapshot& snapshot, KeyScope& scope)
{
    const BYTE* pBytes = view.Data();
    const size_t nBytes = view.Size();
    size_t pos = 8;
    uint32_t nScope = 0;
    if (nBytes < 12 + SEAL_BYTES || std::memcmp(pBytes, PENDING_MAGIC, 8) != 0) return ERROR_BAD_FORMAT;
    std::memcpy(&nScope, pBytes + pos, 4);
    pos += 4;
    if (nScope > 1) return ERROR_BAD_FORMAT;
    scope = nScope ? KeyScope::Machine : KeyScope::User;
    std::vector<BYTE> key, seal;
    if (ReadSecretKey(scope, key) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
    const size_t nBody = nBytes - SEAL_BYTES;
    if (!HmacSha256(key, pBytes, nBody, seal) || seal.size() != SEAL_BYTES || !SameBytes(seal.data(), pBytes + nBody, SEAL_BYTES))
        return ERROR_INVALID_DATA;
    if (!TakeString(pBytes, nBody, pos, header.strAction) || !TakeString(pBytes, nBody, pos, header.strTime) ||
        !snapshot.Load(std::move(view), pos, nBody - pos))
        return ERROR_INVALID_DATA;
    header.ftTaken = snapshot.TakenAt();
    return ERROR_SUCCESS;
}

// Hours since a snapshot was taken.
double HoursSince(const FILETIME& ftTaken)
{
    FILETIME ftNow = {};
    GetSystemTimeAsFileTime(&ftNow);
    const auto ticks = [](const FILETIME& ft) { return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
    return ticks(ftNow) > ticks(ftTaken) ? static_cast<double>(ticks(ftNow) - ticks(ftTaken)) / 36e9 : 0;
}

// Completes one left snapshot; false when another process holds it, or
// when only another kind of process can check it. One older than a press
// lasts is completed only when askOld says so (none: never): the registry
// has changed since for other reasons, which its undo file would take back.
bool CompletePending(const std::wstring& strPath, const OldSnapshotQuestion& askOld, UndoOutcome& outcome)
{
    HANDLE hFile = OpenFileNoReparse(strPath, GENERIC_READ | DELETE, 0, OPEN_EXISTING);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    CFileView view;
    DWORD dwError = ERROR_SUCCESS;
    UndoFileHeader header;
    CRegistrySnapshot snapshot;
    // A mapped file can be neither renamed nor deleted.
    const auto letGo = [&] {
        snapshot.Release();
        view.Close();
    };
    KeyScope scope = KeyScope::User;
    bool bHandled = true;
    try {
        dwError = view.Open(hFile, UNDO_FILE_LIMIT);
        if (dwError == ERROR_SUCCESS) dwError = ReadPending(std::move(view), header, snapshot, scope);
        outcome.dAgeHours = dwError == ERROR_SUCCESS ? HoursSince(header.ftTaken) : 0;
        const bool bTooOld = dwError == ERROR_SUCCESS && outcome.dAgeHours > MAX_PRESS_HOURS &&
                             !(askOld && askOld(header.strAction, outcome.dAgeHours));
        if (bTooOld) {
            letGo();
            CString strWhy;
            strWhy.Format(LoadResourceString(IDS_UNDO_TOO_OLD), static_cast<int>(outcome.dAgeHours));
            SetAside(hFile, strPath, strWhy, outcome);
        } else if (dwError == ERROR_SUCCESS) {
            UndoSeal seal;
            seal.scope = scope;
            ReadSecretKey(scope, seal.key);
            outcome.bRecorded = true;
            header.strNote = L"Completed at the next start: the change was interrupted.";
            // In place of the file the press rewrote as it went.
            const std::wstring strStem = strPath.substr(0, strPath.size() - wcslen(SNAPSHOT_EXTENSION));
            WriteUndo(snapshot.CompareWithRegistry(), strStem + UNDO_EXTENSION, header, seal, outcome);
            letGo();
            if (outcome.strError.IsEmpty()) DeleteOpenFile(hFile);
        } else if (dwError == ERROR_ACCESS_DENIED) {
            bHandled = false;
        } else {
            letGo();
            SetAside(hFile, strPath, ErrorText(dwError), outcome);
        }
    } catch (const std::exception&) {
        // However it is made, a file that cannot be read is set aside: it
        // must never stop every later start.
        letGo();
        outcome = UndoOutcome();
        SetAside(hFile, strPath, ErrorText(ERROR_NOT_ENOUGH_MEMORY), outcome);
    }
    CloseHandle(hFile);
    return bHandled;
}
}

std::vector<UndoOutcome> CompletePendingUndo(const OldSnapshotQuestion& askOld)
{
    std::vector<UndoOutcome> outcomes;
    const std::wstring strFolder = UndoFolder();
    if (strFolder.empty()) return outcomes;
    for (const WIN32_FIND_DATAW& file : FolderFiles(strFolder, L"*.snapshot")) {
        UndoOutcome outcome;
        if (CompletePending(strFolder + L'\\' + file.cFileName, askOld, outcome) &&
            (outcome.bWritten || outcome.bSetAside || !outcome.strError.IsEmpty()))
            outcomes.push_back(outcome);
    }
    return outcomes;
}

CString CompletedUndoMessage(const UndoOutcome& outcome)
{
    CString strText;
    if (outcome.bSetAside)
        strText.Format(LoadResourceString(IDS_UNDO_SET_ASIDE), outcome.strError.GetString(), Narrow(outcome.strFile).GetString());
    else if (outcome.bWritten)
        strText.Format(LoadResourceString(IDS_UNDO_COMPLETED), Narrow(outcome.strFile).GetString(), outcome.counts.nKeys,
                       outcome.counts.nValues, static_cast<int>(outcome.dAgeHours * 60));
    else
        strText.Format(LoadResourceString(IDS_UNDO_NOT_WRITTEN), outcome.strError.GetString());
    return strText;
}
