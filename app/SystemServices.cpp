#include "app/SystemServices.h"
#include "framework/CClipboard.h"
#include "framework/CRegKey.h"
#include "res/resource.h"
#include <cstring>
#include <vector>

namespace {
constexpr DWORD VALUE_BUFFER_BYTES = 260;
}

CString ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName)
{
    const auto key = CRegKey::Open(hRoot, strSubKey);
    if (!key) return CString();

    // Most values fit the usual buffer; a longer one is read whole with the
    // size the first query reports (retried in case it grew in between).
    std::vector<BYTE> buffer(VALUE_BUFFER_BYTES);
    DWORD dwType = 0;
    DWORD cbData = 0;
    LONG lResult = ERROR_MORE_DATA;
    for (int nTry = 0; nTry < 4 && lResult == ERROR_MORE_DATA; ++nTry) {
        cbData = static_cast<DWORD>(buffer.size());
        lResult = RegQueryValueExA(key->Get(), strValueName, nullptr, &dwType, buffer.data(), &cbData);
        if (lResult == ERROR_MORE_DATA) buffer.resize(static_cast<size_t>(cbData) + 1);
    }
    if (lResult != ERROR_SUCCESS || dwType != REG_SZ) return CString();

    // The value need not end in NUL: take the bytes returned, up to the first NUL.
    const char* pText = reinterpret_cast<const char*>(buffer.data());
    const size_t nBytes = cbData < buffer.size() ? cbData : buffer.size();
    const void* pNul = std::memchr(pText, '\0', nBytes);
    const size_t nLength = pNul ? static_cast<size_t>(static_cast<const char*>(pNul) - pText) : nBytes;
    return CString(pText, static_cast<int>(nLength));
}

bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS)
{
    dwVersionMS = 0;
    dwVersionLS = 0;
    DWORD dwHandle = 0;
    const DWORD dwSize = GetFileVersionInfoSizeA(strPath, &dwHandle);
    if (dwSize == 0) return false;

    std::vector<BYTE> block;
    try {
        block.resize(static_cast<size_t>(dwSize) + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!GetFileVersionInfoA(strPath, dwHandle, dwSize, block.data())) return false;

    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT uLength = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&pInfo), &uLength) || !pInfo) return false;
    dwVersionMS = pInfo->dwFileVersionMS;
    dwVersionLS = pInfo->dwFileVersionLS;
    return true;
}

CString FormatFileVersion(DWORD dwVersionMS, DWORD dwVersionLS)
{
    CString text;
    text.Format("%u.%u.%u.%u", HIWORD(dwVersionMS), LOWORD(dwVersionMS), HIWORD(dwVersionLS), LOWORD(dwVersionLS));
    return text;
}

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

CString GetIEVersion()
{
    char szFolder[MAX_PATH] = "";
    const UINT nLength = GetSystemDirectoryA(szFolder, MAX_PATH);
    CString path(szFolder, nLength < MAX_PATH ? static_cast<int>(nLength) : 0);
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

bool PlaceTextOnClipboard(HWND hOwner, const CString& strText)
{
    // The block is made and filled before the clipboard is emptied, so a
    // failure here leaves the user's clipboard as it was.
    const SIZE_T nBytes = static_cast<SIZE_T>(strText.GetLength()) + 1;
    auto block = CGlobalMemory::Alloc(GMEM_MOVEABLE, nBytes);
    if (!block || !block->CopyIn(strText.GetString(), nBytes)) return false;

    auto clipboard = CClipboard::Open(hOwner);
    if (!clipboard) return false;
    clipboard->Empty();
    return clipboard->SetData(CF_TEXT, *block);
}
