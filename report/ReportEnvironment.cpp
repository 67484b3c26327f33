// The report's environment block: what the utility is, and on what it ran.
#include "report/Report.h"
#include "system/FileVersion.h"
#include "system/Paths.h"
#include "system/SystemInfo.h"

namespace {
CString UtilityVersion()
{
    const CString strPath = ModuleFilePath(nullptr);
    DWORD dwVersionMS = 0, dwVersionLS = 0;
    if (!strPath.IsEmpty()) GetFileVersion(strPath, dwVersionMS, dwVersionLS);
    return FormatFileVersion(dwVersionMS, dwVersionLS);
}

CString UserLocale()
{
    wchar_t szName[LOCALE_NAME_MAX_LENGTH] = L"";
    if (!GetUserDefaultLocaleName(szName, LOCALE_NAME_MAX_LENGTH)) return CString();
    return CString::FromWide(szName);
}

CString LocalTimeIso8601()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone = {};
    const DWORD nZone = GetTimeZoneInformation(&zone);
    LONG nBias = zone.Bias;
    if (nZone == TIME_ZONE_ID_DAYLIGHT) nBias += zone.DaylightBias;
    else if (nZone == TIME_ZONE_ID_STANDARD) nBias += zone.StandardBias;
    else if (nZone == TIME_ZONE_ID_INVALID) nBias = 0;
    // The bias is UTC minus local time; ISO 8601 gives local time minus UTC.
    const LONG nOffset = -nBias;
    const LONG nAbs = nOffset < 0 ? -nOffset : nOffset;
    CString text;
    text.Format("%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond, nOffset < 0 ? '-' : '+', nAbs / 60, nAbs % 60);
    return text;
}
}

ReportEnvironment GatherEnvironment(const CString& strSystemFolder, const CString& strCommonFilesFolder)
{
    ReportEnvironment env;
    env.strUtilityVersion = UtilityVersion();
    env.nUtilityBits = static_cast<int>(sizeof(void*) * 8);
    env.nOSBits = IsSixtyFourBitSystem() ? 64 : 32;
    const OSProduct product = GetOSProduct();
    env.strOSProduct = product.strProductName;
    env.strOSDisplayVersion = product.strDisplayVersion;
    env.strOSBuild = product.strBuild;
    env.bElevated = IsProcessElevated();
    env.strUserLocale = UserLocale();
    env.nAnsiCodePage = GetACP();
    env.strSystemFolder = strSystemFolder;
    env.strCommonFilesFolder = strCommonFilesFolder;
    env.strLocalTime = LocalTimeIso8601();
    return env;
}
