#include "engine/undo/UndoJournal.h"
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

namespace {
const char PENDING_MAGIC[8] = {'F', 'S', 'P', 'E', 'N', 'D', '0', '2'};
const size_t SEAL_BYTES = 32;
const wchar_t SNAPSHOT_EXTENSION[] = L".snapshot";
const wchar_t UNDO_EXTENSION[] = L".reg";
const wchar_t SET_ASIDE_EXTENSION[] = L".unusable";
// The largest undo file read back: far beyond any the classes keys give.
const LONGLONG UNDO_FILE_LIMIT = 512LL << 20;

std::wstring Wide(const CString& str)
{
    return str.ToWide();
}

CString Narrow(const std::wstring& str)
{
    return CString::FromWide(str.c_str(), static_cast<int>(str.size()));
}

CString ErrorText(DWORD dwError)
{
    CString strText = SystemMessageText(dwError);
    if (strText.IsEmpty()) strText.Format("error %lu", dwError);
    return strText;
}

void AppendString(std::vector<BYTE>& out, const std::wstring& str)
{
    const uint32_t nChars = static_cast<uint32_t>(str.size());
    const BYTE* pCount = reinterpret_cast<const BYTE*>(&nChars);
    out.insert(out.end(), pCount, pCount + sizeof nChars);
    const BYTE* p = reinterpret_cast<const BYTE*>(str.data());
    out.insert(out.end(), p, p + str.size() * sizeof(wchar_t));
}

bool TakeString(const std::vector<BYTE>& bytes, size_t& pos, std::wstring& str)
{
    uint32_t nChars = 0;
    if (bytes.size() - pos < sizeof nChars) return false;
    std::memcpy(&nChars, bytes.data() + pos, sizeof nChars);
    pos += sizeof nChars;
    if (nChars > 1024 || bytes.size() - pos < nChars * sizeof(wchar_t)) return false;
    str.assign(reinterpret_cast<const wchar_t*>(bytes.data() + pos), nChars);
    pos += nChars * sizeof(wchar_t);
    return true;
}

bool ReadWholeFile(HANDLE hFile, std::vector<BYTE>& bytes, DWORD& dwError)
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(hFile, &size)) {
        dwError = GetLastError();
        return false;
    }
    if (size.QuadPart > UNDO_FILE_LIMIT) {
        dwError = ERROR_FILE_TOO_LARGE;
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        DWORD nRead = 0;
        const DWORD nChunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - nDone, 1 << 20));
        if (!ReadFile(hFile, bytes.data() + nDone, nChunk, &nRead, nullptr) || nRead == 0) {
            dwError = nRead == 0 ? ERROR_HANDLE_EOF : GetLastError();
            return false;
        }
        nDone += nRead;
    }
    return true;
}

std::wstring ComputerName()
{
    wchar_t szName[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD nChars = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(szName, &nChars) ? szName : L"";
}

std::wstring UserName()
{
    wchar_t szName[257] = L"";
    DWORD nChars = 257;
    return GetUserNameW(szName, &nChars) ? szName : L"";
}

// Writes the undo file of changes beside the stem, under the first name
// not yet taken. No changes: no file.
void WriteUndo(const std::vector<RegistryKeyChange>& changes, const std::wstring& strStem, UndoFileHeader header,
               const UndoSeal& seal, UndoOutcome& outcome)
{
    if (changes.empty()) return;
    header.strComputer = ComputerName();
    header.strUser = UserName();
    header.strUserSid = CurrentUserSid();
    const std::vector<BYTE> bytes = FormatUndoFile(changes, header, seal, &outcome.counts);
    const std::wstring strFolder = strStem.substr(0, strStem.rfind(L'\\'));
    DWORD dwError = ERROR_SUCCESS;
    for (int n = 1; n < 100; ++n) {
        const std::wstring strPath = strStem + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"") + UNDO_EXTENSION;
        dwError = WriteFileWhole(strFolder, strPath, bytes.data(), bytes.size(), false);
        if (dwError == ERROR_ALREADY_EXISTS) continue;
        if (dwError == ERROR_SUCCESS) {
            outcome.bWritten = true;
            outcome.strFile = Narrow(strPath);
        }
        break;
    }
    if (!outcome.bWritten) outcome.strError = ErrorText(dwError);
}
}

std::wstring CurrentUserSid()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return L"";
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD nBytes = 0;
    wchar_t* pszSid = nullptr;
    std::wstring strSid;
    if (GetTokenInformation(hToken, TokenUser, buffer, sizeof buffer, &nBytes) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &pszSid)) {
        strSid = pszSid;
        LocalFree(pszSid);
    }
    CloseHandle(hToken);
    return strSid;
}

CString UndoFolder(CString* pstrError)
{
    const bool bSystem = IsLocalSystem();
    wchar_t szBase[MAX_PATH] = L"";
    const int nFolder = bSystem ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE;
    if (FAILED(SHGetFolderPathW(nullptr, nFolder, nullptr, SHGFP_TYPE_CURRENT, szBase))) {
        if (pstrError) *pstrError = ErrorText(ERROR_PATH_NOT_FOUND);
        return CString();
    }
    const std::vector<std::wstring> parts = {L"Kelvara", L"Forge Support", L"Undo"};
    std::wstring strPath;
    if (bSystem) {
        TrustProblem problem = TrustProblem::None;
        const DWORD dwError = CreateTrustedFolder(szBase, parts, strPath, &problem);
        if (dwError == ERROR_SUCCESS) return Narrow(strPath);
        if (pstrError) *pstrError = problem != TrustProblem::None ? TrustProblemText(problem, strPath) : ErrorText(dwError);
        return CString();
    }
    strPath = szBase;
    for (const std::wstring& strPart : parts) {
        strPath += L'\\' + strPart;
        if (!CreateDirectoryW(strPath.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            if (pstrError) *pstrError = ErrorText(GetLastError());
            return CString();
        }
    }
    return Narrow(strPath);
}

DWORD CurrentUndoSeal(UndoSeal& seal)
{
    seal.scope = KeyScope::Machine;
    if (ReadSecretKey(KeyScope::Machine, seal.key) == ERROR_SUCCESS) return ERROR_SUCCESS;
    seal.scope = KeyScope::User;
    return ReadSecretKey(KeyScope::User, seal.key);
}

CChangeRecording::CChangeRecording(const CString& strAction)
    : m_strAction(strAction)
{
}

CChangeRecording::~CChangeRecording()
{
    if (IsBegun()) End();
}

bool CChangeRecording::Begin(CWorkProgress* pProgress)
{
    if (IsBegun()) return true;
    if (!m_strError.IsEmpty()) return false;
    const CString strFolder = UndoFolder(&m_strError);
    if (strFolder.IsEmpty()) return false;
    const DWORD dwSealError = CurrentUndoSeal(m_seal);
    if (dwSealError != ERROR_SUCCESS) {
        m_strError = ErrorText(dwSealError);
        return false;
    }
    SYSTEMTIME st = {};
    GetLocalTime(&st);
    wchar_t szTime[32] = L"", szStamp[32] = L"";
    swprintf(szTime, 32, L"%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    swprintf(szStamp, 32, L"%04u-%02u-%02u %02u%02u%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    m_strTime = szTime;
    if (!m_snapshot.Capture(pProgress)) {
        m_strError = ErrorText(ERROR_ACCESS_DENIED);
        return false;
    }
    std::vector<BYTE> header(PENDING_MAGIC, PENDING_MAGIC + 8);
    const uint32_t nScope = m_seal.scope == KeyScope::Machine ? 1 : 0;
    header.insert(header.end(), reinterpret_cast<const BYTE*>(&nScope), reinterpret_cast<const BYTE*>(&nScope) + 4);
    AppendString(header, Wide(m_strAction));
    AppendString(header, m_strTime);
    const std::vector<BYTE> snapshot = m_snapshot.Serialize();
    // Sealed like the undo files: a snapshot left for the next start is
    // believed only when this program wrote it.
    std::vector<BYTE> seal;
    CHmacSha256 hmac(m_seal.key);
    hmac.Update(header.data(), header.size());
    hmac.Update(snapshot.data(), snapshot.size());
    if (!hmac.Finish(seal)) {
        m_strError = ErrorText(ERROR_INVALID_FUNCTION);
        return false;
    }

    // Held open, shared for reading only, until the press ends: a start of
    // the utility meanwhile sees that it is in use. It is deleted through
    // this handle, never by its name.
    const std::wstring strBase = Wide(strFolder) + L'\\' + szStamp + L' ' + Wide(m_strAction);
    DWORD dwError = ERROR_SUCCESS;
    for (int n = 1; n < 100 && m_hSnapshot == INVALID_HANDLE_VALUE; ++n) {
        m_strStem = strBase + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"");
        m_hSnapshot = CreateFileW((m_strStem + SNAPSHOT_EXTENSION).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        dwError = m_hSnapshot == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) break;
    }
    if (m_hSnapshot != INVALID_HANDLE_VALUE &&
        (!WriteAllBytes(m_hSnapshot, header.data(), header.size()) ||
         !WriteAllBytes(m_hSnapshot, snapshot.data(), snapshot.size()) || !WriteAllBytes(m_hSnapshot, seal.data(), seal.size()) ||
         !FlushFileBuffers(m_hSnapshot))) {
        dwError = GetLastError();
        DeleteOpenFile(m_hSnapshot);
        CloseHandle(m_hSnapshot);
        m_hSnapshot = INVALID_HANDLE_VALUE;
    }
    if (m_hSnapshot == INVALID_HANDLE_VALUE) m_strError = ErrorText(dwError);
    return IsBegun();
}

UndoOutcome CChangeRecording::End(CWorkProgress* pProgress)
{
    if (m_bEnded) return m_outcome;
    UndoOutcome outcome;
    outcome.strError = m_strError;
    if (!IsBegun()) return outcome;
    outcome.bRecorded = true;
    const std::vector<RegistryKeyChange> changes = m_snapshot.CompareWithRegistry(pProgress);
    UndoFileHeader header;
    header.strAction = Wide(m_strAction);
    header.strTime = m_strTime;
    header.ftTaken = m_snapshot.TakenAt();
    WriteUndo(changes, m_strStem, header, m_seal, outcome);
    // Kept when its undo file could not be written: the next start tries again.
    if (outcome.strError.IsEmpty()) DeleteOpenFile(m_hSnapshot);
    CloseHandle(m_hSnapshot);
    m_hSnapshot = INVALID_HANDLE_VALUE;
    m_bEnded = true;
    m_outcome = outcome;
    return outcome;
}

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
    outcome.strFile = Narrow(bRenamed ? strTarget : strPath);
    outcome.strError = strWhy;
}

// Reads a left snapshot: its header, and the snapshot once its seal holds.
// ERROR_SUCCESS; ERROR_ACCESS_DENIED when its key cannot be read here (left
// for a process that can); another error when it is unusable.
DWORD ReadPending(const std::vector<BYTE>& bytes, UndoFileHeader& header, CRegistrySnapshot& snapshot, KeyScope& scope)
{
    size_t pos = 8;
    uint32_t nScope = 0;
    if (bytes.size() < 12 + SEAL_BYTES || std::memcmp(bytes.data(), PENDING_MAGIC, 8) != 0) return ERROR_BAD_FORMAT;
    std::memcpy(&nScope, bytes.data() + pos, 4);
    pos += 4;
    if (nScope > 1) return ERROR_BAD_FORMAT;
    scope = nScope ? KeyScope::Machine : KeyScope::User;
    std::vector<BYTE> key, seal;
    if (ReadSecretKey(scope, key) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
    const size_t nBody = bytes.size() - SEAL_BYTES;
    if (!HmacSha256(key, bytes.data(), nBody, seal) || seal.size() != SEAL_BYTES ||
        !SameBytes(seal.data(), bytes.data() + nBody, SEAL_BYTES))
        return ERROR_INVALID_DATA;
    const std::vector<BYTE> body(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(nBody));
    if (!TakeString(body, pos, header.strAction) || !TakeString(body, pos, header.strTime) ||
        !snapshot.Load(std::vector<BYTE>(body.begin() + static_cast<std::ptrdiff_t>(pos), body.end())))
        return ERROR_INVALID_DATA;
    header.ftTaken = snapshot.TakenAt();
    return ERROR_SUCCESS;
}

// Completes one left snapshot; false when another process holds it, or
// when only another kind of process can check it.
bool CompletePending(const std::wstring& strPath, UndoOutcome& outcome)
{
    HANDLE hFile = OpenFileNoReparse(strPath, GENERIC_READ | DELETE, 0, OPEN_EXISTING);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    std::vector<BYTE> bytes;
    DWORD dwError = ERROR_SUCCESS;
    UndoFileHeader header;
    CRegistrySnapshot snapshot;
    KeyScope scope = KeyScope::User;
    bool bHandled = true;
    try {
        if (ReadWholeFile(hFile, bytes, dwError)) dwError = ReadPending(bytes, header, snapshot, scope);
        if (dwError == ERROR_SUCCESS) {
            UndoSeal seal;
            seal.scope = scope;
            ReadSecretKey(scope, seal.key);
            outcome.bRecorded = true;
            header.strNote = L"Completed at the next start: the change was interrupted.";
            const std::wstring strStem = strPath.substr(0, strPath.size() - wcslen(SNAPSHOT_EXTENSION));
            WriteUndo(snapshot.CompareWithRegistry(), strStem, header, seal, outcome);
            if (outcome.strError.IsEmpty()) DeleteOpenFile(hFile);
        } else if (dwError == ERROR_ACCESS_DENIED) {
            bHandled = false;
        } else {
            SetAside(hFile, strPath, ErrorText(dwError), outcome);
        }
    } catch (const std::exception&) {
        // However it is made, a file that cannot be read is set aside: it
        // must never stop every later start.
        outcome = UndoOutcome();
        SetAside(hFile, strPath, ErrorText(ERROR_NOT_ENOUGH_MEMORY), outcome);
    }
    CloseHandle(hFile);
    return bHandled;
}

// The files of the undo folder that match the pattern, with their times.
std::vector<WIN32_FIND_DATAW> FolderFiles(const std::wstring& strFolder, const wchar_t* pszPattern)
{
    std::vector<WIN32_FIND_DATAW> files;
    WIN32_FIND_DATAW data = {};
    HANDLE hFind = FindFirstFileW((strFolder + L"\\" + pszPattern).c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(data);
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return files;
}
}

std::vector<UndoOutcome> CompletePendingUndo()
{
    std::vector<UndoOutcome> outcomes;
    const std::wstring strFolder = Wide(UndoFolder());
    if (strFolder.empty()) return outcomes;
    for (const WIN32_FIND_DATAW& file : FolderFiles(strFolder, L"*.snapshot")) {
        UndoOutcome outcome;
        if (CompletePending(strFolder + L'\\' + file.cFileName, outcome) &&
            (outcome.bWritten || outcome.bSetAside || !outcome.strError.IsEmpty()))
            outcomes.push_back(outcome);
    }
    return outcomes;
}

CString CompletedUndoMessage(const UndoOutcome& outcome)
{
    CString strText;
    if (outcome.bSetAside)
        strText.Format(LoadResourceString(IDS_UNDO_SET_ASIDE), outcome.strError.GetString(), outcome.strFile.GetString());
    else if (outcome.bWritten)
        strText.Format(LoadResourceString(IDS_UNDO_COMPLETED), outcome.strFile.GetString(), outcome.counts.nKeys,
                       outcome.counts.nValues);
    else
        strText.Format(LoadResourceString(IDS_UNDO_NOT_WRITTEN), outcome.strError.GetString());
    return strText;
}

namespace {
// Reads and checks a file's bytes; the status that refuses it, or Applied.
UndoApplyStatus ParseContent(const std::vector<BYTE>& bytes, UndoFileContent& content, CString& strReason)
{
    std::wstring strDetail;
    const UndoFileProblem problem = ParseUndoFile(bytes, content.changes, strDetail, ReadSecretKey, &content.info);
    const CString strFile = content.strFile;
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

UndoApplyStatus ReadFileBytes(const CString& strFile, std::vector<BYTE>& bytes, CString& strReason)
{
    DWORD dwError = ERROR_SUCCESS;
    HANDLE hFile = OpenFileNoReparse(Wide(strFile), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    const bool bRead = hFile != INVALID_HANDLE_VALUE && ReadWholeFile(hFile, bytes, dwError);
    if (hFile == INVALID_HANDLE_VALUE) dwError = GetLastError();
    else CloseHandle(hFile);
    if (bRead) return UndoApplyStatus::Applied;
    strReason.Format(LoadResourceString(IDS_UNDO_CANNOT_READ), strFile.GetString(), ErrorText(dwError).GetString());
    return UndoApplyStatus::Unreadable;
}
}

CString LastUndoFile()
{
    const std::wstring strFolder = Wide(UndoFolder());
    if (strFolder.empty()) return CString();
    CString strLast;
    ULONGLONG nLast = 0;
    for (const WIN32_FIND_DATAW& file : FolderFiles(strFolder, L"*.reg")) {
        UndoFileContent content;
        content.strFile = Narrow(strFolder + L'\\' + file.cFileName);
        std::vector<BYTE> bytes;
        CString strReason;
        if (ReadFileBytes(content.strFile, bytes, strReason) != UndoApplyStatus::Applied ||
            ParseContent(bytes, content, strReason) != UndoApplyStatus::Applied)
            continue;
        const FILETIME& ft = content.info.header.ftTaken;
        const ULONGLONG nTaken = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        if (strLast.IsEmpty() || nTaken > nLast) {
            strLast = content.strFile;
            nLast = nTaken;
        }
    }
    return strLast;
}

UndoApplyStatus ReadUndoFile(const CString& strFile, UndoFileContent& content, CString& strReason)
{
    content = UndoFileContent();
    content.strFile = strFile;
    // The system account believes no file that another account could have
    // put in place, seal or not.
    std::wstring strWhere;
    const TrustProblem trust = IsLocalSystem() ? CheckPathTrust(Wide(strFile), &strWhere) : TrustProblem::None;
    if (trust != TrustProblem::None && trust != TrustProblem::Missing) {
        strReason.Format(LoadResourceString(IDS_UNDO_UNTRUSTED), strFile.GetString(), TrustProblemText(trust, strWhere).GetString());
        return UndoApplyStatus::Untrusted;
    }
    std::vector<BYTE> bytes;
    UndoApplyStatus status = ReadFileBytes(strFile, bytes, strReason);
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
    const CString& strFile = content.strFile;
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

UndoApplyResult ApplyUndoFile(const CString& strFile)
{
    UndoFileContent content;
    UndoApplyResult result;
    result.status = ReadUndoFile(strFile, content, result.strReason);
    if (result.status != UndoApplyStatus::Applied) return result;
    return ApplyUndoContent(content);
}
