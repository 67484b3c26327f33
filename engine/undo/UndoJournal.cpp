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
    const uint32_t nScope = m_seal.scope == KeyScope::Machine ? 1 : 0;
    std::vector<BYTE> header(sizeof PENDING_MAGIC + sizeof nScope);
    std::memcpy(header.data(), PENDING_MAGIC, sizeof PENDING_MAGIC);
    std::memcpy(header.data() + sizeof PENDING_MAGIC, &nScope, sizeof nScope);
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
