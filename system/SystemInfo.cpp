#include "system/SystemInfo.h"
#include "system/FileVersion.h"
#include "system/Registry.h"
#include "framework/CHandle.h"
#include "framework/CRegKey.h"
#include <cstdlib>
#include "res/resource.h"
#include <vector>

UINT GetOSNameId(const OSVERSIONINFOA& info)
{
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return IDS_OS_WIN32S;
    case VER_PLATFORM_WIN32_WINDOWS:
        switch (info.dwMinorVersion) {
        case 0:  return IDS_OS_WIN95;
        case 10: return IDS_OS_WIN98;
        case 90: return IDS_OS_WINME;
        default: return IDS_OS_WIN9X_FAMILY;
        }
    case VER_PLATFORM_WIN32_NT:
        if (info.dwMajorVersion == 4) return IDS_OS_WINNT;
        if (info.dwMajorVersion == 5 && info.dwMinorVersion == 0) return IDS_OS_WIN2000;
        if (info.dwMajorVersion == 5 && info.dwMinorVersion == 1) return IDS_OS_WINXP;
        return IDS_OS_WINNT_FAMILY;
    default:
        return 0;
    }
}

CString FormatOSVersion(const OSVERSIONINFOA& info)
{
    // The Windows 95 family puts major and minor into the high word of the
    // build number; only the low word is the build.
    const long nBuild = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS
        ? static_cast<long>(LOWORD(info.dwBuildNumber))
        : static_cast<long>(static_cast<int>(info.dwBuildNumber));
    CString text;
    text.Format("%d.%d.%ld", static_cast<int>(info.dwMajorVersion), static_cast<int>(info.dwMinorVersion), nBuild);
    return text;
}

void GetOSInfo(CString& strName, CString& strVersion, CString& strServicePack)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    // On failure the zeros stand and name "Win32s on Windows 3.1" 0.0.0.
    GetVersionExA(&info);
#pragma GCC diagnostic pop
    const UINT nNameId = GetOSNameId(info);
    strName = nNameId ? LoadResourceString(nNameId) : CString();
    strVersion = FormatOSVersion(info);
    info.szCSDVersion[sizeof info.szCSDVersion - 1] = '\0';
    strServicePack = info.szCSDVersion;
}

CString GetWindowsSystemFolder()
{
    // Sized by asking first: in UTF-8 the folder may pass MAX_PATH bytes.
    std::vector<char> folder(GetSystemDirectoryA(nullptr, 0) + 1, '\0');
    const UINT nLength = GetSystemDirectoryA(folder.data(), static_cast<UINT>(folder.size()));
    return CString(folder.data(), nLength < folder.size() ? static_cast<int>(nLength) : 0);
}

bool IsProcessElevated()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
    const CHandle token(hToken);
    TOKEN_ELEVATION elevation = {};
    DWORD nBytes = 0;
    return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &nBytes) &&
           elevation.TokenIsElevated != 0;
}

bool IsLocalSystem()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
    const CHandle token(hToken);
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD nBytes = 0;
    return GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &nBytes) &&
           IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
}

CString GetIEVersion()
{
    CString path = GetWindowsSystemFolder();
    if (!path.EndsWith('\\')) path += '\\';
    path += "ShDocVW.dll";
    DWORD dwVersionMS = 0, dwVersionLS = 0;
    GetFileVersion(path, dwVersionMS, dwVersionLS);
    return FormatFileVersion(dwVersionMS, dwVersionLS);
}

CString FormatSystemSummary(const CString& strName, const CString& strVersion,
                            const CString& strServicePack, const CString& strIEVersion)
{
    CString text;
    text.Format("----------------------------------\r\n%s\r\n%s\r\n%s\r\nInternet Explorer Version: %s\r\n"
                "----------------------------------\r\n",
                strName.GetString(), strVersion.GetString(), strServicePack.GetString(), strIEVersion.GetString());
    return text;
}

CString GetSystemSummary()
{
    CString strName, strVersion, strServicePack;
    GetOSInfo(strName, strVersion, strServicePack);
    return FormatSystemSummary(strName, strVersion, strServicePack, GetIEVersion());
}

bool IsSixtyFourBitSystem()
{
    if (sizeof(void*) == 8) return true;
    BOOL bWow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &bWow64) && bWow64;
}

OSProduct GetOSProduct()
{
    // The key is the same in both views; the 64-bit one is asked for, so a
    // 32-bit build reads what a 64-bit system itself shows.
    const char CURRENT_VERSION_NT[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    const REGSAM samView = IsSixtyFourBitSystem() ? KEY_WOW64_64KEY : 0;
    const auto text = [&](const char* pszName) {
        const RegValue value = ReadRegValue(HKEY_LOCAL_MACHINE, CURRENT_VERSION_NT, pszName, samView);
        return value.dwType == REG_SZ || value.dwType == REG_EXPAND_SZ ? value.strText : CString();
    };
    OSProduct product;
    product.strProductName = text("ProductName");
    product.strDisplayVersion = text("DisplayVersion");
    if (product.strDisplayVersion.IsEmpty()) product.strDisplayVersion = text("ReleaseId");   // before 20H2
    product.strBuild = text("CurrentBuildNumber");
    if (product.strBuild.IsEmpty()) product.strBuild = text("CurrentBuild");
    // Windows 11 keeps "Windows 10" in ProductName; its build numbers start at 22000.
    if (atoi(product.strBuild) >= 22000 && product.strProductName.Left(11) == "Windows 10 ")
        product.strProductName = "Windows 11 " + product.strProductName.Mid(11);
    const auto key = CRegKey::Open(HKEY_LOCAL_MACHINE, CURRENT_VERSION_NT, KEY_QUERY_VALUE | samView);
    DWORD dwRevision = 0, dwType = 0, cbData = sizeof dwRevision;
    if (!product.strBuild.IsEmpty() && key &&
        RegQueryValueExA(key->Get(), "UBR", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwRevision), &cbData) == ERROR_SUCCESS &&
        dwType == REG_DWORD && cbData == sizeof dwRevision) {
        CString strRevision;
        strRevision.Format(".%lu", static_cast<unsigned long>(dwRevision));
        product.strBuild += strRevision;
    }
    return product;
}
