#include "engine/diagnosis/ImportResolver.h"
#include "engine/components/FileSearch.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "framework/CRegKey.h"
#include <algorithm>
#include <cstring>

namespace {
const char KNOWN_DLLS_KEY[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs";

bool StartsWithNoCase(const std::string& str, const char* pszPrefix)
{
    const size_t n = strlen(pszPrefix);
    return str.size() >= n && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, str.c_str(), static_cast<int>(n),
                                             pszPrefix, static_cast<int>(n)) == CSTR_EQUAL;
}

CString FolderPart(const CString& strPath)
{
    const int nSlash = strPath.ReverseFind('\\');
    return nSlash < 0 ? CString() : strPath.Left(nSlash);
}

bool IsPlainFile(const CString& strPath)
{
    const DWORD dwAttributes = GetFileAttributesA(strPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

CString SystemFolder(UINT (WINAPI* pfnGet)(LPSTR, UINT))
{
    char szFolder[MAX_PATH] = "";
    const UINT nLength = pfnGet(szFolder, MAX_PATH);
    return nLength > 0 && nLength < MAX_PATH ? CString(szFolder) : CString();
}

bool IsSameFolder(const CString& strFolder, const CString& strOther)
{
    CString strA = strFolder, strB = strOther;
    while (strA.EndsWith('\\')) strA = strA.Left(strA.GetLength() - 1);
    while (strB.EndsWith('\\')) strB = strB.Left(strB.GetLength() - 1);
    return !strA.IsEmpty() && strA.CompareNoCase(strB) == 0;
}

// Every folder of PATH, without quotes; empty entries left out.
std::vector<CString> PathFolders()
{
    std::vector<CString> folders;
    const DWORD nLength = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (nLength == 0) return folders;
    std::string strPath(nLength, '\0');
    strPath.resize(GetEnvironmentVariableA("PATH", strPath.data(), nLength));
    size_t nStart = 0;
    while (nStart <= strPath.size()) {
        size_t nEnd = strPath.find(';', nStart);
        if (nEnd == std::string::npos) nEnd = strPath.size();
        std::string strFolder = strPath.substr(nStart, nEnd - nStart);
        strFolder.erase(std::remove(strFolder.begin(), strFolder.end(), '"'), strFolder.end());
        if (!strFolder.empty()) folders.push_back(CString(strFolder));
        nStart = nEnd + 1;
    }
    return folders;
}
} // namespace

CImportResolver::CImportResolver()
{
    // A 32-bit module's loader on 64-bit Windows sees SysWOW64 where a
    // program names System32; a 32-bit program sees the real System32 only
    // through "Sysnative", which the file system redirection leaves alone.
    const CString strSystem = SystemFolder(GetSystemDirectoryA);
    const CString strWindows = SystemFolder(GetWindowsDirectoryA);
    CString strSystem32 = strSystem, strSystem64 = strSystem;
    if (IsSixtyFourBitSystem()) {
        const CString strWow = SystemFolder(GetSystemWow64DirectoryA);
        if (!strWow.IsEmpty()) strSystem32 = strWow;
        if (OwnViewBits() == 32 && !strWindows.IsEmpty()) strSystem64 = MakeFilePath(strWindows, "Sysnative");
    }
    // The 16-bit system folder and the current folder are left out: the
    // first holds no 32- or 64-bit DLLs, and registering makes the module's
    // own folder the current one.
    const std::vector<CString> pathFolders = PathFolders();
    for (auto [pFolders, strBitSystem] : {std::pair{&m_folders32, strSystem32}, std::pair{&m_folders64, strSystem64}}) {
        if (!strBitSystem.IsEmpty()) pFolders->push_back(strBitSystem);
        if (!strWindows.IsEmpty()) pFolders->push_back(strWindows);
        for (const CString& strFolder : pathFolders)
            pFolders->push_back(IsSameFolder(strFolder, strSystem) ? strBitSystem : strFolder);
    }

    if (const auto key = CRegKey::Open(HKEY_LOCAL_MACHINE, KNOWN_DLLS_KEY, KEY_QUERY_VALUE)) {
        char szName[256];
        BYTE data[MAX_PATH];
        for (DWORD i = 0; i < 1024; ++i) {
            DWORD nName = sizeof szName, nData = sizeof data - 1, dwType = 0;
            const LONG nError = RegEnumValueA(key->Get(), i, szName, &nName, nullptr, &dwType, data, &nData);
            if (nError == ERROR_MORE_DATA) continue;
            if (nError != ERROR_SUCCESS) break;
            if (dwType != REG_SZ) continue;
            data[nData] = '\0';
            m_knownDlls.emplace_back(reinterpret_cast<const char*>(data));
        }
    }
}

bool CImportResolver::IsKnownDll(const std::string& strName) const
{
    for (const std::string& strKnown : m_knownDlls)
        if (lstrcmpiA(strKnown.c_str(), strName.c_str()) == 0) return true;
    return false;
}

const std::vector<CString>& CImportResolver::SearchFolders(int nModuleBits) const
{
    const int nBits = nModuleBits ? nModuleBits : OwnViewBits();
    return nBits == 64 ? m_folders64 : m_folders32;
}

CString CImportResolver::FindInFolders(const std::string& strName, int nModuleBits) const
{
    const std::vector<CString>& folders = SearchFolders(nModuleBits);
    std::string strKey = (&folders == &m_folders64 ? "64:" : "32:") + strName;
    for (char& ch : strKey) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    const auto it = m_foundInFolders.find(strKey);
    if (it != m_foundInFolders.end()) return it->second;
    CString strFound;
    for (size_t i = 0; i < folders.size() && strFound.IsEmpty(); ++i)
        if (IsPlainFile(MakeFilePath(folders[i], strName.c_str()))) strFound = MakeFilePath(folders[i], strName.c_str());
    m_foundInFolders[strKey] = strFound;
    return strFound;
}

std::vector<ImportStatus> CImportResolver::Resolve(const CString& strModulePath, const std::vector<std::string>& imports,
                                                   int nModuleBits) const
{
    std::vector<ImportStatus> result;
    const CString strOwnFolder = FolderPart(strModulePath);
    for (const std::string& strName : imports) {
        ImportStatus status;
        status.strName = strName;
        status.bApiSet = StartsWithNoCase(strName, "api-ms-") || StartsWithNoCase(strName, "ext-ms-");
        status.bKnownDll = !status.bApiSet && IsKnownDll(strName);
        // A name with a folder in it, or one too long for a path, is nowhere.
        const bool bPlainName = strName.find_first_of("\\/:") == std::string::npos && strName.size() < MAX_PATH;
        if (!status.bApiSet && bPlainName) {
            if (!strOwnFolder.IsEmpty() && IsPlainFile(MakeFilePath(strOwnFolder, strName.c_str())))
                status.strFoundAt = MakeFilePath(strOwnFolder, strName.c_str());
            if (status.strFoundAt.IsEmpty()) status.strFoundAt = FindInFolders(strName, nModuleBits);
        }
        result.push_back(status);
    }
    return result;
}
