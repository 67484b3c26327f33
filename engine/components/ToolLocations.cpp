#include "engine/components/ToolLocations.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"

namespace {
const char INSTALL_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0";
const char PROJECT_SETTINGS_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0\\Project Settings";
const char PROJECT_LOCATION_VALUE[] = "Project Location";
const char CURRENT_VERSION_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool IsExistingFolder(const CString& strPath)
{
    const DWORD dwAttributes = strPath.IsEmpty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(strPath.ToWide().c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The first text naming an existing folder; else the first text; else empty.
CString FirstFolder(const std::vector<CString>& texts)
{
    for (const CString& strText : texts)
        if (IsExistingFolder(strText)) return strText;
    return texts.empty() ? CString() : texts.front();
}

// A REG_SZ value's non-empty texts in the 32-bit view, then the 64-bit view.
std::vector<CString> ReadInBothViews(HKEY hRoot, const CString& strSubKey, const char* pszValueName)
{
    std::vector<CString> texts;
    for (int nBits : {32, 64}) {
        const RegValue value = ReadRegValue(hRoot, strSubKey, pszValueName, ViewAccess(nBits));
        if (value.bExists && value.dwType == REG_SZ && !value.strText.IsEmpty()) texts.push_back(value.strText);
        // A 32-bit system has one view: the second read would repeat the first.
        if (!IsSixtyFourBitSystem()) break;
    }
    return texts;
}
} // namespace

CString SystemFolderFromInstallLocation(const CString& strInstallLocation)
{
    CString strFolder = strInstallLocation;
    if (!strFolder.IsEmpty() && !strFolder.EndsWith('\\')) strFolder += '\\';
    strFolder += "System";
    return strFolder;
}

CString ToolSystemFolder()
{
    return SystemFolderFromInstallLocation(FirstFolder(ReadInBothViews(HKEY_LOCAL_MACHINE, INSTALL_KEY, "Install Location")));
}

std::vector<CString> CommonFilesFolders()
{
    // The 32-bit programs' folder first, as either view names it ("CommonFilesDir"
    // of the 32-bit view, "CommonFilesDir (x86)" of the 64-bit one), then the
    // 64-bit programs'. A 32-bit system has one view and one folder.
    std::vector<CString> candidates;
    const auto add = [&candidates](const char* pszValueName, int nBits) {
        const RegValue value = ReadRegValue(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, pszValueName, ViewAccess(nBits));
        if (value.bExists && value.dwType == REG_SZ && !value.strText.IsEmpty()) candidates.push_back(value.strText);
    };
    add("CommonFilesDir", 32);
    if (IsSixtyFourBitSystem()) {
        add("CommonFilesDir (x86)", 64);
        add("CommonFilesDir", 64);
    }
    // The existing folders, each once; when none exists, the first named,
    // so that a report still shows what the registry says.
    std::vector<CString> folders;
    for (const CString& strCandidate : candidates) {
        bool bSeen = false;
        for (const CString& strFolder : folders) bSeen = bSeen || strFolder.CompareNoCase(strCandidate) == 0;
        if (!bSeen && IsExistingFolder(strCandidate)) folders.push_back(strCandidate);
    }
    if (folders.empty() && !candidates.empty()) folders.push_back(candidates.front());
    return folders;
}

CString CommonFilesFolder()
{
    const std::vector<CString> folders = CommonFilesFolders();
    return folders.empty() ? CString() : folders.front();
}

VerificationFolders MachineFolders(const CString& strSystemFolder)
{
    std::vector<CString> commonFolders = CommonFilesFolders();
    VerificationFolders folders{strSystemFolder, commonFolders.empty() ? CString() : commonFolders.front()};
    if (commonFolders.size() > 1) folders.otherCommonFilesFolders.assign(commonFolders.begin() + 1, commonFolders.end());
    return folders;
}

CString ProjectLocation()
{
    std::vector<CString> texts = ReadInBothViews(HKEY_CURRENT_USER, PROJECT_SETTINGS_KEY, PROJECT_LOCATION_VALUE);
    for (const CString& strMachine : ReadInBothViews(HKEY_LOCAL_MACHINE, PROJECT_SETTINGS_KEY, PROJECT_LOCATION_VALUE))
        texts.push_back(strMachine);
    return FirstFolder(texts);
}
