#pragma once
#include "framework/CString.h"
#include <map>
#include <string>
#include <vector>

// Where the loader would find one DLL that a module imports directly.
struct ImportStatus {
    std::string strName;
    CString strFoundAt;       // the file found; empty for an API set or a missing DLL
    bool bApiSet = false;     // "api-ms-*" / "ext-ms-*": the system resolves it
    bool bKnownDll = false;   // listed under KnownDLLs: always the system's copy
    bool IsMissing() const { return strFoundAt.IsEmpty() && !bApiSet && !bKnownDll; }
};

// Resolves imports the way the loader of the module's own bitness searches
// for its DLLs: the module's own folder, the system folder that loader sees
// (SysWOW64 for a 32-bit module on 64-bit Windows, the real System32 for a
// 64-bit one, whichever program asks), the Windows folder, then the folders
// of PATH. The folders and the KnownDLLs list are read once, when the object
// is made, so one object can serve many modules, and a DLL found in them once
// is not looked for again.
class CImportResolver {
public:
    CImportResolver();
    // nModuleBits is the module's bitness (32 or 64); 0 when unknown, taken
    // as this program's own.
    std::vector<ImportStatus> Resolve(const CString& strModulePath, const std::vector<std::string>& imports,
                                      int nModuleBits = 0) const;
    // The folders searched after a module's own folder, for a module of that bitness.
    const std::vector<CString>& SearchFolders(int nModuleBits) const;

private:
    bool IsKnownDll(const std::string& strName) const;
    // The first search folder of that bitness that holds the DLL; empty when none does.
    CString FindInFolders(const std::string& strName, int nModuleBits) const;

    std::vector<CString> m_folders32;        // after the module's own folder, for a 32-bit module
    std::vector<CString> m_folders64;        // the same for a 64-bit module
    std::vector<std::string> m_knownDlls;
    // Where each name was found (empty: nowhere), since many modules import
    // the same DLLs; "32:" or "64:" and the lower-case name.
    mutable std::map<std::string, CString> m_foundInFolders;
};
