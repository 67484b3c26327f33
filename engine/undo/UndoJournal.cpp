#include "engine/undo/UndoJournal.h"
#include "system/FileWrite.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "system/SystemMessage.h"
#include "res/resource.h"
#include <shlobj.h>
#include <algorithm>
#include <cstring>

namespace {
const char PENDING_MAGIC[8] = {'F', 'S', 'P', 'E', 'N', 'D', '0', '1'};
const wchar_t SNAPSHOT_EXTENSION[] = L".snapshot";
const wchar_t UNDO_EXTENSION[] = L".reg";
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
               UndoOutcome& outcome)
{
    if (changes.empty()) return;
    header.strComputer = ComputerName();
    header.strUser = UserName();
    const std::vector<BYTE> bytes = FormatUndoFile(changes, header, &outcome.counts);
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

CString UndoFolder()
{
    wchar_t szBase[MAX_PATH] = L"";
    const int nFolder = IsLocalSystem() ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA;
    if (FAILED(SHGetFolderPathW(nullptr, nFolder | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, szBase))) return CString();
    std::wstring strPath = szBase;
    for (const wchar_t* pszPart : {L"\\Kelvara", L"\\Forge Support", L"\\Undo"}) {
        strPath += pszPart;
        if (!CreateDirectoryW(strPath.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return CString();
    }
    return Narrow(strPath);
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
    const CString strFolder = UndoFolder();
    if (strFolder.IsEmpty()) {
        m_strError = ErrorText(GetLastError());
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
    AppendString(header, Wide(m_strAction));
    AppendString(header, m_strTime);
    const std::vector<BYTE> snapshot = m_snapshot.Serialize();

    // Held open, shared for reading only, until the press ends: a start of
    // the utility meanwhile sees that it is in use.
    const std::wstring strBase = Wide(strFolder) + L'\\' + szStamp + L' ' + Wide(m_strAction);
    DWORD dwError = ERROR_SUCCESS;
    for (int n = 1; n < 100 && m_hSnapshot == INVALID_HANDLE_VALUE; ++n) {
        m_strStem = strBase + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"");
        m_hSnapshot = CreateFileW((m_strStem + SNAPSHOT_EXTENSION).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        dwError = m_hSnapshot == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) break;
    }
    if (m_hSnapshot != INVALID_HANDLE_VALUE &&
        (!WriteAllBytes(m_hSnapshot, header.data(), header.size()) ||
         !WriteAllBytes(m_hSnapshot, snapshot.data(), snapshot.size()) || !FlushFileBuffers(m_hSnapshot))) {
        dwError = GetLastError();
        CloseHandle(m_hSnapshot);
        m_hSnapshot = INVALID_HANDLE_VALUE;
        DeleteFileW((m_strStem + SNAPSHOT_EXTENSION).c_str());
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
    WriteUndo(changes, m_strStem, header, outcome);
    CloseHandle(m_hSnapshot);
    m_hSnapshot = INVALID_HANDLE_VALUE;
    // Kept when its undo file could not be written: the next start tries again.
    if (outcome.strError.IsEmpty()) DeleteFileW((m_strStem + SNAPSHOT_EXTENSION).c_str());
    m_bEnded = true;
    m_outcome = outcome;
    return outcome;
}

namespace {
// Completes one left snapshot; false when another process holds it.
bool CompletePending(const std::wstring& strPath, UndoOutcome& outcome)
{
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    std::vector<BYTE> bytes;
    DWORD dwError = ERROR_SUCCESS;
    size_t pos = 8;
    UndoFileHeader header;
    CRegistrySnapshot snapshot;
    const bool bWhole = ReadWholeFile(hFile, bytes, dwError) && bytes.size() > 8 &&
                        std::memcmp(bytes.data(), PENDING_MAGIC, 8) == 0 && TakeString(bytes, pos, header.strAction) &&
                        TakeString(bytes, pos, header.strTime) &&
                        snapshot.Load(std::vector<BYTE>(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.end()));
    // A snapshot cut short was being written when the process ended: no
    // server had run yet, and there is nothing to undo.
    if (bWhole) {
        outcome.bRecorded = true;
        header.strNote = L"Completed at the next start: the change was interrupted.";
        const std::wstring strStem = strPath.substr(0, strPath.size() - wcslen(SNAPSHOT_EXTENSION));
        WriteUndo(snapshot.CompareWithRegistry(), strStem, header, outcome);
    }
    CloseHandle(hFile);
    if (outcome.strError.IsEmpty()) DeleteFileW(strPath.c_str());
    return true;
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
        if (CompletePending(strFolder + L'\\' + file.cFileName, outcome) && (outcome.bWritten || !outcome.strError.IsEmpty()))
            outcomes.push_back(outcome);
    }
    return outcomes;
}

CString CompletedUndoMessage(const UndoOutcome& outcome)
{
    CString strText;
    if (outcome.bWritten)
        strText.Format(LoadResourceString(IDS_UNDO_COMPLETED), outcome.strFile.GetString(), outcome.counts.nKeys,
                       outcome.counts.nValues);
    else
        strText.Format(LoadResourceString(IDS_UNDO_NOT_WRITTEN), outcome.strError.GetString());
    return strText;
}

CString LastUndoFile()
{
    const std::wstring strFolder = Wide(UndoFolder());
    const WIN32_FIND_DATAW* pLast = nullptr;
    const std::vector<WIN32_FIND_DATAW> files = strFolder.empty() ? std::vector<WIN32_FIND_DATAW>()
                                                                   : FolderFiles(strFolder, L"*.reg");
    for (const WIN32_FIND_DATAW& file : files)
        if (!pLast || CompareFileTime(&file.ftLastWriteTime, &pLast->ftLastWriteTime) > 0) pLast = &file;
    return pLast ? Narrow(strFolder + L'\\' + pLast->cFileName) : CString();
}

UndoApplyResult ApplyUndoFile(const CString& strFile)
{
    UndoApplyResult result;
    std::vector<BYTE> bytes;
    DWORD dwError = ERROR_SUCCESS;
    HANDLE hFile = CreateFileW(Wide(strFile).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool bRead = hFile != INVALID_HANDLE_VALUE && ReadWholeFile(hFile, bytes, dwError);
    if (hFile == INVALID_HANDLE_VALUE) dwError = GetLastError();
    else CloseHandle(hFile);
    if (!bRead) {
        result.strReason.Format(LoadResourceString(IDS_UNDO_CANNOT_READ), strFile.GetString(), ErrorText(dwError).GetString());
        return result;
    }
    std::vector<RegistryKeyChange> changes;
    std::wstring strDetail;
    const UndoFileProblem problem = ParseUndoFile(bytes, changes, strDetail);
    if (problem != UndoFileProblem::None) {
        result.status = UndoApplyStatus::Refused;
        result.strReason.Format(LoadResourceString(problem == UndoFileProblem::Damaged ? IDS_UNDO_DAMAGED : IDS_UNDO_NOT_OURS),
                                strFile.GetString(), Narrow(strDetail).GetString());
        return result;
    }
    result.counts = CountChanges(changes);
    bool bMachine = false;
    for (const RegistryKeyChange& change : changes) {
        result.keys.push_back(change.strPath);
        bMachine = bMachine || RootOfPath(change.strPath)->hRoot == HKEY_LOCAL_MACHINE;
    }
    if (bMachine && !CanWriteMachineClasses()) {
        result.status = UndoApplyStatus::NoRights;
        result.strReason.Format(LoadResourceString(IDS_UNDO_NO_RIGHTS), strFile.GetString());
        return result;
    }
    CChangeRecording own("Undo");
    if (!own.Begin()) {
        result.strReason.Format(LoadResourceString(IDS_UNDO_NOT_KEPT), own.Error().GetString());
        return result;
    }
    std::wstring strFailedKey;
    const bool bApplied = ApplyRegistryChanges(changes, dwError, strFailedKey);
    result.own = own.End();
    if (bApplied) {
        result.status = UndoApplyStatus::Applied;
        result.strReason.Format(LoadResourceString(IDS_UNDO_APPLIED), strFile.GetString(), result.counts.nKeys,
                                result.counts.nValues);
    } else {
        result.status = dwError == ERROR_ACCESS_DENIED ? UndoApplyStatus::NoRights : UndoApplyStatus::Failed;
        result.strReason.Format(LoadResourceString(IDS_UNDO_FAILED), strFile.GetString(), Narrow(strFailedKey).GetString(),
                                ErrorText(dwError).GetString());
    }
    return result;
}
