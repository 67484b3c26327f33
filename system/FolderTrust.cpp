#include "system/FolderTrust.h"
#include "system/Paths.h"
#include "res/resource.h"
#include <aclapi.h>
#include <sddl.h>

namespace {
// Rights that let their holder change a file or folder, or what it holds.
// Reading, running and writing extended attributes or attributes do not.
constexpr ACCESS_MASK kWriteRights = GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER | DELETE |
                                     FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD;
// A drive's root lets users add folders (FILE_ADD_SUBDIRECTORY is
// FILE_APPEND_DATA's bit); the folders they make are theirs, not ours.
constexpr ACCESS_MASK kRootWriteRights = kWriteRights & ~FILE_APPEND_DATA;
// Above the folder that matters, only renaming, deleting or re-owning counts:
// adding an entry (GENERIC_WRITE on a folder maps to that) replaces nothing.
constexpr ACCESS_MASK kParentWriteRights = GENERIC_ALL | WRITE_DAC | WRITE_OWNER | DELETE | FILE_DELETE_CHILD;

enum class Role { Object, VolumeRoot, Parent };

PSID TrustedInstallerSid()
{
    static const SecurityPtr s_sid = [] {
        PSID pSid = nullptr;
        ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &pSid);
        return SecurityPtr(pSid);
    }();
    return s_sid.get();
}

bool IsTrustedSid(PSID pSid)
{
    if (IsWellKnownSid(pSid, WinLocalSystemSid) || IsWellKnownSid(pSid, WinBuiltinAdministratorsSid)) return true;
    const PSID pInstaller = TrustedInstallerSid();
    return pInstaller && EqualSid(pSid, pInstaller);
}

// The SID an allowed ACE grants to; null for the object ACE forms, whose SID
// moves with their optional GUIDs: those count against the object whoever
// they name.
bool AllowedAce(const void* pAce, ACCESS_MASK& dwMask, PSID& pSid)
{
    const ACE_HEADER* pHeader = static_cast<const ACE_HEADER*>(pAce);
    switch (pHeader->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        const ACCESS_ALLOWED_ACE* pAllowed = static_cast<const ACCESS_ALLOWED_ACE*>(pAce);
        dwMask = pAllowed->Mask;
        pSid = const_cast<DWORD*>(&pAllowed->SidStart);
        return true;
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        dwMask = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(pAce)->Mask;
        pSid = nullptr;
        return true;
    default:
        return false;
    }
}

TrustProblem JudgeAs(PSECURITY_DESCRIPTOR pSecurity, DWORD dwAttributes, Role role)
{
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return TrustProblem::ReparsePoint;
    switch (role) {
    case Role::Object:     return JudgeOwnerAndGrants(pSecurity, kWriteRights);
    case Role::VolumeRoot: return JudgeOwnerAndGrants(pSecurity, kRootWriteRights);
    case Role::Parent:     return JudgeOwnerAndGrants(pSecurity, kParentWriteRights);
    }
    return TrustProblem::Unreadable;
}

// Attributes by path: the link's own, not its target's.
TrustProblem JudgePath(const std::wstring& path, Role role)
{
    const DWORD dwAttributes = GetFileAttributesW(path.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD dwError = GetLastError();
        const bool bMissing = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ||
                              dwError == ERROR_INVALID_NAME || dwError == ERROR_BAD_NETPATH;
        return bMissing ? TrustProblem::Missing : TrustProblem::Unreadable;
    }
    PSECURITY_DESCRIPTOR pSecurity = nullptr;
    const DWORD dwError = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, nullptr, nullptr, &pSecurity);
    const SecurityPtr security(pSecurity);
    if (dwError != ERROR_SUCCESS) return TrustProblem::Unreadable;
    return JudgeAs(security.get(), dwAttributes, role);
}

std::wstring FullPath(const std::wstring& path)
{
    if (path.empty()) return std::wstring();
    std::wstring full(MAX_PATH, L'\0');
    for (int nTry = 0; nTry < 4; ++nTry) {
        const DWORD nLength = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (nLength == 0) return std::wstring();
        if (nLength < full.size()) {
            full.resize(nLength);
            return full;
        }
        full.assign(static_cast<size_t>(nLength) + 1, L'\0');
    }
    return std::wstring();
}

bool IsSeparator(wchar_t ch)
{
    return ch == L'\\' || ch == L'/';
}

// Length of the root ("C:\", "\\server\share\", "\\?\C:\", "\\?\UNC\server\share\")
// that starts a full path; 0 for a form without one.
size_t RootLength(const std::wstring& full)
{
    size_t nStart = 0;
    bool bUnc = false;
    if (full.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        nStart = 8;
        bUnc = true;
    } else if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) {
        nStart = 4;
    } else if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1])) {
        nStart = 2;
        bUnc = true;
    }
    if (!bUnc) {
        if (full.size() < nStart + 3 || full[nStart + 1] != L':' || !IsSeparator(full[nStart + 2])) return 0;
        return nStart + 3;
    }
    const size_t nServerEnd = full.find_first_of(L"\\/", nStart);
    if (nServerEnd == std::wstring::npos || nServerEnd == nStart) return 0;
    const size_t nShareEnd = full.find_first_of(L"\\/", nServerEnd + 1);
    if (nShareEnd == nServerEnd + 1) return 0;
    return nShareEnd == std::wstring::npos ? 0 : nShareEnd + 1;
}

// Judges the full path as eFirst, then every folder above it up to the root
// as a parent.
TrustProblem WalkUp(std::wstring full, Role eFirst, std::wstring* pWhere)
{
    const size_t nRoot = RootLength(full);
    if (nRoot == 0) {
        if (pWhere) *pWhere = full;
        return TrustProblem::Unreadable;
    }
    while (full.size() > nRoot && IsSeparator(full.back())) full.pop_back();
    Role eRole = eFirst;
    for (;;) {
        const bool bRoot = full.size() <= nRoot;
        const TrustProblem problem = JudgePath(full, bRoot && eRole == Role::Object ? Role::VolumeRoot : eRole);
        if (problem != TrustProblem::None) {
            if (pWhere) *pWhere = full;
            return problem;
        }
        if (bRoot) return TrustProblem::None;
        const size_t nSlash = full.find_last_of(L"\\/");
        full.resize(nSlash == std::wstring::npos || nSlash < nRoot ? nRoot : nSlash);
        eRole = Role::Parent;
    }
}

// One name of a folder: no separators, no stream or drive colon, not "." or "..".
bool IsPlainName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L".." || name.size() > 255) return false;
    return name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

DWORD ProblemError(TrustProblem problem)
{
    switch (problem) {
    case TrustProblem::None:            return ERROR_SUCCESS;
    case TrustProblem::Missing:         return ERROR_PATH_NOT_FOUND;
    case TrustProblem::Unreadable:      return ERROR_ACCESS_DENIED;
    case TrustProblem::OwnerNotTrusted:
    case TrustProblem::OthersCanWrite:  return ERROR_INVALID_SECURITY_DESCR;
    case TrustProblem::ReparsePoint:    return ERROR_REPARSE_TAG_INVALID;
    }
    return ERROR_INVALID_SECURITY_DESCR;
}
}

TrustProblem JudgeOwnerAndGrants(PSECURITY_DESCRIPTOR pSecurity, ACCESS_MASK dwCounted)
{
    if (!pSecurity || !IsValidSecurityDescriptor(pSecurity)) return TrustProblem::Unreadable;
    PSID pOwner = nullptr;
    BOOL bDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(pSecurity, &pOwner, &bDefaulted)) return TrustProblem::Unreadable;
    if (!pOwner || !IsTrustedSid(pOwner)) return TrustProblem::OwnerNotTrusted;

    BOOL bPresent = FALSE;
    PACL pDacl = nullptr;
    if (!GetSecurityDescriptorDacl(pSecurity, &bPresent, &pDacl, &bDefaulted)) return TrustProblem::Unreadable;
    if (!bPresent || !pDacl) return TrustProblem::OthersCanWrite;
    for (DWORD i = 0; i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (!GetAce(pDacl, i, &pAce)) return TrustProblem::Unreadable;
        if (static_cast<const ACE_HEADER*>(pAce)->AceFlags & INHERIT_ONLY_ACE) continue;
        ACCESS_MASK dwMask = 0;
        PSID pSid = nullptr;
        if (!AllowedAce(pAce, dwMask, pSid) || !(dwMask & dwCounted)) continue;
        // CREATOR OWNER on the object itself names no one: it only shapes
        // what is created inside.
        if (pSid && (IsTrustedSid(pSid) || IsWellKnownSid(pSid, WinCreatorOwnerSid))) continue;
        return TrustProblem::OthersCanWrite;
    }
    return TrustProblem::None;
}

TrustProblem JudgeSecurity(PSECURITY_DESCRIPTOR pSecurity, DWORD dwAttributes, bool bVolumeRoot)
{
    return JudgeAs(pSecurity, dwAttributes, bVolumeRoot ? Role::VolumeRoot : Role::Object);
}

TrustProblem JudgeParentSecurity(PSECURITY_DESCRIPTOR pSecurity, DWORD dwAttributes)
{
    return JudgeAs(pSecurity, dwAttributes, Role::Parent);
}

SecurityPtr SecurityFromSddl(const wchar_t* pszSddl)
{
    PSECURITY_DESCRIPTOR pSecurity = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(pszSddl, SDDL_REVISION_1, &pSecurity, nullptr))
        return SecurityPtr();
    return SecurityPtr(pSecurity);
}

TrustProblem CheckPathTrust(const std::wstring& strPath, std::wstring* pWhere)
{
    return WalkUp(FullPath(strPath), Role::Object, pWhere);
}

DWORD CreateTrustedFolder(const std::wstring& strBase, const std::vector<std::wstring>& parts, std::wstring& strPath,
                          TrustProblem* pProblem)
{
    strPath.clear();
    TrustProblem unused = TrustProblem::None;
    TrustProblem& problem = pProblem ? *pProblem : unused;
    problem = TrustProblem::None;
    for (const std::wstring& part : parts)
        if (!IsPlainName(part)) return ERROR_INVALID_NAME;
    std::wstring current = FullPath(strBase);
    if (current.empty() || RootLength(current) == 0) return ERROR_INVALID_NAME;
    while (current.size() > RootLength(current) && IsSeparator(current.back())) current.pop_back();

    problem = WalkUp(current, parts.empty() ? Role::Object : Role::Parent, nullptr);
    if (problem != TrustProblem::None) return ProblemError(problem);

    const SecurityPtr security = SecurityFromSddl(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    if (!security) return GetLastError();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.get(), FALSE};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!IsSeparator(current.back())) current += L'\\';
        current += parts[i];
        // Made here with its rights from the start: no moment with inherited ones.
        if (CreateDirectoryW(current.c_str(), &attributes)) continue;
        const DWORD dwError = GetLastError();
        if (dwError != ERROR_ALREADY_EXISTS) return dwError;
        problem = JudgePath(current, i + 1 == parts.size() ? Role::Object : Role::Parent);
        if (problem != TrustProblem::None) return ProblemError(problem);
        const DWORD dwAttributes = GetFileAttributesW(current.c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
        if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
    }
    strPath = current;
    return ERROR_SUCCESS;
}

HANDLE OpenFileNoReparse(const std::wstring& strPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition, DWORD dwFlags)
{
    HANDLE hFile = CreateFileW(strPath.c_str(), dwAccess, dwShare, nullptr, dwDisposition,
                               dwFlags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return hFile;
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(hFile, FileAttributeTagInfo, &info, sizeof info)) {
        const DWORD dwError = GetLastError();
        CloseHandle(hFile);
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        CloseHandle(hFile);
        SetLastError(ERROR_REPARSE_TAG_INVALID);
        return INVALID_HANDLE_VALUE;
    }
    return hFile;
}

bool DeleteOpenFile(HANDLE hFile)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(hFile, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

TrustProblem CheckProgramFolderTrust(std::wstring* pWhere)
{
    const std::wstring program = ModuleFilePath(nullptr).ToWide();
    const size_t nSlash = program.find_last_of(L"\\/");
    if (program.empty() || nSlash == std::wstring::npos) {
        if (pWhere) *pWhere = program;
        return TrustProblem::Unreadable;
    }
    return CheckPathTrust(program.substr(0, nSlash + 1), pWhere);
}

CString TrustProblemText(TrustProblem problem, const std::wstring& strWhere)
{
    UINT nId = 0;
    switch (problem) {
    case TrustProblem::None:            return CString();
    case TrustProblem::Missing:         nId = IDS_TRUST_MISSING; break;
    case TrustProblem::Unreadable:      nId = IDS_TRUST_UNREADABLE; break;
    case TrustProblem::OwnerNotTrusted: nId = IDS_TRUST_OWNER; break;
    case TrustProblem::OthersCanWrite:  nId = IDS_TRUST_OTHERS_WRITE; break;
    case TrustProblem::ReparsePoint:    nId = IDS_TRUST_REPARSE; break;
    }
    CString strText;
    strText.Format(LoadResourceString(nId), CString::FromWide(strWhere.c_str()).GetString());
    return strText;
}
