#include "DemoInstallation.h"
#include "engine/components/Catalogue.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

// Where the installation puts one catalogue row's file.
enum DemoWhere {
    WHERE_NOWHERE,      // missing on purpose
    WHERE_SYSTEM,       // under the tool's System folder
    WHERE_COMMON,       // under the Common Files folder
    WHERE_PREVIOUS,     // outside every searched folder, yet registered there
    WHERE_UNMANAGED,    // a Windows system file: left as the machine has it
};

struct DemoPlacement {
    DemoWhere nWhere;
    std::string strSubfolder;   // relative to the folder nWhere names
    bool bRegister;
};

namespace {

const char TOOL_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0";
const char PROJECT_SETTINGS_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0\\Project Settings";
const char CURRENT_VERSION_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char IN_PROCESS_SAMPLE[] = "ForgeSampleServer.dll";
const char LOCAL_SAMPLE[] = "LocalSrv.exe";
// One unregistered row is a server whose dependency is missing, so that its
// details have a cause to show.
const char MISSING_DEPENDENCY_SAMPLE[] = "SampleMissingDep.dll";
const char MISSING_DEPENDENCY_ROW[] = "KfSql.dll";
const char AUTOMATION_SERVER[] = "TorvexAppServices.dll";
const char STATE_FILE[] = "ForgeDemo.state";
// A server must not keep the installation waiting for ever.
const DWORD SERVER_EXE_WAIT_MS = 60000;

bool IsOneOf(const char* pszName, std::initializer_list<const char*> names)
{
    for (const char* psz : names)
        if (lstrcmpiA(pszName, psz) == 0) return true;
    return false;
}

bool StartsWith(const char* psz, const char* pszPrefix)
{
    return strncmp(psz, pszPrefix, strlen(pszPrefix)) == 0;
}

bool EndsWithNoCase(const std::string& str, const char* pszSuffix)
{
    const size_t n = strlen(pszSuffix);
    return str.size() >= n && lstrcmpiA(str.c_str() + str.size() - n, pszSuffix) == 0;
}

DemoPlacement ToolSystemPlacement(const CatalogueEntry& entry)
{
    const char* pszName = entry.pszFileName;
    if (IsOneOf(pszName, {"KfSign.dll", "KfIis.dll", "KfHexView.ocx"})) return {WHERE_NOWHERE, "", false};
    // Left registered by an older copy that lives outside the System tree.
    if (IsOneOf(pszName, {"KfUpdate.dll"})) return {WHERE_PREVIOUS, "Previous Version", true};
    const bool bRegister = !IsOneOf(pszName, {"KfSql.dll", "KfOdbc.dll", "KfDiff.ocx", "KfCalendar.ocx"});
    std::string strSubfolder;
    if (EndsWithNoCase(pszName, ".ocx")) strSubfolder = "Controls";
    else if (StartsWith(entry.pszProgID, "ForgeBuild.")) strSubfolder = "Build";
    else if (StartsWith(entry.pszProgID, "ForgeScript.")) strSubfolder = "Tools\\Script";
    else if (StartsWith(entry.pszProgID, "ForgeTools.")) strSubfolder = "Tools";
    return {WHERE_SYSTEM, strSubfolder, bRegister};
}

DemoPlacement CommonFilesPlacement(const CatalogueEntry& entry)
{
    const char* pszName = entry.pszFileName;
    if (IsOneOf(pszName, {"KvNet.dll", "KvLabel.ocx"})) return {WHERE_NOWHERE, "", false};
    // Found only through the fallback to the tool's System folder itself.
    if (IsOneOf(pszName, {"KvLog.dll"})) return {WHERE_SYSTEM, "", true};
    const bool bRegister = !IsOneOf(pszName, {"KvCrypt.dll", "KvEdit.ocx"});
    std::string strSubfolder = "Kelvara\\Shared";
    if (EndsWithNoCase(pszName, ".ocx")) strSubfolder = "Kelvara\\Controls";
    else if (EndsWithNoCase(pszName, ".exe")) strSubfolder = "Kelvara\\Agent";
    else if (IsOneOf(pszName, {"mergemod.dll"})) strSubfolder = "Kelvara\\Merge Modules";
    return {WHERE_COMMON, strSubfolder, bRegister};
}

DemoPlacement PlacementOf(const CatalogueEntry& entry)
{
    switch (entry.nKind) {
    case KIND_TOOL_SYSTEM:  return ToolSystemPlacement(entry);
    case KIND_COMMON_FILES: return CommonFilesPlacement(entry);
    default:                return {WHERE_UNMANAGED, "", false};
    }
}

std::string Join(const std::string& strFolder, const std::string& strName)
{
    if (strName.empty()) return strFolder;
    if (strFolder.empty() || strFolder.back() == '\\') return strFolder + strName;
    return strFolder + "\\" + strName;
}

bool IsExeServer(const std::string& strFileName)
{
    return EndsWithNoCase(strFileName, ".exe");
}

// Creates a folder and every missing folder above it.
bool MakeFolders(const std::string& strPath)
{
    if (strPath.empty()) return false;
    const DWORD nAttributes = GetFileAttributesA(strPath.c_str());
    if (nAttributes != INVALID_FILE_ATTRIBUTES) return (nAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const size_t nSlash = strPath.find_last_of('\\');
    if (nSlash != std::string::npos && nSlash > 2) MakeFolders(strPath.substr(0, nSlash));
    return CreateDirectoryA(strPath.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool SameFile(const std::string& strSource, const std::string& strTarget)
{
    WIN32_FILE_ATTRIBUTE_DATA source, target;
    if (!GetFileAttributesExA(strSource.c_str(), GetFileExInfoStandard, &source) ||
        !GetFileAttributesExA(strTarget.c_str(), GetFileExInfoStandard, &target))
        return false;
    return source.nFileSizeHigh == target.nFileSizeHigh && source.nFileSizeLow == target.nFileSizeLow &&
           CompareFileTime(&source.ftLastWriteTime, &target.ftLastWriteTime) == 0;
}

// Copies a file unless an identical copy is there already: a copy that a
// running utility has loaded cannot be overwritten, and need not be.
bool CopyInto(const std::string& strSource, const std::string& strFolder, const std::string& strName,
              std::string& strError)
{
    const std::string strTarget = Join(strFolder, strName);
    if (!MakeFolders(strFolder)) {
        strError = "cannot create the folder " + strFolder;
        return false;
    }
    if (SameFile(strSource, strTarget)) return true;
    if (!CopyFileA(strSource.c_str(), strTarget.c_str(), FALSE)) {
        strError = "cannot copy " + strSource + " to " + strTarget;
        return false;
    }
    return true;
}

using EntryPoint = HRESULT(STDAPICALLTYPE*)();

bool RunDllEntry(const std::string& strPath, const char* pszEntry)
{
    HMODULE hModule = LoadLibraryA(strPath.c_str());
    if (!hModule) return false;
    bool bDone = false;
    if (auto pfn = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(hModule, pszEntry))))
        bDone = SUCCEEDED(pfn());
    FreeLibrary(hModule);
    return bDone;
}

bool RunExeSwitch(const std::string& strPath, const char* pszSwitch)
{
    std::string strCommand = "\"" + strPath + "\" " + pszSwitch;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(strPath.c_str(), &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    DWORD nExitCode = 1;
    if (WaitForSingleObject(pi.hProcess, SERVER_EXE_WAIT_MS) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &nExitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return nExitCode == 0;
}

// Runs a server's own self-registration, as the utility does.
bool SelfRegister(const std::string& strPath, bool bRegister)
{
    if (IsExeServer(strPath)) return RunExeSwitch(strPath, bRegister ? "/regserver" : "/unregserver");
    return RunDllEntry(strPath, bRegister ? "DllRegisterServer" : "DllUnregisterServer");
}

// Deletes a folder tree; folder links are removed, never followed.
bool DeleteTree(const std::string& strPath)
{
    bool bAll = true;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(Join(strPath, "*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            const std::string strName = data.cFileName;
            if (strName == "." || strName == "..") continue;
            const std::string strChild = Join(strPath, strName);
            const bool bFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const bool bLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (bFolder && !bLink) {
                bAll = DeleteTree(strChild) && bAll;
            } else if (bFolder) {
                bAll = RemoveDirectoryA(strChild.c_str()) && bAll;
            } else {
                SetFileAttributesA(strChild.c_str(), FILE_ATTRIBUTE_NORMAL);
                bAll = DeleteFileA(strChild.c_str()) && bAll;
            }
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    return RemoveDirectoryA(strPath.c_str()) && bAll;
}

// ---- registry values the installation replaces -----------------------------

struct ManagedValue {
    HKEY hRoot;
    const char* pszKey;
    const char* pszName;
};

const ManagedValue MANAGED_VALUES[] = {
    {HKEY_LOCAL_MACHINE, TOOL_KEY, "Install Location"},
    {HKEY_CURRENT_USER, PROJECT_SETTINGS_KEY, "Project Location"},
    {HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir"},
};

bool KeyExists(HKEY hRoot, const std::string& strKey)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, strKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

// The number of leading path components of the key that exist already.
int ExistingDepth(HKEY hRoot, const std::string& strKey)
{
    int nDepth = 0;
    size_t nEnd = 0;
    while (nEnd != std::string::npos) {
        nEnd = strKey.find('\\', nEnd + 1);
        if (!KeyExists(hRoot, strKey.substr(0, nEnd))) break;
        ++nDepth;
    }
    return nDepth;
}

// Deletes the key and its parents, deepest first, down to 'nKeepDepth'
// components, each only while it holds nothing.
void DeleteEmptyKeys(HKEY hRoot, std::string strKey, int nKeepDepth)
{
    for (;;) {
        int nDepth = 1;
        for (char ch : strKey) nDepth += ch == '\\';
        if (nDepth <= nKeepDepth) return;
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(hRoot, strKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
            DWORD nSubKeys = 0, nValues = 0;
            const LONG nError = RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &nSubKeys, nullptr, nullptr,
                                                 &nValues, nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(hKey);
            if (nError != ERROR_SUCCESS || nSubKeys || nValues) return;
            RegDeleteKeyA(hRoot, strKey.c_str());
        }
        const size_t nSlash = strKey.find_last_of('\\');
        if (nSlash == std::string::npos) return;
        strKey.resize(nSlash);
    }
}

bool WriteString(HKEY hRoot, const char* pszKey, const char* pszName, const std::string& strValue)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(hRoot, pszKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG nError = RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.c_str()),
                                       static_cast<DWORD>(strValue.size() + 1));
    RegCloseKey(hKey);
    return nError == ERROR_SUCCESS;
}

std::string ToHex(const std::vector<BYTE>& data)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string strHex;
    for (BYTE b : data) {
        strHex += DIGITS[b >> 4];
        strHex += DIGITS[b & 15];
    }
    return strHex;
}

bool FromHex(const std::string& strHex, std::vector<BYTE>& data)
{
    if (strHex.size() % 2) return false;
    data.clear();
    for (size_t i = 0; i < strHex.size(); i += 2) {
        unsigned nByte = 0;
        if (sscanf(strHex.c_str() + i, "%2x", &nByte) != 1) return false;
        data.push_back(static_cast<BYTE>(nByte));
    }
    return true;
}

// One line of the state file: the depth of the key that existed, then "-"
// for a value that was absent or its type and its bytes in hexadecimal.
std::string DescribeValue(const ManagedValue& value)
{
    const int nDepth = ExistingDepth(value.hRoot, value.pszKey);
    std::string strLine = std::to_string(nDepth) + " -";
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(value.hRoot, value.pszKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return strLine;
    DWORD nType = 0, nSize = 0;
    if (RegQueryValueExA(hKey, value.pszName, nullptr, &nType, nullptr, &nSize) == ERROR_SUCCESS) {
        std::vector<BYTE> data(nSize);
        if (RegQueryValueExA(hKey, value.pszName, nullptr, &nType, data.data(), &nSize) == ERROR_SUCCESS) {
            data.resize(nSize);
            strLine = std::to_string(nDepth) + " " + std::to_string(nType) + " " + ToHex(data);
        }
    }
    RegCloseKey(hKey);
    return strLine;
}

bool RestoreValue(const ManagedValue& value, const std::string& strLine)
{
    char szType[32] = "";
    int nDepth = 0;
    if (sscanf(strLine.c_str(), "%d %31s", &nDepth, szType) != 2) return false;
    if (strcmp(szType, "-") == 0) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(value.hRoot, value.pszKey, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueA(hKey, value.pszName);
            RegCloseKey(hKey);
        }
        DeleteEmptyKeys(value.hRoot, value.pszKey, nDepth);
        return true;
    }
    const size_t nData = strLine.find(' ', strLine.find(' ') + 1);
    std::vector<BYTE> data;
    if (nData == std::string::npos || !FromHex(strLine.substr(nData + 1), data)) return false;
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(value.hRoot, value.pszKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG nError = RegSetValueExA(hKey, value.pszName, 0, static_cast<DWORD>(atol(szType)), data.data(),
                                       static_cast<DWORD>(data.size()));
    RegCloseKey(hKey);
    return nError == ERROR_SUCCESS;
}

} // namespace

CDemoInstallation::CDemoInstallation(const std::string& strRoot, const std::string& strSamplesFolder)
    : m_strRoot(strRoot), m_strSamples(strSamplesFolder)
{
    while (m_strRoot.size() > 3 && m_strRoot.back() == '\\') m_strRoot.pop_back();
}

std::string CDemoInstallation::InstallFolder() const { return Join(m_strRoot, "Kelvara\\Forge 8.0"); }
std::string CDemoInstallation::SystemFolder() const { return Join(InstallFolder(), "System"); }
std::string CDemoInstallation::CommonFilesFolder() const { return Join(m_strRoot, "Common Files"); }
std::string CDemoInstallation::ProjectsFolder() const { return Join(InstallFolder(), "Projects"); }
std::string CDemoInstallation::StateFile() const { return Join(m_strRoot, STATE_FILE); }

std::string CDemoInstallation::FolderOf(const DemoPlacement& placement) const
{
    switch (placement.nWhere) {
    case WHERE_SYSTEM:   return Join(SystemFolder(), placement.strSubfolder);
    case WHERE_COMMON:   return Join(CommonFilesFolder(), placement.strSubfolder);
    case WHERE_PREVIOUS: return Join(InstallFolder(), placement.strSubfolder);
    default:             return std::string();
    }
}

std::vector<DemoRowExpectation> CDemoInstallation::ExpectedResults()
{
    std::vector<DemoRowExpectation> rows;
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& entry = g_catalogue[i];
        const DemoPlacement placement = PlacementOf(entry);
        if (placement.nWhere == WHERE_UNMANAGED) continue;
        rows.push_back({entry.pszFileName, placement.bRegister && *entry.pszProgID != '\0',
                        placement.nWhere == WHERE_SYSTEM || placement.nWhere == WHERE_COMMON});
    }
    return rows;
}

// The state file is written once, before any value is replaced, so that a
// second preparation does not take the demo's own values for the old ones.
bool CDemoInstallation::SaveRegistryState(std::string& strError) const
{
    if (GetFileAttributesA(StateFile().c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    std::string strText;
    for (const ManagedValue& value : MANAGED_VALUES) strText += DescribeValue(value) + "\n";
    const std::string strTemp = StateFile() + ".new";
    FILE* pFile = fopen(strTemp.c_str(), "wb");
    const bool bWritten = pFile && fwrite(strText.data(), 1, strText.size(), pFile) == strText.size();
    if (pFile && fclose(pFile) != 0) pFile = nullptr;
    if (!bWritten || !pFile || !MoveFileA(strTemp.c_str(), StateFile().c_str())) {
        DeleteFileA(strTemp.c_str());
        strError = "cannot write " + StateFile();
        return false;
    }
    return true;
}

bool CDemoInstallation::RestoreRegistryState(std::string& strError) const
{
    FILE* pFile = fopen(StateFile().c_str(), "rb");
    if (!pFile) return true;   // nothing was replaced
    // Read whole: a value's bytes make a line of any length.
    std::string strText;
    char szChunk[4096];
    size_t nRead = 0;
    while ((nRead = fread(szChunk, 1, sizeof szChunk, pFile)) > 0) strText.append(szChunk, nRead);
    fclose(pFile);
    bool bAll = true;
    size_t nStart = 0;
    for (const ManagedValue& value : MANAGED_VALUES) {
        const size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos || !RestoreValue(value, strText.substr(nStart, nEnd - nStart))) bAll = false;
        if (nEnd == std::string::npos) break;
        nStart = nEnd + 1;
    }
    if (!bAll) {
        strError = "cannot put back every registry value recorded in " + StateFile();
        return false;
    }
    DeleteFileA(StateFile().c_str());
    return true;
}

bool CDemoInstallation::Prepare(std::string& strError)
{
    if (!MakeFolders(m_strRoot)) {
        strError = "cannot create the folder " + m_strRoot;
        return false;
    }
    if (!SaveRegistryState(strError)) return false;

    const std::string strInProcess = Join(m_strSamples, IN_PROCESS_SAMPLE);
    const std::string strLocal = Join(m_strSamples, LOCAL_SAMPLE);
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& entry = g_catalogue[i];
        const DemoPlacement placement = PlacementOf(entry);
        const std::string strFolder = FolderOf(placement);
        if (strFolder.empty()) continue;
        std::string strSource = IsExeServer(entry.pszFileName) ? strLocal : strInProcess;
        if (lstrcmpiA(entry.pszFileName, MISSING_DEPENDENCY_ROW) == 0) strSource = Join(m_strSamples, MISSING_DEPENDENCY_SAMPLE);
        if (!CopyInto(strSource, strFolder, entry.pszFileName, strError)) return false;
        if (placement.bRegister && !SelfRegister(Join(strFolder, entry.pszFileName), true)) {
            strError = std::string("the self-registration of ") + Join(strFolder, entry.pszFileName) + " failed";
            return false;
        }
    }

    if (!CopyInto(Join(m_strSamples, AUTOMATION_SERVER), InstallFolder(), AUTOMATION_SERVER, strError)) return false;
    if (!SelfRegister(Join(InstallFolder(), AUTOMATION_SERVER), true)) {
        strError = "the self-registration of the automation server failed";
        return false;
    }

    const std::string strProjects = Join(m_strSamples, "projects");
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(Join(strProjects, "*.kvp").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) {
        strError = "no sample projects in " + strProjects;
        return false;
    }
    bool bCopied = true;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            bCopied = CopyInto(Join(strProjects, data.cFileName), ProjectsFolder(), data.cFileName, strError);
    } while (bCopied && FindNextFileA(hFind, &data));
    FindClose(hFind);
    if (!bCopied) return false;

    if (!WriteString(HKEY_LOCAL_MACHINE, TOOL_KEY, "Install Location", InstallFolder()) ||
        !WriteString(HKEY_CURRENT_USER, PROJECT_SETTINGS_KEY, "Project Location", ProjectsFolder()) ||
        !WriteString(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir", CommonFilesFolder())) {
        strError = "cannot write the registry values of the installation";
        return false;
    }
    return true;
}

bool CDemoInstallation::Remove(std::string& strError)
{
    // Each sample server removes only the keys that still name it, so
    // unregistering one that never registered changes nothing.
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& entry = g_catalogue[i];
        const DemoPlacement placement = PlacementOf(entry);
        const std::string strFolder = FolderOf(placement);
        if (!placement.bRegister || strFolder.empty()) continue;
        const std::string strPath = Join(strFolder, entry.pszFileName);
        if (GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES) SelfRegister(strPath, false);
    }
    const std::string strAutomation = Join(InstallFolder(), AUTOMATION_SERVER);
    if (GetFileAttributesA(strAutomation.c_str()) != INVALID_FILE_ATTRIBUTES) SelfRegister(strAutomation, false);

    bool bAll = RestoreRegistryState(strError);
    if (!DeleteTree(Join(m_strRoot, "Kelvara")) || !DeleteTree(CommonFilesFolder())) {
        if (bAll) strError = "cannot delete every file of the installation under " + m_strRoot;
        bAll = false;
    }
    // The root goes too when nothing else was put in it.
    RemoveDirectoryA(m_strRoot.c_str());
    return bAll;
}
