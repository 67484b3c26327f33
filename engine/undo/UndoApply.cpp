// Applying undo files: read, checked, shown and applied.
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
// Reads and checks a file's bytes; the status that refuses it, or Applied.
UndoApplyStatus ParseContent(const std::vector<BYTE>& bytes, UndoFileContent& content, CString& strReason)
{
    std::wstring strDetail;
    const UndoFileProblem problem = ParseUndoFile(bytes, content.changes, strDetail, ReadSecretKey, &content.info);
    const CString strFile = Narrow(content.strFile);
    switch (problem) {
    case UndoFileProblem::None:
        break;
    case UndoFileProblem::NoKey:
        strReason.Format(LoadResourceString(IDS_UNDO_NO_KEY), strFile.GetString());
        return UndoApplyStatus::NoRights;
    case UndoFileProblem::Damaged:
        strReason.Format(LoadResourceString(IDS_UNDO_DAMAGED), strFile.GetString(), Narrow(strDetail).GetString());
        return UndoApplyStatus::Refused;
    default:
        strReason.Format(LoadResourceString(IDS_UNDO_NOT_OURS), strFile.GetString(), Narrow(strDetail).GetString());
        return UndoApplyStatus::Refused;
    }
    for (const RegistryKeyChange& change : content.changes)
        if (change.bDelete && RootOfPath(change.strPath)->hRoot == HKEY_LOCAL_MACHINE) content.machineDeletes.push_back(change.strPath);
    return UndoApplyStatus::Applied;
}

UndoApplyStatus ReadFileBytes(const std::wstring& strFile, std::vector<BYTE>& bytes, CString& strReason)
{
    DWORD dwError = ERROR_SUCCESS;
    HANDLE hFile = OpenFileNoReparse(strFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    const bool bRead = hFile != INVALID_HANDLE_VALUE && ReadWholeFile(hFile, bytes, dwError);
    if (hFile == INVALID_HANDLE_VALUE) dwError = GetLastError();
    else CloseHandle(hFile);
    if (bRead) return UndoApplyStatus::Applied;
    strReason.Format(LoadResourceString(IDS_UNDO_CANNOT_READ), Narrow(strFile).GetString(), ErrorText(dwError).GetString());
    return UndoApplyStatus::Unreadable;
}
}

std::wstring LastUndoFile()
{
    const std::wstring strFolder = UndoFolder();
    if (strFolder.empty()) return std::wstring();
    std::wstring strLast;
    ULONGLONG nLast = 0;
    for (const WIN32_FIND_DATAW& file : FolderFiles(strFolder, L"*.reg")) {
        UndoFileContent content;
        content.strFile = strFolder + L'\\' + file.cFileName;
        std::vector<BYTE> bytes;
        CString strReason;
        if (ReadFileBytes(content.strFile, bytes, strReason) != UndoApplyStatus::Applied ||
            ParseContent(bytes, content, strReason) != UndoApplyStatus::Applied)
            continue;
        const FILETIME& ft = content.info.header.ftTaken;
        const ULONGLONG nTaken = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        if (strLast.empty() || nTaken > nLast) {
            strLast = content.strFile;
            nLast = nTaken;
        }
    }
    return strLast;
}

UndoApplyStatus ReadUndoFile(const std::wstring& strPath, UndoFileContent& content, CString& strReason)
{
    const CString strFile = Narrow(strPath);
    content = UndoFileContent();
    content.strFile = strPath;
    // The system account believes no file that another account could have
    // put in place, seal or not.
    std::wstring strWhere;
    const TrustProblem trust = IsLocalSystem() ? CheckPathTrust(strPath, &strWhere) : TrustProblem::None;
    if (trust != TrustProblem::None && trust != TrustProblem::Missing) {
        strReason.Format(LoadResourceString(IDS_UNDO_UNTRUSTED), strFile.GetString(), TrustProblemText(trust, strWhere).GetString());
        return UndoApplyStatus::Untrusted;
    }
    std::vector<BYTE> bytes;
    UndoApplyStatus status = ReadFileBytes(strPath, bytes, strReason);
    if (status == UndoApplyStatus::Applied) status = ParseContent(bytes, content, strReason);
    if (status != UndoApplyStatus::Applied) return status;
    // A file written for another account (by the system account, say)
    // changes that account's classes, never those of whoever applies it.
    const UndoFileHeader& header = content.info.header;
    const bool bUserKeys = std::any_of(content.changes.begin(), content.changes.end(), [](const RegistryKeyChange& change) {
        return RootOfPath(change.strPath)->hRoot == HKEY_CURRENT_USER;
    });
    if (bUserKeys && header.strUserSid != CurrentUserSid()) {
        HKEY hHive = nullptr;
        if (!CanWriteMachineClasses() || RegOpenKeyExW(HKEY_USERS, header.strUserSid.c_str(), 0, KEY_READ, &hHive) != ERROR_SUCCESS) {
            strReason.Format(LoadResourceString(IDS_UNDO_OTHER_USER), strFile.GetString(), Narrow(header.strUser).GetString(),
                             Narrow(header.strUserSid).GetString());
            return UndoApplyStatus::Refused;
        }
        RegCloseKey(hHive);
        content.strUserHive = header.strUserSid;
    }
    const std::wstring strOlder = FirstOlderDeletedKey(content.changes, header.ftTaken, content.strUserHive);
    if (!strOlder.empty()) {
        strReason.Format(LoadResourceString(IDS_UNDO_DELETES_OLDER), strFile.GetString(), Narrow(strOlder).GetString());
        return UndoApplyStatus::Refused;
    }
    const bool bMachine = std::any_of(content.changes.begin(), content.changes.end(), [](const RegistryKeyChange& change) {
        return RootOfPath(change.strPath)->hRoot == HKEY_LOCAL_MACHINE;
    });
    if (bMachine && !CanWriteMachineClasses()) {
        strReason.Format(LoadResourceString(IDS_UNDO_NO_RIGHTS), strFile.GetString());
        return UndoApplyStatus::NoRights;
    }
    return UndoApplyStatus::Applied;
}

UndoApplyResult ApplyUndoContent(const UndoFileContent& content)
{
    UndoApplyResult result;
    const CString strFile = Narrow(content.strFile);
    result.counts = content.info.counts;
    for (const RegistryKeyChange& change : content.changes) result.keys.push_back(change.strPath);
    CChangeRecording own("Undo");
    if (!own.Begin()) {
        result.strReason.Format(LoadResourceString(IDS_UNDO_NOT_KEPT), own.Error().GetString());
        return result;
    }
    DWORD dwError = ERROR_SUCCESS;
    std::wstring strFailedKey;
    bool bAnyMade = false;
    const bool bApplied = ApplyRegistryChanges(content.changes, dwError, strFailedKey, &bAnyMade, content.strUserHive);
    result.own = own.End();
    if (bApplied && !content.strUserHive.empty()) {
        result.status = UndoApplyStatus::Applied;
        result.strReason.Format(LoadResourceString(IDS_UNDO_APPLIED_FOR_USER), strFile.GetString(), result.counts.nKeys,
                                result.counts.nValues, Narrow(content.info.header.strUser).GetString(),
                                Narrow(content.strUserHive).GetString());
    } else if (bApplied) {
        result.status = UndoApplyStatus::Applied;
        result.strReason.Format(LoadResourceString(IDS_UNDO_APPLIED), strFile.GetString(), result.counts.nKeys,
                                result.counts.nValues);
    } else if (!bAnyMade && dwError == ERROR_ACCESS_DENIED) {
        // Nothing was changed: the rights were missing from the start.
        result.status = UndoApplyStatus::NoRights;
        result.strReason.Format(LoadResourceString(IDS_UNDO_NO_RIGHTS), strFile.GetString());
    } else {
        result.status = UndoApplyStatus::Failed;
        result.strReason.Format(LoadResourceString(IDS_UNDO_FAILED), strFile.GetString(), Narrow(strFailedKey).GetString(),
                                ErrorText(dwError).GetString());
    }
    return result;
}

UndoApplyResult ApplyUndoFile(const std::wstring& strFile)
{
    UndoFileContent content;
    UndoApplyResult result;
    result.status = ReadUndoFile(strFile, content, result.strReason);
    if (result.status != UndoApplyStatus::Applied) return result;
    return ApplyUndoContent(content);
}

