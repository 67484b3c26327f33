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

// Resolves imports the way the loader searches for a module's DLLs: the
// module's own folder, the system folder of this build's bitness, the
// Windows folder, then the folders of PATH. The folders and the KnownDLLs
// list are read once, when the object is made, so one object can serve
// many modules, and a DLL found in them once is not looked for again.
class CImportResolver {
public:
    CImportResolver();
    std::vector<ImportStatus> Resolve(const CString& strModulePath, const std::vector<std::string>& imports) const;

private:
    bool IsKnownDll(const std::string& strName) const;
    // The first of m_folders that holds the DLL; empty when none does.
    CString FindInFolders(const std::string& strName) const;

    std::vector<CString> m_folders;          // after the module's own folder
    std::vector<std::string> m_knownDlls;
    // Where each name was found in m_folders (empty: nowhere), since many
    // modules import the same DLLs; lower-case names.
    mutable std::map<std::string, CString> m_foundInFolders;
};
