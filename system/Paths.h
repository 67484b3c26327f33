#pragma once
#include "framework/CString.h"

// Paths through the wide calls, sized by asking: under the UTF-8 code page a
// path of few characters may pass MAX_PATH bytes.

// The full path of strPath, relative to the current folder; empty when the
// system cannot make one. pnNameOffset, when given, receives where the last
// element starts (the length of the whole when the path ends in a separator).
CString FullPathName(const CString& strPath, int* pnNameOffset = nullptr);
// The full path with every element in its long form where the file exists.
CString LongFullPath(const CString& strPath);
// The file a loaded module was loaded from (null: the process's own); empty
// when it cannot be told.
CString ModuleFilePath(HMODULE hModule);
// How many characters the system counts in the path.
size_t PathCharacters(const CString& strPath);

// True when both paths name the same file: compared as files when both
// exist (so long and short names, and links, agree), else as full long paths.
bool IsSameFile(const CString& strA, const CString& strB);
