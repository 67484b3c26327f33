#include "app/SystemServices.h"
#include "framework/CClipboard.h"
#include "framework/CHandle.h"
#include "framework/CRegKey.h"
#include "res/resource.h"
#include <cstring>
#include <vector>

namespace {
constexpr DWORD VALUE_BUFFER_BYTES = 260;

// The ANSI code page of the user's locale, in which programs without a
// UTF-8 manifest read CF_TEXT. GetACP() cannot tell it: the manifest makes
// it 65001 for this process.
UINT UserAnsiCodePage()
{
    for (const LCID lcid : {LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT}) {
        DWORD dwCodePage = 0;
        if (GetLocaleInfoW(lcid, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                           reinterpret_cast<LPWSTR>(&dwCodePage), sizeof dwCodePage / sizeof(wchar_t)) &&
            dwCodePage != 0 && IsValidCodePage(dwCodePage))
            return dwCodePage;
    }
    return 1252;   // a locale of Unicode-only scripts has no ANSI code page
}

// The text in that legacy code page. A character the code page lacks
// becomes one "?": no look-alike chosen by best fit, and one "?" for a
// character beyond U+FFFF, which would otherwise give two.
std::string ToLegacyText(const std::wstring& text, UINT nCodePage)
{
    std::wstring units;
    units.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t ch = text[i];
        if (!IS_HIGH_SURROGATE(ch) && !IS_LOW_SURROGATE(ch)) {
            units += ch;
            continue;
        }
        units += L'?';
        if (IS_HIGH_SURROGATE(ch) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1])) ++i;
    }
    if (units.empty()) return std::string();
    const int nLength = static_cast<int>(units.size());
    const DWORD dwFlags = WC_NO_BEST_FIT_CHARS;
    const int nBytes = WideCharToMultiByte(nCodePage, dwFlags, units.data(), nLength, nullptr, 0, "?", nullptr);
    if (nBytes <= 0) return std::string();
    std::string bytes(static_cast<size_t>(nBytes), '\0');
    const int nWritten =
        WideCharToMultiByte(nCodePage, dwFlags, units.data(), nLength, &bytes[0], nBytes, "?", nullptr);
    bytes.resize(nWritten > 0 ? static_cast<size_t>(nWritten) : 0);
    return bytes;
}

// A movable block holding a copy of the bytes.
std::optional<CGlobalMemory> MakeBlock(const void* pData, SIZE_T nBytes)
{
    auto block = CGlobalMemory::Alloc(GMEM_MOVEABLE, nBytes);
    if (!block || !block->CopyIn(pData, nBytes)) return std::nullopt;
    return block;
}
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

bool PlaceTextOnClipboard(HWND hOwner, const CString& strText)
{
    // Every block is made and filled before the clipboard is emptied, so a
    // failure here leaves the user's clipboard as it was.
    const std::wstring unicode = strText.ToWide();
    const std::string legacy = ToLegacyText(unicode, UserAnsiCodePage());
    auto unicodeBlock = MakeBlock(unicode.c_str(), (unicode.size() + 1) * sizeof(wchar_t));
    auto textBlock = MakeBlock(legacy.c_str(), legacy.size() + 1);
    if (!unicodeBlock || !textBlock) return false;

    auto clipboard = CClipboard::Open(hOwner);
    if (!clipboard) return false;
    clipboard->Empty();
    const bool bUnicode = clipboard->SetData(CF_UNICODETEXT, *unicodeBlock);
    return clipboard->SetData(CF_TEXT, *textBlock) && bUnicode;
}
