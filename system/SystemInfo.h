#pragma once
#include "framework/CString.h"

// What the system says about itself: its name and version, Internet
// Explorer's version, its folders and bitness, and the process's rights.

// The string-table id naming the system described by the version
// information, or 0 when the platform is unknown.
UINT GetOSNameId(const OSVERSIONINFOA& info);
// "major.minor.build"; on the Windows 95 family the build is the low word of
// dwBuildNumber, whose high word repeats the version.
CString FormatOSVersion(const OSVERSIONINFOA& info);
// Name, version and service-pack text of the system this runs on.
void GetOSInfo(CString& strName, CString& strVersion, CString& strServicePack);
// The file version of the system's ShDocVW.dll, "0.0.0.0" when it has none.
CString GetIEVersion();
// The system folder of this build's bitness, read whole; empty on failure.
CString GetWindowsSystemFolder();
// True when the process runs with an elevated (administrator) token.
bool IsProcessElevated();
// True when the process runs as the local system account, as management
// tools run their scripts.
bool IsLocalSystem();
// True when the system is 64-bit, whichever build asks.
bool IsSixtyFourBitSystem();

// The system's own words for what it is, as its settings and "winver" show
// them: "Windows 10 Pro", "22H2", "19045.4291". Each is empty where the
// system records none.
struct OSProduct {
    CString strProductName;
    CString strDisplayVersion;
    CString strBuild;
};
OSProduct GetOSProduct();

// The six-line block that heads every export.
CString FormatSystemSummary(const CString& strName, const CString& strVersion,
                            const CString& strServicePack, const CString& strIEVersion);
CString GetSystemSummary();
