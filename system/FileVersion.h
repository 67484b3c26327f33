#pragma once
#include "framework/CString.h"

// The file version words of a file's fixed version information; false with
// both words 0 when the file has none.
bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS);

// "major.minor.build.revision" of the two version words.
CString FormatFileVersion(DWORD dwVersionMS, DWORD dwVersionLS);
