#pragma once
#include "framework/CString.h"

// The sheet's services over the registry, version resources, the system's
// version and the clipboard, as plain functions so tests can call them without
// a window. CSupportSheet offers them to the pages.

// A REG_SZ value's text; empty when the key or value is missing or the value
// is of another type (an expandable string is not expanded).
CString ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName);

// The file version words of a file's fixed version information; false with
// both words 0 when the file has none.
bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS);

// "major.minor.build.revision" of the two version words.
CString FormatFileVersion(DWORD dwVersionMS, DWORD dwVersionLS);

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

// The six-line block that heads every export.
CString FormatSystemSummary(const CString& strName, const CString& strVersion,
                            const CString& strServicePack, const CString& strIEVersion);
CString GetSystemSummary();

// Puts the text on the clipboard, replacing what was there: exactly, as
// CF_UNICODETEXT, and as CF_TEXT in the user's ANSI code page ("?" for what
// that code page lacks). The clipboard keeps its old content when this fails.
bool PlaceTextOnClipboard(HWND hOwner, const CString& strText);
