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

std::wstring UndoFolder(CString* pstrError)
{
    const bool bSystem = IsLocalSystem();
    wchar_t szBase[MAX_PATH] = L"";
    const int nFolder = bSystem ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE;
    if (FAILED(SHGetFolderPathW(nullptr, nFolder, nullptr, SHGFP_TYPE_CURRENT, szBase))) {
        if (pstrError) *pstrError = ErrorText(ERROR_PATH_NOT_FOUND);
        return std::wstring();
    }
    const std::vector<std::wstring> parts = {L"Kelvara", L"Forge Support", L"Undo"};
    std::wstring strPath;
    if (bSystem) {
        TrustProblem problem = TrustProblem::None;
        const DWORD dwError = CreateTrustedFolder(szBase, parts, strPath, &problem);
        if (dwError == ERROR_SUCCESS) return strPath;
        if (pstrError) *pstrError = problem != TrustProblem::None ? TrustProblemText(problem, strPath) : ErrorText(dwError);
        return std::wstring();
    }
    strPath = szBase;
    for (const std::wstring& strPart : parts) {
        strPath += L'\\' + strPart;
        if (!CreateDirectoryW(strPath.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            if (pstrError) *pstrError = ErrorText(GetLastError());
            return std::wstring();
        }
    }
    return strPath;
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

namespace {
// The snapshot's file as the keys are read: written in large pieces, and
// sealed over every byte as it goes.
class CSealedFileOutput : public CSnapshotOutput {
public:
    CSealedFileOutput(HANDLE hFile, const std::vector<BYTE>& key)
        : m_hFile(hFile), m_hmac(key)
    {
        m_buffer.reserve(BUFFER_BYTES);
    }
    bool Write(const void* pBytes, size_t nBytes) override
    {
        if (m_bFailed) return false;
        const BYTE* p = static_cast<const BYTE*>(pBytes);
        m_buffer.insert(m_buffer.end(), p, p + nBytes);
        if (m_buffer.size() >= BUFFER_BYTES) Flush();
        return !m_bFailed;
    }
    // The seal after the last byte, and everything on the disk.
    bool Finish()
    {
        std::vector<BYTE> seal;
        if (!Flush() || !m_hmac.Finish(seal)) return false;
        return WriteAllBytes(m_hFile, seal.data(), seal.size()) && FlushFileBuffers(m_hFile);
    }

private:
    static constexpr size_t BUFFER_BYTES = 1 << 20;
    bool Flush()
    {
        // Sealed a buffer at a time: the seal's system calls are not per word.
        m_hmac.Update(m_buffer.data(), m_buffer.size());
        if (!m_bFailed && !m_buffer.empty() && !WriteAllBytes(m_hFile, m_buffer.data(), m_buffer.size())) m_bFailed = true;
        m_buffer.clear();
        return !m_bFailed;
    }
    HANDLE m_hFile;
    CHmacSha256 m_hmac;
    std::vector<BYTE> m_buffer;
    bool m_bFailed = false;
};
}

bool CChangeRecording::Begin(CWorkProgress* pProgress)
{
    if (IsBegun()) return true;
    if (!m_strError.IsEmpty()) return false;
    const std::wstring strFolder = UndoFolder(&m_strError);
    if (strFolder.empty()) return false;
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

    // Held open, shared for reading only, until the press ends: a start of
    // the utility meanwhile sees that it is in use. It is deleted through
    // this handle, never by its name. A stem whose undo file an earlier
    // press left is not taken: this press rewrites its own as it goes.
    const std::wstring strBase = strFolder + L'\\' + szStamp + L' ' + Wide(m_strAction);
    DWORD dwError = ERROR_SUCCESS;
    for (int n = 1; n < 100 && m_hSnapshot == INVALID_HANDLE_VALUE; ++n) {
        m_strStem = strBase + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"");
        if (GetFileAttributesW((m_strStem + UNDO_EXTENSION).c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        m_hSnapshot = CreateFileW((m_strStem + SNAPSHOT_EXTENSION).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr);
        dwError = m_hSnapshot == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) break;
    }
    if (m_hSnapshot == INVALID_HANDLE_VALUE) {
        m_strError = ErrorText(dwError);
        return false;
    }
    m_strUndoFile = m_strStem + UNDO_EXTENSION;

    // The snapshot goes to the file as the keys are read, sealed like the
    // undo files: a snapshot left for the next start is believed only when
    // this program wrote it. Then the file is mapped, and the comparison
    // reads the names and values back from it.
    const uint32_t nScope = m_seal.scope == KeyScope::Machine ? 1 : 0;
    std::vector<BYTE> header(sizeof PENDING_MAGIC + sizeof nScope);
    std::memcpy(header.data(), PENDING_MAGIC, sizeof PENDING_MAGIC);
    std::memcpy(header.data() + sizeof PENDING_MAGIC, &nScope, sizeof nScope);
    AppendString(header, Wide(m_strAction));
    AppendString(header, m_strTime);
    CSealedFileOutput out(m_hSnapshot, m_seal.key);
    CFileView view;
    bool bRead = false;
    const bool bWritten = out.Write(header.data(), header.size()) && (bRead = m_snapshot.CaptureTo(out, pProgress)) &&
                          out.Finish() && view.Open(m_hSnapshot, UNDO_FILE_LIMIT) == ERROR_SUCCESS &&
                          m_snapshot.Attach(std::move(view), header.size());
    if (!bWritten) {
        dwError = GetLastError();
        m_snapshot.Release();
        DeleteOpenFile(m_hSnapshot);
        CloseHandle(m_hSnapshot);
        m_hSnapshot = INVALID_HANDLE_VALUE;
        m_strError = ErrorText(bRead && dwError != ERROR_SUCCESS ? dwError : ERROR_ACCESS_DENIED);
        return false;
    }
    m_nLastCheckpoint = GetTickCount64();
    return true;
}

void CChangeRecording::Checkpoint()
{
    if (!IsBegun() || m_bEnded) return;
    const ULONGLONG nStart = GetTickCount64();
    if (nStart - m_nLastCheckpoint < 3 * m_nCheckpointCost) return;
    UndoFileHeader header;
    header.strAction = Wide(m_strAction);
    header.strTime = m_strTime;
    header.ftTaken = m_snapshot.TakenAt();
    header.strNote = L"Written while the change went on: what had changed by then.";
    UndoOutcome outcome;
    WriteUndo(m_snapshot.CompareWithRegistry(), m_strUndoFile, header, m_seal, outcome);
    m_nLastCheckpoint = GetTickCount64();
    m_nCheckpointCost = m_nLastCheckpoint - nStart;
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
    WriteUndo(changes, m_strUndoFile, header, m_seal, outcome);
    // A mapped file can be neither deleted nor renamed.
    m_snapshot.Release();
    // Kept when its undo file could not be written: the next start tries again.
    if (outcome.strError.IsEmpty()) DeleteOpenFile(m_hSnapshot);
    CloseHandle(m_hSnapshot);
    m_hSnapshot = INVALID_HANDLE_VALUE;
    m_bEnded = true;
    m_outcome = outcome;
    return outcome;
}
