#pragma once
#include "framework/CString.h"
#include <memory>
#include <string>
#include <vector>

// Why a file or folder is not one that only administrators can change.
enum class TrustProblem {
    None,
    Missing,            // it does not exist
    Unreadable,         // its security could not be read
    OwnerNotTrusted,    // owned by someone other than SYSTEM, Administrators or TrustedInstaller
    OthersCanWrite,     // a right to write, add files or folders, delete, change its rights or owner is given to another
    ReparsePoint,       // a junction, symbolic link or other reparse point
};

// Judges one object from its security descriptor and attributes alone, so
// that every case can be tried where the file system enforces no ACL.
// bVolumeRoot: a drive's root, where "create folders" for users is normal
// and not counted.
TrustProblem JudgeSecurity(PSECURITY_DESCRIPTOR pSecurity, DWORD dwAttributes, bool bVolumeRoot);
// The same for a folder above the one that matters: others may add files and
// folders to it (every user may in C:\ProgramData), which touches nothing of
// ours, but may not delete, rename or re-own it or delete what is inside.
TrustProblem JudgeParentSecurity(PSECURITY_DESCRIPTOR pSecurity, DWORD dwAttributes);
// The core both use, shared with the registry's keys: the owner must be
// SYSTEM, Administrators or TrustedInstaller, and no allowed ACE that applies
// to the object itself may give anyone else a right of dwCounted. A NULL
// DACL gives everyone everything; deny ACEs are not subtracted.
TrustProblem JudgeOwnerAndGrants(PSECURITY_DESCRIPTOR pSecurity, ACCESS_MASK dwCounted);

// A security descriptor owned until LocalFree, as the system's calls give it.
struct LocalFreeDeleter {
    void operator()(void* p) const { LocalFree(p); }
};
using SecurityPtr = std::unique_ptr<void, LocalFreeDeleter>;
// The descriptor of an SDDL text; null when the text is refused.
SecurityPtr SecurityFromSddl(const wchar_t* pszSddl);

// The path itself (by JudgeSecurity) and every folder above it up to its
// volume's root (by JudgeParentSecurity), as the system has them.
// pWhere receives the path that failed.
TrustProblem CheckPathTrust(const std::wstring& strPath, std::wstring* pWhere = nullptr);

// Creates strBase\parts[0]\parts[1]...: each missing folder made with a
// protected DACL (SYSTEM and Administrators full control, inherited by what
// is made inside); each existing one must pass, else its problem: the last
// folder by JudgeSecurity, strBase, the folders above it and the folders
// between by JudgeParentSecurity. strPath receives the full path.
// ERROR_SUCCESS or the Win32 error (ERROR_INVALID_SECURITY_DESCR for an
// owner or rights not trusted, ERROR_REPARSE_TAG_INVALID for a reparse
// point, ERROR_PATH_NOT_FOUND for a missing strBase); pProblem gets the
// TrustProblem (None when the failure is no trust problem).
DWORD CreateTrustedFolder(const std::wstring& strBase, const std::vector<std::wstring>& parts, std::wstring& strPath, TrustProblem* pProblem = nullptr);

// Opens a file without following a reparse point; a file that is one is
// closed again and INVALID_HANDLE_VALUE returned with
// ERROR_REPARSE_TAG_INVALID as the last error.
HANDLE OpenFileNoReparse(const std::wstring& strPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition, DWORD dwFlags = FILE_ATTRIBUTE_NORMAL);

// Deletes a file through a handle opened with DELETE access, so that a name
// swapped meanwhile is never the one deleted.
bool DeleteOpenFile(HANDLE hFile);

// The running program's folder: None when only administrators can change it
// (what a process running as SYSTEM requires before it runs any server or
// applies any undo file). pWhere receives the path that failed.
TrustProblem CheckProgramFolderTrust(std::wstring* pWhere = nullptr);

// One line for the report or a message box: what is wrong with strWhere.
CString TrustProblemText(TrustProblem problem, const std::wstring& strWhere);
